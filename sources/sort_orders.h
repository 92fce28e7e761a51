#pragma once

#include "sources/source_list.h"

#include <cstdint>
#include <string_view>
#include <vector>

// The four orders of the source list, chosen by SortMode.
namespace sources {

enum SortOrder : uint32_t {
    kSortByName = 0,        // name tree: files before sub-folders, names by UTF-16 code units
    kSortNatural = 1,       // NaturalCompare on the file names
    kSortByNameReverse = 2, // the exact reverse of kSortByName
    kSortByDate = 3,        // last modification time, oldest first
};

inline constexpr uint32_t kSortModeCount = 4;

// The message shown when the user picks an order.
std::string_view SortModeMessage(uint32_t mode);

// Compares two names by their UTF-16 code units (not by UTF-8 bytes, which differ for characters
// beyond U+FFFF against U+E000..U+FFFF). Returns <0, 0 or >0.
int CompareUtf16(std::string_view a, std::string_view b);

// True when the file name of `a` orders before that of `b`: digit runs compare by value (any length,
// leading zeros ignored), other characters case-insensitively; when one name runs out, the shorter
// name (in UTF-16 code units) comes first.
bool NaturalCompare(std::string_view a, std::string_view b);

// Reorders `items` by `mode`. The name orders drop exact duplicates. A list of PDF pages keeps its page
// order whatever the mode.
void SortItemPaths(std::vector<ItemPath>& items, uint32_t mode);

// Sorts the process-wide list by SortMode. The items are reordered outside the list lock (the date
// order reads the disk) and installed in one step, so no reader sees a half-sorted list. UI thread.
void SortSourceList();

// The user's sort command: the current image stays current at its new index, the index-keyed caches
// are emptied, the prefetch restarts and the order's message is shown. Modes outside 0..3 are ignored.
void SortCommand(uint32_t mode);

} // namespace sources
