// One log window: a top-level text view that can also append its lines to a file.
//
// Every operation may be called from any thread. The work is queued and run on
// the application's GUI thread in the order the calls were made (across all
// windows and threads); a call made on the GUI thread first runs everything
// queued before it, so its effect is visible when it returns.
//
// Lines that wait for the GUI thread are bounded: beyond kMaxPendingLines the
// oldest waiting line is dropped, and once the waiting work has run out each
// window that lost lines shows "N log lines dropped". The GUI thread runs
// waiting work in short slices between its other events.
//
// Texts are zero-terminated UTF-16. Operations return false for a null text or
// when no QApplication exists (the window then does nothing at all).
#pragma once

#include <cstddef>
#include <memory>

class LogClass {
public:
    // text: the window's initial title.
    explicit LogClass(const char16_t* text);
    ~LogClass();
    LogClass(const LogClass&) = delete;
    LogClass& operator=(const LogClass&) = delete;

    bool SetWindowTitle(const char16_t* title);
    // Name under which the window geometry is stored; a stored geometry is
    // restored at once.
    bool SetWindowPosFileName(const char16_t* name);
    // File that Save2File appends to (UTF-8, "\n" after each line).
    bool SetLogPath(const char16_t* path);
    // The path of the last SetLogPath call (empty before one). The text stays
    // valid until the calling thread calls GetCurDir again.
    const char16_t* GetCurDir();
    bool Save2File(bool save);
    bool SetFontSize(int pointSize);
    // A disabled window is greyed out and drops the lines it is given: they
    // are neither shown nor saved.
    bool SetEnabled(bool enabled);
    bool Show(bool show);
    bool Append(const char16_t* line);
    // Empties the view; files are left alone.
    bool ClearAll();

    // Lines of all windows that may wait for the GUI thread at one time.
    static constexpr int kMaxPendingLines = 5000;
    // Operations of all windows waiting for the GUI thread.
    static size_t pendingOperations();

    struct Core;

private:
    std::shared_ptr<Core> d;
};
