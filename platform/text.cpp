#include "platform/text.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

namespace platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

locale_t Utf8CType() {
    static const locale_t locale = [] {
        locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return made;
    }();
    return locale;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

char32_t DecodeUtf8(std::string_view text, size_t& position) {
    const auto byteAt = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byteAt(position);
    if (lead < 0x80) {
        ++position;
        return lead;
    }
    int length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        ++position;
        return kReplacement;
    }
    if (position + length > text.size()) {
        ++position;
        return kReplacement;
    }
    for (int i = 1; i < length; ++i) {
        const unsigned char next = byteAt(position + i);
        if ((next & 0xC0) != 0x80) {
            ++position;
            return kReplacement;
        }
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++position;
        return kReplacement;
    }
    position += length;
    return value;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        c = kReplacement;
    }
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t position = 0;
    while (position < text.size()) {
        const char32_t c = DecodeUtf8(text, position);
        if (c >= 0x10000) {
            const char32_t v = c - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

char32_t ToLowerChar(char32_t c) {
    if (c < 0x80) {
        return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    }
    if (const locale_t locale = Utf8CType()) {
        return static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), locale));
    }
    return c;
}

std::string ToLowerText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t position = 0;
    while (position < text.size()) {
        const unsigned char byte = static_cast<unsigned char>(text[position]);
        if (byte < 0x80) {
            out.push_back(static_cast<char>(ToLowerChar(byte)));
            ++position;
            continue;
        }
        const size_t start = position;
        const char32_t c = DecodeUtf8(text, position);
        if (c == kReplacement && position == start + 1) {
            // Keep undecodable bytes as they are so that a lower-cased name still names the same file.
            out.push_back(text[start]);
            continue;
        }
        AppendUtf8(out, ToLowerChar(c));
    }
    return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return ToLowerText(a) == ToLowerText(b);
}

int CompareDigitRuns(std::string_view a, size_t& i, std::string_view b, size_t& j) {
    const auto runEnd = [](std::string_view text, size_t at) {
        while (at < text.size() && IsDigit(text[at])) {
            ++at;
        }
        return at;
    };
    const auto firstSignificant = [](std::string_view text, size_t at, size_t end) {
        while (at < end && text[at] == '0') {
            ++at;
        }
        return at;
    };
    const size_t endA = runEnd(a, i);
    const size_t endB = runEnd(b, j);
    const size_t startA = firstSignificant(a, i, endA);
    const size_t startB = firstSignificant(b, j, endB);
    i = endA;
    j = endB;
    const size_t lengthA = endA - startA;
    const size_t lengthB = endB - startB;
    if (lengthA != lengthB) {
        return lengthA < lengthB ? -1 : 1;
    }
    const int order = a.substr(startA, lengthA).compare(b.substr(startB, lengthB));
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

int LogicalCompare(std::string_view a, std::string_view b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            const size_t startA = i;
            const size_t startB = j;
            if (const int order = CompareDigitRuns(a, i, b, j); order != 0) {
                return order;
            }
            // Equal values: more leading zeros sort first ("01" before "1") to keep the order total.
            if ((i - startA) != (j - startB)) {
                return (i - startA) > (j - startB) ? -1 : 1;
            }
            continue;
        }
        const char32_t ca = ToLowerChar(DecodeUtf8(a, i));
        const char32_t cb = ToLowerChar(DecodeUtf8(b, j));
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    if (i < a.size()) {
        return 1;
    }
    if (j < b.size()) {
        return -1;
    }
    return 0;
}

} // namespace platform
