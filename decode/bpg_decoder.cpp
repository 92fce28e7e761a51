#include "decode/bpg_decoder.h"

#include "decode/image_scaler.h"
#include "decode/wic_raster.h"
#include "platform/files.h"
#include "platform/trace.h"

#include <libde265/de265.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace decode {

namespace {

constexpr uint64_t kMaxBpgFileBytes = uint64_t{1} << 30;
constexpr uint32_t kBpgMagic = 0x425047FB;
// The HEVC decoder is driven step by step; a damaged stream must not keep it busy for ever.
constexpr int kMaxDecodeSteps = 1 << 20;

// ue7: big-endian groups of 7 bits, the top bit set on every byte but the last; at most 32 bits and
// only the shortest form.
bool ReadUe7(const uint8_t* bytes, size_t size, size_t& position, uint32_t& value) {
    uint64_t result = 0;
    for (int count = 0; count < 5; ++count) {
        if (position >= size) {
            return false;
        }
        const uint8_t byte = bytes[position++];
        if (count == 0 && byte == 0x80) {
            return false;
        }
        result = (result << 7) | (byte & 0x7F);
        if ((byte & 0x80) == 0) {
            if (result > UINT32_MAX) {
                return false;
            }
            value = static_cast<uint32_t>(result);
            return true;
        }
    }
    return false;
}

class BitReader {
public:
    BitReader(const uint8_t* bytes, size_t size) : bytes(bytes), size(size) {}

    uint32_t Bits(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            if (position >= size * 8) {
                failed = true;
                return 0;
            }
            value = (value << 1) | ((bytes[position / 8] >> (7 - position % 8)) & 1);
            ++position;
        }
        return value;
    }
    // Exp-Golomb; values beyond 16 bits never occur in the fields read here.
    uint32_t Ue() {
        int zeros = 0;
        while (Bits(1) == 0 && !failed) {
            if (++zeros > 16) {
                failed = true;
                return 0;
            }
        }
        return ((1u << zeros) - 1) + Bits(zeros);
    }
    bool Failed() const { return failed; }

private:
    const uint8_t* bytes;
    size_t size;
    size_t position = 0;
    bool failed = false;
};

class BitWriter {
public:
    void Bits(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            current = static_cast<uint8_t>((current << 1) | ((value >> i) & 1));
            if (++filled == 8) {
                bytes.push_back(current);
                current = 0;
                filled = 0;
            }
        }
    }
    void Ue(uint32_t value) {
        const uint64_t coded = uint64_t{value} + 1;
        int length = 0;
        while ((coded >> (length + 1)) != 0) {
            ++length;
        }
        Bits(0, length);
        Bits(static_cast<uint32_t>(coded), length + 1);
    }
    // rbsp_trailing_bits, then the NAL payload with emulation prevention bytes.
    std::vector<uint8_t> FinishNal() {
        Bits(1, 1);
        while (filled != 0) {
            Bits(0, 1);
        }
        std::vector<uint8_t> nal;
        int zeros = 0;
        for (size_t i = 0; i < bytes.size(); ++i) {
            // The two header bytes never need escaping.
            if (i >= 2 && zeros >= 2 && bytes[i] <= 3) {
                nal.push_back(3);
                zeros = 0;
            }
            nal.push_back(bytes[i]);
            zeros = bytes[i] == 0 ? zeros + 1 : 0;
        }
        return nal;
    }

private:
    std::vector<uint8_t> bytes;
    uint8_t current = 0;
    int filled = 0;
};

// The SPS fields a BPG file stores; the rest follows from the container header.
struct HevcHeader {
    uint32_t log2MinCodingBlockMinus3 = 0;
    uint32_t log2DiffMaxMinCodingBlock = 0;
    uint32_t log2MinTransformBlockMinus2 = 0;
    uint32_t log2DiffMaxMinTransformBlock = 0;
    uint32_t maxTransformDepthIntra = 0;
    bool sampleAdaptiveOffset = false;
    bool pcm = false;
    uint32_t pcmBitDepthLumaMinus1 = 0;
    uint32_t pcmBitDepthChromaMinus1 = 0;
    uint32_t log2MinPcmMinus3 = 0;
    uint32_t log2DiffMaxMinPcm = 0;
    bool pcmLoopFilterDisabled = false;
    bool strongIntraSmoothing = false;
    bool extension = false;
    bool rangeExtension = false;
    uint32_t extension7Bits = 0;
    uint32_t rangeExtensionFlags = 0; // nine flags
};

bool ReadHevcHeader(const uint8_t* bytes, size_t size, size_t& position, HevcHeader& header) {
    uint32_t length = 0;
    if (!ReadUe7(bytes, size, position, length) || length > size - position) {
        return false;
    }
    BitReader reader(bytes + position, length);
    header.log2MinCodingBlockMinus3 = reader.Ue();
    header.log2DiffMaxMinCodingBlock = reader.Ue();
    header.log2MinTransformBlockMinus2 = reader.Ue();
    header.log2DiffMaxMinTransformBlock = reader.Ue();
    header.maxTransformDepthIntra = reader.Ue();
    header.sampleAdaptiveOffset = reader.Bits(1) != 0;
    header.pcm = reader.Bits(1) != 0;
    if (header.pcm) {
        header.pcmBitDepthLumaMinus1 = reader.Bits(4);
        header.pcmBitDepthChromaMinus1 = reader.Bits(4);
        header.log2MinPcmMinus3 = reader.Ue();
        header.log2DiffMaxMinPcm = reader.Ue();
        header.pcmLoopFilterDisabled = reader.Bits(1) != 0;
    }
    header.strongIntraSmoothing = reader.Bits(1) != 0;
    header.extension = reader.Bits(1) != 0;
    if (header.extension) {
        header.rangeExtension = reader.Bits(1) != 0;
        header.extension7Bits = reader.Bits(7);
        if (header.rangeExtension) {
            header.rangeExtensionFlags = reader.Bits(9);
        }
    }
    position += length;
    // Coding blocks of 8 to 64 samples, transform blocks of 4 to 32: anything else is no HEVC stream.
    const uint32_t log2MinCb = header.log2MinCodingBlockMinus3 + 3;
    const uint32_t log2MaxCb = log2MinCb + header.log2DiffMaxMinCodingBlock;
    const uint32_t log2MinTb = header.log2MinTransformBlockMinus2 + 2;
    const uint32_t log2MaxTb = log2MinTb + header.log2DiffMaxMinTransformBlock;
    return !reader.Failed() && log2MaxCb <= 6 && log2MaxTb <= 5 && log2MinTb < log2MinCb &&
           header.maxTransformDepthIntra <= log2MaxCb - log2MinTb;
}

void WriteProfileTierLevel(BitWriter& writer, bool rangeProfile) {
    writer.Bits(0, 2);                    // general_profile_space
    writer.Bits(0, 1);                    // general_tier_flag
    writer.Bits(rangeProfile ? 4 : 1, 5); // general_profile_idc: Main or format range extensions
    writer.Bits(rangeProfile ? 1u << 27 : 1u << 30, 32); // compatibility flag of that profile
    writer.Bits(0, 4);                                   // source and constraint flags
    writer.Bits(0, 32);                                  // 44 reserved bits
    writer.Bits(0, 12);
    writer.Bits(255, 8); // general_level_idc: no limit claimed
}

std::vector<uint8_t> BuildVps(bool rangeProfile) {
    BitWriter writer;
    writer.Bits(32 << 1, 8); // nal_unit_type 32, layer 0
    writer.Bits(1, 8);       // temporal id + 1
    writer.Bits(0, 4);       // vps_video_parameter_set_id
    writer.Bits(3, 2);       // base layer internal and available
    writer.Bits(0, 6);       // vps_max_layers_minus1
    writer.Bits(0, 3);       // vps_max_sub_layers_minus1
    writer.Bits(1, 1);       // vps_temporal_id_nesting_flag
    writer.Bits(0xFFFF, 16);
    WriteProfileTierLevel(writer, rangeProfile);
    writer.Bits(1, 1); // vps_sub_layer_ordering_info_present_flag
    writer.Ue(1);      // vps_max_dec_pic_buffering_minus1
    writer.Ue(0);      // vps_max_num_reorder_pics
    writer.Ue(0);      // vps_max_latency_increase_plus1
    writer.Bits(0, 6); // vps_max_layer_id
    writer.Ue(0);      // vps_num_layer_sets_minus1
    writer.Bits(0, 1); // vps_timing_info_present_flag
    writer.Bits(0, 1); // vps_extension_flag
    return writer.FinishNal();
}

std::vector<uint8_t> BuildSps(const HevcHeader& header, uint32_t chromaFormat, uint32_t bitDepth,
                              uint32_t codedWidth, uint32_t codedHeight) {
    const bool rangeProfile = chromaFormat != 1 || bitDepth > 10;
    BitWriter writer;
    writer.Bits(33 << 1, 8);
    writer.Bits(1, 8);
    writer.Bits(0, 4); // sps_video_parameter_set_id
    writer.Bits(0, 3); // sps_max_sub_layers_minus1
    writer.Bits(1, 1); // sps_temporal_id_nesting_flag
    WriteProfileTierLevel(writer, rangeProfile);
    writer.Ue(0); // sps_seq_parameter_set_id
    writer.Ue(chromaFormat);
    if (chromaFormat == 3) {
        writer.Bits(0, 1); // separate_colour_plane_flag
    }
    writer.Ue(codedWidth);
    writer.Ue(codedHeight);
    writer.Bits(0, 1); // conformance_window_flag: the picture is cropped after decoding
    writer.Ue(bitDepth - 8);
    writer.Ue(bitDepth - 8);
    writer.Ue(4);      // log2_max_pic_order_cnt_lsb_minus4
    writer.Bits(1, 1); // sps_sub_layer_ordering_info_present_flag
    writer.Ue(1);      // sps_max_dec_pic_buffering_minus1: the previous frame of an animation
    writer.Ue(0);
    writer.Ue(0);
    writer.Ue(header.log2MinCodingBlockMinus3);
    writer.Ue(header.log2DiffMaxMinCodingBlock);
    writer.Ue(header.log2MinTransformBlockMinus2);
    writer.Ue(header.log2DiffMaxMinTransformBlock);
    writer.Ue(header.maxTransformDepthIntra); // inter depth equals the intra depth
    writer.Ue(header.maxTransformDepthIntra);
    writer.Bits(0, 1); // scaling_list_enabled_flag
    writer.Bits(1, 1); // amp_enabled_flag
    writer.Bits(header.sampleAdaptiveOffset, 1);
    writer.Bits(header.pcm, 1);
    if (header.pcm) {
        writer.Bits(header.pcmBitDepthLumaMinus1, 4);
        writer.Bits(header.pcmBitDepthChromaMinus1, 4);
        writer.Ue(header.log2MinPcmMinus3);
        writer.Ue(header.log2DiffMaxMinPcm);
        writer.Bits(header.pcmLoopFilterDisabled, 1);
    }
    writer.Ue(0);      // num_short_term_ref_pic_sets
    writer.Bits(0, 1); // long_term_ref_pics_present_flag
    writer.Bits(1, 1); // sps_temporal_mvp_enabled_flag
    writer.Bits(header.strongIntraSmoothing, 1);
    writer.Bits(0, 1); // vui_parameters_present_flag
    writer.Bits(header.extension, 1);
    if (header.extension) {
        writer.Bits(header.rangeExtension, 1);
        writer.Bits(header.extension7Bits, 7);
        if (header.rangeExtension) {
            writer.Bits(header.rangeExtensionFlags, 9);
        }
    }
    return writer.FinishNal();
}

// The NAL units of the picture data, which starts with the first unit's header (its start code is
// left out) and separates the others with 00 00 01 or 00 00 00 01.
std::vector<std::pair<size_t, size_t>> SplitNalUnits(const uint8_t* bytes, size_t size) {
    std::vector<std::pair<size_t, size_t>> units;
    size_t start = 0;
    size_t i = 0;
    while (i + 2 < size) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
            size_t end = i;
            if (end > start && bytes[end - 1] == 0) {
                --end;
            }
            if (end > start) {
                units.emplace_back(start, end);
            }
            start = i + 3;
            i = start;
            continue;
        }
        ++i;
    }
    if (size > start) {
        units.emplace_back(start, size);
    }
    return units;
}

struct De265Deleter {
    void operator()(de265_decoder_context* context) const { de265_free_decoder(context); }
};
using De265Context = std::unique_ptr<de265_decoder_context, De265Deleter>;

// One HEVC layer (colour or alpha) of the first frame, decoded into its own context, which owns the
// returned image until it is destroyed.
class LayerDecoder {
public:
    bool Decode(const uint8_t* data, const std::vector<std::pair<size_t, size_t>>& units, uint32_t layer,
                const HevcHeader& header, uint32_t chromaFormat, uint32_t bitDepth, uint32_t codedWidth,
                uint32_t codedHeight) {
        context.reset(de265_new_decoder());
        if (!context) {
            return false;
        }
        de265_set_parameter_bool(context.get(), DE265_DECODER_PARAM_SUPPRESS_FAULTY_PICTURES, 1);
        const std::vector<uint8_t> vps = BuildVps(chromaFormat != 1 || bitDepth > 10);
        const std::vector<uint8_t> sps = BuildSps(header, chromaFormat, bitDepth, codedWidth, codedHeight);
        if (!de265_isOK(
                de265_push_NAL(context.get(), vps.data(), static_cast<int>(vps.size()), 0, nullptr)) ||
            !de265_isOK(
                de265_push_NAL(context.get(), sps.data(), static_cast<int>(sps.size()), 0, nullptr))) {
            return false;
        }
        int pictures = 0;
        for (const auto& [begin, end] : units) {
            if (end - begin < 3) {
                continue;
            }
            std::vector<uint8_t> nal(data + begin, data + end);
            const uint32_t nalLayer = ((nal[0] & 1u) << 5) | (nal[1] >> 3);
            if (nalLayer != layer) {
                continue;
            }
            const uint32_t type = (nal[0] >> 1) & 0x3F;
            // The first slice of the second picture ends the first frame of an animation.
            if (type < 32 && (nal[2] & 0x80) != 0 && ++pictures > 1) {
                break;
            }
            nal[0] &= 0xFE; // the alpha layer is decoded as a base layer of its own
            nal[1] &= 0x07;
            if (!de265_isOK(
                    de265_push_NAL(context.get(), nal.data(), static_cast<int>(nal.size()), 0, nullptr))) {
                return false;
            }
        }
        if (pictures == 0 || !de265_isOK(de265_flush_data(context.get()))) {
            return false;
        }
        int more = 1;
        for (int step = 0; more != 0 && step < kMaxDecodeSteps; ++step) {
            const de265_error error = de265_decode(context.get(), &more);
            if (error == DE265_ERROR_WAITING_FOR_INPUT_DATA) {
                break;
            }
            if (!de265_isOK(error)) {
                return false;
            }
            if (de265_peek_next_picture(context.get()) != nullptr) {
                break;
            }
        }
        // Warnings mean damaged data (a slice ended early, addresses out of range): no half picture.
        if (de265_get_warning(context.get()) != DE265_OK) {
            return false;
        }
        image = de265_peek_next_picture(context.get());
        return image != nullptr && de265_get_image_width(image, 0) >= static_cast<int>(codedWidth) &&
               de265_get_image_height(image, 0) >= static_cast<int>(codedHeight) &&
               de265_get_bits_per_pixel(image, 0) == static_cast<int>(bitDepth);
    }

    const de265_image* Image() const { return image; }

private:
    De265Context context;
    const de265_image* image = nullptr;
};

// Sample (x, y) of a plane of 8-bit or 16-bit samples.
struct PlaneView {
    const uint8_t* base = nullptr;
    int stride = 0;
    bool wide = false;
    int shiftX = 0;
    int shiftY = 0;

    uint32_t At(uint32_t x, uint32_t y) const {
        const uint8_t* row = base + static_cast<size_t>(y >> shiftY) * stride;
        return wide ? reinterpret_cast<const uint16_t*>(row)[x >> shiftX] : row[x >> shiftX];
    }
};

PlaneView ViewPlane(const de265_image* image, int channel, uint32_t bitDepth, int shiftX, int shiftY) {
    PlaneView view;
    view.base = de265_get_image_plane(image, channel, &view.stride);
    view.wide = bitDepth > 8;
    view.shiftX = shiftX;
    view.shiftY = shiftY;
    return view;
}

// Turns the decoded planes into straight RGB in 0..1, as the colour space says.
class ColourConverter {
public:
    ColourConverter(const BpgHeader& header) : header(header) {
        const float shift = static_cast<float>(1u << (header.bitDepth - 8));
        maxValue = static_cast<float>((1u << header.bitDepth) - 1);
        half = static_cast<float>(1u << (header.bitDepth - 1));
        offset = header.limitedRange ? 16 * shift : 0.0f;
        lumaScale = header.limitedRange ? 1.0f / (219 * shift) : 1.0f / maxValue;
        chromaScale = header.limitedRange ? 1.0f / (224 * shift) : 1.0f / maxValue;
        float kr = 0.299f;
        float kb = 0.114f;
        if (header.colorSpace == 3) {
            kr = 0.2126f;
            kb = 0.0722f;
        } else if (header.colorSpace == 4) {
            kr = 0.2627f;
            kb = 0.0593f;
        }
        const float kg = 1 - kr - kb;
        crToR = 2 * (1 - kr);
        cbToB = 2 * (1 - kb);
        cbToG = 2 * (1 - kb) * kb / kg;
        crToG = 2 * (1 - kr) * kr / kg;
    }

    void Convert(uint32_t y, uint32_t cb, uint32_t cr, float rgb[3]) const {
        switch (header.colorSpace) {
        case 1: // G, B and R stored in the Y, Cb and Cr planes
            rgb[0] = Full(cr);
            rgb[1] = Full(y);
            rgb[2] = Full(cb);
            break;
        case 2: {
            const float luma = y / maxValue;
            const float cg = (cb - half) / maxValue;
            const float co = (cr - half) / maxValue;
            const float t = luma - cg;
            rgb[0] = LimitRgb(t + co);
            rgb[1] = LimitRgb(luma + cg);
            rgb[2] = LimitRgb(t - co);
            break;
        }
        default: {
            const float luma = (y - offset) * lumaScale;
            const float u = (cb - half) * chromaScale;
            const float v = (cr - half) * chromaScale;
            rgb[0] = luma + crToR * v;
            rgb[1] = luma - cbToG * u - crToG * v;
            rgb[2] = luma + cbToB * u;
            break;
        }
        }
    }
    float Luma(uint32_t y) const { return Full(y); }
    float Alpha(uint32_t a) const { return a / maxValue; }

private:
    float Full(uint32_t value) const { return (value - offset) * lumaScale; }
    // YCgCo stores range-limited RGB when the limited flag is set.
    float LimitRgb(float value) const {
        return header.limitedRange ? (value * maxValue - offset) * lumaScale : value;
    }

    const BpgHeader& header;
    float maxValue = 255;
    float half = 128;
    float offset = 0;
    float lumaScale = 1;
    float chromaScale = 1;
    float crToR = 0;
    float cbToB = 0;
    float cbToG = 0;
    float crToG = 0;
};

uint8_t ToByte(float value) {
    return static_cast<uint8_t>(std::clamp(value * 255.0f + 0.5f, 0.0f, 255.0f));
}

} // namespace

bool ParseBpgHeader(const uint8_t* bytes, size_t size, BpgHeader& header) {
    if (bytes == nullptr || size < 6) {
        return false;
    }
    const uint32_t magic =
        uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
    if (magic != kBpgMagic) {
        return false;
    }
    header.pixelFormat = bytes[4] >> 5;
    header.alpha1 = (bytes[4] & 0x10) != 0;
    header.bitDepth = (bytes[4] & 0x0F) + 8;
    header.colorSpace = bytes[5] >> 4;
    const bool extension = (bytes[5] & 0x08) != 0;
    header.alpha2 = (bytes[5] & 0x04) != 0;
    header.limitedRange = (bytes[5] & 0x02) != 0;
    header.animation = (bytes[5] & 0x01) != 0;
    if (header.pixelFormat > 5 || header.bitDepth > 14 || header.colorSpace > 4 ||
        (header.pixelFormat == 0 && header.colorSpace != 0)) {
        return false;
    }
    size_t position = 6;
    uint32_t dataLength = 0;
    if (!ReadUe7(bytes, size, position, header.width) || !ReadUe7(bytes, size, position, header.height) ||
        !ReadUe7(bytes, size, position, dataLength)) {
        return false;
    }
    if (header.width == 0 || header.height == 0 ||
        uint64_t{header.width} * header.height > kMaxDecodedPixels) {
        return false;
    }
    if (extension) {
        uint32_t extensionLength = 0;
        if (!ReadUe7(bytes, size, position, extensionLength) || extensionLength > size - position) {
            return false;
        }
        position += extensionLength; // metadata: not needed for the pixels
    }
    header.dataOffset = position;
    if (dataLength == 0) {
        header.dataEnd = size;
    } else if (dataLength <= size - position) {
        header.dataEnd = position + dataLength;
    } else {
        return false;
    }
    return header.dataEnd > header.dataOffset;
}

bool BpgDecoder::Load(const std::string& path, uint32_t, uint32_t, bool) {
    std::vector<uint8_t> bytes;
    if (!platform::ReadWholeFile(path, bytes, kMaxBpgFileBytes) || bytes.empty()) {
        return false;
    }
    return DecodeFromBuffer(bytes.data(), bytes.size());
}

bool BpgDecoder::LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t, uint32_t, bool) {
    if (bytes == nullptr || size == 0 || size > kMaxBpgFileBytes) {
        return false;
    }
    return DecodeFromBuffer(bytes, static_cast<size_t>(size));
}

bool BpgDecoder::DecodeFromBuffer(const uint8_t* bytes, size_t size) {
    platform::DebugTrace("[BPG] DecodeFromBuffer called\n");
    Reset();
    BpgHeader header;
    if (!ParseBpgHeader(bytes, size, header)) {
        platform::DebugTrace("[BPG] bpg_decoder_open FAILED\n");
        return false;
    }
    platform::DebugTrace("[BPG] bpg_decoder_open OK\n");

    const bool hasAlphaPlane = header.alpha1 || header.alpha2;
    size_t position = header.dataOffset;
    HevcHeader alphaHeader;
    HevcHeader colourHeader;
    if ((hasAlphaPlane && !ReadHevcHeader(bytes, header.dataEnd, position, alphaHeader)) ||
        !ReadHevcHeader(bytes, header.dataEnd, position, colourHeader) || position >= header.dataEnd) {
        return false;
    }
    const auto units = SplitNalUnits(bytes + position, header.dataEnd - position);

    const uint32_t chromaFormat = header.pixelFormat >= 4 ? header.pixelFormat - 3 : header.pixelFormat;
    const auto codedSize = [&](const HevcHeader& hevc, uint32_t side) {
        const uint32_t block = 1u << (hevc.log2MinCodingBlockMinus3 + 3);
        return (side + block - 1) / block * block;
    };
    LayerDecoder colour;
    if (!colour.Decode(bytes + position, units, 0, colourHeader, chromaFormat, header.bitDepth,
                       codedSize(colourHeader, header.width), codedSize(colourHeader, header.height))) {
        return false;
    }
    LayerDecoder alpha;
    if (hasAlphaPlane &&
        !alpha.Decode(bytes + position, units, 1, alphaHeader, 0, header.bitDepth,
                      codedSize(alphaHeader, header.width), codedSize(alphaHeader, header.height))) {
        return false;
    }

    const uint64_t rasterBytes = uint64_t{header.width} * header.height * 4;
    std::unique_ptr<uint8_t[]> raster = AllocateRaster(rasterBytes);
    if (!raster) {
        return false;
    }
    const int shiftX = chromaFormat == 1 || chromaFormat == 2 ? 1 : 0;
    const int shiftY = chromaFormat == 1 ? 1 : 0;
    const PlaneView lumaPlane = ViewPlane(colour.Image(), 0, header.bitDepth, 0, 0);
    PlaneView cbPlane;
    PlaneView crPlane;
    if (chromaFormat != 0) {
        cbPlane = ViewPlane(colour.Image(), 1, header.bitDepth, shiftX, shiftY);
        crPlane = ViewPlane(colour.Image(), 2, header.bitDepth, shiftX, shiftY);
    }
    PlaneView alphaPlane;
    if (hasAlphaPlane) {
        alphaPlane = ViewPlane(alpha.Image(), 0, header.bitDepth, 0, 0);
    }
    if (lumaPlane.base == nullptr ||
        (chromaFormat != 0 && (cbPlane.base == nullptr || crPlane.base == nullptr)) ||
        (hasAlphaPlane && alphaPlane.base == nullptr)) {
        return false;
    }

    const ColourConverter converter(header);
    for (uint32_t y = 0; y < header.height; ++y) {
        uint8_t* row = raster.get() + uint64_t{y} * header.width * 4;
        for (uint32_t x = 0; x < header.width; ++x) {
            float rgb[3];
            if (chromaFormat == 0) {
                rgb[0] = rgb[1] = rgb[2] = converter.Luma(lumaPlane.At(x, y));
            } else {
                converter.Convert(lumaPlane.At(x, y), cbPlane.At(x, y), crPlane.At(x, y), rgb);
            }
            float a = 1.0f;
            if (hasAlphaPlane) {
                const float plane = converter.Alpha(alphaPlane.At(x, y));
                if (header.alpha1) {
                    a = plane;
                } else { // the white component of CMYK data
                    rgb[0] *= plane;
                    rgb[1] *= plane;
                    rgb[2] *= plane;
                }
            }
            uint8_t* pixel = row + uint64_t{x} * 4;
            pixel[0] = ToByte(rgb[2]);
            pixel[1] = ToByte(rgb[1]);
            pixel[2] = ToByte(rgb[0]);
            pixel[3] = ToByte(a);
            if (header.alpha1 && header.alpha2) { // stored premultiplied already
                for (int c = 0; c < 3; ++c) {
                    pixel[c] = std::min(pixel[c], pixel[3]);
                }
            }
        }
        if (header.alpha1 && !header.alpha2) {
            PremultiplyRow(row, header.width);
        }
    }
    pixels = std::move(raster);
    width = header.width;
    height = header.height;
    stride = width * 4;
    return true;
}

} // namespace decode
