#include "host/HostCommandLine.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

struct CommandLineCase
{
    QStringList args;
    CommandLineResult result;
    QString port;
    bool autoStart;
    QString errorPart;
};

TEST(HostCommandLine, ParsesOptionsAndRejectsUnknownOnes)
{
    const CommandLineCase cases[] = {
        {{}, CommandLineOk, {}, false, {}},
        {{"--port", "/tmp/quvor-fc"}, CommandLineOk, "/tmp/quvor-fc", false, {}},
        {{"--port=ttyACM0", "--auto-start"}, CommandLineOk, "ttyACM0", true, {}},
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
        if (c.errorPart.isEmpty())
            EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        else
            EXPECT_TRUE(error.contains(c.errorPart)) << error.toStdString();
    }
}

TEST(HostCommandLine, PortNamesMapToDevicePaths)
{
    EXPECT_EQ("/dev/ttyACM0", portDevicePath("ttyACM0"));
    EXPECT_EQ("/tmp/quvor-fc", portDevicePath("/tmp/quvor-fc"));
}

TEST(HostCommandLine, PortCheckExplainsWhatIsWrong)
{
    QString error;
    EXPECT_FALSE(checkPortAccess("/nonexistent/ttyQ9", error));
    EXPECT_TRUE(error.contains("/nonexistent/ttyQ9")) << error.toStdString();
    EXPECT_TRUE(error.contains("No such file")) << error.toStdString();

    QTemporaryDir dir;
    QFile port(dir.filePath("tty"));
    ASSERT_TRUE(port.open(QIODevice::WriteOnly));
    error.clear();
    EXPECT_TRUE(checkPortAccess(port.fileName(), error));
    EXPECT_TRUE(error.isEmpty());
}

} // namespace
