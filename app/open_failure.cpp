#include "app/open_failure.h"

#include "decode/format_registry.h"
#include "sources/source_list.h"

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

const char* FailureReasonText(loader::LoadFailure failure) {
    switch (failure) {
    case loader::LoadFailure::Missing:
        return "파일이 없습니다";
    case loader::LoadFailure::Unreadable:
        return "파일을 읽을 수 없습니다";
    case loader::LoadFailure::Empty:
        return "빈 파일입니다";
    case loader::LoadFailure::NoImages:
        return "폴더에 이미지가 없습니다";
    case loader::LoadFailure::Unsupported:
        return "지원하지 않는 파일 형식입니다";
    case loader::LoadFailure::Undecodable:
    case loader::LoadFailure::None:
        break;
    }
    return "손상되었거나 디코딩할 수 없는 이미지입니다";
}

const char* FailureReasonEnglish(loader::LoadFailure failure) {
    switch (failure) {
    case loader::LoadFailure::Missing:
        return "no such file or directory";
    case loader::LoadFailure::Unreadable:
        return "permission denied";
    case loader::LoadFailure::Empty:
        return "empty file";
    case loader::LoadFailure::NoImages:
        return "no images in this folder";
    case loader::LoadFailure::Unsupported:
        return "unsupported file type";
    case loader::LoadFailure::Undecodable:
    case loader::LoadFailure::None:
        break;
    }
    return "the image cannot be decoded";
}

std::string OpenFailureNotice(const std::string& itemPath, loader::LoadFailure failure) {
    std::string name(sources::ItemFileName(itemPath));
    if (name.empty()) {
        name = itemPath;
    }
    return std::string(kOpenFailureTitle) + "\n" + name + "\n" + FailureReasonText(failure);
}

std::string OpenFailureLine(const std::string& path, loader::LoadFailure failure) {
    return "skimora: cannot open " + path + ": " + FailureReasonEnglish(failure) + "\n";
}

std::string AbsolutePath(const std::string& path, const std::string& workingDirectory) {
    if (path.empty()) {
        return path;
    }
    std::filesystem::path joined(path);
    if (joined.is_relative()) {
        joined = std::filesystem::path(workingDirectory) / joined;
    }
    return joined.lexically_normal().string();
}

CommandLineRequest WithAbsolutePaths(CommandLineRequest request) {
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    if (error) {
        return request;
    }
    request.path = AbsolutePath(request.path, current.string());
    request.archivePath = AbsolutePath(request.archivePath, current.string());
    return request;
}

loader::LoadFailure CheckCommandLinePath(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? loader::LoadFailure::Missing
                                                   : loader::LoadFailure::Unreadable;
    }
    if (S_ISDIR(info.st_mode)) {
        return ::access(path.c_str(), R_OK | X_OK) == 0 ? loader::LoadFailure::None
                                                        : loader::LoadFailure::Unreadable;
    }
    if (::access(path.c_str(), R_OK) != 0) {
        return loader::LoadFailure::Unreadable;
    }
    const std::string ext = decode::GetLowerExtension(path);
    if (ext.empty() ||
        !(decode::IsImageExtension(ext) || decode::IsArchiveExtension(ext) || decode::IsPdfExtension(ext))) {
        return loader::LoadFailure::Unsupported;
    }
    return loader::LoadFailure::None;
}

} // namespace app
