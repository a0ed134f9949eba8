#pragma once
// The external-filter protocol loop: one request line in, one reply line out.
#include <cstddef>
#include <istream>
#include <set>
#include <string>

#include "runtime/mutex.h"
#include "runtime/thread.h"

namespace cgp {

// Reads one line ended by LF, CR, CR LF or LF CR. On the standard input the
// second character of a pair is looked at only when it has already arrived,
// so the reader never waits on the server for it.
void readLineAnyEol(std::istream& in, std::string& line);

// The longest piece of a message line held at once: a body sent as one line
// of many megabytes is read piece by piece.
const std::size_t defaultLinePieceLimit = 64 * 1024;

// Reads the next piece of the current line, at most `limit` bytes (a limit
// of 0 counts as 1), with the line ends and stream states of readLineAnyEol.
// True when the line ends with this piece: its line end was consumed (when
// it comes right after `limit` bytes too), or the input ended, or the read
// failed. False when the piece was cut at `limit` bytes and more of the line
// follows: the next call reads on in the same line.
bool readLinePiece(std::istream& in, std::string& piece, std::size_t limit);

// Reads the first piece of a line like readLinePiece and passes over the
// rest of the line, so the stream stands at the next line. True when `head`
// is the whole line.
bool readLineHead(std::istream& in, std::string& head, std::size_t limit);

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
