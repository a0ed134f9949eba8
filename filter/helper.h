#pragma once
// The external-filter protocol loop: one request line in, one reply line out.
#include <istream>
#include <set>
#include <string>

#include "runtime/mutex.h"

namespace cgp {

// Reads one line ended by LF, CR, CR LF or LF CR. On the standard input the
// second character of a pair is looked at only when it has already arrived,
// so the reader never waits on the server for it.
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

    Helper(bool threaded, const std::string& rejectWord);
    virtual ~Helper();

    virtual int getInterfaceVersion(int requested);
    virtual void onQuit();
    virtual void processRequest(int seqID, const std::string& command, const std::string& parameters) = 0;
    virtual bool acceptsCommand(const std::string& command) = 0;

    // Serves the standard input until it ends.
    void run();
    // Serves the given stream; run() is this on std::cin.
    void run(std::istream& in);

    static void workerMain(Request* request);

protected:
    bool intfSeen_ = false;
    qdl::Mutex mutex_;
    bool threaded_;
    std::set<int> runningRequests_;
    std::string rejectWord_;

private:
    void dispatch(const std::string& line, bool& quitSeen);
};

}  // namespace cgp
