#include "decode/svg_decoder.h"

#include "decode/wic_raster.h"
#include "platform/files.h"
#include "platform/trace.h"

#include <cairo.h>
#include <librsvg/rsvg.h>

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace decode {

namespace {

constexpr uint64_t kMaxSvgFileBytes = uint64_t{64} << 20;
constexpr uint32_t kDefaultRenderWidth = 1920;
constexpr uint32_t kDefaultRenderHeight = 1080;

struct GObjectDeleter {
    void operator()(void* object) const { g_object_unref(object); }
};
template <typename T> using GObjectPtr = std::unique_ptr<T, GObjectDeleter>;

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextDeleter {
    void operator()(cairo_t* context) const { cairo_destroy(context); }
};

void TraceError(const char* what, GError* error) {
    if (error != nullptr) {
        platform::DebugTrace(std::string("[SVG] ") + what + ": " + error->message);
        g_error_free(error);
    }
}

uint32_t TruncatedSide(double value) {
    return value >= 1.0 && value < 1e9 ? static_cast<uint32_t>(value) : 0;
}

// Reduces the render size, aspect kept, until it fits the caps.
void CapRenderSize(uint32_t& renderWidth, uint32_t& renderHeight) {
    double scale =
        std::min({1.0, double(kMaxSvgRenderSide) / renderWidth, double(kMaxSvgRenderSide) / renderHeight});
    const double pixels = double(renderWidth) * renderHeight * scale * scale;
    if (pixels > double(kMaxSvgRenderPixels)) {
        scale *= std::sqrt(double(kMaxSvgRenderPixels) / pixels);
    }
    if (scale < 1.0) {
        renderWidth = std::max<uint32_t>(1, static_cast<uint32_t>(renderWidth * scale));
        renderHeight = std::max<uint32_t>(1, static_cast<uint32_t>(renderHeight * scale));
    }
}

bool IsGzip(const uint8_t* bytes, size_t size) {
    return size >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B;
}

// Unpacks SVGZ, refusing anything that inflates beyond the document cap.
bool Inflate(const uint8_t* bytes, size_t size, std::string& document) {
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        return false;
    }
    stream.next_in = const_cast<Bytef*>(bytes);
    stream.avail_in = static_cast<uInt>(std::min<size_t>(size, UINT32_MAX));
    int status = Z_OK;
    char chunk[65536];
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        document.append(chunk, sizeof chunk - stream.avail_out);
        if (document.size() > kMaxSvgFileBytes || (status == Z_BUF_ERROR && stream.avail_in == 0)) {
            break;
        }
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END;
}

// Filter primitives whose cost grows with an attribute's value, not with the picture: noise octaves,
// convolution kernel order and morphology radius. Their numbers are clamped to values beyond which the
// result no longer changes visibly, so that a small hostile document cannot keep the renderer busy for
// hours.
void BoundFilterCosts(std::string& document) {
    static constexpr std::pair<std::string_view, double> kLimits[] = {
        {"numOctaves", 10}, {"order", 16}, {"radius", 64}};
    for (const auto& [name, limit] : kLimits) {
        for (size_t at = document.find(name); at != std::string::npos; at = document.find(name, at + 1)) {
            if (at == 0 || !std::isspace(static_cast<unsigned char>(document[at - 1]))) {
                continue;
            }
            size_t p = at + name.size();
            while (p < document.size() && std::isspace(static_cast<unsigned char>(document[p]))) {
                ++p;
            }
            if (p >= document.size() || document[p] != '=') {
                continue;
            }
            ++p;
            while (p < document.size() && std::isspace(static_cast<unsigned char>(document[p]))) {
                ++p;
            }
            if (p >= document.size() || (document[p] != '"' && document[p] != '\'')) {
                continue;
            }
            const size_t end = document.find(document[p], p + 1);
            if (end == std::string::npos) {
                break;
            }
            std::string value = document.substr(p + 1, end - p - 1);
            std::string bounded;
            for (size_t i = 0; i < value.size();) {
                if (std::isspace(static_cast<unsigned char>(value[i])) || value[i] == ',') {
                    bounded += value[i++];
                    continue;
                }
                const size_t start = i;
                while (i < value.size() && !std::isspace(static_cast<unsigned char>(value[i])) &&
                       value[i] != ',') {
                    ++i;
                }
                const std::string token = value.substr(start, i - start);
                char* tail = nullptr;
                const double number = std::strtod(token.c_str(), &tail);
                bounded += number > limit || std::isnan(number) ? std::to_string(int(limit)) : token;
            }
            document.replace(p + 1, end - p - 1, bounded);
        }
    }
}

} // namespace

bool SvgDecoder::Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight, bool) {
    Reset();
    std::vector<uint8_t> bytes;
    if (!platform::ReadWholeFile(path, bytes, kMaxSvgFileBytes) || bytes.empty()) {
        return false;
    }
    return Render(bytes.data(), bytes.size(), targetWidth, targetHeight);
}

bool SvgDecoder::LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth,
                                uint32_t targetHeight, bool) {
    return size <= kMaxSvgFileBytes && Render(bytes, static_cast<size_t>(size), targetWidth, targetHeight);
}

bool SvgDecoder::Render(const uint8_t* bytes, size_t size, uint32_t targetWidth, uint32_t targetHeight) {
    Reset();
    sourceWidth = sourceHeight = 0;
    if (bytes == nullptr || size == 0 || size > kMaxSvgFileBytes) {
        return false;
    }
    uint32_t renderWidth = targetWidth != 0 ? targetWidth : kDefaultRenderWidth;
    uint32_t renderHeight = targetHeight != 0 ? targetHeight : kDefaultRenderHeight;
    CapRenderSize(renderWidth, renderHeight);

    std::string document;
    if (IsGzip(bytes, size)) {
        if (!Inflate(bytes, size, document)) {
            return false;
        }
    } else {
        document.assign(reinterpret_cast<const char*>(bytes), size);
    }
    BoundFilterCosts(document);

    // No base file: relative and absolute references to other files cannot be resolved, so nothing
    // outside the document (a device, a huge file, the network) is ever read.
    const GObjectPtr<GInputStream> input(
        g_memory_input_stream_new_from_data(document.data(), static_cast<gssize>(document.size()), nullptr));
    GError* error = nullptr;
    const GObjectPtr<RsvgHandle> handle(
        rsvg_handle_new_from_stream_sync(input.get(), nullptr, RSVG_HANDLE_FLAGS_NONE, nullptr, &error));
    if (!handle) {
        TraceError("load failed", error);
        return false;
    }
    rsvg_handle_set_dpi(handle.get(), 96.0);

    double intrinsicWidth = 0;
    double intrinsicHeight = 0;
    if (rsvg_handle_get_intrinsic_size_in_pixels(handle.get(), &intrinsicWidth, &intrinsicHeight)) {
        sourceWidth = TruncatedSide(intrinsicWidth);
        sourceHeight = TruncatedSide(intrinsicHeight);
    }
    if (sourceWidth == 0 || sourceHeight == 0) {
        gboolean hasWidth = FALSE;
        gboolean hasHeight = FALSE;
        gboolean hasViewBox = FALSE;
        RsvgLength lengthWidth{};
        RsvgLength lengthHeight{};
        RsvgRectangle viewBox{};
        rsvg_handle_get_intrinsic_dimensions(handle.get(), &hasWidth, &lengthWidth, &hasHeight, &lengthHeight,
                                             &hasViewBox, &viewBox);
        sourceWidth = hasViewBox ? TruncatedSide(viewBox.width) : 0;
        sourceHeight = hasViewBox ? TruncatedSide(viewBox.height) : 0;
        if (sourceWidth == 0 || sourceHeight == 0) {
            sourceWidth = renderWidth;
            sourceHeight = renderHeight;
        }
    }

    const std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(cairo_image_surface_create(
        CAIRO_FORMAT_ARGB32, static_cast<int>(renderWidth), static_cast<int>(renderHeight)));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        return false;
    }
    {
        const std::unique_ptr<cairo_t, ContextDeleter> context(cairo_create(surface.get()));
        const RsvgRectangle viewport{0, 0, double(renderWidth), double(renderHeight)};
        if (!rsvg_handle_render_document(handle.get(), context.get(), &viewport, &error)) {
            TraceError("render failed", error);
            return false;
        }
        if (cairo_status(context.get()) != CAIRO_STATUS_SUCCESS) {
            return false;
        }
    }
    cairo_surface_flush(surface.get());

    // Cairo's ARGB32 is premultiplied and stored B, G, R, A on this byte order.
    std::unique_ptr<uint8_t[]> raster = AllocateRaster(uint64_t{renderWidth} * renderHeight * 4);
    if (!raster) {
        return false;
    }
    const uint8_t* data = cairo_image_surface_get_data(surface.get());
    const int surfaceStride = cairo_image_surface_get_stride(surface.get());
    if (data == nullptr) {
        return false;
    }
    for (uint32_t y = 0; y < renderHeight; ++y) {
        std::memcpy(raster.get() + uint64_t{y} * renderWidth * 4, data + uint64_t{y} * surfaceStride,
                    uint64_t{renderWidth} * 4);
    }
    pixels = std::move(raster);
    width = renderWidth;
    height = renderHeight;
    stride = width * 4;
    return true;
}

} // namespace decode
