#include "viewer/app/Aircraft.h"

#include "common/FlightValues.h"
#include "common/ProductType.h"

#include <cmath>

QString SenderKey::endpoint() const { return address + ':' + QString::number(port); }

QString SenderKey::fileTag() const
{
    QString tag = senderIp.isEmpty() ? address + '_' + QString::number(port) : senderIp;
    // Letters, digits, dots and dashes only: no folder separators, and with
    // the "trace_" prefix no name of its own such as "..".
    for (QChar& c : tag)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != '.' && c != '-')
            c = '_';
    return tag.left(64);
}

Aircraft::Aircraft(int number, SenderKey key) : mNumber(number), mKey(std::move(key)) { }

QString Aircraft::productName() const
{
    return QString::fromLatin1(productTypeName(ProductType(mSnapshot.ProductType)));
}

QString Aircraft::label() const
{
    return productName() + ' ' + (mKey.senderIp.isEmpty() ? mKey.endpoint() : mKey.senderIp);
}

bool Aircraft::take(const StateDatagram::State& state, float speedRate, qint64 nowMs)
{
    mLastHeardMs = nowMs;
    ++mStatesHeard;
    if (!state.finite)
        return false;
    const FlightSnapshot next = readSnapshot(state);
    // The trace point is placed before a new run counter resets the origin, the pose after.
    const bool newOrigin = mTriggers.simulatorCommandDiffers(next.SimulatorCommand);
    if (!mPlacement.staysInside(next.WorldX, next.WorldY, next.WorldZ, speedRate, false) ||
        (newOrigin && !mPlacement.staysInside(next.WorldX, next.WorldY, next.WorldZ, speedRate, true)))
        return false;
    mSnapshot = next;
    mKeys = state.keys;
    mRowsStale = true;
    // The start of a flight marks where its world origin lies on the earth; the
    // states after a run carry no position and mark nothing.
    if (!mHasOrigin && state.has(StateDatagram::Key::WorldLatitude) && state.has(StateDatagram::Key::WorldLongitude) &&
        !flight::isZeroState(state)) {
        double northMetres = state.worldX, eastMetres = state.worldY;
        const double cosLat = std::max(std::cos(state.worldLatitude * M_PI / 180.0), 1e-6);
        mOriginLatitude = state.worldLatitude - northMetres / kMetresPerDegree;
        mOriginLongitude = state.worldLongitude - eastMetres / (kMetresPerDegree * cosLat);
        mHasOrigin = std::isfinite(mOriginLatitude) && std::isfinite(mOriginLongitude);
    }
    return true;
}

bool Aircraft::firstRefusedThisRun()
{
    const bool first = !mRefusedWarned;
    mRefusedWarned = true;
    return first;
}

Aircraft::Changes Aircraft::apply(qint64 nowMs)
{
    Changes c;
    mView = toViewState(mSnapshot);
    c.modelChanged = mSnapshot.ProductType != mModelProductType;
    c.motorsOn = mSnapshot.MotorStarted != 0;
    c.arms = mTriggers.transform(mSnapshot.TransformState);
    c.traceDue = mTriggers.traceDue(nowMs);
    c.commandChanged = mTriggers.simulatorCommandChanged(mSnapshot.SimulatorCommand);
    return c;
}

void Aircraft::countPlayback(const StateDatagram::State& state, bool accepted)
{
    StateDatagram::State marked = state;
    if (!accepted)
        marked.playBackEnabled = false;
    mPlayback.accept(marked, false);
}

bool Aircraft::heartBeat()
{
    if (!mRun.onHeartBeat())
        return false;
    mRefusedWarned = false;
    mPlacement.reset(true);
    mView.roll = mView.pitch = mView.yaw = 0;
    mView.velX = mView.velY = mView.velZ = 0;
    mView.x = mView.y = mView.z = 0;
    return true;
}

QString Aircraft::status() const
{
    if (!mRun.running())
        return QStringLiteral("silent");
    return mSnapshot.FlyingState != 0 ? QStringLiteral("flying") : QStringLiteral("landed");
}

Ogre::Vector3 Aircraft::scenePosition(float speedRate)
{
    return mPlacement.worldToScene(mView.x, mView.y, mView.z, speedRate) + mOffset;
}

bool Aircraft::worldOrigin(double& latitude, double& longitude) const
{
    latitude = mOriginLatitude;
    longitude = mOriginLongitude;
    return mHasOrigin;
}

void Aircraft::buildRows() const
{
    if (!mRowsStale)
        return;
    buildParamValues(mKeys, mSnapshot, mValues, mOrder);
    mRowsStale = false;
}

const QMap<QString, QString>& Aircraft::paramValues() const
{
    buildRows();
    return mValues;
}

const QStringList& Aircraft::paramOrder() const
{
    buildRows();
    return mOrder;
}
