#pragma once

#include <string>
#include <string_view>

namespace app {

// What the command line asks to open: a plain path, or an archive together with the entry to show first.
struct CommandLineRequest {
    std::string path;        // the plain form; empty otherwise
    std::string archivePath; // the select form's archive
    std::string entryName;   // the select form's entry (the text after the first "::")
    bool selectEntry = false;
};

// Takes the next token from `position`: spaces and tabs are skipped; a token that starts with a double
// quote runs to and including the next double quote (or the end), otherwise to the next space or tab.
// The quotes stay part of the token. False at the end of the text.
bool NextToken(std::string_view text, size_t& position, std::string& token);

// Parses the command-line text (without the program name). Accepted: PATH; -sel "ARCHIVE::ENTRY";
// "-select:ARCHIVE::ENTRY". Only the first token (two for -sel) is looked at; anything malformed gives
// an empty request. Nothing is checked against the file system.
CommandLineRequest ParseCommandLine(std::string_view text);

// Rebuilds the command-line text from argv[1..]: arguments holding a space or tab are quoted.
std::string JoinArguments(int argc, const char* const* argv);

} // namespace app
