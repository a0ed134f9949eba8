#pragma once
// A small blocking POP3 client: greeting, APOP or USER/PASS login, STAT,
// RETR with dot-unstuffing, DELE and QUIT. Refusals and protocol faults
// throw from the family in net_exception.h; a negative reply also closes
// the connection, so the caller connects again.
#include <cstdint>
#include <ostream>
#include <string>

#include "clients/line_buffer.h"
#include "clients/sock.h"
#include "runtime/deadline.h"

namespace qdl {

// Knows the framing of POP3 replies, not the transport: feed chunks as they
// arrive, then take the status line and, after RETR, the message.
class Pop3Reader {
public:
    void feed(const std::string& chunk) { lines_.feed(chunk); }
    // The next status line without its line end; false until it is whole.
    bool statusLine(std::string& line);
    // Writes the message lines fed so far, each with one LF and without the
    // leading "." of every line that has one (RFC 1939: "..x" is ".x", ".x"
    // is "x"). True once the line "." alone ended it; what was fed after
    // that line is dropped.
    bool message(std::ostream& out);
    // Lines taken so far, status lines included: a caller that waits for
    // the next line starts its clock again when this moves.
    std::size_t linesTaken() const { return linesTaken_; }
    // Drops what an earlier reply left unread.
    void discard() { lines_.discard(); }
    void clear() { lines_.clear(); }

private:
    LineBuffer lines_{LineBuffer::Ends::any};
    std::size_t linesTaken_ = 0;
};

class pop3 {
public:
    pop3();

    // Each needs its state (0 not connected, 1 greeted, 2 logged in) and
    // throws ProtocolException, sending nothing, in another.
    void connect(const std::string& dotted, uint16_t port);
    // With useAPOP, a greeting without a stamp fails the login: the
    // password never goes out in clear when APOP was asked for.
    void login(const std::string& user, const std::string& password, bool useAPOP);
    unsigned stat();
    void retr(unsigned number, std::ostream& out);
    void dele(unsigned number);
    // Sends QUIT when connected, closes; the state is 0 afterwards.
    void quit();

    // Reads one status line into reply (without its line end; trim also
    // drops trailing blanks). True for "+OK"; otherwise quits.
    // Each line, status or message, must arrive whole within timeout()
    // from when the client starts to wait for it.
    bool readResponse(std::string& reply, bool trim);

    // How long a connect or a read may wait for the server.
    void setTimeout(uint32_t milliseconds) { connection_.setTimeout(milliseconds); }
    uint32_t timeout() const { return connection_.timeout(); }

    int state() const { return state_; }
    const std::string& greeting() const { return greeting_; }
    const std::string& lastResponse() const { return lastResponse_; }

private:
    void require(int state) const;
    void command(const std::string& line);
    void receiveMore(const Deadline& deadline);

    std::string greeting_;
    sock connection_;
    int state_;
    std::string lastResponse_;
    Pop3Reader reader_;
};

// "APOP " user " " and the MD5 of the greeting's first <...> stamp followed
// by the password. Throws InvalidServerPromptException without a stamp.
std::string makeAPOPCommand(const std::string& greeting, const std::string& user, const std::string& password);

}  // namespace qdl
