// The connection state the host reads, driven by the device I/O's notifications.
#pragma once

#include "link/DevIo.h"
#include "link/Singleton.h"

#include <QObject>

#include <atomic>

class qConnector : public QObject, public zel::DevListener, public SingletonEx<qConnector> {
    Q_OBJECT
public:
    explicit qConnector(QObject* parent = nullptr) : QObject(parent) { }
    ~qConnector() override;

    int32_t onNotify(const DevNotify* notify) override;
    // Written on the GUI thread, read by the command writer thread.
    bool isConnected() const { return m_connected; }

signals:
    void connectionChanged(bool bConnect);
    void dataTransfer(bool bSend);
    void connectFail();
    void deviceAbnormal(int); // part of the connector's interface; nothing raises it yet

private:
    std::atomic<bool> m_connected{false};
};
