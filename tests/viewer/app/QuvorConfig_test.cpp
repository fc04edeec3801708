#include "viewer/app/ConfigTarget.h"
#include "viewer/app/QuvorConfig.h"

#include "common/Json.h"
#include "tests/common/QtPrint.h"
#include "tests/viewer/ConsoleCapture.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

using viewer_test::ConsoleCapture;

QApplication& app()
{
    static int argc = 1;
    static char name[] = "config_dialog_test";
    static char* argv[] = {name, nullptr};
    static QApplication instance(argc, argv);
    return instance;
}

// Stands in for the main window: applying the dialog rewrites the settings file.
struct FakeWindow : ConfigTarget {
    int applied = 0;
    int trajectories = 0;
    QVector<ScenePoint> trajectory;
    void applyConfig() override
    {
        ++applied;
        gConfigDialog->writeSettings();
    }
    void replaceTrajectory(const QVector<ScenePoint>& points) override
    {
        ++trajectories;
        trajectory = points;
    }
};

// Answers the next modal message box and remembers its text.
class BoxWatcher : public QObject {
public:
    BoxWatcher()
    {
        connect(&mTimer, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts.append(box->windowTitle() + "|" + box->text());
                box->done(0);
            }
        });
        mTimer.start(10);
    }
    QStringList texts;

private:
    QTimer mTimer;
};

class ConfigDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        ASSERT_TRUE(tmp.isValid());
        gConfigTarget = &window;
    }
    void TearDown() override { gConfigTarget = nullptr; }

    void writeFile(const QString& name, const QByteArray& content)
    {
        QFile f(tmp.path() + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QByteArray readFile(const QString& name)
    {
        QFile f(tmp.path() + "/" + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QVariantMap settingsOnDisk()
    {
        bool ok = false;
        const QVariant v = Json::parse(QString::fromUtf8(readFile("UIconfig.ini")), ok);
        EXPECT_TRUE(ok);
        return v.toMap();
    }
    std::unique_ptr<QuvorConfig> open() { return std::make_unique<QuvorConfig>(nullptr, tmp.path()); }
    template <typename T> T* child(QuvorConfig& d, const char* name)
    {
        T* w = d.findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    QTemporaryDir tmp;
    FakeWindow window;
};

TEST_F(ConfigDialogTest, FirstStartUsesDefaultsAndWritesTheFile)
{
    auto d = open();
    EXPECT_EQ(gConfigDialog, d.get());
    EXPECT_FALSE(d->testAttribute(Qt::WA_QuitOnClose));
    EXPECT_EQ(d->mSpeed, 1.0f);
    EXPECT_EQ(d->mSavePath, tmp.path() + "/");
    EXPECT_EQ(d->mTraceDir, tmp.path() + "//TRACE_FILES/");
    EXPECT_EQ(d->mUdpDir, tmp.path() + "//UDP_FILES/");
    for (const char* box :
         {"checkBox_showTrace", "checkBox_saveTrace", "checkBox_cam", "checkBox_udp_save", "checkBox_ip"})
        EXPECT_FALSE(child<QCheckBox>(*d, box)->isChecked()) << box;
    EXPECT_EQ(child<QSlider>(*d, "horizontalSlider_speed")->value(), 100);
    EXPECT_EQ(child<QLabel>(*d, "label_speed")->text(), "speed rate:  100%");
    EXPECT_EQ(child<QLabel>(*d, "label_path")->text(), "save path:\"" + tmp.path() + "/\"");
    EXPECT_EQ(window.applied, 1);

    const QVariantMap expected{
        {"m_show", false},         {"m_save", false},   {"m_udp_save", false},          {"m_speedRate", 100},
        {"mCameraMovable", false}, {"mCheckIP", false}, {"mSavePath", tmp.path() + "/"}};
    EXPECT_EQ(settingsOnDisk(), expected);

    // Only the first tab is offered; the trajectory controls still exist.
    auto* tabs = child<QTabWidget>(*d, "tabWidget_config");
    ASSERT_EQ(tabs->count(), 1);
    EXPECT_EQ(tabs->tabText(0), "Simulator UI Config");
    EXPECT_NE(d->findChild<QTableView*>("Trace"), nullptr);
    EXPECT_EQ(d->size(), QSize(500, 300));
}

TEST_F(ConfigDialogTest, SettingsFileContents)
{
    struct Case {
        const char* name;
        QByteArray file;
        float speed;
        int slider;
        QString label;
        bool show;
        bool ip;
        QString savePath; // "@" stands for the settings folder
    };
    // A speed outside the slider's range is clamped to it, one that is missing or
    // not a number is 100 %; a save path that is missing, empty or not text is the
    // default, as is everything when the file holds no JSON object.
    const Case cases[] = {
        {"speed only", "{\"m_speedRate\": 120}", 1.2f, 120, "speed rate:  120%", false, false, "@"},
        {"speed below the slider", "{\"m_speedRate\": 20, \"m_show\": true}", 0.5f, 50, "speed rate:  50%", true, false,
         "@"},
        {"speed far above the slider", "{\"m_speedRate\": 20000, \"mSavePath\": \"/x/\"}", 1.5f, 150,
         "speed rate:  150%", false, false, "/x/"},
        {"speed in exponent form", "{\"m_speedRate\": 1e5}", 1.5f, 150, "speed rate:  150%", false, false, "@"},
        {"speed a real", "{\"m_speedRate\": 99.9}", 0.99f, 99, "speed rate:  99%", false, false, "@"},
        {"speed not a number", "{\"m_speedRate\": \"fast\"}", 1.0f, 100, "speed rate:  100%", false, false, "@"},
        {"speed a boolean", "{\"m_speedRate\": true}", 1.0f, 100, "speed rate:  100%", false, false, "@"},
        {"speed NaN", "{\"m_speedRate\": \"nan\"}", 1.0f, 100, "speed rate:  100%", false, false, "@"},
        {"no speed in a valid object", "{\"mCheckIP\": true, \"mSavePath\": \"/x/\"}", 1.0f, 100, "speed rate:  100%",
         false, true, "/x/"},
        {"empty save path", "{\"mSavePath\": \"\", \"m_show\": true}", 1.0f, 100, "speed rate:  100%", true, false,
         "@"},
        {"save path not text", "{\"mSavePath\": 5}", 1.0f, 100, "speed rate:  100%", false, false, "@"},
        {"save path an object", "{\"mSavePath\": {\"a\": \"/x/\"}}", 1.0f, 100, "speed rate:  100%", false, false, "@"},
        {"not an object", "5 not json at all", 1.0f, 100, "speed rate:  100%", false, false, "@"},
        {"an array", "[{\"m_speedRate\": 120}]", 1.0f, 100, "speed rate:  100%", false, false, "@"},
        {"not JSON", "m_speedRate=120", 1.0f, 100, "speed rate:  100%", false, false, "@"},
        {"empty", "", 1.0f, 100, "speed rate:  100%", false, false, "@"},
        {"binary", QByteArray("\xff\xfe{\0\x01", 5), 1.0f, 100, "speed rate:  100%", false, false, "@"},
        {"truncated", "{\"m_speedRate\": 120, \"m_show\": tr", 1.0f, 100, "speed rate:  100%", false, false, "@"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile("UIconfig.ini", c.file);
        auto d = open();
        const QString path = c.savePath == "@" ? tmp.path() + "/" : c.savePath;
        EXPECT_FLOAT_EQ(d->mSpeed, c.speed);
        EXPECT_EQ(child<QSlider>(*d, "horizontalSlider_speed")->value(), c.slider);
        EXPECT_EQ(child<QLabel>(*d, "label_speed")->text(), c.label);
        EXPECT_EQ(d->m_show, c.show);
        EXPECT_EQ(child<QCheckBox>(*d, "checkBox_showTrace")->isChecked(), c.show);
        EXPECT_EQ(d->mCheckIP, c.ip);
        EXPECT_EQ(d->mSavePath, path);
        EXPECT_EQ(d->mTraceDir, path + "/TRACE_FILES/");
        // The file always comes back whole, keeping the speed it was given.
        const QVariantMap disk = settingsOnDisk();
        EXPECT_EQ(disk.size(), 7);
        EXPECT_EQ(disk.value("m_speedRate").toInt(), int(std::lround(c.speed * 100)));
        EXPECT_EQ(disk.value("mSavePath").toString(), path);
    }
}

TEST_F(ConfigDialogTest, OversizedFilesAreNotLoaded)
{
    const QByteArray settings = "{\"m_speedRate\": 120, \"m_show\": true}";
    const QByteArray traj = "{ \"X\" : 1, \"Y\" : 2, \"Z\" : 3, \"DAMPLING_LENGTH\" : 0, \"DELTA\" : 0.5 }\n";
    struct Case {
        int settingsPadding, trajPadding;
        bool settingsLoaded, trajLoaded;
    };
    // Padding is trailing blanks: the files stay valid whatever their size.
    const int mib = 1 << 20;
    const Case cases[] = {
        {mib - settings.size(), 4 * mib - traj.size(), true, true},
        {mib - settings.size() + 1, 4 * mib - traj.size() + 1, false, false},
        {26 * mib, 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settingsPadding);
        writeFile("UIconfig.ini", settings + QByteArray(c.settingsPadding, ' '));
        writeFile("Traj.dat", traj + QByteArray(c.trajPadding, '\n'));
        ConsoleCapture console;
        auto d = open();
        EXPECT_EQ(d->m_show, c.settingsLoaded);
        EXPECT_FLOAT_EQ(d->mSpeed, c.settingsLoaded ? 1.2f : 1.0f);
        EXPECT_EQ(d->mWaypoints.size(), c.trajLoaded ? 1 : 0);
        EXPECT_EQ(ConsoleCapture::matching("UIconfig.ini").size(), c.settingsLoaded ? 0 : 1);
        EXPECT_EQ(ConsoleCapture::matching("Traj.dat").size(), c.trajLoaded ? 0 : 1);
    }
}

TEST_F(ConfigDialogTest, ChangesRoundTripThroughTheFile)
{
    {
        auto d = open();
        for (const char* box :
             {"checkBox_showTrace", "checkBox_saveTrace", "checkBox_cam", "checkBox_udp_save", "checkBox_ip"})
            QTest::mouseClick(child<QCheckBox>(*d, box), Qt::LeftButton);
        // Every whole percent must survive the float round trip (53 once came back as 52).
        child<QSlider>(*d, "horizontalSlider_speed")->setValue(53);
        EXPECT_EQ(child<QLabel>(*d, "label_speed")->text(), "speed rate:  53%");
        EXPECT_EQ(window.applied, 7);
        EXPECT_TRUE(d->m_show && d->m_save && d->mCameraMovable && d->m_udp_save && d->mCheckIP);
    }
    EXPECT_EQ(gConfigDialog, nullptr);
    auto d = open();
    EXPECT_TRUE(d->m_show && d->m_save && d->mCameraMovable && d->m_udp_save && d->mCheckIP);
    EXPECT_EQ(child<QSlider>(*d, "horizontalSlider_speed")->value(), 53);
    EXPECT_EQ(settingsOnDisk().value("m_speedRate").toInt(), 53);
    for (int v = 50; v <= 150; ++v) {
        child<QSlider>(*d, "horizontalSlider_speed")->setValue(v);
        ASSERT_EQ(settingsOnDisk().value("m_speedRate").toInt(), v);
    }
}

TEST_F(ConfigDialogTest, ClearTraceFlipsAndSpeedLockApplies)
{
    auto d = open();
    auto* clear = child<QPushButton>(*d, "pushButton_clearTrace");
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_TRUE(d->mClearToggle);
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_FALSE(d->mClearToggle);

    const int before = window.applied;
    d->setSpeedEditable(false);
    EXPECT_FALSE(child<QSlider>(*d, "horizontalSlider_speed")->isEnabled());
    d->setSpeedEditable(true);
    EXPECT_TRUE(child<QSlider>(*d, "horizontalSlider_speed")->isEnabled());
    EXPECT_EQ(window.applied, before + 2);
}

// Run starts and ends apply the dialog without changing a setting: the file is
// written again only when a setting changes.
TEST_F(ConfigDialogTest, OnlyAChangedSettingRewritesTheFile)
{
    auto d = open();
    ASSERT_TRUE(QFile::remove(tmp.path() + "/UIconfig.ini"));
    d->setSpeedEditable(false);
    d->setSpeedEditable(true);
    EXPECT_FALSE(QFile::exists(tmp.path() + "/UIconfig.ini"));

    QTest::mouseClick(child<QCheckBox>(*d, "checkBox_cam"), Qt::LeftButton);
    EXPECT_EQ(settingsOnDisk().value("mCameraMovable"), true);
}

TEST_F(ConfigDialogTest, SlotsInMetaObjectOrder)
{
    auto d = open();
    const QMetaObject* mo = d->metaObject();
    const char* names[] = {"onTraceClear()",
                           "onTraceSave()",
                           "onTraceShow()",
                           "onPathChanged()",
                           "onSpeedChanged(int)",
                           "onCamChanged()",
                           "onIPChanged()",
                           "onUDPSaveChanged()",
                           "onAdd()",
                           "onDelete()",
                           "onClear()",
                           "onConfirm()",
                           "onUpdatePara(QStandardItem*)",
                           "onClearTraj()"};
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(mo->indexOfSlot(names[i]) - mo->methodOffset(), i) << names[i];
}

// ---- trajectory tab ----

class TrajDialogTest : public ConfigDialogTest {
protected:
    QStandardItemModel* model(QuvorConfig& d) { return d.mTrajModel; }
    void setRow(QuvorConfig& d, int row, const QStringList& cells)
    {
        for (int c = 0; c < 5; ++c)
            model(d)->item(row, c)->setText(cells[c]);
    }
    QColor colour(QuvorConfig& d, int row, int column) { return model(d)->item(row, column)->foreground().color(); }
    void click(QuvorConfig& d, const char* button) { QTest::mouseClick(child<QPushButton>(d, button), Qt::LeftButton); }
    BoxWatcher boxes;
};

TEST_F(TrajDialogTest, LoadsTheFileIntoTheTable)
{
    writeFile("Traj.dat",
              "{ \"X\" : 0.1, \"Y\" : 1500, \"Z\" : 0, \"DAMPLING_LENGTH\" : 2, \"DELTA\" : 0.5 }\n"
              "not json\n\n"
              "{ \"X\" : -3 }\n");
    auto d = open();
    ASSERT_EQ(d->mWaypoints.size(), 2);
    auto* m = model(*d);
    ASSERT_EQ(m->rowCount(), 2);
    ASSERT_EQ(m->columnCount(), 5);
    EXPECT_EQ(m->horizontalHeaderItem(3)->text(), "Damping_L");
    EXPECT_EQ(m->item(0, 0)->text(), "0.1");
    EXPECT_EQ(m->item(0, 1)->text(), "1500");
    EXPECT_EQ(m->item(0, 4)->text(), "0.5");
    EXPECT_EQ(m->item(1, 0)->text(), "-3");
    EXPECT_EQ(m->item(1, 4)->text(), "0");
}

TEST_F(TrajDialogTest, ConfirmOnAnEmptyTableAfterAddWritesTheRowAndComplains)
{
    auto d = open();
    click(*d, "Add");
    click(*d, "Confirm");
    EXPECT_EQ(boxes.texts, QStringList({"error|config has error(s)"}));
    EXPECT_EQ(readFile("Traj.dat"),
              "{ \"DAMPLING_LENGTH\" : 0.0, \"DELTA\" : 0.1, \"X\" : 0.0, \"Y\" : 0.0, \"Z\" : 0.0 }\n");
    EXPECT_EQ(window.trajectories, 0);
}

TEST_F(TrajDialogTest, ConfirmBuildsTheTrajectoryWhenEveryRowFits)
{
    auto d = open();
    for (int i = 0; i < 3; ++i)
        click(*d, "Add");
    setRow(*d, 0, {"0", "0", "0", "2", "0.5"});
    setRow(*d, 1, {"10", "0", "0", "-4", "0.5"}); // a negative damping is stored as 0
    setRow(*d, 2, {"10", "10", "0", "0", "0.5"});
    click(*d, "Confirm");
    EXPECT_TRUE(boxes.texts.isEmpty());
    ASSERT_EQ(window.trajectories, 1);
    EXPECT_EQ(window.trajectory.size(), 6);
    EXPECT_EQ(colour(*d, 0, 3), QColor(Qt::black));
    EXPECT_TRUE(readFile("Traj.dat").contains("\"DAMPLING_LENGTH\" : 0.0, \"DELTA\" : 0.5, \"X\" : 10.0"));

    click(*d, "Clear_Traj");
    EXPECT_EQ(window.trajectories, 2);
    EXPECT_TRUE(window.trajectory.isEmpty());
    EXPECT_EQ(model(*d)->rowCount(), 3); // the table and the file stay
}

TEST_F(TrajDialogTest, FailingRowsTurnRedAndKeepThePreviousTrajectory)
{
    struct Case {
        const char* name;
        QList<QStringList> rows;
        int redRow, redColumn;
    };
    const Case cases[] = {
        {"damping too long",
         {{"0", "0", "0", "6", "0.5"},
          {"20", "0", "0", "6", "0.5"},
          {"20", "10", "0", "0", "0.5"},
          {"30", "10", "0", "0", "0.5"}},
         1,
         3},
        {"delta 0", {{"0", "0", "0", "0", "0.5"}, {"10", "0", "0", "0", "0"}, {"10", "10", "0", "0", "0.5"}}, 1, 4},
        {"delta not a number",
         {{"0", "0", "0", "0", "nan"}, {"10", "0", "0", "0", "0.5"}, {"10", "10", "0", "0", "0.5"}},
         0,
         4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.texts.clear();
        auto d = open();
        click(*d, "Clear"); // rows loaded from the previous case
        for (const QStringList& row : c.rows) {
            click(*d, "Add");
            setRow(*d, model(*d)->rowCount() - 1, row);
        }
        click(*d, "Confirm");
        EXPECT_EQ(boxes.texts, QStringList({"error|config has error(s)"}));
        EXPECT_EQ(colour(*d, c.redRow, c.redColumn), QColor(Qt::red));
        EXPECT_EQ(colour(*d, 0, 3), c.redRow == 0 && c.redColumn == 3 ? QColor(Qt::red) : QColor(Qt::black));
        EXPECT_EQ(window.trajectories, 0);
        EXPECT_EQ(readFile("Traj.dat").count('\n'), c.rows.size()); // written before the check
    }
}

TEST_F(TrajDialogTest, DeleteAndClearEditTheTableOnly)
{
    auto d = open();
    click(*d, "Delete"); // no current row: nothing happens
    for (int i = 0; i < 3; ++i)
        click(*d, "Add");
    setRow(*d, 1, {"1", "1", "1", "1", "1"});
    auto* view = child<QTableView>(*d, "Trace");
    view->setCurrentIndex(model(*d)->index(0, 2));
    click(*d, "Delete");
    ASSERT_EQ(model(*d)->rowCount(), 2);
    EXPECT_EQ(model(*d)->item(0, 0)->text(), "1");
    click(*d, "Clear");
    EXPECT_EQ(model(*d)->rowCount(), 0);
    EXPECT_FALSE(QFile::exists(tmp.path() + "/Traj.dat"));
}

} // namespace

namespace {

// At this platform's font and at larger ones every label and check box is as
// wide as its text needs, keeps its place in the form's order, overlaps no other
// control and stays inside its group.
TEST_F(ConfigDialogTest, LabelsShowTheirWholeText)
{
    const QFont original = QApplication::font();
    for (const int points : {0, 11, 13}) {
        SCOPED_TRACE(points);
        QFont font = original;
        if (points > 0)
            font.setPointSize(points);
        QApplication::setFont(font);
        auto d = open();
        QWidget* group = child<QWidget>(*d, "groupBox_option");
        const char* const texts[] = {"checkBox_showTrace", "checkBox_saveTrace", "label_speed",
                                     "checkBox_cam",       "checkBox_udp_save",  "checkBox_ip"};
        const char* const others[] = {"pushButton_clearTrace", "pushButton_path", "label_path",
                                      "horizontalSlider_speed"};
        QList<QWidget*> all;
        for (const char* name : texts) {
            QWidget* w = child<QWidget>(*d, name);
            ASSERT_NE(w, nullptr);
            EXPECT_GE(w->width(), w->sizeHint().width()) << name;
            all << w;
        }
        for (const char* name : others)
            all << child<QWidget>(*d, name);
        for (QWidget* w : all) {
            EXPECT_TRUE(group->rect().contains(w->geometry())) << w->objectName().toStdString();
            for (QWidget* other : all) {
                if (other != w) {
                    EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                        << w->objectName().toStdString() << " / " << other->objectName().toStdString();
                }
            }
        }
        // Reading order is the form's: left to right, then down.
        auto before = [](QWidget* a, QWidget* b) { return a->y() < b->y() || (a->y() == b->y() && a->x() < b->x()); };
        for (int i : {1, 4, 5})
            EXPECT_TRUE(before(all[i - 1], all[i])) << texts[i];
        // The widest speed text fits too, so the slider never moves.
        auto* speed = child<QLabel>(*d, "label_speed");
        EXPECT_GE(speed->width(), speed->fontMetrics().horizontalAdvance("speed rate:  150%"));
        EXPECT_EQ(QSize(500, 300), d->size());
    }
    QApplication::setFont(original);
}

} // namespace
