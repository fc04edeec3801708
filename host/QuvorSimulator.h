#pragma once

#include "host/DeviceLog.h"
#include "host/FlightState.h"
#include "host/StateGap.h"
#include "host/UdpDestination.h"

#include "link/DevIo.h"
#include "link/Messages.h"

#include <QByteArray>
#include <QMutex>
#include <QWidget>

#include <cstdint>
#include <deque>
#include <functional>

class QTimer;
class UdpSend;

// Drives a simulation run with the flight controller and turns the reported
// flight state into datagrams. Packages arrive on the serial listener thread;
// it only copies them there and does all the work on the GUI thread. It also
// holds the device-log presenter.
class QuvorSimulator : public QWidget, public zel::DevListener {
    Q_OBJECT
public:
    using Clock = std::function<qint64()>; // milliseconds, monotonic

    explicit QuvorSimulator(const QString& appDir, quint16 udpPort = StateDatagram::Port, QWidget* parent = nullptr);
    ~QuvorSimulator() override;

    // Where the state datagrams go instead of the local host or broadcast; empty: there.
    void setUdpDestinations(const QList<UdpDestination>& destinations);
    // The clock that times gaps in the flight states (tests set their own).
    void setClock(Clock clock) { mClock = std::move(clock); }

    int32_t onNotify(const DevNotify* notify) override;

    // Sends the stop command and returns to idle.
    void stopSimulation();

    // Hands the control dialog's font size and filter texts to the log
    // presenter; option changes do this on their own.
    void takeDialogValues();

    int productType() const { return mProductType; }
    int runCounter() const { return mRunCounter; }
    QString senderIp() const { return mSenderIp; }
    quint64 statesSent() const { return mStatesSent; } // flight states sent since start-up
    bool heartbeatRunning() const; // the 1000 ms heartbeat runs from the first state reply until the run stops
    DeviceLog& deviceLog() { return mDeviceLog; }

signals:
    void updateUI();
    void msg(int logLevel, const QString& text);

public slots:
    void sendHeartbeat();
    void onUpdateUI();
    void onCommandReceived(const PackageProperty_V1* package);
    void onHeartBeat(sim_heartbeat_t* heartbeat);
    void onSimParams();
    void onFlyCmd(const PackageProperty_V1*) { }
    void onSimChannels(const PackageProperty_V1*) { }
    void onSimState();
    void onLogChanged(LOG_INFO info);
    void clearLogWindow();
    void onStopSignalProc();
    // Says when the flight states of a run have stopped (timer, while states flow).
    void checkStateGap();

private:
    void send(const StateDatagram::State& state);

    const QString mAppDir;
    QMutex mStateLock;
    QTimer* mHeartbeatTimer = nullptr;
    QTimer* mZeroStateTimer = nullptr;
    QTimer* mGapTimer = nullptr;
    Clock mClock;
    StateGap mGap;
    bool mFirstReply = true;

    // Filled on the listener thread, taken over whole by the GUI thread, so
    // neither side ever frees a copy the other is reading. Flight states queue
    // up (every state becomes a datagram, in order); a GUI thread that falls
    // further behind than the queue holds loses the oldest.
    static constexpr size_t MaxPendingStates = 256;
    QMutex mPendingLock;
    bool mHeartbeatPending = false;
    bool mParamsPending = false;
    sim_heartbeat_t mPendingHeartbeat;
    uint8_t mPendingProduct = 0;
    std::deque<QByteArray> mPendingStates;

    // GUI thread only.
    uint8_t mProductByte = 0;
    QByteArray mStateRecord;
    int mProductType = ProductUnknown;
    int32_t mRunCounter = 0;
    bool mCountedThisRun = false;
    bool mNonFiniteReported = false; // one console line per run, not one per state
    int32_t mZeroCountdown = 10;
    QString mSenderIp;
    UdpSend* mUdpSend = nullptr;
    StateDatagram::State mLastState;
    quint64 mStatesSent = 0;

    DeviceLog mDeviceLog;
};

extern QuvorSimulator* gSimulator;

// The text of this host's first non-loopback IPv4 address, or empty.
QString findSenderAddress();
