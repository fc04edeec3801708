#pragma once

#include "common/StateDatagram.h"

#include <QString>

#include <memory>

class QApplication;
class QuvorConfig;
class QuvorSimulator;

// The visualiser program: the main window and its settings dialog, built in
// that order (the window reads the dialog through gConfigDialog and finds none
// while it is built) and destroyed in the reverse order.
//
//   ViewerApp viewer(app, setup);
//   viewer.show();
//   app.exec();
class ViewerApp {
public:
    struct Setup {
        quint16 udpPort = StateDatagram::Port; // where the states arrive
        QString screenshotPath; // a PNG of the view after the first frames; empty: none
        double quitAfterSeconds = -1; // ends the program after this time; negative: never
        QString appDir; // settings and trajectory files; empty: the program's
        bool sideBySide = false; // the window goes beside the host's dialog (WindowPair)
        bool followCamera = false; // "movable camera" on for this run, the saved choice kept
    };

    ViewerApp(QApplication& app, const Setup& setup);
    ~ViewerApp();
    ViewerApp(const ViewerApp&) = delete;
    ViewerApp& operator=(const ViewerApp&) = delete;

    // The dialog stays hidden until asked for; the window shows.
    void show();

    QuvorSimulator* window() const { return mWindow.get(); }
    QuvorConfig* dialog() const { return mDialog.get(); }

private:
    std::unique_ptr<QuvorSimulator> mWindow;
    std::unique_ptr<QuvorConfig> mDialog;
};
