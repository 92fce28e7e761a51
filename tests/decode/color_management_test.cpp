#include "decode/color_management.h"
#include "decode/jpeg_turbo_decoder.h"
#include "platform/display_profile.h"
#include "platform/settings.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace decode {
namespace {

std::vector<uint8_t> SaveProfile(cmsHPROFILE profile) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// sRGB primaries with a linear tone curve: a stored 128 is about 188 in sRGB.
std::vector<uint8_t> LinearRgbProfile() {
    cmsCIExyY whitePoint;
    cmsWhitePointFromTemp(&whitePoint, 6504);
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    cmsToneCurve* curves[3] = {linear, linear, linear};
    cmsHPROFILE profile = cmsCreateRGBProfile(&whitePoint, &primaries, curves);
    cmsFreeToneCurve(linear);
    return SaveProfile(profile);
}

std::vector<uint8_t> Raster(uint32_t pixelCount, uint8_t value, uint8_t alpha) {
    std::vector<uint8_t> pixels(pixelCount * 4, value);
    for (uint32_t i = 0; i < pixelCount; ++i) {
        pixels[i * 4 + 3] = alpha;
    }
    return pixels;
}

// A private X server for the tests that read the screen's profile from the root window.
class XvfbServer {
public:
    XvfbServer() {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        pid = fork();
        if (pid == 0) {
            close(fds[0]);
            const int devNull = open("/dev/null", O_WRONLY);
            dup2(devNull, STDOUT_FILENO);
            dup2(devNull, STDERR_FILENO);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "64x64x24",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // Xvfb writes its display number once it accepts clients.
        std::string number;
        pollfd ready{fds[0], POLLIN, 0};
        while (pid > 0 && poll(&ready, 1, 20000) > 0) {
            char c = 0;
            if (read(fds[0], &c, 1) != 1 || c == '\n') {
                break;
            }
            number += c;
        }
        close(fds[0]);
        if (!number.empty()) {
            display = ":" + number;
        }
    }
    ~XvfbServer() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    std::string display; // empty when the server did not start

private:
    pid_t pid = -1;
};

bool SetRootProfile(Display* display, const std::vector<uint8_t>& profile) {
    const Atom property = XInternAtom(display, "_ICC_PROFILE", False);
    XChangeProperty(display, DefaultRootWindow(display), property, XA_CARDINAL, 8, PropModeReplace,
                    profile.data(), static_cast<int>(profile.size()));
    XSync(display, False);
    return true;
}

// The tests run without a screen profile: the display profile is built-in sRGB.
class ColorManagementTest : public testing::Test {
protected:
    void SetUp() override {
        saved = platform::GlobalSettings();
        if (const char* display = std::getenv("DISPLAY"); display != nullptr) {
            savedDisplay = display;
            unsetenv("DISPLAY");
        }
        CloseDisplayProfile();
    }
    void TearDown() override {
        CloseDisplayProfile();
        platform::GlobalSettings() = saved;
        if (!savedDisplay.empty()) {
            setenv("DISPLAY", savedDisplay.c_str(), 1);
        }
    }

    platform::Settings saved;
    std::string savedDisplay;
};

TEST_F(ColorManagementTest, DisplayProfileOpensAtStartupOnlyInDisplayMode) {
    EXPECT_TRUE(platform::ReadDisplayIccProfile().empty()); // no X display
    for (const int32_t mode : {0, 1}) {
        platform::GlobalSettings().colorManagement = mode;
        EXPECT_FALSE(OpenDisplayProfileForStartup());
        EXPECT_FALSE(IsDisplayProfileOpen());
    }
    platform::GlobalSettings().colorManagement = 7; // unknown values mean off
    EXPECT_EQ(CurrentColorManagement(), ColorManagement::Off);
    platform::GlobalSettings().colorManagement = 2;
    EXPECT_TRUE(OpenDisplayProfileForStartup());
    EXPECT_TRUE(IsDisplayProfileOpen());
    OpenDisplayProfile(); // opening twice keeps the one profile
    CloseDisplayProfile();
    EXPECT_FALSE(IsDisplayProfileOpen());
}

TEST_F(ColorManagementTest, ApplyDisplayProfileTransformsRowsInPlaceAndKeepsAlpha) {
    const std::vector<uint8_t> linear = LinearRgbProfile();
    // Two rows of 3 pixels with 4 padding bytes each: the padding is not touched.
    const uint32_t stride = 3 * 4 + 4;
    std::vector<uint8_t> pixels(stride * 2, 128);
    for (uint32_t y = 0; y < 2; ++y) {
        for (uint32_t x = 0; x < 3; ++x) {
            pixels[y * stride + x * 4 + 3] = 200;
        }
        for (uint32_t pad = 12; pad < stride; ++pad) {
            pixels[y * stride + pad] = 7;
        }
    }
    const std::vector<uint8_t> original = pixels;

    // Off, or display mode chosen after start-up (profile not open): nothing happens.
    platform::GlobalSettings().colorManagement = 0;
    OpenDisplayProfile();
    ApplyDisplayProfile(pixels.data(), 3, 2, stride, linear.data(), linear.size());
    EXPECT_EQ(pixels, original);
    CloseDisplayProfile();
    platform::GlobalSettings().colorManagement = 2;
    ApplyDisplayProfile(pixels.data(), 3, 2, stride, linear.data(), linear.size());
    EXPECT_EQ(pixels, original);

    ASSERT_TRUE(OpenDisplayProfileForStartup());
    // Unreadable profiles and empty input change nothing.
    const std::vector<uint8_t> garbage(500, 0x5A);
    ApplyDisplayProfile(pixels.data(), 3, 2, stride, garbage.data(), garbage.size());
    ApplyDisplayProfile(pixels.data(), 3, 2, stride, nullptr, 0);
    ApplyDisplayProfile(nullptr, 3, 2, stride, linear.data(), linear.size());
    EXPECT_EQ(pixels, original);
    // A grey profile does not fit a colour raster.
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 1.0);
    const std::vector<uint8_t> grey = SaveProfile(cmsCreateGrayProfile(cmsD50_xyY(), gamma));
    cmsFreeToneCurve(gamma);
    ApplyDisplayProfile(pixels.data(), 3, 2, stride, grey.data(), grey.size());
    EXPECT_EQ(pixels, original);

    ApplyDisplayProfile(pixels.data(), 3, 2, stride, linear.data(), linear.size());
    for (uint32_t y = 0; y < 2; ++y) {
        for (uint32_t x = 0; x < 3; ++x) {
            const uint8_t* p = pixels.data() + y * stride + x * 4;
            EXPECT_NEAR(p[0], 188, 3);
            EXPECT_NEAR(p[1], 188, 3);
            EXPECT_NEAR(p[2], 188, 3);
            EXPECT_EQ(p[3], 200);
        }
        EXPECT_EQ(pixels[y * stride + 12], 7);
    }
}

TEST_F(ColorManagementTest, TransformToProfileRegardlessOfMode) {
    platform::GlobalSettings().colorManagement = 0;
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    const std::vector<uint8_t> srgbBytes = SaveProfile(cmsCreate_sRGBProfile());

    std::vector<uint8_t> pixels = Raster(4, 90, 255);
    pixels[0] = 10;  // blue
    pixels[2] = 240; // red
    const std::vector<uint8_t> original = pixels;
    EXPECT_TRUE(TransformToProfile(pixels.data(), 4, 1, 16, srgbBytes.data(), srgbBytes.size(), srgb));
    for (size_t i = 0; i < pixels.size(); ++i) {
        EXPECT_NEAR(pixels[i], original[i], 2) << i; // sRGB to sRGB is the identity
    }
    const std::vector<uint8_t> linear = LinearRgbProfile();
    std::vector<uint8_t> grey = Raster(4, 128, 255);
    EXPECT_TRUE(TransformToProfile(grey.data(), 4, 1, 16, linear.data(), linear.size(), srgb));
    EXPECT_NEAR(grey[0], 188, 3);

    const std::vector<uint8_t> garbage(64, 1);
    EXPECT_FALSE(TransformToProfile(grey.data(), 4, 1, 16, garbage.data(), garbage.size(), srgb));
    EXPECT_FALSE(TransformToProfile(grey.data(), 4, 1, 16, linear.data(), linear.size(), nullptr));
    EXPECT_FALSE(
        TransformToProfile(grey.data(), 4, 1, 8, linear.data(), linear.size(), srgb)); // stride too small
    cmsCloseProfile(srgb);
}

TEST_F(ColorManagementTest, DisplayProfileComesFromTheRootWindowProperty) {
    const XvfbServer server;
    if (server.display.empty()) {
        GTEST_SKIP() << "Xvfb is not available";
    }
    setenv("DISPLAY", server.display.c_str(), 1);
    const std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), XCloseDisplay);
    ASSERT_TRUE(display);
    EXPECT_TRUE(platform::ReadDisplayIccProfile().empty()); // no property yet

    // A linear-light screen: sRGB 188 is about 128 there.
    const std::vector<uint8_t> linear = LinearRgbProfile();
    ASSERT_TRUE(SetRootProfile(display.get(), linear));
    EXPECT_EQ(platform::ReadDisplayIccProfile(), linear);
    const std::vector<uint8_t> srgb = SaveProfile(cmsCreate_sRGBProfile());
    platform::GlobalSettings().colorManagement = 2;
    ASSERT_TRUE(OpenDisplayProfileForStartup());
    std::vector<uint8_t> pixels = Raster(2, 188, 255);
    ApplyDisplayProfile(pixels.data(), 2, 1, 8, srgb.data(), srgb.size());
    EXPECT_NEAR(pixels[0], 128, 3);
    EXPECT_NEAR(pixels[6], 128, 3);
    EXPECT_EQ(pixels[7], 255);
    CloseDisplayProfile();

    // An unreadable screen profile falls back to sRGB: sRGB content stays as it is.
    ASSERT_TRUE(SetRootProfile(display.get(), std::vector<uint8_t>(300, 0x42)));
    ASSERT_TRUE(OpenDisplayProfileForStartup());
    pixels = Raster(2, 188, 255);
    ApplyDisplayProfile(pixels.data(), 2, 1, 8, srgb.data(), srgb.size());
    EXPECT_NEAR(pixels[0], 188, 2);
}

TEST_F(ColorManagementTest, CmykThroughItsProfile) {
    SKIP_WITHOUT_SAMPLES();
    const std::vector<uint8_t> file = testing_support::ReadFileBytes(testing_support::SamplesDir() / "jpeg" /
                                                                     "sharp_cmyk_swop_icc_18chunks.jpg");
    const std::vector<uint8_t> swop = ExtractIccProfile(file.data(), file.size());
    ASSERT_FALSE(swop.empty());

    // Inverted storage: 255 everywhere is no ink (white); 0 everywhere is all inks (near black).
    std::vector<uint8_t> pixels = {255, 255, 255, 255, 0, 0, 0, 0, 0, 255, 255, 255};
    ASSERT_TRUE(ConvertCmykToDisplay(pixels.data(), 3, 1, 12, swop.data(), swop.size(), true));
    EXPECT_GT(pixels[0], 235);
    EXPECT_GT(pixels[2], 235);
    EXPECT_EQ(pixels[3], 255);
    EXPECT_LT(pixels[4] + pixels[5] + pixels[6], 120);
    EXPECT_EQ(pixels[7], 255);
    // Full cyan: blue and green well above red.
    EXPECT_GT(pixels[8], pixels[10] + 60);
    EXPECT_GT(pixels[9], pixels[10] + 30);

    // Not a CMYK profile: refused, raster untouched.
    const std::vector<uint8_t> linear = LinearRgbProfile();
    std::vector<uint8_t> untouched = {1, 2, 3, 4};
    EXPECT_FALSE(ConvertCmykToDisplay(untouched.data(), 1, 1, 4, linear.data(), linear.size(), true));
    EXPECT_EQ(untouched, (std::vector<uint8_t>{1, 2, 3, 4}));
}

} // namespace
} // namespace decode
