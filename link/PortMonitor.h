// Serial port discovery (libudev) and the aircraft port filter.
#pragma once

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QString>

struct udev;
struct udev_device;
struct udev_monitor;
class QSocketNotifier;

struct QextPortInfo {
    QString portName; // "ttyACM0"
    QString physName; // "/dev/ttyACM0"
    QString friendName; // USB product text, when there is one
    QString enumName; // sysfs path
    int vendorID = 0;
    int productID = 0;
};
Q_DECLARE_METATYPE(QextPortInfo)

// Reports serial ports as they appear and disappear. Only ports on a USB
// device are reported unless the enumerator is told to include every tty
// that sits on hardware (on-board UARTs too).
class QextSerialEnumerator : public QObject {
    Q_OBJECT
public:
    enum class Scope { UsbPorts, AllHardwarePorts };

    explicit QextSerialEnumerator(QObject* parent = nullptr, Scope scope = Scope::UsbPorts);
    ~QextSerialEnumerator() override;

    QList<QextPortInfo> getPorts() const;
    // Starts watching udev and then reports every port present now as discovered.
    // Without a udev monitor (no netlink access) only the present ports are reported.
    void setUpNotifications();
    bool monitoring() const { return m_monitor != nullptr; }

signals:
    void deviceDiscovered(const QextPortInfo& info);
    void deviceRemoved(const QextPortInfo& info);

private slots:
    void onUdevEvent();

private:
    bool describe(udev_device* device, QextPortInfo* info) const;

    Scope m_scope;
    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    QSocketNotifier* m_notifier = nullptr;
    QMap<QString, QextPortInfo> m_reported; // by sysfs path: removals carry no USB ids
};

// Passes the aircraft's port (by USB vendor and product id) on to the device I/O.
class DevMonitor : public QObject {
    Q_OBJECT
public:
    static constexpr int kVendorId = 0xFFF0;
    static constexpr int kProductId = 0x0008;

    explicit DevMonitor(QObject* parent = nullptr);
    ~DevMonitor() override;

    void startMonitoring();
    QextSerialEnumerator* enumerator() const { return m_enumerator; }
    static bool isAircraftPort(const QextPortInfo& info);
    QString portName() const { return m_portName; }
    bool connected() const { return m_connected; }

signals:
    void SignalDeviceArrival(QString devname);
    void SignalDeviceRemoveComplete(QString devname);

public slots:
    void OnDeviceDiscovered(QextPortInfo info);
    void OnDeviceRemoved(QextPortInfo info);
    void onConnectionChanged(bool bConnected);

private:
    QextSerialEnumerator* m_enumerator;
    bool m_connected = false;
    QString m_portName;
};
