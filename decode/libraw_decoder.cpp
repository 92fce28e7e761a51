#include "decode/libraw_decoder.h"

#include "decode/image_scaler.h"
#include "decode/jpeg_turbo_decoder.h"
#include "decode/wic_raster.h"

// LibRaw's headers declare a global struct named like this project's namespace; it is renamed while they
// are read. Nothing here uses it.
#define decode libraw_decode_table
#include <libraw/libraw.h>
#undef decode

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace decode {

namespace {

// LibRaw's own ceiling for what one file may make it allocate (its default is 2 GiB).
constexpr unsigned kMaxRawMemoryMegabytes = 1024;
constexpr uint64_t kMaxRawFileBytes = uint64_t{2} << 30;

struct ProcessedImageDeleter {
    void operator()(libraw_processed_image_t* image) const { LibRaw::dcraw_clear_mem(image); }
};
using ProcessedImage = std::unique_ptr<libraw_processed_image_t, ProcessedImageDeleter>;

// Damaged sensor data is reported through this callback; the load's result says what happened.
void IgnoreDataError(void*, const char*, const int) {}

// TIFF-based layouts (CR2, NEF, DNG, ARW, PEF, ...) keep the orientation in IFD0, where the EXIF
// reader finds it; the view then turns the picture.
bool HasTiffHeader(const uint8_t* header, size_t size) {
    return size >= 4 && (std::memcmp(header, "II*\0", 4) == 0 || std::memcmp(header, "MM\0*", 4) == 0);
}

// Some damaged files send LibRaw's parsers round a loop whose count comes from the file (billions of
// directory entries, each with a seek). The stream bounds the work: past these budgets it reports the
// data as corrupt, which LibRaw turns into a failed call. A real file needs a small fraction of them.
constexpr uint64_t kMaxStreamSeeks = uint64_t{1} << 20;
constexpr uint64_t kMaxStreamReads = uint64_t{1} << 28;

template <typename Base> class BoundedStream final : public Base {
public:
    using Base::Base;
    int read(void* buffer, size_t size, size_t count) override {
        if (++reads > kMaxStreamReads) {
            throw LIBRAW_EXCEPTION_IO_CORRUPT;
        }
        return Base::read(buffer, size, count);
    }
    int seek(INT64 offset, int whence) override {
        if (++seeks > kMaxStreamSeeks) {
            throw LIBRAW_EXCEPTION_IO_CORRUPT;
        }
        return Base::seek(offset, whence);
    }

private:
    uint64_t reads = 0;
    uint64_t seeks = 0;
};

class RawLoad {
public:
    RawLoad() : processor(std::make_unique<LibRaw>(0)) {
        processor->imgdata.params.max_raw_memory_mb = kMaxRawMemoryMegabytes;
        processor->set_dataerror_handler(IgnoreDataError, nullptr);
    }
    LibRaw& operator*() { return *processor; }
    LibRaw* operator->() { return processor.get(); }

private:
    std::unique_ptr<LibRaw> processor; // large; kept off the stack
};

// The embedded preview when it is a JPEG the JPEG decoder accepts.
bool DecodePreview(LibRaw& processor, uint32_t targetWidth, uint32_t targetHeight, bool highQuality,
                   RawResult& result) {
    if (processor.unpack_thumb() != LIBRAW_SUCCESS) {
        return false;
    }
    int error = 0;
    const ProcessedImage thumbnail(processor.dcraw_make_mem_thumb(&error));
    if (!thumbnail || thumbnail->type != LIBRAW_IMAGE_JPEG || thumbnail->data_size == 0) {
        return false;
    }
    JpegTurboDecoder jpeg;
    if (!jpeg.LoadFromMemory(thumbnail->data, thumbnail->data_size, targetWidth, targetHeight, highQuality)) {
        return false;
    }
    result.width = jpeg.GetWidth();
    result.height = jpeg.GetHeight();
    result.pixels = jpeg.TakePixelBuffer();
    return result.pixels != nullptr;
}

// The sensor data developed at half size: camera white balance, sRGB, 8 bits, linear interpolation.
bool Develop(LibRaw& processor, bool keepStoredOrientation, RawResult& result) {
    libraw_output_params_t& params = processor.imgdata.params;
    params.half_size = 1;
    params.use_auto_wb = 0;
    params.use_camera_wb = 1;
    params.output_color = 1;
    params.output_bps = 8;
    params.user_qual = 0;
    if (keepStoredOrientation) {
        params.user_flip = 0;
    }
    const libraw_image_sizes_t& sizes = processor.imgdata.sizes;
    if (uint64_t{sizes.raw_width} * sizes.raw_height > kMaxDecodedPixels) {
        return false;
    }
    if (processor.unpack() != LIBRAW_SUCCESS || processor.dcraw_process() != LIBRAW_SUCCESS) {
        return false;
    }
    int error = 0;
    const ProcessedImage image(processor.dcraw_make_mem_image(&error));
    if (!image || image->type != LIBRAW_IMAGE_BITMAP || image->colors != 3 || image->bits != 8 ||
        image->width == 0 || image->height == 0 ||
        uint64_t{image->width} * image->height * 3 > image->data_size) {
        return false;
    }
    const uint64_t pixelCount = uint64_t{image->width} * image->height;
    std::unique_ptr<uint8_t[]> raster = AllocateRaster(pixelCount * 4);
    if (!raster) {
        return false;
    }
    const uint8_t* source = image->data;
    uint8_t* target = raster.get();
    for (uint64_t i = 0; i < pixelCount; ++i, source += 3, target += 4) {
        target[0] = source[2];
        target[1] = source[1];
        target[2] = source[0];
        target[3] = 255;
    }
    result.pixels = std::move(raster);
    result.width = image->width;
    result.height = image->height;
    return true;
}

// Preview first, development otherwise; an empty result when both fail.
RawResult DecodeOpened(LibRaw& processor, bool tiff, uint32_t targetWidth, uint32_t targetHeight,
                       bool highQuality) {
    RawResult result;
    if (!DecodePreview(processor, targetWidth, targetHeight, highQuality, result) &&
        !Develop(processor, tiff, result)) {
        result.pixels.reset();
    }
    return result;
}

} // namespace

bool LibRawDecoder::Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight,
                         bool highQuality) {
    Reset();
    sourceWidth = 0;
    sourceHeight = 0;
    // Declared before the processor, which reads from it until it is destroyed.
    BoundedStream<LibRaw_bigfile_datastream> stream(path.c_str());
    RawLoad processor;
    if (!stream.valid() || processor->open_datastream(&stream) != LIBRAW_SUCCESS) {
        return false;
    }
    uint8_t header[4] = {};
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    const bool tiff = file && std::fread(header, 1, sizeof header, file.get()) == sizeof header &&
                      HasTiffHeader(header, sizeof header);
    sourceWidth = processor->imgdata.sizes.width;
    sourceHeight = processor->imgdata.sizes.height;
    return TakeResult(DecodeOpened(*processor, tiff, targetWidth, targetHeight, highQuality));
}

bool LibRawDecoder::LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth,
                                   uint32_t targetHeight, bool highQuality) {
    Reset();
    sourceWidth = 0;
    sourceHeight = 0;
    if (bytes == nullptr || size == 0 || size > kMaxRawFileBytes) {
        return false;
    }
    // LibRaw only reads the buffer.
    BoundedStream<LibRaw_buffer_datastream> stream(const_cast<uint8_t*>(bytes), static_cast<size_t>(size));
    RawLoad processor;
    if (!stream.valid() || processor->open_datastream(&stream) != LIBRAW_SUCCESS) {
        return false;
    }
    sourceWidth = processor->imgdata.sizes.width;
    sourceHeight = processor->imgdata.sizes.height;
    return TakeResult(DecodeOpened(*processor, HasTiffHeader(bytes, static_cast<size_t>(size)), targetWidth,
                                   targetHeight, highQuality));
}

bool LibRawDecoder::TakeResult(RawResult result) {
    if (!result.pixels) {
        return false;
    }
    pixels = std::move(result.pixels);
    width = result.width;
    height = result.height;
    stride = width * 4;
    return true;
}

} // namespace decode
