#include "tests/link/LinkTestSupport.h"
#include "tests/link/LogCapture.h"
#include "link/CmdManager.h"
#include "link/Connector.h"
#include "link/PortMonitor.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSignalSpy>

using namespace linktest;

namespace {

QextPortInfo port(const QString& name, int vendor, int product)
{
    QextPortInfo info;
    info.portName = name;
    info.physName = "/dev/" + name;
    info.vendorID = vendor;
    info.productID = product;
    return info;
}

QextPortInfo aircraft(const QString& name) { return port(name, 0xFFF0, 0x0008); }

QStringList names(const QList<QextPortInfo>& ports)
{
    QStringList out;
    for (const QextPortInfo& p : ports)
        out << p.portName;
    out.sort();
    return out;
}

} // namespace

TEST(DevMonitor, PassesOnlyTheAircraftPort)
{
    app();
    DevMonitor monitor;
    QSignalSpy arrivals(&monitor, &DevMonitor::SignalDeviceArrival);
    QSignalSpy removals(&monitor, &DevMonitor::SignalDeviceRemoveComplete);
    LogCapture log;
    QextSerialEnumerator* e = monitor.enumerator();

    emit e->deviceDiscovered(port("ttyUSB0", 0x0403, 0x6001)); // another adapter
    emit e->deviceDiscovered(port("ttyACM1", 0xFFF0, 0x0009));
    emit e->deviceDiscovered(port("ttyACM2", 0x1234, 0x0008));
    emit e->deviceDiscovered(aircraft(""));
    EXPECT_EQ(arrivals.count(), 0);
    EXPECT_TRUE(monitor.portName().isEmpty());

    emit e->deviceDiscovered(aircraft("ttyACM0"));
    ASSERT_EQ(arrivals.count(), 1);
    EXPECT_EQ(arrivals.at(0).at(0).toString(), "ttyACM0");
    EXPECT_EQ(monitor.portName(), "ttyACM0");

    emit e->deviceRemoved(port("ttyUSB0", 0x0403, 0x6001));
    EXPECT_EQ(removals.count(), 0);
    emit e->deviceRemoved(aircraft("ttyACM5")); // names are not compared
    ASSERT_EQ(removals.count(), 1);
    EXPECT_EQ(removals.at(0).at(0).toString(), "ttyACM5");
    EXPECT_TRUE(monitor.portName().isEmpty());

    monitor.onConnectionChanged(true);
    emit e->deviceDiscovered(aircraft("ttyACM0"));
    EXPECT_EQ(arrivals.count(), 1);
    EXPECT_EQ(log.text(), "");
}

TEST(QextSerialEnumerator, ReportsPresentPortsWhenNotificationsStart)
{
    app();
    // Every tty that sits on hardware, read from sysfs independently of libudev.
    QStringList expected;
    for (const QFileInfo& entry :
         QDir("/sys/class/tty").entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System))
        if (QFileInfo::exists(entry.absoluteFilePath() + "/device") && QFileInfo::exists("/dev/" + entry.fileName()))
            expected << entry.fileName();
    expected.sort();

    QextSerialEnumerator all(nullptr, QextSerialEnumerator::Scope::AllHardwarePorts);
    QSignalSpy discovered(&all, &QextSerialEnumerator::deviceDiscovered);
    EXPECT_EQ(names(all.getPorts()), expected);
    all.setUpNotifications();
    QStringList reported;
    for (const QList<QVariant>& args : discovered)
        reported << args.at(0).value<QextPortInfo>().portName;
    reported.sort();
    EXPECT_EQ(reported, expected);
    for (const QextPortInfo& p : all.getPorts())
        EXPECT_EQ(p.physName, "/dev/" + p.portName);
    all.setUpNotifications(); // already reported: not again
    EXPECT_EQ(discovered.count(), expected.size());

    // USB ports are a subset, each with its USB ancestry in sysfs.
    QextSerialEnumerator usb;
    const QList<QextPortInfo> usbPorts = usb.getPorts();
    for (const QextPortInfo& p : usbPorts) {
        EXPECT_TRUE(expected.contains(p.portName)) << p.portName.toStdString();
        EXPECT_TRUE(QFileInfo(p.enumName).canonicalFilePath().contains("/usb")) << p.enumName.toStdString();
    }
}

// The host's wiring, with port records injected where the USB device would be.
TEST(DevMonitor, InjectedPortsDriveTheConnectionState)
{
    app();
    PtyPair pty;
    zel::SimpleDevIo device;
    zel::DevIo::setCurrent(&device);
    {
        qConnector connector;
        qCmdManager manager;
        device.addListener(&connector);
        device.addListener(&manager);
        DevMonitor monitor;
        ASSERT_TRUE(QObject::connect(&monitor, SIGNAL(SignalDeviceArrival(const QString&)), &device,
                                     SLOT(_fireDeviceArrival(const QString&))));
        ASSERT_TRUE(QObject::connect(&monitor, SIGNAL(SignalDeviceRemoveComplete(const QString&)), &device,
                                     SLOT(_fireDeviceRemoveComplete(const QString&))));
        QSignalSpy changes(&connector, &qConnector::connectionChanged);
        QextSerialEnumerator* e = monitor.enumerator();
        const QString path = QString::fromStdString(pty.slavePath);

        emit e->deviceDiscovered(port(path, 0x0403, 0x6001));
        EXPECT_FALSE(device.isOpen());
        EXPECT_FALSE(connector.isConnected());

        emit e->deviceDiscovered(aircraft(path));
        EXPECT_TRUE(device.isOpen());
        EXPECT_TRUE(connector.isConnected());
        EXPECT_EQ(pty.receive(14), buildPackage(0, 12, Bytes{0}.data(), 1, 3, 0, 0));

        emit e->deviceDiscovered(aircraft(path)); // twice without removal: reopened, one change
        EXPECT_EQ(pty.receive(14).size(), 14u);
        EXPECT_EQ(changes.count(), 1);

        emit e->deviceRemoved(aircraft("ttyACM0"));
        EXPECT_FALSE(device.isOpen());
        EXPECT_FALSE(connector.isConnected());
        ASSERT_EQ(changes.count(), 2);
        EXPECT_FALSE(changes.at(1).at(0).toBool());
    }
    zel::DevIo::setCurrent(nullptr);
}
