#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the GUI thread, so an
// interrupted host shuts down the way closing its window does.
class ShutdownSignals : public QObject {
    Q_OBJECT
public:
    explicit ShutdownSignals(QObject* parent = nullptr);
    ~ShutdownSignals() override;

signals:
    void requested(int signalNumber);

private:
    void onReadable();

    QSocketNotifier* mNotifier = nullptr;
};
