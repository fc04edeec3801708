#pragma once
#include <optional>

// Motor and arm-transform state of an aircraft model. At most one flag is set at a time;
// only the transforming model uses more than `flying`.
struct MotorFlags {
    bool lowering = false;
    bool flying = false;
    bool raising = false;
    bool landed = false;
    bool paused = false;

    bool any() const { return lowering || flying || raising || landed || paused; }
    void clear() { *this = MotorFlags{}; }
};

// The transforming model's arms and fans share one 20-second time line:
//   0..5 flight -> landing (lowering), 5..10 landing hold, 10..15 landing -> flight
//   (raising), 15..19.8 flight hold.
// Each function updates the flags and returns the time position the model must jump
// to, or nothing when the call changes nothing. `now` is the current time position.
namespace armtimeline {

constexpr float kLength = 20.0f;
constexpr float kLanded = 5.0f;
constexpr float kLandedHoldEnd = 10.0f;
constexpr float kFlight = 15.0f;
constexpr float kFlightHoldEnd = 19.8f;

std::optional<float> startMotors(MotorFlags& flags);
std::optional<float> lowerArms(MotorFlags& flags, float now, float savedTime);
std::optional<float> raiseArms(MotorFlags& flags, float now, float savedTime);
std::optional<float> checkLowering(MotorFlags& flags, float now);
std::optional<float> checkRaising(MotorFlags& flags, float now);
// True when the motion was paused; `savedTime` then holds the position to resume from.
bool pause(MotorFlags& flags, float now, float& savedTime);

} // namespace armtimeline
