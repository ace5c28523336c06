#include "scripted_backend.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int listenOnLoopback(unsigned short& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 8);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

bool waitReadable(int fd, int milliseconds) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, milliseconds) > 0;
}

// Reads the request: its header and as many body bytes as its Content-Length gives.
std::string readRequest(int fd) {
    std::string request;
    char buffer[65536];
    for (;;) {
        std::size_t headerEnd = request.find("\r\n\r\n");
        if (headerEnd != std::string::npos) {
            std::size_t length = 0;
            std::size_t at = request.find("\r\nContent-Length: ");
            if (at != std::string::npos && at < headerEnd) {
                length = std::stoul(request.substr(at + 18));
            }
            if (request.size() >= headerEnd + 4 + length) {
                return request;
            }
        }
        if (!waitReadable(fd, 10000)) {
            return request;
        }
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return request;
        }
        request.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace

ScriptedBackend::ScriptedBackend(std::vector<BackendStep> script, int holdOpenMilliseconds)
    : script_(std::move(script)), holdOpenMilliseconds_(holdOpenMilliseconds) {
    listener_ = listenOnLoopback(port_);
    thread_ = std::thread([this] { serve(); });
}

ScriptedBackend::~ScriptedBackend() {
    if (thread_.joinable()) {
        // Nobody connected: wake the accept with a connection of our own.
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port_);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::close(fd);
        thread_.join();
    }
    ::close(listener_);
}

std::string ScriptedBackend::received() {
    if (thread_.joinable()) {
        thread_.join();
    }
    return received_;
}

void ScriptedBackend::serve() {
    if (!waitReadable(listener_, 20000)) {
        return;
    }
    int connection = ::accept(listener_, nullptr, nullptr);
    if (connection < 0) {
        return;
    }
    received_ = readRequest(connection);
    for (const BackendStep& step : script_) {
        if (step.kind == BackendStep::Kind::Send) {
            ::send(connection, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL);
        } else {
            ::usleep(static_cast<useconds_t>(step.milliseconds) * 1000);
        }
    }
    if (holdOpenMilliseconds_ > 0) {
        // Silent until the gateway gives up and closes, or the hold ends.
        char sink[4096];
        while (waitReadable(connection, holdOpenMilliseconds_) &&
               ::recv(connection, sink, sizeof sink, 0) > 0) {
        }
    }
    ::close(connection);
}

unsigned short closedPort() {
    unsigned short port = 0;
    ::close(listenOnLoopback(port));
    return port;
}
