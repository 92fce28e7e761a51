#pragma once

#include "sources/archive/archive_backend.h"

#include <memory>
#include <string>

// RAR archives (7-Zip's library on this system has no RAR codecs) and compressed tar files, read through
// libarchive. libarchive reads an archive from its start to its end, so every extraction opens the file
// anew and walks forward to the entry; solid archives are read ahead by the bridge's window instead.
namespace sources::archive {

enum class LibarchiveKind {
    Rar,           // RAR 4 and RAR 5
    CompressedTar, // tar inside gzip, bzip2, xz, zstd, lz4, ...
};

// Lists the archive; nullptr when libarchive cannot read it (or finds no entry at all).
std::unique_ptr<ArchiveBackend> OpenLibarchive(const std::string& path, LibarchiveKind kind);

// Whether the file is a tar archive inside a compressed stream.
bool IsCompressedTar(const std::string& path);

// Whether a RAR file's main header marks it solid (RAR 4 flag 0x0008, RAR 5 archive flag 0x0004).
bool IsSolidRar(const uint8_t* header, size_t size);

} // namespace sources::archive
