#include "viewer/app/QuvorConfig.h"
#include "common/Console.h"

#include "common/AppDirs.h"
#include "common/Json.h"
#include "ui_QuvorConfig.h"

#include <QBrush>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QMessageBox>
#include <QSaveFile>
#include <QStandardItemModel>
#include <QTextStream>
#include <QVariantMap>

#include <algorithm>
#include <cmath>
#include <limits>

QuvorConfig* gConfigDialog = nullptr;
ConfigTarget* gConfigTarget = nullptr;

namespace {

enum TrajColumn { ColX, ColY, ColZ, ColDamping, ColDelta, ColCount };

const int kSpeedMin = 50;
const int kSpeedMax = 150;

// Speed rate as the integer percent stored in the file and shown on the slider.
// mSpeed always comes from a whole percent, so rounding recovers it exactly;
// truncating the float would turn e.g. 0.53 into 52 and drift on every save.
int speedPercent(float speed)
{
    const double p = std::round(double(speed) * 100.0);
    if (!(p > std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    if (!(p < std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return int(p);
}

QString speedLabel(int percent) { return QString("speed rate:  %1%").arg(percent); }

const qint64 kSettingsLimit = 1 << 20;
const qint64 kTrajectoryLimit = 4 << 20;

// The file's text, or empty when it cannot be read or holds more than `limit`
// bytes (no settings or trajectory file is that large; it is not loaded).
QString readWholeFile(const QString& path, qint64 limit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    const QByteArray bytes = file.read(limit + 1);
    if (bytes.size() > limit) {
        Console::warning(
            QStringLiteral("%1 is larger than %2 bytes and was not loaded.").arg(path, QString::number(limit)));
        return QString();
    }
    QTextStream in(bytes); // the system code page, as written
    return in.readAll();
}

// The speed percent from the settings: the slider's range; 100 when it is not a number.
int storedSpeedPercent(const QVariant& value)
{
    bool ok = false;
    const double percent = value.toDouble(&ok);
    const bool number = value.type() == QVariant::Int || value.type() == QVariant::UInt ||
        value.type() == QVariant::LongLong || value.type() == QVariant::ULongLong || value.type() == QVariant::Double ||
        value.type() == QVariant::String;
    if (!number || !ok || std::isnan(percent))
        return 100;
    return int(qBound(double(kSpeedMin), percent, double(kSpeedMax)));
}

// Room between two controls of a row, and from the last one to the group's edge.
const int kRowGap = 10;

// The form's widths come from another platform's font, which cuts texts off
// here. Each control of a row gets at least the width its text needs, in the
// form's order; a control pushed past the right edge goes to a line of its own
// below. `stretch`, when given, is the row's last control and takes the rest.
void fitRow(const QList<QWidget*>& row, int right, QWidget* stretch = nullptr)
{
    if (row.isEmpty())
        return;
    const int left = row.first()->x();
    int x = left;
    int y = row.first()->y();
    for (QWidget* w : row) {
        const int width = std::max({w->width(), w->sizeHint().width(), w->minimumWidth()});
        x = std::max(x, w->x());
        if (w != row.first() && x + width > right && w != stretch) {
            x = left;
            y += w->height() + 8;
        }
        if (w == stretch)
            w->setGeometry(x, y, std::max(right - x, 40), w->height());
        else
            w->setGeometry(x, y, width, w->height());
        x += width + kRowGap;
    }
}

} // namespace

QuvorConfig::QuvorConfig(QWidget* parent, const QString& appDir)
    : QDialog(parent),
      ui(new Ui::Form),
      mAppDir(appDir.isEmpty() ? appDirs().settingsDir : appDir)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_QuitOnClose, false);
    gConfigDialog = this;

    // The trajectory tab stays built (its controls work) but is not offered.
    ui->tabWidget_config->setCurrentIndex(0);
    ui->tabWidget_config->removeTab(1);

    mClearToggle = false;
    mSpeed = 1.0f;
    mCameraMovable = false;
    mCheckIP = false;
    m_udp_save = false;
    mWaypoints.clear();

    const QString text = readWholeFile(settingsPath(), kSettingsLimit);
    bool ok = false;
    const QVariant parsed = text.isEmpty() ? QVariant() : Json::parse(text, ok);
    // The lenient reader takes e.g. "5 and text" as the number 5: only an object counts.
    const QString defaultSavePath = appDirsOf(mAppDir).dataDir + "/";
    if (!ok || parsed.type() != QVariant::Map) {
        mSavePath = defaultSavePath;
        m_show = false;
        m_save = false;
    } else {
        // A valid file that lacks a flag gives false; the speed and the save path
        // fall back to their defaults.
        const QVariantMap m = parsed.toMap();
        mSpeed = float(storedSpeedPercent(m.value("m_speedRate"))) / 100.0f;
        m_save = m.value("m_save").toBool();
        m_show = m.value("m_show").toBool();
        mCameraMovable = m.value("mCameraMovable").toBool();
        mCheckIP = m.value("mCheckIP").toBool();
        m_udp_save = m.value("m_udp_save").toBool();
        const QVariant savePath = m.value("mSavePath");
        mSavePath = savePath.type() == QVariant::String && !savePath.toString().isEmpty() ? savePath.toString()
                                                                                          : defaultSavePath;
    }
    deriveDirs();
    loadTrajectory();

    const int percent = speedPercent(mSpeed);
    ui->horizontalSlider_speed->setRange(kSpeedMin, kSpeedMax);
    ui->horizontalSlider_speed->setValue(qBound(kSpeedMin, percent, kSpeedMax));
    ui->label_speed->setText(speedLabel(percent));
    fitLabels();

    ui->checkBox_ip->setChecked(mCheckIP);
    ui->checkBox_cam->setChecked(mCameraMovable);
    ui->checkBox_saveTrace->setChecked(m_save);
    ui->checkBox_showTrace->setChecked(m_show);
    ui->checkBox_udp_save->setChecked(m_udp_save);

    connect(ui->pushButton_clearTrace, &QPushButton::clicked, this, &QuvorConfig::onTraceClear);
    connect(ui->checkBox_saveTrace, &QCheckBox::clicked, this, &QuvorConfig::onTraceSave);
    connect(ui->checkBox_showTrace, &QCheckBox::clicked, this, &QuvorConfig::onTraceShow);
    connect(ui->pushButton_path, &QPushButton::clicked, this, &QuvorConfig::onPathChanged);
    connect(ui->horizontalSlider_speed, &QSlider::valueChanged, this, &QuvorConfig::onSpeedChanged);
    connect(ui->checkBox_cam, &QCheckBox::clicked, this, &QuvorConfig::onCamChanged);
    connect(ui->checkBox_ip, &QCheckBox::clicked, this, &QuvorConfig::onIPChanged);
    connect(ui->checkBox_udp_save, &QCheckBox::clicked, this, &QuvorConfig::onUDPSaveChanged);
    showSavePath();

    fillTrajModel();
    connect(ui->Add, &QPushButton::clicked, this, &QuvorConfig::onAdd);
    connect(ui->Delete, &QPushButton::clicked, this, &QuvorConfig::onDelete);
    connect(ui->Clear, &QPushButton::clicked, this, &QuvorConfig::onClear);
    connect(ui->Confirm, &QPushButton::clicked, this, &QuvorConfig::onConfirm);
    connect(mTrajModel, &QStandardItemModel::itemChanged, this, &QuvorConfig::onUpdatePara);
    connect(ui->Clear_Traj, &QPushButton::clicked, this, &QuvorConfig::onClearTraj);

    // Applies everything and writes the settings file, so it exists after every start.
    notifyWindow();
}

QuvorConfig::~QuvorConfig()
{
    if (gConfigDialog == this)
        gConfigDialog = nullptr;
    delete ui;
}

QString QuvorConfig::settingsPath() const { return mAppDir + "/UIconfig.ini"; }

QString QuvorConfig::trajectoryPath() const { return mAppDir + "/Traj.dat"; }

void QuvorConfig::writeSettings() const
{
    QVariantMap m;
    m.insert("m_show", m_show);
    m.insert("m_save", m_save);
    m.insert("m_udp_save", m_udp_save);
    m.insert("m_speedRate", speedPercent(mSpeed));
    m.insert("mCameraMovable", mCameraForced ? mSavedCameraMovable : mCameraMovable);
    m.insert("mCheckIP", mCheckIP);
    m.insert("mSavePath", mSavePath);
    const QByteArray utf8 = Json::serialize(m);
    const QByteArray local = QString::fromUtf8(utf8).toLocal8Bit();
    const QByteArray bytes = local.isEmpty() ? utf8 : local;
    if (bytes == mWrittenSettings)
        return;
    // Written beside and renamed over the old file; a folder that takes no new
    // files may still hold a writable UIconfig.ini, rewritten in place then.
    QSaveFile file(settingsPath());
    file.setDirectWriteFallback(true);
    if (file.open(QIODevice::WriteOnly | QIODevice::Text) && file.write(bytes) == bytes.size() && file.commit())
        mWrittenSettings = bytes;
}

void QuvorConfig::setSpeedEditable(bool editable)
{
    ui->horizontalSlider_speed->setEnabled(editable);
    notifyWindow();
}

void QuvorConfig::notifyWindow()
{
    if (gConfigTarget)
        gConfigTarget->applyConfig();
}

void QuvorConfig::deriveDirs()
{
    mTraceDir = mSavePath + "/TRACE_FILES/";
    mUdpDir = mSavePath + "/UDP_FILES/";
}

void QuvorConfig::fitLabels()
{
    // The speed label is as wide as its widest text, so the slider never moves.
    const QFontMetrics metrics(ui->label_speed->font());
    ui->label_speed->setMinimumWidth(
        std::max(metrics.horizontalAdvance(speedLabel(kSpeedMax)), metrics.horizontalAdvance(ui->label_speed->text())) +
        4);
    const int right = ui->groupBox_option->width() - kRowGap;
    fitRow({ui->checkBox_showTrace, ui->checkBox_saveTrace}, ui->pushButton_clearTrace->x() - kRowGap);
    fitRow({ui->label_speed, ui->horizontalSlider_speed}, right, ui->horizontalSlider_speed);
    fitRow({ui->checkBox_cam, ui->checkBox_udp_save, ui->checkBox_ip}, right);
}

void QuvorConfig::showSavePath()
{
    ui->label_path->setText("save path:\"" + mSavePath + "\"");
    // A long path does not fit beside the Change button.
    ui->label_path->setToolTip(mSavePath);
}

void QuvorConfig::onTraceClear()
{
    mClearToggle = !mClearToggle;
    notifyWindow();
}

void QuvorConfig::onTraceSave()
{
    m_save = ui->checkBox_saveTrace->isChecked();
    notifyWindow();
}

void QuvorConfig::onTraceShow()
{
    m_show = ui->checkBox_showTrace->isChecked();
    notifyWindow();
}

void QuvorConfig::onPathChanged()
{
    const QString dir = QFileDialog::getExistingDirectory(this, "select a path", QString(), QFileDialog::ShowDirsOnly);
    if (dir.isEmpty())
        return;
    mSavePath = dir + "/";
    deriveDirs();
    showSavePath();
    notifyWindow();
}

void QuvorConfig::onSpeedChanged(int value)
{
    mSpeed = float(value) / 100.0f;
    ui->label_speed->setText(speedLabel(value));
    notifyWindow();
}

void QuvorConfig::onCamChanged()
{
    mCameraMovable = ui->checkBox_cam->isChecked();
    mCameraForced = false;
    notifyWindow();
}

void QuvorConfig::followCameraForThisRun()
{
    if (!mCameraForced)
        mSavedCameraMovable = mCameraMovable;
    mCameraForced = true;
    mCameraMovable = true;
    ui->checkBox_cam->setChecked(true);
    notifyWindow();
}

void QuvorConfig::onIPChanged()
{
    mCheckIP = ui->checkBox_ip->isChecked();
    notifyWindow();
}

void QuvorConfig::onUDPSaveChanged()
{
    m_udp_save = ui->checkBox_udp_save->isChecked();
    notifyWindow();
}

// ---- trajectory table ----

void QuvorConfig::loadTrajectory() { mWaypoints = Traj::parseFile(readWholeFile(trajectoryPath(), kTrajectoryLimit)); }

void QuvorConfig::fillTrajModel()
{
    mTrajModel = new QStandardItemModel(0, ColCount, this);
    mTrajModel->setHorizontalHeaderLabels(Traj::headerLabels());
    ui->Trace->setModel(mTrajModel);
    for (const TrajPoint& p : qAsConst(mWaypoints)) {
        QList<QStandardItem*> row;
        for (double v : {p.x, p.y, p.z, p.damping, p.delta})
            row.append(new QStandardItem(Traj::cellText(v)));
        mTrajModel->appendRow(row);
    }
}

void QuvorConfig::onAdd()
{
    QList<QStandardItem*> row;
    for (const char* text : {"0", "0", "0", "0", "0.1"})
        row.append(new QStandardItem(text));
    mTrajModel->appendRow(row);
}

void QuvorConfig::onDelete()
{
    const QModelIndex current = ui->Trace->currentIndex();
    if (!current.isValid())
        return;
    mTrajModel->removeRow(current.row());
}

void QuvorConfig::onClear() { mTrajModel->removeRows(0, mTrajModel->rowCount()); }

void QuvorConfig::onConfirm()
{
    QFile file(trajectoryPath());
    // The file is written before the check, so it always reflects the table; an
    // unwritable file keeps the previous points.
    if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        mWaypoints.clear();
        for (int r = 0; r < mTrajModel->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < ColCount; ++c) {
                const QStandardItem* item = mTrajModel->item(r, c);
                cells.append(item ? item->text() : QString());
            }
            mWaypoints.append(Traj::fromCells(cells));
        }
        for (const TrajPoint& p : qAsConst(mWaypoints))
            file.write(Traj::fileLine(p));
        file.close();
    }

    const Traj::CheckResult result = Traj::check(mWaypoints);
    auto colour = [this](int row, int column, bool ok) {
        if (QStandardItem* item = mTrajModel->item(row, column))
            item->setForeground(QBrush(ok ? Qt::black : Qt::red));
    };
    for (int r = 0; r < result.dampingChecked && r < mTrajModel->rowCount(); ++r)
        colour(r, ColDamping, result.dampingOk[r]);
    for (int r = 0; r < result.deltaChecked && r < mTrajModel->rowCount(); ++r)
        colour(r, ColDelta, result.deltaOk[r]);

    if (gConfigTarget && result.ok) {
        gConfigTarget->replaceTrajectory(Traj::build(mWaypoints, mSpeed));
        return;
    }
    QMessageBox box(QMessageBox::Warning, "error", "config has error(s)");
    box.exec();
}

void QuvorConfig::onUpdatePara(QStandardItem*)
{
    // Edits take effect on Confirm.
}

void QuvorConfig::onClearTraj()
{
    if (gConfigTarget)
        gConfigTarget->replaceTrajectory({});
}
