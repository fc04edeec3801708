#include "host/HostCommandLine.h"
#include "link/PortDiagnosis.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <grp.h>
#include <pty.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct CommandLineCase {
    QStringList args;
    CommandLineResult result;
    QString port;
    bool autoStart;
    QString errorPart;
    bool noAutoUi = false;
};

TEST(HostCommandLine, ParsesOptionsAndRejectsUnknownOnes)
{
    const CommandLineCase cases[] = {
        {{}, CommandLineOk, {}, false, {}},
        {{"--port", "/tmp/quvor-fc"}, CommandLineOk, "/tmp/quvor-fc", false, {}},
        {{"--port=ttyACM0", "--auto-start"}, CommandLineOk, "ttyACM0", true, {}},
        {{"--no-auto-ui", "--port", "/dev/pts/3"}, CommandLineOk, "/dev/pts/3", false, {}, true},
        {{"--auto-start", "--help"}, CommandLineHelp, {}, true, {}},
        {{"--version"}, CommandLineVersion, {}, false, {}},
        {{"--version=1"}, CommandLineError, {}, false, "unknown option '--version=1'"},
        {{"-h"}, CommandLineHelp, {}, false, {}},
        {{"--port"}, CommandLineError, {}, false, "--port needs"},
        {{"--port="}, CommandLineError, {}, false, "--port needs"},
        {{"--verbose"}, CommandLineError, {}, false, "unknown option '--verbose'"},
        {{"ttyACM0"}, CommandLineError, {}, false, "unknown option 'ttyACM0'"},
    };
    for (const CommandLineCase& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        HostOptions options;
        QString error;
        EXPECT_EQ(c.result, parseHostCommandLine(QStringList{"QuvorSimulator"} + c.args, options, error));
        EXPECT_EQ(c.port, options.port);
        EXPECT_EQ(c.autoStart, options.autoStart);
        EXPECT_EQ(c.noAutoUi, options.noAutoUi);
        if (c.errorPart.isEmpty())
            EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        else
            EXPECT_TRUE(error.contains(c.errorPart)) << error.toStdString();
    }
}

TEST(HostCommandLine, UdpDestinationsAreRepeatableAndCheckedAtOnce)
{
    const struct {
        QStringList args;
        QStringList destinations; // "address:port" in order; empty with an error
        const char* errorPart;
    } cases[] = {
        {{"--udp-to", "192.168.1.20"}, {"192.168.1.20:5566"}, nullptr},
        {{"--udp-to", "10.0.0.2:6000", "--udp-to=127.0.0.1:5567"}, {"10.0.0.2:6000", "127.0.0.1:5567"}, nullptr},
        {{"--udp-to"}, {}, "--udp-to needs HOST[:PORT]"},
        {{"--udp-to", "10.0.0.2:0"}, {}, "--udp-to: '10.0.0.2:0' needs a port from 1 to 65535"},
        {{"--udp-to="}, {}, "--udp-to: '' names no host"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        HostOptions options;
        QString error;
        const CommandLineResult result = parseHostCommandLine(QStringList{"QuvorSimulator"} + c.args, options, error);
        QStringList got;
        for (const UdpDestination& d : options.udpTo)
            got << d.text();
        if (c.errorPart) {
            EXPECT_EQ(result, CommandLineError);
            EXPECT_TRUE(error.contains(c.errorPart)) << error.toStdString();
        } else {
            EXPECT_EQ(result, CommandLineOk) << error.toStdString();
            EXPECT_EQ(got, c.destinations);
        }
    }
    EXPECT_TRUE(hostUsage().contains("--udp-to HOST[:PORT]"));
}

TEST(HostCommandLine, PortNamesMapToDevicePaths)
{
    EXPECT_EQ("/dev/ttyACM0", portDevicePath("ttyACM0"));
    EXPECT_EQ("/tmp/quvor-fc", portDevicePath("/tmp/quvor-fc"));
    EXPECT_EQ("./fcRel", portDevicePath("./fcRel"));
    EXPECT_EQ("rig/fc", portDevicePath("rig/fc"));
}

// Real files and a real pseudo-terminal: the text comes from the device's own owner, group and mode.
TEST(HostCommandLine, PortErrorsSayWhatToDo)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString dialoutFile = dir.filePath("dialout-port");
    const QString privateFile = dir.filePath("private-port");
    for (const QString& path : {dialoutFile, privateFile}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_EQ(0, chmod(QFile::encodeName(privateFile).constData(), 0600));
    const group* dialout = getgrnam("dialout");
    const bool haveDialout =
        dialout && chown(QFile::encodeName(dialoutFile).constData(), geteuid(), dialout->gr_gid) == 0;
    const passwd* me = getpwuid(geteuid());
    const group* myGroup = getgrgid(getegid());
    ASSERT_TRUE(me && myGroup);
    const QString owner = QString("user %1, group %2").arg(me->pw_name, myGroup->gr_name);

    int master = -1, slave = -1;
    char ptyName[64] = {};
    ASSERT_EQ(0, openpty(&master, &slave, ptyName, nullptr, nullptr));
    struct Closer {
        int a, b;
        ~Closer()
        {
            ::close(a);
            ::close(b);
        }
    } closer{master, slave};

    struct {
        QString port;
        int code;
        QStringList parts;
        QStringList absent;
        bool run = true;
    } cases[] = {
        {dialoutFile, EACCES, {"no permission", "group dialout", "usermod -aG dialout"}, {}, haveDialout},
        {privateFile, EACCES, {"no permission", owner + ", mode -rw-------"}, {"dialout"}},
        {QString::fromLocal8Bit(ptyName), EACCES, {"no permission", ", mode c"}, {}},
        {dir.filePath("gone"), ENOENT, {"No such file or directory", "erial port"}, {}},
        {"ttyACM0", EBUSY, {"/dev/ttyACM0", "in use by another program"}, {}},
    };
    for (const auto& c : cases) {
        if (!c.run)
            continue;
        const QString text = portOpenErrorText(c.port, c.code);
        SCOPED_TRACE(text.toStdString());
        EXPECT_TRUE(text.contains(portDevicePath(c.port)));
        for (const QString& part : c.parts)
            EXPECT_TRUE(text.contains(part)) << part.toStdString();
        for (const QString& part : c.absent)
            EXPECT_FALSE(text.contains(part)) << part.toStdString();
    }
}

// The list comes from udev and names each port by its device path.
TEST(HostCommandLine, MissingPortListsThePortsThatExist)
{
    const QStringList ports = PortDiagnosis::existingPorts();
    const QString text = PortDiagnosis::existingPortsText();
    if (ports.isEmpty()) {
        EXPECT_EQ("There is no serial port on this machine.", text);
        return;
    }
    for (const QString& port : ports) {
        EXPECT_TRUE(port.startsWith("/dev/")) << port.toStdString();
        EXPECT_TRUE(QFileInfo::exists(port.section(' ', 0, 0))) << port.toStdString();
        EXPECT_TRUE(text.contains(port));
    }
}

} // namespace
