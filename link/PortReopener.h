// Brings a fixed port back after it was removed: a device re-created under the
// same path (a pseudo-terminal link, an adapter plugged in again) reconnects.
// A symbolic link is followed again only once it has been replaced: the one
// left behind by a dead emulator may point at a terminal number that some
// other program's terminal has taken since.
#pragma once

#include "link/DevIo.h"

#include <QObject>
#include <QString>

class QTimer;

class PortReopener : public QObject, public zel::DevListener {
    Q_OBJECT
public:
    static constexpr int kRetryMs = 500;

    // Registers itself with the device.
    PortReopener(zel::SimpleDevIo* device, const QString& portName, QObject* parent = nullptr);
    ~PortReopener() override;

    // Removal starts the retries, any connection ends them.
    int32_t onNotify(const DevNotify* notify) override;
    bool retrying() const;

private:
    void retry();

    struct LinkId {
        bool isLink = false;
        unsigned long long device = 0, inode = 0;
        long long changedSec = 0, changedNsec = 0;
        bool operator==(const LinkId& o) const
        {
            return isLink == o.isLink && device == o.device && inode == o.inode && changedSec == o.changedSec &&
                changedNsec == o.changedNsec;
        }
    };
    LinkId linkId() const;

    zel::SimpleDevIo* m_serial;
    QString m_portName;
    QTimer* m_timer;
    LinkId m_connectedLink; // the link the last connection was made through
};
