// The converted copy of a message: each recorded TNEF part gives way to the
// files extracted from it. The message is copied line by line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <streambuf>
#include <string>

#include "filter/internal/encode.h"
#include "filter/lines.h"
#include "filter/mime.h"
#include "filter/parvex.h"
#include "filter/unpack.h"
#include "runtime/file_buffers.h"
#include "runtime/files.h"
#include "runtime/log.h"

namespace {

// One line of the message at a time, with what the copy needs to know about
// how the line ended. A line is read in pieces: the reader holds its first
// piece, and a line longer than that is copied or passed over piece by
// piece with finish(). A line that lies in the cursor's buffer is used
// where it stands.
class LineReader {
public:
    // `headLimit` must exceed the longest delimiter line of the records, so
    // that a cut line is never one of them.
    LineReader(std::istream& in, std::size_t pieceLimit, std::size_t headLimit)
        : lines_(in), pieceLimit_(pieceLimit), headLimit_(headLimit) {}

    // False when nothing was left to read.
    bool next() {
        if (!lines_.stream().good()) return false;
        if (lines_.wholeLine(data_, size_, headLimit_)) {
            whole = true;
            position = lines_.position();
            metEnd = false;
            return true;
        }
        whole = lines_.piece(line_, headLimit_);
        if (lines_.stream().fail()) {
            line_.clear();
            data_ = line_.data();
            size_ = 0;
            whole = true;
            position = -1;
            metEnd = true;
            return false;
        }
        data_ = line_.data();
        size_ = line_.size();
        ended();
        return true;
    }

    // Writes the line, all its pieces, unchanged to `out`, or passes over
    // its rest when `out` is null; the line end is the caller's.
    void finish(std::ostream* out) {
        if (out != nullptr) out->write(data_, static_cast<std::streamsize>(size_));
        if (whole) return;
        if (out == nullptr) {
            lines_.skipRest();
        } else {
            while (!whole) {
                whole = lines_.piece(piece_, pieceLimit_);
                out->write(piece_.data(), static_cast<std::streamsize>(piece_.size()));
            }
            piece_.clear();
        }
        whole = true;
        ended();
    }

    // Goes on reading at `offset`, the start of a line.
    void seek(std::streamoff offset) { lines_.seek(offset); }

    // The line, read whole, is a delimiter line of `boundaryLine`.
    bool isDelimiter(const std::string& boundaryLine) const {
        return whole && cgp::isDelimiterLine(data_, size_, boundaryLine);
    }

    bool whole = true;             // false while only the first piece is read
    std::streamoff position = -1;  // just after the line, once it is read to its end
    bool metEnd = false;           // the line ran into the end of the input

private:
    void ended() {
        position = whole ? lines_.position() : -1;
        metEnd = whole && lines_.metEnd();
    }

    cgp::LineCursor lines_;
    const std::size_t pieceLimit_;
    const std::size_t headLimit_;
    std::string line_;
    std::string piece_;
    const char* data_ = nullptr;  // the line, or its first piece
    std::size_t size_ = 0;
};

// Long enough for the first piece of a line to hold any delimiter line of
// the records whole, and one byte more.
std::size_t headLimitFor(std::size_t pieceLimit, const std::vector<AttachmentRecord>& records) {
    std::size_t limit = pieceLimit == 0 ? 1 : pieceLimit;
    for (const AttachmentRecord& r : records) {
        const std::size_t needed = cgp::headLimitFor(pieceLimit, r.boundaryLine);
        if (needed > limit) limit = needed;
    }
    return limit;
}

// A file name as a quoted-string value: quotes and backslashes escaped, and
// control bytes (a name from the TNEF data may hold a line end) replaced.
std::string quotedName(const std::string& name) {
    std::string out = "\"";
    for (char ch : name) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 32 || c == 127)
            out += '_';
        else if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else
            out += ch;
    }
    out += '"';
    return out;
}

std::string realPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return std::string();
    std::string result(resolved);
    std::free(resolved);
    return result;
}

bool isBelow(const std::string& path, const std::string& dir) {
    if (dir.empty()) return false;
    const std::string prefix = dir.back() == '/' ? dir : dir + "/";
    return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
}

enum class Outcome { Continue, End, Failed };

class Writer {
public:
    Writer(const Parvex& filter, std::istream& in, std::ostream& out, const std::vector<AttachmentRecord>& records,
           bool markKeptParts)
        : filter_(filter),
          reader_(in, filter.linePieceLimit, headLimitFor(filter.linePieceLimit, records)),
          in_(in),
          out_(out),
          records_(records),
          markKeptParts_(markKeptParts) {
        const std::string programDir = filter.programDir.empty() ? std::string("./") : filter.programDir;
        tempRoot_ = programDir + "pvx_temp";
        ownTemp_ = filter.tempDir;
    }

    void run() {
        Outcome outcome = copy();
        if (outcome != Outcome::Failed && in_.bad()) outcome = Outcome::Failed;
        if (outcome == Outcome::Failed) {
            // The copy is unusable: throw away what the rest would have used.
            removeEntriesFrom(nextRecord_);
            out_.setstate(std::ios::failbit);
            return;
        }
        out_.flush();
    }

private:
    void writeLine(const std::string& line) { out_ << line << '\n'; }

    // The reader's current line, all its pieces, with one line end.
    void writeCurrentLine() {
        reader_.finish(&out_);
        out_.put('\n');
    }

    Outcome copy() {
        if (!reader_.next()) {
            writeLine(std::string());
            return Outcome::End;
        }
        for (;;) {
            while (nextRecord_ < records_.size() && reader_.position >= 0) {
                const std::streamoff start = static_cast<std::streamoff>(records_[nextRecord_].start);
                if (start < reader_.position) {
                    // Behind the copy (records out of order, or not at the
                    // end of a line): left as it is.
                    ++nextRecord_;
                    continue;
                }
                if (start != reader_.position) break;
                const Outcome outcome = replace(records_[nextRecord_]);
                ++nextRecord_;
                if (outcome != Outcome::Continue) return outcome;
            }
            writeCurrentLine();
            if (!out_.good()) return Outcome::Failed;
            if (reader_.metEnd) return Outcome::End;
            if (!reader_.next()) {
                writeLine(std::string());
                return Outcome::End;
            }
        }
    }

    // The current line is the boundary line that opens the record's part.
    Outcome replace(const AttachmentRecord& record) {
        for (std::size_t i = 0; i < record.entries.size(); ++i) {
            if (!insert(record, record.entries[i])) {
                removeEntries(record, i + 1);
                return Outcome::Failed;
            }
        }
        const bool keep = filter_.keepWinmail || (record.keepPart && !filter_.alwaysRemoveWinmail);
        if (keep) {
            writeCurrentLine();
            // The kept part carries the mark in its own header block, so a
            // later walk passes it over instead of adding its files again.
            if (markKeptParts_) writeLine("X-Parvex: " + std::to_string(insertedCount(record)) + " attachments extracted.");
        }
        return passOver(record, keep);
    }

    Outcome passOver(const AttachmentRecord& record, bool keep) {
        const std::streamoff end = static_cast<std::streamoff>(record.end);
        // A part that goes need not be read: the walk read its lines and
        // knows where the last one begins. What lies before that line is
        // neither a delimiter nor the end of the input.
        const std::streamoff endLine = static_cast<std::streamoff>(record.endLine);
        if (!keep && reader_.position >= 0 && reader_.position <= endLine && endLine < end) reader_.seek(endLine);
        for (;;) {
            if (!reader_.next()) return Outcome::End;
            // A delimiter that ends the part belongs to the next part (or
            // closes the body) and stays in the copy; at the end of the input
            // it does so also for a record that does not give its end.
            const bool delimiter = reader_.isDelimiter(record.boundaryLine);
            const bool atEnd = reader_.whole && reader_.position >= 0 && reader_.position == end;
            if (delimiter && (atEnd || in_.eof())) return Outcome::Continue;
            if (keep) {
                writeCurrentLine();
                if (!out_.good()) return Outcome::Failed;
            } else {
                reader_.finish(nullptr);
            }
            const bool endsPart = reader_.position >= 0 && reader_.position == end;
            if (reader_.metEnd) return Outcome::End;
            if (endsPart) return reader_.next() ? Outcome::Continue : Outcome::End;
        }
    }

    static bool isDropped(const std::string& entry) { return entry.size() >= 2 && entry[0] == '\\' && entry[1] == '*'; }

    static std::size_t insertedCount(const AttachmentRecord& record) {
        std::size_t n = 0;
        for (const std::string& entry : record.entries)
            if (!isDropped(entry)) ++n;
        return n;
    }

    static std::string pathOf(const std::string& entry) { return !entry.empty() && entry[0] == '*' ? entry.substr(1) : entry; }

    // Only what tnef or rtf2html wrote into our temporary directory is ever
    // read into a message and deleted; a path from the TNEF data that points
    // elsewhere is refused. A file named right in the directory, as the walk
    // gives them, needs nothing resolved; any other path is resolved, and so
    // are the directories, once.
    bool isOurs(const std::string& path) const {
        if (cgp::isPlainFileIn(path, ownTemp_) || cgp::isPlainFileIn(path, tempRoot_)) return true;
        const std::string real = realPath(path);
        if (real.empty()) return false;
        if (!resolved_) {
            realTempRoot_ = realPath(tempRoot_);
            if (!ownTemp_.empty()) realOwnTemp_ = realPath(ownTemp_);
            resolved_ = true;
        }
        return isBelow(real, realTempRoot_) || isBelow(real, realOwnTemp_);
    }

    bool insert(const AttachmentRecord& record, const std::string& entry) {
        if (isDropped(entry)) return true;
        const bool alternative = !entry.empty() && entry[0] == '*';
        const std::string path = pathOf(entry);
        const std::string base = qdl::baseName(path);
        const std::string quoted = quotedName(base);
        qdl::printLine("* Inserting file " + quoted);

        if (!isOurs(path)) {
            qdl::printLine("* Unable to read extracted file " + quoted + ", message is left unconverted");
            return false;
        }
        // Read through its descriptor, so that a read error is told apart
        // from the end of the file.
        qdl::InputFile file(path, true);
        if (!file.isOpen()) {
            qdl::printLine("* Unable to read extracted file " + quoted + ", message is left unconverted");
            qdl::removeFile(path);
            return false;
        }

        writeLine(record.boundaryLine);
        writeLine("Content-Type: " + cgp::mimeTypeForFile(path) + (alternative ? "" : "; "));
        if (alternative) {
            writeLine("Content-Transfer-Encoding: quoted-printable");
        } else {
            writeLine("   name=" + quoted);
            writeLine("Content-Transfer-Encoding: base64");
            writeLine("Content-Disposition: attachment;");
            writeLine("   filename=" + quoted);
        }
        writeLine(std::string());
        std::istream content(&file);
        if (alternative)
            cgp::encodeQuotedPrintable(content, out_);
        else
            cgp::encodeBase64Lines(content, out_);
        const bool readFailed = content.bad();
        qdl::removeFile(path);
        if (readFailed) {
            qdl::printLine("* Unable to read extracted file " + quoted + ", message is left unconverted");
            return false;
        }
        writeLine(std::string());
        return out_.good();
    }

    void removeEntries(const AttachmentRecord& record, std::size_t from) const {
        for (std::size_t i = from; i < record.entries.size(); ++i) {
            const std::string& entry = record.entries[i];
            if (isDropped(entry)) continue;
            const std::string path = pathOf(entry);
            if (isOurs(path)) qdl::removeFile(path);
        }
    }

    void removeEntriesFrom(std::size_t first) const {
        for (std::size_t r = first; r < records_.size(); ++r) removeEntries(records_[r], 0);
    }

    const Parvex& filter_;
    LineReader reader_;
    std::istream& in_;
    std::ostream& out_;
    const std::vector<AttachmentRecord>& records_;
    const bool markKeptParts_;
    std::size_t nextRecord_ = 0;
    std::string tempRoot_;
    std::string ownTemp_;
    mutable bool resolved_ = false;
    mutable std::string realTempRoot_;
    mutable std::string realOwnTemp_;
};

}  // namespace

void Parvex::writeConvertedMessage(std::istream& in, std::ostream& out, const std::vector<AttachmentRecord>& records,
                                   bool markKeptParts) {
    Writer writer(*this, in, out, records, markKeptParts);
    writer.run();
}
