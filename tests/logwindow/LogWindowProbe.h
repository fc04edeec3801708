#pragma once

// Test support for code that drives LogClass windows: one QApplication for the
// whole test program, and a look at the widgets the windows put on screen.

#include "logwindow/LogClass.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <memory>

class GuiTestApp : public ::testing::Environment {
public:
    void SetUp() override
    {
        // Window positions go to a throw-away folder, not the user's configuration.
        qputenv("XDG_CONFIG_HOME", mConfigDir.path().toLocal8Bit());
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        // Never destroyed: windows of the code under test may outlive any test.
        new QApplication(mArgc, mArgv);
    }

private:
    QTemporaryDir mConfigDir;
    int mArgc = 1;
    char mName[8] = "test";
    char* mArgv[2] = {mName, nullptr};
};

inline ::testing::Environment* const gGuiTestApp = ::testing::AddGlobalTestEnvironment(new GuiTestApp);

// Runs the window operations other threads have queued so far; the windows
// take them in slices, one posted event each.
inline void runQueuedWindowWork()
{
    do
        QCoreApplication::sendPostedEvents();
    while (LogClass::pendingOperations() > 0);
}

// The one top-level window with this title, or null.
inline QWidget* findLogWindow(const QString& title)
{
    QWidget* found = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->windowTitle() != title)
            continue;
        if (found)
            return nullptr;
        found = widget;
    }
    return found;
}

// The lines the window shows, oldest first.
inline QStringList shownLines(QWidget* window)
{
    auto* view = window ? window->findChild<QPlainTextEdit*>() : nullptr;
    if (!view || view->document()->isEmpty())
        return {};
    return view->toPlainText().split(QLatin1Char('\n'));
}

inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
