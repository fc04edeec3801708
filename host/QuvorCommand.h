#pragma once

#include "host/HostSettings.h"

#include <QDialog>
#include <QString>

class QLabel;
class QListWidgetItem;
class QTimer;
struct LOG_INFO;

namespace Ui {
class QuvorCommand;
}

// The control dialog: start and stop, start position, visualiser, log and
// broadcast options. It holds no simulation logic; every option change is
// pushed to the simulation object, which also saves the settings.
class QuvorCommand : public QDialog {
    Q_OBJECT
public:
    explicit QuvorCommand(const QString& appDir, QWidget* parent = nullptr);
    ~QuvorCommand() override;

    double latitude() const;
    double longitude() const;
    LOG_INFO logInfo() const;

    // Presses "Start Simulation" once an aircraft is connected (scripted runs).
    void setAutoStart(bool on) { mAutoStartPending = on; }
    // Leaves the visualiser to whoever started the host, whatever mAutoUI says.
    void setAutoUiSuppressed(bool on) { mAutoUiSuppressed = on; }
    // Moves the dialog beside the 3D view (WindowPair), where the view started
    // with --side-by-side does not hide it.
    void placeBesideView();
    // Brings the state in the title up to date; a 1 s timer calls it too.
    void showStatus();

    Ui::QuvorCommand* ui;

    QString offeredLogTypes;
    QString excludedLogTypes;
    bool mSimRunning = false;

    // The user's choices, one value: the dialog edits it, the simulation reads it
    // (settings(), logInfo()) and writeSettingsFile saves it. The option names
    // below are views of its fields.
    const HostSettings& settings() const { return mSettings; }

private:
    HostSettings mSettings;

public:
    bool& mAutoUI = mSettings.mAutoUI;
    int& mFontSize = mSettings.mFontSize;
    bool& mUdpBroadcast = mSettings.mUdpBroadcast;
    bool& m_save = mSettings.m_save;
    bool& m_time = mSettings.m_time;
    bool& m_info = mSettings.m_info;
    bool& m_show = mSettings.m_show;
    QString& m_path = mSettings.m_path;

public slots:
    void on_pushButton_enter_clicked();
    void on_pushButton_exit_clicked();
    void appendLog(int logLevel, const QString& szText);
    void onLogTime();
    void onLogSave();
    void onLogInfo();
    void onLogShow();
    void onAutoUI();
    void onUdpPro();
    void onFontSize(int value);
    void onLongtitude(double value);
    void onLatitude(double value);
    void onLogPath();
    void onLogClear();
    void onShowUI();
    void onLogListClick(QListWidgetItem* item);
    void onStartupTick();
    void onCheckConnection();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void pushLogOptions();
    void loadSettings();
    void showMembers();
    void setRunning(bool running);
    void stopRun();
    QString pathLabel() const;

    const QString mAppDir;
    QTimer* mStartupTimer = nullptr;
    QTimer* mConnectionTimer = nullptr;
    QTimer* mStatusTimer = nullptr;
    QLabel* mStatusLabel = nullptr; // the title's state again, for desktops without title bars
    quint64 mStatesAtLastStatus = 0;
    qint64 mLastStatusMs = -1;
    bool mAutoStartPending = false;
    bool mAutoUiSuppressed = false;
};

// "Simulator Config — connected, simulating, 200 states/s": the dialog's title
// with the link and run state.
QString hostStatusTitle(bool connected, bool simulating, int statesPerSecond);

extern QuvorCommand* gCommandDialog;
extern bool gStartupPending;
