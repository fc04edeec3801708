#include "app/ViewerApp.h"

#include <QApplication>
#include <QCommandLineParser>

#include <clocale>
#include <cstdio>

int main(int argc, char* argv[])
{
    auto* app = new QApplication(argc, argv);
    // Qt took the C locale from the environment; numbers in files keep a dot.
    std::setlocale(LC_NUMERIC, "C");

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

    ViewerApp::Setup setup;
    setup.udpPort = port;
    if (parser.isSet(screenshot))
        setup.screenshotPath = parser.value(screenshot);
    setup.quitAfterSeconds = quitSeconds;
    int result = 0;
    {
        ViewerApp viewer(*app, setup);
        viewer.show();
        result = app->exec();
    }
    delete app;
    return result;
}
