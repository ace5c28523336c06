// What the gateway needs of the operating system, and nothing more. Exactly one
// implementation file is built (posix.cpp on Linux, win32.cpp on Windows); no other code
// calls the OS or tests which one it runs on.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace platform {

// Process set-up and tear-down: the socket library, and the broken-pipe signal, which must
// not end the process when the client or the backend has gone away.
void startProcess();
void stopProcess();

// The full path of the running executable; empty when it cannot be had.
std::string modulePath();

// One read of at most buffer.size() bytes from standard input, unbuffered and untranslated.
// Returns the count delivered; 0 at the end of the input or on failure.
int readStandardInput(std::span<char> buffer);

// Writes all of data to standard output, unbuffered and untranslated. Returns the count
// written, which is smaller than data.size() only when an error stopped the write.
int writeStandardOutput(std::string_view data);

// The value of an environment variable, or nothing when it is not set.
std::optional<std::string> environmentVariable(const char* name);

// IPv4 TCP stream sockets.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle invalidSocket = -1;

// The platform's number for "the call would block" (EAGAIN on Linux, 10035 on Windows).
extern const int wouldBlockError;

// The last socket error number of this thread, as the platform gives it.
int lastSocketError();

SocketHandle openStreamSocket();
// Blocking connect; address and port in host byte order.
bool connectSocket(SocketHandle socket, std::uint32_t address, std::uint16_t port);
// Sends all of data, blocking; returns the count sent, smaller only on an error.
int sendAll(SocketHandle socket, std::string_view data);
// One receive: the count received, 0 at the peer's orderly close, -1 on an error
// (would-block included; see lastSocketError).
int receiveSome(SocketHandle socket, std::span<char> buffer);
bool setNonBlocking(SocketHandle socket, bool nonBlocking);
void closeSocket(SocketHandle socket);

enum class WaitResult { Readable, TimedOut, Failed };
// Waits until the socket has data (or a close or error to report), at most milliseconds.
WaitResult waitReadable(SocketHandle socket, int milliseconds);

// A clock that never goes back, in milliseconds from an arbitrary start.
std::int64_t monotonicMilliseconds();

// The first IPv4 address of a host name, in host byte order; nothing when it fails.
std::optional<std::uint32_t> resolveHostAddress(const std::string& hostName);

// The profile-file reader: a key of a section of an INI file, or the default when the key
// (or the file) is absent. Texts are cut to 255 characters.
std::string profileString(const char* section, const char* key, const char* defaultText,
                          const std::string& filePath);
unsigned int profileInt(const char* section, const char* key, int defaultValue,
                        const std::string& filePath);

// The FileVersion text of an executable file; empty when it has none.
std::string fileVersionText(const std::string& filePath);

struct CalendarTime {
    int weekday; // 0 = Sunday
    int month;   // 0 = January
    int day;     // 1..31
    int hour;
    int minute;
    int second;
    int year;
};
// The current time in UTC; nothing when it cannot be converted.
std::optional<CalendarTime> utcNow();

// A text file opened for appending, shared with other processes that append to it at the
// same time. Each append goes out in one write at the end of the file, so the lines of
// concurrent writers interleave only as whole writes. "\n" becomes the platform's line end.
class AppendFile {
  public:
    static std::unique_ptr<AppendFile> open(const std::string& path);
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    void append(std::string_view text);

  private:
    explicit AppendFile(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
};

} // namespace platform
