// The window shows WebP, HEIF/AVIF, JPEG XL and camera RAW files through the loader, and a HEIC that
// libheif already turned upright is not turned again by its EXIF orientation.
#include "app/loader_feed.h"
#include "app/main_window.h"
#include "loader/loader_threads.h"
#include "sources/source_list.h"
#include "tests/gui/window_test_support.h"
#include "tests/support/png_writer.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>

#include <cstdlib>
#include <filesystem>

namespace {

class LibraryFormatsWindowTest : public testing_support::RealWindowTest {
protected:
    bool FullImageShown() {
        if (sources::NavigationPending || !window->GetCanvas().HasImage() || window->ViewState().isPreview) {
            return false;
        }
        loader::ImageSlot& slot = loader::CurrentImageSlot();
        std::lock_guard lock(slot.mutex);
        return slot.index == sources::CurrentIndex.load() && !slot.preview;
    }

    // Opens the file and waits for its full image; the decoded size in view.
    std::pair<uint32_t, uint32_t> Show(const std::string& path) {
        sources::OpenPath(path);
        // A 12-megapixel HEIC takes seconds in a sanitizer build; the shared wait's bound is too short.
        QElapsedTimer clock;
        clock.start();
        while (!FullImageShown() && clock.elapsed() < 120000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        EXPECT_TRUE(FullImageShown()) << path;
        return {window->GetCanvas().Image().width, window->GetCanvas().Image().height};
    }

    testing_support::TemporaryDirectory folder;
};

TEST_F(LibraryFormatsWindowTest, ShowsEachLibraryFamilyUpright) {
    // A generated WebP, left half red and right half blue, drawn at its size in the middle.
    std::vector<uint8_t> rgba(200 * 100 * 4);
    for (size_t i = 0; i < rgba.size(); i += 4) {
        const bool left = (i / 4) % 200 < 100;
        rgba[i] = left ? 230 : 20, rgba[i + 1] = 20, rgba[i + 2] = left ? 20 : 230, rgba[i + 3] = 255;
    }
    const std::string png = folder.Write("halves.png", testing_support::EncodeRgbaPng(200, 100, rgba));
    const std::string webp = folder.File("halves.webp");
    ASSERT_EQ(std::system(("cwebp -quiet -lossless " + png + " -o " + webp).c_str()), 0);
    std::filesystem::remove(png);
    ASSERT_EQ(Show(webp), std::make_pair(200u, 100u));
    const QImage frame = window->GetCanvas().grabFramebuffer();
    const QRgb left = frame.pixel(frame.width() / 2 - 50, frame.height() / 2);
    const QRgb right = frame.pixel(frame.width() / 2 + 50, frame.height() / 2);
    EXPECT_GT(qRed(left), 200);
    EXPECT_LT(qBlue(left), 50);
    EXPECT_GT(qBlue(right), 200);
    EXPECT_LT(qRed(right), 50);

    if (testing_support::SamplesDir().empty()) {
        GTEST_SKIP() << "the real-world samples folder is absent";
    }
    const auto sample = [](const char* path) { return (testing_support::SamplesDir() / path).string(); };
    // Stored landscape with irot and EXIF orientation 6: libheif turns it, the view must not.
    EXPECT_EQ(Show(sample("heif/exifsamples_iphone_13_pro_max.HEIC")), std::make_pair(3024u, 4032u));
    EXPECT_EQ(window->ViewState().orientationRotation, 0.0f);
    EXPECT_EQ(Show(sample("avif/pillow_rot1mir0.avif")), std::make_pair(640u, 427u));
    EXPECT_EQ(Show(sample("jxl/conformance_sunset_logo.jxl")), std::make_pair(924u, 1386u));
    EXPECT_EQ(window->ViewState().orientationRotation, 0.0f);
    const std::string cr2 = "/usr/share/doc/rawtran/IMG_5952.CR2";
    if (std::filesystem::exists(cr2)) {
        const auto [width, height] = Show(cr2);
        EXPECT_GT(width, 0u);
        EXPECT_LE(width, 1728u);
        EXPECT_GT(height, 0u);
    }
}

} // namespace
