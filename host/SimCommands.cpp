#include "SimCommands.h"

#include "link/CmdManager.h"

#include <QtEndian>

#include <cstring>

namespace {

constexpr double Pi = 3.141592653589793;
constexpr int EnvironmentSize = 40;

template <typename T>
void put(QByteArray& bytes, int offset, T value)
{
    qToLittleEndian(value, bytes.data() + offset);
}

} // namespace

QByteArray simStartPayload()
{
    return QByteArray("\x00\x01\x00\x00", 4);
}

QByteArray simHeartbeatPayload()
{
    return QByteArray(4, '\0');
}

QByteArray simAckPayload()
{
    return QByteArray(1, '\x01');
}

QByteArray simStopPayload()
{
    QByteArray bytes(EnvironmentSize, '\0');
    bytes[0] = 2;
    return bytes;
}

QByteArray simEnvironmentPayload(double latitudeDeg, double longitudeDeg)
{
    QByteArray bytes(EnvironmentSize, '\0');
    put<uint8_t>(bytes, 0, 0);
    put<uint8_t>(bytes, 1, 1);
    put<uint16_t>(bytes, 2, 2580);
    put<double>(bytes, 4, longitudeDeg * Pi / 180.0);
    put<double>(bytes, 12, latitudeDeg * Pi / 180.0);
    put<double>(bytes, 20, 0.1);
    put<uint8_t>(bytes, 28, 255);
    put<uint8_t>(bytes, 29, 7);
    put<uint8_t>(bytes, 30, 0);
    put<uint8_t>(bytes, 31, 0x0E);
    return bytes;
}

void sendSimCommand(uint8_t cmdId, const QByteArray& payload)
{
    if (qCmdManager* manager = qCmdManager::instance())
        manager->sendCommand(cmdId, SimCmdSet, reinterpret_cast<const uint8_t*>(payload.constData()),
                             payload.size(), kFlightControllerType, FlightControllerIndex, true);
}
