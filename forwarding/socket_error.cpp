#include "forwarding/socket_error.hpp"

#include "platform/platform.hpp"

int socketErrorCode(bool raw) {
    int code = platform::lastSocketError();
    if (!raw && code == platform::wouldBlockError) {
        return wouldBlockCode;
    }
    return code;
}
