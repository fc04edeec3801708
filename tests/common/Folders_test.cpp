#include "common/Folders.h"
#include "tests/common/QtPrint.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(DatedName, IsTheLocalTimeWithEveryFieldZeroPadded)
{
    const struct {
        QDateTime time;
        QString name;
    } cases[] = {
        {QDateTime(QDate(2015, 6, 1), QTime(9, 30, 5)), "[2015-06-01,09_30_05]"},
        {QDateTime(QDate(2015, 12, 31), QTime(23, 59, 59)), "[2015-12-31,23_59_59]"},
        {QDateTime(QDate(2026, 1, 1), QTime(0, 0, 0)), "[2026-01-01,00_00_00]"},
        // Milliseconds are cut, not rounded: 09:30:05.999 is still second 5.
        {QDateTime(QDate(2015, 6, 1), QTime(9, 30, 5, 999)), "[2015-06-01,09_30_05]"},
        {QDateTime(QDate(987, 3, 4), QTime(5, 6, 7)), "[0987-03-04,05_06_07]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.time.toString(Qt::ISODateWithMs).toStdString());
        EXPECT_EQ(c.name, Folders::datedName(c.time));
    }
}

TEST(MakeOne, MakesOneLevelAndTakesAnExistingFolderAsMade)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    ASSERT_TRUE(QDir(root.path()).mkdir("existing"));
    QFile file(root.filePath("file"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    const struct {
        const char* path; // below the scratch folder
        bool made;
        int error; // errno when not made
    } cases[] = {
        {"new", true, 0},
        {"new with trailing slash/", true, 0},
        {"existing", true, 0},
        {"existing/", true, 0},
        {"file", false, EEXIST},
        {"missing/child", false, ENOENT},
        {"file/child", false, ENOTDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const QString path = root.path() + '/' + c.path;
        int error = -1;
        EXPECT_EQ(c.made, Folders::makeOne(path, &error));
        if (c.made)
            EXPECT_TRUE(QFileInfo(path).isDir());
        else
            EXPECT_EQ(c.error, error);
    }
    EXPECT_FALSE(QFileInfo::exists(root.filePath("missing")));
}

TEST(MakeOne, AnEmptyPathMakesNothing)
{
    int error = 0;
    EXPECT_FALSE(Folders::makeOne(QString(), &error));
    EXPECT_EQ(ENOENT, error);
}

} // namespace
