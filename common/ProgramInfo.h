#pragma once

#include <QString>
#include <QStringList>

// What every Quvor program shares on its command line: the version line, the
// arguments that belong to Qt rather than to the program, and whether a window
// system can be reached before QApplication is built (Qt aborts the process
// when it cannot connect).
namespace ProgramInfo {

// The project's version, e.g. "0.1".
QString version();

// "QuvorReplay (Quvor) 0.1" and a line break: what --version prints.
QString versionText(const QString& program);

// The arguments after the program name, without Qt's own GUI options
// ("-platform offscreen", "-display :1", ...), which QApplication takes itself.
QStringList programArguments(int argc, char** argv);

// A command-line word split as "--name=value": at its first '=', when it starts
// with "--". Any other word ("--name", "-n", "--", a file name) is all name and
// has no value. For QString and std::string alike: the emulator keeps the bytes
// of its arguments as given.
template <class String> struct OptionWord {
    String name;
    String value;
    bool hasValue = false;
};

template <class String> OptionWord<String> splitOption(const String& word)
{
    const int size = int(word.size());
    if (size > 2 && word[0] == '-' && word[1] == '-')
        for (int i = 2; i < size; ++i)
            if (word[i] == '=')
                return {String(word.data(), i), String(word.data() + i + 1, size - i - 1), true};
    return {word, String(), false};
}

// Empty when a window can be shown; otherwise why not, e.g. "no display (DISPLAY
// is not set)". The platform comes from "-platform" in argv, QT_QPA_PLATFORM or
// Qt's default (xcb); an X server is tried once, platforms that need none
// (offscreen, minimal, ...) always pass.
QString displayProblem(int argc, char** argv);

} // namespace ProgramInfo
