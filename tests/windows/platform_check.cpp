// Checks the Windows platform layer (platform/win32.cpp) against the system it runs on: the
// behaviour the gateway relies on that the end-to-end suite does not pin down byte for byte
// (empty variables, log line ends, cut profile texts, error numbers, byte order, waits).
// Prints every failed check and a closing count; exits with 1 when any fails.
#include "platform/platform.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const char* what, const std::string& detail = {}) {
    if (ok) {
        ++passed;
        return;
    }
    ++failed;
    std::printf("FAILED %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
}

std::string quoted(const std::optional<std::string>& text) {
    return text ? "\"" + *text + "\"" : "nothing";
}

// Line ends made visible, for a failure's detail.
std::string visible(const std::string& bytes) {
    std::string out;
    for (const char c : bytes) {
        out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : std::string(1, c);
    }
    return out;
}

std::string workFolder() {
    char temp[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof temp, temp);
    std::string folder = std::string(temp, length) + "zorerivi-platform-check-" +
                         std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

std::string fileBytes(const std::string& path) {
    std::string bytes;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        std::size_t count;
        while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            bytes.append(buffer, count);
        }
        std::fclose(file);
    }
    return bytes;
}

void writeFile(const std::string& path, const std::string& bytes) {
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
}

void checkEnvironment() {
    const std::string longValue(5000, 'v');
    SetEnvironmentVariableA("ZORERIVI_CHECK_EMPTY", "");
    SetEnvironmentVariableA("ZORERIVI_CHECK_LONG", longValue.c_str());
    SetEnvironmentVariableA("ZORERIVI_CHECK_ABSENT", nullptr);
    const struct {
        const char* name;
        std::optional<std::string> expected;
    } cases[] = {
        {"ZORERIVI_CHECK_EMPTY", std::string()},
        {"ZORERIVI_CHECK_LONG", longValue},
        {"ZORERIVI_CHECK_ABSENT", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto actual = platform::environmentVariable(c.name);
        check(actual == c.expected, c.name,
              "got " + quoted(actual).substr(0, 40) + ", expected " +
                  quoted(c.expected).substr(0, 40));
    }
}

void checkOwnFile() {
    const std::string path = platform::modulePath();
    const std::string name = "\\platform_check.exe";
    check(path.size() > name.size() && path.ends_with(name) &&
              (path[1] == ':' || path.starts_with("\\\\")),
          "modulePath is the full path of the executable", path);
    // The check is linked with the gateway's version resource.
    check(platform::fileVersionText(path) == ZORERIVI_VERSION, "fileVersionText of itself",
          platform::fileVersionText(path));
    check(platform::fileVersionText(path + ".missing").empty(),
          "fileVersionText of a missing file is empty");
}

void checkProfile(const std::string& folder) {
    const std::string path = folder + "settings.ini";
    const std::string missing = folder + "missing.ini";
    const std::string longText(300, 'x');
    writeFile(path, "[Forward]\r\nLong=" + longText + "\r\nPort=65616\r\n");
    const struct {
        const char* what;
        std::string actual;
        std::string expected;
    } strings[] = {
        {"a long value is cut to 255", platform::profileString("Forward", "Long", "d", path),
         longText.substr(0, 255)},
        {"a long default is cut to 255",
         platform::profileString("Forward", "None", longText.c_str(), path),
         longText.substr(0, 255)},
        {"a missing file gives the default",
         platform::profileString("Forward", "Long", "d", missing), "d"},
    };
    for (const auto& c : strings) {
        check(c.actual == c.expected, c.what,
              c.actual.substr(0, 20) + "... (" + std::to_string(c.actual.size()) + ")");
    }
    const struct {
        const char* what;
        unsigned int actual;
        unsigned int expected;
    } integers[] = {
        {"an integer above 16 bits is whole", platform::profileInt("Forward", "Port", 8080, path),
         65616u},
        {"a missing file gives the default", platform::profileInt("Forward", "Port", 8080, missing),
         8080u},
        {"a negative default comes back as its bits",
         platform::profileInt("Forward", "None", -1, path), 0xFFFFFFFFu},
    };
    for (const auto& c : integers) {
        check(c.actual == c.expected, c.what, std::to_string(c.actual));
    }
    DeleteFileA(path.c_str());
}

void checkAppendFile(const std::string& folder) {
    const std::string path = folder + "log.txt";
    writeFile(path, "old\r\n");
    {
        // Two writers at once, as two requests would be: both append at the end.
        const auto first = platform::AppendFile::open(path);
        const auto second = platform::AppendFile::open(path);
        check(first && second, "the log opens twice at the same time");
        if (first && second) {
            first->append("a\n\tb\n");
            second->append("c\n");
            first->append("");
            first->append("d");
        }
    }
    const std::string bytes = fileBytes(path);
    check(bytes == "old\r\na\r\n\tb\r\nc\r\nd", "appends end in CR LF, at the end of the file",
          visible(bytes));
    check(platform::AppendFile::open(folder + "no such folder\\log.txt") == nullptr,
          "a log in a missing folder does not open");
    DeleteFileA(path.c_str());
}

// Day of the week of a Gregorian date, 0 = Sunday (Sakamoto's method).
int weekdayOf(int year, int month /* 1..12 */, int day) {
    static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3) {
        year -= 1;
    }
    return (year + year / 4 - year / 100 + year / 400 + offsets[month - 1] + day) % 7;
}

void checkClocks() {
    const auto now = platform::utcNow();
    check(now.has_value(), "utcNow gives a time");
    if (now) {
        const bool inRange = now->month >= 0 && now->month <= 11 && now->day >= 1 &&
                             now->day <= 31 && now->hour <= 23 && now->minute <= 59 &&
                             now->second <= 60 && now->year >= 2000;
        check(inRange && now->weekday == weekdayOf(now->year, now->month + 1, now->day),
              "utcNow fields (month from 0, weekday from Sunday)",
              std::to_string(now->year) + "-" + std::to_string(now->month) + "-" +
                  std::to_string(now->day) + " weekday " + std::to_string(now->weekday));
    }
    const std::int64_t before = platform::monotonicMilliseconds();
    Sleep(30);
    const std::int64_t elapsed = platform::monotonicMilliseconds() - before;
    check(elapsed >= 15 && elapsed < 2000, "the monotonic clock counts milliseconds",
          std::to_string(elapsed));
}

// A loopback listener made with plain Winsock, the other end of the gateway's socket.
SOCKET listenOnLoopback(std::uint16_t& port) {
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        closesocket(listener);
        return INVALID_SOCKET;
    }
    port = ntohs(address.sin_port);
    return listener;
}

void checkSockets() {
    check(platform::wouldBlockError == 10035, "would-block is 10035");
    check(platform::resolveHostAddress("localhost") == 0x7F000001u,
          "localhost resolves to 127.0.0.1 in host byte order");

    std::uint16_t port = 0;
    const SOCKET listener = listenOnLoopback(port);
    check(listener != INVALID_SOCKET, "a loopback listener");
    if (listener == INVALID_SOCKET) {
        return;
    }
    const platform::SocketHandle client = platform::openStreamSocket();
    check(client != platform::invalidSocket, "openStreamSocket");
    check(platform::connectSocket(client, 0x7F000001u, port), "connectSocket to the listener");
    const SOCKET peer = accept(listener, nullptr, nullptr);
    check(platform::sendAll(client, "ping") == 4, "sendAll");
    char received[16] = {};
    check(recv(peer, received, sizeof received, 0) == 4 && std::string(received) == "ping",
          "the peer receives what was sent");

    char buffer[16];
    check(platform::setNonBlocking(client, true), "setNonBlocking");
    const int empty = platform::receiveSome(client, buffer);
    const int error = platform::lastSocketError();
    check(empty == -1 && error == 10035, "an empty non-blocking receive fails with 10035",
          std::to_string(empty) + ", error " + std::to_string(error));

    const std::int64_t waitStart = platform::monotonicMilliseconds();
    const platform::WaitResult quiet = platform::waitReadable(client, 100);
    const std::int64_t waited = platform::monotonicMilliseconds() - waitStart;
    check(quiet == platform::WaitResult::TimedOut && waited >= 80 && waited < 2000,
          "waitReadable times out after the milliseconds given", std::to_string(waited));

    send(peer, "pong", 4, 0);
    check(platform::waitReadable(client, 5000) == platform::WaitResult::Readable,
          "waitReadable sees data");
    check(platform::receiveSome(client, buffer) == 4 && std::string(buffer, 4) == "pong",
          "receiveSome delivers it");
    closesocket(peer);
    check(platform::waitReadable(client, 5000) == platform::WaitResult::Readable,
          "waitReadable sees the close");
    check(platform::receiveSome(client, buffer) == 0, "receiveSome gives 0 at the close");
    platform::closeSocket(client);

    // Nothing listens any more on the port: the connect is refused.
    closesocket(listener);
    const platform::SocketHandle refused = platform::openStreamSocket();
    const bool connected = platform::connectSocket(refused, 0x7F000001u, port);
    const int refusal = platform::lastSocketError();
    check(!connected && refusal == 10061, "a refused connect fails with 10061",
          std::to_string(refusal));
    platform::closeSocket(refused);
}

} // namespace

int main() {
    platform::startProcess();
    const std::string folder = workFolder();
    checkEnvironment();
    checkOwnFile();
    checkProfile(folder);
    checkAppendFile(folder);
    checkClocks();
    checkSockets();
    RemoveDirectoryA(folder.c_str());
    platform::stopProcess();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
