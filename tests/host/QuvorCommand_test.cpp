#include "tests/host/HostTestSupport.h"

#include "common/Json.h"
#include "common/WindowPair.h"
#include "ui_QuvorCommand.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QVariantMap>
#include <QWhatsThis>

namespace {

class Dialog : public ::testing::Test {
protected:
    QVariantMap settings() const
    {
        bool ok = false;
        const QVariantMap map = Json::parse(QString::fromUtf8(host.settingsText()), ok).toMap();
        EXPECT_TRUE(ok) << host.settingsText().constData();
        return map;
    }
    Ui::QuvorCommand& ui() { return *host.dialog->ui; }

    // A stand-in visualiser that notes each start in a file.
    QString installVisualiser()
    {
        const QString log = host.appDir() + "/ui-starts.txt";
        QFile script(host.appDir() + "/QuvorSimulatorUI");
        script.open(QIODevice::WriteOnly);
        script.write("#!/bin/sh\necho started \"$@\" >> ui-starts.txt\n");
        script.close();
        script.setPermissions(script.permissions() | QFile::ExeOwner);
        return log;
    }
    // Whether a stand-in visualiser started from appDir still runs. A start has
    // begun the script by the time startDetached returns, so once none runs,
    // every start so far has written its line.
    static bool standInRunning(const QString& appDir)
    {
        const QByteArray script = QFile::encodeName(appDir + "/QuvorSimulatorUI");
        for (const QString& pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile cmdline("/proc/" + pid + "/cmdline");
            if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(script))
                return true;
        }
        return false;
    }
    static int lineCount(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : 0;
    }

    TestHost host;
};

TEST_F(Dialog, FormMatchesTheLayout)
{
    QuvorCommand& d = *host.dialog;
    EXPECT_EQ("Simulator Config \u2014 no aircraft connected", d.windowTitle());
    EXPECT_EQ(QSize(500, 300), d.minimumSize());
    EXPECT_EQ(QSize(500, 300), d.maximumSize());
    EXPECT_EQ(0, ui().tabWidget_config->currentIndex());
    EXPECT_EQ("Display simulator ", ui().pushButton_UI->text());
    EXPECT_EQ(QRect(340, 177, 130, 31), ui().pushButton_UI->geometry());
    EXPECT_EQ(QString("save path:\"%1/LOG_FILES/\"").arg(host.appDir()), ui().label_path->text());
    EXPECT_DOUBLE_EQ(22.537018, ui().doubleSpinBox_latitude->value());
    EXPECT_DOUBLE_EQ(113.95364, ui().doubleSpinBox_longtitude->value());
    EXPECT_TRUE(ui().checkBox_time->isChecked());
    EXPECT_TRUE(ui().pushButton_enter->isEnabled());
    EXPECT_FALSE(ui().pushButton_exit->isEnabled());
    EXPECT_TRUE(d.testAttribute(Qt::WA_QuitOnClose));
    // Setting up the initial values ran no slot, so nothing was saved yet.
    EXPECT_TRUE(host.settingsText().isEmpty());
}

TEST_F(Dialog, FirstStartWritesTheDefaultsAndStartsNoVisualiser)
{
    const QString starts = installVisualiser();
    host.startUp();
    EXPECT_FALSE(gStartupPending);
    const QVariantMap s = settings();
    EXPECT_EQ(10, s.size());
    EXPECT_EQ(host.appDir() + "/LOG_FILES/", s["m_path"].toString());
    EXPECT_EQ(22.537018, s["m_latitude"].toDouble());
    EXPECT_EQ(113.95364, s["m_longitude"].toDouble());
    EXPECT_EQ(12, s["mFontSize"].toInt());
    EXPECT_TRUE(s["m_time"].toBool());
    ASSERT_EQ(1, ui().listWidget_log->count());
    EXPECT_EQ("0-255", ui().listWidget_log->item(0)->text());
    EXPECT_EQ(Qt::Checked, ui().listWidget_log->item(0)->checkState());
    ASSERT_TRUE(waitUntil([&] { return !standInRunning(host.appDir()); }));
    EXPECT_EQ(0, lineCount(starts));
}

TEST_F(Dialog, AutoUiStartsTheVisualiserOnceAndTheButtonAgain)
{
    const QString starts = installVisualiser();
    host.writeSettings("{ \"mAutoUI\" : true, \"mFontSize\" : 12, \"m_time\" : true }");
    host.startUp();
    host.dialog->onStartupTick();
    ASSERT_TRUE(waitUntil([&] { return lineCount(starts) == 1; }));
    ui().pushButton_UI->click();
    ASSERT_TRUE(waitUntil([&] { return lineCount(starts) == 2; }));
    host.dialog->onStartupTick();
    ASSERT_TRUE(waitUntil([&] { return !standInRunning(host.appDir()); }));
    EXPECT_EQ(2, lineCount(starts));

    // A script that starts the visualiser itself keeps the host from adding a second one.
    HostOptions noAutoUi;
    noAutoUi.noAutoUi = true;
    TestHost scripted(noAutoUi);
    QFile::copy(host.appDir() + "/QuvorSimulatorUI", scripted.appDir() + "/QuvorSimulatorUI");
    scripted.writeSettings("{ \"mAutoUI\" : true }");
    scripted.startUp();
    ASSERT_TRUE(waitUntil([&] { return !standInRunning(scripted.appDir()); }));
    EXPECT_FALSE(QFile::exists(scripted.appDir() + "/ui-starts.txt"));
    EXPECT_TRUE(scripted.dialog->mAutoUI); // the saved choice itself stays
}

TEST_F(Dialog, TheStatusLineSitsBetweenTheFormsControls)
{
    auto* status = host.dialog->findChild<QLabel*>("label_status");
    ASSERT_NE(status, nullptr);
    EXPECT_EQ("no aircraft connected", status->text());
    EXPECT_EQ(ui().tab, status->parentWidget());
    EXPECT_GE(status->width(), status->sizeHint().width());
    for (QWidget* other : ui().tab->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (other != status) {
            EXPECT_FALSE(status->geometry().intersects(other->geometry())) << other->objectName().toStdString();
        }
    }
}

TEST_F(Dialog, TheVisualiserStartsBesideTheDialog)
{
    const QString starts = installVisualiser();
    host.startUp();
    ui().pushButton_UI->click();
    ASSERT_TRUE(waitUntil([&] { return lineCount(starts) == 1; }));
    QFile log(starts);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ("started --side-by-side\n", log.readAll());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(WindowPair::place(screen).dialog, host.dialog->pos());
    ASSERT_TRUE(waitUntil([&] { return !standInRunning(host.appDir()); }));
}

TEST(DialogStatus, TitleSaysLinkRunAndRate)
{
    const struct {
        bool connected, simulating;
        int rate;
        const char* title;
    } cases[] = {
        {false, false, 0, "Simulator Config \u2014 no aircraft connected"},
        {true, false, 0, "Simulator Config \u2014 connected"},
        {true, true, 200, "Simulator Config \u2014 connected, simulating, 200 states/s"},
        // Start pressed without an aircraft: the title says so until the check resets it.
        {false, true, 0, "Simulator Config \u2014 no aircraft connected, simulating, 0 states/s"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QString::fromUtf8(c.title), hostStatusTitle(c.connected, c.simulating, c.rate));
}

struct LoadCase {
    const char* file;
    int fontSize;
    double latitude;
    double longitude;
    bool time;
    const char* path; // null: the default log root
};

TEST_F(Dialog, LoadingClampsAndKeepsWhatTheSpinBoxesShow)
{
    const LoadCase cases[] = {
        {"{}", 1, 0, 0, false, nullptr},
        {"[1, 2]", 12, 22.537018, 113.95364, true, nullptr},
        {"{ broken", 12, 22.537018, 113.95364, true, nullptr},
        {"{ \"mFontSize\" : 250, \"m_latitude\" : 95.5, \"m_longitude\" : -200, \"m_path\" : \"/x/\" }", 100, 90, -180,
         false, "/x/"},
        {"{ \"mFontSize\" : 7, \"m_latitude\" : 1.12345678, \"m_longitude\" : 2.5, \"m_time\" : true }", 7, 1.123457,
         2.5, true, nullptr},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.file);
        TestHost fresh;
        fresh.writeSettings(c.file);
        fresh.startUp();
        Ui::QuvorCommand& u = *fresh.dialog->ui;
        const QString path = c.path ? QString(c.path) : fresh.appDir() + "/LOG_FILES/";
        EXPECT_EQ(c.fontSize, fresh.dialog->mFontSize);
        EXPECT_EQ(c.fontSize, u.spinBox_fontSize->value());
        EXPECT_DOUBLE_EQ(c.latitude, u.doubleSpinBox_latitude->value());
        EXPECT_DOUBLE_EQ(c.longitude, u.doubleSpinBox_longtitude->value());
        EXPECT_EQ(c.time, u.checkBox_time->isChecked());
        EXPECT_EQ(path, fresh.dialog->m_path);
        EXPECT_EQ("save path:\"" + path + "\"", u.label_path->text());

        // What the dialog shows is what it saved.
        bool ok = false;
        const QVariantMap saved = Json::parse(QString::fromUtf8(fresh.settingsText()), ok).toMap();
        ASSERT_TRUE(ok);
        EXPECT_EQ(c.fontSize, saved["mFontSize"].toInt());
        EXPECT_NEAR(c.latitude, saved["m_latitude"].toDouble(), 1e-3);
        EXPECT_EQ(path, saved["m_path"].toString());
    }
}

TEST_F(Dialog, EveryOptionChangeIsSavedAtOnce)
{
    host.startUp();
    struct Click {
        QCheckBox* box;
        const char* key;
    } clicks[] = {{ui().checkBox_time, "m_time"},    {ui().checkBox_save, "m_save"},
                  {ui().checkBox_info, "m_info"},    {ui().checkBox_show, "m_show"},
                  {ui().checkBox_autoUI, "mAutoUI"}, {ui().checkBox_udp, "mUdpBroadcast"}};
    for (const Click& c : clicks) {
        SCOPED_TRACE(c.key);
        const bool before = settings()[c.key].toBool();
        c.box->click();
        EXPECT_EQ(!before, settings()[c.key].toBool());
    }
    EXPECT_FALSE(host.dialog->m_time);
    EXPECT_TRUE(host.dialog->mUdpBroadcast);

    ui().doubleSpinBox_latitude->stepUp();
    EXPECT_EQ(23.537018, settings()["m_latitude"].toDouble());
    ui().doubleSpinBox_longtitude->setValue(-10.25);
    EXPECT_DOUBLE_EQ(-10.25, settings()["m_longitude"].toDouble());
    ui().spinBox_fontSize->setValue(20);
    EXPECT_EQ(20, host.dialog->mFontSize);
    EXPECT_EQ(20, settings()["mFontSize"].toInt());

    // A restart shows what was saved.
    TestHost restarted;
    QFile::copy(settingsFilePath(host.appDir()), settingsFilePath(restarted.appDir()));
    restarted.startUp();
    EXPECT_FALSE(restarted.dialog->ui->checkBox_time->isChecked());
    EXPECT_TRUE(restarted.dialog->ui->checkBox_udp->isChecked());
    EXPECT_DOUBLE_EQ(-10.25, restarted.dialog->ui->doubleSpinBox_longtitude->value());
}

// Answers the folder chooser once it is up: with a folder, or cancelled when empty.
void answerFolderChooser(const QString& folder)
{
    QTimer::singleShot(50, [folder] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!chooser)
            return answerFolderChooser(folder);
        if (folder.isEmpty()) {
            chooser->reject();
        } else {
            chooser->setDirectory(folder);
            static_cast<QDialog*>(chooser)->accept();
        }
    });
}

TEST_F(Dialog, ChoosingTheLogFolder)
{
    host.startUp();
    const QByteArray before = host.settingsText();
    const QString label = ui().label_path->text();
    answerFolderChooser(QString());
    host.dialog->onLogPath();
    EXPECT_EQ(host.appDir() + "/LOG_FILES/", host.dialog->m_path);
    EXPECT_EQ(label, ui().label_path->text());
    EXPECT_EQ(before, host.settingsText());

    QTemporaryDir root;
    answerFolderChooser(root.path());
    host.dialog->onLogPath();
    const QString chosen = root.path() + "/LOG_FILES/";
    EXPECT_EQ(chosen, host.dialog->m_path);
    EXPECT_EQ("save path:\"" + chosen + "\"", ui().label_path->text());
    EXPECT_TRUE(QDir(chosen).exists());
    EXPECT_EQ(chosen, settings()["m_path"].toString());
    // A new root starts a new run folder below it.
    EXPECT_TRUE(host.simulator->deviceLog().logDir().startsWith(chosen))
        << host.simulator->deviceLog().logDir().toStdString();
}

TEST_F(Dialog, LogTypeListEditsTheExclusions)
{
    host.startUp();
    QListWidgetItem* item = ui().listWidget_log->item(0);
    item->setCheckState(Qt::Unchecked);
    host.dialog->onLogListClick(item);
    EXPECT_EQ("0-255,", host.dialog->excludedLogTypes);
    host.dialog->onLogListClick(item); // clicking the text again changes nothing
    EXPECT_EQ("0-255,", host.dialog->excludedLogTypes);
    item->setCheckState(Qt::Checked);
    host.dialog->onLogListClick(item);
    EXPECT_EQ("", host.dialog->excludedLogTypes);
}

TEST_F(Dialog, ConnectionLossEndsTheRun)
{
    host.startUp();
    host.dev.clearCommands();
    // Start pressed with no aircraft: running at once, back to idle at the next check.
    ui().pushButton_enter->click();
    EXPECT_TRUE(host.dialog->mSimRunning);
    host.dialog->onCheckConnection();
    EXPECT_FALSE(host.dialog->mSimRunning);
    EXPECT_TRUE(ui().pushButton_enter->isEnabled());
    EXPECT_FALSE(ui().pushButton_exit->isEnabled());
    EXPECT_EQ(1u, host.dev.commands(cmd::SimulationSet, 4).size()); // the stop command

    // Connected, the check leaves the run alone until the aircraft goes.
    host.connect();
    ui().pushButton_enter->click();
    host.dialog->onCheckConnection();
    EXPECT_TRUE(host.dialog->mSimRunning);
    host.disconnect();
    host.dialog->onCheckConnection();
    EXPECT_FALSE(host.dialog->mSimRunning);
    EXPECT_EQ(2u, host.dev.commands(cmd::SimulationSet, 4).size());
}

TEST(AutoStart, PressesStartOnceConnected)
{
    HostOptions autoStart;
    autoStart.autoStart = true;
    TestHost host(autoStart);
    Ui::QuvorCommand& ui = *host.dialog->ui;
    host.startUp();
    EXPECT_FALSE(host.dialog->mSimRunning);
    host.connect();
    host.dialog->onStartupTick();
    EXPECT_TRUE(host.dialog->mSimRunning);
    EXPECT_EQ(1u, host.dev.commands(cmd::SimulationSet, 1).size());
    ui.pushButton_exit->click();
    host.dialog->onStartupTick();
    EXPECT_FALSE(host.dialog->mSimRunning); // only once
}

TEST_F(Dialog, ClosingStopsTheRunAndEndsTheLoop)
{
    host.startUp();
    host.connect();
    ui().pushButton_enter->click();
    host.dev.clearCommands();
    host.dialog->show();
    QSignalSpy quit(&testApp(), &QGuiApplication::lastWindowClosed);
    // The last window only ends a running event loop.
    QTimer::singleShot(0, host.dialog, &QWidget::close);
    QTimer::singleShot(5000, &testApp(), &QCoreApplication::quit);
    testApp().exec();
    EXPECT_FALSE(host.dialog->isVisible());
    EXPECT_FALSE(host.dialog->mSimRunning);
    const auto stop = host.dev.commands(cmd::SimulationSet, 4);
    ASSERT_EQ(1u, stop.size());
    EXPECT_EQ(2, stop[0].payload.at(0));
    EXPECT_EQ(1, quit.count());
}

TEST_F(Dialog, ContextHelpShowsTheAboutBox)
{
    QuvorVersion& about = *host.app.versionBox();
    ASSERT_EQ(&about, gVersionBox);
    EXPECT_EQ("QuvorSimulator", about.windowTitle());
    EXPECT_FALSE(about.testAttribute(Qt::WA_QuitOnClose));
    host.dialog->show();
    // What the title bar's context-help button delivers.
    QWhatsThis::enterWhatsThisMode();
    QEvent enter(QEvent::EnterWhatsThisMode);
    QCoreApplication::sendEvent(host.dialog, &enter);
    EXPECT_FALSE(QWhatsThis::inWhatsThisMode());
    EXPECT_TRUE(about.isVisible());
    about.close();
    EXPECT_TRUE(host.dialog->isVisible());

    // Window managers without a help button: F1 does the same.
    host.dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(host.dialog));
    QTest::keyClick(host.dialog, Qt::Key_F1);
    EXPECT_TRUE(about.isVisible());
}

} // namespace
