#include "clients/pop3.h"

#include <strings.h>

#include "clients/net_exception.h"
#include "runtime/convert.h"
#include "runtime/md5.h"

namespace qdl {

namespace {

void trimRight(std::string& text) {
    const std::size_t end = text.find_last_not_of(" \t\r\n");
    text.erase(end == std::string::npos ? 0 : end + 1);
}

void requireOneLine(const std::string& argument) {
    if (holdsLineBreak(argument)) refuseArgument();
}

}  // namespace

bool Pop3Reader::statusLine(std::string& line) {
    if (!lines_.next(line)) return false;
    ++linesTaken_;
    return true;
}

bool Pop3Reader::message(std::ostream& out) {
    std::string line;
    while (lines_.next(line)) {
        ++linesTaken_;
        std::size_t from = 0;
        if (!line.empty() && line[0] == '.') {
            if (line.size() == 1) {
                lines_.discard();
                return true;
            }
            // RFC 1939: the first dot goes, also where the server did not
            // stuff the line, as in ".x".
            from = 1;
        }
        out.write(line.data() + from, static_cast<std::streamsize>(line.size() - from));
        out.put('\n');
    }
    return false;
}

pop3::pop3() : state_(0) {}

void pop3::require(int state) const {
    if (state_ != state) throw ProtocolException();
}

void pop3::command(const std::string& line) {
    // We never pipeline: anything still unread belongs to no command.
    reader_.discard();
    connection_.send(line, true, true);
}

void pop3::receiveMore(const Deadline& deadline) {
    std::string chunk;
    connection_.recv(chunk, deadline, true);
    reader_.feed(chunk);
}

bool pop3::readResponse(std::string& reply, bool trim) {
    // The whole line within the time-out: a server that trickles its bytes
    // would renew a time-out given to each receive.
    const Deadline deadline = Deadline::after(timeout());
    try {
        while (!reader_.statusLine(reply)) receiveMore(deadline);
    } catch (const ProtocolException&) {
        // A line past the bound: where the next reply starts is unknown.
        connection_.close();
        throw;
    }
    if (trim) trimRight(reply);
    if (reply.size() >= 3 && ::strncasecmp(reply.c_str(), "+OK", 3) == 0) return true;
    quit();
    return false;
}

void pop3::connect(const std::string& dotted, uint16_t port) {
    require(0);
    const sockaddr_in address = sock::makeAddress(dotted, port, true);
    connection_.create(false, false);
    reader_.clear();
    connection_.connect(address, true);
    if (!readResponse(lastResponse_, true)) throw InvalidServerPromptException();
    greeting_ = lastResponse_;
    state_ = 1;
}

void pop3::login(const std::string& user, const std::string& password, bool useAPOP) {
    require(1);
    requireOneLine(user);
    if (useAPOP) {
        std::string apop;
        try {
            apop = makeAPOPCommand(greeting_, user, password);
        } catch (const InvalidServerPromptException&) {
            // No stamp: anyone on the way may have taken it out to make us
            // send the password in clear. We do not.
            throw InvalidLoginException("APOP asked for, but the greeting carries no stamp");
        }
        command(apop);
        if (!readResponse(lastResponse_, true)) throw InvalidLoginException();
        state_ = 2;
        return;
    }
    requireOneLine(password);
    command("USER " + user);
    if (!readResponse(lastResponse_, true)) throw InvalidLoginException();
    command("PASS " + password);
    if (!readResponse(lastResponse_, true)) throw InvalidLoginException();
    state_ = 2;
}

unsigned pop3::stat() {
    require(2);
    command("STAT");
    if (!readResponse(lastResponse_, true)) throw InvalidServerResponseException();
    if (lastResponse_.size() <= 3) throw ProtocolException("STAT reply without a message count", 0);
    return stringToUnsigned(lastResponse_.substr(4));
}

void pop3::dele(unsigned number) {
    require(2);
    command("DELE " + toString(number));
    if (!readResponse(lastResponse_, false)) throw InvalidServerResponseException();
}

void pop3::retr(unsigned number, std::ostream& out) {
    require(2);
    command("RETR " + toString(number));
    std::string status;
    if (!readResponse(status, false)) {
        trimRight(status);
        lastResponse_ = status;
        throw InvalidServerResponseException();
    }
    try {
        // Each line of the message gets the time-out afresh, from the end of
        // the line before it.
        Deadline deadline = Deadline::after(timeout());
        std::size_t taken = reader_.linesTaken();
        while (!reader_.message(out)) {
            if (reader_.linesTaken() != taken) {
                taken = reader_.linesTaken();
                deadline = Deadline::after(timeout());
            }
            receiveMore(deadline);
        }
    } catch (const ProtocolException&) {
        connection_.close();
        throw;
    }
}

void pop3::quit() {
    if (connection_.isOpen()) {
        connection_.send("QUIT", true, false);
        std::string ignored;
        connection_.recv(ignored, false);
        connection_.close();
    }
    reader_.clear();
    state_ = 0;
}

std::string makeAPOPCommand(const std::string& greeting, const std::string& user, const std::string& password) {
    const std::size_t open = greeting.find('<');
    if (open == std::string::npos) throw InvalidServerPromptException();
    const std::size_t close = greeting.find('>', open);
    if (close == std::string::npos) throw InvalidServerPromptException();
    MD5 md5;
    md5.update(greeting.substr(open, close - open + 1) + password);
    return "APOP " + user + " " + MD5::hexDigest(md5.finalize());
}

}  // namespace qdl
