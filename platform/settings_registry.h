#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Registry value types, numbered as the Windows registry numbers them.
enum class RegistryType : uint32_t {
    None = 0,
    String = 1,       // REG_SZ: UTF-16LE text with its terminating null
    ExpandString = 2, // REG_EXPAND_SZ
    Binary = 3,
    Dword = 4, // 4 bytes, little-endian
    MultiString = 7,
    Qword = 11,
};

struct RegistryValue {
    RegistryType type = RegistryType::None;
    std::vector<uint8_t> data;
};

// One registry key kept in a text file in the Windows .reg syntax:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Skimora]
//   "WindowX"=dword:ffffffff
//   "WelcomeMsg"="..."
//
// Values keep their types, so a value of the wrong type can be told apart from a missing one.
// Reading is forgiving: lines that do not parse are skipped and everything else is kept. Writing
// replaces the file atomically (temporary file, fsync, rename), so a failed or interrupted save
// leaves the previous file as it was.
class SettingsRegistry {
public:
    explicit SettingsRegistry(std::filesystem::path file);

    // $XDG_CONFIG_HOME/skimora/settings.reg, or ~/.config/skimora/settings.reg.
    static std::filesystem::path DefaultPath();

    const std::filesystem::path& Path() const { return file; }

    // Reads the file. False when it does not exist or cannot be read (the key then holds nothing).
    bool Load();
    // Parses .reg text into the value map (the map is cleared first).
    void Parse(const std::string& text);

    std::optional<RegistryValue> Query(const std::string& name) const;
    void Set(const std::string& name, RegistryValue value);

    void SetDword(const std::string& name, uint32_t value);
    void SetString(const std::string& name, const std::string& utf8Text);

    // Renders the key as .reg text.
    std::string Serialize() const;
    // Writes the key; creates the folder when needed. False when anything fails.
    bool Save() const;

private:
    std::filesystem::path file;
    std::map<std::string, RegistryValue> values;
};

} // namespace platform
