// skimora-thumbnailer: the desktop's thumbnail of one file, made with the viewer's own decoders: a
// plain image, the first image of an archive (ALZ and EGG included) or the first page of a PDF document,
// fitted into SIZE x SIZE and written as PNG.
//
// The file manager starts it on every file it shows, downloaded ones included, so it runs under hard
// limits on address space and time and fails (status 1, nothing written) rather than hang or grow.

#include "app/png_output.h"
#include "decode/format_registry.h"
#include "decode/image_scaler.h"
#include "platform/files.h"
#include "sources/archive/archive_bridge.h"
#include "sources/pdf/pdf_document.h"
#include "sources/source_list.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SKIMORA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define SKIMORA_SANITIZED 1
#endif
#endif

namespace {

constexpr const char* kUsage = "Usage: skimora-thumbnailer [-s SIZE] INPUT OUTPUT.png\n"
                               "Writes a PNG thumbnail of INPUT (an image, an archive or a PDF document)\n"
                               "no larger than SIZE x SIZE pixels (default 256).\n";

constexpr uint32_t kDefaultSize = 256;
constexpr uint32_t kMaxSize = 4096;
// Room for the decoders, the 7-Zip library and one screen-sized raster; a hostile file asking for more
// fails its allocation instead of taking the machine's memory.
constexpr rlim_t kAddressSpaceLimit = rlim_t{2} << 30;
// Wall-clock and processor time for the whole run; SIGALRM and SIGXCPU end the process.
constexpr unsigned kTimeLimitSeconds = 10;

int Fail(const std::string& reason) {
    std::fprintf(stderr, "skimora-thumbnailer: %s\n", reason.c_str());
    return 1;
}

void LimitResources() {
#ifndef SKIMORA_SANITIZED // the sanitizers reserve terabytes of address space for their shadow memory
    const rlimit memory{kAddressSpaceLimit, kAddressSpaceLimit};
    setrlimit(RLIMIT_AS, &memory);
#endif
    const rlimit processor{kTimeLimitSeconds, kTimeLimitSeconds + 1};
    setrlimit(RLIMIT_CPU, &processor);
    alarm(kTimeLimitSeconds);
}

bool ParseThumbnailSize(const char* text, uint32_t& size) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value == 0 || value > kMaxSize) {
        return false;
    }
    size = static_cast<uint32_t>(value);
    return true;
}

// The first image of the archive in the viewer's order (the listing sorted as the viewer sorts it).
bool DecodeFirstArchiveImage(const std::string& path, uint32_t size, decode::DecodedImage& image) {
    sources::SourceHooks hooks;
    hooks.closeArchives = sources::archive::CloseArchives;
    hooks.showMessage = [](const std::string& text, int) { std::fprintf(stderr, "%s\n", text.c_str()); };
    sources::SetSourceHooks(std::move(hooks));
    sources::archive::OpenArchive(path, "");
    const std::string first = sources::CopyItemPath(0);
    return !first.empty() && sources::archive::DecodeArchiveEntry(first, size, size, false, image);
}

bool DecodeThumbnailSource(const std::string& path, uint32_t size, decode::DecodedImage& image) {
    const std::string extension = decode::GetLowerExtension(path);
    if (decode::IsArchiveExtension(extension)) {
        return DecodeFirstArchiveImage(path, size, image);
    }
    if (decode::IsPdfExtension(extension)) {
        sources::OpenPdfDocument(path);
        return sources::RenderPdfPage(path + "::0", size, size, image);
    }
    return decode::LoadImageFile(path, size, size, false, image);
}

// Decoders may stop above the target (a JPEG's DCT scaling only halves); the thumbnail never does.
bool FitInto(uint32_t size, decode::DecodedImage& image) {
    if (image.width <= size && image.height <= size) {
        return true;
    }
    const decode::ScaledSize fitted = decode::ComputeScaledSize(image.width, image.height, size, size, false);
    decode::DecodedImage reduced;
    reduced.width = fitted.width;
    reduced.height = fitted.height;
    reduced.stride = fitted.width * 4;
    reduced.size = static_cast<uint64_t>(reduced.stride) * fitted.height;
    reduced.orientation = image.orientation;
    reduced.pixels = std::shared_ptr<uint8_t[]>(new (std::nothrow) uint8_t[reduced.size]);
    if (!reduced.pixels ||
        !decode::ScaleRaster(image.pixels.get(), image.width, image.height, image.stride,
                             reduced.pixels.get(), reduced.width, reduced.height, decode::ScaleFilter::Box)) {
        return false;
    }
    image = std::move(reduced);
    return true;
}

int WriteThumbnail(const std::string& input, const std::string& output, uint32_t size) {
    const auto attributes = platform::GetFileAttributes(input);
    if (!attributes || attributes->isDirectory || attributes->size == 0) {
        return Fail("cannot read " + input);
    }
    decode::DecodedImage image;
    if (!DecodeThumbnailSource(input, size, image) || !decode::IsValidImage(image) ||
        !decode::ApplyOrientation(image) || !FitInto(size, image)) {
        return Fail("cannot make a thumbnail of " + input);
    }
    if (!app::WriteRgbaPng(image, output)) {
        return Fail("cannot write " + output);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    uint32_t size = kDefaultSize;
    std::string input;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if ((argument == "-s" || argument == "--size") && i + 1 < argc) {
            if (!ParseThumbnailSize(argv[++i], size)) {
                return Fail("bad size (expected 1 to 4096)");
            }
        } else if (input.empty() && !argument.empty() && argument[0] != '-') {
            input = argument;
        } else if (output.empty() && !argument.empty() && argument[0] != '-') {
            output = argument;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (input.empty() || output.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    LimitResources();
    try {
        return WriteThumbnail(input, output, size);
    } catch (const std::exception& error) { // an allocation refused under the address-space limit
        return Fail("cannot make a thumbnail of " + input + ": " + error.what());
    }
}
