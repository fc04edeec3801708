#include "host/QuvorCommand.h"

#include "host/DeviceLog.h"
#include "host/HostPaths.h"
#include "host/HostSettings.h"
#include "host/QuvorSimulator.h"
#include "host/QuvorVersion.h"
#include "host/SimCommands.h"
#include "ui_QuvorCommand.h"

#include "link/ConsoleLog.h"
#include "link/Connector.h"

#include "common/WindowPair.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QLabel>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QThread>
#include <QTimer>
#include <QWhatsThis>

QuvorCommand* gCommandDialog = nullptr;
bool gStartupPending = true;

QuvorCommand::QuvorCommand(const QString& appDir, QWidget* parent)
    : QDialog(parent),
      ui(new Ui::QuvorCommand),
      mAppDir(appDir)
{
    ui->setupUi(this);
    setWindowIcon(hostWindowIcon());
    setWindowFlag(Qt::WindowContextHelpButtonHint, true);
    gCommandDialog = this;
    mSimRunning = false;
    setAttribute(Qt::WA_QuitOnClose, true);
    ui->tabWidget_config->setCurrentIndex(0);

    offeredLogTypes = allLogTypes();
    excludedLogTypes.clear();
    ui->listWidget_log->clear();
    mSettings = HostSettings::defaults(mAppDir);

    {
        // The form wires its signals; setting up the initial values must not
        // run the slots (they would push options and write the settings file).
        const QSignalBlocker blockLon(ui->doubleSpinBox_longtitude);
        const QSignalBlocker blockLat(ui->doubleSpinBox_latitude);
        const QSignalBlocker blockFont(ui->spinBox_fontSize);
        ui->doubleSpinBox_longtitude->setValue(mSettings.m_longitude);
        ui->doubleSpinBox_latitude->setValue(mSettings.m_latitude);
        mSettings.m_longitude = ui->doubleSpinBox_longtitude->value();
        mSettings.m_latitude = ui->doubleSpinBox_latitude->value();
        showMembers();
    }
    setRunning(false);

    // Most X11 and Wayland window managers draw no context-help button, so
    // the about box also answers the usual help key.
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, [] {
        if (gVersionBox)
            gVersionBox->show();
    });

    mStartupTimer = new QTimer(this);
    connect(mStartupTimer, &QTimer::timeout, this, &QuvorCommand::onStartupTick);
    mStartupTimer->start(300);
    mConnectionTimer = new QTimer(this);
    connect(mConnectionTimer, &QTimer::timeout, this, &QuvorCommand::onCheckConnection);
    mConnectionTimer->start(1000);
    // In the free band between the option groups and the check boxes, so no
    // control of the form moves.
    mStatusLabel = new QLabel(ui->tab);
    mStatusLabel->setObjectName(QStringLiteral("label_status"));
    mStatusLabel->setGeometry(20, 138, 460, 20);
    mStatusTimer = new QTimer(this);
    connect(mStatusTimer, &QTimer::timeout, this, &QuvorCommand::showStatus);
    mStatusTimer->start(1000);
    showStatus();
}

QString hostStatusTitle(bool connected, bool simulating, int statesPerSecond)
{
    QString state = connected ? QStringLiteral("connected") : QStringLiteral("no aircraft connected");
    if (simulating)
        state += QStringLiteral(", simulating, %1 states/s").arg(statesPerSecond);
    return QStringLiteral("Simulator Config \u2014 ") + state;
}

void QuvorCommand::showStatus()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const quint64 sent = gSimulator ? gSimulator->statesSent() : 0;
    int rate = 0;
    if (mLastStatusMs >= 0 && now > mLastStatusMs)
        rate = int(qRound64(double(sent - mStatesAtLastStatus) * 1000.0 / double(now - mLastStatusMs)));
    mStatesAtLastStatus = sent;
    mLastStatusMs = now;
    const bool connected = qConnector::instance() && qConnector::instance()->isConnected();
    const QString title = hostStatusTitle(connected, mSimRunning, rate);
    setWindowTitle(title);
    mStatusLabel->setText(title.section(QStringLiteral(" \u2014 "), 1));
}

void QuvorCommand::placeBesideView()
{
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(WindowPair::place(screen->availableGeometry()).dialog);
}

QuvorCommand::~QuvorCommand()
{
    // Readers test the pointer, so a dialog that goes first must not leave it dangling.
    if (gCommandDialog == this)
        gCommandDialog = nullptr;
    delete ui;
}

double QuvorCommand::latitude() const { return mSettings.m_latitude; }

double QuvorCommand::longitude() const { return mSettings.m_longitude; }

LOG_INFO QuvorCommand::logInfo() const
{
    LOG_INFO info;
    info.save = m_save;
    info.time = m_time;
    info.info = m_info;
    info.show = m_show;
    info.path = m_path;
    return info;
}

QString QuvorCommand::pathLabel() const { return QStringLiteral("save path:\"") + m_path + QStringLiteral("\""); }

void QuvorCommand::showMembers()
{
    ui->checkBox_udp->setChecked(mUdpBroadcast);
    ui->checkBox_autoUI->setChecked(mAutoUI);
    ui->checkBox_time->setChecked(m_time);
    ui->checkBox_save->setChecked(m_save);
    ui->checkBox_info->setChecked(m_info);
    ui->checkBox_show->setChecked(m_show);
    ui->label_path->setText(pathLabel());
    ui->spinBox_fontSize->setValue(mFontSize);
}

void QuvorCommand::setRunning(bool running)
{
    mSimRunning = running;
    ui->pushButton_enter->setEnabled(!running);
    ui->pushButton_exit->setEnabled(running);
}

void QuvorCommand::pushLogOptions()
{
    if (gSimulator)
        gSimulator->onLogChanged(logInfo());
}

void QuvorCommand::loadSettings()
{
    const HostSettings s = readSettingsFile(mAppDir);
    // The position is the spin boxes' until they have taken the file's values.
    const double latitude = mSettings.m_latitude;
    const double longitude = mSettings.m_longitude;
    mSettings = s;
    mSettings.m_latitude = latitude;
    mSettings.m_longitude = longitude;
    // These run the slots when the value changes, so each may save the file;
    // the spin boxes clamp out-of-range values and the clamped value is kept.
    ui->doubleSpinBox_longtitude->setValue(s.m_longitude);
    ui->doubleSpinBox_latitude->setValue(s.m_latitude);
    mSettings.m_longitude = ui->doubleSpinBox_longtitude->value();
    mSettings.m_latitude = ui->doubleSpinBox_latitude->value();
    showMembers();
    mFontSize = ui->spinBox_fontSize->value();
}

void QuvorCommand::on_pushButton_enter_clicked()
{
    sendSimCommand(cmd::SimHeartbeat, sim_heartbeat_t::startRequest().encode());
    setRunning(true);
}

void QuvorCommand::stopRun()
{
    if (gSimulator)
        gSimulator->stopSimulation();
    setRunning(false);
}

void QuvorCommand::on_pushButton_exit_clicked() { stopRun(); }

void QuvorCommand::appendLog(int logLevel, const QString& szText)
{
    logDefault(logLevel, "%s", szText.toLatin1().constData());
}

void QuvorCommand::onLogTime()
{
    m_time = ui->checkBox_time->isChecked();
    pushLogOptions();
}

void QuvorCommand::onLogSave()
{
    m_save = ui->checkBox_save->isChecked();
    pushLogOptions();
}

void QuvorCommand::onLogInfo()
{
    m_info = ui->checkBox_info->isChecked();
    pushLogOptions();
}

void QuvorCommand::onLogShow()
{
    m_show = ui->checkBox_show->isChecked();
    pushLogOptions();
}

void QuvorCommand::onAutoUI()
{
    mAutoUI = ui->checkBox_autoUI->isChecked();
    pushLogOptions();
}

void QuvorCommand::onUdpPro()
{
    mUdpBroadcast = ui->checkBox_udp->isChecked();
    pushLogOptions();
}

void QuvorCommand::onFontSize(int value)
{
    mFontSize = value;
    pushLogOptions();
}

void QuvorCommand::onLongtitude(double value)
{
    mSettings.m_longitude = value;
    pushLogOptions();
}

void QuvorCommand::onLatitude(double value)
{
    mSettings.m_latitude = value;
    pushLogOptions();
}

void QuvorCommand::onLogPath()
{
    const QString dir =
        QFileDialog::getExistingDirectory(this, QStringLiteral("select a path"), QString(), QFileDialog::ShowDirsOnly);
    if (dir.isEmpty())
        return;
    m_path = QDir::fromNativeSeparators(dir) + QStringLiteral("/LOG_FILES/");
    ui->label_path->setText(pathLabel());
    makeFolder(m_path);
    pushLogOptions();
}

void QuvorCommand::onLogClear()
{
    if (gSimulator)
        gSimulator->clearLogWindow();
}

void QuvorCommand::onShowUI()
{
    startVisualiser(mAppDir);
    placeBesideView();
}

void QuvorCommand::onLogListClick(QListWidgetItem* item)
{
    if (!item)
        return;
    excludedLogTypes = item->checkState() == Qt::Checked ? includeLogTypeEntry(excludedLogTypes, item->text())
                                                         : excludeLogTypeEntry(excludedLogTypes, item->text());
    pushLogOptions();
}

void QuvorCommand::onStartupTick()
{
    if (gStartupPending) {
        loadSettings();
        ui->listWidget_log->clear();
        for (const QString& entry : logTypeEntries(offeredLogTypes)) {
            auto* item = new QListWidgetItem(entry, ui->listWidget_log);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(Qt::Checked);
        }
        pushLogOptions();
        if (mAutoUI && !mAutoUiSuppressed) {
            startVisualiser(mAppDir);
            placeBesideView();
        }
        gStartupPending = false;
    }
    if (mAutoStartPending && !mSimRunning && qConnector::instance() && qConnector::instance()->isConnected()) {
        mAutoStartPending = false;
        ui->pushButton_enter->click();
    }
    ui->pushButton_enter->setEnabled(!mSimRunning);
    ui->pushButton_exit->setEnabled(mSimRunning);
}

void QuvorCommand::onCheckConnection()
{
    if (mSimRunning && !(qConnector::instance() && qConnector::instance()->isConnected()))
        stopRun();
}

void QuvorCommand::closeEvent(QCloseEvent* event)
{
    mSimRunning = false;
    if (gSimulator)
        gSimulator->stopSimulation();
    // Gives the stop command time to leave before the port closes with the process.
    QThread::msleep(300);
    event->accept();
}

bool QuvorCommand::event(QEvent* event)
{
    if (event->type() == QEvent::EnterWhatsThisMode) {
        QWhatsThis::leaveWhatsThisMode();
        if (gVersionBox)
            gVersionBox->show();
    }
    return QDialog::event(event);
}
