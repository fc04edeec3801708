#pragma once

#include "tools/replay/ReplayEngine.h"

#include <QMainWindow>
#include <QTimer>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

namespace replay {

class ReplayPlots;

// The replay window: transport controls, timeline, typed time, plots.
// It only drives a ReplayEngine; everything it shows comes from there.
class ReplayWindow : public QMainWindow {
    Q_OBJECT
public:
    ReplayWindow(ReplaySender& sender, bool local, ReplayEngine::Clock clock = ReplayEngine::steadyClock(),
                 QWidget* parent = nullptr);
    ~ReplayWindow() override;

    // Replaces the open recording; on failure keeps the old one and says why.
    bool openFile(const QString& path);
    // Asked while a file is read; true ends the reading (Ctrl+C).
    void setOpenStop(std::function<bool()> stop) { mOpenStop = std::move(stop); }
    ReplayEngine* engine() const { return mEngine.get(); }
    ReplayPlots* plots() const { return mPlots; }

    void setSpeed(double speed);
    double speed() const;
    void setLoop(bool loop);
    void setRange(qint64 fromMs, qint64 toMs);

    // Brings labels, timeline and cursor up to date (the refresh timer calls it).
    void refresh();
    // File > Open: asks for a recording and plays it.
    void onOpen();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildUi();
    void addShortcuts();
    void onTypedTime();
    void changeSpeed(int steps);
    void seekBy(qint64 deltaMs);
    void onPlayingChanged(bool playing);
    void setControlsEnabled(bool enabled);

    ReplaySender& mSender;
    bool mLocal;
    ReplayEngine::Clock mClock;
    std::function<bool()> mOpenStop;
    std::unique_ptr<Recording> mRecording;
    std::unique_ptr<ReplayEngine> mEngine;
    QTimer mRefresh;
    qint64 mFailuresShown = 0;

    QLabel* mFileLabel = nullptr;
    QLabel* mTimeLabel = nullptr;
    ReplayPlots* mPlots = nullptr;
    QSlider* mSlider = nullptr;
    QPushButton* mPlay = nullptr;
    QPushButton* mStepBack = nullptr;
    QPushButton* mStepForward = nullptr;
    QComboBox* mSpeed = nullptr;
    QComboBox* mCurve = nullptr; // a fourth plot of any recorded key
    QCheckBox* mLoop = nullptr;
    QLineEdit* mTimeEdit = nullptr;
    QPushButton* mGo = nullptr;
};

} // namespace replay
