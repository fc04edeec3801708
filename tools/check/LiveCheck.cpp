#include "tools/check/LiveCheck.h"

#include "common/Console.h"
#include "common/RecordingFormat.h"

#include <QSocketNotifier>
#include <QTime>
#include <QUdpSocket>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace check {

LiveCheck::LiveCheck(const CheckSuite& suite, quint16 port, QString recordPath, QObject* parent)
    : QObject(parent),
      mSuite(suite),
      mPort(port),
      mRecordPath(std::move(recordPath)),
      mRuns(*this, suite.run.endAfterMotorsStop)
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    mStartNs = qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
    mTick.setInterval(100);
    connect(&mTick, &QTimer::timeout, this, &LiveCheck::onTick);
    mTimeout.setSingleShot(true);
    connect(&mTimeout, &QTimer::timeout, this, &LiveCheck::onTimeout);
}

LiveCheck::~LiveCheck()
{
    delete mNotifier;
    if (mFd >= 0)
        ::close(mFd);
}

double LiveCheck::now() const
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return double(qint64(t.tv_sec) * 1000000000 + t.tv_nsec - mStartNs) / 1e9;
}

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
    // As QUdpSocket binds QHostAddress::Any with ShareAddress | ReuseAddressHint:
    // one dual-stack socket, SO_REUSEADDR, so the 3D view can listen beside it.
    mFd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1, off = 0, buffer = 8 << 20;
    bool bound = false;
    if (mFd >= 0) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_any;
        address.sin6_port = htons(mPort);
        bound = setsockopt(mFd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) == 0 &&
            setsockopt(mFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
            ::bind(mFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    } else if (errno == EAFNOSUPPORT) { // a system without IPv6
        mFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(mPort);
        bound = mFd >= 0 && setsockopt(mFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
            ::bind(mFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    if (!bound) {
        error = QString("cannot listen on UDP port %1: %2").arg(mPort).arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    // A thousand states a second must wait out a busy moment in the kernel's queue.
    setsockopt(mFd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    setsockopt(mFd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (getsockname(mFd, reinterpret_cast<sockaddr*>(&local), &length) == 0)
        mPort = ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(local).sin6_port
                                                  : reinterpret_cast<sockaddr_in&>(local).sin_port);
    if (shared)
        Console::warning(QString("Another program already listens on UDP port %1; this one may miss states unless "
                                 "the host broadcasts.")
                             .arg(mPort));
    mNotifier = new QSocketNotifier(mFd, QSocketNotifier::Read);
    connect(mNotifier, &QSocketNotifier::activated, this, &LiveCheck::readPending);
    return true;
}

void LiveCheck::start(double timeoutSeconds)
{
    mTimeoutSeconds = timeoutSeconds;
    mTick.start();
    if (timeoutSeconds > 0)
        mTimeout.start(int(std::min(timeoutSeconds * 1000.0, 2e9)));
}

void LiveCheck::readPending()
{
    QByteArray bytes(65536, Qt::Uninitialized);
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    while (!mEnded && mFd >= 0) {
        iovec io{bytes.data(), size_t(bytes.size())};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t read = ::recvmsg(mFd, &message, MSG_DONTWAIT);
        if (read < 0) {
            if (errno == EINTR)
                continue;
            return; // EAGAIN: the queue is empty
        }
        double arrival = now();
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec t{};
                std::memcpy(&t, CMSG_DATA(c), sizeof t);
                arrival = double(qint64(t.tv_sec) * 1000000000 + t.tv_nsec - mStartNs) / 1e9;
            }
        // The wall clock may be set back meanwhile: arrivals never go back.
        arrival = std::max(arrival, mLastArrival);
        mLastArrival = arrival;
        const QByteArray datagram = QByteArray::fromRawData(bytes.constData(), int(read));
        if (mRecord.isOpen()) {
            mRecord.write(RecordingFormat::datagramLine(QTime::currentTime(), datagram));
            mRecord.flush();
        }
        const auto state = StateDatagram::decode(datagram);
        if (!state)
            continue;
        ++mDatagrams;
        mRuns.add(arrival, *state);
    }
}

void LiveCheck::onTick()
{
    readPending();
    if (!mEnded)
        mRuns.silence(std::max(now(), mLastArrival));
}

void LiveCheck::onTimeout()
{
    if (mEnded)
        return;
    readPending();
    if (mEnded)
        return;
    mTimedOut = true;
    mRuns.finish();
    if (!mEnded) { // no flight started
        mEnded = true;
        mNotifier->setEnabled(false);
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
    mNotifier->setEnabled(false);
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
