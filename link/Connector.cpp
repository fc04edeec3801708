#include "link/Connector.h"

#include "link/CmdManager.h"

qConnector::~qConnector() { device()->removeListener(this); }

int32_t qConnector::onNotify(const DevNotify* notify)
{
    switch (notify->type) {
    case DevPackageReceived: emit dataTransfer(false); break;
    case DevConnected:
        if (qCmdManager* manager = qCmdManager::instance())
            manager->queryDeviceStatus(kFlightControllerType, 0);
        if (!m_connected.exchange(true))
            emit connectionChanged(true);
        break;
    case DevDisconnected:
        emit connectionChanged(false);
        m_connected = false;
        break;
    case DevDataWritten: emit dataTransfer(true); break;
    case DevConnectFailed:
        m_connected = false;
        emit connectFail();
        break;
    default: break;
    }
    return 0;
}
