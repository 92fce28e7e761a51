#include "sources/archive/alz_egg_internal.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sources::archive {
namespace {

// Small reads (the parsers' header fields) are served from a window read ahead in one call, so that a
// scan costs about one system call per header group instead of one per field.
class FileByteSource final : public ArchiveByteSource {
public:
    FileByteSource(int descriptor, uint64_t size) : descriptor(descriptor), size(size) {}
    ~FileByteSource() override { ::close(descriptor); }
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    uint64_t Size() const override { return size; }

    bool ReadAt(uint64_t offset, void* out, size_t length) override {
        if (offset > size || length > size - offset) {
            return false;
        }
        if (length > kSmallRead) {
            return ReadFile(offset, out, length);
        }
        if (offset < windowOffset || offset + length > windowOffset + window.size()) {
            window.resize(static_cast<size_t>(std::min<uint64_t>(kWindowBytes, size - offset)));
            if (!ReadFile(offset, window.data(), window.size())) {
                window.clear();
                return false;
            }
            windowOffset = offset;
        }
        if (length > 0) {
            std::memcpy(out, window.data() + (offset - windowOffset), length);
        }
        return true;
    }

private:
    static constexpr size_t kSmallRead = 4096;
    static constexpr size_t kWindowBytes = 16384;

    bool ReadFile(uint64_t offset, void* out, size_t length) {
        auto* target = static_cast<uint8_t*>(out);
        while (length > 0) {
            const ssize_t got = ::pread(descriptor, target, length, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return false; // the file shrank since it was opened, or cannot be read
            }
            target += got;
            offset += static_cast<uint64_t>(got);
            length -= static_cast<size_t>(got);
        }
        return true;
    }

    int descriptor;
    uint64_t size;
    std::vector<uint8_t> window; // bytes of the file from windowOffset on
    uint64_t windowOffset = 0;
};

class MemoryByteSource final : public ArchiveByteSource {
public:
    explicit MemoryByteSource(std::vector<uint8_t> bytes) : bytes(std::move(bytes)) {}

    uint64_t Size() const override { return bytes.size(); }

    bool ReadAt(uint64_t offset, void* out, size_t length) override {
        if (offset > bytes.size() || length > bytes.size() - offset) {
            return false;
        }
        if (length > 0) {
            std::memcpy(out, bytes.data() + offset, length);
        }
        return true;
    }

private:
    std::vector<uint8_t> bytes;
};

struct InflateStream {
    z_stream stream{};
    bool ready = false;
    InflateStream() { ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~InflateStream() {
        if (ready) {
            inflateEnd(&stream);
        }
    }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;
};

// The first reservation for an entry's inflated bytes: its declared size, but never more than deflate
// can produce from its compressed size (about 1032:1) nor more than kInitialReservation; the buffer
// grows from there as the stream actually produces output.
constexpr uint64_t kInitialReservation = uint64_t{64} << 20;

uint64_t FirstReservation(const EggEntry& entry) {
    const uint64_t plausible = entry.compressedSize > kInitialReservation / 1032
                                   ? kInitialReservation
                                   : entry.compressedSize * 1032 + 1024;
    return std::clamp<uint64_t>(std::min(entry.uncompressedSize, plausible), 4096, kInitialReservation);
}

// Inflates the entry's raw deflate data, read in chunks, into a buffer that grows with the output the
// stream actually produces and never past kMaxArchiveEntryBytes. The declared uncompressed size only
// sizes the first reservation; the result is what the stream holds up to its end.
bool InflateEntry(ArchiveByteSource& source, const EggEntry& entry, std::vector<uint8_t>& bytes) {
    InflateStream inflater;
    if (!inflater.ready) {
        return false;
    }
    z_stream& stream = inflater.stream;
    std::vector<uint8_t> input(static_cast<size_t>(std::min<uint64_t>(entry.compressedSize, 256 << 10)));
    uint64_t offset = entry.dataOffset;
    uint64_t remaining = entry.compressedSize;
    bytes.resize(static_cast<size_t>(FirstReservation(entry)));
    size_t produced = 0;
    uint8_t scratch = 0;
    while (true) {
        if (stream.avail_in == 0 && remaining > 0) {
            const size_t chunk = static_cast<size_t>(std::min<uint64_t>(remaining, input.size()));
            if (!source.ReadAt(offset, input.data(), chunk)) {
                return false;
            }
            offset += chunk;
            remaining -= chunk;
            stream.next_in = input.data();
            stream.avail_in = static_cast<uInt>(chunk);
        }
        const bool atCap = produced == kMaxArchiveEntryBytes;
        if (produced == bytes.size() && !atCap) {
            bytes.resize(
                static_cast<size_t>(std::min<uint64_t>(uint64_t{bytes.size()} * 2, kMaxArchiveEntryBytes)));
        }
        // At the cap one spare byte tells a stream that ends exactly there from one that goes on.
        uint8_t* out = atCap ? &scratch : bytes.data() + produced;
        const size_t room = atCap ? 1 : std::min<size_t>(bytes.size() - produced, UINT_MAX);
        stream.next_out = out;
        stream.avail_out = static_cast<uInt>(room);
        const int status = inflate(&stream, Z_NO_FLUSH);
        const size_t written = room - stream.avail_out;
        if (atCap && written > 0) {
            return false;
        }
        produced += written;
        if (status == Z_STREAM_END) {
            bytes.resize(produced);
            if (bytes.capacity() - produced > produced / 4) {
                bytes.shrink_to_fit(); // the declared size was far too large, or the last growth overshot
            }
            return true;
        }
        if (status != Z_OK && status != Z_BUF_ERROR) {
            return false;
        }
        if (stream.avail_in == 0 && remaining == 0 && stream.avail_out > 0) {
            return false; // the data ended before the stream did
        }
    }
}

class ArchiveContainerReader final : public ContainerReader {
public:
    ArchiveContainerReader(std::unique_ptr<ArchiveByteSource> source, ParsedArchive parsed,
                           uint8_t deflateMethod)
        : source(std::move(source)), parsed(std::move(parsed)), deflateMethod(deflateMethod) {}

    const std::vector<EggEntry>& Entries() const override { return parsed.entries; }

    bool ExtractEntry(uint32_t index, std::vector<uint8_t>& bytes) override {
        bytes.clear();
        if (index >= parsed.entries.size()) {
            return false;
        }
        if (!Extract(parsed.entries[index], parsed.incomplete[index], bytes)) {
            bytes = {}; // give back what a failed inflate may have grown
            return false;
        }
        return true;
    }

private:
    bool Extract(const EggEntry& entry, bool incomplete, std::vector<uint8_t>& bytes) {
        if (entry.protection != 0 || incomplete) {
            return false;
        }
        if (entry.method != 0 && entry.method != deflateMethod) {
            return false;
        }
        if (entry.uncompressedSize > kMaxArchiveEntryBytes) {
            return false;
        }
        const uint64_t size = source->Size();
        if (entry.compressedSize > size || entry.dataOffset > size - entry.compressedSize) {
            return false; // the data runs past the end of the file (truncated or a multi-volume part)
        }
        if (entry.method == deflateMethod) {
            return InflateEntry(*source, entry, bytes);
        }
        if (entry.compressedSize > kMaxArchiveEntryBytes) {
            return false;
        }
        bytes.resize(static_cast<size_t>(entry.compressedSize));
        return source->ReadAt(entry.dataOffset, bytes.data(), bytes.size());
    }

    std::unique_ptr<ArchiveByteSource> source;
    ParsedArchive parsed;
    uint8_t deflateMethod;
};

} // namespace

std::unique_ptr<ArchiveByteSource> OpenFileByteSource(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return nullptr;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0) {
        ::close(descriptor);
        return nullptr;
    }
    return std::make_unique<FileByteSource>(descriptor, static_cast<uint64_t>(status.st_size));
}

std::unique_ptr<ArchiveByteSource> MakeMemoryByteSource(std::vector<uint8_t> bytes) {
    return std::make_unique<MemoryByteSource>(std::move(bytes));
}

bool ArchiveCursor::Read(void* out, size_t length) {
    if (position > size || length > size - position || !source.ReadAt(position, out, length)) {
        return false;
    }
    position += length;
    return true;
}

bool ArchiveCursor::ReadSized(size_t width, uint64_t& value) {
    uint8_t raw[8];
    if (width > sizeof raw || !Read(raw, width)) {
        return false;
    }
    value = 0;
    for (size_t i = width; i-- > 0;) {
        value = value << 8 | raw[i];
    }
    return true;
}

bool ArchiveCursor::ReadU8(uint8_t& value) {
    return Read(&value, 1);
}

bool ArchiveCursor::ReadU16(uint16_t& value) {
    uint64_t wide = 0;
    const bool ok = ReadSized(2, wide);
    value = static_cast<uint16_t>(wide);
    return ok;
}

bool ArchiveCursor::ReadU32(uint32_t& value) {
    uint64_t wide = 0;
    const bool ok = ReadSized(4, wide);
    value = static_cast<uint32_t>(wide);
    return ok;
}

bool ArchiveCursor::ReadU64(uint64_t& value) {
    return ReadSized(8, value);
}

bool ArchiveCursor::Skip(uint64_t length) {
    if (position > size || length > size - position) {
        return false;
    }
    position += length;
    return true;
}

bool ArchiveCursor::Rewind(uint64_t length) {
    if (length > position) {
        return false;
    }
    position -= length;
    return true;
}

std::unique_ptr<ContainerReader> MakeContainerReader(std::unique_ptr<ArchiveByteSource> source,
                                                     ParsedArchive parsed, uint8_t deflateMethod) {
    parsed.incomplete.resize(parsed.entries.size(), false);
    return std::make_unique<ArchiveContainerReader>(std::move(source), std::move(parsed), deflateMethod);
}

} // namespace sources::archive
