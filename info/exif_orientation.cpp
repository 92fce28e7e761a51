#include "info/exif_orientation.h"

#include "info/metadata_reader.h"

namespace info {

namespace {

constexpr const char* kOrientationQuery = "/app1/ifd/{ushort=274}";

uint32_t OrientationOf(const MetadataReader& reader) {
    // These decoders already turn the picture upright; turning it by the tag too would turn it twice.
    if (reader.Format() == ContainerFormat::Heif || reader.Format() == ContainerFormat::JpegXl) {
        return 1;
    }
    const std::optional<uint16_t> value = reader.QueryFrame(0, kOrientationQuery).AsUInt16();
    if (!value || *value < 1 || *value > 8) {
        return 1;
    }
    return *value;
}

} // namespace

uint32_t ReadExifOrientation(const uint8_t* bytes, size_t size) {
    MetadataReader reader;
    if (bytes == nullptr || size == 0 || !reader.Open(bytes, size)) {
        return 1;
    }
    return OrientationOf(reader);
}

uint32_t ReadExifOrientation(const std::string& path) {
    MetadataReader reader;
    if (!reader.OpenFile(path)) {
        return 1;
    }
    return OrientationOf(reader);
}

} // namespace info
