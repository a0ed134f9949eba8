#pragma once
// The filter base: accepts FILE, checks the queued file, turns the
// subclass's per-message result into the reply the server expects.
#include <istream>
#include <string>
#include <vector>

#include "filter/helper.h"

namespace cgp {

// Joins header lines with LF and escapes them for a quoted reply text.
void joinHeaderLines(const std::vector<std::string>& lines, std::string& out);

class ExtFilter : public Helper {
public:
    struct Result {
        enum Code { Accept = 0, Postpone = 1, Reject = 2, Discard = 3, AddHeader = 4 };
        int code;
        std::vector<std::string> headerLines;

        static const Result OK;
        static const Result DISCARD;
    };

    explicit ExtFilter(bool threaded);
    ~ExtFilter() override;

    void processRequest(int seqID, const std::string& command, const std::string& parameters) override;
    bool acceptsCommand(const std::string& command) override;
    virtual Result processMessage(int seqID, const std::string& path) = 0;
    // The same with the queued file already checked and open: `message`
    // reads it from its start. This form calls the one above.
    virtual Result processMessage(int seqID, const std::string& path, std::istream& message);

    // True when the file starts with an envelope line (a letter, then white
    // space); the stream is left at the start of the file.
    bool hasEnvelope(std::istream& in);
    // Moves the stream past the envelope block, if there is one.
    void skipEnvelope(std::istream& in);
};

}  // namespace cgp
