// The Debian package as CPack builds it, unpacked with dpkg-deb into a scratch
// root and checked by lintian.
#include "tests/install/InstallSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace install_test;

namespace {

class Package : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        app();
        scratch = new QTemporaryDir;
        packResult = new Result(
            run(envPath("QUVOR_CPACK"),
                {"-G", "DEB", "--config", envPath("QUVOR_BUILD_DIR") + "/CPackConfig.cmake", "-B", scratch->path()}));
    }
    static void TearDownTestSuite()
    {
        delete packResult;
        delete scratch;
    }
    void SetUp() override
    {
        ASSERT_EQ(0, packResult->code) << packResult->output.constData();
        ASSERT_TRUE(QFileInfo(deb()).isFile())
            << "no " << deb().toStdString() << " among " << listing(scratch->path()).join(' ').toStdString();
    }

    static QString deb()
    {
        const QString arch = QString::fromLatin1(run("dpkg", {"--print-architecture"}).output.trimmed());
        return QString("%1/quvor_%2_%3.deb").arg(scratch->path(), envPath("QUVOR_VERSION"), arch);
    }
    static QString field(const QString& name)
    {
        return QString::fromUtf8(run("dpkg-deb", {"-f", deb(), name}).output.trimmed());
    }

    static QTemporaryDir* scratch;
    static Result* packResult;
};
QTemporaryDir* Package::scratch = nullptr;
Result* Package::packResult = nullptr;

TEST_F(Package, UnpacksToTheInstalledTreeUnderUsr)
{
    QTemporaryDir root;
    const Result unpack = run("dpkg-deb", {"-x", deb(), root.path()});
    ASSERT_EQ(0, unpack.code) << unpack.output.constData();
    const QString usr = root.path() + "/usr";
    for (const QString& program : builtPrograms())
        EXPECT_TRUE(QFileInfo(usr + "/bin/" + program).isExecutable()) << program.toStdString();
    for (const QString& file : installedFiles())
        EXPECT_GT(QFileInfo(usr + "/" + file).size(), 0) << file.toStdString();
    // Only /usr: no build folder paths, nothing in /etc or /opt.
    EXPECT_EQ(QStringList{"usr"}, QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot));

    // The unpacked tree is an installation of its own: the host answers from it.
    const Result help = run(usr + "/bin/QuvorSimulator", {"--help"}, 30000);
    EXPECT_EQ(0, help.code) << help.output.constData();
}

TEST_F(Package, ControlFieldsNameThePackageAndTheLibrariesItNeeds)
{
    EXPECT_EQ("quvor", field("Package"));
    EXPECT_EQ(envPath("QUVOR_VERSION"), field("Version"));
    const QString depends = field("Depends");
    // Found by dpkg-shlibdeps from the programs' libraries.
    for (const char* library : {"libc6", "libqt5widgets5", "libqt5network5", "libudev1", "libogre1.12"})
        EXPECT_TRUE(depends.contains(library)) << library << " missing from: " << depends.toStdString();
}

TEST_F(Package, PostinstReloadsTheUdevRules)
{
    QTemporaryDir control;
    ASSERT_EQ(0, run("dpkg-deb", {"-e", deb(), control.path()}).code);
    QFile postinst(control.path() + "/postinst");
    ASSERT_TRUE(postinst.open(QIODevice::ReadOnly));
    const QByteArray script = postinst.readAll();
    EXPECT_TRUE(script.startsWith("#!/bin/sh"));
    EXPECT_TRUE(script.contains("udevadm control --reload-rules"));
    EXPECT_TRUE(postinst.permissions() & QFileDevice::ExeOther);
    // Installing must not fail where udev is absent (a container, a chroot).
    const Result withoutUdev =
        run("/usr/bin/env", {"PATH=" + control.path(), "/bin/sh", postinst.fileName(), "configure"});
    EXPECT_EQ(0, withoutUdev.code) << withoutUdev.output.constData();
}

TEST_F(Package, LintianReportsNoErrors)
{
    const Result lintian = run("lintian", {"--tag-display-limit", "0", deb()});
    ASSERT_NE(-1, lintian.code) << "lintian did not run; ./quvor installs it";
    QStringList errors;
    for (const QByteArray& line : lintian.output.split('\n'))
        if (line.startsWith("E: "))
            errors << QString::fromUtf8(line);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    // Warnings are reported, not failed on.
    std::printf("lintian:\n%s\n", lintian.output.constData());
}

} // namespace
