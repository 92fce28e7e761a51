#include "decode/jxr_reader.h"
#include "decode/wic_raster.h"
#include "tests/support/test_support.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// jxrlib's headers define Windows-style macros; nothing else may be included after them.
#include <JXRGlue.h>

namespace {

struct Decoded {
    bool ok = false;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels;
};

Decoded Decode(const std::vector<uint8_t>& bytes) {
    Decoded result;
    decode::RasterBuilder builder{decode::RasterRequest{}};
    std::unique_ptr<uint8_t[]> raster;
    if (!decode::ReadJxr(bytes.data(), bytes.size(), builder, nullptr) || !builder.Finish(raster)) {
        return result;
    }
    result.ok = true;
    result.width = builder.OutputWidth();
    result.height = builder.OutputHeight();
    result.pixels.assign(raster.get(), raster.get() + size_t{result.width} * result.height * 4);
    return result;
}

// jxrlib run directly in this process, to 32-bit BGRA: the reference for intact files.
std::vector<uint8_t> ReferenceBgra(std::vector<uint8_t> bytes, I32& width, I32& height) {
    std::vector<uint8_t> pixels;
    WMPStream* stream = nullptr;
    PKImageDecode* decoder = nullptr;
    PKFormatConverter* converter = nullptr;
    if (!Failed(CreateWS_Memory(&stream, bytes.data(), bytes.size())) &&
        !Failed(PKImageDecode_Create_WMP(&decoder)) && !Failed(decoder->Initialize(decoder, stream)) &&
        !Failed(decoder->GetSize(decoder, &width, &height)) &&
        !Failed(PKCodecFactory_CreateFormatConverter(&converter)) &&
        !Failed(converter->Initialize(converter, decoder, nullptr, GUID_PKPixelFormat32bppBGRA))) {
        pixels.resize(size_t(width) * size_t(height) * 4);
        const PKRect rect = {0, 0, width, height};
        if (Failed(converter->Copy(converter, &rect, pixels.data(), U32(width * 4)))) {
            pixels.clear();
        }
    }
    if (converter != nullptr) {
        converter->Release(&converter);
    }
    if (decoder != nullptr) {
        decoder->Release(&decoder);
    }
    if (stream != nullptr) {
        CloseWS_Memory(&stream);
    }
    return pixels;
}

size_t OpenDescriptorCount() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// Image data of both samples lies within these offsets.
constexpr size_t kDataStart = 578;
constexpr size_t kDataEnd = 4176;

std::vector<uint8_t> Flipped(std::vector<uint8_t> bytes, size_t offset) {
    for (size_t i = offset; i < offset + 16 && i < bytes.size(); ++i) {
        bytes[i] ^= 0xFF;
    }
    return bytes;
}

const char* const kSamples[] = {"jxr/imagecodecs_sample.jxr", "jxr/imagecodecs_rgba32.jxr"};

TEST(JxrReader, IntactSamplesMatchJxrlibInProcess) {
    SKIP_WITHOUT_SAMPLES();
    for (const char* name : kSamples) {
        const std::vector<uint8_t> bytes =
            testing_support::ReadFileBytes(testing_support::SamplesDir() / name);
        const Decoded decoded = Decode(bytes);
        ASSERT_TRUE(decoded.ok) << name;
        EXPECT_EQ(decoded.width, 100u) << name;
        EXPECT_EQ(decoded.height, 100u) << name;
        I32 width = 0;
        I32 height = 0;
        const std::vector<uint8_t> reference = ReferenceBgra(bytes, width, height);
        ASSERT_EQ(reference.size(), decoded.pixels.size()) << name;
        size_t mismatches = 0;
        for (size_t i = 0; i < reference.size(); i += 4) {
            mismatches += reference[i] != decoded.pixels[i] || reference[i + 1] != decoded.pixels[i + 1] ||
                          reference[i + 2] != decoded.pixels[i + 2] || decoded.pixels[i + 3] != 255;
        }
        EXPECT_EQ(mismatches, 0u) << name;
    }
}

TEST(JxrReader, CorruptImageDataFailsWithoutHarmingTheProcess) {
    SKIP_WITHOUT_SAMPLES();
    struct sigaction before = {};
    ASSERT_EQ(sigaction(SIGCHLD, nullptr, &before), 0);
    const size_t descriptors = OpenDescriptorCount();
    size_t failures = 0;
    size_t attempts = 0;
    for (const char* name : kSamples) {
        const std::vector<uint8_t> bytes =
            testing_support::ReadFileBytes(testing_support::SamplesDir() / name);
        ASSERT_GT(bytes.size(), kDataEnd) << name;
        for (size_t offset = kDataStart; offset + 16 <= kDataEnd; offset += 293) {
            const Decoded decoded = Decode(Flipped(bytes, offset));
            ++attempts;
            failures += !decoded.ok;
            // Without checksums some damage decodes to wrong pixels, but never to another size.
            if (decoded.ok) {
                EXPECT_EQ(decoded.width, 100u) << name << " at " << offset;
                EXPECT_EQ(decoded.height, 100u) << name << " at " << offset;
            }
        }
    }
    // Most of the damage ends jxrlib with a fault or an error.
    EXPECT_GT(failures, attempts / 3);
    // Every child was reaped, and neither descriptors nor SIGCHLD handling were touched.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    struct sigaction after = {};
    ASSERT_EQ(sigaction(SIGCHLD, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    // And the process still decodes intact data.
    const Decoded intact =
        Decode(testing_support::ReadFileBytes(testing_support::SamplesDir() / kSamples[0]));
    EXPECT_TRUE(intact.ok);
}

TEST(JxrReader, ConcurrentDecodesOfIntactAndCorruptData) {
    SKIP_WITHOUT_SAMPLES();
    const std::vector<uint8_t> intact =
        testing_support::ReadFileBytes(testing_support::SamplesDir() / kSamples[1]);
    const Decoded expected = Decode(intact);
    ASSERT_TRUE(expected.ok);
    std::vector<std::vector<uint8_t>> corrupt;
    for (size_t offset : {size_t{600}, size_t{1500}, size_t{2600}, size_t{4000}}) {
        corrupt.push_back(Flipped(intact, offset));
    }
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (size_t round = 0; round < 6; ++round) {
                const Decoded good = Decode(intact);
                mismatches[t] += !good.ok || good.pixels != expected.pixels;
                Decode(corrupt[(t + round) % corrupt.size()]);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

} // namespace
