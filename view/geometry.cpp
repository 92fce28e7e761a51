#include "view/geometry.h"

#include <algorithm>
#include <cmath>

namespace view {

Matrix3x2 Matrix3x2::Rotation(float degrees) {
    double turned = std::fmod(static_cast<double>(degrees), 360.0);
    if (turned < 0) {
        turned += 360.0;
    }
    float cosine;
    float sine;
    if (turned == 0.0) {
        cosine = 1, sine = 0;
    } else if (turned == 90.0) {
        cosine = 0, sine = 1;
    } else if (turned == 180.0) {
        cosine = -1, sine = 0;
    } else if (turned == 270.0) {
        cosine = 0, sine = -1;
    } else {
        const double radians = turned * 3.14159265358979323846 / 180.0;
        cosine = static_cast<float>(std::cos(radians));
        sine = static_cast<float>(std::sin(radians));
    }
    return {cosine, sine, -sine, cosine, 0, 0};
}

Matrix3x2 operator*(const Matrix3x2& a, const Matrix3x2& b) {
    return {a.m11 * b.m11 + a.m12 * b.m21,      a.m11 * b.m12 + a.m12 * b.m22,
            a.m21 * b.m11 + a.m22 * b.m21,      a.m21 * b.m12 + a.m22 * b.m22,
            a.dx * b.m11 + a.dy * b.m21 + b.dx, a.dx * b.m12 + a.dy * b.m22 + b.dy};
}

std::optional<Matrix3x2> Matrix3x2::Inverted() const {
    const float determinant = Determinant();
    if (determinant == 0 || !std::isfinite(determinant)) {
        return std::nullopt;
    }
    const float inverse = 1.0f / determinant;
    Matrix3x2 result{m22 * inverse, -m12 * inverse, -m21 * inverse, m11 * inverse, 0, 0};
    result.dx = -(dx * result.m11 + dy * result.m21);
    result.dy = -(dx * result.m12 + dy * result.m22);
    return result;
}

RectF Matrix3x2::TransformBounds(const RectF& rect) const {
    const PointF corners[4] = {TransformPoint({rect.left, rect.top}), TransformPoint({rect.right, rect.top}),
                               TransformPoint({rect.left, rect.bottom}),
                               TransformPoint({rect.right, rect.bottom})};
    RectF bounds{corners[0].x, corners[0].y, corners[0].x, corners[0].y};
    for (const PointF& corner : corners) {
        bounds.left = std::min(bounds.left, corner.x);
        bounds.top = std::min(bounds.top, corner.y);
        bounds.right = std::max(bounds.right, corner.x);
        bounds.bottom = std::max(bounds.bottom, corner.y);
    }
    return bounds;
}

} // namespace view
