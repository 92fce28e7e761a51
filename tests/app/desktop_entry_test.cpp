// The desktop entry claims every file type the viewer opens: each extension of the format registry that
// the shared MIME database knows maps to at least one type of the entry's MimeType list.

#include "decode/format_registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace {

const std::filesystem::path kSourceRoot = SKIMORA_SOURCE_DIR;
constexpr const char* kMimeGlobs = "/usr/share/mime/globs2";

std::set<std::string> ListedTypes(const std::filesystem::path& file, const std::string& key) {
    std::ifstream in(file);
    std::string line;
    std::set<std::string> types;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) == 0) {
            std::istringstream list(line.substr(key.size() + 1));
            for (std::string type; std::getline(list, type, ';');) {
                types.insert(type);
            }
        }
    }
    return types;
}

// "weight:type:*.ext[:flags]" lines; extension -> types.
std::multimap<std::string, std::string> TypesByExtension() {
    std::ifstream in(kMimeGlobs);
    std::multimap<std::string, std::string> types;
    std::string line;
    while (std::getline(in, line)) {
        const size_t first = line.find(':');
        const size_t second = line.find(':', first + 1);
        if (line.empty() || line[0] == '#' || second == std::string::npos ||
            line.compare(second + 1, 2, "*.") != 0) {
            continue;
        }
        std::string extension = line.substr(second + 3, line.find(':', second + 1) - second - 3);
        for (char& c : extension) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        types.emplace(extension, line.substr(first + 1, second - first - 1));
    }
    return types;
}

TEST(DesktopEntry, ClaimsEveryRegisteredExtensionAndFolders) {
    if (!std::filesystem::exists(kMimeGlobs)) {
        GTEST_SKIP() << "no shared MIME database";
    }
    const std::set<std::string> claimed =
        ListedTypes(kSourceRoot / "packaging" / "skimora.desktop", "MimeType");
    const auto known = TypesByExtension();
    int checked = 0;
    for (int family = 0; family < decode::kExtensionFamilyCount; ++family) {
        for (const std::string& extension :
             decode::ExtensionsOf(static_cast<decode::ExtensionFamily>(family))) {
            // ".cap" is a packet capture to the MIME database and a camera raw file to the viewer.
            const auto [begin, end] = known.equal_range(extension);
            if (begin == end || extension == "cap") {
                continue;
            }
            ++checked;
            bool found = false;
            for (auto it = begin; it != end; ++it) {
                found = found || claimed.contains(it->second);
            }
            EXPECT_TRUE(found) << "." << extension << " (" << begin->second << ") is not claimed";
        }
    }
    EXPECT_GT(checked, 50);
    EXPECT_TRUE(claimed.contains("inode/directory"));
    // The thumbnailer only takes types the entry claims.
    for (const std::string& type :
         ListedTypes(kSourceRoot / "packaging" / "skimora.thumbnailer", "MimeType")) {
        EXPECT_TRUE(claimed.contains(type)) << type;
    }
}

} // namespace
