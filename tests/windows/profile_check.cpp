// Runs the settings reader's case table against the real profile API
// (GetPrivateProfileStringA / GetPrivateProfileIntA), so that the table's expectations are
// checked against the reader the gateway imitates on Linux. Prints every case where the two
// differ, with its line in the table, and a closing count; exits with 1 when any differs.
#include "tests/profile_cases.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

const char* const section = "Forward";
const char* const defaultText = "<default>";

// One line per mismatch: control bytes, quotes and bytes above 127 as escapes.
std::string shown(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Each case gets a file of its own name: the profile API keeps recently read files cached
// by name, and a rewrite within the same timestamp could be served from the cache.
class CaseFile {
  public:
    CaseFile(const std::string& directory, const char* group, int index, const char* text)
        : path_(directory + group + "-" + std::to_string(index) + ".ini") {
        std::FILE* file = std::fopen(path_.c_str(), "wb");
        if (file == nullptr) {
            std::printf("cannot write %s\n", path_.c_str());
            return;
        }
        std::fwrite(text, 1, std::strlen(text), file);
        std::fclose(file);
    }
    ~CaseFile() { DeleteFileA(path_.c_str()); }
    CaseFile(const CaseFile&) = delete;
    CaseFile& operator=(const CaseFile&) = delete;
    const char* path() const { return path_.c_str(); }

  private:
    std::string path_;
};

// A private folder under the temporary directory, full path: a bare file name would be
// looked up in the Windows directory.
std::string makeWorkDirectory() {
    char temp[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length > MAX_PATH) {
        return {};
    }
    std::string directory = std::string(temp, length) + "zorerivi-profile-check-" +
                            std::to_string(GetCurrentProcessId()) + "\\";
    if (!CreateDirectoryA(directory.c_str(), nullptr)) {
        return {};
    }
    return directory;
}

} // namespace

int main() {
    const std::string directory = makeWorkDirectory();
    if (directory.empty()) {
        std::printf("cannot create a work folder under the temporary directory\n");
        return 2;
    }
    int passed = 0;
    int failed = 0;

    int index = 0;
    for (const ProfileCase& c : profileStringCases) {
        const CaseFile file(directory, "string", index++, c.iniText);
        char buffer[256];
        const DWORD length = GetPrivateProfileStringA(section, c.key, defaultText, buffer,
                                                      sizeof buffer, file.path());
        const std::string_view actual(buffer, length);
        const std::string_view expected = c.expected != nullptr ? c.expected : defaultText;
        if (actual == expected) {
            ++passed;
            continue;
        }
        if (c.wineGives != nullptr && actual == c.wineGives) {
            ++passed; // a known departure of Wine's reader, documented in the Linux reader
            std::printf(
                "line %d: known difference of this profile reader: got %s, the rule gives %s\n",
                c.line, shown(actual).c_str(), shown(expected).c_str());
            continue;
        }
        ++failed;
        std::printf("line %d: string %s in %s: got %s, expected %s\n", c.line, shown(c.key).c_str(),
                    shown(c.iniText).c_str(), shown(actual).c_str(), shown(expected).c_str());
    }

    index = 0;
    for (const ProfileIntCase& c : profileIntCases) {
        const CaseFile file(directory, "int", index++, c.iniText);
        const UINT actual = GetPrivateProfileIntA(section, c.key, c.defaultValue, file.path());
        if (actual == c.expected) {
            ++passed;
            continue;
        }
        ++failed;
        std::printf("line %d: int %s (default %d) in %s: got %u, expected %u\n", c.line,
                    shown(c.key).c_str(), c.defaultValue, shown(c.iniText).c_str(), actual,
                    c.expected);
    }

    RemoveDirectoryA(directory.c_str());
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
