#pragma once

#include "common/StateDatagram.h"
#include "viewer/app/FlightSnapshot.h"
#include "viewer/view/SceneCamera.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <cmath>
#include <cstdint>

// Who sent a datagram: the socket it came from and the "SenderIP" it carries.
// Two hosts on one machine differ by their ports; a replay of a recording with
// two sender addresses differs by the text.
struct SenderKey {
    QString address;
    quint16 port = 0;
    QString senderIp;

    bool operator==(const SenderKey& o) const
    {
        return port == o.port && address == o.address && senderIp == o.senderIp;
    }
    bool sameSocket(const SenderKey& o) const { return port == o.port && address == o.address; }
    // "ADDRESS:PORT"
    QString endpoint() const;
    // The name part of the aircraft's trace file: the sender address, or
    // address_port when it sends none, reduced to characters that are safe in
    // a file name (the text comes from the network).
    QString fileTag() const;
};

// One aircraft of the view, without any of the scene: the state it showed
// last, its run, its triggers and its place. Every datagram of its sender
// passes through here; the window turns the answers into the picture.
class Aircraft {
public:
    // Metres per degree of latitude on the local flat earth where aircraft are placed.
    static constexpr double kMetresPerDegree = 6371000.0 * M_PI / 180.0;

    // What one accepted state asks of the scene.
    struct Changes {
        bool modelChanged = false; // the product type differs from the model shown
        bool motorsOn = false;
        StateTriggers::Arms arms = StateTriggers::Arms::None;
        bool traceDue = false; // a trace point is due (at most one every 300 ms)
        bool commandChanged = false; // a new run counter: the trace starts again
    };

    Aircraft(int number, SenderKey key);

    int number() const { return mNumber; }
    const SenderKey& key() const { return mKey; }
    // A restarted sender (a new port) carries on as this aircraft.
    void rekey(SenderKey key) { mKey = std::move(key); }
    // The product's name and the sender address, or address:port without one.
    QString label() const;
    QString productName() const;

    // Stores a decoded state when it can be shown (finite, within the scene)
    // and returns true; false leaves the last good state in place. Either way
    // the aircraft was heard at nowMs.
    bool take(const StateDatagram::State& state, float speedRate, qint64 nowMs);
    // True once per run for a state take() refused: the time to say so.
    bool firstRefusedThisRun();
    // Applies the state take() stored to the view state and the triggers.
    Changes apply(qint64 nowMs);
    // A replay source marks its states; the panel says so while they come.
    void countPlayback(const StateDatagram::State& state, bool accepted);
    bool playbackEnabled() const { return mPlayback.playbackEnabled(); }

    // Counts the state for its run; true when it started one.
    bool countState() { return mRun.onState(); }
    // One heartbeat; true when it ended the run, after which the aircraft
    // stands at its origin with a level pose.
    bool heartBeat();
    bool running() const { return mRun.running(); }
    qint64 lastHeardMs() const { return mLastHeardMs; }
    // Every state take() was given, shown or not.
    quint64 statesHeard() const { return mStatesHeard; }
    // "flying", "landed" or "silent" (no run).
    QString status() const;

    // The product type the scene shows; set by the window when it built the model.
    uint8_t modelProductType() const { return mModelProductType; }
    void setModelProductType(uint8_t type) { mModelProductType = type; }

    // Scene position of the stored state, with this aircraft's offset from the
    // first one. Integrates the displacement like the single view always did,
    // so it is called once per use, in order.
    Ogre::Vector3 scenePosition(float speedRate);
    void setOffset(const Ogre::Vector3& sceneOffset) { mOffset = sceneOffset; }
    const Ogre::Vector3& offset() const { return mOffset; }
    // Latitude and longitude of the world origin of its first state with a
    // position, in degrees; false until such a state came.
    bool worldOrigin(double& latitude, double& longitude) const;

    // Panel texts of the stored state, built when asked and kept until the next state.
    const QMap<QString, QString>& paramValues() const;
    const QStringList& paramOrder() const;

    const FlightSnapshot& snapshot() const { return mSnapshot; }
    const ViewState& viewState() const { return mView; }
    ScenePlacement& placement() { return mPlacement; }
    const ScenePlacement& placement() const { return mPlacement; }

private:
    void buildRows() const;

    int mNumber;
    SenderKey mKey;
    DatagramFilter mPlayback{QStringList()};
    FlightSnapshot mSnapshot;
    ViewState mView;
    StateDatagram::KeySet mKeys;
    StateTriggers mTriggers;
    RunTracker mRun;
    ScenePlacement mPlacement;
    Ogre::Vector3 mOffset = Ogre::Vector3::ZERO;
    uint8_t mModelProductType = 0;
    bool mRefusedWarned = false;
    qint64 mLastHeardMs = 0;
    quint64 mStatesHeard = 0;
    bool mHasOrigin = false;
    double mOriginLatitude = 0;
    double mOriginLongitude = 0;
    mutable bool mRowsStale = true;
    mutable QMap<QString, QString> mValues;
    mutable QStringList mOrder;
};
