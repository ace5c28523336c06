#include "config/profile_text.hpp"
#include "profile_cases.hpp"

#include <gtest/gtest.h>

TEST(ProfileText, StringCases) {
    for (const ProfileCase& c : profileStringCases) {
        std::string expected = c.expected ? c.expected : profileDefaultText;
        EXPECT_EQ(config::profileStringValue(c.iniText, "Forward", c.key, profileDefaultText),
                  expected)
            << "case at profile_cases.hpp:" << c.line
            << " ini: " << testing::PrintToString(c.iniText);
    }
}

TEST(ProfileText, IntegerCases) {
    for (const ProfileIntCase& c : profileIntCases) {
        EXPECT_EQ(config::profileIntValue(c.iniText, "Forward", c.key, c.defaultValue), c.expected)
            << "case at profile_cases.hpp:" << c.line
            << " ini: " << testing::PrintToString(c.iniText);
    }
}
