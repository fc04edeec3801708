#pragma once

#include "viewer/app/ConfigTarget.h"
#include "viewer/app/FlightSnapshot.h"
#include "viewer/app/ReceiveDrops.h"
#include "viewer/app/Recorder.h"
#include "common/StateDatagram.h"
#include "viewer/view/OgreWidget.h"
#include "viewer/view/SceneCamera.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>

class QAction;
class QTimer;
class QUdpSocket;
class QuvorModel;
class ParamsOverlay;
class GlowArea;
class TiledFloor;
namespace Ui {
class QuvorSimulatorClass;
}

// The visualiser's main window: the 3D view, the state receiver and the timers
// that drive camera and repaint.
class QuvorSimulator : public OgreWidget, public ConfigTarget {
    Q_OBJECT
public:
    // consoleErrors: a receive port that cannot be opened is reported on the
    // console, not in a modal box (scripted runs must not wait for a click).
    explicit QuvorSimulator(QWidget* parent = nullptr, quint16 udpPort = StateDatagram::Port,
                            bool consoleErrors = false);
    ~QuvorSimulator() override;

    Ogre::Vector3 worldToScene(double x, double y, double z);
    void resetFollowCamera();
    void selectModel();
    void releaseModel();
    // Handles one datagram's bytes as if it had arrived on the socket.
    void handleDatagram(const QByteArray& datagram);

    // The dialog's changes and trajectory arrive here.
    void applyConfig() override { onTraceChanged(); }
    void replaceTrajectory(const QVector<ScenePoint>& points) override;

    QuvorModel* currentModel() const { return mModel; }
    const ViewState& viewState() const { return mViewState; }
    const FlightSnapshot& snapshot() const { return mSnapshot; }
    bool playbackEnabled() const { return mFilter.playbackEnabled(); }
    bool isRunning() const { return mRun.running(); }
    bool hasReceiver() const { return mUdpSocket != nullptr; }
    ParamsOverlay* panels() const { return mPanels.get(); }
    TiledFloor* tiledFloor() const { return mTiledFloor.get(); }

    // Scene and camera state.
    float mSpeedRate = 1.0f;
    ScenePlacement mPlacement;
    FollowCamera mFollow;
    // Panel texts of the latest state, in display order.
    QMap<QString, QString> mParamValues;
    QStringList mParamOrder;
    // Name prefix of the aircraft's entities and nodes.
    std::string mContextName;

signals:
    void updateUI();
    void startRun();

public slots:
    void onRun();
    void onUpdateUI();
    void onSimState();
    void onUdpRecv();
    void onShowConfigWindow();
    void onHeartBeat();
    void onCameraMove();
    void onTraceChanged();

protected:
    void createScene() override;
    bool sceneChanging() override;
    void frameBegins() override;
    bool frameStarted(const Ogre::FrameEvent& evt) override;
    bool frameRenderingQueued(const Ogre::FrameEvent& evt) override;
    bool mousePressed(const OgreBites::MouseButtonEvent& evt, int id) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // What the picture shows of the received states: pose, model, panel texts.
    struct ShownState {
        ViewState view;
        bool playback = false;
        QMap<QString, QString> values;
        bool operator==(const ShownState& other) const;
    };
    ShownState shownState() const;

    void openReceiver(quint16 port, bool consoleErrors);
    // Reads the socket's drop count; says once after a flood what the system dropped.
    void checkDrops();
    // False for a state that must not reach the scene: a value that is not
    // finite, or a position beyond what the scene can hold.
    bool showable(const StateDatagram::State& state, const FlightSnapshot& s) const;
    void endRun();
    void poseModel();

    std::unique_ptr<Ui::QuvorSimulatorClass> ui;
    std::unique_ptr<ParamsOverlay> mPanels;
    std::unique_ptr<GlowArea> mGlowArea;
    std::unique_ptr<TiledFloor> mTiledFloor;
    QUdpSocket* mUdpSocket = nullptr;
    std::unique_ptr<ReceiveDrops::Report> mDrops; // null while the system gives no count
    std::unique_ptr<QTimer> mDropTimer;
    DatagramFilter mFilter;
    StateTriggers mTriggers;
    RunTracker mRun;
    FixedCameraAim mFixedAim;
    Recorder mRecorder;
    bool mNewState = false;
    bool mBadStateWarned = false;
    FlightSnapshot mSnapshot;
    ViewState mViewState;
    uint8_t mModelProductType = 0;

    QuvorModel* mTavik = nullptr;
    QuvorModel* mNerio = nullptr;
    QuvorModel* mVx7 = nullptr;
    QuvorModel* mModel = nullptr;
    // The state as the last frame showed it, and whether that frame moved the follow camera.
    ShownState mShown;
    bool mFollowMoving = false;

    QAction* mSetupAction = nullptr;
    std::unique_ptr<QTimer> mHeartbeatTimer;
    std::unique_ptr<QTimer> mCameraTimer;
    std::unique_ptr<QTimer> mRenderTimer;
};

extern QuvorSimulator* gMainWindow;
