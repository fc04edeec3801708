#include "host/HostSettings.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

class SettingsFile : public ::testing::Test
{
protected:
    void write(const QByteArray& content)
    {
        QFile file(settingsFilePath(dir.path()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QByteArray read() const
    {
        QFile file(settingsFilePath(dir.path()));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QTemporaryDir dir;
};

void expectSame(const HostSettings& expected, const HostSettings& actual)
{
    EXPECT_EQ(expected.mAutoUI, actual.mAutoUI);
    EXPECT_EQ(expected.mFontSize, actual.mFontSize);
    EXPECT_EQ(expected.mUdpBroadcast, actual.mUdpBroadcast);
    EXPECT_EQ(expected.m_info, actual.m_info);
    EXPECT_DOUBLE_EQ(expected.m_latitude, actual.m_latitude);
    EXPECT_DOUBLE_EQ(expected.m_longitude, actual.m_longitude);
    EXPECT_EQ(expected.m_path, actual.m_path);
    EXPECT_EQ(expected.m_save, actual.m_save);
    EXPECT_EQ(expected.m_show, actual.m_show);
    EXPECT_EQ(expected.m_time, actual.m_time);
}

TEST_F(SettingsFile, DefaultsAreWrittenAsOneLineInKeyOrder)
{
    writeSettingsFile(dir.path(), HostSettings::defaults(dir.path()));
    const QByteArray expected = "{ \"mAutoUI\" : false, \"mFontSize\" : 12, \"mUdpBroadcast\" : false, "
                                "\"m_info\" : false, \"m_latitude\" : 22.537, \"m_longitude\" : 113.954, "
                                "\"m_path\" : \"" + dir.path().toUtf8() + "/LOG_FILES/\", \"m_save\" : false, "
                                "\"m_show\" : false, \"m_time\" : true }";
    EXPECT_EQ(expected, read());
}

TEST_F(SettingsFile, UnusableFilesGiveTheDefaults)
{
    const HostSettings defaults = HostSettings::defaults(dir.path());
    expectSame(defaults, readSettingsFile(dir.path())); // no file at all
    for (const QByteArray& content : {QByteArray(""), QByteArray("{ \"mFontSize\" : "), QByteArray("not json")}) {
        SCOPED_TRACE(content.constData());
        write(content);
        expectSame(defaults, readSettingsFile(dir.path()));
    }
}

TEST_F(SettingsFile, MissingKeysGiveEmptyValuesNotDefaults)
{
    HostSettings empty;
    empty.mFontSize = 0;
    empty.m_time = false;
    empty.m_latitude = 0;
    empty.m_longitude = 0;
    for (const QByteArray& content : {QByteArray("{}"), QByteArray("[1, 2]")}) {
        SCOPED_TRACE(content.constData());
        write(content);
        expectSame(empty, readSettingsFile(dir.path()));
    }

    write("{ \"m_save\" : true, \"mFontSize\" : 250 }");
    const HostSettings partial = readSettingsFile(dir.path());
    EXPECT_TRUE(partial.m_save);
    EXPECT_EQ(250, partial.mFontSize); // clamping is the dialog's spin box's job
    EXPECT_FALSE(partial.m_time);
    EXPECT_TRUE(partial.m_path.isEmpty());
}

TEST_F(SettingsFile, RoundTripKeepsEveryValueAndAwkwardPaths)
{
    HostSettings s;
    s.mAutoUI = true;
    s.mFontSize = 37;
    s.mUdpBroadcast = true;
    s.m_info = true;
    s.m_latitude = -45.5;
    s.m_longitude = 179.25;
    s.m_path = QString::fromUtf8("/tmp/a \"quoted\" \\ folder/Flüge/LOG_FILES/");
    s.m_save = true;
    s.m_show = true;
    s.m_time = false;
    writeSettingsFile(dir.path(), s);
    EXPECT_TRUE(read().contains("a \\\"quoted\\\" \\\\ folder")) << read().constData();
    expectSame(s, readSettingsFile(dir.path()));
}

TEST_F(SettingsFile, RealsKeepSixSignificantDigits)
{
    HostSettings s = HostSettings::defaults(dir.path());
    writeSettingsFile(dir.path(), s);
    const HostSettings back = readSettingsFile(dir.path());
    EXPECT_DOUBLE_EQ(22.537, back.m_latitude);
    EXPECT_DOUBLE_EQ(113.954, back.m_longitude);
}

} // namespace
