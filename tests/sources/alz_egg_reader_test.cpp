#include "sources/archive/alz_egg_reader.h"

#include "platform/trace.h"
#include "tests/support/test_support.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <zlib.h>

namespace {

using namespace sources::archive;
using Bytes = std::vector<uint8_t>;

// With tracing on, the EGG parse writes its trace file under the cache folder: a temporary one here.
const testing_support::TemporaryDirectory& CacheHome() {
    static const testing_support::TemporaryDirectory folder;
    return folder;
}
const bool kTraceIntoTemporaryCache =
    ::setenv("XDG_CACHE_HOME", CacheHome().Path().c_str(), 1) == 0 && ::setenv("SKIMORA_TRACE", "1", 0) == 0;

void Put(Bytes& out, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

void Put(Bytes& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<uint8_t>((i * 31 + seed) ^ (i >> 7));
    }
    return data;
}

// Raw deflate of `data`; with `repeat` > 1 the self-contained stream of `data` is repeated that many
// times before the final block (a cheap way to write a stream that expands enormously).
Bytes RawDeflate(const Bytes& data, size_t repeat = 1) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    const auto run = [&stream](const Bytes& in, int flush) {
        Bytes out(deflateBound(&stream, in.size()) + 64);
        stream.next_in = const_cast<uint8_t*>(in.data());
        stream.avail_in = static_cast<uInt>(in.size());
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        deflate(&stream, flush);
        out.resize(out.size() - stream.avail_out);
        return out;
    };
    if (repeat == 1) {
        Bytes result = run(data, Z_FINISH);
        deflateEnd(&stream);
        return result;
    }
    const Bytes segment = run(data, Z_FULL_FLUSH);
    Bytes result;
    for (size_t i = 0; i < repeat; ++i) {
        result.insert(result.end(), segment.begin(), segment.end());
    }
    const Bytes tail = run({}, Z_FINISH);
    result.insert(result.end(), tail.begin(), tail.end());
    deflateEnd(&stream);
    return result;
}

uint32_t Crc(const Bytes& data) {
    return static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

// EGG archives as the archiver writes them: header, then per file a FILE_HEADER, FILENAME_HEADER,
// optional encryption header and its blocks.
struct EggWriter {
    Bytes bytes;
    EggWriter() {
        Put(bytes, 0x41474745, 4);
        Put(bytes, 0x0100, 2);
        Put(bytes, 0x12345678, 4);
        Put(bytes, 0, 4);
        Put(bytes, 0x08E28222, 4);
    }
    void File(uint32_t id, std::string_view name, int cipher = -1) {
        Put(bytes, 0x0A8590E3, 4);
        Put(bytes, id, 4);
        Put(bytes, 0, 8);
        Put(bytes, 0x0A8591AC, 4);
        Put(bytes, 0, 1);
        Put(bytes, name.size(), 2);
        Put(bytes, name);
        if (cipher >= 0) {
            Put(bytes, 0x08D1470F, 4);
            Put(bytes, 0, 1);
            Put(bytes, 5, 2);
            Put(bytes, static_cast<uint64_t>(cipher), 1);
            Put(bytes, 0, 4);
        }
        Put(bytes, 0x08E28222, 4);
    }
    // A block of `original` stored (method 0) or deflated (method 1).
    void Block(uint8_t method, const Bytes& original, uint64_t declaredSize = UINT64_MAX) {
        const Bytes payload = method == 1 ? RawDeflate(original) : original;
        Put(bytes, 0x02B50C13, 4);
        Put(bytes, method, 1);
        Put(bytes, 0, 1);
        Put(bytes, declaredSize == UINT64_MAX ? original.size() : declaredSize, 4);
        Put(bytes, payload.size(), 4);
        Put(bytes, Crc(original), 4);
        Put(bytes, 0x08E28222, 4);
        dataStarts.push_back(bytes.size());
        bytes.insert(bytes.end(), payload.begin(), payload.end());
    }
    std::vector<size_t> dataStarts;
};

// ALZ archives: `flags` carries the size-field width in its high nibble and the encrypted bit.
struct AlzWriter {
    Bytes bytes;
    AlzWriter() {
        Put(bytes, 0x015A4C41, 4);
        Put(bytes, 10, 4);
    }
    void Entry(std::string_view name, uint8_t method, size_t width, const Bytes& original) {
        RawEntry(name, method, width, method == 2 ? RawDeflate(original) : original, Crc(original),
                 original.size());
    }
    void RawEntry(std::string_view name, uint8_t method, size_t width, const Bytes& payload, uint32_t crc,
                  uint64_t declaredSize) {
        entryStarts.push_back(bytes.size());
        Put(bytes, 0x015A4C42, 4);
        Put(bytes, name.size(), 2);
        Put(bytes, 0x20, 1);
        Put(bytes, 0x5B8A9A40, 4);
        Put(bytes, width << 4, 1);
        Put(bytes, 0, 1);
        Put(bytes, method, 1);
        Put(bytes, 0, 1);
        Put(bytes, crc, 4);
        Put(bytes, payload.size(), width);
        Put(bytes, declaredSize, width);
        Put(bytes, name);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
    }
    Bytes End() {
        Put(bytes, 0x015A4C43, 4);
        return bytes;
    }
    std::vector<size_t> entryStarts;
};

// The entries of one sample in ARCHIVE_LISTINGS.txt as "name size" lines ("*" marks an encrypted ALZ
// entry and is dropped; ALZ listings show empty files, which the reader does not list).
// Nothing when the listings have no section for the sample.
std::optional<std::vector<std::string>> ListedEntries(const std::filesystem::path& listings,
                                                      const std::string& sample) {
    std::ifstream file(listings);
    std::optional<std::vector<std::string>> entries;
    bool inSection = false;
    for (std::string line; std::getline(file, line);) {
        if (line.starts_with("### ")) {
            inSection = line.starts_with("### " + sample + "  [");
            if (inSection) {
                entries.emplace();
            }
        } else if (inSection && line.starts_with("    ")) {
            const size_t open = line.rfind(" (");
            std::string name = line.substr(4, open - 4);
            if (name.ends_with('*')) {
                name.pop_back();
            }
            const std::string size = line.substr(open + 2, line.find(' ', open + 2) - open - 2);
            if (!(sample.ends_with(".alz") && size == "0")) {
                entries->push_back(name + " " + size);
            }
        }
    }
    return entries;
}

std::unique_ptr<ContainerReader> OpenSample(const std::filesystem::path& path) {
    return path.extension() == ".alz" || path.extension() == ".a00" ? OpenAlzReader(path.string())
                                                                    : OpenEggReader(path.string());
}

// Every entry that extracts has its declared size and CRC; returns how many did.
int ExtractAll(ContainerReader& reader) {
    int extracted = 0;
    Bytes bytes;
    for (uint32_t i = 0; i < reader.Entries().size(); ++i) {
        if (reader.ExtractEntry(i, bytes)) {
            ++extracted;
            EXPECT_EQ(bytes.size(), reader.Entries()[i].uncompressedSize) << reader.Entries()[i].name;
            EXPECT_EQ(Crc(bytes), reader.Entries()[i].crc) << reader.Entries()[i].name;
        } else {
            EXPECT_TRUE(bytes.empty());
        }
    }
    EXPECT_FALSE(reader.ExtractEntry(static_cast<uint32_t>(reader.Entries().size()), bytes));
    return extracted;
}

TEST(AlzEggReader, RealArchivesListAndExtractAsTheirListingsSay) {
    SKIP_WITHOUT_SAMPLES();
    const auto samples = testing_support::SamplesDir();
    // Entries that extract; in every other sample nothing does: encrypted entries (ZipCrypto, AES, LEA),
    // bzip2 and LZMA, and data that continues in the next volume are listed but never extracted.
    const std::map<std::string, int> extracting = {{"alz/eggdotnet_defaults.alz", 6},
                                                   {"alz/eggdotnet_test.alz", 1},
                                                   {"alz/high.alz", 1},
                                                   {"alz/nocompress.alz", 1},
                                                   {"alz/unalz_low.alz", 9},
                                                   {"alz/unalz_normal.alz", 9},
                                                   {"alz/unalz_store.alz", 9},
                                                   {"alz/unicode_미즈노아미水野亜美マーキュリー🌈🌕🌊.alz", 1},
                                                   {"egg/eggdotnet_defaults_bz_optimized.egg", 3},
                                                   {"egg/eggdotnet_extattr.egg", 5},
                                                   {"egg/eggdotnet_globalcomment.egg", 1},
                                                   {"egg/eggdotnet_lorem_short_readonlyhidden.egg", 2},
                                                   {"egg/normal.egg", 1},
                                                   {"egg/solid.low.egg", 2}};
    int samplesRead = 0;
    for (const std::string folder : {"alz", "egg"}) {
        for (const auto& file : std::filesystem::directory_iterator(samples / folder)) {
            const std::string sample = folder + "/" + file.path().filename().string();
            SCOPED_TRACE(sample);
            const auto expected = ListedEntries(samples / "ARCHIVE_LISTINGS.txt", sample);
            auto reader = OpenSample(file.path());
            if (!expected) { // a continuation volume, listed only through its first volume
                EXPECT_EQ(reader, nullptr);
                continue;
            }
            ASSERT_NE(reader, nullptr);
            std::vector<std::string> listed;
            for (const EggEntry& entry : reader->Entries()) {
                listed.push_back(entry.name + " " + std::to_string(entry.uncompressedSize));
            }
            EXPECT_EQ(listed, *expected);
            EXPECT_EQ(ExtractAll(*reader), extracting.contains(sample) ? extracting.at(sample) : 0);
            ++samplesRead;
        }
    }
    EXPECT_EQ(samplesRead, 36);
}

TEST(AlzEggReader, GeneratedEggArchives) {
    const Bytes jpeg = Pattern(3000, 1);
    const Bytes png = Pattern(70000, 2);
    EggWriter egg;
    egg.File(0, "pages/p01.jpg");
    egg.Block(0, jpeg);
    egg.File(1, "pages/p02.png");
    egg.Block(1, png);
    egg.File(2, "locked.jpg", 1); // AES-128: listed, never extracted
    egg.Block(0, jpeg);
    egg.File(3, "twice.png"); // two blocks: refused rather than cut short
    egg.Block(1, png);
    egg.Block(1, png);
    egg.File(4, ""); // unnamed: never listed
    egg.Block(0, jpeg);
    egg.File(5, "bigger-than-declared.png");
    egg.Block(1, png, 1000);
    auto reader = OpenEggReaderFromMemory(egg.bytes);
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(reader->Entries().size(), 5u);
    EXPECT_EQ(reader->Entries()[2].name, "locked.jpg");
    EXPECT_EQ(reader->Entries()[4].name, "bigger-than-declared.png");
    Bytes bytes;
    EXPECT_TRUE(reader->ExtractEntry(0, bytes) && bytes == jpeg);
    EXPECT_TRUE(reader->ExtractEntry(1, bytes) && bytes == png);
    EXPECT_FALSE(reader->ExtractEntry(2, bytes));
    EXPECT_FALSE(reader->ExtractEntry(3, bytes));
    EXPECT_TRUE(reader->ExtractEntry(4, bytes) && bytes == png);
    if (platform::IsTraceEnabled()) {
        std::ifstream trace(CacheHome().Path() / "skimora" / "egg_debug.log");
        const std::string text((std::istreambuf_iterator<char>(trace)), std::istreambuf_iterator<char>());
        EXPECT_NE(text.find("  filename: bigger-than-declared.png\nEGG sig: 0x08E28222 at pos "),
                  std::string::npos);
        EXPECT_NE(text.find("EGG ParseHeaders done: 5 files found\n"), std::string::npos);
    }

    // Truncated: the entries before the damage stay and extract; the damaged one is listed and fails.
    const Bytes& whole = egg.bytes;
    reader = OpenEggReaderFromMemory(Bytes(whole.begin(), whole.begin() + egg.dataStarts[1] + 100));
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(reader->Entries().size(), 2u);
    EXPECT_TRUE(reader->ExtractEntry(0, bytes) && bytes == jpeg);
    EXPECT_FALSE(reader->ExtractEntry(1, bytes));

    Bytes wrongMagic = whole;
    wrongMagic[0] = 'Z';
    EXPECT_EQ(OpenEggReaderFromMemory(wrongMagic), nullptr);
    EXPECT_EQ(OpenEggReaderFromMemory({}), nullptr);
    EXPECT_EQ(OpenEggReader("/nonexistent/a.egg"), nullptr);
}

TEST(AlzEggReader, GeneratedAlzArchives) {
    const Bytes data = Pattern(5000, 3);
    AlzWriter alz;
    alz.Entry("w1.png", 0, 1, Pattern(200, 4));
    alz.Entry("w2.jpg", 2, 2, data);
    alz.Entry("w4.jpg", 2, 4, data);
    alz.Entry("w8.jpg", 0, 8, data);
    alz.Entry("method1.jpg", 1, 4, data);          // listed, refused
    alz.Entry("\xC7\xD1\xB1\xDB.png", 0, 2, data); // "한글" in CP949
    auto reader = OpenAlzReaderFromMemory(alz.End());
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(reader->Entries().size(), 6u);
    EXPECT_EQ(reader->Entries()[5].name, "한글.png");
    EXPECT_EQ(reader->Entries()[3].uncompressedSize, data.size());
    EXPECT_EQ(ExtractAll(*reader), 5);
    Bytes bytes;
    EXPECT_FALSE(reader->ExtractEntry(4, bytes));

    // Cut inside the fourth entry's header: the three before it remain.
    const Bytes& whole = alz.bytes;
    reader = OpenAlzReaderFromMemory(Bytes(whole.begin(), whole.begin() + alz.entryStarts[3] + 10));
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->Entries().size(), 3u);
    EXPECT_EQ(ExtractAll(*reader), 3);
    EXPECT_EQ(OpenAlzReaderFromMemory(Bytes{'A', 'L', 'Z', 1, 0, 0, 0, 0}), nullptr);
}

TEST(AlzEggReader, DeflateBombStopsAtTheEntryCap) {
    // Megabytes of zeros from about a kilobyte each, declared as one kilobyte: the buffer follows the
    // data, a stream within the cap extracts whole, and one past it fails instead of exhausting memory.
    const auto bombArchive = [](size_t mebibytes) {
        AlzWriter alz;
        alz.RawEntry("bomb.png", 2, 8, RawDeflate(Bytes(1 << 20, 0), mebibytes), 0, 1024);
        return OpenAlzReaderFromMemory(alz.End());
    };
    Bytes bytes;
    auto reader = bombArchive(3);
    ASSERT_NE(reader, nullptr);
    EXPECT_TRUE(reader->ExtractEntry(0, bytes));
    EXPECT_EQ(bytes, Bytes(3 << 20, 0));
    reader = bombArchive((kMaxArchiveEntryBytes >> 20) + 1);
    ASSERT_NE(reader, nullptr);
    EXPECT_FALSE(reader->ExtractEntry(0, bytes));
    EXPECT_TRUE(bytes.empty());
}

} // namespace
