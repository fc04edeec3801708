#pragma once

#include "viewer/app/Aircraft.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <memory>
#include <vector>

// Every aircraft that sends to this visualiser, in order of arrival, and the
// one the camera and the panels follow.
class Fleet {
public:
    static constexpr int kMaxAircraft = 16;
    // A silent aircraft other than the followed one stays this long after its last state.
    static constexpr qint64 kRemoveAfterMs = 30000;
    // Farther from the first aircraft than this (scene units, 2.5 km) an
    // aircraft is drawn at this distance: the scene cannot hold the earth.
    static constexpr float kOffsetLimit = 1e6f;

    struct Route {
        Aircraft* aircraft = nullptr; // null: refused (the fleet is full)
        bool joined = false; // the sender was seen for the first time
        QString line; // for the console: a join, or the first refusal of a sender
    };

    // The aircraft of a decoded datagram from address:port. A datagram without
    // a "SenderIP" key (the host's states after a run) belongs to the aircraft
    // last heard from that socket.
    Route route(const StateDatagram::State& state, const QString& address, quint16 port);

    // Places each aircraft after the first by where its world origin lies from
    // the first one's (local flat earth); call after a state of `aircraft`.
    void place(Aircraft& aircraft);

    // Removes the silent aircraft other than the followed one; the console
    // lines of those removed. The followed one is never removed here.
    QStringList removeSilent(qint64 nowMs);
    // Removes one aircraft; when it was followed, the next one is followed.
    QString remove(const Aircraft* aircraft);

    Aircraft* followed() const;
    // Follows the aircraft `steps` places on in arrival order (wrapping).
    void followNext(int steps);
    void follow(const Aircraft* aircraft);

    int size() const { return int(mAircraft.size()); }
    Aircraft* at(int i) const { return mAircraft[size_t(i)].get(); }
    Aircraft* find(const SenderKey& key) const;
    const std::vector<std::unique_ptr<Aircraft>>& aircraft() const { return mAircraft; }

private:
    // Datagrams without a sender address no longer go to this aircraft.
    void forgetSockets(const Aircraft* aircraft);

    std::vector<std::unique_ptr<Aircraft>> mAircraft;
    int mFollowed = -1;
    int mArrivals = 0;
    // Where the first aircraft's world origin lies: every other is placed from it.
    bool mHasReference = false;
    double mReferenceLatitude = 0;
    double mReferenceLongitude = 0;
    // Senders refused while the fleet was full, said once each (a bounded memory).
    QSet<QString> mRefused;
    // The aircraft last heard per socket, for datagrams without a sender address.
    QHash<QString, const Aircraft*> mLastOnSocket;
};
