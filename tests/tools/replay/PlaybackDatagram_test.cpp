#include "tools/replay/PlaybackDatagram.h"

#include "common/Json.h"

#include <QVariantMap>

#include <gtest/gtest.h>

using namespace replay;

namespace {

TEST(PlaybackDatagram, SetsPlaybackAndTimeAndLeavesTheRestAsRecorded)
{
    const struct {
        const char* name;
        QByteArray recorded;
        LineKind kind;
        bool local;
        QByteArray sent;
    } cases[] = {
        {"host datagram gains both keys at the end",
         R"({"Roll":0.5,"Time":1200,"SenderIP":"192.168.0.10","SimulatorCommand":1})", LineKind::Datagram, false,
         R"({"Roll":0.5,"Time":1234,"SenderIP":"192.168.0.10","SimulatorCommand":1,"PlayBackEnabled":1})"},
        {"present keys are replaced in place", R"({"PlayBackEnabled":0,"Time":9,"WorldZ":2})", LineKind::Datagram,
         false, R"({"PlayBackEnabled":1,"Time":1234,"WorldZ":2})"},
        {"every copy of a repeated key", R"({"Time":1,"Time":2})", LineKind::Datagram, false,
         R"({"Time":1234,"Time":1234,"PlayBackEnabled":1})"},
        {"empty object", "{}", LineKind::Datagram, false, R"({"PlayBackEnabled":1,"Time":1234})"},
        {"white space kept", R"( { "Time" : 5 , "Roll":1 } )", LineKind::Datagram, false,
         R"( { "Time" : 1234 , "Roll":1 ,"PlayBackEnabled":1} )"},
        {"nested keys are not the datagram's", R"({"a":{"Time":5},"b":["Time",{"}":1}]})", LineKind::Datagram, false,
         R"({"a":{"Time":5},"b":["Time",{"}":1}],"PlayBackEnabled":1,"Time":1234})"},
        {"string values that look like keys", R"({"SenderIP":"\"Time\":7,}"})", LineKind::Datagram, true,
         R"({"SenderIP":"127.0.0.1","PlayBackEnabled":1,"Time":1234})"},
        {"local replaces the sender", R"({"SenderIP":"10.1.2.3","Time":0})", LineKind::Datagram, true,
         R"({"SenderIP":"127.0.0.1","Time":1234,"PlayBackEnabled":1})"},
        {"local adds a missing sender", R"({"Roll":0})", LineKind::Datagram, true,
         R"({"Roll":0,"PlayBackEnabled":1,"Time":1234,"SenderIP":"127.0.0.1"})"},
        {"trace position", "x:1.500000,y:-2.250000,z:10.000000", LineKind::TracePosition, false,
         R"({"WorldX":1.500000,"WorldY":-2.250000,"WorldZ":10.000000,"PlayBackEnabled":1,"Time":1234})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray sent = playbackDatagram(c.recorded, c.kind, 1234, c.local);
        EXPECT_EQ(c.sent.toStdString(), sent.toStdString());
        bool ok = false;
        const QVariantMap map = Json::parse(QString::fromUtf8(sent), ok).toMap();
        ASSERT_TRUE(ok);
        EXPECT_EQ(1, map["PlayBackEnabled"].toInt());
        EXPECT_EQ(1234, map["Time"].toInt());
        if (c.local) {
            EXPECT_EQ("127.0.0.1", map["SenderIP"].toString().toStdString());
        }
    }
}

TEST(PlaybackDatagram, LongRecordingTimesAreNotCut)
{
    EXPECT_EQ(R"({"PlayBackEnabled":1,"Time":86400000})", playbackDatagram("{}", LineKind::Datagram, 86400000, false));
}

} // namespace
