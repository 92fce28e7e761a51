#include "decode/png_reader.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <sys/stat.h>

namespace decode {

namespace {

// Either a byte range or an open file (read sequentially from its current position).
struct PngInput {
    const uint8_t* data;
    size_t size;
    size_t offset;
    std::FILE* file;
    uint64_t totalBytes; // of the whole input, for judging the declared size
};

// Everything the decoding function touches lives here, outside the frame that libpng's error handler
// jumps back to, so the jump never skips a destructor.
struct PngJob {
    PngInput input;
    RasterBuilder* out;
    std::vector<uint8_t>* iccProfile;
    const uint8_t* iccData;
    png_uint_32 iccSize;
    std::unique_ptr<uint8_t[]> passRow; // one row of an interlaced pass
};

// Deflate's best case: 1032 raw bytes from one compressed byte.
constexpr uint64_t kMaxDeflateRatio = 1032;

void ReadFromMemory(png_structp png, png_bytep destination, size_t length) {
    auto* input = static_cast<PngInput*>(png_get_io_ptr(png));
    if (input->file != nullptr) {
        if (std::fread(destination, 1, length, input->file) != length) {
            png_error(png, "truncated");
        }
        return;
    }
    if (length > input->size - input->offset) {
        png_error(png, "truncated");
    }
    std::memcpy(destination, input->data + input->offset, length);
    input->offset += length;
}

[[noreturn]] void OnPngError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Text and metadata chunks are of no use for the pixels; skipping them also avoids inflating
// compressed text bombs.
constexpr png_byte kIgnoredChunks[] = {'t', 'E', 'X', 't', 0, 'z', 'T', 'X', 't', 0, 'i', 'T', 'X', 't', 0,
                                       'e', 'X', 'I', 'f', 0, 't', 'I', 'M', 'E', 0, 's', 'P', 'L', 'T', 0,
                                       'h', 'I', 'S', 'T', 0, 'p', 'H', 'Y', 's', 0, 'b', 'K', 'G', 'D', 0};

// libpng reports errors by longjmp, so this function holds only trivially destructible locals and talks
// to the raster builder through the job. Returns 1 on success.
int DecodePng(png_structp png, png_infop info, PngJob* job) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return 0;
    }
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kIgnoredChunks,
                                static_cast<int>(sizeof(kIgnoredChunks) / 5));
    png_read_info(png, info);

    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    int interlace = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, &interlace, nullptr, nullptr);
    // Samples as stored, before any expansion: what the compressed data has to hold.
    const uint64_t storedBits = uint64_t(bitDepth) * png_get_channels(png, info);
    const uint64_t plausiblePixels = job->input.totalBytes * kMaxDeflateRatio * 8 / storedBits;

    if (job->iccProfile != nullptr && png_get_valid(png, info, PNG_INFO_iCCP) != 0) {
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 profileSize = 0;
        if (png_get_iCCP(png, info, &name, &compression, &profile, &profileSize) != 0) {
            job->iccData = profile;
            job->iccSize = profileSize;
        }
    }

    png_set_expand(png);
    if (bitDepth == 16) {
        png_set_scale_16(png);
    }
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0) {
        png_set_gray_to_rgb(png);
    }
    png_set_bgr(png);
    const bool hasAlpha =
        (colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (!hasAlpha) {
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    }
    // Interlaced images are read pass by pass, without libpng's own deinterlacing (which needs the whole
    // raster): each pass row goes to the builder as a run of pixels spaced like the pass.
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * 4 ||
        !job->out->Begin(width, height, plausiblePixels)) {
        return 0;
    }

    if (interlace != PNG_INTERLACE_NONE) {
        job->passRow = AllocateRaster(uint64_t{width} * 4);
        uint8_t* row = job->passRow.get();
        if (row == nullptr) {
            return 0;
        }
        for (int pass = 0; pass < 7; ++pass) {
            const png_uint_32 rows = PNG_PASS_ROWS(height, pass);
            const png_uint_32 columns = PNG_PASS_COLS(width, pass);
            if (rows == 0 || columns == 0) {
                continue; // libpng skips empty passes too
            }
            for (png_uint_32 r = 0; r < rows; ++r) {
                png_read_row(png, row, nullptr);
                if (!job->out->UsesRow(PNG_ROW_FROM_PASS_ROW(r, pass))) {
                    continue;
                }
                if (hasAlpha) {
                    PremultiplyRow(row, columns);
                }
                if (!job->out->PutPixels(PNG_ROW_FROM_PASS_ROW(r, pass), PNG_PASS_START_COL(pass),
                                         PNG_PASS_COL_OFFSET(pass), row, columns)) {
                    return 0;
                }
            }
        }
        return 1;
    }
    for (png_uint_32 y = 0; y < height; ++y) {
        uint8_t* row = job->out->RowBuffer();
        if (row == nullptr) {
            return 0;
        }
        png_read_row(png, row, nullptr);
        if (hasAlpha) {
            PremultiplyRow(row, width);
        }
        if (!job->out->CommitRow()) {
            return 0;
        }
    }
    return 1;
}

} // namespace

bool IsPngSignature(const uint8_t* data, size_t size) {
    return data != nullptr && size >= 8 && png_sig_cmp(data, 0, 8) == 0;
}

namespace {

bool Read(PngInput input, RasterBuilder& out, std::vector<uint8_t>* iccProfile) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (png == nullptr) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    PngJob job{input, &out, iccProfile, nullptr, 0, nullptr};
    png_set_read_fn(png, &job.input, ReadFromMemory);
    // Dimensions beyond the pixel cap are refused by the builder; these only stop absurd headers early.
    png_set_user_limits(png, 1u << 24, 1u << 24);
    png_set_chunk_malloc_max(png, 16u << 20);
    const bool ok = DecodePng(png, info, &job) == 1;
    if (ok && iccProfile != nullptr && job.iccData != nullptr && job.iccSize > 0) {
        iccProfile->assign(job.iccData, job.iccData + job.iccSize);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return ok;
}

} // namespace

bool ReadPng(const uint8_t* data, size_t size, RasterBuilder& out, std::vector<uint8_t>* iccProfile) {
    return IsPngSignature(data, size) && Read(PngInput{data, size, 0, nullptr, size}, out, iccProfile);
}

bool ReadPngFile(std::FILE* file, RasterBuilder& out, std::vector<uint8_t>* iccProfile) {
    struct stat status {};
    if (file == nullptr || fstat(fileno(file), &status) != 0 || status.st_size <= 0) {
        return false;
    }
    return Read(PngInput{nullptr, 0, 0, file, static_cast<uint64_t>(status.st_size)}, out, iccProfile);
}

} // namespace decode
