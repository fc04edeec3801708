#include "viewer/view/OgreWidget.h"
#include "common/Console.h"

#include "common/AppDirs.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWindow>

#include <Ogre.h>
#include <OgreAnimationState.h>
#include <OgreConfigFile.h>
#include <OgreOverlaySystem.h>
#include <Bites/OgreCameraMan.h>

#include <clocale>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

Ogre::Root* gRoot = nullptr;

namespace {
QMutex gRootMutex;
int gTrayCounter = 0;

qint64 monotonicNs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.nsecsElapsed();
}

// Folder of OGRE's configuration files and of the "./" resource locations.
QString appDir() { return appDirs().resourceDir; }

// Owned copy of the local 8-bit form of a UTF-8 QString, for OGRE's char APIs.
std::string ansi(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    char* converted = utf8ToAnsi(utf8.constData());
    std::string result(converted ? converted : "");
    delete[] converted;
    return result;
}

// The working folder in the build tree; an installed program may have been
// started anywhere, so its log goes to the user's data folder.
std::string ogreLogName()
{
    const AppDirs& dirs = appDirs();
    return dirs.installed ? ansi(dirs.dataDir + "/Ogre.log") : std::string("Ogre.log");
}

OgreBites::Keycode keycodeOf(const QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Up: return OgreBites::SDLK_UP;
    case Qt::Key_Down: return OgreBites::SDLK_DOWN;
    case Qt::Key_Left: return OgreBites::SDLK_LEFT;
    case Qt::Key_Right: return OgreBites::SDLK_RIGHT;
    case Qt::Key_PageUp: return OgreBites::SDLK_PAGEUP;
    case Qt::Key_PageDown: return OgreBites::SDLK_PAGEDOWN;
    case Qt::Key_Shift: return OgreBites::SDLK_LSHIFT;
    case Qt::Key_Escape: return OgreBites::SDLK_ESCAPE;
    case Qt::Key_Space: return OgreBites::SDLK_SPACE;
    default: break;
    }
    const int key = event->key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return 'a' + (key - Qt::Key_A);
    if (key >= 0x20 && key < 0x7f)
        return key;
    return 0;
}

OgreBites::KeyboardEvent keyboardEvent(const QKeyEvent* event, int type)
{
    OgreBites::KeyboardEvent evt{};
    evt.type = type;
    evt.keysym.sym = keycodeOf(event);
    if (event->modifiers() & Qt::ShiftModifier)
        evt.keysym.mod |= OgreBites::KMOD_SHIFT;
    evt.repeat = event->isAutoRepeat() ? 1 : 0;
    return evt;
}

int buttonId(Qt::MouseButton button)
{
    switch (button) {
    case Qt::RightButton: return OgreBites::BUTTON_RIGHT;
    case Qt::MiddleButton: return OgreBites::BUTTON_MIDDLE;
    default: return OgreBites::BUTTON_LEFT;
    }
}
} // namespace

char* utf8ToAnsi(const char* text)
{
    if (!text)
        return nullptr;
    const QByteArray local = QString::fromUtf8(text).toLocal8Bit();
    char* result = new char[local.size() + 1];
    std::memcpy(result, local.constData(), local.size() + 1);
    return result;
}

quintptr nativeWindowHandle(QWidget* widget)
{
    if (!widget)
        return 0;
    if (QWindow* window = widget->windowHandle())
        return window->winId();
    QWidget* parent = widget->nativeParentWidget();
    if (parent && parent->windowHandle())
        return parent->windowHandle()->winId();
    return 0;
}

namespace OgreWidgetRules {
QByteArray pathWithAppDir(const QByteArray& path, const QByteArray& appDir)
{
    if (path.contains(appDir))
        return path;
    return path + ":" + appDir;
}

QString resolveResourceLocation(const QString& value, const QString& appDir)
{
    if (value.size() <= 2)
        return QString();
    if (value.startsWith("./") || value.startsWith(".\\"))
        return appDir + value.mid(1);
    return value;
}

bool insideView(int x, int y, int width, int height) { return x != 0 && x != width && y != 0 && y != height; }
} // namespace OgreWidgetRules

OgreWidget::OgreWidget(QWidget* parent) : QGLWidget(parent)
{
    // Numbers in files and datagrams must keep a dot whatever the environment says.
    std::setlocale(LC_NUMERIC, "C");

    mWorker = new BackgroundWorker(this);
    setAttribute(Qt::WA_PaintOnScreen);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::ClickFocus);
    // OGRE draws into this window and swaps its buffers itself.
    setAutoBufferSwap(false);
    setMouseTracking(true);
    createRoot();
}

OgreWidget::~OgreWidget()
{
    if (gRoot)
        gRoot->removeFrameListener(this);
    if (mWindow)
        OgreBites::WindowEventUtilities::removeWindowEventListener(mWindow, this);
    delete mWorker;
}

void OgreWidget::createRoot()
{
    const QByteArray dir = QByteArray(ansi(appDirs().programDir).c_str());
    const QByteArray path = qgetenv("PATH");
    const QByteArray newPath = OgreWidgetRules::pathWithAppDir(path, dir);
    if (newPath != path)
        qputenv("PATH", newPath);

    QMutexLocker lock(&gRootMutex);
    if (gRoot)
        return;
    // A log manager made first keeps OGRE from echoing its whole log to stdout.
    if (!Ogre::LogManager::getSingletonPtr()) {
        auto* logs = new Ogre::LogManager();
        logs->createLog(ogreLogName(), true, false, false);
    }
    // The GL render system needs an X11 display, and its load failure cannot be caught
    // safely (the exception lives in the plugin that is unloaded while it unwinds).
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        Console::out(QStringLiteral("Ogre exception: the 3D view needs an X11 display (Qt platform \"%1\")\n")
                         .arg(QGuiApplication::platformName()),
                     Console::Flush::Now);
        return;
    }
    gRoot = new Ogre::Root(ansi(appDir() + "/plugins.cfg"), ansi(appDir() + "/ogre.cfg"), ogreLogName());
}

void OgreWidget::showEvent(QShowEvent* event)
{
    if (!mInitialised)
        mWorker->run();
    QGLWidget::showEvent(event);
}

void OgreWidget::BackgroundWorker::run()
{
    OgreWidget* w = mWidget;
    if (!gRoot)
        return;
    QMutexLocker lock(&w->stateLock);
    try {
        w->initOgre();
        w->mWindow->resize(w->width(), w->height());
        w->mWindow->windowMovedOrResized();
        w->mCamera->setAspectRatio(float(w->width()) / float(w->height()));
        w->mInitialised = true;
    } catch (const Ogre::Exception& e) {
        Console::out(("Ogre exception: " + e.getFullDescription() + "\n").c_str(), Console::Flush::Now);
    }
}

void OgreWidget::initOgre()
{
    configure();
    gRoot->initialise(false, "OGRE Render Window");
    createRenderWindow();
    createSceneManager();
    setupResources();
    createCamera();
    createInput();

    mCameraMan = new OgreBites::CameraMan(mCameraNode);
    mCameraMan->setStyle(OgreBites::CS_ORBIT);

    Ogre::ResourceGroupManager::getSingleton().initialiseAllResourceGroups();

    mTrayMgr = new OgreBites::TrayManager("OgreTrayManger" + std::to_string(++gTrayCounter), mWindow, this);

    createScene();

    gRoot->addFrameListener(this);
    OgreBites::WindowEventUtilities::addWindowEventListener(mWindow, this);
}

void OgreWidget::configure()
{
    if (!gRoot->restoreConfig())
        gRoot->showConfigDialog(nullptr);
}

void OgreWidget::createRenderWindow()
{
    char handle[64];
    std::snprintf(handle, sizeof handle, "%llu", static_cast<unsigned long long>(nativeWindowHandle(this)));
    if (std::strcmp(handle, "0") == 0) {
        // Not native yet: winId() creates the native window.
        std::snprintf(handle, sizeof handle, "%llu", static_cast<unsigned long long>(winId()));
    }
    Ogre::NameValuePairList params;
    params["externalWindowHandle"] = handle;
    mWindow = gRoot->createRenderWindow(std::string("Ogre Rendering #") + handle, width(), height(), false, &params);
}

void OgreWidget::createSceneManager()
{
    mSceneMgr = gRoot->createSceneManager();
    // Must exist before the resource groups are initialised, or the trays stay invisible.
    mOverlaySystem = new Ogre::OverlaySystem();
    mSceneMgr->addRenderQueueListener(mOverlaySystem);
}

void OgreWidget::setupResources()
{
    Ogre::ConfigFile cf;
    cf.load(ansi(appDir() + "/resources.cfg"), "\t:=", true);
    const QString dir = QString::fromLocal8Bit(ansi(appDir()).c_str());
    auto& groups = Ogre::ResourceGroupManager::getSingleton();
    for (const auto& section : cf.getSettingsBySection()) {
        for (const auto& setting : section.second) {
            const QString location =
                OgreWidgetRules::resolveResourceLocation(QString::fromLocal8Bit(setting.second.c_str()), dir);
            if (location.isEmpty())
                continue;
            groups.addResourceLocation(location.toLocal8Bit().toStdString(), setting.first, section.first, false, true);
        }
    }
}

void OgreWidget::createCamera()
{
    mCamera = mSceneMgr->createCamera("mCamera");
    mCameraNode = mSceneMgr->getRootSceneNode()->createChildSceneNode("mCameraNode");
    mCameraNode->attachObject(mCamera);
    mCameraNode->setPosition(0, 50, 150);
    mCameraNode->lookAt(Ogre::Vector3(0, 0, 0), Ogre::Node::TS_WORLD);
    mCamera->setNearClipDistance(5);

    mViewport = mWindow->addViewport(mCamera, 0, 0, 0, 1, 1);
    mViewport->setBackgroundColour(Ogre::ColourValue(0, 0, 0, 1));
    mCamera->setAspectRatio(float(width()) / float(height()));
}

void OgreWidget::createInput()
{
    // Input comes from Qt's events; only the extents need setting up.
    windowResized(mWindow);
}

void OgreWidget::renderTick()
{
    if (!gRoot || !mInitialised)
        return;
    if (mPacer.tick(monotonicNs(), sceneChanging()))
        update();
}

bool OgreWidget::sceneChanging()
{
    if (mScreenshotCountdown > 0)
        return true;
    if (!mSceneMgr)
        return false;
    // Fans turning, arms swinging: any enabled animation that has not run out.
    for (const auto& entry : mSceneMgr->getAnimationStates()) {
        const Ogre::AnimationState* state = entry.second;
        if (state->getEnabled() && (state->getLoop() || !state->hasEnded()))
            return true;
    }
    return false;
}

void OgreWidget::paintEvent(QPaintEvent*)
{
    // Every paint draws, whether a tick or the window system (expose, resize) asked for it.
    if (!gRoot || !mInitialised)
        return;
    mAnimationStep = float(mPacer.beginFrame(monotonicNs()));
    frameBegins();
    gRoot->renderOneFrame();
    // Lines follow the frame, so every change made between two paints shows in the next one.
    if (mSceneMgr) {
        const bool trajChanged = mTrajDrawer.updateTrajectory(mSceneMgr, mTrajPoints, mTrajDirty);
        const bool linesChanged = frameDrawn();
        if (trajChanged || linesChanged)
            requestFrame();
    }
    if (mScreenshotCountdown > 0 && --mScreenshotCountdown == 0)
        writeScreenshot();
    emit frameRendered();
}

bool OgreWidget::frameRenderingQueued(const Ogre::FrameEvent& evt)
{
    if (!mInitialised)
        return true;
    if (mCameraMan)
        mCameraMan->frameRendered(evt);
    if (mTrayMgr)
        mTrayMgr->frameRendered(evt);
    return true;
}

void OgreWidget::windowResized(Ogre::RenderWindow*)
{
    // The Qt events carry widget coordinates already; nothing to tell an input system.
}

void OgreWidget::moveEvent(QMoveEvent* event)
{
    QGLWidget::moveEvent(event);
    if (event->isAccepted() && mInitialised) {
        mWindow->windowMovedOrResized();
        requestFrame();
    }
}

void OgreWidget::resizeEvent(QResizeEvent* event)
{
    const QSize size = event->size();
    if (mWindow) {
        static QPoint lastPos = pos();
        static bool wasMaximised = false;
        if (window()->isMaximized()) {
            lastPos = pos();
            wasMaximised = true;
            mWindow->reposition(0, 0);
        } else if (wasMaximised) {
            mWindow->reposition(lastPos.x(), lastPos.y());
            wasMaximised = false;
        } else {
            lastPos = pos();
        }
        // For an external window windowMovedOrResized alone does not resize in OGRE 1.12.
        mWindow->resize(size.width(), size.height());
        mWindow->windowMovedOrResized();
        windowResized(mWindow);
    }
    if (mCamera && size.height() > 0)
        mCamera->setAspectRatio(float(size.width()) / float(size.height()));
    requestFrame();
}

void OgreWidget::keyPressEvent(QKeyEvent* event) { keyPressed(keyboardEvent(event, OgreBites::KEYDOWN)); }

void OgreWidget::keyReleaseEvent(QKeyEvent* event) { keyReleased(keyboardEvent(event, OgreBites::KEYUP)); }

void OgreWidget::mouseMoveEvent(QMouseEvent* event)
{
    OgreBites::MouseMotionEvent evt{};
    evt.type = OgreBites::MOUSEMOTION;
    evt.x = event->x();
    evt.y = event->y();
    evt.xrel = event->x() - mLastMouse.x();
    evt.yrel = event->y() - mLastMouse.y();
    mLastMouse = event->pos();
    mouseMoved(evt, 0);
}

void OgreWidget::wheelEvent(QWheelEvent* event)
{
    OgreBites::MouseMotionEvent evt{};
    evt.type = OgreBites::MOUSEWHEEL;
    evt.x = int(event->position().x());
    evt.y = int(event->position().y());
    mouseMoved(evt, event->angleDelta().y());
}

OgreBites::MouseButtonEvent OgreWidget::buttonEvent(QMouseEvent* event, int type) const
{
    OgreBites::MouseButtonEvent evt{};
    evt.type = type;
    evt.x = event->x();
    evt.y = event->y();
    evt.button = static_cast<unsigned char>(buttonId(event->button()));
    evt.clicks = 1;
    return evt;
}

void OgreWidget::mousePressEvent(QMouseEvent* event)
{
    mLastMouse = event->pos();
    const OgreBites::MouseButtonEvent evt = buttonEvent(event, OgreBites::MOUSEBUTTONDOWN);
    mousePressed(evt, evt.button);
}

void OgreWidget::mouseReleaseEvent(QMouseEvent* event)
{
    const OgreBites::MouseButtonEvent evt = buttonEvent(event, OgreBites::MOUSEBUTTONUP);
    mouseReleased(evt, evt.button);
}

bool OgreWidget::keyPressed(const OgreBites::KeyboardEvent& evt)
{
    requestFrame();
    if (mCameraMan)
        mCameraMan->keyPressed(evt);
    return true;
}

bool OgreWidget::keyReleased(const OgreBites::KeyboardEvent& evt)
{
    if (mCameraMan)
        mCameraMan->keyReleased(evt);
    return true;
}

bool OgreWidget::mouseMoved(const OgreBites::MouseMotionEvent& evt, int wheelDelta)
{
    if (!mInitialised || !mCameraMan || !mWindow)
        return true;
    if (!OgreWidgetRules::insideView(evt.x, evt.y, int(mWindow->getWidth()), int(mWindow->getHeight())))
        return true;
    Ogre::SceneNode* target = mCameraMan->getTarget();
    const Ogre::Vector3 targetPos = target ? target->_getDerivedPosition() : Ogre::Vector3::ZERO;
    const float dist = (mCameraNode->_getDerivedPosition() - targetPos).length();
    if (wheelDelta != 0) { // each wheel step zooms by a fraction of the current distance
        mCameraNode->translate(0, 0, -wheelDelta * 0.0008f * dist, Ogre::Node::TS_LOCAL);
        requestFrame();
    }
    if (mMouseHeld && evt.type == OgreBites::MOUSEMOTION) {
        requestFrame();
        mTrayMgr->mouseMoved(evt);
        mCameraMan->mouseMoved(evt);
    }
    return true;
}

bool OgreWidget::mousePressed(const OgreBites::MouseButtonEvent& evt, int id)
{
    if (id == OgreBites::BUTTON_RIGHT || !mInitialised || !mCameraMan)
        return true;
    mMouseHeld = true;
    requestFrame();
    mTrayMgr->mousePressed(evt);
    mCameraMan->mousePressed(evt);
    return true;
}

bool OgreWidget::mouseReleased(const OgreBites::MouseButtonEvent& evt, int)
{
    mMouseHeld = false;
    if (!mInitialised || !mCameraMan)
        return true;
    requestFrame();
    mTrayMgr->mouseReleased(evt);
    mCameraMan->mouseReleased(evt);
    return true;
}

void OgreWidget::setTraceVisible(bool on)
{
    if (on != mTraceVisible)
        requestFrame();
    mTraceVisible = on;
}

void OgreWidget::markTrajDirty()
{
    mTrajDirty = true;
    requestFrame();
}

void OgreWidget::destroyTrajDrawer()
{
    mTrajDrawer.destroy(mSceneMgr);
    requestFrame();
}

void OgreWidget::requestScreenshot(const QString& file, int afterFrames)
{
    mScreenshotFile = file;
    mScreenshotCountdown = afterFrames < 1 ? 1 : afterFrames;
}

QImage OgreWidget::grabFrame()
{
    if (!mInitialised || !mWindow)
        return QImage();
    // The front buffer reads black on software GL: render again without swapping and read the back.
    mWindow->update(false);
    QImage image(int(mWindow->getWidth()), int(mWindow->getHeight()), QImage::Format_RGBA8888);
    Ogre::PixelBox box(mWindow->getWidth(), mWindow->getHeight(), 1, Ogre::PF_BYTE_RGBA, image.bits());
    mWindow->copyContentsToMemory(box, box, Ogre::RenderTarget::FB_BACK);
    return image.convertToFormat(QImage::Format_RGB888);
}

namespace {

// The PNG into file, already open; false with the reason otherwise.
bool savePng(const QImage& image, QFile& file, QString& reason)
{
    QImageWriter writer(&file, "PNG");
    if (!writer.write(image)) {
        reason = file.error() != QFileDevice::NoError ? file.errorString() : writer.errorString();
        return false;
    }
    if (!file.flush()) {
        reason = file.errorString();
        return false;
    }
    return true;
}

} // namespace

// A device or a pipe is written into; renaming over it would replace it. A
// file is written beside and renamed over the old one, so that a reader never
// sees half a file.
bool OgreWidget::saveScreenshot(const QImage& image, QString& reason) const
{
    if (image.isNull()) {
        reason = QStringLiteral("nothing was rendered");
        return false;
    }
    const QFileInfo target(mScreenshotFile);
    if (target.exists() && !target.isFile()) {
        QFile file(mScreenshotFile);
        if (file.open(QIODevice::WriteOnly))
            return savePng(image, file, reason);
        reason = file.errorString();
        return false;
    }
    QFile file(mScreenshotFile + ".part");
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        reason = file.errorString();
        return false;
    }
    if (savePng(image, file, reason)) {
        file.close();
        if (::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(mScreenshotFile).constData()) ==
            0)
            return true;
        reason = QString::fromLocal8Bit(std::strerror(errno));
    }
    file.remove();
    return false;
}

void OgreWidget::writeScreenshot()
{
    QString reason;
    if (saveScreenshot(grabFrame(), reason))
        return;
    Console::err(QStringLiteral("could not write screenshot %1: %2\n").arg(mScreenshotFile, reason));
    emit screenshotFailed();
}
