#include "clients/cli.h"

#include <algorithm>
#include <exception>

#include "clients/internal/cli_command.h"
#include "clients/net_exception.h"
#include "clients/pop3.h"

namespace cgp {

bool cliEnabled = true;
std::string defaultHost = "127.0.0.1";
uint16_t defaultPort = 106;
std::string defaultUser;
std::string defaultPassword;
int defaultLoginMethod = CLI::kAPOPLogin;

namespace {

// A server that does not answer Quit cannot hold up a close for longer.
const uint32_t kQuitTimeoutMs = 5000;

const char kBlanks[] = " \t\r\n";

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The leading decimal number of a code text, after blanks; false when it is
// missing or outside the three digits every response code has.
bool readCode(const std::string& text, uint16_t& code) {
    std::size_t i = text.find_first_not_of(kBlanks);
    if (i == std::string::npos) return false;
    unsigned value = 0;
    bool digits = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        digits = true;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
        // Past 999 it can only grow; stop before it could overflow.
        if (value > 999) return false;
    }
    if (!digits || value < 100) return false;
    code = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

CLI::CLI(const std::string& host, uint16_t port, const std::string& user, const std::string& password, int method,
         uint32_t timeoutMs) {
    // A throw from here on destroys connection_, which closes the socket.
    setTimeout(timeoutMs);
    connect(host, port);
    login(user, password, method);
}

CLI::CLI() : CLI(defaultHost, defaultPort, defaultUser, defaultPassword, defaultLoginMethod) {}

CLI::~CLI() { disconnect(); }

void CLI::connect(const std::string& host, uint16_t port) {
    qdl::sock::startup();
    lines_.clear();
    connection_.create(false, false);
    const sockaddr_in address = qdl::sock::makeAddress(host, port, true);
    connection_.connect(address, true);
}

void CLI::login(const std::string& user, const std::string& password, int method) {
    if (method != kPlainLogin && method != kAPOPLogin && method != kWebUserLogin) cmd::refuse();
    // The password ends its line, so a space in it shifts nothing; a space
    // or a tab in the user name would.
    if (qdl::holdsLineBreak(user) || user.find_first_of(" \t") != std::string::npos || qdl::holdsLineBreak(password))
        cmd::refuse();
    const std::string greeting = readLine();
    if (method == kAPOPLogin) {
        sendLine(qdl::makeAPOPCommand(greeting, user, password));
    } else if (method == kWebUserLogin) {
        sendLine("AUTH WEBUSER " + user + " " + password);
    } else {
        sendLine("user " + user);
        readResponse(false);
        if (lastCode_ != 300) failLogin("Invalid username or password");
        sendLine("pass " + password);
    }
    readResponse(false);
    if (lastCode_ != 200) {
        failLogin(lastMessage_.empty() ? "Invalid username or password"
                                       : "Invalid username or password (" + lastMessage_ + ")");
    }
    sendLine("inline");
    readResponse(false);
}

void CLI::failLogin(const std::string& message) {
    const uint16_t code = lastCode_;
    const std::string text = lastMessage_;
    disconnect();
    lastCode_ = code;
    lastMessage_ = text;
    throw qdl::InvalidLoginException(message, code);
}

void CLI::disconnect() {
    if (connection_.isOpen()) {
        const uint32_t timeoutMs = connection_.timeout();
        const uint32_t boundMs = std::min(timeoutMs, kQuitTimeoutMs);
        connection_.setTimeout(boundMs);
        // The bound is on the whole exchange: a server that trickles its
        // answer a byte at a time would pass a bound on each read.
        closeDeadline_ = qdl::Deadline::after(boundMs);
        try {
            sendLine("Quit");
            readResponse(true);
        } catch (...) {
            // The session ends either way.
        }
        closeDeadline_.reset();
        connection_.setTimeout(timeoutMs);
    }
    connection_.close();
    lines_.clear();
}

void CLI::sendLine(const std::string& line) {
    // One line is one command: a line end inside would run the rest as a
    // second one.
    if (qdl::holdsLineBreak(line)) cmd::refuse();
    // We never pipeline: anything still unread belongs to no command.
    lines_.discard();
    connection_.send(line, true, true);
}

void CLI::receiveLine(std::string& line) {
    // The bound is on the whole line, not on each receive: a server that
    // trickles its bytes would renew it with each one.
    qdl::Deadline deadline = qdl::Deadline::after(connection_.timeout());
    if (closeDeadline_) deadline = qdl::Deadline::earlier(deadline, *closeDeadline_);
    try {
        while (!lines_.next(line)) {
            std::string chunk;
            connection_.recv(chunk, deadline, true);
            lines_.feed(chunk);
        }
    } catch (const qdl::ProtocolException&) {
        // A line past the bound: where the next response starts is unknown.
        connection_.close();
        lines_.clear();
        throw;
    }
}

std::string CLI::readLine() {
    std::string line;
    receiveLine(line);
    return line + "\r\n";
}

void CLI::readResponse(bool throwOnError) {
    const std::string text = readLine();
    const std::size_t space = text.find(' ');
    // A malformed response has no code: none of an earlier one stays.
    lastCode_ = 0;
    if (space == 0) throw qdl::InvalidServerResponseException(trimmed(text), 0);
    uint16_t code = 0;
    if (!readCode(text.substr(0, space), code)) throw qdl::ProtocolException(text, 0);
    lastCode_ = code;
    const std::string rest = space == std::string::npos ? std::string() : text.substr(space + 1);
    if (code == 200 || code == 201) {
        inlineData_ = rest;
        lastMessage_ = "OK";
        return;
    }
    lastMessage_ = trimmed(rest);
    if (throwOnError) throw CLIException(lastMessage_, code);
}

void CLI::execute(const std::string& line) {
    sendLine(line);
    readResponse(true);
}

std::string CLI::responseData() { return lastCode_ == 201 ? inlineData_ : readLine(); }

DataSet CLI::parseData(const std::string& text) { return DataSet::parse(text); }

void CLI::checkArgument(const std::string& text) {
    if (text.empty()) cmd::refuse();
}

void CLI::checkArgument(const DataSet& value, int kind) {
    if (value.isNull() || value->getType() != kind) cmd::refuse();
    switch (kind) {
    case DataSet::kString:
        if (value->value.empty()) cmd::refuse();
        break;
    case DataSet::kArray:
        if (value->elements.empty()) cmd::refuse();
        break;
    case DataSet::kDictionary:
        if (value->members.empty()) cmd::refuse();
        break;
    default:
        cmd::refuse();
    }
}

std::string CLI::formatArgument(const DataSet& value) {
    return value.isNull() ? std::string() : DataSet::toString(value, false);
}

std::string CLI::formatArgument(const std::string& text) { return formatArgument(DataSet(text)); }

bool CLI::needsQuoting(const std::string& text) {
    static const char kBare[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_@.-";
    return text.empty() || text.find_first_not_of(kBare) != std::string::npos;
}

std::string CLI::describeException() {
    try {
        throw;
    } catch (const qdl::InvalidLoginException&) {
        return "Invalid username or password";
    } catch (const qdl::ProtocolException& e) {
        return e.message();
    } catch (const qdl::UnableToConnectException&) {
        return "Unable to connect to server";
    } catch (const qdl::ConnectionResetException&) {
        return "Connection with the server has reset";
    } catch (const qdl::SocketException&) {
        return "Unhandled error";
    }
}

// ---- any command ----

void CLI::sendCommand(const std::string& line) { execute(line); }

DataSet CLI::getResponseDataSet() { return parseData(responseData()); }

// ---- the result kinds of the table rows ----

void CLI::command(const char* word, const std::vector<cmd::Piece>& pieces) { execute(cmd::buildLine(word, pieces)); }

DataSet CLI::dataQuery(const char* word, const std::vector<cmd::Piece>& pieces) {
    command(word, pieces);
    return getResponseDataSet();
}

std::string CLI::textQuery(const char* word, const std::vector<cmd::Piece>& pieces) {
    return textOf(dataQuery(word, pieces));
}

std::string CLI::textOf(const DataSet& value) {
    if (value.isNull()) return std::string();
    const int type = value->getType();
    return type == DataSet::kString || type == DataSet::kData ? value->value : std::string();
}

}  // namespace cgp
