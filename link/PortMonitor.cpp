#include "link/PortMonitor.h"

#include "link/ConsoleLog.h"

#include <QSocketNotifier>

#include <libudev.h>

#include <cstring>

namespace {

// udev puts the ids on the tty itself; without a udev daemon only sysfs has them.
int usbId(udev_device* tty, udev_device* usb, const char* property, const char* attribute)
{
    const char* text = udev_device_get_property_value(tty, property);
    if (!text)
        text = udev_device_get_property_value(usb, property);
    if (!text)
        text = udev_device_get_sysattr_value(usb, attribute);
    return text ? int(strtol(text, nullptr, 16)) : 0;
}

} // namespace

QextSerialEnumerator::QextSerialEnumerator(QObject* parent, Scope scope)
    : QObject(parent),
      m_scope(scope),
      m_udev(udev_new())
{
    qRegisterMetaType<QextPortInfo>("QextPortInfo");
}

QextSerialEnumerator::~QextSerialEnumerator()
{
    delete m_notifier;
    if (m_monitor)
        udev_monitor_unref(m_monitor);
    if (m_udev)
        udev_unref(m_udev);
}

bool QextSerialEnumerator::describe(udev_device* device, QextPortInfo* info) const
{
    const char* node = udev_device_get_devnode(device);
    const char* name = udev_device_get_sysname(device);
    if (!node || !name)
        return false;
    // Virtual consoles and pseudo-terminals have no parent device.
    udev_device* hardware = udev_device_get_parent(device);
    if (!hardware)
        return false;
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
    if (!usb && m_scope == Scope::UsbPorts)
        return false;
    info->portName = QString::fromLocal8Bit(name);
    info->physName = QString::fromLocal8Bit(node);
    info->enumName = QString::fromLocal8Bit(udev_device_get_syspath(device));
    if (usb) {
        info->vendorID = usbId(device, usb, "ID_VENDOR_ID", "idVendor");
        info->productID = usbId(device, usb, "ID_MODEL_ID", "idProduct");
        const char* product = udev_device_get_property_value(usb, "ID_MODEL");
        if (!product)
            product = udev_device_get_sysattr_value(usb, "product");
        if (product)
            info->friendName = QString::fromLocal8Bit(product);
    }
    return true;
}

QList<QextPortInfo> QextSerialEnumerator::getPorts() const
{
    QList<QextPortInfo> ports;
    if (!m_udev)
        return ports;
    udev_enumerate* enumerate = udev_enumerate_new(m_udev);
    udev_enumerate_add_match_subsystem(enumerate, "tty");
    udev_enumerate_scan_devices(enumerate);
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate))
    {
        udev_device* device = udev_device_new_from_syspath(m_udev, udev_list_entry_get_name(entry));
        QextPortInfo info;
        if (device && describe(device, &info))
            ports.append(info);
        if (device)
            udev_device_unref(device);
    }
    udev_enumerate_unref(enumerate);
    return ports;
}

void QextSerialEnumerator::setUpNotifications()
{
    if (!m_udev) {
        logMessage(LogError, "Device", "udev is not available: serial ports cannot be discovered");
        return;
    }
    if (!m_monitor) {
        m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
        if (m_monitor && udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "tty", nullptr) >= 0 &&
            udev_monitor_enable_receiving(m_monitor) >= 0) {
            m_notifier = new QSocketNotifier(udev_monitor_get_fd(m_monitor), QSocketNotifier::Read, this);
            connect(m_notifier, &QSocketNotifier::activated, this, &QextSerialEnumerator::onUdevEvent);
        } else {
            logMessage(LogWarning, "Device", "udev monitor unavailable: ports plugged in later are not seen");
            if (m_monitor)
                udev_monitor_unref(m_monitor);
            m_monitor = nullptr;
        }
    }
    // Watching first, then listing, so a port plugged in meanwhile is not missed.
    for (const QextPortInfo& info : getPorts()) {
        if (m_reported.contains(info.enumName))
            continue;
        m_reported.insert(info.enumName, info);
        emit deviceDiscovered(info);
    }
}

void QextSerialEnumerator::onUdevEvent()
{
    udev_device* device = udev_monitor_receive_device(m_monitor);
    if (!device)
        return;
    const char* action = udev_device_get_action(device);
    const QString path = QString::fromLocal8Bit(udev_device_get_syspath(device));
    if (action && strcmp(action, "add") == 0) {
        QextPortInfo info;
        if (!m_reported.contains(path) && describe(device, &info)) {
            m_reported.insert(path, info);
            emit deviceDiscovered(info);
        }
    } else if (action && strcmp(action, "remove") == 0) {
        const auto it = m_reported.find(path);
        if (it != m_reported.end()) {
            const QextPortInfo info = it.value();
            m_reported.erase(it);
            emit deviceRemoved(info);
        }
    }
    udev_device_unref(device);
}

DevMonitor::DevMonitor(QObject* parent) : QObject(parent), m_enumerator(new QextSerialEnumerator(nullptr))
{
    connect(m_enumerator, &QextSerialEnumerator::deviceDiscovered, this, &DevMonitor::OnDeviceDiscovered);
    connect(m_enumerator, &QextSerialEnumerator::deviceRemoved, this, &DevMonitor::OnDeviceRemoved);
}

DevMonitor::~DevMonitor() { delete m_enumerator; }

void DevMonitor::startMonitoring() { m_enumerator->setUpNotifications(); }

bool DevMonitor::isAircraftPort(const QextPortInfo& info)
{
    return info.productID == kProductId && info.vendorID == kVendorId;
}

void DevMonitor::OnDeviceDiscovered(QextPortInfo info)
{
    if (!isAircraftPort(info) || m_connected || info.portName.isEmpty())
        return;
    m_portName = info.portName;
    emit SignalDeviceArrival(info.portName);
}

void DevMonitor::OnDeviceRemoved(QextPortInfo info)
{
    if (!isAircraftPort(info))
        return;
    m_portName.clear();
    emit SignalDeviceRemoveComplete(info.portName);
}

void DevMonitor::onConnectionChanged(bool bConnected) { m_connected = bConnected; }
