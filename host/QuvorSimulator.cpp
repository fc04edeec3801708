#include "host/QuvorSimulator.h"

#include "host/HostSettings.h"
#include "host/QuvorCommand.h"
#include "host/SimCommands.h"
#include "host/UdpSend.h"

#include "common/LocalAddresses.h"
#include "link/ConsoleLog.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QMutexLocker>
#include <QTimer>

#include <memory>
#include <optional>

QuvorSimulator* gSimulator = nullptr;

QString findSenderAddress()
{
    const QList<QHostAddress> addresses = nonLoopbackIPv4Addresses();
    return addresses.isEmpty() ? QString() : addresses.first().toString();
}

QuvorSimulator::QuvorSimulator(const QString& appDir, quint16 udpPort, QWidget* parent)
    : QWidget(parent),
      mAppDir(appDir),
      mDeviceLog(appDir)
{
    gSimulator = this;
    setAttribute(Qt::WA_QuitOnClose, false);
    connect(this, &QuvorSimulator::updateUI, this, &QuvorSimulator::onUpdateUI);

    mHeartbeatTimer = new QTimer(this);
    mHeartbeatTimer->setInterval(1000);
    connect(mHeartbeatTimer, &QTimer::timeout, this, &QuvorSimulator::sendHeartbeat);
    mZeroStateTimer = new QTimer(this);
    connect(mZeroStateTimer, &QTimer::timeout, this, &QuvorSimulator::onStopSignalProc);
    mZeroStateTimer->start(300);
    mGapTimer = new QTimer(this);
    mGapTimer->setInterval(100);
    connect(mGapTimer, &QTimer::timeout, this, &QuvorSimulator::checkStateGap);
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    mClock = [elapsed] { return elapsed->elapsed(); };

    mUdpSend = new UdpSend(udpPort);
    mUdpSend->createSocket();
    mSenderIp = findSenderAddress();
}

QuvorSimulator::~QuvorSimulator()
{
    delete mUdpSend;
    if (gSimulator == this)
        gSimulator = nullptr;
}

void QuvorSimulator::setUdpDestinations(const QList<UdpDestination>& destinations)
{
    mUdpSend->setDestinations(destinations);
}

bool QuvorSimulator::heartbeatRunning() const { return mHeartbeatTimer->isActive(); }

int32_t QuvorSimulator::onNotify(const DevNotify* notify)
{
    if (const PackageProperty_V1* package = notify ? notify->package() : nullptr)
        onCommandReceived(package);
    return 0;
}

void QuvorSimulator::onCommandReceived(const PackageProperty_V1* package)
{
    mDeviceLog.handlePackage(package);

    if (package->senderType() != kFlightControllerType || package->cmdSet != cmd::SimulationSet)
        return;

    const uint8_t* payload = package->payload();
    const size_t length = package->payloadLength();
    if (package->cmdId == cmd::SimFlightState && length < FlightStateRecord::Size) {
        logDefault(LogWarning, "Flight state of %zu bytes dropped, %d expected.", length, int(FlightStateRecord::Size));
        return;
    }
    bool wake = false;
    {
        QMutexLocker lock(&mPendingLock);
        // One queued updateUI() serves everything that arrives before it runs.
        wake = !mHeartbeatPending && !mParamsPending && mPendingStates.empty();
        switch (package->cmdId) {
        case cmd::SimHeartbeat:
            mPendingHeartbeat = sim_heartbeat_t::decode(payload, length);
            mHeartbeatPending = true;
            break;
        case cmd::SimParamRequest:
            mPendingProduct = ParamRequest::decode(payload, length).productByte;
            mParamsPending = true;
            break;
        case cmd::SimFlightState:
            if (mPendingStates.size() >= MaxPendingStates)
                mPendingStates.pop_front();
            mPendingStates.emplace_back(reinterpret_cast<const char*>(payload), int(length));
            break;
        default: wake = false; break;
        }
    }
    if (wake)
        emit updateUI();
}

void QuvorSimulator::onUpdateUI()
{
    bool heartbeat, params;
    sim_heartbeat_t heartbeatCopy;
    std::deque<QByteArray> states;
    {
        QMutexLocker lock(&mPendingLock);
        heartbeat = mHeartbeatPending;
        params = mParamsPending;
        heartbeatCopy = mPendingHeartbeat;
        if (params)
            mProductByte = mPendingProduct;
        states.swap(mPendingStates);
        mHeartbeatPending = mParamsPending = false;
    }
    if (heartbeat)
        onHeartBeat(&heartbeatCopy);
    if (params)
        onSimParams();
    for (QByteArray& record : states) {
        mStateRecord = std::move(record);
        onSimState();
    }
}

void QuvorSimulator::onHeartBeat(sim_heartbeat_t* heartbeat)
{
    if (heartbeat->simState() == sim_heartbeat_t::Switching)
        logDefault(LogInfoLevel, "Switching to sim.");
    else if (heartbeat->simState() == sim_heartbeat_t::Unknown)
        logDefault(LogWarning, "Unknown state.");

    if (mFirstReply) {
        mHeartbeatTimer->start(1000);
        mFirstReply = false;
        sendSimCommand(cmd::SimAckReply, SimAck().encode());
    }
}

void QuvorSimulator::sendHeartbeat() { sendSimCommand(cmd::SimHeartbeat, sim_heartbeat_t::beat().encode()); }

void QuvorSimulator::onSimParams()
{
    const ProductType type = productTypeFromByte(mProductByte);
    mProductType = type;
    logDefault(LogInfoLevel, "Product type: %s.", productTypeName(type));
    logDefault(LogInfoLevel, "Ready to start sim.");

    const double latitude = gCommandDialog ? gCommandDialog->latitude() : 0.0;
    const double longitude = gCommandDialog ? gCommandDialog->longitude() : 0.0;
    sendSimCommand(cmd::SimEnvironment, environmentAt(latitude, longitude).encode());
}

void QuvorSimulator::onSimState()
{
    const std::optional<FlightStateRecord> record = FlightStateRecord::decode(
        reinterpret_cast<const uint8_t*>(mStateRecord.constData()), size_t(mStateRecord.size()));
    if (!record)
        return;
    if (!mStateLock.tryLock())
        return;
    mLastState = convertFlightState(*record);

    if (gCommandDialog && gCommandDialog->mSimRunning) {
        if (!mCountedThisRun) {
            mRunCounter = (mRunCounter + 1) % 256;
            mCountedThisRun = true;
            mNonFiniteReported = false;
        }
        const QString back = mGap.onState(mClock());
        if (!back.isEmpty())
            logDefault(LogInfoLevel, "%s", qPrintable(back));
        if (!mGapTimer->isActive())
            mGapTimer->start();
    } else {
        mCountedThisRun = false;
    }
    // "nan" or "inf" in a datagram is no number to the visualiser, which would
    // pose the aircraft with it: such a state is not sent.
    if (const char* key = firstNonFiniteKey(mLastState)) {
        if (!mNonFiniteReported) {
            logDefault(LogWarning,
                       "Flight state with a non-finite %s not sent; further ones this run are dropped "
                       "without a message.",
                       key);
            mNonFiniteReported = true;
        }
        mStateLock.unlock();
        return;
    }
    mLastState.productType = mProductType;
    mLastState.senderIp = mSenderIp;
    mLastState.simulatorCommand = mRunCounter;
    send(mLastState);
    ++mStatesSent;
    mStateLock.unlock();
}

void QuvorSimulator::onStopSignalProc()
{
    if (!gCommandDialog) {
        mZeroCountdown = 10;
        return;
    }
    if (gCommandDialog->mSimRunning) {
        mZeroCountdown = 0;
        return;
    }
    if (mZeroCountdown >= 10 || ++mZeroCountdown >= 10) // stays at 10 while idle
        return;
    mRunCounter = (mRunCounter + 1) % 256;
    send(StateDatagram::zeroState(mProductType, mRunCounter));
}

void QuvorSimulator::checkStateGap()
{
    if (!gCommandDialog || !gCommandDialog->mSimRunning) {
        mGap.reset();
        mGapTimer->stop();
        return;
    }
    const QString silent = mGap.check(mClock());
    if (!silent.isEmpty())
        logDefault(LogWarning, "%s", qPrintable(silent));
}

void QuvorSimulator::send(const StateDatagram::State& state)
{
    if (mUdpSend)
        mUdpSend->send(StateDatagram::encode(state));
}

void QuvorSimulator::stopSimulation()
{
    mCountedThisRun = false;
    mNonFiniteReported = false;
    mGap.reset();
    mGapTimer->stop();
    mHeartbeatTimer->stop();
    mFirstReply = true;
    sendSimCommand(cmd::SimEnvironment, StopPayload().encode());
}

namespace {

std::optional<LogDialogValues> dialogValues()
{
    if (!gCommandDialog)
        return std::nullopt;
    return LogDialogValues{gCommandDialog->mFontSize, gCommandDialog->offeredLogTypes,
                           gCommandDialog->excludedLogTypes};
}

} // namespace

void QuvorSimulator::takeDialogValues()
{
    const std::optional<LogDialogValues> values = dialogValues();
    mDeviceLog.setDialogValues(values ? &*values : nullptr);
}

void QuvorSimulator::onLogChanged(LOG_INFO info)
{
    QuvorCommand* dialog = gCommandDialog;
    if (mUdpSend && dialog)
        mUdpSend->setBroadcast(dialog->mUdpBroadcast);

    const std::optional<LogDialogValues> values = dialogValues();
    mDeviceLog.applyOptions(info, values ? &*values : nullptr);

    // Without a dialog there is nothing to save but the log options, and
    // rewriting the file from them alone would lose the user's other choices.
    if (!dialog)
        return;
    writeSettingsFile(mAppDir, dialog->settings());
}

void QuvorSimulator::clearLogWindow() { mDeviceLog.clearWindows(); }
