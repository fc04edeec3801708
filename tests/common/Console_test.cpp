#include "common/Console.h"

#include <QtGlobal>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <unistd.h>

namespace {

struct Written {
    std::string out, err;
};

// What one call puts on the two streams' file descriptors; without flushAfter,
// only what the call itself flushed.
Written written(const std::function<void()>& call, bool flushAfter = true)
{
    std::FILE* streams[] = {stdout, stderr};
    std::FILE* files[2] = {};
    int saved[2] = {};
    for (int i = 0; i < 2; ++i) {
        std::fflush(streams[i]);
        files[i] = std::tmpfile();
        saved[i] = dup(fileno(streams[i]));
        dup2(fileno(files[i]), fileno(streams[i]));
    }
    call();
    std::string bytes[2];
    for (int i = 0; i < 2; ++i) {
        if (flushAfter)
            std::fflush(streams[i]);
        std::rewind(files[i]);
        char buffer[256];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, files[i])) > 0)
            bytes[i].append(buffer, n);
    }
    for (int i = 0; i < 2; ++i) {
        std::fflush(streams[i]); // what was held back belongs to the capture file, not the terminal
        dup2(saved[i], fileno(streams[i]));
        close(saved[i]);
        std::fclose(files[i]);
    }
    return {bytes[0], bytes[1]};
}

// Texts a format string would mangle: they must come out as given.
TEST(Console, TextGoesToItsStreamAsGiven)
{
    const struct {
        const char* what;
        std::function<void()> call;
        Written expected;
    } cases[] = {
        {"out QString", [] { Console::out(QString("100% %s %1\n")); }, {"100% %s %1\n", ""}},
        {"out bytes", [] { Console::out("link /tmp/\xe9t\xe9\n"); }, {"link /tmp/\xe9t\xe9\n", ""}},
        {"out without a line break",
         [] { Console::out(QString("\r0:01.000 / 0:02.000")); },
         {"\r0:01.000 / 0:02.000", ""}},
        {"err QString", [] { Console::err(QString("QuvorCheck: 50% %d\n")); }, {"", "QuvorCheck: 50% %d\n"}},
        {"err bytes", [] { Console::err("pipe: \xff\n"); }, {"", "pipe: \xff\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Written w = written(c.call);
        EXPECT_EQ(c.expected.out, w.out);
        EXPECT_EQ(c.expected.err, w.err);
    }
}

// A script waits for "listening on UDP port N" before it sends.
TEST(Console, AFlushedLineIsOutAtOnce)
{
    EXPECT_EQ("listening\n", written([] { Console::out("listening\n", Console::Flush::Now); }, false).out);
}

QtMsgType gType;
QString gText;

TEST(Console, WarningsPassQtsMessageHandler)
{
    gText.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            gType = type;
            gText = text;
        });
    Console::warning("Another program already listens on UDP port 5566; 100% %s");
    qInstallMessageHandler(previous);
    EXPECT_EQ(QtWarningMsg, gType);
    EXPECT_EQ("Another program already listens on UDP port 5566; 100% %s", gText.toStdString());
}

} // namespace
