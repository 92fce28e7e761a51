#include "tests/support/test_support.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace testing_support {

std::filesystem::path SamplesDir() {
    std::filesystem::path candidate;
    if (const char* fromEnvironment = std::getenv("SKIMORA_SAMPLES"); fromEnvironment != nullptr) {
        candidate = fromEnvironment;
    } else {
        candidate = SKIMORA_SAMPLES_DIR;
    }
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate / "MANIFEST.tsv", error)) {
        return std::filesystem::weakly_canonical(candidate, error);
    }
    return {};
}

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "skimora-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code error;
    // Tests may leave read-only folders behind; give them back before removing.
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(path, error);
}

std::string TemporaryDirectory::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::filesystem::path file = path / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream stream(file, std::ios::binary);
    stream.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file.string();
}

std::string TemporaryDirectory::Write(const std::string& name, const std::string& text) const {
    return Write(name, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

} // namespace testing_support
