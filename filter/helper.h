#pragma once
// The external-filter protocol loop: one request line in, one reply line out.
#include <cstddef>
#include <istream>
#include <set>
#include <string>

#include "filter/lines.h"
#include "runtime/mutex.h"
#include "runtime/thread.h"

namespace cgp {

// Reads one line ended by LF, CR, CR LF or LF CR, whole, through a cursor
// that takes nothing beyond it. On the standard input the second character
// of a pair is looked at only when it has already arrived, so the reader
// never waits on the server for it.
void readLineAnyEol(std::istream& in, std::string& line);

// The sequence-number text read as a signed 32-bit number; 0 when it does
// not start with one or does not fit.
int parseSeqNumber(const std::string& text);

class Helper : public qdl::noncopyable {
public:
    struct Request {
        int seqID;
        Helper* helper;
        std::string command;
        std::string parameters;
    };

    // In threaded mode at most this many requests run at once; more are refused.
    static const std::size_t maxQueuedRequests = 50;

    // threaded: each accepted request runs on a detached thread of its own,
    // and processRequest must be safe to call from several threads at once.
    Helper(bool threaded, const std::string& rejectWord);
    virtual ~Helper();

    virtual int getInterfaceVersion(int requested);
    virtual void onQuit();
    virtual void processRequest(int seqID, const std::string& command, const std::string& parameters) = 0;
    virtual bool acceptsCommand(const std::string& command) = 0;

    // Serves the standard input until it ends. In threaded mode it then
    // waits until every request already running has replied.
    void run();
    // Serves the given stream; run() is this on std::cin.
    void run(std::istream& in);

    // Runs one request; in threaded mode it also gives the request's number
    // back and deletes the request.
    static void workerMain(Request* request);

protected:
    bool intfSeen_ = false;
    qdl::Mutex mutex_;
    bool threaded_;
    std::set<int> runningRequests_;
    std::string rejectWord_;

private:
    void dispatch(const std::string& line, bool& quitSeen);
    void startThread(int seqID, const std::string& command, const std::string& parameters);
    void waitForWorkers();

    // Workers that still use this object: a request counts from its start
    // until its worker is done with it, a little past leaving runningRequests_.
    // Guarded by mutex_; workerEnded_ is signalled, under mutex_, when it drops.
    std::size_t workers_ = 0;
    qdl::Event workerEnded_;
};

}  // namespace cgp
