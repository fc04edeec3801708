#pragma once

#include "viewer/app/TrajectoryTable.h"

#include <QDialog>
#include <QString>
#include <QVector>

class QStandardItem;
class QStandardItemModel;
namespace Ui {
class Form;
}

// The visualiser's settings dialog. It holds the options, keeps "UIconfig.ini"
// and owns the trajectory table ("Traj.dat"). Every change is handed to the main
// window, which applies it and has the settings file rewritten.
class QuvorConfig : public QDialog {
    Q_OBJECT

public:
    // appDir: folder of the settings and trajectory files; empty means the program's
    // folder, or the user's configuration folder when installed (see AppDirs).
    explicit QuvorConfig(QWidget* parent = nullptr, const QString& appDir = QString());
    ~QuvorConfig() override;

    // Locks the speed slider while a run is in progress.
    void setSpeedEditable(bool editable);

    // Turns "movable camera" on for this run; the settings file keeps the saved
    // choice until the box is clicked.
    void followCameraForThisRun();

    // Writes "UIconfig.ini" from the current values when they differ from what this
    // dialog wrote last (run starts and ends apply the dialog without a change); the
    // file is replaced whole, so a crash or a full disk leaves the previous one.
    // An unwritable file is skipped.
    void writeSettings() const;

    QString settingsPath() const;
    QString trajectoryPath() const;

    bool m_show = false; // draw the trace
    bool m_save = false; // write trace lines
    bool m_udp_save = false; // write datagram lines
    float mSpeed = 1.0f; // speed rate, 1.0 = 100 %
    bool mCameraMovable = false; // camera follows the aircraft
    bool mCheckIP = false; // receive local data only
    QString mSavePath; // root of the recording folders, ends with "/"
    QString mTraceDir; // mSavePath + "/TRACE_FILES/"
    QString mUdpDir; // mSavePath + "/UDP_FILES/"
    bool mClearToggle = false; // flipped by Clear trace
    QVector<TrajPoint> mWaypoints;
    QStandardItemModel* mTrajModel = nullptr;

public slots:
    void onTraceClear();
    void onTraceSave();
    void onTraceShow();
    void onPathChanged();
    void onSpeedChanged(int value);
    void onCamChanged();
    void onIPChanged();
    void onUDPSaveChanged();
    void onAdd();
    void onDelete();
    void onClear();
    void onConfirm();
    void onUpdatePara(QStandardItem* item);
    void onClearTraj();

private:
    void notifyWindow();
    void deriveDirs();
    void showSavePath();
    void fitLabels();
    void loadTrajectory();
    void fillTrajModel();

    Ui::Form* ui;
    QString mAppDir;
    mutable QByteArray mWrittenSettings; // the bytes of the last successful write
    bool mCameraForced = false; // on for this run only
    bool mSavedCameraMovable = false; // what the file keeps meanwhile
};

extern QuvorConfig* gConfigDialog;
