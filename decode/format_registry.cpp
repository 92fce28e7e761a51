#include "decode/format_registry.h"

#include "decode/bpg_decoder.h"
#include "decode/exr_decoder.h"
#include "decode/heif_decoder.h"
#include "decode/j2k_decoder.h"
#include "decode/jpeg_turbo_decoder.h"
#include "decode/jxl_decoder.h"
#include "decode/libraw_decoder.h"
#include "decode/pdf_decoder.h"
#include "decode/psd_decoder.h"
#include "decode/svg_decoder.h"
#include "decode/webp_decoder.h"
#include "decode/wic_decoder.h"
#include "platform/text.h"
#include "platform/trace.h"

#include <array>

namespace decode {

namespace {

const std::array<ExtensionSet, kExtensionFamilyCount>& AllSets() {
    static const std::array<ExtensionSet, kExtensionFamilyCount> sets = {
        ExtensionSet{"bmp", "png", "gif", "ico", "cur", "tiff", "tif", "wdp", "jxr", "hdp", "dib", "rle"},
        ExtensionSet{"jpg", "jpeg", "jpe", "jfif", "jif", "jfi", "jiff"},
        ExtensionSet{"cr2", "cr3", "crw", "nef", "nrw", "arw", "srf",  "sr2", "orf", "rw2", "rwl",
                     "dng", "raf", "pef", "ptx", "srw", "raw", "3fr",  "fff", "dcr", "kdc", "k25",
                     "mrw", "erf", "mef", "mdc", "mos", "iiq", "x3f",  "bay", "eip", "cap", "rwz",
                     "r3d", "gpr", "drf", "kc2", "cs1", "ia",  "cine", "cri"},
        ExtensionSet{"webp"},
        ExtensionSet{"psd", "psb"},
        ExtensionSet{"bpg"},
        ExtensionSet{"exr"},
        ExtensionSet{"j2k", "jp2", "jpf", "jpx", "jpm"},
        ExtensionSet{"pdf"},
        ExtensionSet{"heif", "heifs", "heic", "heics", "avif", "avifs", "hif"},
        ExtensionSet{"svg", "svgz"},
        ExtensionSet{"jxl"},
        ExtensionSet{"zip", "7z",  "rar", "tar", "gz",   "tgz", "bz2", "tbz", "tbz2", "xz",  "txz", "lzh",
                     "cbz", "cbr", "cb7", "cbt", "cbgz", "apk", "jar", "pak", "pk3",  "pk4", "alz", "egg"},
    };
    return sets;
}

bool InFamily(ExtensionFamily family, const std::string& ext) {
    return ExtensionsOf(family).contains(ext);
}

// The dedicated decoder of a family, or null while that family has none of its own; those files are
// then offered to the WIC-format decoder, which reads what it recognises by content and refuses the
// rest.
std::unique_ptr<IDecoder> CreateFamilyDecoder(ExtensionFamily family) {
    switch (family) {
    case ExtensionFamily::Jpeg:
        return std::make_unique<JpegTurboDecoder>();
    case ExtensionFamily::WebP:
        return std::make_unique<WebPDecoder>();
    case ExtensionFamily::HeifAvif:
        return std::make_unique<HeifDecoder>();
    case ExtensionFamily::JpegXl:
        return std::make_unique<JxlImageDecoder>();
    case ExtensionFamily::Raw:
        return std::make_unique<LibRawDecoder>();
    case ExtensionFamily::Bpg:
        return std::make_unique<BpgDecoder>();
    case ExtensionFamily::OpenExr:
        return std::make_unique<ExrDecoder>();
    case ExtensionFamily::Jpeg2000:
        return std::make_unique<J2kDecoder>();
    case ExtensionFamily::Svg:
        return std::make_unique<SvgDecoder>();
    case ExtensionFamily::Photoshop:
        return std::make_unique<PsdDecoder>();
    case ExtensionFamily::Pdf:
        return std::make_unique<PdfDecoder>();
    default:
        return nullptr;
    }
}

} // namespace

const ExtensionSet& ExtensionsOf(ExtensionFamily family) {
    return AllSets()[static_cast<size_t>(family)];
}

std::string GetLowerExtension(std::string_view path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == path.size()) {
        return {};
    }
    return platform::ToLowerText(path.substr(dot + 1));
}

bool IsImageExtension(const std::string& ext) {
    for (const ExtensionFamily family :
         {ExtensionFamily::Wic, ExtensionFamily::Jpeg, ExtensionFamily::Raw, ExtensionFamily::WebP,
          ExtensionFamily::Photoshop, ExtensionFamily::Bpg, ExtensionFamily::OpenExr,
          ExtensionFamily::Jpeg2000, ExtensionFamily::HeifAvif, ExtensionFamily::Svg,
          ExtensionFamily::JpegXl}) {
        if (InFamily(family, ext)) {
            return true;
        }
    }
    return false;
}

bool IsArchiveExtension(std::string_view ext) {
    return InFamily(ExtensionFamily::Archives, platform::ToLowerText(ext));
}

bool IsPdfExtension(std::string_view ext) {
    return InFamily(ExtensionFamily::Pdf, platform::ToLowerText(ext));
}

std::unique_ptr<IDecoder> CreateDecoder(const std::string& path) {
    platform::DebugTrace("CreateDecoder " + path + "\n");
    const std::string ext = GetLowerExtension(path);
    if (!ext.empty()) {
        for (const ExtensionFamily family :
             {ExtensionFamily::Jpeg, ExtensionFamily::WebP, ExtensionFamily::HeifAvif, ExtensionFamily::Svg,
              ExtensionFamily::Photoshop, ExtensionFamily::Bpg, ExtensionFamily::OpenExr,
              ExtensionFamily::Jpeg2000, ExtensionFamily::Pdf, ExtensionFamily::JpegXl,
              ExtensionFamily::Raw}) {
            if (InFamily(family, ext)) {
                if (auto decoder = CreateFamilyDecoder(family)) {
                    return decoder;
                }
                break;
            }
        }
    }
    return std::make_unique<WicDecoder>();
}

bool LoadImageFile(const std::string& path, uint32_t targetWidth, uint32_t targetHeight, bool highQuality,
                   DecodedImage& image) {
    if (path.find("::") != std::string::npos) {
        return false;
    }
    const std::string ext = GetLowerExtension(path);
    if (InFamily(ExtensionFamily::Pdf, ext) || InFamily(ExtensionFamily::Archives, ext)) {
        return false;
    }
    {
        std::unique_ptr<IDecoder> decoder = CreateDecoder(path);
        if (decoder->Load(path, targetWidth, targetHeight, highQuality)) {
            return CopyOutDecoder(*decoder, image) && IsValidImage(image);
        }
    }
    static const ExtensionSet kRetriedWithWic = {"jpg", "jpeg", "webp", "avif", "avifs", "heic", "heif"};
    if (!kRetriedWithWic.contains(ext)) {
        return false;
    }
    WicDecoder fallback;
    if (fallback.Load(path, targetWidth, targetHeight, highQuality)) {
        return CopyOutDecoder(fallback, image) && IsValidImage(image);
    }
    return false;
}

} // namespace decode
