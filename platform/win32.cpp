// The platform layer on Windows: Winsock 1.1, the standard handles, the profile-file reader
// and the version resource of the executable itself.
#include "platform/platform.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// winsock2.h must come before windows.h, which would otherwise pull in the old winsock.h.
#include <winsock2.h>

#include <windows.h>
#include <winver.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace platform {

namespace {

// ReadFile, WriteFile, send and recv take 32-bit counts; larger spans go in pieces.
constexpr std::size_t largestTransfer = 1u << 30;

SOCKET toSocket(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

HANDLE toHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool isUsable(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

} // namespace

const int wouldBlockError = WSAEWOULDBLOCK;

void startProcess() {
    // Version 1.1 is all the gateway uses; the result is deliberately ignored: a failure
    // shows up as the first socket call failing, which is logged and answered with a 500.
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
}

void stopProcess() {
    WSACleanup();
}

std::string modulePath() {
    // One byte is kept back from the buffer, so the path holds at most 4094 characters.
    char buffer[4096];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer - 1);
    // A length equal to the size given means the path was cut: no use to anybody.
    if (length == 0 || length >= sizeof buffer - 1) {
        return {};
    }
    return std::string(buffer, length);
}

int readStandardInput(std::span<char> buffer) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (!isUsable(input) || buffer.empty()) {
        return 0;
    }
    // The handle itself, not the C runtime: no buffering, no CR LF translation. The end of a
    // pipe is reported as ERROR_BROKEN_PIPE, which comes out as 0 like any other failure.
    DWORD delivered = 0;
    const DWORD wanted = static_cast<DWORD>(std::min(buffer.size(), largestTransfer));
    if (!ReadFile(input, buffer.data(), wanted, &delivered, nullptr)) {
        return 0;
    }
    return static_cast<int>(delivered);
}

int writeStandardOutput(std::string_view data) {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!isUsable(output)) {
        return 0;
    }
    // A pipe may take less than asked for in one call: keep writing until all is out.
    std::size_t written = 0;
    while (written < data.size() && written < static_cast<std::size_t>(INT_MAX)) {
        const DWORD piece = static_cast<DWORD>(std::min(data.size() - written, largestTransfer));
        DWORD count = 0;
        if (!WriteFile(output, data.data() + written, piece, &count, nullptr) || count == 0) {
            break;
        }
        written += count;
    }
    return static_cast<int>(std::min(written, static_cast<std::size_t>(INT_MAX)));
}

std::optional<std::string> environmentVariable(const char* name) {
    // First call for the size (NUL included); a variable set to the empty text may report
    // 0 like an absent one, so the last error tells the two apart.
    SetLastError(ERROR_SUCCESS);
    DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
            return std::nullopt;
        }
        return std::string();
    }
    std::string value(size, '\0');
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableA(name, value.data(), size);
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        return std::nullopt;
    }
    if (length >= size) {
        return std::nullopt; // grew between the two calls; not in a single-threaded CGI
    }
    value.resize(length);
    return value;
}

int lastSocketError() {
    return WSAGetLastError();
}

SocketHandle openStreamSocket() {
    const SOCKET socketHandle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socketHandle == INVALID_SOCKET) {
        return invalidSocket;
    }
    return static_cast<SocketHandle>(socketHandle);
}

bool connectSocket(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = htonl(address);
    return connect(toSocket(socket), reinterpret_cast<const sockaddr*>(&target), sizeof target) ==
           0;
}

int sendAll(SocketHandle socket, std::string_view data) {
    std::size_t sent = 0;
    while (sent < data.size() && sent < static_cast<std::size_t>(INT_MAX)) {
        const int piece = static_cast<int>(std::min(data.size() - sent, largestTransfer));
        const int count = send(toSocket(socket), data.data() + sent, piece, 0);
        if (count == SOCKET_ERROR || count == 0) {
            break;
        }
        sent += static_cast<std::size_t>(count);
    }
    return static_cast<int>(std::min(sent, static_cast<std::size_t>(INT_MAX)));
}

int receiveSome(SocketHandle socket, std::span<char> buffer) {
    const int wanted = static_cast<int>(std::min(buffer.size(), largestTransfer));
    const int count = recv(toSocket(socket), buffer.data(), wanted, 0);
    return count == SOCKET_ERROR ? -1 : count;
}

bool setNonBlocking(SocketHandle socket, bool nonBlocking) {
    u_long mode = nonBlocking ? 1 : 0;
    return ioctlsocket(toSocket(socket), FIONBIO, &mode) == 0;
}

void closeSocket(SocketHandle socket) {
    closesocket(toSocket(socket));
}

WaitResult waitReadable(SocketHandle socket, int milliseconds) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(toSocket(socket), &readable);
    const int bounded = std::max(milliseconds, 0);
    timeval limit{};
    limit.tv_sec = bounded / 1000;
    limit.tv_usec = (bounded % 1000) * 1000;
    // The first argument is ignored by Winsock; the set is a list of handles, not a bitmap.
    const int ready = select(0, &readable, nullptr, nullptr, &limit);
    if (ready > 0) {
        return WaitResult::Readable;
    }
    return ready == 0 ? WaitResult::TimedOut : WaitResult::Failed;
}

std::int64_t monotonicMilliseconds() {
    return static_cast<std::int64_t>(GetTickCount64());
}

std::optional<std::uint32_t> resolveHostAddress(const std::string& hostName) {
    const hostent* host = gethostbyname(hostName.c_str());
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 ||
        host->h_addr_list == nullptr || host->h_addr_list[0] == nullptr) {
        return std::nullopt;
    }
    std::uint32_t networkOrder = 0;
    std::memcpy(&networkOrder, host->h_addr_list[0], sizeof networkOrder);
    return ntohl(networkOrder);
}

std::string profileString(const char* section, const char* key, const char* defaultText,
                          const std::string& filePath) {
    // The reader's own 256-byte buffer is what cuts texts to 255 characters.
    char buffer[256];
    const DWORD length = GetPrivateProfileStringA(section, key, defaultText, buffer, sizeof buffer,
                                                  filePath.c_str());
    return std::string(buffer, std::min<std::size_t>(length, sizeof buffer - 1));
}

unsigned int profileInt(const char* section, const char* key, int defaultValue,
                        const std::string& filePath) {
    return GetPrivateProfileIntA(section, key, defaultValue, filePath.c_str());
}

std::string fileVersionText(const std::string& filePath) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(filePath.c_str(), &ignored);
    if (size == 0) {
        return {};
    }
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(filePath.c_str(), 0, size, block.data())) {
        return {};
    }
    // Language 0000 (neutral), code page 04b0 (Unicode): the block the resource is built with.
    char query[] = "\\StringFileInfo\\000004b0\\FileVersion";
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), query, &value, &length) || value == nullptr || length == 0) {
        return {};
    }
    // The reported length counts the terminating NUL on some systems and not on others.
    const char* text = static_cast<const char*>(value);
    return std::string(text, strnlen(text, length));
}

std::optional<CalendarTime> utcNow() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    return CalendarTime{now.wDayOfWeek, now.wMonth - 1, now.wDay, now.wHour,
                        now.wMinute,    now.wSecond,    now.wYear};
}

std::unique_ptr<AppendFile> AppendFile::open(const std::string& path) {
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end of the file,
    // even when other processes append at the same time.
    const HANDLE file =
        CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return std::unique_ptr<AppendFile>(new AppendFile(reinterpret_cast<std::intptr_t>(file)));
}

AppendFile::~AppendFile() {
    CloseHandle(toHandle(handle_));
}

void AppendFile::append(std::string_view text) {
    // Text-file line ends, and one write, so that concurrent lines interleave only whole.
    std::string converted;
    converted.reserve(text.size() +
                      static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
    for (const char c : text) {
        if (c == '\n') {
            converted += '\r';
        }
        converted += c;
    }
    if (converted.empty()) {
        return;
    }
    DWORD written = 0;
    WriteFile(toHandle(handle_), converted.data(), static_cast<DWORD>(converted.size()), &written,
              nullptr);
}

} // namespace platform
