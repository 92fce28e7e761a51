#pragma once

#include <optional>

// Plain 2D types of the view's layout arithmetic. Lengths are drawing units: the render surface stays
// at 96 DPI, so one unit is one client pixel and pointer coordinates can be used as they are.
namespace view {

struct PointF {
    float x = 0;
    float y = 0;
};

struct RectF {
    float left = 0;
    float top = 0;
    float right = 0;
    float bottom = 0;

    float Width() const { return right - left; }
    float Height() const { return bottom - top; }
    PointF Center() const { return {(left + right) / 2, (top + bottom) / 2}; }
    // Edges inclusive, which is how the pointer tests of the control bar and lists count.
    bool Contains(float x, float y) const { return x >= left && x <= right && y >= top && y <= bottom; }
    RectF Inflated(float amount) const {
        return {left - amount, top - amount, right + amount, bottom + amount};
    }
};

// A straight (not premultiplied) colour with float channels in [0, 1].
struct ColorF {
    float r = 0;
    float g = 0;
    float b = 0;
    float a = 1;
};

// A 2D affine transform in the row-vector convention of the drawing layer: a point (x, y) maps to
// (x·m11 + y·m21 + dx, x·m12 + y·m22 + dy), and A * B applies A first, then B.
struct Matrix3x2 {
    float m11 = 1, m12 = 0;
    float m21 = 0, m22 = 1;
    float dx = 0, dy = 0;

    static Matrix3x2 Identity() { return {}; }
    static Matrix3x2 Translation(float x, float y) { return {1, 0, 0, 1, x, y}; }
    static Matrix3x2 Scale(float sx, float sy) { return {sx, 0, 0, sy, 0, 0}; }
    // Clockwise on screen (y grows downwards) about the origin. Right angles are exact, so a turned
    // image keeps whole-pixel edges.
    static Matrix3x2 Rotation(float degrees);

    PointF TransformPoint(PointF point) const {
        return {point.x * m11 + point.y * m21 + dx, point.x * m12 + point.y * m22 + dy};
    }
    float Determinant() const { return m11 * m22 - m12 * m21; }
    // The inverse, or nothing for a singular matrix (a zero scale).
    std::optional<Matrix3x2> Inverted() const;
    // The axis-aligned bounds of a rectangle under this transform.
    RectF TransformBounds(const RectF& rect) const;
};

Matrix3x2 operator*(const Matrix3x2& first, const Matrix3x2& then);

// n × dpi / 96: every scaled user-interface length goes through this.
inline float Dip(float length, unsigned windowDpi) {
    return length * static_cast<float>(windowDpi) / 96.0f;
}

} // namespace view
