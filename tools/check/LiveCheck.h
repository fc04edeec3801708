#pragma once

#include "CheckFile.h"
#include "CheckReport.h"
#include "FlightJudge.h"
#include "common/FlightRuns.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <memory>

class QUdpSocket;

// Judging the first flight that arrives as state datagrams, as it happens.
namespace check {

class LiveCheck : public QObject, private FlightSink {
    Q_OBJECT
public:
    LiveCheck(const CheckSuite& suite, quint16 port, QString recordPath, QObject* parent = nullptr);
    ~LiveCheck() override;

    // Binds the port the way the visualiser does (shared with other listeners)
    // and opens the recording; false with a message.
    bool open(QString& error);
    quint16 port() const { return mPort; }
    // Starts the wait for the flight; timeoutSeconds <= 0 waits for ever.
    void start(double timeoutSeconds);

    bool timedOut() const { return mTimedOut; }
    qint64 datagrams() const { return mDatagrams; }
    // The verdicts so far, with "flight ended before the timeout" when a timeout is set.
    CheckResult result() const;

signals:
    // The flight ended, or the timeout came first.
    void finished();

private:
    void onReadyRead();
    void onTick();
    void onTimeout();
    double now() const { return double(mClock.nsecsElapsed()) / 1e9; }

    void flightStarted(double time, const StateDatagram::State& state) override;
    void flightState(double time, const StateDatagram::State& state) override;
    void flightEnded() override;

    const CheckSuite& mSuite;
    quint16 mPort;
    QString mRecordPath;
    QFile mRecord;
    QUdpSocket* mSocket = nullptr;
    QElapsedTimer mClock;
    QTimer mTick;
    QTimer mTimeout;
    double mTimeoutSeconds = 0;
    FlightRuns mRuns;
    std::unique_ptr<FlightJudge> mJudge;
    bool mEnded = false;
    bool mTimedOut = false;
    qint64 mDatagrams = 0;
};

} // namespace check
