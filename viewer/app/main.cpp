#include "app/QuvorConfig.h"
#include "app/QuvorSimulator.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <clocale>
#include <cstdio>

int main(int argc, char* argv[])
{
    auto* app = new QApplication(argc, argv);
    // Qt took the C locale from the environment; numbers in files keep a dot.
    std::setlocale(LC_NUMERIC, "C");
    QObject::connect(app, &QApplication::lastWindowClosed, app, &QApplication::quit);

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption screenshot("screenshot", "Write a PNG of the rendered view after the first frames.",
                                        "FILE");
    const QCommandLineOption quitAfter("quit-after", "End the program after this many seconds.", "SECONDS");
    const QCommandLineOption udpPort("udp-port", "Receive the states on this UDP port instead of 5566.", "PORT");
    parser.addOption(screenshot);
    parser.addOption(quitAfter);
    parser.addOption(udpPort);
    parser.process(*app);

    double quitSeconds = -1;
    if (parser.isSet(quitAfter)) {
        bool ok = false;
        quitSeconds = parser.value(quitAfter).toDouble(&ok);
        if (!ok || !(quitSeconds >= 0) || quitSeconds > 2e6) {
            fprintf(stderr, "--quit-after needs a number of seconds, not \"%s\"\n",
                    parser.value(quitAfter).toLocal8Bit().constData());
            delete app;
            return 2;
        }
    }

    quint16 port = StateDatagram::Port;
    if (parser.isSet(udpPort)) {
        bool ok = false;
        const uint value = parser.value(udpPort).toUInt(&ok);
        if (!ok || value == 0 || value > 65535) {
            fprintf(stderr, "--udp-port needs a port number from 1 to 65535, not \"%s\"\n",
                    parser.value(udpPort).toLocal8Bit().constData());
            delete app;
            return 2;
        }
        port = quint16(value);
    }

    // Scripted runs report a busy port on the console and keep their schedule.
    const bool scripted = parser.isSet(screenshot) || parser.isSet(quitAfter);
    auto* window = new QuvorSimulator(nullptr, port, scripted);
    auto* dialog = new QuvorConfig(nullptr);
    if (parser.isSet(screenshot))
        window->requestScreenshot(parser.value(screenshot), 10);
    if (quitSeconds >= 0)
        QTimer::singleShot(int(quitSeconds * 1000), app, &QApplication::quit);

    dialog->hide();
    window->show();
    const int result = app->exec();
    delete dialog;
    delete window;
    delete app;
    return result;
}
