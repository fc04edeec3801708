#pragma once

#include "tests/common/Poll.h"

// Helpers of the Xvfb tests that look at rendered pictures.
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <functional>

namespace pixel_test {

// Polls pred (running this process's events meanwhile) until it holds or the deadline passes.
inline bool waitFor(const std::function<bool()>& pred, int timeoutMs) { return pollUntil(pred, timeoutMs); }

// Pixels of image inside area that match.
inline int countPixels(const QImage& image, QRect area, const std::function<bool(QRgb)>& match)
{
    area &= image.rect();
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += match(image.pixel(x, y)) ? 1 : 0;
    return n;
}

inline int countPixels(const QImage& image, const std::function<bool(QRgb)>& match)
{
    return countPixels(image, image.rect(), match);
}

// Runs this process's events for ms.
inline void pump(int ms)
{
    waitFor([] { return false; }, ms);
}

// The test program's application, made on first use and never destroyed: OGRE's
// objects outlive the window and end with the process.
inline QApplication& testApplication(const char* name)
{
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(name), nullptr};
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

// The window reads OGRE's files from the program's folder, which is the test's
// own; point them at what the build wrote for the real program.
inline void linkOgreFiles()
{
    const QString bin = QString::fromLocal8Bit(qgetenv("QUVOR_BIN_DIR"));
    const QString here = QCoreApplication::applicationDirPath();
    for (const char* name : {"plugins.cfg", "ogre.cfg", "resources.cfg", "media"}) {
        const QString target = here + "/" + name;
        if (!QFileInfo::exists(target))
            QFile::link(bin + "/" + name, target);
    }
}

} // namespace pixel_test
