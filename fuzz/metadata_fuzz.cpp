#include "info/exif_orientation.h"
#include "info/metadata_reader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

const char* const kContainerQueries[] = {
    "/app1/ifd/{ushort=274}",
    "/app1/ifd/{ushort=271}",
    "/app1/ifd/{ushort=272}",
    "/app1/ifd/{ushort=305}",
    "/app1/ifd/{ushort=40091}",
    "/app1/ifd/exif/{ushort=42036}",
    "/app1/ifd/exif/{ushort=36867}",
    "/app1/ifd/exif/{ushort=33434}",
    "/app1/ifd/exif/{ushort=33437}",
    "/app1/ifd/exif/{ushort=34855}",
    "/app1/ifd/exif/{ushort=37386}",
    "/app1/ifd/exif/{ushort=41989}",
    "/app1/ifd/exif/{ushort=37380}",
    "/app1/ifd/exif/{ushort=37383}",
    "/app1/ifd/exif/{ushort=37385}",
    "/app1/ifd/exif/{ushort=41987}",
    "/app1/ifd/exif/{ushort=34850}",
    "/app1/ifd/exif/{ushort=40961}",
    "/app1/ifd/exif/{ushort=37500}",
    "/app1/ifd/exif/interop/{ushort=1}",
    "/app1/ifd/gps/{ushort=1}",
    "/app1/ifd/gps/{ushort=2}",
    "/app1/ifd/gps/{ushort=3}",
    "/app1/ifd/gps/{ushort=4}",
    "/app1/ifd/gps/{ushort=6}",
    "/app1/thumb/{ushort=513}",
    "/ifd/{ushort=273}",
    "/ifd/{ushort=34665}/{ushort=34853}/{ushort=1}",
    "/logscrdesc/Width",
    "/logscrdesc/Height",
    "/logscrdesc/Signature",
    "/appext/Application",
    "/appext/Data",
    "/commentext/TextEntry",
    "/acTL/NumFrames",
    "/acTL/NumPlays",
    "/VP8X/Width",
    "/ANIM/LoopCount",
};

const char* const kFrameQueries[] = {
    "/app1/ifd/{ushort=274}", "/ifd/{ushort=256}",    "/ifd/exif/{ushort=33434}",
    "/grctlext/Delay",        "/grctlext/Disposal",   "/grctlext/TransparencyFlag",
    "/imgdesc/Left",          "/imgdesc/Top",         "/imgdesc/Width",
    "/commentext/TextEntry",  "/fcTL/FrameDelay",     "/fcTL/XOffset",
    "/fcTL/YOffset",          "/fcTL/DisposeOp",      "/ANMF/Duration",
    "/ANMF/OffsetX",          "/ANMF/DisposalMethod",
};

void Exercise(const info::MetadataReader& reader) {
    for (const char* query : kContainerQueries) {
        const info::MetadataValue value = reader.Query(query);
        (void)value.AsString();
        (void)value.Count();
    }
    const uint32_t frames = reader.FrameCount();
    // The first few frames, the last one and one past it.
    for (uint32_t frame = 0; frame <= frames;
         frame = frame < 4 ? frame + 1 : std::max(frame + 1, frames - 1)) {
        for (const char* query : kFrameQueries) {
            (void)reader.QueryFrame(frame, query).URationalElements();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    info::MetadataReader reader;
    if (reader.Open(data, size)) {
        Exercise(reader);
    }
    if (reader.OpenExifBlock(data, size)) {
        Exercise(reader);
    }
    const uint32_t orientation = info::ReadExifOrientation(data, size);
    if (orientation < 1 || orientation > 8) {
        __builtin_trap();
    }
    return 0;
}
