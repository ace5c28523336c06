#include "config/settings.hpp"
#include "temp_folder.hpp"

#include <gtest/gtest.h>

TEST(SettingsPaths, ExtensionOfTheFileNameOnly) {
    struct Case {
        const char* modulePath;
        const char* settingsPath;
        const char* logPath;
    } cases[] = {
        {"/srv/cgi-bin/nph-zorerivi", "/srv/cgi-bin/nph-zorerivi.ini",
         "/srv/cgi-bin/nph-zorerivi.txt"},
        {"/srv/site.example/cgi-bin/nph-zorerivi", "/srv/site.example/cgi-bin/nph-zorerivi.ini",
         "/srv/site.example/cgi-bin/nph-zorerivi.txt"},
        {"C:\\web\\cgi\\nph-zorerivi.exe", "C:\\web\\cgi\\nph-zorerivi.ini",
         "C:\\web\\cgi\\nph-zorerivi.txt"},
        {"C:\\web.site\\nph-zorerivi", "C:\\web.site\\nph-zorerivi.ini",
         "C:\\web.site\\nph-zorerivi.txt"},
        {"/x/nph.zorerivi.cgi", "/x/nph.zorerivi.ini", "/x/nph.zorerivi.txt"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(settingsPathFor(c.modulePath), c.settingsPath) << c.modulePath;
        EXPECT_EQ(logPathFor(c.modulePath), c.logPath) << c.modulePath;
    }
}

namespace {

ForwardSettings settingsFrom(const TempFolder& folder, const char* iniText) {
    if (iniText != nullptr) {
        folder.write("nph-zorerivi.ini", iniText);
    }
    ForwardSettings settings;
    settings.targetPort = 1; // loadSettings must start from the defaults
    loadSettings(folder.file("nph-zorerivi"), settings);
    return settings;
}

} // namespace

TEST(LoadSettings, NoFileGivesTheDefaults) {
    TempFolder folder;
    ForwardSettings settings = settingsFrom(folder, nullptr);
    EXPECT_EQ(settings.targetHost, "127.0.0.1");
    EXPECT_EQ(settings.targetAddress, loopbackAddress);
    EXPECT_EQ(settings.targetPort, 8080);
    EXPECT_EQ(settings.timeoutSeconds, 300);
    EXPECT_EQ(settings.allowedList, "/");
    EXPECT_EQ(settings.forbiddenList, "");
    EXPECT_EQ(settings.logEnabled, 0);
    EXPECT_EQ(settings.diagnosticsEnabled, 1);
    EXPECT_EQ(settings.logPath, folder.file("nph-zorerivi.txt"));
}

TEST(LoadSettings, TargetAddressAndHostName) {
    struct Case {
        const char* server;
        std::uint32_t address;
        const char* host;
    } cases[] = {
        {"localhost", loopbackAddress, "127.0.0.1"},
        {"LOCALHOST", loopbackAddress, "127.0.0.1"}, // looked up, and the lookup gives loopback
        {"no-such-host.invalid", loopbackAddress, "127.0.0.1"},
        {"10.0.0.5", 0x0A000005, "10.0.0.5"},
        {"0.0.0.0", loopbackAddress, "127.0.0.1"},
        {"127.0.0.1", loopbackAddress, "127.0.0.1"},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        ForwardSettings settings = settingsFrom(
            folder, ("[Forward]\nTargetServer=" + std::string(c.server) + "\n").c_str());
        EXPECT_EQ(settings.targetAddress, c.address) << c.server;
        EXPECT_EQ(settings.targetHost, c.host) << c.server;
    }
}

TEST(LoadSettings, IntegersKeepTheirLowBits) {
    TempFolder folder;
    ForwardSettings settings = settingsFrom(
        folder, "[Forward]\nTargetPort=65616\nTimeout=-1\nLog=256\nDiagnostics=0\nAllowed=\n");
    EXPECT_EQ(settings.targetPort, 80);
    EXPECT_EQ(settings.timeoutSeconds, -1);
    EXPECT_EQ(settings.logEnabled, 0);
    EXPECT_EQ(settings.diagnosticsEnabled, 0);
    EXPECT_EQ(settings.allowedList, "");
}
