#pragma once

// Collects the warnings the code under test writes to the console.
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace viewer_test {

class ConsoleCapture {
public:
    ConsoleCapture()
    {
        lines().clear();
        mPrevious = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtWarningMsg)
                lines().append(text);
        });
    }
    ~ConsoleCapture() { qInstallMessageHandler(mPrevious); }

    static QStringList& lines()
    {
        static QStringList captured;
        return captured;
    }
    // Lines that contain `part`.
    static QStringList matching(const QString& part) { return lines().filter(part); }

private:
    QtMessageHandler mPrevious = nullptr;
};

} // namespace viewer_test
