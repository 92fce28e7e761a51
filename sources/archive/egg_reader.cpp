// EGG archives: an "EGGA" header, then a flat sequence of signed headers. A FILE_HEADER opens an entry,
// its FILENAME_HEADER names it, an encryption header marks it protected, and its first BLOCK_HEADER with
// data completes it.

#include "sources/archive/alz_egg_internal.h"

#include "platform/text.h"
#include "platform/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace sources::archive {
namespace {

constexpr uint32_t kEggMagic = 0x41474745;
constexpr uint32_t kEndOfArchive = 0x08E28222;
constexpr uint32_t kFileHeader = 0x0A8590E3;
constexpr uint32_t kFilenameHeader = 0x0A8591AC;
constexpr uint32_t kBlockHeader = 0x02B50C13;
constexpr uint32_t kEncryptHeader = 0x08D1470F;
constexpr uint32_t kOtherHeaders[] = {0x2C86950B, kEncryptHeader, 0x24F5A262, 0x24E5A060, 0x04C63672};
constexpr uint16_t kMaxNameBytes = 4095;
constexpr uint8_t kEggDeflate = 1;

// The parse's trace file, $XDG_CACHE_HOME/skimora/egg_debug.log (else ~/.cache/...). It is created,
// truncating, with the first line of the process; while it cannot be opened lines are dropped and the
// next line tries again. Every line is flushed.
class EggTraceFile {
public:
    void Write(const std::string& line) {
        std::lock_guard lock(mutex);
        if (file == nullptr) {
            file = Open();
            if (file == nullptr) {
                return;
            }
        }
        std::fwrite(line.data(), 1, line.size(), file);
        std::fflush(file);
    }

private:
    static std::FILE* Open() {
        std::filesystem::path base;
        if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/') {
            base = cache;
        } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
            base = std::filesystem::path(home) / ".cache";
        } else {
            base = "/tmp";
        }
        std::error_code error;
        std::filesystem::create_directories(base / "skimora", error);
        return std::fopen((base / "skimora" / "egg_debug.log").c_str(), "w");
    }

    std::mutex mutex;
    std::FILE* file = nullptr; // lives until the process ends; guarded by mutex
};

enum class TraceTarget { DebugOutputOnly, AlsoTraceFile };

void VEggTrace(TraceTarget target, const char* format, va_list arguments) {
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) {
        return;
    }
    std::string line(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(line.data(), line.size(), format, arguments);
    line.pop_back();
    platform::DebugTrace(line);
    if (target == TraceTarget::AlsoTraceFile) {
        static EggTraceFile traceFile;
        traceFile.Write(line);
    }
}

// A trace of the parse: to the debug output and the trace file.
__attribute__((format(printf, 1, 2))) void ParseTrace(const char* format, ...) {
    if (!platform::IsTraceEnabled()) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    VEggTrace(TraceTarget::AlsoTraceFile, format, arguments);
    va_end(arguments);
}

// The outcome of an open: to the debug output only.
__attribute__((format(printf, 1, 2))) void OpenTrace(const char* format, ...) {
    if (!platform::IsTraceEnabled()) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    VEggTrace(TraceTarget::DebugOutputOnly, format, arguments);
    va_end(arguments);
}

// Names are UTF-8; a malformed sequence reads as U+FFFD, so the name handed on is always valid UTF-8.
std::string CleanUtf8(std::string_view raw) {
    std::string name;
    name.reserve(raw.size());
    for (size_t position = 0; position < raw.size();) {
        platform::AppendUtf8(name, platform::DecodeUtf8(raw, position));
    }
    return name;
}

bool IsOtherHeader(uint32_t signature) {
    for (const uint32_t other : kOtherHeaders) {
        if (signature == other) {
            return true;
        }
    }
    return false;
}

class EggParser {
public:
    explicit EggParser(ArchiveByteSource& source) : cursor(source) {}

    bool Parse() {
        if (!ReadArchiveHeader()) {
            return false;
        }
        while (!cursor.AtEnd() && parsed.entries.size() < kMaxArchiveEntries) {
            const uint64_t start = cursor.Position();
            uint32_t signature = 0;
            if (!cursor.ReadU32(signature)) {
                break;
            }
            ParseTrace("EGG sig: 0x%08X at pos %llu\n", signature, static_cast<unsigned long long>(start));
            if (!ReadHeader(signature)) {
                break;
            }
        }
        ParseTrace("EGG ParseHeaders done: %zu files found\n", parsed.entries.size());
        if (entryOpen && !current.name.empty()) {
            Append();
        }
        return !parsed.entries.empty();
    }

    ParsedArchive Take() { return std::move(parsed); }

private:
    bool ReadArchiveHeader() {
        uint32_t magic = 0;
        if (!cursor.ReadU32(magic)) {
            ParseTrace("EGG: ReadValue magic failed\n");
            return false;
        }
        ParseTrace("EGG magic: 0x%08X (expected 0x%08X)\n", magic, kEggMagic);
        uint16_t version = 0;
        uint32_t headerId = 0;
        uint32_t reserved = 0;
        if (magic != kEggMagic || !cursor.ReadU16(version) || !cursor.ReadU32(headerId) ||
            !cursor.ReadU32(reserved)) {
            return false;
        }
        ParseTrace("EGG version: 0x%04X, headerId: 0x%08X\n", version, headerId);
        return true;
    }

    // Reads one header's body; false ends the scan.
    bool ReadHeader(uint32_t signature) {
        switch (signature) {
        case kEndOfArchive:
            return true;
        case kFileHeader:
            return ReadFileHeader();
        case kFilenameHeader:
            return ReadFilenameHeader();
        case kBlockHeader:
            return ReadBlockHeader();
        default:
            if (IsOtherHeader(signature)) {
                return ReadOtherHeader(signature);
            }
            ParseTrace("EGG UNKNOWN sig: 0x%08X - breaking\n", signature);
            return false;
        }
    }

    bool ReadFileHeader() {
        if (entryOpen && !current.name.empty()) {
            Append();
        }
        current = EggEntry{};
        entryOpen = true;
        lastCompletedByBlock = false;
        uint32_t fileEndOffset = 0;
        uint32_t ignored = 0;
        if (!cursor.ReadU32(current.fileId) || !cursor.ReadU32(fileEndOffset) || !cursor.ReadU32(ignored)) {
            return false;
        }
        ParseTrace("EGG FILE_HEADER: fileId=%u, fileEndOffset=%u\n", current.fileId, fileEndOffset);
        return true;
    }

    bool ReadFilenameHeader() {
        uint8_t bitFlag = 0;
        uint16_t nameSize = 0;
        if (!cursor.ReadU8(bitFlag) || !cursor.ReadU16(nameSize)) {
            return false;
        }
        ParseTrace("EGG FILENAME_HEADER: bitFlag=0x%02X, nameSize=%u\n", bitFlag, nameSize);
        if (nameSize < 1 || nameSize > kMaxNameBytes) {
            return true;
        }
        std::string raw(nameSize, '\0');
        if (!cursor.Read(raw.data(), raw.size())) {
            return false;
        }
        current.name = CleanUtf8(raw);
        ParseTrace("  filename: %s\n", current.name.c_str());
        return true;
    }

    bool ReadBlockHeader() {
        uint8_t hint = 0;
        uint32_t uncompressedSize = 0;
        uint32_t compressedSize = 0;
        if (!cursor.ReadU8(current.method) || !cursor.ReadU8(hint) || !cursor.ReadU32(uncompressedSize) ||
            !cursor.ReadU32(compressedSize) || !cursor.ReadU32(current.crc)) {
            return false;
        }
        current.uncompressedSize = uncompressedSize;
        current.compressedSize = compressedSize;
        ParseTrace("EGG BLOCK_HEADER: method=%u, hint=%u, uncompSize=%u, compSize=%u, crc=0x%08X\n",
                   current.method, hint, uncompressedSize, compressedSize, current.crc);
        uint32_t marker = 0;
        if (cursor.ReadU32(marker)) {
            if (marker == kEndOfArchive) {
                ParseTrace("  EOFARC before data at pos %llu\n",
                           static_cast<unsigned long long>(cursor.Position() - 4));
            } else {
                cursor.Rewind(4);
            }
        }
        current.dataOffset = cursor.Position();
        ParseTrace("  dataOffset=%llu, skipping %u bytes\n",
                   static_cast<unsigned long long>(current.dataOffset), compressedSize);
        // A further block of a file already completed: its data would be missing from the entry.
        if (!entryOpen && lastCompletedByBlock && (compressedSize > 0 || uncompressedSize > 0)) {
            parsed.incomplete.back() = true;
        }
        if (!cursor.Skip(compressedSize)) {
            return false;
        }
        if (entryOpen && !current.name.empty() && current.compressedSize > 0) {
            Append();
            current = EggEntry{};
            entryOpen = false;
            lastCompletedByBlock = true;
        }
        return true;
    }

    bool ReadOtherHeader(uint32_t signature) {
        uint8_t bitFlag = 0;
        uint16_t bodySize = 0;
        if (!cursor.ReadU8(bitFlag) || !cursor.ReadU16(bodySize)) {
            return false;
        }
        ParseTrace("EGG OTHER_HEADER (0x%08X): bitFlag=0x%02X, headerSize=%u\n", signature, bitFlag,
                   bodySize);
        if (signature == kEncryptHeader) {
            // The first body byte names the cipher, and ZipCrypto is 0: any encryption header protects
            // the entry, whatever its cipher.
            uint8_t cipher = 0;
            if (bodySize > 0 && !cursor.ReadU8(cipher)) {
                return false;
            }
            current.protection = cipher != 0 ? cipher : 0xFF;
            return bodySize == 0 || cursor.Skip(bodySize - 1u);
        }
        return cursor.Skip(bodySize);
    }

    void Append() {
        parsed.entries.push_back(current);
        parsed.incomplete.push_back(false);
    }

    ArchiveCursor cursor;
    ParsedArchive parsed;
    EggEntry current;
    bool entryOpen = false;
    // The last appended entry was completed by a block and no FILE_HEADER has followed.
    bool lastCompletedByBlock = false;
};

std::unique_ptr<ContainerReader> OpenEgg(std::unique_ptr<ArchiveByteSource> source) {
    if (source != nullptr) {
        EggParser parser(*source);
        if (parser.Parse()) {
            ParsedArchive parsed = parser.Take();
            OpenTrace("EGG: Open success, %zu files\n", parsed.entries.size());
            return MakeContainerReader(std::move(source), std::move(parsed), kEggDeflate);
        }
    }
    OpenTrace("EGG: Open failed\n");
    return nullptr;
}

} // namespace

std::unique_ptr<ContainerReader> OpenEggReader(const std::string& path) {
    return OpenEgg(OpenFileByteSource(path));
}

std::unique_ptr<ContainerReader> OpenEggReaderFromMemory(std::vector<uint8_t> bytes) {
    return OpenEgg(MakeMemoryByteSource(std::move(bytes)));
}

} // namespace sources::archive
