// The platform layer on Linux (and other POSIX systems).
#include "platform/platform.hpp"

#include "config/profile_text.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

const int wouldBlockError = EAGAIN;

namespace {

// Socket calls leave their error here, saved right after the call: later library calls
// may change errno (and a receive of 0 at the peer's close sets none).
thread_local int savedSocketError = 0;

int saveSocketError() {
    savedSocketError = errno;
    return savedSocketError;
}

// The settings file is asked for several keys; it is read once per process.
struct ProfileFileCache {
    std::string path;
    std::optional<std::string> text;
};

const std::optional<std::string>& profileFileText(const std::string& filePath) {
    static std::optional<ProfileFileCache> cache;
    if (cache && cache->path == filePath) {
        return cache->text;
    }
    cache = ProfileFileCache{filePath, std::nullopt};
    int fd = ::open(filePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return cache->text;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    cache->text = std::move(text);
    return cache->text;
}

} // namespace

void startProcess() {
    // A write to a client or backend that went away must fail, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
}

void stopProcess() {}

std::string modulePath() {
    char buffer[4096];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(n));
}

int readStandardInput(std::span<char> buffer) {
    std::size_t count = buffer.size() > INT_MAX ? INT_MAX : buffer.size();
    for (;;) {
        ssize_t n = ::read(STDIN_FILENO, buffer.data(), count);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n < 0 ? 0 : static_cast<int>(n);
    }
}

int writeStandardOutput(std::string_view data) {
    std::size_t written = 0;
    while (written < data.size()) {
        ssize_t n = ::write(STDOUT_FILENO, data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    return static_cast<int>(written);
}

std::optional<std::string> environmentVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

int lastSocketError() {
    return savedSocketError;
}

SocketHandle openStreamSocket() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        saveSocketError();
        return invalidSocket;
    }
    return fd;
}

bool connectSocket(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = htonl(address);
    if (::connect(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&target), sizeof target) ==
        0) {
        return true;
    }
    if (saveSocketError() != EINTR) {
        return false;
    }
    // An interrupted connect goes on in the background; wait for its outcome.
    pollfd entry{static_cast<int>(socket), POLLOUT, 0};
    while (::poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_ERROR, &error, &length);
    savedSocketError = error;
    return error == 0;
}

int sendAll(SocketHandle socket, std::string_view data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n =
            ::send(static_cast<int>(socket), data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (saveSocketError() == EINTR) {
                continue;
            }
            break;
        }
        sent += static_cast<std::size_t>(n);
    }
    return static_cast<int>(sent);
}

int receiveSome(SocketHandle socket, std::span<char> buffer) {
    std::size_t count = buffer.size() > INT_MAX ? INT_MAX : buffer.size();
    for (;;) {
        ssize_t n = ::recv(static_cast<int>(socket), buffer.data(), count, 0);
        if (n >= 0) {
            return static_cast<int>(n);
        }
        if (saveSocketError() != EINTR) {
            return -1;
        }
    }
}

bool setNonBlocking(SocketHandle socket, bool nonBlocking) {
    int fd = static_cast<int>(socket);
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) {
        return false;
    }
    flags = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(fd, F_SETFL, flags) == 0;
}

void closeSocket(SocketHandle socket) {
    ::close(static_cast<int>(socket));
}

WaitResult waitReadable(SocketHandle socket, int milliseconds) {
    pollfd entry{static_cast<int>(socket), POLLIN, 0};
    int ready = ::poll(&entry, 1, milliseconds);
    if (ready < 0) {
        // A signal cut the wait short: the caller looks at the clock and waits again.
        return errno == EINTR ? WaitResult::TimedOut : WaitResult::Failed;
    }
    return ready == 0 ? WaitResult::TimedOut : WaitResult::Readable;
}

std::int64_t monotonicMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::optional<std::uint32_t> resolveHostAddress(const std::string& hostName) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(hostName.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    std::uint32_t address = ntohl(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    ::freeaddrinfo(found);
    return address;
}

std::string profileString(const char* section, const char* key, const char* defaultText,
                          const std::string& filePath) {
    const std::optional<std::string>& text = profileFileText(filePath);
    return config::profileStringValue(text ? *text : std::string_view(), section, key, defaultText);
}

unsigned int profileInt(const char* section, const char* key, int defaultValue,
                        const std::string& filePath) {
    const std::optional<std::string>& text = profileFileText(filePath);
    return config::profileIntValue(text ? *text : std::string_view(), section, key, defaultValue);
}

std::string fileVersionText(const std::string&) {
    // No version resources here: the build's own version stands in for the file's.
    return ZORERIVI_VERSION;
}

std::optional<CalendarTime> utcNow() {
    std::time_t now = std::time(nullptr);
    std::tm fields{};
    if (now == static_cast<std::time_t>(-1) || ::gmtime_r(&now, &fields) == nullptr) {
        return std::nullopt;
    }
    return CalendarTime{fields.tm_wday, fields.tm_mon, fields.tm_mday,       fields.tm_hour,
                        fields.tm_min,  fields.tm_sec, fields.tm_year + 1900};
}

std::unique_ptr<AppendFile> AppendFile::open(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return nullptr;
    }
    return std::unique_ptr<AppendFile>(new AppendFile(fd));
}

AppendFile::~AppendFile() {
    ::close(static_cast<int>(handle_));
}

void AppendFile::append(std::string_view text) {
    // One write with O_APPEND: the text lands whole at the end, even with other writers.
    while (::write(static_cast<int>(handle_), text.data(), text.size()) < 0 && errno == EINTR) {
    }
}

} // namespace platform
