#include "sources/archive/archive_route.h"

#include "decode/format_registry.h"
#include "sources/archive/libarchive_source.h"
#include "sources/archive/seven_zip_abi.h"
#include "sources/archive/seven_zip_archive.h"

#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace sources::archive {

using namespace sevenzip;

namespace {

constexpr ArchiveRoute SevenZip(uint8_t format) {
    return {ArchiveLibrary::SevenZip, format};
}

bool StartsWith(const uint8_t* head, size_t size, size_t offset, std::string_view magic) {
    return size >= offset + magic.size() && std::memcmp(head + offset, magic.data(), magic.size()) == 0;
}

bool IsCompressionFormat(uint8_t format) {
    return format == kFormatGzip || format == kFormatBzip2 || format == kFormatXz;
}

} // namespace

ArchiveRoute RouteForExtension(std::string_view ext) {
    static const std::unordered_map<std::string_view, ArchiveRoute> kRoutes = {
        {"7z", SevenZip(kFormat7z)},
        {"cb7", SevenZip(kFormat7z)},
        {"rar", {ArchiveLibrary::LibarchiveRar, 0}},
        {"cbr", {ArchiveLibrary::LibarchiveRar, 0}},
        {"tar", SevenZip(kFormatTar)},
        {"cbt", SevenZip(kFormatTar)},
        {"gz", SevenZip(kFormatGzip)},
        {"tgz", SevenZip(kFormatGzip)},
        {"cbgz", SevenZip(kFormatGzip)},
        {"bz2", SevenZip(kFormatBzip2)},
        {"tbz", SevenZip(kFormatBzip2)},
        {"tbz2", SevenZip(kFormatBzip2)},
        {"xz", SevenZip(kFormatXz)},
        {"txz", SevenZip(kFormatXz)},
        {"lzh", SevenZip(kFormatLzh)},
        {"cab", SevenZip(kFormatCab)},
        {"iso", SevenZip(kFormatIso)},
    };
    const auto found = kRoutes.find(ext);
    return found != kRoutes.end() ? found->second : SevenZip(kFormatZip);
}

bool RouteForSignature(const uint8_t* head, size_t size, ArchiveRoute& route) {
    using namespace std::string_view_literals;
    if (StartsWith(head, size, 0, "PK\x03\x04"sv) || StartsWith(head, size, 0, "PK\x05\x06"sv) ||
        StartsWith(head, size, 0, "PK\x07\x08"sv)) {
        route = SevenZip(kFormatZip);
    } else if (StartsWith(head, size, 0, "7z\xBC\xAF\x27\x1C"sv)) {
        route = SevenZip(kFormat7z);
    } else if (StartsWith(head, size, 0, "Rar!\x1A\x07"sv)) {
        route = {ArchiveLibrary::LibarchiveRar, 0};
    } else if (StartsWith(head, size, 0, "\x1F\x8B"sv)) {
        route = SevenZip(kFormatGzip);
    } else if (StartsWith(head, size, 0, "BZh"sv)) {
        route = SevenZip(kFormatBzip2);
    } else if (StartsWith(head, size, 0,
                          "\xFD"
                          "7zXZ\x00"sv)) {
        route = SevenZip(kFormatXz);
    } else if (StartsWith(head, size, 0, "\x28\xB5\x2F\xFD"sv)) {
        route = {ArchiveLibrary::LibarchiveTar, 0}; // zstd: only a tar inside is of use
    } else if (StartsWith(head, size, 257, "ustar"sv)) {
        route = SevenZip(kFormatTar);
    } else if (StartsWith(head, size, 0, "MSCF\0\0\0\0"sv)) {
        route = SevenZip(kFormatCab);
    } else if (StartsWith(head, size, 2, "-lh"sv)) {
        route = SevenZip(kFormatLzh);
    } else {
        return false;
    }
    return true;
}

ArchiveRoute ChooseArchiveRoute(const std::string& path) {
    uint8_t head[512] = {};
    size_t size = 0;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        size = std::fread(head, 1, sizeof(head), file);
        std::fclose(file);
    }
    ArchiveRoute route;
    if (!RouteForSignature(head, size, route)) {
        route = RouteForExtension(decode::GetLowerExtension(path));
    }
    if ((route.library == ArchiveLibrary::SevenZip && IsCompressionFormat(route.format)) ||
        route.library == ArchiveLibrary::LibarchiveTar) {
        if (IsCompressedTar(path)) {
            return {ArchiveLibrary::LibarchiveTar, 0};
        }
        if (route.library == ArchiveLibrary::LibarchiveTar) {
            return SevenZip(kFormatZip); // nothing this viewer can read: the handler will refuse it
        }
    }
    return route;
}

BackendOpenResult OpenArchiveBackend(const std::string& path, std::unique_ptr<ArchiveBackend>& backend) {
    backend.reset();
    const ArchiveRoute route = ChooseArchiveRoute(path);
    if (route.library != ArchiveLibrary::SevenZip) {
        if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
            std::fclose(file);
        } else {
            return BackendOpenResult::CannotOpenFile;
        }
        backend = OpenLibarchive(path, route.library == ArchiveLibrary::LibarchiveRar
                                           ? LibarchiveKind::Rar
                                           : LibarchiveKind::CompressedTar);
        return backend ? BackendOpenResult::Opened : BackendOpenResult::CannotRead;
    }
    switch (OpenSevenZipArchive(path, route.format, backend)) {
    case SevenZipOpenResult::Opened:
        return BackendOpenResult::Opened;
    case SevenZipOpenResult::LibraryMissing:
        return BackendOpenResult::LibraryMissing;
    case SevenZipOpenResult::NoHandler:
        return BackendOpenResult::NoHandler;
    case SevenZipOpenResult::CannotOpenFile:
        return BackendOpenResult::CannotOpenFile;
    case SevenZipOpenResult::CannotRead:
        return BackendOpenResult::CannotRead;
    }
    return BackendOpenResult::CannotRead;
}

} // namespace sources::archive
