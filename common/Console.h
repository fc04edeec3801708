#pragma once

#include <QString>

// The programs' own console lines: help, versions, reports and progress on
// standard output; failures and notices on the error stream. Text goes out as
// given, with no line break added. Standard output keeps its buffer (flushed at
// exit) unless the line must be seen at once, e.g. a progress line a script
// waits for; the error stream writes at once anyway.
//
// Lines from parts that also run inside a window (a listener, a player) are
// warnings instead: they pass Qt's message handler, which tests and Qt's own
// filters see, and by default print the text and a line break on the error
// stream. The link's console logger is separate (link/ConsoleLog.h).
namespace Console {

enum class Flush { Later, Now };

// QString text is written in the locale's encoding; char text byte for byte.
void out(const QString& text, Flush flush = Flush::Later);
void out(const char* text, Flush flush = Flush::Later);
void err(const QString& text);
void err(const char* text);

void warning(const QString& text);

} // namespace Console
