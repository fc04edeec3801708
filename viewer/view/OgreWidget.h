#pragma once

#include <QColor>
#include <QGLWidget>
#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>

#include "viewer/view/FramePacer.h"
#include "viewer/view/LineDrawer.h"

#include <OgreFrameListener.h>
#include <OgreVector.h>
#include <Bites/OgreInput.h>
#include <Bites/OgreTrays.h>
#include <Bites/OgreWindowEventUtilities.h>

namespace Ogre {
class Camera;
class ManualObject;
class OverlaySystem;
class RenderWindow;
class Root;
class SceneManager;
class SceneNode;
class Viewport;
} // namespace Ogre
namespace OgreBites {
class CameraMan;
}

// The process's one OGRE root, created by the first widget and kept to the end.
extern Ogre::Root* gRoot;

// UTF-8 to the local 8-bit code page; new[]-allocated (caller delete[]s), null for null input.
char* utf8ToAnsi(const char* text);
// Native handle of the widget's window, or of its native parent's, or 0.
quintptr nativeWindowHandle(QWidget* widget);

// Pure rules of the widget, kept apart so they can be checked without a window.
namespace OgreWidgetRules {
// PATH with the application directory appended once (":"-separated on this system).
QByteArray pathWithAppDir(const QByteArray& path, const QByteArray& appDir);
// A "resources.cfg" location: "./x" and ".\x" become appDir + "/x"; values of
// two characters or fewer are skipped (empty result).
QString resolveResourceLocation(const QString& value, const QString& appDir);
// Mouse input counts only strictly inside the view: the border column and row are ignored.
bool insideView(int x, int y, int width, int height);
} // namespace OgreWidgetRules

// Qt widget hosting an OGRE render window on its own native window. Input comes
// from Qt events, translated into the OgreBites structures the camera man and
// tray manager expect.
class OgreWidget : public QGLWidget,
                   public Ogre::FrameListener,
                   public OgreBites::WindowEventListener,
                   public OgreBites::TrayListener {
    Q_OBJECT
public:
    explicit OgreWidget(QWidget* parent = nullptr);
    ~OgreWidget() override;

    // Runs the start-up sequence; called only by BackgroundWorker::run().
    void initOgre();
    bool isInitialised() const { return mInitialised; }

    // The trajectory's point list (drawn by its line drawer) and whether the traces show.
    void setTraceVisible(bool on);
    bool traceVisible() const { return mTraceVisible; }
    void markTrajDirty();
    void appendTrajPoint(const Ogre::Vector3& p) { mTrajPoints.append(p); }
    void clearTrajPoints() { mTrajPoints.clear(); }
    void destroyTrajDrawer();

    // The next render tick draws a frame: something outside the frame changed the picture.
    void requestFrame() { mPacer.request(); }
    const FramePacer& pacer() const { return mPacer; }

    // Writes the rendered picture to a PNG once `afterFrames` more frames were drawn.
    void requestScreenshot(const QString& file, int afterFrames);
    // Renders into the back buffer and reads it back as RGB (empty if not initialised).
    QImage grabFrame();

    // Input handlers, fed from Qt's events (the window may override them).
    virtual bool keyPressed(const OgreBites::KeyboardEvent& evt);
    virtual bool keyReleased(const OgreBites::KeyboardEvent& evt);
    virtual bool mouseMoved(const OgreBites::MouseMotionEvent& evt, int wheelDelta);
    virtual bool mousePressed(const OgreBites::MouseButtonEvent& evt, int id);
    virtual bool mouseReleased(const OgreBites::MouseButtonEvent& evt, int id);

    bool frameRenderingQueued(const Ogre::FrameEvent& evt) override;
    void windowResized(Ogre::RenderWindow* window) override;

    Ogre::SceneManager* mSceneMgr = nullptr;
    Ogre::RenderWindow* mWindow = nullptr;
    Ogre::Viewport* mViewport = nullptr;
    Ogre::Camera* mCamera = nullptr;
    // CameraMan in OGRE 1.12 moves a scene node; the camera hangs on it.
    Ogre::SceneNode* mCameraNode = nullptr;
    OgreBites::CameraMan* mCameraMan = nullptr;
    OgreBites::TrayManager* mTrayMgr = nullptr;
    Ogre::OverlaySystem* mOverlaySystem = nullptr;
    QMutex stateLock;

public slots:
    // Does nothing: the sky and the floor fill the view, and a caller that
    // connects a colour to the view still finds the slot.
    void setBackgroundColor(QColor) { }
    // One tick of the render timer: repaints only when the picture can have changed.
    void renderTick();

signals:
    // Emitted after every rendered frame (tests and benchmarks wait on it).
    void frameRendered();
    // The requested screenshot could not be written (the reason is on the console).
    void screenshotFailed();

protected:
    class BackgroundWorker : public QThread {
    public:
        explicit BackgroundWorker(OgreWidget* widget) : mWidget(widget) { }
        void run() override;

    private:
        OgreWidget* mWidget;
    };

    virtual void createScene() { }
    // True while the scene moves by itself or its inputs differ from the last frame.
    virtual bool sceneChanging();
    // Called at the start of every frame, before OGRE renders it.
    virtual void frameBegins() { }
    // Called after every frame, where lines catch up with what changed; true
    // when that changed the scene, which then shows in the next frame.
    virtual bool frameDrawn() { return false; }
    virtual void configure();
    virtual void createRenderWindow();
    virtual void createSceneManager();
    virtual void setupResources();
    virtual void createCamera();
    virtual void createInput();

    void initializeGL() override { }
    void resizeGL(int, int) override { }
    void paintGL() override { }
    QPaintEngine* paintEngine() const override { return nullptr; }
    void paintEvent(QPaintEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

    BackgroundWorker* mWorker = nullptr;
    bool mInitialised = false;
    bool mMouseHeld = false;
    // The red trajectory, a manual object on its own node (each aircraft draws its own trace).
    LineDrawer mTrajDrawer{"mTrajDrawer", "TrajMaterialUI", Ogre::ColourValue(1, 0, 0)};
    bool mTraceVisible = false;
    bool mTrajDirty = false;
    QList<Ogre::Vector3> mTrajPoints;
    FramePacer mPacer;
    // Seconds the animations advance in the frame being drawn (see FramePacer).
    float mAnimationStep = 0;

private:
    void createRoot();
    void writeScreenshot();
    bool saveScreenshot(const QImage& image, QString& reason) const;
    OgreBites::MouseButtonEvent buttonEvent(QMouseEvent* event, int type) const;

    QPoint mLastMouse;
    QString mScreenshotFile;
    int mScreenshotCountdown = -1;
};
