#pragma once

#include "tools/check/CheckFile.h"
#include "tools/check/CheckReport.h"
#include "tools/check/FlightJudge.h"
#include "common/FlightRuns.h"

#include <QFile>
#include <QObject>
#include <QTimer>

#include <memory>

class QSocketNotifier;

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
    // Reads every datagram waiting, each at the time the kernel received it, so
    // a checker that was kept off the processor for a while judges the same
    // flight (and drains the queue before it decides on a silence or a timeout).
    void readPending();
    void onTick();
    void onTimeout();
    // Seconds since the checker started, on the clock of the arrival stamps.
    double now() const;

    void flightStarted(double time, const StateDatagram::State& state) override;
    void flightState(double time, const StateDatagram::State& state) override;
    void flightEnded() override;

    const CheckSuite& mSuite;
    quint16 mPort;
    QString mRecordPath;
    QFile mRecord;
    int mFd = -1;
    QSocketNotifier* mNotifier = nullptr;
    qint64 mStartNs = 0; // CLOCK_REALTIME, the clock of SO_TIMESTAMPNS
    double mLastArrival = 0;
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
