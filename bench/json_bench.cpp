// The JSON codec on its two hot inputs: a state datagram as the visualiser
// receives it, many times a second, and the host's ten-key settings map.
#include "common/Json.h"
#include "common/StateDatagram.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QVariantMap>

#include <benchmark/benchmark.h>

namespace {

QByteArray stateDatagram()
{
    StateDatagram::State s;
    s.roll = 0.5f;
    s.pitch = -0.25f;
    s.yaw = 1.5f;
    s.worldX = 1;
    s.worldY = 2;
    s.worldZ = 3;
    s.worldLatitude = 28.6479;
    s.worldLongitude = 114.592;
    s.velocityX = 0.5f;
    s.velocityZ = -0.25f;
    s.time = 1200;
    s.motorStarted = 1;
    s.flyingState = 1;
    s.productType = 2;
    s.senderIp = "192.168.0.10";
    s.simulatorCommand = 1;
    return StateDatagram::text(StateDatagram::statePairs(s)).toLatin1();
}

QVariantMap settingsMap()
{
    QVariantMap m;
    m["mAutoUI"] = false;
    m["mFontSize"] = 12;
    m["mUdpBroadcast"] = false;
    m["m_info"] = false;
    m["m_latitude"] = 22.537018;
    m["m_longitude"] = 113.95364;
    m["m_path"] = "/opt/quvor/bin/LOG_FILES/";
    m["m_save"] = false;
    m["m_show"] = false;
    m["m_time"] = true;
    return m;
}

// Both parse paths start from the received bytes and end in a QVariantMap.
void BM_ParseDatagram(benchmark::State& state)
{
    const QByteArray datagram = stateDatagram();
    for (auto _ : state) {
        bool ok = false;
        QVariantMap map = Json::parse(QString::fromUtf8(datagram), ok).toMap();
        benchmark::DoNotOptimize(map);
    }
}
BENCHMARK(BM_ParseDatagram);

void BM_ParseDatagramQJsonDocument(benchmark::State& state)
{
    const QByteArray datagram = stateDatagram();
    for (auto _ : state) {
        QVariantMap map = QJsonDocument::fromJson(datagram).toVariant().toMap();
        benchmark::DoNotOptimize(map);
    }
}
BENCHMARK(BM_ParseDatagramQJsonDocument);

void BM_SerializeSettings(benchmark::State& state)
{
    const QVariantMap settings = settingsMap();
    for (auto _ : state) {
        QByteArray text = Json::serialize(settings);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_SerializeSettings);

void BM_SerializeSettingsQJsonDocument(benchmark::State& state)
{
    const QVariantMap settings = settingsMap();
    for (auto _ : state) {
        QByteArray text = QJsonDocument(QJsonObject::fromVariantMap(settings)).toJson(QJsonDocument::Compact);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_SerializeSettingsQJsonDocument);

} // namespace

BENCHMARK_MAIN();
