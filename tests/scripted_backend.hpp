// A backend on 127.0.0.1 (port from the kernel) that accepts one connection, reads the
// request, then plays a script: send bytes, pause, and at the end close or stay silent.
#pragma once

#include <string>
#include <thread>
#include <vector>

struct BackendStep {
    enum class Kind { Send, Pause } kind;
    std::string bytes;
    int milliseconds = 0;
};

inline BackendStep sendBytes(std::string bytes) {
    return {BackendStep::Kind::Send, std::move(bytes), 0};
}
inline BackendStep pauseFor(int milliseconds) {
    return {BackendStep::Kind::Pause, {}, milliseconds};
}

class ScriptedBackend {
  public:
    // After the script the connection is closed, or, with holdOpenMilliseconds, kept open
    // and silent that long (or until the gateway closes it).
    explicit ScriptedBackend(std::vector<BackendStep> script, int holdOpenMilliseconds = 0);
    ~ScriptedBackend();
    ScriptedBackend(const ScriptedBackend&) = delete;
    ScriptedBackend& operator=(const ScriptedBackend&) = delete;

    unsigned short port() const { return port_; }
    // The request as received; waits for the connection to be done with.
    std::string received();

  private:
    void serve();

    std::vector<BackendStep> script_;
    int holdOpenMilliseconds_;
    int listener_ = -1;
    unsigned short port_ = 0;
    std::string received_;
    std::thread thread_;
};

// A loopback port on which nothing listens (bound, then released).
unsigned short closedPort();
