// Tagged, coloured console lines shared by the link and the host.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>

#define QUVOR_PRINTF(fmtIndex, argIndex) __attribute__((format(printf, fmtIndex, argIndex)))

// Levels used by the host: 1 information, 2 warning, 3 error (0..6 have colours).
enum LogLevel { LogPlain = 0, LogInfoLevel = 1, LogWarning = 2, LogError = 3 };

// "[%-8s @ %4d] message" lines, one counter and one lock per logger. The
// process-wide logger writes to stdout; tests build their own on any stream.
class ConsoleLogger {
public:
    explicit ConsoleLogger(FILE* out);
    ConsoleLogger(const ConsoleLogger&) = delete;
    ConsoleLogger& operator=(const ConsoleLogger&) = delete;

    static ConsoleLogger& global();

    // Redirects the lines (a null stream drops them); returns the previous stream.
    FILE* setStream(FILE* out);

    void vlog(int level, const char* tag, const char* format, va_list args);
    // Untagged text (the command writer's and status lines); keeps track of
    // whether the console is left in the middle of a line.
    void vprint(const char* format, va_list args);

    // Colours follow the stream: escapes only when it is a terminal.
    static const char* colourOf(int level);

private:
    std::mutex m_lock;
    FILE* m_out;
    bool m_colour; // decided once per stream: a syscall per line would cost more than the line
    uint32_t m_counter = 0;
    bool m_atLineStart = true;
};

void logMessage(int level, const char* tag, const char* format, ...) QUVOR_PRINTF(3, 4);
void logInfo(const char* tag, const char* format, ...) QUVOR_PRINTF(2, 3);
void logDefault(int level, const char* format, ...) QUVOR_PRINTF(2, 3);
// Plain console output through the logger, so the next tagged line still starts in column 0.
void consolePrint(const char* format, ...) QUVOR_PRINTF(1, 2);
