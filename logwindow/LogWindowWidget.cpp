#include "logwindow/LogWindowWidget.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QSettings>
#include <QVBoxLayout>

namespace {

// Window positions live in the user's configuration folder
// (~/.config/Quvor/QuvorLogWindow.ini), one key per position name.
QSettings geometryStore()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quvor"),
                     QStringLiteral("QuvorLogWindow"));
}

QString geometryKey(const QString& name)
{
    // '/' and '\' would open sub-groups in the store.
    QString key = name;
    key.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('\\'), QLatin1Char('_'));
    return QStringLiteral("geometry/") + key;
}

} // namespace

LogWindowWidget::LogWindowWidget(const QString& title) : mView(new QPlainTextEdit(this))
{
    setWindowTitle(title);
    // Only the program's main window ends it; a log window left open must not keep it running.
    setAttribute(Qt::WA_QuitOnClose, false);
    mView->setReadOnly(true);
    mView->setLineWrapMode(QPlainTextEdit::NoWrap);
    mView->setMaximumBlockCount(kMaxViewLines);
    mView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(mView);
    resize(640, 300);

    // Moves and resizes come in bursts while the user drags; store once it settles.
    mGeometrySaveTimer.setSingleShot(true);
    mGeometrySaveTimer.setInterval(500);
    QObject::connect(&mGeometrySaveTimer, &QTimer::timeout, this, [this] { saveGeometryNow(); });
    // The host never destroys its windows, so the last chance to store is the quit.
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { saveGeometryNow(); });
}

LogWindowWidget::~LogWindowWidget() { saveGeometryNow(); }

void LogWindowWidget::setPositionName(const QString& name)
{
    mPositionName = name;
    if (name.isEmpty())
        return;
    const QByteArray stored = geometryStore().value(geometryKey(name)).toByteArray();
    if (!stored.isEmpty() && restoreGeometry(stored))
        mEverShown = true; // the restored geometry is worth keeping even if never shown
}

void LogWindowWidget::setLogPath(const QString& path)
{
    if (path == mFile.fileName())
        return;
    mFile.close();
    mFile.setFileName(path);
}

void LogWindowWidget::setSaving(bool save)
{
    mSaving = save;
    if (!save)
        mFile.close();
}

void LogWindowWidget::setFontPointSize(int pointSize)
{
    QFont font = mView->font();
    if (font.pointSize() == pointSize) // the host repeats it with every line
        return;
    font.setPointSize(pointSize);
    mView->setFont(font);
}

void LogWindowWidget::appendLine(const QString& line)
{
    if (!isEnabled())
        return;
    mView->appendPlainText(line);
    if (mSaving)
        writeLine(line);
}

void LogWindowWidget::clearLines() { mView->clear(); }

void LogWindowWidget::writeLine(const QString& line)
{
    if (mFile.fileName().isEmpty())
        return;
    // Opened lazily and retried on every line: the run folder is often made
    // just before the first line arrives.
    if (!mFile.isOpen() && !mFile.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QByteArray bytes = line.toUtf8();
    bytes.append('\n');
    // Flushed per line so the file is complete whenever the program ends.
    if (mFile.write(bytes) != bytes.size() || !mFile.flush())
        mFile.close();
}

void LogWindowWidget::saveGeometryNow()
{
    mGeometrySaveTimer.stop();
    if (mPositionName.isEmpty() || !mEverShown)
        return;
    geometryStore().setValue(geometryKey(mPositionName), saveGeometry());
}

void LogWindowWidget::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (mEverShown)
        mGeometrySaveTimer.start();
}

void LogWindowWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (mEverShown)
        mGeometrySaveTimer.start();
}

void LogWindowWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    mEverShown = true;
}

void LogWindowWidget::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    saveGeometryNow();
}
