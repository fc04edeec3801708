#include "viewer/app/Fleet.h"

#include "common/ProductType.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int kRefusedRemembered = 256;

QString productOf(const StateDatagram::State& state)
{
    return QString::fromLatin1(productTypeName(ProductType(state.productType & 0xff)));
}

QString joinLine(const Aircraft& aircraft, const StateDatagram::State& state)
{
    return QStringLiteral("aircraft %1 joined: %2 from %3 (%4)")
        .arg(QString::number(aircraft.number()), productOf(state), aircraft.key().endpoint(), aircraft.key().senderIp);
}
} // namespace

void Fleet::forgetSockets(const Aircraft* aircraft)
{
    for (auto it = mLastOnSocket.begin(); it != mLastOnSocket.end();)
        it = it.value() == aircraft ? mLastOnSocket.erase(it) : std::next(it);
}

Fleet::Route Fleet::route(const StateDatagram::State& state, const QString& address, quint16 port)
{
    SenderKey key{address, port, state.senderIp};
    const QString socket = key.endpoint();
    Route r;
    if (!state.has(StateDatagram::Key::SenderIP)) {
        if (const Aircraft* last = mLastOnSocket.value(socket))
            key.senderIp = last->key().senderIp;
    }
    r.aircraft = find(key);
    if (!r.aircraft && state.has(StateDatagram::Key::SenderIP)) {
        // A host that starts again sends from a new port: while the aircraft
        // it flew is silent, it is that aircraft again rather than a new one.
        for (const auto& a : mAircraft) {
            if (!a->running() && a->key().address == key.address && a->key().senderIp == key.senderIp &&
                !a->key().senderIp.isEmpty()) {
                r.aircraft = a.get();
                break;
            }
        }
        if (r.aircraft) {
            forgetSockets(r.aircraft);
            r.aircraft->rekey(key);
            r.line = joinLine(*r.aircraft, state);
        }
    }
    if (!r.aircraft) {
        if (size() >= kMaxAircraft) {
            const QString id = socket + ' ' + key.senderIp;
            if (!mRefused.contains(id) && mRefused.size() < kRefusedRemembered) {
                mRefused.insert(id);
                r.line = QStringLiteral("aircraft refused: %1 from %2 (%3): %4 aircraft are shown already")
                             .arg(productOf(state), socket, key.senderIp)
                             .arg(kMaxAircraft);
            }
            return r;
        }
        mAircraft.push_back(std::make_unique<Aircraft>(++mArrivals, key));
        r.aircraft = mAircraft.back().get();
        r.joined = true;
        r.line = joinLine(*r.aircraft, state);
        if (mFollowed < 0)
            mFollowed = 0;
    }
    mLastOnSocket.insert(socket, r.aircraft);
    return r;
}

void Fleet::place(Aircraft& aircraft)
{
    double latitude = 0, longitude = 0;
    if (!aircraft.worldOrigin(latitude, longitude))
        return;
    if (!mHasReference) {
        mHasReference = true;
        mReferenceLatitude = latitude;
        mReferenceLongitude = longitude;
    }
    // Local flat earth around the reference: at the distances between benches
    // the curvature is far below what the wire's six digits can tell.
    const double north = (latitude - mReferenceLatitude) * Aircraft::kMetresPerDegree;
    double east = longitude - mReferenceLongitude;
    east = std::remainder(east, 360.0) * Aircraft::kMetresPerDegree * std::cos(mReferenceLatitude * M_PI / 180.0);
    // World x north and y east become scene z and -x, 400 units a metre.
    auto bounded = [](double v) { return float(std::clamp(v * 400.0, double(-kOffsetLimit), double(kOffsetLimit))); };
    aircraft.setOffset(Ogre::Vector3(bounded(-east), 0, bounded(north)));
}

Aircraft* Fleet::find(const SenderKey& key) const
{
    for (const auto& a : mAircraft)
        if (a->key() == key)
            return a.get();
    return nullptr;
}

Aircraft* Fleet::followed() const { return mFollowed >= 0 ? mAircraft[size_t(mFollowed)].get() : nullptr; }

void Fleet::followNext(int steps)
{
    if (mAircraft.empty())
        return;
    const int n = size();
    mFollowed = ((mFollowed + steps) % n + n) % n;
}

void Fleet::follow(const Aircraft* aircraft)
{
    for (int i = 0; i < size(); ++i)
        if (at(i) == aircraft)
            mFollowed = i;
}

QString Fleet::remove(const Aircraft* aircraft)
{
    for (int i = 0; i < size(); ++i) {
        if (at(i) != aircraft)
            continue;
        const QString line = QStringLiteral("aircraft %1 left: %2 from %3")
                                 .arg(aircraft->number())
                                 .arg(aircraft->productName(), aircraft->key().endpoint());
        forgetSockets(aircraft);
        mAircraft.erase(mAircraft.begin() + i);
        // The one after the removed one takes its place in the order.
        if (mAircraft.empty())
            mFollowed = -1;
        else if (i < mFollowed)
            --mFollowed;
        else if (mFollowed >= size())
            mFollowed = 0;
        mRefused.clear();
        return line;
    }
    return QString();
}

QStringList Fleet::removeSilent(qint64 nowMs)
{
    QStringList lines;
    for (int i = size() - 1; i >= 0; --i) {
        const Aircraft* a = at(i);
        if (i != mFollowed && !a->running() && nowMs - a->lastHeardMs() >= kRemoveAfterMs)
            lines.prepend(remove(a));
    }
    return lines;
}
