#include "decode/jxl_decoder.h"

#include "decode/image_scaler.h"
#include "decode/wic_raster.h"
#include "platform/files.h"

#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace decode {

namespace {

constexpr uint64_t kMaxJxlFileBytes = uint64_t{1} << 30;
// The first piece of input a reduced decode hands over; each further piece doubles what it holds.
constexpr size_t kFirstPieceBytes = 64 * 1024;

struct DecoderDeleter {
    void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};
struct RunnerDeleter {
    void operator()(void* runner) const { JxlThreadParallelRunnerDestroy(runner); }
};

uint32_t CeilDivide(uint32_t value, uint32_t divisor) {
    return (value + divisor - 1) / divisor;
}

// The reduction of a pass with the given intended downsampling that can stand in for the full picture:
// the pass still covers the picture fitted inside the target. 1 when it cannot.
uint32_t UsableReduction(uint32_t width, uint32_t height, uint32_t targetWidth, uint32_t targetHeight,
                         size_t downsampling) {
    if (targetWidth == 0 || targetHeight == 0 || downsampling <= 1 || downsampling > 8) {
        return 1;
    }
    const double scale = std::min({1.0, double(targetWidth) / width, double(targetHeight) / height});
    const auto factor = static_cast<uint32_t>(downsampling);
    return CeilDivide(width, factor) >= width * scale && CeilDivide(height, factor) >= height * scale ? factor
                                                                                                      : 1;
}

} // namespace

bool JxlImageDecoder::Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight, bool) {
    Reset();
    std::vector<uint8_t> bytes;
    if (!platform::ReadWholeFile(path, bytes, kMaxJxlFileBytes)) {
        return false;
    }
    return DecodeJxl(bytes.data(), bytes.size(), targetWidth, targetHeight);
}

bool JxlImageDecoder::LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth,
                                     uint32_t targetHeight, bool) {
    Reset();
    if (size > kMaxJxlFileBytes) {
        return false;
    }
    return DecodeJxl(bytes, static_cast<size_t>(size), targetWidth, targetHeight);
}

bool JxlImageDecoder::DecodeJxl(const uint8_t* bytes, size_t size, uint32_t targetWidth,
                                uint32_t targetHeight) {
    sourceWidth = 0;
    sourceHeight = 0;
    if (bytes == nullptr || size == 0) {
        return false;
    }
    const JxlSignature signature = JxlSignatureCheck(bytes, size);
    if (signature != JXL_SIG_CODESTREAM && signature != JXL_SIG_CONTAINER) {
        return false;
    }
    const std::unique_ptr<JxlDecoder, DecoderDeleter> decoder(JxlDecoderCreate(nullptr));
    if (!decoder) {
        return false;
    }
    const std::unique_ptr<void, RunnerDeleter> runner(
        JxlThreadParallelRunnerCreate(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads()));
    if (runner) {
        JxlDecoderSetParallelRunner(decoder.get(), JxlThreadParallelRunner, runner.get());
    }
    const bool progressive = targetWidth != 0 && targetHeight != 0;
    const int events =
        JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE | (progressive ? JXL_DEC_FRAME_PROGRESSION : 0);
    // libjxl decodes whatever input it holds before it reports a pass, so a reduced decode hands the file
    // over in growing pieces and stops as soon as a usable pass has arrived.
    size_t offered = progressive ? std::min(size, kFirstPieceBytes) : size;
    if (JxlDecoderSubscribeEvents(decoder.get(), events) != JXL_DEC_SUCCESS ||
        (progressive && JxlDecoderSetProgressiveDetail(decoder.get(), kPasses) != JXL_DEC_SUCCESS) ||
        JxlDecoderSetInput(decoder.get(), bytes, offered) != JXL_DEC_SUCCESS) {
        return false;
    }
    if (offered == size) {
        JxlDecoderCloseInput(decoder.get());
    }

    // Four 8-bit channels whatever the image holds: libjxl fills an absent alpha with opaque.
    const JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    JxlBasicInfo info{};
    std::unique_ptr<uint8_t[]> output;
    uint64_t outputBytes = 0;
    while (true) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
        switch (status) {
        case JXL_DEC_BASIC_INFO:
            if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS || info.xsize == 0 ||
                info.ysize == 0 || uint64_t{info.xsize} * info.ysize > kMaxDecodedPixels) {
                return false;
            }
            sourceWidth = info.xsize;
            sourceHeight = info.ysize;
            break;
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            size_t needed = 0;
            outputBytes = uint64_t{info.xsize} * info.ysize * 4;
            if (sourceWidth == 0 ||
                JxlDecoderImageOutBufferSize(decoder.get(), &format, &needed) != JXL_DEC_SUCCESS ||
                needed != outputBytes) {
                return false;
            }
            output = AllocateRaster(outputBytes);
            if (!output || JxlDecoderSetImageOutBuffer(decoder.get(), &format, output.get(),
                                                       static_cast<size_t>(outputBytes)) != JXL_DEC_SUCCESS) {
                return false;
            }
            break;
        }
        case JXL_DEC_FRAME_PROGRESSION: {
            const uint32_t factor = UsableReduction(info.xsize, info.ysize, targetWidth, targetHeight,
                                                    JxlDecoderGetIntendedDownsamplingRatio(decoder.get()));
            if (factor > 1 && output && JxlDecoderFlushImage(decoder.get()) == JXL_DEC_SUCCESS) {
                return Finish(std::move(output), info.alpha_premultiplied, factor);
            }
            break;
        }
        case JXL_DEC_FULL_IMAGE:
            if (!output || info.xsize == 0 || info.ysize == 0) {
                return false;
            }
            return Finish(std::move(output), info.alpha_premultiplied, 1);
        case JXL_DEC_NEED_MORE_INPUT: {
            if (offered == size) {
                return false;
            }
            const size_t unread = JxlDecoderReleaseInput(decoder.get());
            const size_t consumed = offered - unread;
            offered = size - offered <= offered ? size : offered * 2;
            if (JxlDecoderSetInput(decoder.get(), bytes + consumed, offered - consumed) != JXL_DEC_SUCCESS) {
                return false;
            }
            if (offered == size) {
                JxlDecoderCloseInput(decoder.get());
            }
            break;
        }
        case JXL_DEC_ERROR:
        case JXL_DEC_SUCCESS:
            return false;
        default:
            break;
        }
    }
}

bool JxlImageDecoder::Finish(std::unique_ptr<uint8_t[]> rgba, bool premultiplied, uint32_t factor) {
    const uint32_t fullWidth = sourceWidth;
    const uint32_t fullHeight = sourceHeight;
    const uint64_t pixelCount = uint64_t{fullWidth} * fullHeight;
    uint8_t* p = rgba.get();
    for (uint64_t i = 0; i < pixelCount; ++i, p += 4) {
        std::swap(p[0], p[2]);
    }
    if (!premultiplied) {
        for (uint32_t y = 0; y < fullHeight; ++y) {
            PremultiplyRow(rgba.get() + uint64_t{y} * fullWidth * 4, fullWidth);
        }
    } else {
        // Lossy premultiplied files round a colour above its alpha now and then.
        p = rgba.get();
        for (uint64_t i = 0; i < pixelCount; ++i, p += 4) {
            p[0] = std::min(p[0], p[3]);
            p[1] = std::min(p[1], p[3]);
            p[2] = std::min(p[2], p[3]);
        }
    }
    if (factor == 1) {
        pixels = std::move(rgba);
        width = fullWidth;
        height = fullHeight;
        stride = fullWidth * 4;
        return true;
    }
    const uint32_t reducedWidth = CeilDivide(fullWidth, factor);
    const uint32_t reducedHeight = CeilDivide(fullHeight, factor);
    std::unique_ptr<uint8_t[]> reduced = AllocateRaster(uint64_t{reducedWidth} * reducedHeight * 4);
    if (!reduced || !ScaleRaster(rgba.get(), fullWidth, fullHeight, fullWidth * 4, reduced.get(),
                                 reducedWidth, reducedHeight, ScaleFilter::Box)) {
        return false;
    }
    pixels = std::move(reduced);
    width = reducedWidth;
    height = reducedHeight;
    stride = reducedWidth * 4;
    return true;
}

} // namespace decode
