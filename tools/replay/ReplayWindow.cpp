#include "tools/replay/ReplayWindow.h"

#include "tools/replay/ReplayOptions.h"
#include "tools/replay/ReplayPlots.h"

#include "common/Console.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace replay {
namespace {

constexpr int RefreshMs = 30;
constexpr qint64 JumpMs = 5000;

QString speedText(double speed) { return QString::number(speed) + QChar(0xD7); }

} // namespace

ReplayWindow::ReplayWindow(ReplaySender& sender, bool local, ReplayEngine::Clock clock, QWidget* parent)
    : QMainWindow(parent),
      mSender(sender),
      mLocal(local),
      mClock(std::move(clock))
{
    buildUi();
    addShortcuts();
    setAcceptDrops(true);
    mRefresh.setInterval(RefreshMs);
    connect(&mRefresh, &QTimer::timeout, this, &ReplayWindow::refresh);
    setControlsEnabled(false);
    setWindowTitle("QuvorReplay");
    statusBar()->showMessage(
        QString("sending to %1; open a recording (udp.txt or trace.txt)").arg(mSender.targetText()));
}

ReplayWindow::~ReplayWindow() = default;

void ReplayWindow::buildUi()
{
    auto* fileMenu = menuBar()->addMenu("&File");
    QAction* open = fileMenu->addAction("&Open...", this, &ReplayWindow::onOpen);
    open->setShortcut(QKeySequence::Open);
    QAction* quit = fileMenu->addAction("&Quit", this, &QWidget::close);
    quit->setShortcut(QKeySequence::Quit);

    auto* central = new QWidget(this);
    central->setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(central);

    auto* top = new QHBoxLayout;
    mFileLabel = new QLabel("no recording", central);
    mFileLabel->setObjectName("label_file");
    mTimeLabel = new QLabel(central);
    mTimeLabel->setObjectName("label_time");
    QFont big = mTimeLabel->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    mTimeLabel->setFont(big);
    top->addWidget(mFileLabel, 1);
    top->addWidget(mTimeLabel);
    layout->addLayout(top);

    mPlots = new ReplayPlots(central);
    layout->addWidget(mPlots, 1);
    connect(mPlots, &ReplayPlots::seekRequested, this, [this](qint64 ms) {
        if (mEngine) {
            mEngine->seek(ms);
            refresh();
        }
    });

    mSlider = new QSlider(Qt::Horizontal, central);
    mSlider->setObjectName("horizontalSlider_time");
    mSlider->setFocusPolicy(Qt::NoFocus);
    // Dragging, clicking the groove or the wheel: the visualiser follows at once.
    connect(mSlider, &QAbstractSlider::actionTriggered, this, [this](int) {
        if (mEngine) {
            mEngine->seek(mSlider->sliderPosition());
            refresh();
        }
    });
    layout->addWidget(mSlider);

    auto* controls = new QHBoxLayout;
    auto button = [&](const char* name, QStyle::StandardPixmap icon, const QString& tip) {
        auto* b = new QPushButton(style()->standardIcon(icon), QString(), central);
        b->setObjectName(name);
        b->setToolTip(tip);
        b->setFocusPolicy(Qt::NoFocus);
        controls->addWidget(b);
        return b;
    };
    mStepBack = button("pushButton_stepBack", QStyle::SP_MediaSeekBackward, "One state back (Left)");
    mPlay = button("pushButton_play", QStyle::SP_MediaPlay, "Play / pause (Space)");
    mStepForward = button("pushButton_stepForward", QStyle::SP_MediaSeekForward, "One state forward (Right)");
    connect(mStepBack, &QPushButton::clicked, this, [this] {
        if (mEngine) {
            mEngine->step(-1);
            refresh();
        }
    });
    connect(mStepForward, &QPushButton::clicked, this, [this] {
        if (mEngine) {
            mEngine->step(1);
            refresh();
        }
    });
    connect(mPlay, &QPushButton::clicked, this, [this] {
        if (mEngine)
            mEngine->togglePlay();
    });

    controls->addSpacing(12);
    controls->addWidget(new QLabel("Speed", central));
    mSpeed = new QComboBox(central);
    mSpeed->setObjectName("comboBox_speed");
    mSpeed->setFocusPolicy(Qt::NoFocus);
    for (double s : windowSpeeds())
        mSpeed->addItem(speedText(s), s);
    mSpeed->setCurrentIndex(windowSpeeds().indexOf(1.0));
    mSpeed->setToolTip("Speed (+ / -)");
    connect(mSpeed, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int) {
        if (mEngine)
            mEngine->setSpeed(speed());
    });
    controls->addWidget(mSpeed);

    mLoop = new QCheckBox("Loop", central);
    mLoop->setObjectName("checkBox_loop");
    mLoop->setFocusPolicy(Qt::NoFocus);
    connect(mLoop, &QCheckBox::toggled, this, [this](bool on) {
        if (mEngine)
            mEngine->setLoop(on);
    });
    controls->addWidget(mLoop);

    controls->addSpacing(12);
    controls->addWidget(new QLabel("Plot", central));
    mCurve = new QComboBox(central);
    mCurve->setObjectName("comboBox_curve");
    mCurve->setFocusPolicy(Qt::NoFocus);
    mCurve->setToolTip("Another recorded value as a fourth plot");
    mCurve->addItem("(nothing more)");
    connect(mCurve, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (!mRecording)
            return;
        const QString key = index > 0 ? mCurve->itemText(index) : QString();
        mPlots->setExtraCurve(key, key.isEmpty() ? PlotData() : mRecording->keyCurve(key));
    });
    controls->addWidget(mCurve);

    controls->addStretch(1);
    controls->addWidget(new QLabel("Go to", central));
    mTimeEdit = new QLineEdit(central);
    mTimeEdit->setObjectName("lineEdit_time");
    mTimeEdit->setPlaceholderText("m:ss.mmm");
    mTimeEdit->setFocusPolicy(Qt::ClickFocus);
    mTimeEdit->setMaximumWidth(110);
    connect(mTimeEdit, &QLineEdit::returnPressed, this, &ReplayWindow::onTypedTime);
    controls->addWidget(mTimeEdit);
    mGo = new QPushButton("Go", central);
    mGo->setObjectName("pushButton_go");
    mGo->setFocusPolicy(Qt::NoFocus);
    connect(mGo, &QPushButton::clicked, this, &ReplayWindow::onTypedTime);
    controls->addWidget(mGo);
    layout->addLayout(controls);

    setCentralWidget(central);
    central->setFocus();
    resize(1000, 760);
}

void ReplayWindow::addShortcuts()
{
    auto key = [this](const QKeySequence& sequence, std::function<void()> action) {
        auto* s = new QShortcut(sequence, this);
        connect(s, &QShortcut::activated, this, [this, action] {
            if (mEngine) {
                action();
                refresh();
            }
        });
    };
    key(Qt::Key_Space, [this] { mEngine->togglePlay(); });
    key(Qt::Key_Left, [this] { mEngine->step(-1); });
    key(Qt::Key_Right, [this] { mEngine->step(1); });
    key(Qt::SHIFT | Qt::Key_Left, [this] { seekBy(-JumpMs); });
    key(Qt::SHIFT | Qt::Key_Right, [this] { seekBy(JumpMs); });
    key(Qt::Key_Plus, [this] { changeSpeed(1); });
    key(Qt::Key_Equal, [this] { changeSpeed(1); });
    key(Qt::Key_Minus, [this] { changeSpeed(-1); });
    key(Qt::Key_Home, [this] { mEngine->seek(mEngine->player().fromMs()); });
    key(Qt::Key_End, [this] { mEngine->seek(mEngine->player().toMs()); });
}

bool ReplayWindow::openFile(const QString& path)
{
    auto recording = std::make_unique<Recording>();
    QString error;
    if (!recording->open(path, error, mOpenStop)) {
        statusBar()->showMessage(error);
        Console::warning(error);
        return false;
    }
    mRefresh.stop();
    mEngine.reset();
    mRecording = std::move(recording);
    mEngine = std::make_unique<ReplayEngine>(*mRecording, mSender, mLocal, mClock);
    mEngine->setSpeed(speed());
    mEngine->setLoop(mLoop->isChecked());
    connect(mEngine.get(), &ReplayEngine::playingChanged, this, &ReplayWindow::onPlayingChanged);
    connect(mEngine.get(), &ReplayEngine::finished, this, [this] {
        if (!mEngine->paceText().isEmpty())
            statusBar()->showMessage(mEngine->paceText());
    });
    connect(mEngine.get(), &ReplayEngine::failed, this, [this](const QString& message) {
        statusBar()->showMessage(message);
        Console::warning(message);
    });

    const FlightStats& s = mRecording->stats();
    const QString name = QFileInfo(path).fileName();
    mFileLabel->setText(QString("<b>%1</b> &nbsp; duration %2 &nbsp; %3 states")
                            .arg(name.toHtmlEscaped(), clockText(s.durationMs))
                            .arg(s.states));
    mFileLabel->setToolTip(QFileInfo(path).absoluteFilePath());
    setWindowTitle(QString("QuvorReplay - %1").arg(name));
    mSlider->setRange(0, int(std::min<qint64>(s.durationMs, INT_MAX)));
    mSlider->setPageStep(JumpMs);
    mSlider->setSingleStep(100);
    mPlots->setData(mRecording->plots(), s.durationMs);
    {
        // The keys the three plots already show are not offered again.
        const QSignalBlocker block(mCurve);
        mCurve->clear();
        mCurve->addItem("(nothing more)");
        for (const QString& key : mRecording->numericKeys())
            if (!QStringList{"WorldZ", "Roll", "Pitch", "Yaw"}.contains(key))
                mCurve->addItem(key);
    }
    QString status = QString("sending to %1").arg(mSender.targetText());
    if (s.skipped > 0) {
        status += "; " + mRecording->skippedText();
        Console::warning(mRecording->skippedText());
    }
    statusBar()->showMessage(status);
    setControlsEnabled(true);
    onPlayingChanged(false);
    refresh();
    return true;
}

void ReplayWindow::setControlsEnabled(bool enabled)
{
    for (QWidget* w : std::initializer_list<QWidget*>{mSlider, mPlay, mStepBack, mStepForward, mTimeEdit, mGo})
        w->setEnabled(enabled);
}

double ReplayWindow::speed() const { return mSpeed->currentData().toDouble(); }

void ReplayWindow::setSpeed(double speed)
{
    // The nearest offered speed.
    const QVector<double>& speeds = windowSpeeds();
    int best = 0;
    for (int i = 1; i < speeds.size(); ++i)
        if (std::abs(speeds[i] - speed) < std::abs(speeds[best] - speed))
            best = i;
    mSpeed->setCurrentIndex(best);
}

void ReplayWindow::setLoop(bool loop) { mLoop->setChecked(loop); }

void ReplayWindow::setRange(qint64 fromMs, qint64 toMs)
{
    if (mEngine) {
        mEngine->setRange(fromMs, toMs);
        refresh();
    }
}

void ReplayWindow::changeSpeed(int steps)
{
    mSpeed->setCurrentIndex(std::clamp(mSpeed->currentIndex() + steps, 0, mSpeed->count() - 1));
}

void ReplayWindow::seekBy(qint64 deltaMs) { mEngine->seek(mEngine->positionMs() + deltaMs); }

void ReplayWindow::onTypedTime()
{
    if (!mEngine)
        return;
    qint64 ms = 0;
    if (!parseClockText(mTimeEdit->text(), ms)) {
        statusBar()->showMessage(QString("'%1' is not a time; type m:ss.mmm").arg(mTimeEdit->text()), 5000);
        return;
    }
    mEngine->seek(ms);
    centralWidget()->setFocus(); // the keys belong to the player again
    refresh();
}

void ReplayWindow::onPlayingChanged(bool playing)
{
    mPlay->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    if (playing)
        mRefresh.start();
    else
        mRefresh.stop();
    refresh();
}

void ReplayWindow::refresh()
{
    if (!mEngine) {
        mTimeLabel->setText(clockText(0) + " / " + clockText(0));
        return;
    }
    const qint64 ms = mEngine->positionMs();
    mTimeLabel->setText(clockText(ms) + " / " + clockText(mRecording->durationMs()));
    if (!mSlider->isSliderDown()) {
        const QSignalBlocker block(mSlider);
        mSlider->setValue(int(std::min<qint64>(ms, INT_MAX)));
    }
    mPlots->setCursorTime(ms);
    if (mSender.failed() != mFailuresShown) {
        mFailuresShown = mSender.failed();
        statusBar()->showMessage(mSender.failureText());
    }
}

void ReplayWindow::onOpen()
{
    const QString path = QFileDialog::getOpenFileName(this, "Open a recording", QString(),
                                                      "Recordings (udp.txt trace.txt *.txt);;All files (*)");
    if (!path.isEmpty())
        openFile(path);
}

void ReplayWindow::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.first().isLocalFile())
        event->acceptProposedAction();
}

void ReplayWindow::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.first().isLocalFile()) {
        event->acceptProposedAction();
        openFile(urls.first().toLocalFile());
    }
}

} // namespace replay
