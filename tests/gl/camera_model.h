// What the camera should set at a given clock, worked out independently in the precision each
// quantity is specified in, and a double-precision gluLookAt to compare the modelview against.
#pragma once
#include <array>
#include <cmath>
#include <cstdint>

#include "gl_harness/context.h"
#include "gl_harness/matrices.h"

namespace vt {

struct CameraExpectation {
    int path = 0; // 1, 2 or 3
    Vec3 eye, centre, up;
    std::array<float, 4> colour; // clear and fog colour
    float fog_end = 60;
};

inline float darkening(double t, float iv) {
    // The difference is held in single precision before the maximum; d itself is single.
    const float diff = static_cast<float>(t - 80.0 * iv);
    return std::fmax(0.0f, diff) / 450000.0f;
}

inline float roll_angle(double t) {
    return static_cast<float>(t / 20000.0 + 45.0);
}

inline CameraExpectation expected_camera(uint32_t aika_ms, uint32_t tahdit_bars) {
    const double t = aika_ms;
    const float iv = beat_ms();
    CameraExpectation e;
    const float d = darkening(t, iv);
    e.colour = {std::fmax(0.0f, static_cast<float>(0.2 - d)),
                std::fmax(0.0f, static_cast<float>(0.1 - d)),
                std::fmax(0.0f, static_cast<float>(0.05 - d)), 1.0f};
    if (tahdit_bars <= 9) {
        e.path = 1;
        e.eye = {1 + std::cos(t / 4800), 2 + std::sin(t / 4200), 1};
        e.centre = {0, 2.2, 0};
        e.up = {0, 1, 0};
    } else if (tahdit_bars <= 31) {
        e.path = 2;
        const double s = std::sqrt((t - 40.0 * iv + 800) / 10);
        const float late = static_cast<float>(t - 96.0 * iv);
        const float a = static_cast<float>(0.001 * std::fmax(0.0f, late));
        const float quarter = static_cast<float>(t / 4000);
        e.eye = {-5 - std::cos(t / 1700) + 0.0001 * (t - 40.0 * iv), 4.5 - std::sqrt(quarter),
                 2 - t / 1200 - 10 / s};
        e.centre = {0, 2 + 0.6 * a * a, 0};
        e.up = {0, 1, 0};
    } else {
        e.path = 3;
        const double m = std::fmax(0.0, t - 168.0 * iv);
        const float height = std::pow(static_cast<float>(0.00012 * m), 1.3f);
        const float depth = static_cast<float>(1 - std::pow(0.0003 * m, 1.3));
        const float ahead = static_cast<float>(-0.5 * m);
        const float r = roll_angle(t);
        e.eye = {0, height, depth};
        e.centre = {0, 0, ahead};
        e.up = {std::cos(r), std::sin(r), 0};
        e.colour = {0.2f, 0.05f, 0.01f, 1.0f};
        e.fog_end = 30;
    }
    return e;
}

// gluLookAt in double precision.
inline Mat4 look_at(Vec3 eye, Vec3 centre, Vec3 up) {
    auto cross = [](Vec3 a, Vec3 b) {
        return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
    };
    Vec3 f = centre - eye;
    f = (1.0 / length(f)) * f;
    Vec3 s = cross(f, up);
    s = (1.0 / length(s)) * s;
    const Vec3 u = cross(s, f);
    Mat4 r;
    r.m = {s.x, u.x, -f.x, 0, s.y, u.y, -f.y, 0, s.z, u.z, -f.z, 0, 0, 0, 0, 1};
    return r * Mat4::translate(-eye.x, -eye.y, -eye.z);
}

} // namespace vt
