#include "host/SimCommands.h"

#include "common/Angles.h"
#include "link/CmdManager.h"

EnvironmentPayload environmentAt(double latitudeDeg, double longitudeDeg)
{
    EnvironmentPayload environment;
    environment.longitude = longitudeDeg * Pi / 180.0;
    environment.latitude = latitudeDeg * Pi / 180.0;
    return environment;
}

void sendSimCommand(uint8_t cmdId, const std::vector<uint8_t>& payload)
{
    if (qCmdManager* manager = qCmdManager::instance())
        manager->sendCommand(cmdId, cmd::SimulationSet, payload.data(), payload.size(), kFlightControllerType,
                             FlightControllerIndex, true);
}
