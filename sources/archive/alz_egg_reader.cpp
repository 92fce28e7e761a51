#include "sources/archive/alz_egg_reader.h"

// Placeholder until the readers land: every open fails.
namespace sources::archive {
std::unique_ptr<ContainerReader> OpenEggReader(const std::string&) { return nullptr; }
std::unique_ptr<ContainerReader> OpenAlzReader(const std::string&) { return nullptr; }
std::unique_ptr<ContainerReader> OpenEggReaderFromMemory(std::vector<uint8_t>) { return nullptr; }
std::unique_ptr<ContainerReader> OpenAlzReaderFromMemory(std::vector<uint8_t>) { return nullptr; }
} // namespace sources::archive
