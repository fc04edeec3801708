#include "tests/link/LogCapture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <cstdarg>

namespace {

void log(ConsoleLogger& logger, int level, const char* tag, const char* fmt, ...) QUVOR_PRINTF(4, 5);
void log(ConsoleLogger& logger, int level, const char* tag, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    logger.vlog(level, tag, fmt, args);
    va_end(args);
}

void print(ConsoleLogger& logger, const char* fmt, ...) QUVOR_PRINTF(2, 3);
void print(ConsoleLogger& logger, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    logger.vprint(fmt, args);
    va_end(args);
}

struct FileLogger {
    FILE* file = tmpfile();
    ConsoleLogger logger{file};
    ~FileLogger() { fclose(file); }
    std::string text() const { return LogCapture::readAll(file); }
};

} // namespace

TEST(ConsoleLogger, LinesArePrefixedCountedAndPadded)
{
    FileLogger f;
    log(f.logger, 3, "Device", "Write Timeout !");
    log(f.logger, 3, "Cmd Parse", "Data size invalid [index = 0x%.4X],please update cmd table!", 0x12);
    log(f.logger, 1, nullptr, "null tag");
    log(f.logger, 2, "", "empty tag %d%%", 5);
    log(f.logger, 9, "DevIo", "level out of range");
    EXPECT_EQ(f.text(),
              "[Device   @    0] Write Timeout !\n"
              "[Cmd Parse @    1] Data size invalid [index = 0x0012],please update cmd table!\n"
              "[default  @    2] null tag\n"
              "[default  @    3] empty tag 5%\n"
              "[DevIo    @    4] level out of range\n");
}

TEST(ConsoleLogger, TaggedLineAfterUnterminatedOutputStartsOnNewLine)
{
    FileLogger f;
    print(f.logger, "Device Status, Sender[type=0x%.2X id=0x%.2X],   ", 3, 0);
    log(f.logger, 1, "Cmd", "after partial");
    print(f.logger, "Command write thread started\n");
    log(f.logger, 1, "Cmd", "after full line");
    print(f.logger, "%s", ""); // empty output changes nothing
    log(f.logger, 1, "Cmd", "again");
    EXPECT_EQ(f.text(),
              "Device Status, Sender[type=0x03 id=0x00],   \n"
              "[Cmd      @    0] after partial\n"
              "Command write thread started\n"
              "[Cmd      @    1] after full line\n"
              "[Cmd      @    2] again\n");
}

TEST(ConsoleLogger, TerminalGetsLevelColoursAndReset)
{
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw); // no CR insertion, bytes arrive as written
    tcsetattr(slave, TCSANOW, &raw);
    FILE* tty = fdopen(slave, "w");
    ASSERT_NE(tty, nullptr);
    {
        ConsoleLogger logger(tty);
        log(logger, 3, "Device", "red");
        log(logger, 7, "X", "grey");
        log(logger, 0, "X", "grey too");
        log(logger, 6, "X", "cyan");
    }
    fclose(tty);
    std::string got;
    char buf[512];
    ssize_t n;
    while ((n = read(master, buf, sizeof buf)) > 0) // EIO once the slave side is closed and drained
        got.append(buf, size_t(n));
    close(master);
    EXPECT_EQ(got,
              "\033[1;31m[Device   @    0] red\033[0m\n"
              "\033[0;37m[X        @    1] grey\033[0m\n"
              "\033[0;37m[X        @    2] grey too\033[0m\n"
              "\033[1;36m[X        @    3] cyan\033[0m\n");
}

TEST(ConsoleLogger, FreeFunctionsUseTheProcessLogger)
{
    LogCapture capture;
    logInfo("DevIo", "Device Connected : %s", "ttyACM0");
    logDefault(2, "%s", "from the host");
    consolePrint("thread stopped");
    logMessage(3, "Decoder", "Checksum Error!");
    const std::string text = capture.text();
    // The process counter depends on what ran before; compare without it.
    std::string masked = text;
    for (size_t at = masked.find(" @ "); at != std::string::npos; at = masked.find(" @ ", at + 1))
        masked.replace(at + 3, 4, "NNNN");
    EXPECT_EQ(masked,
              "[DevIo    @ NNNN] Device Connected : ttyACM0\n"
              "[default  @ NNNN] from the host\n"
              "thread stopped\n"
              "[Decoder  @ NNNN] Checksum Error!\n");
}
