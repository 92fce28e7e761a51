#include "app/command_line.h"

#include "platform/text.h"

namespace app {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string StripQuotes(const std::string& token) {
    if (token.size() >= 2 && token.front() == '"' && token.back() == '"') {
        return token.substr(1, token.size() - 2);
    }
    return token;
}

CommandLineRequest SplitSelection(const std::string& text) {
    CommandLineRequest request;
    const size_t separator = text.find("::");
    if (separator == std::string::npos) {
        return request;
    }
    request.archivePath = text.substr(0, separator);
    request.entryName = text.substr(separator + 2);
    request.selectEntry = true;
    return request;
}

} // namespace

bool NextToken(std::string_view text, size_t& position, std::string& token) {
    while (position < text.size() && IsBlank(text[position])) {
        ++position;
    }
    if (position >= text.size()) {
        return false;
    }
    const size_t start = position;
    if (text[position] == '"') {
        const size_t closing = text.find('"', position + 1);
        position = closing == std::string_view::npos ? text.size() : closing + 1;
    } else {
        while (position < text.size() && !IsBlank(text[position])) {
            ++position;
        }
    }
    token.assign(text.substr(start, position - start));
    return true;
}

CommandLineRequest ParseCommandLine(std::string_view text) {
    size_t position = 0;
    std::string first;
    if (text.empty() || !NextToken(text, position, first)) {
        return {};
    }
    if (platform::EqualsIgnoreCase(first, "-sel")) {
        std::string second;
        if (!NextToken(text, position, second)) {
            return {};
        }
        return SplitSelection(StripQuotes(second));
    }
    const std::string stripped = StripQuotes(first);
    constexpr std::string_view kSelect = "-select:";
    if (stripped.size() > kSelect.size() && platform::EqualsIgnoreCase(stripped.substr(0, kSelect.size()), kSelect)) {
        return SplitSelection(stripped.substr(kSelect.size()));
    }
    CommandLineRequest request;
    request.path = stripped;
    return request;
}

std::string JoinArguments(int argc, const char* const* argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i] != nullptr ? argv[i] : "";
        if (!text.empty()) {
            text.push_back(' ');
        }
        if (argument.find_first_of(" \t") != std::string::npos) {
            text += "\"" + argument + "\"";
        } else {
            text += argument;
        }
    }
    return text;
}

} // namespace app
