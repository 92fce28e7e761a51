#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "decode/decoded_image.h"
#include "decode/format_registry.h"
#include "tests/support/test_support.h"
#include "view/strip_layout.h"
#include "view/view_state.h"

using namespace view;

namespace {

decode::DecodedImage LoadSample(const std::string& name) {
    decode::DecodedImage image;
    const std::string path = (testing_support::SamplesDir() / "jpeg" / "exif_orientation" / name).string();
    EXPECT_TRUE(decode::LoadImageFile(path, 0, 0, true, image)) << path;
    return image;
}

float Luma(const decode::DecodedImage& image, int x, int y) {
    const uint8_t* pixel =
        image.pixels.get() + static_cast<size_t>(y) * image.stride + static_cast<size_t>(x) * 4;
    return 0.114f * pixel[0] + 0.587f * pixel[1] + 0.299f * pixel[2];
}

// Draws `stored` under the view's matrix at actual size in a window the size of the upright reference,
// and returns the share of sampled pixels that land on a pixel of similar brightness in the reference.
double MatchRate(const decode::DecodedImage& stored, float orientationRotation,
                 const decode::DecodedImage& upright) {
    ViewState state;
    state.fitMode = FitMode::ActualSize;
    state.orientationRotation = orientationRotation;
    const Matrix3x2 m =
        ComputeImageTransform(state, static_cast<float>(stored.width), static_cast<float>(stored.height),
                              static_cast<float>(upright.width), static_cast<float>(upright.height), 0);
    int matches = 0;
    int samples = 0;
    for (uint32_t y = 7; y < stored.height; y += 37) {
        for (uint32_t x = 5; x < stored.width; x += 41) {
            // The centre of the stored pixel lands in the centre of a screen pixel.
            const PointF screen =
                m.TransformPoint({static_cast<float>(x) + 0.5f, static_cast<float>(y) + 0.5f});
            const int sx = static_cast<int>(std::floor(screen.x));
            const int sy = static_cast<int>(std::floor(screen.y));
            if (sx < 0 || sy < 0 || sx >= static_cast<int>(upright.width) ||
                sy >= static_cast<int>(upright.height)) {
                continue;
            }
            ++samples;
            if (std::fabs(Luma(stored, static_cast<int>(x), static_cast<int>(y)) - Luma(upright, sx, sy)) <
                40) {
                ++matches;
            }
        }
    }
    return samples > 0 ? static_cast<double>(matches) / samples : 0.0;
}

} // namespace

// The orientation examples hold one upright picture stored turned in each EXIF way; drawn with the
// view's matrix the turned files must coincide with the upright one, and a wrong turn must not.
TEST(ImageTransformSamples, ExifTurnsMatchTheUprightPicture) {
    SKIP_WITHOUT_SAMPLES();
    const decode::DecodedImage upright = LoadSample("Landscape_1.jpg");
    ASSERT_TRUE(decode::IsValidImage(upright));
    ASSERT_EQ(upright.width, 1800u);
    ASSERT_EQ(upright.height, 1200u);

    for (int orientation : {3, 6, 8}) {
        const decode::DecodedImage stored = LoadSample("Landscape_" + std::to_string(orientation) + ".jpg");
        ASSERT_TRUE(decode::IsValidImage(stored));
        const float turn = OrientationRotationFromExif(orientation);
        EXPECT_GT(MatchRate(stored, turn, upright), 0.97) << orientation;
        EXPECT_LT(MatchRate(stored, NormalizeAngle(turn + 180), upright), 0.6) << orientation;
    }
    EXPECT_GT(MatchRate(upright, 0, upright), 0.999);
}

// A strip page stands upright before its height is taken: the turned example is as tall as the upright
// one at the same column width.
TEST(ImageTransformSamples, StripPagesUseTheUprightSize) {
    SKIP_WITHOUT_SAMPLES();
    decode::DecodedImage stored = LoadSample("Landscape_6.jpg");
    ASSERT_TRUE(decode::IsValidImage(stored));
    EXPECT_EQ(stored.width, 1200u);
    stored.orientation = 6;
    ASSERT_TRUE(decode::ApplyOrientation(stored));
    StripLayout strip;
    ASSERT_TRUE(strip.AddPage(static_cast<int32_t>(stored.width), static_cast<int32_t>(stored.height), 800));
    EXPECT_NEAR(strip.TotalHeight(), 800.0f * 1200.0f / 1800.0f, 1e-3f);
}
