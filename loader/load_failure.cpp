#include "loader/load_failure.h"

#include "decode/format_registry.h"
#include "sources/source_list.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace loader {

LoadFailure DescribeLoadFailure(const std::string& path) {
    const std::string file(sources::SplitItemPath(path).container);
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? LoadFailure::Missing : LoadFailure::Unreadable;
    }
    if (S_ISDIR(info.st_mode) || ::access(file.c_str(), R_OK) != 0) {
        return LoadFailure::Unreadable;
    }
    if (info.st_size == 0) {
        return LoadFailure::Empty;
    }
    const std::string ext = decode::GetLowerExtension(file);
    if (!sources::IsContainerItem(path) && (ext.empty() || !decode::IsImageExtension(ext))) {
        return LoadFailure::Unsupported;
    }
    return LoadFailure::Undecodable;
}

void FailedItems::Remember(const std::string& path, uint64_t itemGeneration, LoadFailure failure) {
    std::lock_guard lock(mutex);
    if (itemGeneration != generation) {
        items.clear();
        generation = itemGeneration;
    }
    items.insert_or_assign(path, failure);
}

LoadFailure FailedItems::Lookup(const std::string& path, uint64_t itemGeneration) const {
    std::lock_guard lock(mutex);
    if (itemGeneration != generation) {
        return LoadFailure::None;
    }
    const auto found = items.find(path);
    return found == items.end() ? LoadFailure::None : found->second;
}

FailedItems& FailedItemList() {
    static FailedItems list;
    return list;
}

} // namespace loader
