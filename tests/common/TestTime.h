// Deadlines of the waiting helpers. The sanitizer builds run the same tests
// several times slower, so ./quvor test stretches the deadlines there instead
// of letting a slow but correct run fail; a passing wait still ends at its event.
#pragma once

#include <cstdlib>

inline int scaledTimeout(int timeoutMs)
{
    static const double scale = [] {
        const char* text = std::getenv("QUVOR_TEST_TIME_SCALE");
        const double value = text ? std::atof(text) : 1.0;
        return value >= 1.0 && value <= 100.0 ? value : 1.0;
    }();
    return int(timeoutMs * scale);
}
