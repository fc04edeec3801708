#include "host/HostCommandLine.h"

#include <gtest/gtest.h>

#include <cerrno>

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

TEST(HostCommandLine, PortErrorsSayWhatToDo)
{
    struct {
        int code;
        const char* part;
    } cases[] = {
        {EACCES, "group dialout"}, {EBUSY, "in use by another program"}, {ENOENT, "No such file or directory"}};
    for (const auto& c : cases) {
        const QString text = portOpenErrorText("ttyACM0", c.code);
        EXPECT_TRUE(text.contains("/dev/ttyACM0")) << text.toStdString();
        EXPECT_TRUE(text.contains(c.part)) << text.toStdString();
    }
}

} // namespace
