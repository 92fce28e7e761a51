#include "decode/svg_decoder.h"

#include "decode/wic_raster.h"
#include "platform/files.h"
#include "platform/trace.h"

#include <cairo.h>
#include <librsvg/rsvg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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

    // No base file: relative and absolute references to other files cannot be resolved, so nothing
    // outside the document (a device, a huge file, the network) is ever read. SVGZ is unpacked by the
    // library.
    const GObjectPtr<GInputStream> input(
        g_memory_input_stream_new_from_data(bytes, static_cast<gssize>(size), nullptr));
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
