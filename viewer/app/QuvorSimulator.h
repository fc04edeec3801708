#pragma once

#include "viewer/app/ConfigTarget.h"
#include "viewer/app/Fleet.h"
#include "viewer/app/FlightSnapshot.h"
#include "viewer/app/ReceiveDrops.h"
#include "viewer/app/Recorder.h"
#include "common/StateDatagram.h"
#include "viewer/view/OgreWidget.h"
#include "viewer/view/SceneCamera.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <string>

class QAction;
class QMenu;
class QTimer;
class QUdpSocket;
class AircraftScene;
class QuvorModel;
class ParamsOverlay;
class GlowArea;
class TiledFloor;
namespace Ui {
class QuvorSimulatorClass;
}

// The visualiser's main window: the 3D view, the state receiver and the timers
// that drive camera and repaint. Every sender is an aircraft of its own; the
// camera and the panels follow one of them.
class QuvorSimulator : public OgreWidget, public ConfigTarget {
    Q_OBJECT
public:
    // consoleErrors: a receive port that cannot be opened is reported on the
    // console, not in a modal box (scripted runs must not wait for a click).
    explicit QuvorSimulator(QWidget* parent = nullptr, quint16 udpPort = StateDatagram::Port,
                            bool consoleErrors = false);
    ~QuvorSimulator() override;

    // Scene position of the followed aircraft at world x, y, z.
    Ogre::Vector3 worldToScene(double x, double y, double z);
    void resetFollowCamera();
    // Builds the followed aircraft's model for its product type and points the camera at it.
    void selectModel();
    void releaseModel();
    // Handles one datagram's bytes as if it had arrived on the socket from address:port.
    void handleDatagram(const QByteArray& datagram, const QString& address = QString(), quint16 port = 0);

    // The dialog's changes and trajectory arrive here.
    void applyConfig() override { onTraceChanged(); }
    void replaceTrajectory(const QVector<ScenePoint>& points) override;

    // The followed aircraft: its model, state, panels and trace.
    QuvorModel* currentModel() const;
    const ViewState& viewState() const;
    const FlightSnapshot& snapshot() const;
    bool playbackEnabled() const;
    const ScenePlacement& placement() const;
    const QMap<QString, QString>& paramValues() const;
    const QStringList& paramOrder() const;
    const QList<Ogre::Vector3>& tracePoints() const;
    void appendTracePoint(const Ogre::Vector3& p);
    void clearTracePoints();
    // True while any aircraft runs.
    bool isRunning() const;
    bool hasReceiver() const { return mUdpSocket != nullptr; }
    ParamsOverlay* panels() const { return mPanels.get(); }
    TiledFloor* tiledFloor() const { return mTiledFloor.get(); }
    const Fleet& fleet() const { return mFleet; }
    // The scene of an aircraft, or with none the one shown while no sender came;
    // null before OGRE runs.
    AircraftScene* sceneOf(const Aircraft* aircraft) const;
    // Follows the aircraft `steps` places on in arrival order (Tab and Shift+Tab).
    void followNext(int steps);
    void follow(const Aircraft* aircraft);
    // The camera moves to show every aircraft until the key is pressed again or another aircraft is followed.
    void setOverview(bool on);
    bool overview() const { return mOverview; }
    static constexpr Qt::Key OverviewKey = Qt::Key_V;
    // Milliseconds on a steady clock: when states came, when silent aircraft go.
    using Clock = std::function<qint64()>;
    void setClock(Clock clock) { mClock = std::move(clock); }
    // The right-click menu: "Setup", and with two aircraft or more "Follow" and one item each.
    void fillMenu(QMenu& menu);

    // Scene and camera state.
    float mSpeedRate = 1.0f;
    FollowCamera mFollow;
    // Name prefix of the first aircraft's entities and nodes.
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
    bool frameDrawn() override;
    bool mousePressed(const OgreBites::MouseButtonEvent& evt, int id) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    // What the picture shows of the received states: poses, models, panel texts.
    struct ShownState {
        std::vector<ViewState> views;
        int followed = -1;
        bool playback = false;
        QMap<QString, QString> values;
        bool operator==(const ShownState& other) const;
    };
    ShownState shownState() const;

    void openReceiver(quint16 port, bool consoleErrors);
    // Reads the socket's drop count; says once after a flood what the system dropped.
    void checkDrops();
    void endRun(Aircraft& aircraft);
    // The scene of the aircraft, made when OGRE runs and it has none yet.
    AircraftScene* ensureScene(Aircraft& aircraft);
    // Builds the aircraft's model for its product type; for the followed one
    // the camera and the glow are pointed at it too.
    void selectModel(Aircraft* aircraft);
    void releaseModel(Aircraft* aircraft);
    bool followed(const Aircraft* aircraft) const { return aircraft && aircraft == mFleet.followed(); }
    // The camera, the glow and the panels turn to the followed aircraft.
    void followChanged();
    // Dims the silent aircraft other than the followed one; labels and the list show with two or more.
    void updateFleetLooks();
    void removeSilentAircraft();
    void poseAircraft();
    Ogre::Vector3 followTarget() const;
    ScenePlacement& followedPlacement();
    QString traceTag(const Aircraft& aircraft) const;

    std::unique_ptr<Ui::QuvorSimulatorClass> ui;
    std::unique_ptr<ParamsOverlay> mPanels;
    std::unique_ptr<GlowArea> mGlowArea;
    std::unique_ptr<TiledFloor> mTiledFloor;
    QUdpSocket* mUdpSocket = nullptr;
    std::unique_ptr<ReceiveDrops::Report> mDrops; // null while the system gives no count
    std::unique_ptr<QTimer> mDropTimer;
    QStringList mLocalAddresses;
    Fleet mFleet;
    // The aircraft whose state is being handled (updateUI and startRun act on it).
    Aircraft* mHandled = nullptr;
    // One scene per aircraft; the first is made with the scene and waits for the first sender.
    std::map<const Aircraft*, std::unique_ptr<AircraftScene>> mScenes;
    std::unique_ptr<AircraftScene> mWaitingScene;
    ScenePlacement mWaitingPlacement;
    FixedCameraAim mFixedAim;
    Recorder mRecorder;
    Clock mClock;
    bool mOverview = false;

    // The state as the last frame showed it, and whether that frame moved the follow camera.
    ShownState mShown;
    bool mFollowMoving = false;

    QAction* mSetupAction = nullptr;
    std::unique_ptr<QTimer> mHeartbeatTimer;
    std::unique_ptr<QTimer> mCameraTimer;
    std::unique_ptr<QTimer> mRenderTimer;
};

extern QuvorSimulator* gMainWindow;
