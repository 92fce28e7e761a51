// EGG archives through the program's own reader: open from memory, then extract every entry.
#include "sources/archive/alz_egg_reader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto reader = sources::archive::OpenEggReaderFromMemory(std::vector<uint8_t>(data, data + size));
    std::vector<uint8_t> bytes;
    for (uint32_t i = 0; reader != nullptr && i < reader->Entries().size(); ++i) {
        if (reader->ExtractEntry(i, bytes) && bytes.size() > sources::archive::kMaxArchiveEntryBytes) {
            __builtin_trap();
        }
    }
    return 0;
}
