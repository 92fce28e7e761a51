#include "app/command_line.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const app::CommandLineRequest request = app::ParseCommandLine(text);
    if (request.selectEntry && (request.archivePath.size() + request.entryName.size() > size)) {
        __builtin_trap();
    }
    return 0;
}
