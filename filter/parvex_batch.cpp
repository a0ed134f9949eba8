// Batch mode: every message file of an mdir tree that holds TNEF content is
// rewritten in place.
#include <sys/stat.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "filter/parvex.h"
#include "runtime/file_buffers.h"
#include "runtime/files.h"
#include "runtime/log.h"
#include "runtime/replacement_file.h"

namespace {

typedef std::set<std::pair<dev_t, ino_t>> VisitedSet;

void walk(Parvex& filter, const std::string& dir, VisitedSet& visited) {
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0) return;
    if (!visited.insert(std::make_pair(st.st_dev, st.st_ino)).second) {
        qdl::printLine("* Skipping directory visited before " + dir);
        return;
    }
    // The names are read first: the rewrites below add and rename entries,
    // and a directory listing that changes while it is read may repeat them.
    std::vector<std::string> names;
    {
        qdl::Directory listing(dir);
        while (listing.next()) names.push_back(listing.name());
    }
    for (const std::string& name : names) {
        const std::string full = dir + "/" + name;
        if (qdl::isDirectory(full)) {
            if (!filter.noRecurse) walk(filter, full, visited);
        } else {
            filter.convertMdirFile(full);
        }
    }
}

}  // namespace

void Parvex::convertMdirTree(const std::string& path) {
    VisitedSet visited;
    walk(*this, path, visited);
}

void Parvex::convertMdirFile(const std::string& path) {
    if (qdl::baseName(path).find('.') != std::string::npos) {
        qdl::printLine("* Skipping non-mdir file " + path);
        return;
    }
    qdl::printLine("* Processing " + path);
    // Only a regular file is opened: opening a FIFO would wait for a writer.
    struct stat original;
    if (::stat(path.c_str(), &original) != 0 || !S_ISREG(original.st_mode)) {
        qdl::printLine("* Unable to open file " + path);
        return;
    }
    qdl::InputStream in(path);
    if (in.fail() || in.bad()) {
        qdl::printLine("* Unable to open file " + path);
        return;
    }

    skipEnvelope(in);
    // The copy starts here again, without reading the envelope once more.
    const std::streampos bodyStart = in.rdbuf()->pubseekoff(0, std::ios::cur, std::ios::in);
    std::vector<AttachmentRecord> records;
    const bool convert = convertMessage(in, records);
    if (in.bad()) {
        // A read error: what the walk saw is not the whole message.
        qdl::printLine("* Unable to open file " + path);
        return;
    }
    if (!convert) return;
    in.clear();
    in.seekg(bodyStart);

    // The copy, with the message's mode and (where allowed) owner, is made
    // afresh as path + ".tmp": a file already there is not ours to overwrite.
    qdl::ReplacementFile::Options options;
    options.lead = path + ".tmp";
    options.like = &original;
    qdl::ReplacementFile copy(path, options);
    bool written = copy.isOpen();
    if (written) {
        writeConvertedMessage(in, copy.out(), records, true);
        written = !in.bad() && copy.close(true);
    }
    in.close();
    if (!written) {
        qdl::printLine("* Unable to write the converted copy of " + path + ", file left unchanged");
        return;
    }
    // One rename replaces the message: at every moment the name holds either
    // the whole original or the whole converted copy.
    if (!copy.commit())
        qdl::printLine("* Unable to replace " + path + " with its converted copy, file left unchanged");
}
