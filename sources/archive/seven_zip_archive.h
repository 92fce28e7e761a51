#pragma once

#include "sources/archive/archive_backend.h"

#include <cstdint>
#include <memory>
#include <string>

// Archives read through 7-Zip's shared library, loaded once per process at run time.
namespace sources::archive {

enum class LibraryStatus { Loaded, Missing };

// Loads the library on first use (later calls answer at once). Thread-safe.
LibraryStatus LoadSevenZipLibrary();

enum class SevenZipOpenResult {
    Opened,
    LibraryMissing, // no library, or one without "CreateObject"
    NoHandler,      // the library has no handler for the format
    CannotOpenFile,
    CannotRead, // the handler does not recognise the file
};

// Opens `path` with the handler of format byte `format` (see seven_zip_abi.h). The backend holds the
// archive object and its file until destroyed.
SevenZipOpenResult OpenSevenZipArchive(const std::string& path, uint8_t format,
                                       std::unique_ptr<ArchiveBackend>& backend);

} // namespace sources::archive
