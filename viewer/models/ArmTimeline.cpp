#include "viewer/models/ArmTimeline.h"

namespace armtimeline {

namespace {

MotorFlags only(bool MotorFlags::*flag)
{
    MotorFlags flags;
    flags.*flag = true;
    return flags;
}

} // namespace

std::optional<float> startMotors(MotorFlags& flags)
{
    if (flags.any())
        return std::nullopt;
    flags = only(&MotorFlags::flying);
    return kFlight;
}

std::optional<float> lowerArms(MotorFlags& flags, float now, float savedTime)
{
    float t;
    if (flags.raising || (flags.flying && !flags.lowering)) {
        // Reversing a raise: the lowering time where the arms stand at the same angle.
        t = (flags.raising && kFlight - now > 0.0f) ? kFlight - now : 0.0f;
    } else if (flags.paused) {
        t = savedTime > kLandedHoldEnd ? kFlight - savedTime : savedTime;
    } else {
        return std::nullopt;
    }
    flags = only(&MotorFlags::lowering);
    return t;
}

std::optional<float> raiseArms(MotorFlags& flags, float now, float savedTime)
{
    float t;
    if (flags.lowering || (flags.landed && !flags.raising)) {
        t = kLandedHoldEnd;
        if (flags.lowering && kLanded - now > 0.0f)
            t += kLanded - now;
    } else if (flags.paused) {
        t = savedTime < kLandedHoldEnd ? kLanded - savedTime + kLandedHoldEnd : savedTime;
    } else {
        return std::nullopt;
    }
    flags = only(&MotorFlags::raising);
    return t;
}

std::optional<float> checkLowering(MotorFlags& flags, float now)
{
    if (flags.paused)
        return std::nullopt;
    if (flags.lowering && now > kLanded) {
        flags = only(&MotorFlags::landed);
        return kLanded;
    }
    // Outside the hold rather than only past its end: a long frame can wrap the looping
    // time line past 20 back into the lowering segment.
    if (flags.landed && (now > kLandedHoldEnd || now < kLanded))
        return kLanded;
    return std::nullopt;
}

std::optional<float> checkRaising(MotorFlags& flags, float now)
{
    if (flags.paused)
        return std::nullopt;
    if (flags.raising && now > kFlight) {
        flags = only(&MotorFlags::flying);
        return kFlight;
    }
    if (flags.flying && (now > kFlightHoldEnd || now < kFlight))
        return kFlight;
    return std::nullopt;
}

bool pause(MotorFlags& flags, float now, float& savedTime)
{
    if (!flags.raising && !flags.lowering)
        return false;
    savedTime = now;
    flags = only(&MotorFlags::paused);
    return true;
}

} // namespace armtimeline
