#pragma once
// A scripted TCP server on 127.0.0.1 for client tests. Each accepted
// connection plays one script: send bytes (whole, or cut into segments that
// leave one at a time with TCP_NODELAY and a pause between them), expect a
// line, pause, close or reset. Every byte the client sends is recorded.
// Every wait has a deadline, so a client that stalls fails the test instead
// of hanging it.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class Script {
public:
    // Long enough for the client to take one segment before the next leaves.
    static constexpr int kSegmentPauseMs = 20;

    Script& send(const std::string& bytes);
    Script& sendSegments(const std::vector<std::string>& segments, int pauseMs = kSegmentPauseMs);
    // The bytes cut before each of the given offsets (in rising order).
    Script& sendCut(const std::string& bytes, const std::vector<std::size_t>& cuts,
                    int pauseMs = kSegmentPauseMs);
    // One byte at a time, pauseMs apart: a server that keeps a connection
    // busy without ever finishing a line.
    Script& trickle(const std::string& bytes, int pauseMs);
    // Waits for one line from the client, ended by LF (a CR before it is
    // dropped), and notes a problem unless it is exactly this text.
    Script& expectLine(const std::string& line);
    Script& expectAnyLine();
    // Waits until the client closes its end; what it sends meanwhile is
    // recorded. A client still open at the deadline is a problem.
    Script& expectClose();
    // Stays silent for so long (or until the test finishes the server).
    Script& pause(int ms);
    // Ends the connection with FIN, or with RST (SO_LINGER 0).
    Script& close();
    Script& reset();
    // The steps of another script, after these.
    Script& then(const Script& more);

    struct Step {
        enum Kind { Send, Expect, ExpectAny, ExpectClose, Pause, Close, Reset } kind;
        std::vector<std::string> segments;  // Send
        std::string text;                   // Expect
        int ms;                             // Send (between segments), Pause
    };
    const std::vector<Step>& steps() const { return steps_; }

private:
    std::vector<Step> steps_;
};

class FakeServer {
public:
    static constexpr int kDefaultStepTimeoutMs = 10000;

    // Listens at once on a free port; plays the scripts for the connections
    // in the order they are accepted, on a thread of its own. A script that
    // ends without close or reset goes on recording until the client closes.
    explicit FakeServer(const Script& connection, int stepTimeoutMs = kDefaultStepTimeoutMs);
    explicit FakeServer(const std::vector<Script>& connections, int stepTimeoutMs = kDefaultStepTimeoutMs);
    ~FakeServer();
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    uint16_t port() const { return port_; }
    static std::string address() { return "127.0.0.1"; }

    // Call when the client is done: the server takes what has arrived,
    // stops waiting and ends. Returns every problem seen, one per line
    // (a line other than expected, a deadline passed, a script not played);
    // empty when all went as scripted.
    std::string finish();

    // Every byte received on the n-th connection, in order.
    std::string received(std::size_t connection = 0) const;
    std::size_t connections() const;

private:
    void run();
    void play(int fd, const Script& script, std::size_t index);
    // Waits until fd is readable (true) or the deadline passes, the client
    // closes or the test finishes (false, with a problem noted where due).
    bool readMore(int fd, std::size_t index, std::string& pending, int64_t deadlineMs, const std::string& waitingFor);
    // True once the client has closed; false, with a problem noted, when
    // the deadline passes or the test finishes first.
    bool awaitClose(int fd, std::size_t index);
    // Sends all of `data` within the step's time; false once the client has
    // gone, has stopped reading (a problem) or the test is done.
    bool sendAll(int fd, std::size_t index, const std::string& data);
    bool sleepUnlessFinished(int ms);
    void problem(const std::string& text);

    std::vector<Script> scripts_;
    int stepTimeoutMs_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};  // written once by finish()
    uint16_t port_ = 0;
    std::thread thread_;
    bool finished_ = false;

    mutable std::mutex mutex_;
    std::vector<std::string> received_;
    std::string problems_;
};

}  // namespace testsupport
