#include "host/UdpSend.h"

#include "link/ConsoleLog.h"

#include <QElapsedTimer>
#include <QUdpSocket>

#include <cerrno>
#include <cstring>
#include <memory>

UdpSend::UdpSend(quint16 port, QObject* parent, Clock clock) : QObject(parent), mPort(port), mClock(std::move(clock))
{
    if (!mClock) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        mClock = [timer] { return timer->elapsed(); };
    }
}

UdpSend::~UdpSend() { leaveUnused(true); }

bool UdpSend::createSocket()
{
    if (!mSocket)
        mSocket = new QUdpSocket(this);
    return mSocket != nullptr;
}

void UdpSend::setBroadcast(bool broadcast)
{
    mBroadcast = broadcast;
    leaveUnused();
}

QHostAddress UdpSend::destination() const
{
    return mBroadcast ? QHostAddress(QHostAddress::Broadcast) : QHostAddress(QHostAddress::LocalHost);
}

void UdpSend::setDestinations(const QList<Destination>& destinations)
{
    mDestinations = destinations;
    leaveUnused();
}

QList<UdpSend::Destination> UdpSend::destinations() const
{
    if (!mDestinations.isEmpty())
        return mDestinations;
    return {Destination{destination(), mPort}};
}

bool UdpSend::send(const QByteArray& datagram)
{
    if (!mSocket || datagram.isEmpty())
        return false;
    bool whole = true;
    for (const Destination& to : destinations()) {
        errno = 0;
        const qint64 written = mSocket->writeDatagram(datagram, to.address, to.port);
        const int error = errno;
        if (written == datagram.size()) {
            noteSent(to.text());
            continue;
        }
        whole = false;
        // The system's reason ("Network is unreachable") says more than the
        // socket's ("Unable to send a message").
        QString reason = QStringLiteral("%1 of %2 bytes sent").arg(written).arg(datagram.size());
        if (written < 0)
            reason = error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : mSocket->errorString();
        noteFailed(to.text(), reason);
    }
    return whole;
}

void UdpSend::noteSent(const QString& destination)
{
    const auto found = mFailures.find(destination);
    if (found == mFailures.end())
        return;
    logDefault(LogInfoLevel, "State datagrams reach %s again; %d could not be sent in %.1f s.", qPrintable(destination),
               found->second.total, double(mClock() - found->second.sinceMs) / 1000.0);
    mFailures.erase(found);
}

void UdpSend::noteFailed(const QString& destination, const QString& reason)
{
    const qint64 now = mClock();
    Failures& f = mFailures[destination];
    f.reason = reason;
    if (f.total++ == 0) {
        f.sinceMs = f.lastSaidMs = now;
        logDefault(LogWarning, "Cannot send state datagrams to %s: %s.", qPrintable(destination), qPrintable(reason));
        return;
    }
    ++f.unsaid;
    if (now - f.lastSaidMs < kFailureCountEveryMs)
        return;
    logDefault(LogWarning, "%d more state datagrams to %s could not be sent in %.0f s (%s).", f.unsaid,
               qPrintable(destination), double(now - f.lastSaidMs) / 1000.0, qPrintable(reason));
    f.lastSaidMs = now;
    f.unsaid = 0;
}

void UdpSend::leaveUnused(bool all)
{
    QStringList used;
    if (!all)
        for (const Destination& d : destinations())
            used << d.text();
    for (auto it = mFailures.begin(); it != mFailures.end();) {
        if (used.contains(it->first)) {
            ++it;
            continue;
        }
        logDefault(LogWarning, "%d state datagrams to %s could not be sent in %.1f s; no longer sending there.",
                   it->second.total, qPrintable(it->first), double(mClock() - it->second.sinceMs) / 1000.0);
        it = mFailures.erase(it);
    }
}
