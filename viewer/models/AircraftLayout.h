#pragma once
// Where each aircraft's parts sit in its model frame (x left, y nose, z down; the
// per-frame pose stands the model upright). The models place their nodes here and
// the media generator sizes the meshes to match, so both read from this one table.

namespace aircraft {

struct Point {
    float x, y, z;
};

constexpr Point operator-(Point a, Point b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

namespace tavik {
constexpr Point kGimbalYaw{0.00063f, 0.19947f, 0.23508f};
constexpr Point kGimbalRoll{0.00321f, 0.15935f, 0.3119f};
constexpr Point kGimbalPitch{-0.03271f, 0.21979f, 0.31073f};
constexpr Point kLeftPivot{0.4222f, -0.08457f, -0.17031f};
constexpr Point kRightPivot{-0.40849f, -0.05912f, -0.17962f};
// Absolute fan positions; the model hangs them on the wings relative to the pivots.
constexpr Point kFan1{0.43131f, -0.44717f, -0.26793f};
constexpr Point kFan4{0.41718f, 0.32665f, -0.26872f};
constexpr Point kFan2{-0.40185f, -0.45828f, -0.2737f};
constexpr Point kFan3{-0.4105f, 0.33026f, -0.2677f};
// Arm swing between the landing position (identity) and the flight position, degrees
// about the model's longitudinal axis.
constexpr float kLeftConnectionAngle = -50.0f;
constexpr float kRightConnectionAngle = 50.0f;
constexpr float kLeftWingAngle = 48.005f;
constexpr float kRightWingAngle = -48.005f;
} // namespace tavik

namespace nerio {
constexpr Point kGimbalYaw{-0.11046f, 2.33552f, 7.59595f};
constexpr Point kGimbalRoll{-0.019034f, 0.03069f, 11.26992f};
constexpr Point kGimbalPitch{-0.75237f, 3.341f, 11.30921f};
constexpr Point kFan1{12.4346f, -12.27674f, -4.18145f};
constexpr Point kFan2{-12.27022f, -12.43609f, -4.18145f};
constexpr Point kFan3{-12.42958f, 12.26873f, -4.18145f};
constexpr Point kFan4{12.27525f, 12.42809f, -4.18145f};
} // namespace nerio

namespace vx7 {
// Hub circle radius of the fan key frames: half the motor-to-motor diagonal.
constexpr double kHubRadius = 0.32880465325174457; // 0.5 * sqrt(0.43245)
// Hub angle of each fan number 1..4 (index 0 unused), degrees.
constexpr double kHubAngle[5] = {0.0, 45.0, -45.0, -135.0, 135.0};
} // namespace vx7

// Scene scale of a model: factor * width / (x extent of the body mesh's bounds).
struct BodyScale {
    float width, factor;
};
constexpr BodyScale kTavikScale{100.0f, 1.0f};
constexpr BodyScale kNerioScale{100.0f, 4.0f};
constexpr BodyScale kVx7Scale{400.0f, 1.0f};
// Height of the body origin above the floor while the aircraft is on the ground, for
// every model but the Vx7 (QuvorModel::groundLift).
constexpr float kGroundLift = 210.0f;

} // namespace aircraft
