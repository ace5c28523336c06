#include "config/log.hpp"
#include "fake_request_handler.hpp"
#include "scripted_backend.hpp"
#include "temp_folder.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>

namespace {

using Variables = std::map<std::string, std::string>;

const std::string banner = "------------------------ LOG ------------------------\n";

// One request handled with the settings file and the log beside a (pretend) executable.
std::string handleWithLog(const TempFolder& folder, const std::string& ini,
                          const Variables& variables) {
    folder.write("nph-zorerivi.ini", "[Forward]\n" + ini);
    ForwardSettings settings;
    loadSettings(folder.file("nph-zorerivi"), settings);
    FakeRequestHandler handler(&settings, variables);
    handler.handleRequest("6.8");
    return handler.output;
}

// The log with each banner's time line checked and replaced by "<time>".
std::string logWithTimesMasked(const TempFolder& folder) {
    static const std::regex timeLine(
        "\n(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
        "[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\n");
    return std::regex_replace(folder.read("nph-zorerivi.txt"), timeLine, "\n<time>\n");
}

std::string port(unsigned short number) {
    return "TargetPort=" + std::to_string(number) + "\n";
}

const Variables get = {{"REQUEST_METHOD", "GET"}, {"PATH_INFO", "/x"}};

} // namespace

TEST(Log, TracesOfRequests) {
    const std::string reply = "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n";
    ScriptedBackend forwarded({sendBytes(reply)});
    ScriptedBackend silent({}, 5000);
    struct Case {
        int line;
        std::string ini;
        Variables variables;
        std::string trace;
    } cases[] = {
        {__LINE__, port(forwarded.port()), get,
         "\tConnected\n\tData sent\nReply sent back to browser\n"},
        {__LINE__, "Forbidden=/x\n", get, ""},
        {__LINE__, port(closedPort()), {{"PATH_INFO", "/x"}}, ""},
        {__LINE__, port(closedPort()), get, "Connection error: 111\n"},
        {__LINE__, port(silent.port()) + "Timeout=1\n", get,
         "\tConnected\n\tData sent\n\tTimeout\n"},
        {__LINE__,
         port(closedPort()),
         {{"PATH_INFO", "/~~target"}},
         "Connection error: 111\nReply sent back to browser\n"},
        {__LINE__, "", {{"PATH_INFO", "/~~info"}}, ""},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        handleWithLog(folder, "Log=1\n" + c.ini, c.variables);
        EXPECT_EQ(logWithTimesMasked(folder), banner + "<time>\n" + c.trace)
            << "case at line " << c.line;
    }
}

TEST(Log, TwoRequestsAppendTwoTraces) {
    TempFolder folder;
    handleWithLog(folder, "Log=1\nForbidden=/x\n", get);
    handleWithLog(folder, "Log=1\nForbidden=/x\n", get);
    EXPECT_EQ(logWithTimesMasked(folder), banner + "<time>\n" + banner + "<time>\n");
}

TEST(Log, OffLeavesNoFile) {
    for (const char* ini : {"Log=0\n", "Log=256\n", ""}) {
        TempFolder folder;
        handleWithLog(folder, std::string(ini) + "Forbidden=/x\n", get);
        EXPECT_FALSE(folder.exists("nph-zorerivi.txt")) << ini;
    }
}

TEST(Log, UnopenableLogStillServesTheRequest) {
    TempFolder folder;
    std::filesystem::create_directory(
        folder.file("nph-zorerivi.txt")); // cannot be opened as a file
    EXPECT_TRUE(handleWithLog(folder, "Log=1\nForbidden=/x\n", get)
                    .starts_with("HTTP/1.0 403 Forbidden\r\n"));
}

TEST(Log, TimeLine) {
    EXPECT_EQ(formatLogTime(platform::CalendarTime{2, 2, 5, 9, 7, 3, 2024}),
              "Tue Mar 05 09:07:03 2024");
    EXPECT_EQ(formatLogTime(std::nullopt), "");
}
