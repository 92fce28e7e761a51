#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// The real-world sample files beside the repository (../shared/samples), or an empty path when that
// folder is absent. Tests that need them skip, saying so, with SKIP_WITHOUT_SAMPLES().
std::filesystem::path SamplesDir();

#define SKIP_WITHOUT_SAMPLES()                                                                                 \
    do {                                                                                                       \
        if (::testing_support::SamplesDir().empty()) {                                                         \
            GTEST_SKIP() << "the real-world samples folder is absent";                                         \
        }                                                                                                      \
    } while (false)

// A fresh folder under the system's temporary folder, removed with everything in it on destruction.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& Path() const { return path; }
    // Path of a file in the folder (not created).
    std::string File(const std::string& name) const { return (path / name).string(); }
    // Writes bytes to a file in the folder (sub-folders created) and returns its path.
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
    std::string Write(const std::string& name, const std::string& text) const;

private:
    std::filesystem::path path;
};

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);

} // namespace testing_support
