#include "link/PortReopener.h"

#include <QTimer>

#include <sys/stat.h>

PortReopener::PortReopener(zel::SimpleDevIo* device, const QString& portName, QObject* parent)
    : QObject(parent),
      m_serial(device),
      m_portName(portName),
      m_timer(new QTimer(this))
{
    m_timer->setInterval(kRetryMs);
    connect(m_timer, &QTimer::timeout, this, &PortReopener::retry);
    m_serial->addListener(this);
}

PortReopener::~PortReopener() { m_serial->removeListener(this); }

int32_t PortReopener::onNotify(const DevNotify* notify)
{
    // Connection changes arrive on the owner's thread; the timer is only
    // touched there.
    if (notify->type == DevDisconnected)
        QMetaObject::invokeMethod(this, [this] {
            if (!m_serial->isOpen())
                m_timer->start();
        });
    else if (notify->type == DevConnected)
        // The link as it was when the port opened: a new device may replace
        // it before the removal of the old one has even been handled.
        QMetaObject::invokeMethod(this, [this] {
            m_connectedLink = linkId();
            m_timer->stop();
        });
    return 0;
}

bool PortReopener::retrying() const { return m_timer->isActive(); }

PortReopener::LinkId PortReopener::linkId() const
{
    LinkId id;
    struct stat st { };
    const std::string path = zel::SimpleDevIo::devicePath(m_portName.toStdString());
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        id.isLink = true;
        id.device = st.st_dev;
        id.inode = st.st_ino;
        id.changedSec = st.st_ctim.tv_sec;
        id.changedNsec = st.st_ctim.tv_nsec;
    }
    return id;
}

void PortReopener::retry()
{
    if (m_serial->isOpen()) {
        m_timer->stop();
        return;
    }
    const LinkId now = linkId();
    if (now.isLink && now == m_connectedLink)
        return;
    // Opening raises the connection, which stops the timer; a failure stays
    // quiet until the port is back.
    if (m_serial->tryArrival(m_portName))
        m_timer->stop();
}
