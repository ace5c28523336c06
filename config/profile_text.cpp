// The rules this reader follows (those of the Windows profile-file reader):
// - CR LF, LF and CR each end a line; a UTF-8 byte-order mark at the start is skipped.
// - A line whose first non-blank character is ';' is a comment; '#' is not special, and a
//   ';' inside a value belongs to the value (no inline comments).
// - A line whose first non-blank character is '[' starts a section; its name runs to the ']'
//   (or to the line's end when there is none), blanks around it trimmed; text after the ']'
//   is ignored. Keys before the first section belong to no section and are never found.
// - A key line is "name = value"; blanks (space, tab) around the name, the '=' and at both
//   ends of the value are trimmed, blanks inside the value kept. A line without '=' is no key.
// - Section and key names are compared without regard to ASCII case; values keep theirs.
// - Only the first section of the wanted name is searched; in it the first key wins.
// - When the trimmed value starts and ends with the same quote (" or '), that one pair is
//   removed. Texts are cut to 255 characters.
// Where Wine's profile reader was seen to differ, this reader keeps its rule. Wine is not the
// Windows reader: the missing "]" follows what is documented for Windows, and the others are
// choices for inputs that no settings file needs.
// - "[Forward" without its "]": Wine starts no section there.
// - "0X1f": Wine reads hexadecimal only after a lower-case "0x"; "0b101" and "0o17" give 5 and
//   15 there, 0 here.
// - A file starting with a UTF-8 byte-order mark: Wine converts the values to code page
//   1252; here the bytes are kept.
#include "config/profile_text.hpp"

#include "forwarding/text_search.hpp"

#include <cstdint>

namespace config {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && findNoCase(a, b) == 0;
}

// Splits off the next line; CR LF, LF and CR each end one.
std::string_view takeLine(std::string_view& text) {
    std::size_t end = text.find_first_of("\r\n");
    std::string_view line = text.substr(0, end);
    if (end == std::string_view::npos) {
        text = {};
        return line;
    }
    std::size_t next = end + 1;
    if (text[end] == '\r' && next < text.size() && text[next] == '\n') {
        ++next;
    }
    text.remove_prefix(next);
    return line;
}

std::string_view sectionName(std::string_view header) {
    header.remove_prefix(1); // the '['
    return trimBlanks(header.substr(0, header.find(']')));
}

std::string_view withoutOuterQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

std::string cutToLimit(std::string_view text) {
    return std::string(text.substr(0, profileTextLimit));
}

} // namespace

std::optional<std::string> findProfileValue(std::string_view iniText, std::string_view section,
                                            std::string_view key) {
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    if (iniText.starts_with(byteOrderMark)) {
        iniText.remove_prefix(byteOrderMark.size());
    }
    bool inSection = false;
    while (!iniText.empty()) {
        std::string_view line = trimBlanks(takeLine(iniText));
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            if (inSection) {
                return std::nullopt; // only the first section of that name counts
            }
            inSection = equalNoCase(sectionName(line), section);
            continue;
        }
        std::size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos) {
            continue;
        }
        if (equalNoCase(trimBlanks(line.substr(0, equals)), key)) {
            return std::string(withoutOuterQuotes(trimBlanks(line.substr(equals + 1))));
        }
    }
    return std::nullopt;
}

std::string profileStringValue(std::string_view iniText, std::string_view section,
                               std::string_view key, std::string_view defaultText) {
    std::optional<std::string> value = findProfileValue(iniText, section, key);
    return cutToLimit(value ? std::string_view(*value) : defaultText);
}

unsigned int profileIntValue(std::string_view iniText, std::string_view section,
                             std::string_view key, int defaultValue) {
    std::optional<std::string> value = findProfileValue(iniText, section, key);
    if (!value || value->empty()) {
        return static_cast<unsigned int>(defaultValue);
    }
    return integerFromProfileText(*value);
}

unsigned int integerFromProfileText(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    unsigned int base = 10;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint32_t value = 0; // unsigned arithmetic wraps modulo 2^32
    for (char c : text) {
        unsigned int digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned int>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned int>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned int>(c - 'A' + 10);
        } else {
            break;
        }
        value = value * base + digit;
    }
    return negative ? 0u - value : value;
}

} // namespace config
