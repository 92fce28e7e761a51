// ALZ archives: a sequence of signed records, the archive header and one local header per entry, each
// entry's data right after its header. Names are stored in CP949, the code page ALZ archives are
// written in, and become UTF-8 here.

#include "sources/archive/alz_egg_internal.h"

#include "platform/text.h"

#include <cstring>
#include <iconv.h>

namespace sources::archive {
namespace {

constexpr uint32_t kArchiveHeader = 0x015A4C41;   // "ALZ\x01"
constexpr uint32_t kLocalFileHeader = 0x015A4C42; // "BLZ\x01"
constexpr uint16_t kMaxNameBytes = 4095;
constexpr size_t kEncryptionHeaderBytes = 12;
constexpr uint8_t kAlzDeflate = 2;

// CP949 to UTF-8. A byte sequence that is not CP949 becomes U+FFFD and conversion goes on past it.
class Cp949Converter {
public:
    Cp949Converter() : handle(iconv_open("UTF-8", "CP949")) {}
    ~Cp949Converter() {
        if (handle != reinterpret_cast<iconv_t>(-1)) {
            iconv_close(handle);
        }
    }
    Cp949Converter(const Cp949Converter&) = delete;
    Cp949Converter& operator=(const Cp949Converter&) = delete;

    std::string Convert(const std::string& raw) {
        if (handle == reinterpret_cast<iconv_t>(-1)) {
            return Fallback(raw);
        }
        iconv(handle, nullptr, nullptr, nullptr, nullptr);
        std::string out(raw.size() * 3 + 8, '\0'); // one CP949 byte never yields more than 3 UTF-8 bytes
        char* in = const_cast<char*>(raw.data());
        size_t inLeft = raw.size();
        char* target = out.data();
        size_t outLeft = out.size();
        while (inLeft > 0) {
            if (iconv(handle, &in, &inLeft, &target, &outLeft) != static_cast<size_t>(-1)) {
                break;
            }
            if (outLeft < 3) {
                break; // cannot happen with the reservation above
            }
            // An invalid or incomplete sequence: one replacement character for its lead byte.
            std::memcpy(target, "\xEF\xBF\xBD", 3);
            target += 3;
            outLeft -= 3;
            ++in;
            --inLeft;
            iconv(handle, nullptr, nullptr, nullptr, nullptr);
        }
        out.resize(out.size() - outLeft);
        return out;
    }

private:
    // ASCII kept, everything else replaced, when the system has no CP949 converter.
    static std::string Fallback(const std::string& raw) {
        std::string out;
        for (const char c : raw) {
            platform::AppendUtf8(out,
                                 static_cast<unsigned char>(c) < 0x80 ? static_cast<char32_t>(c) : U'\uFFFD');
        }
        return out;
    }

    iconv_t handle;
};

class AlzParser {
public:
    explicit AlzParser(ArchiveByteSource& source) : cursor(source) {}

    bool Parse() {
        while (!cursor.AtEnd() && parsed.entries.size() < kMaxArchiveEntries) {
            uint32_t signature = 0;
            if (!cursor.ReadU32(signature)) {
                break;
            }
            if (signature == kArchiveHeader) {
                if (!cursor.Skip(4)) {
                    break;
                }
            } else if (signature != kLocalFileHeader || !ReadLocalFileHeader()) {
                break;
            }
        }
        return !parsed.entries.empty();
    }

    ParsedArchive Take() { return std::move(parsed); }

private:
    // Reads one local header, lists its entry and skips its data; false ends the scan.
    bool ReadLocalFileHeader() {
        uint16_t nameLength = 0;
        uint8_t attributes = 0;
        uint32_t timeStamp = 0;
        uint8_t flags = 0;
        uint8_t ignored = 0;
        if (!cursor.ReadU16(nameLength) || !cursor.ReadU8(attributes) || !cursor.ReadU32(timeStamp) ||
            !cursor.ReadU8(flags) || !cursor.ReadU8(ignored)) {
            return false;
        }
        EggEntry entry;
        entry.protection = flags & 0x01;
        if (flags > 0x0F) {
            const size_t width = flags >> 4;
            if (!cursor.ReadU8(entry.method) || !cursor.ReadU8(ignored) || !cursor.ReadU32(entry.crc)) {
                return false;
            }
            if ((width == 1 || width == 2 || width == 4 || width == 8) &&
                (!cursor.ReadSized(width, entry.compressedSize) ||
                 !cursor.ReadSized(width, entry.uncompressedSize))) {
                return false;
            }
        }
        if (nameLength >= 1 && nameLength <= kMaxNameBytes) {
            std::string raw(nameLength, '\0');
            if (!cursor.Read(raw.data(), raw.size())) {
                return false;
            }
            entry.name = converter.Convert(raw);
            if (entry.protection != 0 && !cursor.Skip(kEncryptionHeaderBytes)) {
                return false;
            }
        }
        entry.dataOffset = cursor.Position();
        const bool isDirectory = (attributes & 0x10) != 0;
        if (!isDirectory && !entry.name.empty() && entry.compressedSize != 0) {
            parsed.entries.push_back(std::move(entry));
            return cursor.Skip(parsed.entries.back().compressedSize);
        }
        return cursor.Skip(entry.compressedSize);
    }

    ArchiveCursor cursor;
    ParsedArchive parsed;
    Cp949Converter converter;
};

std::unique_ptr<ContainerReader> OpenAlz(std::unique_ptr<ArchiveByteSource> source) {
    if (source == nullptr) {
        return nullptr;
    }
    AlzParser parser(*source);
    if (!parser.Parse()) {
        return nullptr;
    }
    return MakeContainerReader(std::move(source), parser.Take(), kAlzDeflate);
}

} // namespace

std::unique_ptr<ContainerReader> OpenAlzReader(const std::string& path) {
    return OpenAlz(OpenFileByteSource(path));
}

std::unique_ptr<ContainerReader> OpenAlzReaderFromMemory(std::vector<uint8_t> bytes) {
    return OpenAlz(MakeMemoryByteSource(std::move(bytes)));
}

} // namespace sources::archive
