// Brings a fixed port back after it was removed: a device re-created under the
// same path (a pseudo-terminal link, an adapter plugged in again) reconnects.
#pragma once

#include "link/DevIo.h"

#include <QObject>
#include <QString>

class QTimer;

class PortReopener : public QObject, public zel::DevListener
{
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

    zel::SimpleDevIo* m_serial;
    QString m_portName;
    QTimer* m_timer;
};
