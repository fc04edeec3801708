#pragma once

// Helpers of the Xvfb tests that look at rendered pictures.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QThread>

#include <functional>

namespace pixel_test {

// Polls pred (running this process's events meanwhile) until it holds or the deadline passes.
inline bool waitFor(const std::function<bool()>& pred, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs)
            return false;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

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

} // namespace pixel_test
