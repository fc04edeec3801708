#include "LiveCheck.h"

#include "common/RecordingFormat.h"

#include <QTime>
#include <QUdpSocket>

namespace check {

LiveCheck::LiveCheck(const CheckSuite& suite, quint16 port, QString recordPath, QObject* parent)
    : QObject(parent),
      mSuite(suite),
      mPort(port),
      mRecordPath(std::move(recordPath)),
      mRuns(*this, suite.run.endAfterMotorsStop)
{
    mClock.start();
    mTick.setInterval(100);
    connect(&mTick, &QTimer::timeout, this, &LiveCheck::onTick);
    mTimeout.setSingleShot(true);
    connect(&mTimeout, &QTimer::timeout, this, &LiveCheck::onTimeout);
}

LiveCheck::~LiveCheck() = default;

bool LiveCheck::open(QString& error)
{
    if (!mRecordPath.isEmpty()) {
        mRecord.setFileName(mRecordPath);
        if (!mRecord.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            error = QString("cannot write %1: %2").arg(mRecordPath, mRecord.errorString());
            return false;
        }
    }
    // Listeners that share the port each get only some of the datagrams sent to
    // this machine (broadcasts reach all): a judge that misses states is worth a word.
    bool shared = false;
    if (mPort != 0) {
        QUdpSocket probe;
        shared = !probe.bind(QHostAddress::Any, mPort, QUdpSocket::DontShareAddress) &&
            probe.error() == QAbstractSocket::AddressInUseError;
    }
    mSocket = new QUdpSocket(this);
    if (!mSocket->bind(QHostAddress::Any, mPort, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        error = QString("cannot listen on UDP port %1: %2").arg(mPort).arg(mSocket->errorString());
        return false;
    }
    if (shared)
        qWarning("Another program already listens on UDP port %u; this one may miss states unless the host "
                 "broadcasts.",
                 unsigned(mPort));
    mPort = mSocket->localPort();
    // A thousand states a second must wait out a busy moment in the kernel's queue.
    mSocket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 8 << 20);
    connect(mSocket, &QUdpSocket::readyRead, this, &LiveCheck::onReadyRead);
    return true;
}

void LiveCheck::start(double timeoutSeconds)
{
    mTimeoutSeconds = timeoutSeconds;
    mTick.start();
    if (timeoutSeconds > 0)
        mTimeout.start(int(std::min(timeoutSeconds * 1000.0, 2e9)));
}

void LiveCheck::onReadyRead()
{
    while (!mEnded && mSocket->hasPendingDatagrams()) {
        const qint64 size = mSocket->pendingDatagramSize();
        QByteArray bytes(int(std::max<qint64>(size, 0)), Qt::Uninitialized);
        const qint64 read = mSocket->readDatagram(bytes.data(), bytes.size());
        if (read < 0)
            continue;
        bytes.resize(int(read));
        if (mRecord.isOpen()) {
            mRecord.write(RecordingFormat::datagramLine(QTime::currentTime(), bytes));
            mRecord.flush();
        }
        const auto state = StateDatagram::decode(bytes);
        if (!state)
            continue;
        ++mDatagrams;
        mRuns.add(now(), *state);
    }
}

void LiveCheck::onTick() { mRuns.silence(now()); }

void LiveCheck::onTimeout()
{
    if (mEnded)
        return;
    mTimedOut = true;
    mRuns.finish();
    if (!mEnded) { // no flight started
        mEnded = true;
        emit finished();
    }
}

void LiveCheck::flightStarted(double time, const StateDatagram::State& state)
{
    mJudge = std::make_unique<FlightJudge>(mSuite);
    mJudge->add(time, state);
}

void LiveCheck::flightState(double time, const StateDatagram::State& state) { mJudge->add(time, state); }

void LiveCheck::flightEnded()
{
    if (mEnded)
        return;
    mEnded = true;
    mTick.stop();
    mTimeout.stop();
    emit finished();
}

CheckResult LiveCheck::result() const
{
    CheckResult r;
    r.suite = &mSuite;
    r.source = QString("UDP port %1").arg(mPort);
    r.datagrams = mDatagrams;
    r.runs = mRuns.flights();
    FlightJudge empty(mSuite);
    const FlightJudge& judge = mJudge ? *mJudge : empty;
    r.run = mJudge ? 1 : 0;
    r.states = judge.states();
    r.duration = judge.duration();
    r.verdicts = judge.verdicts();
    if (mTimeoutSeconds > 0) {
        Verdict v;
        v.name = QStringLiteral("flight ended before the timeout");
        v.passed = !mTimedOut;
        v.time = r.duration;
        v.evidence = mTimedOut ? QString("no end of flight within %1 s (%2)")
                                     .arg(valueText(mTimeoutSeconds),
                                          mJudge ? QString("the flight ran %1 s").arg(secondsText(r.duration))
                                                 : QStringLiteral("no flight started"))
                               : QString("the flight ended after %1 s").arg(secondsText(r.duration));
        v.numbers = {{"timeout", mTimeoutSeconds}};
        r.verdicts.append(v);
    }
    return r;
}

} // namespace check
