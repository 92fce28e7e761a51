#pragma once

#include "app/command_line.h"
#include "loader/load_failure.h"

#include <string>

// What the user is told when something named cannot be shown: the window's centred notice and the
// one line on standard error for a path given on the command line.
namespace app {

inline constexpr const char* kOpenFailureTitle = "이미지를 열 수 없습니다";

// The short reason in the window's language, and in the terminal's.
const char* FailureReasonText(loader::LoadFailure failure);
const char* FailureReasonEnglish(loader::LoadFailure failure);

// "이미지를 열 수 없습니다", the item's file name and the reason, one per line.
std::string OpenFailureNotice(const std::string& itemPath, loader::LoadFailure failure);
// "skimora: cannot open PATH: reason" with a line break.
std::string OpenFailureLine(const std::string& path, loader::LoadFailure failure);

// `path` made absolute against `workingDirectory` and cleaned of "." and ".." steps; an absolute path
// is only cleaned. Empty stays empty.
std::string AbsolutePath(const std::string& path, const std::string& workingDirectory);
// The request with its paths made absolute against the process's working directory.
CommandLineRequest WithAbsolutePaths(CommandLineRequest request);

// Why a path named on the command line cannot be opened before any decode is tried: it is missing,
// unreadable, or of a type nothing opens. None when it is worth opening.
loader::LoadFailure CheckCommandLinePath(const std::string& path);

} // namespace app
