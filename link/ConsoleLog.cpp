#include "link/ConsoleLog.h"

#include <unistd.h>

#include <vector>

namespace {
// By level: grey, then bright green, yellow, red, magenta, blue and cyan.
const char* const kColours[] = {
    "\033[0;37m", "\033[1;32m", "\033[1;33m", "\033[1;31m", "\033[1;35m", "\033[1;34m", "\033[1;36m",
};
const char kReset[] = "\033[0m";

// Formats into a string so the line-start state can be judged from the text.
std::vector<char> format(const char* fmt, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int n = vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::vector<char> text(n > 0 ? size_t(n) + 1 : 1, '\0');
    if (n > 0)
        vsnprintf(text.data(), text.size(), fmt, args);
    return text;
}
} // namespace

namespace {
bool isTerminal(FILE* out) { return out && isatty(fileno(out)) == 1; }
} // namespace

ConsoleLogger::ConsoleLogger(FILE* out) : m_out(out), m_colour(isTerminal(out)) { }

const char* ConsoleLogger::colourOf(int level) { return (level >= 0 && level <= 6) ? kColours[level] : kColours[0]; }

ConsoleLogger& ConsoleLogger::global()
{
    // Never destroyed: listener threads and static device objects may still log at exit.
    static ConsoleLogger* logger = new ConsoleLogger(stdout);
    return *logger;
}

FILE* ConsoleLogger::setStream(FILE* out)
{
    std::lock_guard<std::mutex> lock(m_lock);
    FILE* previous = m_out;
    m_out = out;
    m_colour = isTerminal(out);
    m_atLineStart = true;
    return previous;
}

void ConsoleLogger::vlog(int level, const char* tag, const char* fmt, va_list args)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_out)
        return;
    const bool colour = m_colour;
    if (!m_atLineStart)
        fputc('\n', m_out);
    if (colour)
        fputs(colourOf(level), m_out);
    fprintf(m_out, "[%-8s @ %4u] ", (tag && *tag) ? tag : "default", m_counter++);
    const std::vector<char> text = format(fmt, args);
    fputs(text.data(), m_out);
    if (colour)
        fputs(kReset, m_out);
    fputc('\n', m_out);
    fflush(m_out);
    m_atLineStart = true;
}

void ConsoleLogger::vprint(const char* fmt, va_list args)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_out)
        return;
    const std::vector<char> text = format(fmt, args);
    const size_t n = text.size() - 1;
    if (n == 0)
        return;
    fwrite(text.data(), 1, n, m_out);
    fflush(m_out);
    m_atLineStart = text[n - 1] == '\n';
}

void logMessage(int level, const char* tag, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    ConsoleLogger::global().vlog(level, tag, fmt, args);
    va_end(args);
}

void logInfo(const char* tag, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    ConsoleLogger::global().vlog(LogInfoLevel, tag, fmt, args);
    va_end(args);
}

void logDefault(int level, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    ConsoleLogger::global().vlog(level, nullptr, fmt, args);
    va_end(args);
}

void consolePrint(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    ConsoleLogger::global().vprint(fmt, args);
    va_end(args);
}
