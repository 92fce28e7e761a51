#include "platform/settings_registry.h"

#include "platform/text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace platform {

namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00";
constexpr const char* kKeyName = "HKEY_CURRENT_USER\\Software\\Skimora";
// A settings file is a few hundred bytes; anything past this is not ours to read.
constexpr std::uintmax_t kMaxFileBytes = 1 << 20;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t' || text[begin] == '\r')) {
        ++begin;
    }
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// Reads a quoted .reg string starting at text[position] == '"'. Handles \\ and \" escapes.
std::optional<std::string> ReadQuoted(const std::string& text, size_t& position) {
    if (position >= text.size() || text[position] != '"') {
        return std::nullopt;
    }
    std::string out;
    for (size_t i = position + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
            out.push_back(text[++i]);
        } else if (c == '"') {
            position = i + 1;
            return out;
        } else {
            out.push_back(c);
        }
    }
    return std::nullopt;
}

std::vector<uint8_t> Utf16Bytes(const std::string& utf8, bool withNull) {
    const std::u16string wide = Utf8ToUtf16(utf8);
    std::vector<uint8_t> bytes;
    bytes.reserve(wide.size() * 2 + 2);
    for (const char16_t unit : wide) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    if (withNull) {
        bytes.push_back(0);
        bytes.push_back(0);
    }
    return bytes;
}

std::optional<std::vector<uint8_t>> ParseHexBytes(const std::string& text) {
    std::vector<uint8_t> bytes;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == ',')) {
            ++i;
        }
        if (i >= text.size()) {
            break;
        }
        if (i + 1 >= text.size()) {
            return std::nullopt;
        }
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0 || (i + 2 < text.size() && text[i + 2] != ',' && text[i + 2] != ' ')) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
        i += 2;
    }
    return bytes;
}

std::optional<RegistryValue> ParseValue(const std::string& text) {
    RegistryValue value;
    if (text.rfind("dword:", 0) == 0) {
        const std::string digits = text.substr(6);
        if (digits.empty() || digits.size() > 8) {
            return std::nullopt;
        }
        uint32_t number = 0;
        for (const char c : digits) {
            const int digit = HexDigit(c);
            if (digit < 0) {
                return std::nullopt;
            }
            number = number * 16 + static_cast<uint32_t>(digit);
        }
        value.type = RegistryType::Dword;
        value.data = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                      static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
        return value;
    }
    if (!text.empty() && text[0] == '"') {
        size_t position = 0;
        const auto quoted = ReadQuoted(text, position);
        if (!quoted || !Trim(text.substr(position)).empty()) {
            return std::nullopt;
        }
        value.type = RegistryType::String;
        value.data = Utf16Bytes(*quoted, true);
        return value;
    }
    if (text.rfind("hex", 0) == 0) {
        size_t colon = text.find(':');
        if (colon == std::string::npos) {
            return std::nullopt;
        }
        const std::string kind = text.substr(3, colon - 3);
        uint32_t type = static_cast<uint32_t>(RegistryType::Binary);
        if (!kind.empty()) {
            if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')' || kind.size() > 10) {
                return std::nullopt;
            }
            type = 0;
            for (size_t i = 1; i + 1 < kind.size(); ++i) {
                const int digit = HexDigit(kind[i]);
                if (digit < 0) {
                    return std::nullopt;
                }
                type = type * 16 + static_cast<uint32_t>(digit);
            }
        }
        auto bytes = ParseHexBytes(text.substr(colon + 1));
        if (!bytes) {
            return std::nullopt;
        }
        value.type = static_cast<RegistryType>(type);
        value.data = std::move(*bytes);
        return value;
    }
    return std::nullopt;
}

std::string Escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    return out;
}

// A string value can be written in the quoted form when it is well-formed UTF-16 ending in its one
// null and holds no line breaks or other control characters; otherwise it goes out as hex(1).
std::optional<std::string> QuotedForm(const RegistryValue& value) {
    const auto& data = value.data;
    if (data.size() < 2 || data.size() % 2 != 0 || data[data.size() - 1] != 0 || data[data.size() - 2] != 0) {
        return std::nullopt;
    }
    std::u16string wide;
    for (size_t i = 0; i + 2 < data.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit < 0x20) {
            return std::nullopt;
        }
        wide.push_back(unit);
    }
    const std::string utf8 = Utf16ToUtf8(wide);
    if (Utf8ToUtf16(utf8) != wide) {
        return std::nullopt; // lone surrogates would not survive the round trip
    }
    return utf8;
}

std::string DecodeFileText(const std::string& raw) {
    if (raw.size() >= 2 && static_cast<uint8_t>(raw[0]) == 0xFF && static_cast<uint8_t>(raw[1]) == 0xFE) {
        std::u16string wide;
        for (size_t i = 2; i + 1 < raw.size(); i += 2) {
            wide.push_back(static_cast<char16_t>(static_cast<uint8_t>(raw[i]) |
                                                 (static_cast<uint8_t>(raw[i + 1]) << 8)));
        }
        return Utf16ToUtf8(wide);
    }
    if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        return raw.substr(3);
    }
    return raw;
}

} // namespace

SettingsRegistry::SettingsRegistry(std::filesystem::path file) : file(std::move(file)) {}

std::filesystem::path SettingsRegistry::DefaultPath() {
    std::filesystem::path base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
        base = config;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        base = std::filesystem::path(home) / ".config";
    } else {
        base = "/tmp";
    }
    return base / "skimora" / "settings.reg";
}

bool SettingsRegistry::Load() {
    values.clear();
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error || size > kMaxFileBytes) {
        return false;
    }
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        return false;
    }
    std::ostringstream contents;
    contents << stream.rdbuf();
    Parse(contents.str());
    return true;
}

void SettingsRegistry::Parse(const std::string& raw) {
    values.clear();
    const std::string text = DecodeFileText(raw);
    std::istringstream lines(text);
    std::string line;
    bool inKey = false;
    std::string pending;
    while (std::getline(lines, line)) {
        line = Trim(line);
        // hex values may continue over several lines, each but the last ending in a backslash.
        if (!pending.empty()) {
            line = pending + line;
            pending.clear();
        }
        if (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos) {
            line.pop_back();
            pending = line;
            continue;
        }
        if (line.empty() || line[0] == ';') {
            continue;
        }
        if (line[0] == '[') {
            inKey = line.size() >= 2 && line.back() == ']' &&
                    EqualsIgnoreCase(line.substr(1, line.size() - 2), kKeyName);
            continue;
        }
        if (!inKey || line[0] != '"') {
            continue;
        }
        size_t position = 0;
        const auto name = ReadQuoted(line, position);
        if (!name || position >= line.size() || line[position] != '=') {
            continue;
        }
        if (auto value = ParseValue(Trim(line.substr(position + 1)))) {
            values[*name] = std::move(*value);
        }
    }
}

std::optional<RegistryValue> SettingsRegistry::Query(const std::string& name) const {
    const auto found = values.find(name);
    if (found == values.end()) {
        return std::nullopt;
    }
    return found->second;
}

void SettingsRegistry::Set(const std::string& name, RegistryValue value) { values[name] = std::move(value); }

void SettingsRegistry::SetDword(const std::string& name, uint32_t number) {
    Set(name, RegistryValue{RegistryType::Dword,
                            {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                             static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)}});
}

void SettingsRegistry::SetString(const std::string& name, const std::string& utf8Text) {
    Set(name, RegistryValue{RegistryType::String, Utf16Bytes(utf8Text, true)});
}

std::string SettingsRegistry::Serialize() const {
    std::string out = std::string(kHeader) + "\n\n[" + kKeyName + "]\n";
    char buffer[16];
    for (const auto& [name, value] : values) {
        out += '"';
        out += Escape(name);
        out += "\"=";
        const std::optional<std::string> quoted =
            value.type == RegistryType::String ? QuotedForm(value) : std::nullopt;
        if (value.type == RegistryType::Dword && value.data.size() == 4) {
            const uint32_t number = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                                    (static_cast<uint32_t>(value.data[3]) << 24);
            std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
            out += buffer;
        } else if (quoted) {
            out += '"';
            out += Escape(*quoted);
            out += '"';
        } else {
            if (value.type == RegistryType::Binary) {
                out += "hex:";
            } else {
                std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(value.type));
                out += buffer;
            }
            for (size_t i = 0; i < value.data.size(); ++i) {
                std::snprintf(buffer, sizeof buffer, i == 0 ? "%02x" : ",%02x", value.data[i]);
                out += buffer;
            }
        }
        out += "\n";
    }
    return out;
}

bool SettingsRegistry::Save() const {
    std::error_code error;
    const std::filesystem::path folder = file.parent_path();
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, error);
        if (error) {
            return false;
        }
    }
    const std::string text = Serialize();
    const std::filesystem::path temporary =
        file.string() + ".tmp-" + std::to_string(static_cast<long>(::getpid()));
    const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        return false;
    }
    bool ok = true;
    size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t wrote = ::write(descriptor, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        ok = wrote > 0;
        if (ok) {
            done += static_cast<size_t>(wrote);
        }
    }
    ok = ok && ::fsync(descriptor) == 0;
    ok = (::close(descriptor) == 0) && ok;
    if (ok) {
        ok = ::rename(temporary.c_str(), file.c_str()) == 0;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    if (!folder.empty()) {
        const int folderDescriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folderDescriptor >= 0) {
            ::fsync(folderDescriptor);
            ::close(folderDescriptor);
        }
    }
    return true;
}

} // namespace platform
