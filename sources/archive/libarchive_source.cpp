#include "sources/archive/libarchive_source.h"

#include "platform/text.h"
#include "sources/archive/alz_egg_reader.h"

#include <archive.h>
#include <archive_entry.h>
#include <clocale>
#include <locale.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace sources::archive {

namespace {

constexpr size_t kReadBlock = 64 * 1024;

// libarchive turns entry names into the calling thread's multibyte encoding; under the "C" locale
// names beyond ASCII would be lost. Each use of a reader runs with UTF-8 as the thread's encoding.
class Utf8LocaleScope {
public:
    Utf8LocaleScope() {
        static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (utf8 != static_cast<locale_t>(nullptr)) {
            previous = ::uselocale(utf8);
        }
    }
    ~Utf8LocaleScope() {
        if (previous != static_cast<locale_t>(nullptr)) {
            ::uselocale(previous);
        }
    }
    Utf8LocaleScope(const Utf8LocaleScope&) = delete;
    Utf8LocaleScope& operator=(const Utf8LocaleScope&) = delete;

private:
    locale_t previous = static_cast<locale_t>(nullptr);
};

struct ReaderDeleter {
    void operator()(struct archive* reader) const { archive_read_free(reader); }
};
using Reader = std::unique_ptr<struct archive, ReaderDeleter>;

Reader OpenReader(const std::string& path, LibarchiveKind kind) {
    Reader reader(archive_read_new());
    if (!reader) {
        return nullptr;
    }
    if (kind == LibarchiveKind::Rar) {
        archive_read_support_format_rar(reader.get());
        archive_read_support_format_rar5(reader.get());
    } else {
        archive_read_support_filter_all(reader.get());
        archive_read_support_format_tar(reader.get());
    }
    if (archive_read_open_filename(reader.get(), path.c_str(), kReadBlock) != ARCHIVE_OK) {
        return nullptr;
    }
    return reader;
}

// The next header, or false at the end or on an unreadable header.
bool NextHeader(struct archive* reader, struct archive_entry*& entry) {
    const int status = archive_read_next_header(reader, &entry);
    return status == ARCHIVE_OK || status == ARCHIVE_WARN;
}

// The current entry's data, at most kMaxArchiveEntryBytes.
bool ReadData(struct archive* reader, uint64_t expectedSize, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (expectedSize > kMaxArchiveEntryBytes) {
        return false;
    }
    bytes.reserve(expectedSize);
    uint8_t block[kReadBlock];
    for (;;) {
        const la_ssize_t count = archive_read_data(reader, block, sizeof(block));
        if (count < 0) {
            return false;
        }
        if (count == 0) {
            return true;
        }
        if (bytes.size() + static_cast<size_t>(count) > kMaxArchiveEntryBytes) {
            return false;
        }
        bytes.insert(bytes.end(), block, block + count);
    }
}

// The entry's name in UTF-8. libarchive converts names through the locale, which may be "C" here; the
// wide form it decoded from the archive's own encoding does not depend on it.
std::string EntryName(struct archive_entry* entry) {
    if (const char* name = archive_entry_pathname_utf8(entry)) {
        return name;
    }
    if (const wchar_t* wide = archive_entry_pathname_w(entry)) {
        std::string name;
        for (; *wide != 0; ++wide) {
            const auto code = static_cast<uint32_t>(*wide);
            const bool valid = code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
            platform::AppendUtf8(name, valid ? static_cast<char32_t>(code) : U'\uFFFD');
        }
        return name;
    }
    const char* raw = archive_entry_pathname(entry);
    return raw != nullptr ? raw : "";
}

class LibarchiveBackend final : public ArchiveBackend {
public:
    LibarchiveBackend(std::string path, LibarchiveKind kind, bool solid)
        : path(std::move(path)), kind(kind), solid(solid) {}

    bool List() {
        const Utf8LocaleScope locale;
        Reader reader = OpenReader(path, kind);
        if (!reader) {
            return false;
        }
        struct archive_entry* entry = nullptr;
        for (uint32_t index = 0; NextHeader(reader.get(), entry); ++index) {
            ListedItem item;
            item.index = index;
            item.name = EntryName(entry);
            item.size =
                archive_entry_size_is_set(entry) ? static_cast<uint64_t>(archive_entry_size(entry)) : 0;
            // Links and folders hold no image of their own.
            item.isDirectory =
                archive_entry_filetype(entry) != AE_IFREG || archive_entry_hardlink(entry) != nullptr;
            items.push_back(std::move(item));
        }
        return !items.empty();
    }

    const std::vector<ListedItem>& Items() const override { return items; }
    bool IsSolid() const override { return solid; }

    bool ExtractItem(uint32_t index, uint64_t expectedSize, std::vector<uint8_t>& bytes) override {
        bytes.clear();
        const Utf8LocaleScope locale;
        Reader reader = OpenReader(path, kind);
        if (!reader) {
            return false;
        }
        struct archive_entry* entry = nullptr;
        for (uint32_t current = 0; NextHeader(reader.get(), entry); ++current) {
            if (current == index) {
                return ReadData(reader.get(), expectedSize, bytes) && !bytes.empty();
            }
        }
        return false;
    }

    void RunPass(const std::vector<uint32_t>& indices, PassSink& sink) override {
        if (indices.empty()) {
            return;
        }
        const Utf8LocaleScope locale;
        Reader reader = OpenReader(path, kind);
        if (!reader) {
            return;
        }
        struct archive_entry* entry = nullptr;
        size_t next = 0;
        for (uint32_t current = 0; next < indices.size() && NextHeader(reader.get(), entry); ++current) {
            if (current != indices[next]) {
                continue; // the header walk skips the data (decoding it where the archive is solid)
            }
            ++next;
            switch (sink.Begin(current)) {
            case PassSink::Decision::Abort:
                return;
            case PassSink::Decision::Skip:
                continue;
            case PassSink::Decision::Keep:
                break;
            }
            std::vector<uint8_t> bytes;
            const uint64_t expected = current < items.size() ? items[current].size : 0;
            const bool read = ReadData(reader.get(), expected, bytes) && !bytes.empty();
            sink.Finish(current, std::move(bytes), read);
            if (sink.Cancelled()) {
                return;
            }
        }
    }

private:
    const std::string path;
    const LibarchiveKind kind;
    const bool solid;
    std::vector<ListedItem> items;
};

} // namespace

bool IsSolidRar(const uint8_t* header, size_t size) {
    static constexpr uint8_t kRar4[] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
    static constexpr uint8_t kRar5[] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
    if (size >= 12 && std::equal(kRar4, kRar4 + sizeof(kRar4), header)) {
        // Main header after the marker: CRC (2), type 0x73 (1), flags (2).
        return header[9] == 0x73 && (header[10] & 0x08) != 0;
    }
    if (size >= sizeof(kRar5) && std::equal(kRar5, kRar5 + sizeof(kRar5), header)) {
        size_t position = sizeof(kRar5) + 4; // header CRC32
        const auto readNumber = [&](uint64_t& value) {
            value = 0;
            for (int shift = 0; shift < 64 && position < size; shift += 7) {
                const uint8_t byte = header[position++];
                value |= uint64_t{byte & 0x7Fu} << shift;
                if ((byte & 0x80) == 0) {
                    return true;
                }
            }
            return false;
        };
        uint64_t headerSize = 0;
        uint64_t type = 0;
        uint64_t flags = 0;
        uint64_t ignored = 0;
        uint64_t archiveFlags = 0;
        if (!readNumber(headerSize) || !readNumber(type) || type != 1 || !readNumber(flags)) {
            return false;
        }
        if ((flags & 0x01) != 0 && !readNumber(ignored)) {
            return false;
        }
        if ((flags & 0x02) != 0 && !readNumber(ignored)) {
            return false;
        }
        return readNumber(archiveFlags) && (archiveFlags & 0x04) != 0;
    }
    return false;
}

bool IsCompressedTar(const std::string& path) {
    const Utf8LocaleScope locale;
    Reader reader(archive_read_new());
    if (!reader) {
        return false;
    }
    archive_read_support_filter_all(reader.get());
    archive_read_support_format_tar(reader.get());
    if (archive_read_open_filename(reader.get(), path.c_str(), kReadBlock) != ARCHIVE_OK) {
        return false;
    }
    struct archive_entry* entry = nullptr;
    return NextHeader(reader.get(), entry) && archive_filter_count(reader.get()) > 1;
}

std::unique_ptr<ArchiveBackend> OpenLibarchive(const std::string& path, LibarchiveKind kind) {
    bool solid = kind == LibarchiveKind::CompressedTar;
    if (kind == LibarchiveKind::Rar) {
        uint8_t header[64] = {};
        size_t size = 0;
        if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
            size = std::fread(header, 1, sizeof(header), file);
            std::fclose(file);
        }
        solid = IsSolidRar(header, size);
    }
    auto backend = std::make_unique<LibarchiveBackend>(path, kind, solid);
    if (!backend->List()) {
        return nullptr;
    }
    return backend;
}

} // namespace sources::archive
