#include <gtest/gtest.h>

#include "view/geometry.h"

using namespace view;

TEST(Matrix3x2, ProductOrderInverseAndBounds) {
    // Row-vector order: translate first, then scale.
    const Matrix3x2 m = Matrix3x2::Translation(10, 0) * Matrix3x2::Scale(2, 3);
    const PointF p = m.TransformPoint({1, 1});
    EXPECT_EQ(p.x, 22.0f);
    EXPECT_EQ(p.y, 3.0f);
    const PointF q = (Matrix3x2::Scale(2, 3) * Matrix3x2::Translation(10, 0)).TransformPoint({1, 1});
    EXPECT_EQ(q.x, 12.0f);

    // Clockwise on screen: the x axis turns towards +y.
    const PointF turned = Matrix3x2::Rotation(90).TransformPoint({1, 0});
    EXPECT_EQ(turned.x, 0.0f);
    EXPECT_EQ(turned.y, 1.0f);
    EXPECT_EQ(Matrix3x2::Rotation(-90).TransformPoint({1, 0}).y, -1.0f);
    EXPECT_EQ(Matrix3x2::Rotation(540).TransformPoint({1, 0}).x, -1.0f);
    const PointF tilted = Matrix3x2::Rotation(10).TransformPoint({1, 0});
    EXPECT_NEAR(tilted.y, 0.173648f, 1e-6f);

    const Matrix3x2 composite = Matrix3x2::Translation(-50, -25) * Matrix3x2::Rotation(30) *
                                Matrix3x2::Scale(-1.5f, 2) * Matrix3x2::Translation(400, 300);
    const auto inverse = composite.Inverted();
    ASSERT_TRUE(inverse);
    const PointF back = inverse->TransformPoint(composite.TransformPoint({7, 11}));
    EXPECT_NEAR(back.x, 7, 1e-4);
    EXPECT_NEAR(back.y, 11, 1e-4);
    EXPECT_FALSE(Matrix3x2::Scale(0, 1).Inverted());

    const RectF bounds =
        (Matrix3x2::Rotation(90) * Matrix3x2::Translation(100, 0)).TransformBounds({0, 0, 40, 20});
    EXPECT_EQ(bounds.left, 80.0f);
    EXPECT_EQ(bounds.right, 100.0f);
    EXPECT_EQ(bounds.bottom, 40.0f);
    EXPECT_EQ(Dip(20, 144), 30.0f);
}
