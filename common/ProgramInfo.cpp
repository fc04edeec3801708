#include "common/ProgramInfo.h"

#include <QByteArray>

#include <cstring>
#include <dlfcn.h>

#ifndef QUVOR_VERSION
#define QUVOR_VERSION "0"
#endif

namespace ProgramInfo {
namespace {

// Qt's GUI options: those taking a value, then flags. QGuiApplication removes
// them from argv; the programs parse their own options before it exists.
const char* const kQtOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin",       "display",  "style", "stylesheet",
    "session",  "qwindowgeometry",    "qwindowicon",   "qwindowtitle", "geometry", "title", "name",
    "icon",     "qmljsdebugger"};
const char* const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// "-name" or "--name" without its value.
const char* qtOptionName(const char* arg)
{
    if (arg[0] != '-' || arg[1] == '\0')
        return nullptr;
    return arg[1] == '-' ? arg + 2 : arg + 1;
}

bool takesValue(const char* name)
{
    for (const char* o : kQtOptionsWithValue)
        if (std::strcmp(name, o) == 0)
            return true;
    return false;
}

bool isFlag(const char* name)
{
    for (const char* o : kQtFlags)
        if (std::strcmp(name, o) == 0)
            return true;
    return false;
}

QByteArray argumentValue(int argc, char** argv, const char* option)
{
    for (int i = 1; i + 1 < argc; ++i) {
        const char* name = qtOptionName(argv[i]);
        if (name && std::strcmp(name, option) == 0)
            return argv[i + 1];
    }
    return {};
}

// Tries the X server through libxcb, which every X11 Qt already loads. Without
// the library the answer is left to Qt.
QString xServerProblem(const QByteArray& display)
{
    void* xcb = dlopen("libxcb.so.1", RTLD_LAZY | RTLD_LOCAL);
    if (!xcb)
        return {};
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
    auto hasError = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
    QString problem;
    if (connect && hasError && disconnect) {
        void* connection = connect(display.constData(), nullptr);
        if (hasError(connection) != 0)
            problem = QStringLiteral("cannot connect to the X display %1").arg(QString::fromLocal8Bit(display));
        disconnect(connection);
    }
    dlclose(xcb);
    return problem;
}

} // namespace

QString version() { return QStringLiteral(QUVOR_VERSION); }

QString versionText(const QString& program) { return QStringLiteral("%1 (Quvor) %2\n").arg(program, version()); }

QStringList programArguments(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        const char* name = qtOptionName(argv[i]);
        if (name && takesValue(name) && i + 1 < argc) {
            ++i;
            continue;
        }
        // Qt also takes "-style=fusion" and "-stylesheet=file".
        if (name && (std::strncmp(name, "style=", 6) == 0 || std::strncmp(name, "stylesheet=", 11) == 0))
            continue;
        if (name && isFlag(name))
            continue;
        args << QString::fromLocal8Bit(argv[i]);
    }
    return args;
}

QString displayProblem(int argc, char** argv)
{
    QByteArray platform = argumentValue(argc, argv, "platform");
    if (platform.isEmpty())
        platform = qgetenv("QT_QPA_PLATFORM");
    // "xcb:option=value;wayland" names the first choice first.
    platform = platform.split(';').first().split(':').first();
    if (platform.isEmpty())
        platform = "xcb";
    if (platform.startsWith("wayland")) {
        if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
            return QStringLiteral("no display (WAYLAND_DISPLAY is not set)");
        return {};
    }
    if (platform != "xcb")
        return {};
    QByteArray display = argumentValue(argc, argv, "display");
    if (display.isEmpty())
        display = qgetenv("DISPLAY");
    if (display.isEmpty())
        return QStringLiteral("no display (DISPLAY is not set)");
    return xServerProblem(display);
}

} // namespace ProgramInfo
