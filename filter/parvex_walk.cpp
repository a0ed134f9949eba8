// The walk over a message's MIME structure: finds TNEF parts, unpacks them
// with tnef, turns RTF into HTML with rtf2html and records what replaces
// each part. The message itself is not changed here.
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "filter/lines.h"
#include "filter/part_headers.h"
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

bool pathExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

void trimTrailingBlanks(std::string& s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
}

// How a child ended, for the log; empty for a clean exit.
std::string abnormalEnd(int status) {
    if (status == -1) return "ended in an unknown way";
    if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (!WIFEXITED(status)) return "ended in an unknown way";
    return std::string();
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
    static_assert(kStep % 4 == 0 && kStep / 4 * 3 <= qdl::OutputFile::roomLimit, "a step fits the block");

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
    unpackParts(lines, records, found, 0);
    if (!records.empty()) return true;
    return found && alwaysRemoveWinmail;
}

namespace {

// The per-part work, kept apart from the level loop so the loop stays readable.
class PartConverter {
public:
    PartConverter(const Parvex& filter, const std::string& tempDir, const cgp::UnpackDirectory& unpacked,
                  std::vector<AttachmentRecord>& records, std::size_t headLimit)
        : filter_(filter), tempDir_(tempDir), unpacked_(unpacked), records_(records), headLimit_(headLimit) {}

    // False when tnef reported an error that ends the walk of this level.
    bool convert(cgp::LineCursor& message, std::streamoff partStart, const std::string& boundaryLine, bool isAlternative,
                 bool htmlSeen, std::string& line);

private:
    bool decode(cgp::LineCursor& lines, const std::string& boundaryLine, AttachmentRecord& record, std::string& line);
    bool listed(const std::string& path, const AttachmentRecord& record) const;
    void toHtml(std::string& entry, bool isAlternative);
    cgp::ChildRun runChild(const std::string& program, const std::vector<std::string>& args) const;

    const Parvex& filter_;
    const std::string& tempDir_;
    const cgp::UnpackDirectory& unpacked_;  // tempDir_ itself, held open
    std::vector<AttachmentRecord>& records_;
    const std::size_t headLimit_;
};

// The empty line that ended the body is normally followed by the next
// delimiter. Other lines up to it still belong to the part: the record then
// ends after that delimiter, so that a removed part takes them along instead
// of leaving them to the part before. When the way there holds a line that
// could be another body's delimiter, or no delimiter comes, the record keeps
// its end at the empty line.
void passRest(cgp::LineCursor& lines, const std::string& boundaryLine, AttachmentRecord& record, std::string& line,
              std::size_t headLimit) {
    const std::istream& in = lines.stream();
    bool stray = false;
    bool plain = true;
    for (;;) {
        const std::streamoff lineStart = lines.position();
        lines.head(line, headLimit);
        if (in.fail()) return;
        if (cgp::isDelimiterLine(line, boundaryLine)) {
            if (stray && plain) {
                record.end = lines.position();
                record.endLine = lineStart;
            }
            return;
        }
        stray = true;
        if (line.compare(0, 2, "--") == 0) plain = false;
        if (in.eof()) return;
    }
}

// One of the programs beside the filter.
cgp::ChildRun PartConverter::runChild(const std::string& program, const std::vector<std::string>& args) const {
    return filter_.runChild(filter_.programDir + program, args);
}

bool PartConverter::decode(cgp::LineCursor& lines, const std::string& boundaryLine, AttachmentRecord& record,
                           std::string& line) {
    const std::istream& in = lines.stream();
    // Written through its descriptor in large blocks, the decoder writing
    // straight into the block.
    qdl::OutputFile file(tempDir_ + "winmail.dat", O_WRONLY | O_CREAT | O_TRUNC);
    BodyDecoder decoder(file);
    for (;;) {
        const std::streamoff lineStart = lines.position();
        const char* text;
        std::size_t size;
        if (lines.wholeLine(text, size, headLimit_)) {
            if (size == 0 || cgp::isDelimiterLine(text, size, boundaryLine)) {
                line.assign(text, size);
                record.end = lines.position();
                record.endLine = lineStart;
                break;
            }
            decoder.line(text, size);
            continue;
        }
        line.clear();
        // A cut first piece is longer than any delimiter and not empty.
        bool whole = lines.piece(line, headLimit_);
        if (whole && (line.empty() || cgp::isDelimiterLine(line, boundaryLine))) {
            record.end = lines.position();
            record.endLine = lineStart;
            break;
        }
        decoder.piece(line, whole);
        while (!whole) {
            whole = lines.piece(line, filter_.linePieceLimit);
            decoder.piece(line, whole);
        }
        if (in.eof() || in.fail()) break;
    }
    if (line.empty() && in.good()) passRest(lines, boundaryLine, record, line, headLimit_);
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

void PartConverter::toHtml(std::string& entry, bool isAlternative) {
    const std::string stem = entry.substr(0, entry.size() - 4);
    // Never convert over a file tnef extracted, nor take it for our result.
    std::string html = stem + ".html";
    for (int n = 1; pathExists(html); ++n)
        html = stem + "-" + std::to_string(n) + ".html";
    cgp::ChildRun run;
    try {
        run = runChild("rtf2html", {entry, html});
    } catch (...) {
        qdl::printLine("* Unable to start the rtf2html binary. RTF attachments will not be decoded.");
        return;
    }
    if (!run.finished) {
        qdl::printLine("* rtf2html did not finish in time and was stopped, the RTF file is attached as it is");
        qdl::removeFile(html);
        return;
    }
    if (!cgp::isRegularFileInside(html, tempDir_)) return;
    qdl::removeFile(entry);
    entry = isAlternative ? "*" + html : html;
}

bool PartConverter::convert(cgp::LineCursor& message, std::streamoff partStart, const std::string& boundaryLine,
                            bool isAlternative, bool htmlSeen, std::string& line) {
    qdl::printLine("* Found a winmail.dat attachment, unpacking");
    AttachmentRecord record;
    record.start = partStart;
    record.end = 0;
    record.boundaryLine = boundaryLine;

    const std::string datPath = tempDir_ + "winmail.dat";
    if (!decode(message, boundaryLine, record, line)) {
        qdl::printLine("* Unable to write the decoded winmail.dat, the attachment is left unchanged");
        qdl::removeFile(datPath);
        return true;
    }

    std::vector<std::string> args;
    args.push_back("-f");
    args.push_back(datPath);
    if (!filter_.ignoreRtfBody) args.push_back("--save-body=saved_body");
    args.push_back("--number-backups");
    args.push_back("--directory=" + tempDir_.substr(0, tempDir_.size() - 1));
    args.push_back("--verbose");

    const std::set<std::string> before = unpacked_.names();
    cgp::ChildRun run;
    try {
        run = runChild("tnef", args);
    } catch (...) {
        qdl::printLine(
            "* Unable to start the tnef binary, unable to extract winmail.dat attachments. Message will be left "
            "unscanned");
        qdl::removeFile(datPath);
        return true;
    }
    if (!run.finished) {
        qdl::printLine("* tnef did not finish in time and was stopped, the attachment is left unchanged");
        qdl::removeFile(datPath);
        return true;
    }

    if (!run.err.empty() && run.err[0] != '\0') {
        std::string text = run.err.substr(0, 4096);
        std::string joined;
        for (char c : text) {
            if (c == '\0') break;
            if (c == '\r') continue;
            joined += c == '\n' ? ' ' : c;
        }
        trimTrailingBlanks(joined);
        qdl::printLine("* " + joined + " Winmail.dat file is probably corrupted, stopping conversion.");
    }

    std::string text;
    text.reserve(run.out.size());
    for (char c : run.out)
        if (c != '\r') text += c;
    std::vector<std::string> lines;
    if (text.size() >= 2) {
        std::size_t pos = 0;
        while (pos <= text.size()) {
            std::size_t nl = text.find('\n', pos);
            if (nl == std::string::npos) nl = text.size();
            if (nl > pos) lines.push_back(text.substr(pos, nl - pos));
            pos = nl + 1;
        }
    }

    const std::string ending = abnormalEnd(run.status);
    // Paths named by the listing, then every other file this run left in the
    // directory: a tnef that died may not have flushed its listing, and a
    // name holding a line end or the field separator garbles its line.
    std::vector<std::string> paths;
    for (const std::string& outputLine : lines) {
        if (outputLine.compare(0, 7, "ERROR: ") == 0) {
            qdl::printLine("* " + outputLine + " Winmail.dat file is probably corrupted, stopping conversion.");
            if (!filter_.alwaysRemoveWinmail) records_.clear();
            qdl::removeFile(datPath);
            return false;
        }
        paths.push_back(cgp::tnefListingPath(outputLine, tempDir_));
    }
    for (const std::string& name : unpacked_.names())
        if (before.count(name) == 0) paths.push_back(tempDir_ + name);

    std::size_t kept = 0;
    for (const std::string& path : paths) {
        // Only files this run's tnef wrote into its own directory replace the
        // part; messages such as "Seems not to be a TNEF file" do not. One
        // spelling per file, so no file is inserted (and deleted) twice.
        std::string entry = cgp::regularFileInside(path, tempDir_);
        if (entry.empty() || entry == datPath || listed(entry, record)) continue;
        ++kept;
        if (endsWithRtf(entry)) {
            if (!htmlSeen) {
                toHtml(entry, isAlternative);
            } else if (filter_.noRtfAlternative) {
                entry = "\\*" + entry;
                --kept;
            }
        }
        record.entries.push_back(entry);
    }

    if (!ending.empty()) {
        if (!record.entries.empty() && !filter_.alwaysRemoveWinmail) {
            record.keepPart = true;
            qdl::printLine("* tnef " + ending + ", the winmail.dat attachment is kept beside the extracted files");
        } else {
            qdl::printLine("* tnef " + ending);
        }
    }

    if (!record.entries.empty()) {
        const std::size_t count = record.entries.size();
        std::string report = "* Extracted " + std::to_string(count) + " file(s) from winmail.dat";
        if (kept != count) report += " (" + std::to_string(count - kept) + " ignored by the -r option)";
        records_.push_back(record);
        qdl::printLine(report);
    } else {
        if (filter_.alwaysRemoveWinmail) records_.push_back(record);
        qdl::printLine("* This winmail.dat doesn't contain extractable attachments");
    }
    qdl::removeFile(datPath);
    return true;
}

}  // namespace

void Parvex::unpackParts(cgp::LineCursor& lines, std::vector<AttachmentRecord>& records, bool& found, int depth) {
    const std::istream& in = lines.stream();
    PartHeaders headers;
    cgp::readPartHeaders(lines, headers, linePieceLimit);
    if (headers.marked) {
        qdl::printLine("* This file has already been processed, skipping");
        return;
    }
    const bool isAlternative = headers.contentType == "multipart/alternative";
    if (headers.contentType.compare(0, 10, "multipart/") != 0 || headers.boundary.empty()) return;

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
    if (depth == 0) {
        // Since the last message the directory may have gone with the shared
        // pvx_temp, or a link may stand in its place: made real again first.
        const std::string own = dir.substr(0, dir.size() - 1);
        unpackDir_.prepare(own, !tempDir.empty());
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
                if (!converter.convert(lines, partStart, boundaryLine, isAlternative, htmlSeen, line)) return;
                continue;
            }
            if (part.contentType.compare(0, 10, "multipart/") == 0 && partStart >= 0) {
                if (depth + 1 < cgp::maxWalkDepth) {
                    lines.seek(partStart);
                    unpackParts(lines, records, found, depth + 1);
                } else {
                    qdl::printLine("* MIME structure nested too deeply, inner parts are left unscanned");
                }
            } else if (part.contentType == "text/html") {
                htmlSeen = isAlternative;
            }
        } else if (line == closingLine) {
            return;
        }
        lines.head(line, headLimit);
    }
}
