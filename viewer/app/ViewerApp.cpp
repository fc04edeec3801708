#include "viewer/app/ViewerApp.h"

#include "viewer/app/QuvorConfig.h"
#include "viewer/app/QuvorSimulator.h"

#include "common/WindowPair.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>

ViewerApp::ViewerApp(QApplication& app, const Setup& setup)
{
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit, Qt::UniqueConnection);
    // Scripted runs report a busy port on the console and keep their schedule.
    const bool scripted = !setup.screenshotPath.isEmpty() || setup.quitAfterSeconds >= 0;
    mWindow = std::make_unique<QuvorSimulator>(nullptr, setup.udpPort, scripted);
    mDialog = std::make_unique<QuvorConfig>(nullptr, setup.appDir);
    if (setup.sideBySide)
        if (QScreen* screen = QGuiApplication::primaryScreen())
            mWindow->move(WindowPair::place(screen->availableGeometry()).view);
    if (setup.followCamera)
        mDialog->followCameraForThisRun();
    if (!setup.screenshotPath.isEmpty()) {
        mWindow->requestScreenshot(setup.screenshotPath, 10);
        // The picture was what the run was for.
        QObject::connect(mWindow.get(), &OgreWidget::screenshotFailed, &app, [] { QCoreApplication::exit(1); });
    }
    if (setup.quitAfterSeconds >= 0)
        QTimer::singleShot(int(setup.quitAfterSeconds * 1000), &app, &QApplication::quit);
}

ViewerApp::~ViewerApp()
{
    mDialog.reset();
    mWindow.reset();
}

void ViewerApp::show()
{
    mDialog->hide();
    mWindow->show();
}
