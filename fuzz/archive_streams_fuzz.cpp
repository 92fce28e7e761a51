// Hostile archives through the bridge's stream classes: the file stream under 7-Zip's library (and
// libarchive), the listing, and every small entry extracted through the memory callback and stream.
#include "sources/archive/archive_route.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int descriptor = ::memfd_create("archive", 0);
    if (descriptor < 0 || ::write(descriptor, data, size) != static_cast<ssize_t>(size)) {
        return descriptor >= 0 ? ::close(descriptor), 0 : 0;
    }
    std::unique_ptr<sources::archive::ArchiveBackend> backend;
    if (sources::archive::OpenArchiveBackend("/proc/self/fd/" + std::to_string(descriptor), backend) ==
        sources::archive::BackendOpenResult::Opened) {
        for (const sources::archive::ListedItem& item : backend->Items()) {
            std::vector<uint8_t> bytes;
            if (!item.isDirectory && item.size < (1u << 20)) {
                backend->ExtractItem(item.index, item.size, bytes);
            }
        }
    }
    ::close(descriptor);
    return 0;
}
