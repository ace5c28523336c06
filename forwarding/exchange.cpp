// The gateway's HTTP client: one connection to the backend, the request sent, the reply
// collected until it is complete, the backend fails, or the time limit runs out.
#include "config/log.hpp"
#include "forwarding/socket_error.hpp"
#include "gateway/request_handler.hpp"

#include <algorithm>
#include <climits>

namespace {

constexpr std::size_t receiveChunkSize = 64 * 1024;

// Closes the socket however the exchange ends.
class OpenSocket {
  public:
    explicit OpenSocket(platform::SocketHandle handle) : handle_(handle) {}
    ~OpenSocket() { platform::closeSocket(handle_); }
    OpenSocket(const OpenSocket&) = delete;
    OpenSocket& operator=(const OpenSocket&) = delete;
    platform::SocketHandle handle() const { return handle_; }

  private:
    platform::SocketHandle handle_;
};

bool isHeadRequest(std::string_view request) {
    return request.starts_with("HEAD ");
}

// Receives until the reply is complete; the socket is non-blocking.
std::optional<std::string> receiveReply(platform::SocketHandle socket, bool headRequest,
                                        std::int64_t sentAt, std::int32_t timeoutSeconds,
                                        platform::AppendFile* log) {
    using State = ReplyProgress::State;
    const std::int64_t deadline = sentAt + static_cast<std::int64_t>(timeoutSeconds) * 1000;
    std::string received;
    for (;;) {
        std::size_t filled = received.size();
        received.resize(filled + receiveChunkSize);
        int count = platform::receiveSome(
            socket, std::span<char>(received.data() + filled, receiveChunkSize));
        received.resize(filled + static_cast<std::size_t>(std::max(count, 0)));

        if (count >= 0) {
            ReplyProgress progress = RequestHandler::assessReply(received, headRequest, count == 0);
            if (progress.state == State::Complete) {
                received.resize(progress.start + progress.length);
                received.erase(0, progress.start);
                return received;
            }
            if (progress.state == State::BadReply || received.size() > INT32_MAX) {
                logLine("Bad reply", log);
                return std::nullopt;
            }
            if (progress.state == State::ClosedEarly) {
                logLine("Connection closed", log);
                return std::nullopt;
            }
            // The length is known: one buffer of the final size instead of growing copies.
            if (progress.expectedSize > received.capacity()) {
                received.reserve(progress.expectedSize + receiveChunkSize);
            }
            continue;
        }

        if (socketErrorCode(false) != wouldBlockCode) {
            logLine("Network error", log);
            return std::nullopt;
        }
        std::int64_t remaining = deadline - platform::monotonicMilliseconds();
        if (remaining <= 0) {
            logLine("Timeout", log);
            return std::nullopt;
        }
        int wait = static_cast<int>(std::min<std::int64_t>(remaining, INT_MAX));
        if (platform::waitReadable(socket, wait) == platform::WaitResult::Failed) {
            logLine("Network error", log);
            return std::nullopt;
        }
    }
}

} // namespace

std::optional<std::string> RequestHandler::exchange(std::string_view request) {
    platform::AppendFile* log = settings_->logStream.get();
    platform::SocketHandle handle = platform::openStreamSocket();
    if (handle == platform::invalidSocket) {
        logError("No socket: %s%ld\n", socketErrorCode(true), log);
        return std::nullopt;
    }
    OpenSocket socket(handle);
    if (!platform::connectSocket(handle, settings_->targetAddress, settings_->targetPort)) {
        logError("Connection error: %s%ld", socketErrorCode(true), log);
        return std::nullopt;
    }
    logLine("Connected", log);
    if (platform::sendAll(handle, request) != static_cast<int>(request.size())) {
        logError("Send error: %s%ld", socketErrorCode(true), log);
        return std::nullopt;
    }
    logLine("Data sent", log);

    std::int64_t sentAt = platform::monotonicMilliseconds();
    platform::setNonBlocking(handle, true);
    return receiveReply(handle, isHeadRequest(request), sentAt, settings_->timeoutSeconds, log);
}
