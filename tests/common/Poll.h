// Waiting for something the test cannot be told about directly.
#pragma once

#include "tests/common/TestTime.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>

// Runs this process's Qt events (when it has an application) until done() holds or
// the deadline, stretched under the sanitizers, passes; true when done() held.
inline bool pollUntil(const std::function<bool()>& done, int timeoutMs)
{
    const int limit = scaledTimeout(timeoutMs);
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limit)
            return false;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}
