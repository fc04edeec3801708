#include "common/ProgramInfo.h"
#include "common/WindowPair.h"

#include <QByteArray>
#include <QVector>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// argv as main gets it, from a list.
struct Argv {
    explicit Argv(const QStringList& args)
    {
        for (const QString& a : QStringList("prog") + args)
            storage.append(a.toLocal8Bit());
        for (QByteArray& s : storage)
            pointers.append(s.data());
        pointers.append(nullptr);
    }
    int argc() const { return int(storage.size()); }
    char** argv() { return pointers.data(); }
    QVector<QByteArray> storage;
    QVector<char*> pointers;
};

// Sets or clears environment variables for one case and restores them after.
class Env {
public:
    Env(std::initializer_list<std::pair<const char*, const char*>> values)
    {
        for (const auto& v : values) {
            saved.append({v.first, qgetenv(v.first), qEnvironmentVariableIsSet(v.first)});
            if (v.second)
                qputenv(v.first, v.second);
            else
                qunsetenv(v.first);
        }
    }
    ~Env()
    {
        for (const auto& s : saved)
            s.wasSet ? qputenv(s.name, s.value) : qunsetenv(s.name);
    }

private:
    struct Saved {
        const char* name;
        QByteArray value;
        bool wasSet;
    };
    QVector<Saved> saved;
};

TEST(ProgramInfo, QtsOwnOptionsAreLeftToQt)
{
    const struct {
        QStringList argv;
        QStringList program;
    } cases[] = {
        {{"file.txt", "--speed", "2"}, {"file.txt", "--speed", "2"}},
        {{"-platform", "offscreen", "--no-gui", "f"}, {"--no-gui", "f"}},
        {{"--display", ":3", "-reverse", "--help"}, {"--help"}},
        {{"-style=fusion", "--stylesheet=a.qss", "--x"}, {"--x"}}, // Qt's "=" forms
        {{"--platform=offscreen"}, {"--platform=offscreen"}}, // not one of them
        {{"--version", "-platform"}, {"--version", "-platform"}}, // no value: not Qt's
    };
    for (const auto& c : cases) {
        Argv a(c.argv);
        EXPECT_EQ(c.program, ProgramInfo::programArguments(a.argc(), a.argv())) << c.argv.join(' ').toStdString();
    }
}

// Every program splits its words this way; the emulator's bytes need not be UTF-8.
TEST(ProgramInfo, OptionWordsSplitAtTheFirstEqualsSignOfALongOption)
{
    const struct {
        std::string word, name, value;
        bool hasValue;
    } cases[] = {
        {"--a=b", "--a", "b", true},
        {"--a=", "--a", "", true},
        {"--a", "--a", "", false},
        {"-a", "-a", "", false},
        {"-a=b", "-a=b", "", false},
        {"--to=host:1=2", "--to", "host:1=2", true},
        {"--", "--", "", false},
        {"--=x", "--", "x", true},
        {"file=a.txt", "file=a.txt", "", false},
        {"", "", "", false},
        {"--link=/tmp/\xe9t\xe9", "--link", "/tmp/\xe9t\xe9", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        const auto bytes = ProgramInfo::splitOption(c.word);
        EXPECT_EQ(c.name, bytes.name);
        EXPECT_EQ(c.value, bytes.value);
        EXPECT_EQ(c.hasValue, bytes.hasValue);
        const auto text = ProgramInfo::splitOption(QString::fromLatin1(c.word.c_str()));
        EXPECT_EQ(QString::fromLatin1(c.name.c_str()), text.name);
        EXPECT_EQ(QString::fromLatin1(c.value.c_str()), text.value);
        EXPECT_EQ(c.hasValue, text.hasValue);
    }
}

TEST(ProgramInfo, DisplayIsNeededOnlyByPlatformsThatShowWindows)
{
    const struct {
        const char* qpa;
        const char* display;
        QStringList args;
        const char* problem; // start of the answer; "" when a window can be shown
    } cases[] = {
        {nullptr, nullptr, {}, "no display (DISPLAY is not set)"},
        {"", "", {}, "no display (DISPLAY is not set)"},
        {"offscreen", nullptr, {}, ""},
        {"minimal", nullptr, {}, ""},
        {nullptr, nullptr, {"-platform", "offscreen"}, ""},
        {"offscreen", nullptr, {"-platform", "xcb"}, "no display"},
        {"xcb", ":4711", {}, "cannot connect to the X display :4711"},
        {nullptr, nullptr, {"-display", ":4712"}, "cannot connect to the X display :4712"},
        {"xcb:nomitshm;offscreen", nullptr, {}, "no display"},
    };
    for (const auto& c : cases) {
        Env env{{"QT_QPA_PLATFORM", c.qpa}, {"DISPLAY", c.display}, {"WAYLAND_DISPLAY", nullptr}};
        Argv a(c.args);
        const QString problem = ProgramInfo::displayProblem(a.argc(), a.argv());
        SCOPED_TRACE(QString("QT_QPA_PLATFORM=%1 DISPLAY=%2 %3")
                         .arg(c.qpa ? c.qpa : "(unset)", c.display ? c.display : "(unset)", c.args.join(' '))
                         .toStdString());
        if (*c.problem == '\0')
            EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
        else
            EXPECT_TRUE(problem.startsWith(c.problem)) << problem.toStdString();
    }
}

// Both windows on screen and apart, at the smallest screen the programs are for
// and at wider ones, with and without an offset of the free area (a panel).
TEST(WindowPair, BothWindowsOnScreenAndApart)
{
    const QRect screens[] = {{0, 0, 1280, 1024}, {0, 0, 1920, 1080}, {0, 28, 1280, 996}, {1920, 0, 2560, 1440}};
    for (const QRect& screen : screens) {
        const WindowPair::Placement p = WindowPair::place(screen);
        // The windows with a window manager's frame around them.
        const QSize frame(2 * WindowPair::kFrameSide, WindowPair::kFrameTop + WindowPair::kFrameSide);
        const QRect view = QRect(p.view, WindowPair::kViewSize + frame);
        const QRect dialog = QRect(p.dialog, WindowPair::kDialogSize + frame);
        SCOPED_TRACE(QString("%1x%2").arg(screen.width()).arg(screen.height()).toStdString());
        EXPECT_TRUE(screen.contains(view)) << view.x() << "," << view.y();
        EXPECT_TRUE(screen.contains(dialog)) << dialog.x() << "," << dialog.y();
        EXPECT_FALSE(view.intersects(dialog));
    }
    // Wide screens put them side by side.
    const WindowPair::Placement wide = WindowPair::place({0, 0, 1920, 1080});
    EXPECT_EQ(wide.view.y(), wide.dialog.y());
    EXPECT_LT(wide.view.x(), wide.dialog.x());
}

} // namespace
