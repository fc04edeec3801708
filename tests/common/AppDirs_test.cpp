#include "common/AppDirs.h"
#include "tests/common/QtPrint.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A scratch tree in which each case lays out the folders it names.
class AppDirsTest : public ::testing::Test {
protected:
    QString path(const QString& rel) const { return root.path() + '/' + rel; }
    void makeDirs(const QStringList& dirs) const
    {
        for (const QString& d : dirs)
            ASSERT_TRUE(QDir().mkpath(path(d)));
    }
    void touch(const QString& rel) const
    {
        QFile file(path(rel));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QProcessEnvironment env(const QStringList& vars = {}) const
    {
        QProcessEnvironment e;
        e.insert("HOME", path("home"));
        for (const QString& v : vars)
            e.insert(v.section('=', 0, 0), v.section('=', 1));
        return e;
    }

    QTemporaryDir root;
};

TEST_F(AppDirsTest, TheProgramsFolderDecidesBetweenBuildTreeAndInstalledTree)
{
    struct Case {
        const char* what;
        QStringList dirs;
        QStringList files;
        bool installed;
    };
    const Case cases[] = {
        {"build folder: media beside the program", {"bin/media", "share/quvor"}, {}, false},
        {"build folder: OGRE configuration beside the program", {"bin", "share/quvor"}, {"bin/plugins.cfg"}, false},
        {"installed: bin beside share/quvor", {"bin", "share/quvor/media"}, {}, true},
        // A program copied alone into some folder is no installation.
        {"bare folder without share/quvor", {"bin"}, {}, false},
        {"share/quvor is a file, not a folder", {"bin", "share"}, {"share/quvor"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(root.path()).removeRecursively();
        QDir().mkpath(root.path());
        makeDirs(c.dirs);
        for (const QString& f : c.files)
            touch(f);

        const AppDirs d = appDirsFor(path("bin"), env());
        EXPECT_EQ(c.installed, d.installed);
        EXPECT_EQ(path("bin"), d.programDir);
        if (c.installed) {
            EXPECT_EQ(path("home/.config/Quvor"), d.settingsDir);
            EXPECT_EQ(path("home/.local/share/Quvor"), d.dataDir);
            EXPECT_EQ(path("share/quvor"), d.resourceDir);
        } else {
            EXPECT_EQ(path("bin"), d.settingsDir);
            EXPECT_EQ(path("bin"), d.dataDir);
            EXPECT_EQ(path("bin"), d.resourceDir);
        }
    }
}

TEST_F(AppDirsTest, InstalledFoldersFollowTheXdgVariables)
{
    makeDirs({"usr/bin", "usr/share/quvor"});
    struct Case {
        const char* what;
        QStringList vars;
        QString settings;
        QString data;
    };
    const Case cases[] = {
        {"unset", {}, "home/.config/Quvor", "home/.local/share/Quvor"},
        {"set", {"XDG_CONFIG_HOME=" + path("cfg"), "XDG_DATA_HOME=" + path("data/")}, "cfg/Quvor", "data/Quvor"},
        {"empty", {"XDG_CONFIG_HOME=", "XDG_DATA_HOME="}, "home/.config/Quvor", "home/.local/share/Quvor"},
        // Relative values are invalid and ignored.
        {"relative", {"XDG_CONFIG_HOME=cfg", "XDG_DATA_HOME=./data"}, "home/.config/Quvor", "home/.local/share/Quvor"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AppDirs d = appDirsFor(path("usr/bin/"), env(c.vars));
        ASSERT_TRUE(d.installed);
        EXPECT_EQ(path(c.settings), d.settingsDir);
        EXPECT_EQ(path(c.data), d.dataDir);
        EXPECT_EQ(path("usr/bin"), d.programDir) << "no trailing slash";
        EXPECT_EQ(path("usr/share/quvor"), d.resourceDir) << "no .. left in the path";
    }
}

TEST(AppDirsOf, AFolderOfTheCallersOwnServesEveryRole)
{
    static int argc = 1;
    static char name[] = "AppDirs_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    // The test program sits in the build tree, so it is not installed.
    const AppDirs d = appDirsOf("/tmp/somewhere/");
    EXPECT_FALSE(d.installed);
    for (const QString& dir : {d.programDir, d.settingsDir, d.dataDir, d.resourceDir})
        EXPECT_EQ("/tmp/somewhere/", dir) << "kept exactly as given";
}

} // namespace
