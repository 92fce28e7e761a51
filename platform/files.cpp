#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::optional<FileAttributes> GetFileAttributes(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    FileAttributes attributes;
    attributes.isDirectory = S_ISDIR(info.st_mode);
    attributes.size = S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : 0;
    attributes.lastWriteTime =
        static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + static_cast<int64_t>(info.st_mtim.tv_nsec);
    return attributes;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, uint64_t maxBytes) {
    bytes.clear();
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
              static_cast<uint64_t>(info.st_size) <= maxBytes;
    if (ok) {
        bytes.resize(static_cast<size_t>(info.st_size));
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t got = ::read(descriptor, bytes.data() + done, bytes.size() - done);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                break;
            }
            done += static_cast<size_t>(got);
        }
        // A file that shrank while we read it is taken as far as it goes.
        bytes.resize(done);
    }
    ::close(descriptor);
    if (!ok) {
        bytes.clear();
    }
    return ok;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    if (folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

} // namespace platform
