#pragma once

#include "sources/archive/archive_backend.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Which library and which handler read an archive: by the file's signature when it has a known one
// (comic archives are often named after another format than the one they hold), else by its extension.
namespace sources::archive {

enum class ArchiveLibrary { SevenZip, LibarchiveRar, LibarchiveTar };

struct ArchiveRoute {
    ArchiveLibrary library = ArchiveLibrary::SevenZip;
    uint8_t format = 0; // 7-Zip handler format byte (seven_zip_abi.h) when library is SevenZip
    bool operator==(const ArchiveRoute&) const = default;
};

// The handler for a lower-cased extension alone: 7z/cb7 → 7z, rar/cbr → RAR, tar/cbt → tar,
// gz/tgz/cbgz → gzip, bz2/tbz/tbz2 → bzip2, xz/txz → xz, lzh → lzh, cab, iso; everything else zip.
ArchiveRoute RouteForExtension(std::string_view ext);

// The handler named by the first bytes of a file, if they carry a known signature. Compressed streams
// answer their compression format; whether a tar is inside is decided by ChooseArchiveRoute.
bool RouteForSignature(const uint8_t* head, size_t size, ArchiveRoute& route);

// The route for a file on disk: signature, then extension; a compressed tar (tgz, tar.xz, a cbt that is
// compressed, ...) goes to libarchive, which reads the tar inside the stream.
ArchiveRoute ChooseArchiveRoute(const std::string& path);

enum class BackendOpenResult { Opened, LibraryMissing, NoHandler, CannotOpenFile, CannotRead };

// Routes and opens `path`.
BackendOpenResult OpenArchiveBackend(const std::string& path, std::unique_ptr<ArchiveBackend>& backend);

} // namespace sources::archive
