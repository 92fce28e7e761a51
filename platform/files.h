#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct FileAttributes {
    bool isDirectory = false;
    uint64_t size = 0;
    // Last modification time in nanoseconds since 1970-01-01 UTC; compare with the ordinary operators.
    int64_t lastWriteTime = 0;
};

// Attributes of the file or folder at `path` (symbolic links followed); nothing when it does not exist
// or cannot be examined.
std::optional<FileAttributes> GetFileAttributes(const std::string& path);

// Reads a regular file whole. Fails (false, `bytes` emptied) for folders, unreadable files and files
// larger than `maxBytes`.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, uint64_t maxBytes);

// Joins a folder and a name with "/" unless the folder already ends with one.
std::string JoinPath(const std::string& folder, const std::string& name);

} // namespace platform
