// The walk over a message's MIME structure: finds TNEF parts, unpacks them
// with tnef, turns RTF into HTML with rtf2html and records what replaces
// each part. The message itself is not changed here.
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "filter/internal/part_headers.h"
#include "filter/lines.h"
#include "filter/parvex.h"
#include "filter/temp_dirs.h"
#include "filter/unpack.h"
#include "runtime/base64.h"
#include "runtime/file_buffers.h"
#include "runtime/files.h"
#include "runtime/log.h"
#include "runtime/process.h"

using cgp::PartHeaders;

namespace {

bool endsWithRtf(const std::string& path) {
    return path.size() >= 4 && ::strcasecmp(path.c_str() + path.size() - 4, ".rtf") == 0;
}

// Base64 body lines into a file, each line in one or more pieces. Lines are
// normally whole groups of four; a line that is not is carried over, so a
// body cut at odd places decodes the same as one cut at 76 characters, and
// a line read in pieces the same as one read whole. Where a line holds a
// character that is not base64, what comes before it in that line is
// written, the failure is reported, and the lines after it go on.
class BodyDecoder {
public:
    explicit BodyDecoder(qdl::OutputFile& out) : out_(out), staged_(new char[kStep]) {}

    // A whole line. Lines of whole groups, as most are, are gathered and
    // decoded together: each group decodes on its own, so a run of such
    // lines gives the bytes that decoding them one by one gives.
    void line(const char* text, std::size_t size) {
        if (!skipping_ && size > 0 && size % 4 == 0 && carry_.empty() && !heldBlank_ && !isBlank(text[size - 1])) {
            if (stagedSize_ + size > kStep) decodeStaged();
            if (size > kStep) {
                if (!decode(text, size)) fail();
                return;
            }
            std::memcpy(staged_.get() + stagedSize_, text, size);
            stagedSize_ += size;
            stagedLines_[stagedCount_++] = static_cast<std::uint16_t>(size);
            return;
        }
        piece(std::string(text, size), true);
    }

    // `last`: the piece ends its line.
    void piece(const std::string& text, bool last) {
        decodeStaged();
        if (skipping_) {
            // The rest of a line that failed to decode.
            if (last) skipping_ = false;
            return;
        }
        std::size_t end = text.size();
        while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
        if (end > 0 && end == text.size() && end % 4 == 0 && carry_.empty() && !heldBlank_) {
            // Whole groups and nothing carried, as most lines are: decoded
            // where they stand.
            if (!decode(text.data(), end)) {
                fail();
                skipping_ = !last;
            }
            return;
        }
        if (end > 0) {
            // Blanks held back from the piece before stand inside the line:
            // its decoding fails there, as it would on the whole line.
            if (heldBlank_) carry_ += ' ';
            heldBlank_ = false;
            carry_.append(text, 0, end);
            const std::size_t whole = carry_.size() - carry_.size() % 4;
            if (whole > 0) {
                const bool ok = decode(carry_.data(), whole);
                carry_.erase(0, whole);
                if (!ok) {
                    fail();
                    skipping_ = !last;
                    return;
                }
            }
        }
        // Blanks at the end of a line are dropped; at the end of a piece
        // they are held until it is known what follows them.
        if (end < text.size()) heldBlank_ = true;
        if (last) heldBlank_ = false;
    }

    void finish() {
        decodeStaged();
        if (carry_.empty()) return;
        // A short last group counts as padded.
        const bool ok = decode(carry_.data(), carry_.size());
        carry_.clear();
        if (!ok) fail();
    }

private:
    static bool isBlank(char c) { return c == ' ' || c == '\t'; }

    // The gathered lines in one step. Where one of them fails, they are
    // decoded again one by one, for the same bytes and the same report.
    void decodeStaged() {
        if (stagedSize_ == 0) return;
        std::size_t written = 0;
        char* to = out_.room(qdl::base64DecodedRoom(stagedSize_));
        if (qdl::base64DecodeTo(staged_.get(), stagedSize_, to, written)) {
            out_.commit(written);
        } else {
            const char* text = staged_.get();
            for (std::size_t i = 0; i < stagedCount_; ++i) {
                if (!decode(text, stagedLines_[i])) fail();
                text += stagedLines_[i];
            }
        }
        stagedSize_ = 0;
        stagedCount_ = 0;
    }

    // Decodes into the file's block, a step at a time so that each step's
    // bytes fit it; false at the first character that is not base64, after
    // writing the groups before it.
    bool decode(const char* text, std::size_t size) {
        while (size > 0) {
            const std::size_t take = size < kStep ? size : kStep;
            std::size_t written = 0;
            const bool ok = qdl::base64DecodeTo(text, take, out_.room(qdl::base64DecodedRoom(take)), written);
            out_.commit(written);
            if (!ok) return false;
            text += take;
            size -= take;
        }
        return true;
    }

    void fail() {
        carry_.clear();
        heldBlank_ = false;
        qdl::printLine("* unable to decode the attachment, data is corrupted");
    }

    // Characters decoded at once: a whole number of groups, whose bytes fit
    // the file's block.
    static constexpr std::size_t kStep = 16 * 1024;
    static_assert(kStep % 4 == 0 && kStep / 4 * 3 <= qdl::OutputFile::kRoomLimit, "a step fits the block");

    qdl::OutputFile& out_;
    // Lines gathered (each at least 4 characters, so at most kStep / 4).
    std::unique_ptr<char[]> staged_;
    std::size_t stagedSize_ = 0;
    std::uint16_t stagedLines_[kStep / 4];
    std::size_t stagedCount_ = 0;
    std::string carry_;
    bool heldBlank_ = false;
    bool skipping_ = false;
};

}  // namespace

cgp::ChildRun Parvex::runChild(const std::string& program, const std::vector<std::string>& args) const {
    cgp::ChildRun run;
    std::vector<std::string> argv = args;  // the launcher puts the program in front
    qdl::Process child = qdl::Process::launch(program, argv);
    run.finished = child.communicate(run.out, run.err, cgp::childTimeoutMs());
    run.status = child.exitStatus();
    return run;
}

bool Parvex::convertMessage(std::istream& in, std::vector<AttachmentRecord>& records) {
    bool found = false;
    cgp::LineCursor lines(in);
    std::vector<std::string> enclosing;
    if (!unpackParts(lines, records, found, enclosing)) {
        // Files could not be written here: what was unpacked may be cut
        // short, so nothing of this message is converted.
        records.clear();
        return false;
    }
    if (!records.empty()) return true;
    return found && alwaysRemoveWinmail;
}

namespace {

// What the walk does after one TNEF part.
enum class PartOutcome {
    Next,         // go on with the line that ended the part
    EndLevel,     // tnef reported an error: this level's walk ends
    KeepMessage,  // a local write failure: the message stays as it is
};

// The decoded winmail.dat of the part in hand, removed however the part's
// conversion ends.
struct DecodedFile {
    const std::string path;
    ~DecodedFile() { qdl::removeFile(path); }
};

// The per-part work, kept apart from the level loop so the loop stays readable.
class PartConverter {
public:
    PartConverter(const Parvex& filter, const std::string& tempDir, const cgp::UnpackDirectory& unpacked,
                  std::vector<AttachmentRecord>& records, std::size_t headLimit)
        : filter_(filter), tempDir_(tempDir), unpacked_(unpacked), records_(records), headLimit_(headLimit) {}

    // `enclosing`: the delimiter lines of the levels around this one.
    PartOutcome convert(cgp::LineCursor& message, std::streamoff partStart, const std::string& boundaryLine,
                        const std::vector<std::string>& enclosing, bool isAlternative, bool htmlSeen,
                        std::string& line);

private:
    bool decode(cgp::LineCursor& lines, const std::string& boundaryLine, const std::vector<std::string>& enclosing,
                AttachmentRecord& record, std::string& line);
    void decodeLines(cgp::LineCursor& lines, const std::string& boundaryLine, BodyDecoder& decoder, bool skipEmpty,
                     AttachmentRecord& record, std::string& line);
    void readOn(cgp::LineCursor& lines, const std::string& boundaryLine, const std::vector<std::string>& enclosing,
                BodyDecoder& decoder, AttachmentRecord& record, std::string& line);
    PartOutcome collect(const cgp::ChildRun& run, const std::set<std::string>& before, bool isAlternative,
                        bool htmlSeen, AttachmentRecord& record, std::size_t& kept);
    bool listed(const std::string& path, const AttachmentRecord& record) const;
    bool toHtml(std::string& entry, bool isAlternative);
    void report(const AttachmentRecord& record, std::size_t kept);
    cgp::ChildRun runChild(const std::string& program, const std::vector<std::string>& args) const;

    const Parvex& filter_;
    const std::string& tempDir_;
    const cgp::UnpackDirectory& unpacked_;  // tempDir_ itself, held open
    std::vector<AttachmentRecord>& records_;
    const std::size_t headLimit_;
};

// The one verdict for a file that could not be written here, by us or by a
// child: what was written may be cut short, so nothing of the message is
// converted, whatever the options say.
PartOutcome keepMessage(const std::string& why) {
    qdl::printLine("* " + why + ", the message is left unchanged");
    return PartOutcome::KeepMessage;
}

// One of the programs beside the filter.
cgp::ChildRun PartConverter::runChild(const std::string& program, const std::vector<std::string>& args) const {
    return filter_.runChild(filter_.programDir + program, args);
}

// Decodes body lines until an empty line (passed over with `skipEmpty`), a
// delimiter line of this level or the end of the input; a line that stops
// it is left in `line`, and the record ends after it.
void PartConverter::decodeLines(cgp::LineCursor& lines, const std::string& boundaryLine, BodyDecoder& decoder,
                                bool skipEmpty, AttachmentRecord& record, std::string& line) {
    const std::istream& in = lines.stream();
    for (;;) {
        const std::streamoff lineStart = lines.position();
        const char* text;
        std::size_t size;
        if (lines.wholeLine(text, size, headLimit_)) {
            if (size == 0 && skipEmpty) continue;
            if (size == 0 || cgp::isDelimiterLine(text, size, boundaryLine)) {
                line.assign(text, size);
                record.end = lines.position();
                record.endLine = lineStart;
                return;
            }
            decoder.line(text, size);
            continue;
        }
        line.clear();
        // A cut first piece is longer than any delimiter and not empty.
        bool whole = lines.piece(line, headLimit_);
        if (whole && line.empty() && skipEmpty && !in.eof() && !in.fail()) continue;
        if (whole && (line.empty() || cgp::isDelimiterLine(line, boundaryLine))) {
            record.end = lines.position();
            record.endLine = lineStart;
            return;
        }
        decoder.piece(line, whole);
        while (!whole) {
            whole = lines.piece(line, filter_.linePieceLimit);
            decoder.piece(line, whole);
        }
        if (in.eof() || in.fail()) return;
    }
}

// The empty line that stopped the decoding is normally followed by the next
// delimiter of this level. When other lines come first, the body goes on: a
// line break, even an empty line, ends nothing inside base64. They are
// decoded (empty ones passed over), and the record ends after the delimiter,
// so that a removed part takes them all along. When no delimiter of this
// level comes, or the way there crosses one of an enclosing level (a body
// left open), the record keeps its end at the empty line and nothing after
// it is decoded: those lines are not this part's to take.
void PartConverter::readOn(cgp::LineCursor& lines, const std::string& boundaryLine,
                           const std::vector<std::string>& enclosing, BodyDecoder& decoder, AttachmentRecord& record,
                           std::string& line) {
    const std::istream& in = lines.stream();
    const std::streamoff resume = lines.position();
    bool between = false;
    bool crossed = false;
    for (;;) {
        lines.head(line, headLimit_);
        if (in.fail()) return;
        if (cgp::isDelimiterLine(line, boundaryLine)) {
            if (!between || crossed || resume < 0) return;
            lines.seek(resume);
            decodeLines(lines, boundaryLine, decoder, true, record, line);
            return;
        }
        between = true;
        for (const std::string& outer : enclosing)
            if (cgp::isDelimiterLine(line, outer)) crossed = true;
        if (in.eof()) return;
    }
}

bool PartConverter::decode(cgp::LineCursor& lines, const std::string& boundaryLine,
                           const std::vector<std::string>& enclosing, AttachmentRecord& record, std::string& line) {
    const std::istream& in = lines.stream();
    // Written through its descriptor in large blocks, the decoder writing
    // straight into the block.
    qdl::OutputFile file(tempDir_ + "winmail.dat", O_WRONLY | O_CREAT | O_TRUNC);
    BodyDecoder decoder(file);
    decodeLines(lines, boundaryLine, decoder, false, record, line);
    if (line.empty() && in.good()) readOn(lines, boundaryLine, enclosing, decoder, record, line);
    decoder.finish();
    return file.close();
}

// The file an entry names, without the mark of a body alternative or a
// dropped RTF file.
bool namesFile(const std::string& entry, const std::string& path) {
    const std::size_t mark = entry.compare(0, 2, "\\*") == 0 ? 2 : entry.compare(0, 1, "*") == 0 ? 1 : 0;
    return entry.compare(mark, std::string::npos, path) == 0;
}

bool PartConverter::listed(const std::string& path, const AttachmentRecord& record) const {
    for (const std::string& e : record.entries)
        if (namesFile(e, path)) return true;
    for (const AttachmentRecord& r : records_)
        for (const std::string& e : r.entries)
            if (namesFile(e, path)) return true;
    return false;
}

// False when rtf2html could not write its HTML file here.
bool PartConverter::toHtml(std::string& entry, bool isAlternative) {
    const std::string stem = entry.substr(0, entry.size() - 4);
    // Never convert over a file tnef extracted, nor take it for our result.
    std::string html = stem + ".html";
    for (int n = 1; qdl::existsNoFollow(html); ++n)
        html = stem + "-" + std::to_string(n) + ".html";
    cgp::ChildRun run;
    try {
        run = runChild("rtf2html", {entry, html});
    } catch (...) {
        qdl::printLine("* Unable to start the rtf2html binary. RTF attachments will not be decoded.");
        return true;
    }
    if (!run.finished) {
        qdl::printLine("* rtf2html did not finish in time and was stopped, the RTF file is attached as it is");
        qdl::removeFile(html);
        return true;
    }
    const std::string failure = cgp::localWriteFailure(run);
    if (!failure.empty()) {
        qdl::removeFile(html);
        const std::string complaint = cgp::childComplaint(run.err);
        keepMessage("rtf2html could not write its HTML file (" + (complaint.empty() ? failure : complaint) + ")");
        return false;
    }
    if (!cgp::isRegularFileInside(html, tempDir_)) return true;
    qdl::removeFile(entry);
    entry = isAlternative ? "*" + html : html;
    return true;
}

// The record's entries from tnef's listing, then from every other file
// this run left in the directory: a tnef that died may not have flushed its
// listing, and a name holding a line end or the field separator garbles its
// line. `kept` counts the files not dropped by the -r option.
PartOutcome PartConverter::collect(const cgp::ChildRun& run, const std::set<std::string>& before, bool isAlternative,
                                   bool htmlSeen, AttachmentRecord& record, std::size_t& kept) {
    std::vector<std::string> paths;
    for (const std::string& outputLine : cgp::tnefListingLines(run.out)) {
        if (outputLine.compare(0, 7, "ERROR: ") == 0) {
            qdl::printLine("* " + outputLine + " Winmail.dat file is probably corrupted, stopping conversion.");
            if (!filter_.alwaysRemoveWinmail) records_.clear();
            return PartOutcome::EndLevel;
        }
        paths.push_back(cgp::tnefListingPath(outputLine, tempDir_));
    }
    for (const std::string& name : unpacked_.names())
        if (before.count(name) == 0) paths.push_back(tempDir_ + name);

    const std::string datPath = tempDir_ + "winmail.dat";
    const std::string marker = tempDir_ + cgp::kOwnDirectoryMarker;
    for (const std::string& path : paths) {
        // Only files this run's tnef wrote into its own directory replace the
        // part; messages such as "Seems not to be a TNEF file" do not. One
        // spelling per file, so no file is inserted (and deleted) twice.
        std::string entry = cgp::regularFileInside(path, tempDir_);
        if (entry.empty() || entry == datPath || entry == marker || listed(entry, record)) continue;
        ++kept;
        if (endsWithRtf(entry)) {
            if (!htmlSeen) {
                if (!toHtml(entry, isAlternative)) return PartOutcome::KeepMessage;
            } else if (filter_.noRtfAlternative) {
                entry = "\\*" + entry;
                --kept;
            }
        }
        record.entries.push_back(entry);
    }
    return PartOutcome::Next;
}

void PartConverter::report(const AttachmentRecord& record, std::size_t kept) {
    if (!record.entries.empty()) {
        records_.push_back(record);
        qdl::printLine(cgp::extractionReport(record.entries.size(), kept));
    } else {
        if (filter_.alwaysRemoveWinmail) records_.push_back(record);
        qdl::printLine("* This winmail.dat doesn't contain extractable attachments");
    }
}

PartOutcome PartConverter::convert(cgp::LineCursor& message, std::streamoff partStart, const std::string& boundaryLine,
                                   const std::vector<std::string>& enclosing, bool isAlternative, bool htmlSeen,
                                   std::string& line) {
    qdl::printLine("* Found a winmail.dat attachment, unpacking");
    AttachmentRecord record;
    record.start = partStart;
    record.end = 0;
    record.boundaryLine = boundaryLine;

    const DecodedFile dat{tempDir_ + "winmail.dat"};
    if (!decode(message, boundaryLine, enclosing, record, line)) {
        qdl::printLine("* Unable to write the decoded winmail.dat, the attachment is left unchanged");
        return PartOutcome::KeepMessage;
    }

    const std::set<std::string> before = unpacked_.names();
    cgp::ChildRun run;
    try {
        run = runChild("tnef", cgp::tnefArguments(dat.path, tempDir_, filter_.ignoreRtfBody));
    } catch (...) {
        qdl::printLine(
            "* Unable to start the tnef binary, unable to extract winmail.dat attachments. Message will be left "
            "unscanned");
        return PartOutcome::Next;
    }
    if (!run.finished) {
        qdl::printLine("* tnef did not finish in time and was stopped, the attachment is left unchanged");
        return PartOutcome::Next;
    }
    const std::string failure = cgp::localWriteFailure(run);
    if (!failure.empty()) {
        const std::string complaint = cgp::childComplaint(run.err);
        return keepMessage("tnef could not write the unpacked files (" + (complaint.empty() ? failure : complaint) + ")");
    }

    if (!run.err.empty() && run.err[0] != '\0')
        qdl::printLine("* " + cgp::childComplaint(run.err) + " Winmail.dat file is probably corrupted, stopping conversion.");

    std::size_t kept = 0;
    const PartOutcome outcome = collect(run, before, isAlternative, htmlSeen, record, kept);
    if (outcome != PartOutcome::Next) return outcome;

    const std::string ending = cgp::abnormalEnd(run.status);
    if (!ending.empty()) {
        if (!record.entries.empty() && !filter_.alwaysRemoveWinmail) {
            record.keepPart = true;
            qdl::printLine("* tnef " + ending + ", the winmail.dat attachment is kept beside the extracted files");
        } else {
            qdl::printLine("* tnef " + ending);
        }
    }
    report(record, kept);
    return PartOutcome::Next;
}

}  // namespace

bool Parvex::unpackParts(cgp::LineCursor& lines, std::vector<AttachmentRecord>& records, bool& found,
                         std::vector<std::string>& enclosing) {
    const std::istream& in = lines.stream();
    const int depth = static_cast<int>(enclosing.size());
    PartHeaders headers;
    cgp::readPartHeaders(lines, headers, linePieceLimit);
    if (headers.marked) {
        qdl::printLine("* This file has already been processed, skipping");
        return true;
    }
    const bool isAlternative = headers.contentType == "multipart/alternative";
    if (headers.contentType.compare(0, 10, "multipart/") != 0 || headers.boundary.empty()) return true;

    const std::string boundaryLine = "--" + headers.boundary;
    const std::string closingLine = boundaryLine + "--";
    // Without a directory of its own the run would unpack into the current one.
    std::string dir = tempDir.empty() ? programDir + "pvx_temp/" : tempDir;
    if (dir.back() != '/') dir += '/';
    // Only the start of a long line is looked at: a line cut there is longer
    // than any delimiter of this level, so it is never taken for one.
    const std::size_t headLimit = cgp::headLimitFor(linePieceLimit, boundaryLine);
    std::string line;
    lines.head(line, headLimit);
    if (depth == 0 && !unpackDir_.prepare(dir.substr(0, dir.size() - 1), !tempDir.empty())) {
        // Something that is not ours stands where our directory was: we
        // move to a new one and leave it alone.
        const std::string own = cgp::claimOwnDirectory(programDir + "pvx_temp");
        if (own.empty() || !unpackDir_.prepare(own, true)) {
            qdl::printLine("* Unable to make a directory to unpack into, the message is left unchanged");
            return false;
        }
        tempDir = own + "/";
        dir = tempDir;
    }
    bool htmlSeen = false;
    PartConverter converter(*this, dir, unpackDir_, records, headLimit);

    while (!in.eof() && !in.fail()) {
        if (line == boundaryLine) {
            const std::streamoff partStart = lines.position();
            PartHeaders part;
            // A part cut short by the next delimiter has no body to look at.
            if (cgp::readPartHeaders(lines, part, boundaryLine, line, linePieceLimit)) continue;
            const bool isTnef = part.contentType == "application/ms-tnef" || part.name == "winmail.dat";
            if (isTnef && part.marked) {
                // A part that batch mode kept beside its files: done before.
                qdl::printLine("* This file has already been processed, skipping");
            } else if (isTnef) {
                found = true;
                switch (converter.convert(lines, partStart, boundaryLine, enclosing, isAlternative, htmlSeen, line)) {
                case PartOutcome::Next: continue;
                case PartOutcome::EndLevel: return true;
                case PartOutcome::KeepMessage: return false;
                }
            }
            if (part.contentType.compare(0, 10, "multipart/") == 0 && partStart >= 0) {
                if (depth + 1 < cgp::kMaxWalkDepth) {
                    lines.seek(partStart);
                    enclosing.push_back(boundaryLine);
                    const bool whole = unpackParts(lines, records, found, enclosing);
                    enclosing.pop_back();
                    if (!whole) return false;
                } else {
                    qdl::printLine("* MIME structure nested too deeply, inner parts are left unscanned");
                }
            } else if (part.contentType == "text/html") {
                htmlSeen = isAlternative;
            }
        } else if (line == closingLine) {
            return true;
        }
        lines.head(line, headLimit);
    }
    return true;
}
