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

TEST(HostCommandLine, PortNamesMapToDevicePaths)
{
    EXPECT_EQ("/dev/ttyACM0", portDevicePath("ttyACM0"));
    EXPECT_EQ("/tmp/quvor-fc", portDevicePath("/tmp/quvor-fc"));
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
