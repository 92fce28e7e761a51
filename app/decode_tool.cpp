// skimora-decode: decodes one item through the viewer's own loading entry points and reports its size.
// Users script the decoders with it, and tests reach them from outside the process.

#include "app/png_output.h"
#include "decode/format_registry.h"
#include "platform/files.h"
#include "sources/archive/archive_bridge.h"
#include "sources/pdf/pdf_document.h"
#include "sources/sort_orders.h"
#include "sources/source_list.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "Usage: skimora-decode [--max WxH] [--hq] [--png OUT.png] ITEM\n"
    "       skimora-decode --list PATH [--sort N]\n"
    "ITEM is an image file, or DOCUMENT.pdf::N for the page with index N (from 0).\n";

int Fail(const std::string& reason) {
    std::printf("%s\n", reason.c_str());
    return 1;
}

bool ParseSize(const char* text, uint32_t& width, uint32_t& height) {
    unsigned long w = 0;
    unsigned long h = 0;
    char trailing = 0;
    if (std::sscanf(text, "%lux%lu%c", &w, &h, &trailing) != 2 || w > 1'000'000 || h > 1'000'000) {
        return false;
    }
    width = static_cast<uint32_t>(w);
    height = static_cast<uint32_t>(h);
    return true;
}

// The containers the viewer opens, without its window and loader threads; the on-screen messages of
// the archive bridge become lines of output.
void ConnectContainers() {
    sources::SourceHooks hooks;
    hooks.openPdfDocument = sources::OpenPdfDocument;
    hooks.openArchive = sources::archive::OpenArchive;
    hooks.closeArchives = sources::archive::CloseArchives;
    hooks.showMessage = [](const std::string& text, int) { std::printf("%s\n", text.c_str()); };
    sources::SetSourceHooks(std::move(hooks));
}

// Renders a page of a PDF document as the viewer does, fitted to maxWidth x maxHeight (the page's size
// in points when either is 0).
bool RenderDocumentPage(const std::string& item, const std::string& document, uint32_t maxWidth,
                        uint32_t maxHeight, decode::DecodedImage& image) {
    sources::OpenPdfDocument(document);
    return sources::RenderPdfPage(item, maxWidth, maxHeight, image);
}

// Decodes one archive entry ("archive::entry") the way the loader does.
int DecodeEntry(const std::string& item, uint32_t maxWidth, uint32_t maxHeight, bool highQuality,
                decode::DecodedImage& image) {
    const sources::SplitPath split = sources::SplitItemPath(item);
    const std::string container(split.container);
    sources::archive::OpenArchive(container, item);
    if (sources::SourceListCount() == 0) {
        return Fail("cannot decode " + item + ": the archive cannot be read or holds no images");
    }
    if (sources::CopyItemPath(sources::CurrentIndex.load()) != item) {
        return Fail("cannot decode " + item + ": no such image entry in the archive");
    }
    if (!sources::archive::DecodeArchiveEntry(item, maxWidth, maxHeight, highQuality, image)) {
        return Fail("cannot decode " + item + ": unsupported or damaged image");
    }
    return 0;
}

// Opens PATH as the viewer does and prints the resulting list, one item a line, then the current index.
int ListSource(const std::string& path, uint32_t sortMode) {
    sources::SortMode.store(sortMode);
    sources::OpenPath(path);
    const std::vector<sources::ItemPath> items = sources::CopySourceList();
    for (const sources::ItemPath& item : items) {
        std::printf("%s\n", item.c_str());
    }
    std::printf("current %d\n", sources::CurrentIndex.load());
    return items.empty() ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    uint32_t maxWidth = 0;
    uint32_t maxHeight = 0;
    bool highQuality = false;
    std::string pngPath;
    std::string item;
    std::string listPath;
    bool listing = false;
    uint32_t sortMode = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argument == "--max" && i + 1 < argc) {
            if (!ParseSize(argv[++i], maxWidth, maxHeight)) {
                return Fail("bad size for --max (expected WxH)");
            }
        } else if (argument == "--list" && i + 1 < argc) {
            listing = true;
            listPath = argv[++i];
        } else if (argument == "--sort" && i + 1 < argc) {
            const std::string mode = argv[++i];
            if (mode.size() != 1 || mode[0] < '0' ||
                mode[0] >= '0' + static_cast<int>(sources::kSortModeCount)) {
                return Fail("bad order for --sort (expected 0, 1, 2 or 3)");
            }
            sortMode = static_cast<uint32_t>(mode[0] - '0');
        } else if (argument == "--hq") {
            highQuality = true;
        } else if (argument == "--png" && i + 1 < argc) {
            pngPath = argv[++i];
        } else if (item.empty() && (argument.empty() || argument[0] != '-' || argument.size() == 1)) {
            item = argument;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    ConnectContainers();
    if (listing) {
        if (!item.empty()) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        return ListSource(listPath, sortMode);
    }
    if (item.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const size_t separator = item.find("::");
    const std::string container = separator == std::string::npos ? item : item.substr(0, separator);
    const auto attributes = platform::GetFileAttributes(container);
    if (!attributes) {
        return Fail("cannot open " + container + ": no such file");
    }
    if (attributes->isDirectory) {
        return Fail("cannot decode " + container + ": it is a folder");
    }
    decode::DecodedImage image;
    if (separator != std::string::npos && sources::IsPdfPagePath(item)) {
        if (!RenderDocumentPage(item, container, maxWidth, maxHeight, image)) {
            return Fail("cannot render " + item + ": no such page, or an unreadable document");
        }
    } else if (separator != std::string::npos) {
        if (const int failed = DecodeEntry(item, maxWidth, maxHeight, highQuality, image); failed != 0) {
            return failed;
        }
    } else {
        if (attributes->size == 0) {
            return Fail("cannot decode " + item + ": the file is empty");
        }
        if (!decode::LoadImageFile(item, maxWidth, maxHeight, highQuality, image) ||
            !decode::IsValidImage(image)) {
            return Fail("cannot decode " + item + ": unsupported or damaged image");
        }
    }
    if (!pngPath.empty() && !app::WriteRgbaPng(image, pngPath)) {
        return Fail("cannot write " + pngPath);
    }
    std::printf("%ux%u\n", image.width, image.height);
    return 0;
}
