// The JSON codec on its two hot inputs: a state datagram as the visualiser
// receives it, many times a second, and the host's ten-key settings map.
#include "common/Json.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QVariantMap>

#include <benchmark/benchmark.h>

namespace {

const QByteArray Datagram =
    "{\"Roll\":0.5,\"Pitch\":-0.25,\"Yaw\":1.5,\"WorldX\":1,\"WorldY\":2,\"WorldZ\":3,"
    "\"WorldLatitude\":28.6479,\"WorldLongitude\":114.592,\"VelocityX\":0.5,\"VelocityY\":0,"
    "\"VelocityZ\":-0.25,\"Time\":1200,\"TransformState\":0,\"MotorStarted\":1,\"FlyingState\":1,"
    "\"ProductType\":2,\"SenderIP\":\"192.168.0.10\",\"SimulatorCommand\":1}";

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
    for (auto _ : state) {
        bool ok = false;
        QVariantMap map = Json::parse(QString::fromUtf8(Datagram), ok).toMap();
        benchmark::DoNotOptimize(map);
    }
}
BENCHMARK(BM_ParseDatagram);

void BM_ParseDatagramQJsonDocument(benchmark::State& state)
{
    for (auto _ : state) {
        QVariantMap map = QJsonDocument::fromJson(Datagram).toVariant().toMap();
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
