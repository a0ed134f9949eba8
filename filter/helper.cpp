#include "filter/helper.h"

#include <cstdint>
#include <iostream>
#include <memory>
#include <sstream>

#include "runtime/casefold.h"
#include "runtime/log.h"

namespace cgp {

void readLineAnyEol(std::istream& in, std::string& line) { readLinePiece(in, line, std::string::npos); }

int parseSeqNumber(const std::string& text) {
    std::istringstream in(text);
    int value = 0;
    if (!(in >> value)) return 0;
    return value;
}

Helper::Helper(bool threaded, const std::string& rejectWord)
    : threaded_(threaded), rejectWord_(" " + rejectWord + " ") {}

Helper::~Helper() = default;

int Helper::getInterfaceVersion(int) { return 3; }

void Helper::onQuit() {}

void Helper::run() { run(std::cin); }

void Helper::run(std::istream& in) {
    // Requests still running use this object and owe the server a reply: wait
    // for them at the end of the input, and on the way out by an exception.
    struct WorkerDrain {
        Helper& helper;
        ~WorkerDrain() { helper.waitForWorkers(); }
    } drain{*this};
    qdl::logline() << "Ready to receive INTF command.";
    bool quitSeen = false;
    std::string line;
    while (in.good()) {
        readLineAnyEol(in, line);
        if (in.fail()) break;
        dispatch(line, quitSeen);
    }
}

namespace {

bool isDelimiter(char c) { return c == ' ' || c == '\r' || c == '\n'; }

// Next token from pos; pos ends just after it.
std::string token(const std::string& line, std::size_t& pos) {
    while (pos < line.size() && isDelimiter(line[pos])) ++pos;
    std::size_t start = pos;
    while (pos < line.size() && !isDelimiter(line[pos])) ++pos;
    return line.substr(start, pos - start);
}

}  // namespace

void Helper::dispatch(const std::string& line, bool& quitSeen) {
    std::size_t pos = 0;
    const std::string seqText = token(line, pos);
    const std::string command = qdl::lowerCase(token(line, pos));
    while (pos < line.size() && isDelimiter(line[pos])) ++pos;
    const std::string parameters = line.substr(pos);

    if (seqText.empty()) {
        qdl::outline() << "(null) FAILURE";
        return;
    }
    if (command.empty() && !quitSeen) {
        qdl::outline() << seqText << " FAILURE";
        return;
    }
    if (quitSeen) {
        qdl::outline() << seqText << rejectWord_
                       << "\"QUIT command received, filter is shut down. Please restart the filter.\"";
        return;
    }
    if (command == "intf") {
        intfSeen_ = true;
        int requested = parameters.empty() ? 1 : parseSeqNumber(parameters);
        qdl::outline() << seqText << " INTF " << static_cast<unsigned>(getInterfaceVersion(requested));
        return;
    }
    if (command == "key") {
        qdl::outline() << seqText << " OK";
        return;
    }
    if (command == "quit") {
        qdl::logline(seqText) << "Filter is shutting down...";
        onQuit();
        qdl::outline() << seqText << " OK \"Filter is shut down and waiting for standard output to be closed\"";
        quitSeen = true;
        return;
    }
    if (command == "crash") {
        // A request must never take the filter down: the server would stop
        // delivering mail. Refuse it instead of raising.
        qdl::outline() << seqText << " FAILURE \"unhandled exception request\"";
        return;
    }
    const int seqID = parseSeqNumber(seqText);
    if (seqID == 0 && seqText != "0") {
        qdl::outline() << seqText << rejectWord_ << "\"Error: seqID should be a number\"";
        return;
    }
    if (parameters.empty()) {
        qdl::outline() << seqText << " FAILURE \"Missing parameter(s)\"";
        return;
    }
    if (!acceptsCommand(command)) {
        qdl::outline() << seqText << " FAILURE";
        return;
    }
    if (!intfSeen_) {
        getInterfaceVersion(3);
        intfSeen_ = true;
    }
    if (threaded_) {
        startThread(seqID, command, parameters);
        return;
    }
    // Each request is served to the end, its reply written, before the next
    // line is read.
    Request request{seqID, this, command, parameters};
    workerMain(&request);
}

namespace {

void* requestThread(void* request) {
    Helper::workerMain(static_cast<Helper::Request*>(request));
    return nullptr;
}

}  // namespace

void Helper::startThread(int seqID, const std::string& command, const std::string& parameters) {
    const std::uint32_t number = static_cast<std::uint32_t>(seqID);
    std::unique_ptr<Request> request(new Request{seqID, this, command, parameters});
    std::size_t running = 0;
    bool inUse = false;
    {
        qdl::ScopedLock guard(mutex_);
        running = runningRequests_.size();
        inUse = runningRequests_.count(seqID) != 0;
        if (running < maxQueuedRequests && !inUse) {
            runningRequests_.insert(seqID);
            ++workers_;
        }
    }
    if (running >= maxQueuedRequests) {
        qdl::outline() << number << rejectWord_ << "\"Too many requests in queue (" << running
                       << "), try again in a few seconds.\"";
        return;
    }
    if (inUse) {
        qdl::outline() << number << rejectWord_ << "\"This request ID is already in use (" << number
                       << "), try again in a few seconds.\"";
        return;
    }
    qdl::logline(number) << "Thread processing started";
    if (!qdl::Thread::start(requestThread, request.get(), true).isNull()) {
        request.release();  // the worker deletes it
        return;
    }
    // A number left behind would refuse that number for good, and the server
    // waits for a reply to every request.
    {
        qdl::ScopedLock guard(mutex_);
        runningRequests_.erase(seqID);
        --workers_;
    }
    qdl::outline() << number << rejectWord_
                   << "\"Could not start a thread for this request, try again in a few seconds.\"";
}

void Helper::workerMain(Request* request) {
    Helper* helper = request->helper;
    helper->processRequest(request->seqID, request->command, request->parameters);
    if (!helper->threaded_) return;
    const std::uint32_t number = static_cast<std::uint32_t>(request->seqID);
    {
        qdl::ScopedLock guard(helper->mutex_);
        helper->runningRequests_.erase(request->seqID);
    }
    qdl::logline(number) << "Thread processing done";
    delete request;
    // The last use of the helper: once the count drops, run() may return and
    // the helper go.
    qdl::ScopedLock guard(helper->mutex_);
    --helper->workers_;
    helper->workerEnded_.signal();
}

void Helper::waitForWorkers() {
    for (;;) {
        {
            qdl::ScopedLock guard(mutex_);
            if (workers_ == 0) return;
        }
        // Signalled under mutex_ after each drop; a signal left from an
        // earlier drop only costs one more look at the count.
        workerEnded_.wait();
    }
}

}  // namespace cgp
