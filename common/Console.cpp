#include "common/Console.h"

#include <cstdio>

namespace Console {

void out(const char* text, Flush flush)
{
    std::fputs(text, stdout);
    if (flush == Flush::Now)
        std::fflush(stdout);
}

void out(const QString& text, Flush flush) { out(text.toLocal8Bit().constData(), flush); }

void err(const char* text) { std::fputs(text, stderr); }

void err(const QString& text) { err(text.toLocal8Bit().constData()); }

void warning(const QString& text) { qWarning("%s", qPrintable(text)); }

} // namespace Console
