#pragma once

#include "decode/decoded_image.h"
#include "sources/archive/archive_backend.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Images inside archives, shown without unpacking anything to disk. Opening an archive lists its image
// entries into the source list as "archive::entry" items; a loader thread extracts an entry into memory
// when it needs it and decodes it from there. ALZ and EGG archives go through the program's own readers,
// RAR and compressed tar files through libarchive, everything else through 7-Zip's library. The archive
// stays open until the next source opens.
//
// Two process-wide states: the library archive (7-Zip or libarchive; its state lock, and an extraction
// lock that serialises extractions and is taken before the state lock) and the ALZ/EGG archive (its own
// lock, never held together with the other two).
namespace sources::archive {

// What the bridge needs from subsystems that sit beside it, installed once at start-up.
struct ArchiveHooks {
    // EXIF orientation (1..8) of an encoded image in memory; unset: 1.
    std::function<uint32_t(const uint8_t* bytes, size_t size)> readExifOrientation;
    // Bytes that extraction ahead in solid archives may hold; unset: kDefaultWindowBytes.
    std::function<uint64_t()> solidWindowBytes;
};

inline constexpr uint64_t kDefaultWindowBytes = uint64_t{64} << 20;

void SetArchiveHooks(ArchiveHooks hooks);

// Builds the source list from an archive. `entryToSelect` is empty or a full item path
// ("archive::entry") to make current. UI thread. Failures show their message and leave an empty list.
void OpenArchive(const std::string& path, const std::string& entryToSelect);

// Resets both archive states (every handle closed, extraction ahead stopped). UI thread.
void CloseArchives();

// The uncompressed bytes of entry `index` of the open archive at `archivePath`. Any thread.
bool ExtractArchiveEntry(const std::string& archivePath, uint32_t index, std::vector<uint8_t>& bytes);

// The same, with the entry found by its name.
bool ExtractArchiveEntryByName(const std::string& archivePath, const std::string& entryName,
                               std::vector<uint8_t>& bytes);

// Extracts and decodes the entry an item path names ("archive::entry"), bounded like
// decode::LoadImageFile; the orientation field carries the entry's EXIF orientation. Any thread.
bool DecodeArchiveEntry(const std::string& itemPath, uint32_t maxWidth, uint32_t maxHeight, bool highQuality,
                        decode::DecodedImage& image);

// The image entries of the open archive (either state), in their listing order. Tests and tools.
std::vector<ArchiveEntry> OpenArchiveEntries();

// Whether the listing keeps this item: a file with an image extension that is not macOS metadata
// ("__MACOSX/" folders, "._" AppleDouble companions).
bool IsListedImage(const std::string& name, bool isDirectory);

// How many extraction passes the open solid archive started (0 when it is not solid). Tests, benchmark.
uint32_t SolidPassesStarted();

} // namespace sources::archive
