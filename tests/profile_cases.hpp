// The settings-file reading rules as a table of cases, shared by the Linux reader's unit
// test and the check of the Windows profile API. Section "Forward" throughout; a null
// `expected` means the default text "<default>" is given. `wineGives` records what Wine's
// profile reader gives instead, where it departs from the documented rule.
#pragma once

struct ProfileCase {
    int line;
    const char* iniText;
    const char* key;
    const char* expected;
    const char* wineGives = nullptr;
};

struct ProfileIntCase {
    int line;
    const char* iniText;
    const char* key;
    int defaultValue;
    unsigned int expected;
};

inline constexpr const char* profileDefaultText = "<default>";

#define PROFILE_CASE(...)                                                                          \
    { __LINE__, __VA_ARGS__ }

inline const ProfileCase profileStringCases[] = {
    PROFILE_CASE("[Forward]\r\nTargetServer=backend\r\n", "TargetServer", "backend"),
    PROFILE_CASE("[Forward]\nTargetServer=backend\n", "TargetServer", "backend"),
    PROFILE_CASE("[Forward]\rTargetServer=backend\r", "TargetServer", "backend"),
    PROFILE_CASE("[forward]\nTARGETSERVER=BackEnd\n", "TargetServer", "BackEnd"),
    PROFILE_CASE("[ Forward ]\n  Allowed  =  /a, /b  \n", "Allowed", "/a, /b"),
    PROFILE_CASE("[Forward]\n\tAllowed\t=\t/a\t\n", "Allowed", "/a"),
    PROFILE_CASE("[Forward]\nAllowed=\"  x  \"\n", "Allowed", "  x  "),
    PROFILE_CASE("[Forward]\nAllowed='/a'\n", "Allowed", "/a"),
    PROFILE_CASE("[Forward]\nAllowed=\"/a'\n", "Allowed", "\"/a'"),
    PROFILE_CASE("[Forward]\nAllowed=\"/a\n", "Allowed", "\"/a"),
    PROFILE_CASE("[Forward]\n;Allowed=/a\n", "Allowed", nullptr),
    PROFILE_CASE("[Forward]\n  ; Allowed=/a\nAllowed=/b\n", "Allowed", "/b"),
    PROFILE_CASE("[Forward]\nAllowed=/a;/b\n", "Allowed", "/a;/b"),
    PROFILE_CASE("[Forward]\n#Allowed=/a\n", "#Allowed", "/a"),
    PROFILE_CASE("[Forward]\n#Allowed=/a\n", "Allowed", nullptr),
    PROFILE_CASE("[Forward] Allowed=/a\n", "Allowed", nullptr),
    PROFILE_CASE("[Forward\nAllowed=/a\n", "Allowed", "/a", "<default>"),
    PROFILE_CASE("Allowed=/a\n[Forward]\n", "Allowed", nullptr),
    PROFILE_CASE("[Forward]\nAllowed=/a\n[Other]\nAllowed=/b\n", "Allowed", "/a"),
    PROFILE_CASE("[Other]\nAllowed=/b\n[Forward]\nAllowed=/a\n", "Allowed", "/a"),
    PROFILE_CASE("[Forward]\nLog=1\n[Forward]\nAllowed=/a\n", "Allowed", nullptr),
    PROFILE_CASE("[Forward]\nAllowed=/a\nAllowed=/b\n", "Allowed", "/a"),
    PROFILE_CASE("[Forward]\nAllowed=\n", "Allowed", ""),
    PROFILE_CASE("[Forward]\nAllowed\n", "Allowed", nullptr),
    PROFILE_CASE("\xEF\xBB\xBF[Forward]\nAllowed=/a\n", "Allowed", "/a"),
    PROFILE_CASE("", "Allowed", nullptr),
    PROFILE_CASE("[Forward]\nAllowed=a=b\n", "Allowed", "a=b"),
    // Cut to 255 characters.
    PROFILE_CASE("[Forward]\nAllowed="
                 "/123456789012345678901234567890123456789012345678901234567890123456789"
                 "0123456789012345678901234567890123456789012345678901234567890123456789"
                 "0123456789012345678901234567890123456789012345678901234567890123456789"
                 "012345678901234567890123456789012345678901234"
                 "XYZ\n",
                 "Allowed",
                 "/123456789012345678901234567890123456789012345678901234567890123456789"
                 "0123456789012345678901234567890123456789012345678901234567890123456789"
                 "0123456789012345678901234567890123456789012345678901234567890123456789"
                 "012345678901234567890123456789012345678901234"),
};

inline const ProfileIntCase profileIntCases[] = {
    PROFILE_CASE("[Forward]\nTargetPort=80\n", "TargetPort", 8080, 80u),
    PROFILE_CASE("[Forward]\n", "TargetPort", 8080, 8080u),
    PROFILE_CASE("[Forward]\nTimeout=30s\n", "Timeout", 300, 30u),
    PROFILE_CASE("[Forward]\nTimeout=abc\n", "Timeout", 300, 0u),
    PROFILE_CASE("[Forward]\nTimeout=+7\n", "Timeout", 300, 7u),
    PROFILE_CASE("[Forward]\nTimeout=-1\n", "Timeout", 300, 0xFFFFFFFFu),
    PROFILE_CASE("[Forward]\nTimeout=4294967297\n", "Timeout", 300, 1u),
    PROFILE_CASE("[Forward]\nTargetPort=0x50\n", "TargetPort", 8080, 80u),
    PROFILE_CASE("[Forward]\nTargetPort=65616\n", "TargetPort", 8080, 65616u),
    PROFILE_CASE("[Forward]\nLog=\n", "Log", 0, 0u),
    PROFILE_CASE("[Forward]\nLog=  1  \n", "Log", 0, 1u),
    PROFILE_CASE("[Forward]\nLog=\"1\"\n", "Log", 0, 1u),
};

#undef PROFILE_CASE
