#pragma once
// Small vector and quaternion helpers for the flight model. NED world frame,
// FRD body frame; quaternions rotate body vectors into the world frame.

#include "common/Angles.h"

#include <cmath>

namespace emu {

struct Vec3 {
    double x = 0.0, y = 0.0, z = 0.0;

    Vec3() = default;
    constexpr Vec3(double x_, double y_, double z_) : x(x_), y(y_), z(z_) { }

    Vec3 operator+(const Vec3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    Vec3 operator-(const Vec3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    Vec3 operator-() const { return {-x, -y, -z}; }
    Vec3 operator*(double s) const { return {x * s, y * s, z * s}; }
    Vec3 operator/(double s) const { return {x / s, y / s, z / s}; }
    Vec3& operator+=(const Vec3& o)
    {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    Vec3& operator-=(const Vec3& o)
    {
        x -= o.x;
        y -= o.y;
        z -= o.z;
        return *this;
    }

    double dot(const Vec3& o) const { return x * o.x + y * o.y + z * o.z; }
    Vec3 cross(const Vec3& o) const { return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x}; }
    double norm() const { return std::sqrt(dot(*this)); }
    Vec3 normalized() const
    {
        const double n = norm();
        return n > 0.0 ? *this / n : Vec3{};
    }
    // Element-wise product, used for diagonal inertia.
    Vec3 scaled(const Vec3& o) const { return {x * o.x, y * o.y, z * o.z}; }
};

inline Vec3 operator*(double s, const Vec3& v) { return v * s; }

struct Quat {
    double w = 1.0, x = 0.0, y = 0.0, z = 0.0;

    Quat() = default;
    constexpr Quat(double w_, double x_, double y_, double z_) : w(w_), x(x_), y(y_), z(z_) { }

    Quat operator*(const Quat& q) const
    {
        return {w * q.w - x * q.x - y * q.y - z * q.z, w * q.x + x * q.w + y * q.z - z * q.y,
                w * q.y - x * q.z + y * q.w + z * q.x, w * q.z + x * q.y - y * q.x + z * q.w};
    }
    Quat conjugate() const { return {w, -x, -y, -z}; }
    Quat normalized() const
    {
        const double n = std::sqrt(w * w + x * x + y * y + z * z);
        return n > 0.0 ? Quat{w / n, x / n, y / n, z / n} : Quat{};
    }
    Vec3 rotate(const Vec3& v) const
    {
        const Quat r = *this * Quat{0.0, v.x, v.y, v.z} * conjugate();
        return {r.x, r.y, r.z};
    }

    static Quat fromEuler(double roll, double pitch, double yaw)
    {
        const double cr = std::cos(roll / 2), sr = std::sin(roll / 2);
        const double cp = std::cos(pitch / 2), sp = std::sin(pitch / 2);
        const double cy = std::cos(yaw / 2), sy = std::sin(yaw / 2);
        return {cr * cp * cy + sr * sp * sy, sr * cp * cy - cr * sp * sy, cr * sp * cy + sr * cp * sy,
                cr * cp * sy - sr * sp * cy};
    }
    // Rotation whose columns are the given orthonormal body axes in world coordinates.
    static Quat fromAxes(const Vec3& bx, const Vec3& by, const Vec3& bz)
    {
        const double m00 = bx.x, m11 = by.y, m22 = bz.z;
        const double trace = m00 + m11 + m22;
        Quat q;
        if (trace > 0.0) {
            const double s = std::sqrt(trace + 1.0) * 2.0;
            q = {0.25 * s, (by.z - bz.y) / s, (bz.x - bx.z) / s, (bx.y - by.x) / s};
        } else if (m00 > m11 && m00 > m22) {
            const double s = std::sqrt(1.0 + m00 - m11 - m22) * 2.0;
            q = {(by.z - bz.y) / s, 0.25 * s, (by.x + bx.y) / s, (bz.x + bx.z) / s};
        } else if (m11 > m22) {
            const double s = std::sqrt(1.0 + m11 - m00 - m22) * 2.0;
            q = {(bz.x - bx.z) / s, (by.x + bx.y) / s, 0.25 * s, (bz.y + by.z) / s};
        } else {
            const double s = std::sqrt(1.0 + m22 - m00 - m11) * 2.0;
            q = {(bx.y - by.x) / s, (bz.x + bx.z) / s, (bz.y + by.z) / s, 0.25 * s};
        }
        return q.normalized();
    }

    double roll() const { return std::atan2(2 * (w * x + y * z), 1 - 2 * (x * x + y * y)); }
    double pitch() const
    {
        const double s = 2 * (w * y - z * x);
        return std::asin(s > 1.0 ? 1.0 : (s < -1.0 ? -1.0 : s));
    }
    double yaw() const { return std::atan2(2 * (w * z + x * y), 1 - 2 * (y * y + z * z)); }
};

constexpr double kGravity = 9.80665;

// Wraps an angle to (-pi, pi].
inline double wrapAngle(double a)
{
    a = std::fmod(a + Pi, 2 * Pi);
    if (a < 0)
        a += 2 * Pi;
    return a - Pi;
}

} // namespace emu
