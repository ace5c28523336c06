#include "fake_request_handler.hpp"
#include "scripted_backend.hpp"
#include "temp_folder.hpp"

#include <chrono>
#include <gtest/gtest.h>

namespace {

const std::string request = "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
const std::string ok5 = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n";

struct ExchangeOutcome {
    std::optional<std::string> reply;
    std::string received; // by the backend
    std::string log;
    double seconds;
};

ExchangeOutcome runExchange(unsigned short port, std::int32_t timeoutSeconds,
                            const std::string& requestText = request) {
    TempFolder folder;
    ForwardSettings settings;
    settings.targetPort = port;
    settings.timeoutSeconds = timeoutSeconds;
    settings.logStream = platform::AppendFile::open(folder.file("log.txt"));
    FakeRequestHandler handler(&settings, {});
    auto start = std::chrono::steady_clock::now();
    ExchangeOutcome outcome;
    outcome.reply = handler.exchange(requestText);
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    settings.logStream.reset();
    outcome.log = folder.read("log.txt");
    return outcome;
}

ExchangeOutcome runExchange(const std::vector<BackendStep>& script, std::int32_t timeoutSeconds = 5,
                            int holdOpenMilliseconds = 0,
                            const std::string& requestText = request) {
    ScriptedBackend backend(script, holdOpenMilliseconds);
    ExchangeOutcome outcome = runExchange(backend.port(), timeoutSeconds, requestText);
    outcome.received = backend.received();
    return outcome;
}

} // namespace

TEST(Exchange, CompleteReplies) {
    const std::string bigBody(200000, 'b');
    struct Case {
        int line;
        std::vector<BackendStep> script;
        std::string expected;
        int holdOpenMilliseconds = 0;
    } cases[] = {
        {__LINE__, {sendBytes(ok5 + "hello")}, ok5 + "hello"},
        {__LINE__,
         {sendBytes("HTTP/1.0 200 OK\r\nConte"), pauseFor(30), sendBytes("nt-Length: 5\r\n\r"),
          pauseFor(30), sendBytes("\nhel"), pauseFor(30), sendBytes("lo")},
         ok5 + "hello"},
        {__LINE__, {sendBytes(ok5 + "hello!!")}, ok5 + "hello"},
        // No length: everything up to the close, however late it comes.
        {__LINE__,
         {sendBytes("HTTP/1.0 200 OK\r\n\r\n"), pauseFor(50), sendBytes("late "), pauseFor(50),
          sendBytes(bigBody)},
         "HTTP/1.0 200 OK\r\n\r\nlate " + bigBody},
        {__LINE__,
         {sendBytes("HTTP/1.1 100 Continue\r\n\r\n"), pauseFor(30), sendBytes(ok5 + "hello")},
         ok5 + "hello"},
        // A backend that keeps the connection open after a complete reply.
        {__LINE__,
         {sendBytes("HTTP/1.0 404 Not Found\r\nContent-Length: 3\r\n\r\nnah")},
         "HTTP/1.0 404 Not Found\r\nContent-Length: 3\r\n\r\nnah",
         3000},
    };
    for (const Case& c : cases) {
        ExchangeOutcome outcome = runExchange(c.script, 5, c.holdOpenMilliseconds);
        EXPECT_EQ(outcome.reply, c.expected) << "case at line " << c.line;
        EXPECT_EQ(outcome.received, request) << "case at line " << c.line;
        EXPECT_EQ(outcome.log, "\tConnected\n\tData sent\n") << "case at line " << c.line;
        EXPECT_LT(outcome.seconds, 2.0) << "case at line " << c.line;
    }
}

TEST(Exchange, HeadReplyEndsWithItsHeader) {
    const std::string head = "HEAD / HTTP/1.0\r\n\r\n";
    ExchangeOutcome outcome = runExchange({sendBytes(ok5)}, 5, 3000, head);
    EXPECT_EQ(outcome.reply, ok5);
    EXPECT_EQ(outcome.received, head);
}

TEST(Exchange, Failures) {
    struct Case {
        int line;
        std::vector<BackendStep> script;
        std::int32_t timeoutSeconds;
        int holdOpenMilliseconds;
        std::string logTail;
        double atLeastSeconds;
        double atMostSeconds;
    } cases[] = {
        // Closed before the reply is complete: at once, not at the time limit.
        {__LINE__, {sendBytes(ok5 + "he"), pauseFor(50)}, 5, 0, "\tConnection closed\n", 0, 2},
        {__LINE__, {sendBytes("HTTP/1.0 200 OK\r\n")}, 5, 0, "\tConnection closed\n", 0, 2},
        {__LINE__, {}, 5, 0, "\tConnection closed\n", 0, 2},
        {__LINE__,
         {sendBytes("HTTP/1.0 200 OK\r\nContent-Length: many\r\n\r\n")},
         5,
         3000,
         "\tBad reply\n",
         0,
         2},
        // Silent backends: the time limit counts from the send.
        {__LINE__, {}, 1, 5000, "\tTimeout\n", 0.9, 3},
        {__LINE__, {sendBytes(ok5 + "he")}, 1, 5000, "\tTimeout\n", 0.9, 3},
        {__LINE__, {pauseFor(100), sendBytes(ok5 + "hello")}, 0, 3000, "\tTimeout\n", 0, 1},
    };
    for (const Case& c : cases) {
        ExchangeOutcome outcome = runExchange(c.script, c.timeoutSeconds, c.holdOpenMilliseconds);
        EXPECT_EQ(outcome.reply, std::nullopt) << "case at line " << c.line;
        EXPECT_EQ(outcome.log, "\tConnected\n\tData sent\n" + c.logTail)
            << "case at line " << c.line;
        EXPECT_GE(outcome.seconds, c.atLeastSeconds) << "case at line " << c.line;
        EXPECT_LE(outcome.seconds, c.atMostSeconds) << "case at line " << c.line;
    }
}

TEST(Exchange, RefusedConnectFailsAtOnceWithItsErrorNumber) {
    ExchangeOutcome outcome = runExchange(closedPort(), 300);
    EXPECT_EQ(outcome.reply, std::nullopt);
    EXPECT_EQ(outcome.log, "Connection error: 111\n");
    EXPECT_LT(outcome.seconds, 1.0);
}
