// The widget behind a LogClass. GUI thread only.
#pragma once

#include <QFile>
#include <QTimer>
#include <QWidget>

class QPlainTextEdit;

class LogWindowWidget : public QWidget {
public:
    explicit LogWindowWidget(const QString& title);
    ~LogWindowWidget() override;

    void setPositionName(const QString& name);
    void setLogPath(const QString& path);
    void setSaving(bool save);
    void setFontPointSize(int pointSize);
    void appendLine(const QString& line);
    void clearLines();

    // Lines the view keeps; older ones scroll out of the view (files keep everything).
    static constexpr int kMaxViewLines = 20000;

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void saveGeometryNow();
    void writeLine(const QString& line);

    QPlainTextEdit* mView;
    QFile mFile;
    bool mSaving = false;
    QString mPositionName;
    bool mEverShown = false; // a never-shown window has no geometry worth storing
    QTimer mGeometrySaveTimer;
};
