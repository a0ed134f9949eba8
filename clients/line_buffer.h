#pragma once
// Received bytes cut into lines, apart from any socket: feed chunks as they
// arrive, take whole lines out. No line grows past kMaxLineLength, whatever
// the peer sends.
#include <cstddef>
#include <string>

namespace qdl {

class LineBuffer {
public:
    enum class Ends {
        lineFeed,  // a line ends at LF; one CR before it is dropped
        any,       // CR LF, a lone CR and a lone LF each end a line, also
                   // when the CR and the LF come in different chunks
    };

    // A peer that sends this much without a line end is not speaking the
    // protocol; stopping here keeps our memory bounded.
    static constexpr std::size_t kMaxLineLength = 64 * 1024 * 1024;

    explicit LineBuffer(Ends ends = Ends::lineFeed, std::size_t maxLength = kMaxLineLength);

    void feed(const char* data, std::size_t length);
    void feed(const std::string& chunk) { feed(chunk.data(), chunk.size()); }

    // The next whole line without its end; false while none is complete.
    // Throws ProtocolException, and forgets everything, when a line is
    // longer than the bound.
    bool next(std::string& line);

    // Takes out the bytes of the unfinished line.
    std::string takeRest();
    // Drops the bytes not yet taken. A CR that ended the last line still
    // swallows the LF that may follow it in a later chunk.
    void discard();
    // Forgets everything, as for a new connection.
    void clear();
    bool empty() const { return start_ == data_.size(); }

private:
    Ends ends_;
    std::size_t maxLength_;
    std::string data_;
    std::size_t start_ = 0;    // first byte not yet taken
    std::size_t scanned_ = 0;  // bytes from start_ known to hold no line end
    bool skipLineFeed_ = false;
};

}  // namespace qdl
