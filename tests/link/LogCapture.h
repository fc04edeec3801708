// Collects the process-wide console log lines in a temporary file.
#pragma once

#include "link/ConsoleLog.h"

#include <cstdio>
#include <string>

class LogCapture {
public:
    LogCapture() : m_file(tmpfile()) { m_previous = ConsoleLogger::global().setStream(m_file); }
    ~LogCapture()
    {
        ConsoleLogger::global().setStream(m_previous);
        fclose(m_file);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() const { return readAll(m_file); }

    static std::string readAll(FILE* file)
    {
        fflush(file);
        std::string out;
        char buf[4096];
        rewind(file);
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, file)) > 0)
            out.append(buf, n);
        fseek(file, 0, SEEK_END);
        return out;
    }

private:
    FILE* m_file;
    FILE* m_previous;
};
