// Batch mode: every message file of an mdir tree that holds TNEF content is
// rewritten in place.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "filter/parvex.h"
#include "runtime/file_buffers.h"
#include "runtime/files.h"
#include "runtime/log.h"
#include "runtime/stream.h"

namespace {

typedef std::set<std::pair<dev_t, ino_t>> VisitedSet;

// Creates `path` afresh for the converted copy, with the mode (and, where
// allowed, the owner) of the message it replaces; the owner may write it
// until it is complete (see finishCopy). A file already there under that
// name is not ours to overwrite.
bool createCopy(const std::string& path, const struct stat& original) {
    const int fd = qdl::openFile(path, O_WRONLY | O_CREAT | O_EXCL);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, (original.st_mode & 07777) | S_IWUSR) == 0;
    if (ok && (original.st_uid != ::geteuid() || original.st_gid != ::getegid())) {
        // Only root may give the file away; anyone else keeps it as theirs.
        if (::fchown(fd, original.st_uid, original.st_gid) != 0 && errno != EPERM) ok = false;
    }
    qdl::closeFile(fd);
    if (!ok) qdl::removeFile(path);
    return ok;
}

// The written copy takes the message's own mode, also when that mode
// denies writing.
bool finishCopy(const std::string& path, const struct stat& original) {
    if ((original.st_mode & S_IWUSR) != 0) return true;
    return ::chmod(path.c_str(), original.st_mode & 07777) == 0;
}

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

    const std::string tmp = path + ".tmp";
    bool written = createCopy(tmp, original);
    if (written) {
        qdl::ofstream out(tmp);
        writeConvertedMessage(in, out, records, true);
        out.flush();
        written = out.good() && !in.bad();
        out.close();
        if (out.fail()) written = false;
        if (written) written = finishCopy(tmp, original) && qdl::syncFile(tmp);
        if (!written) qdl::removeFile(tmp);
    }
    in.close();
    if (!written) {
        qdl::printLine("* Unable to write the converted copy of " + path + ", file left unchanged");
        return;
    }
    // One rename replaces the message: at every moment the name holds either
    // the whole original or the whole converted copy.
    if (!qdl::renameFile(tmp, path)) {
        qdl::removeFile(tmp);
        qdl::printLine("* Unable to replace " + path + " with its converted copy, file left unchanged");
        return;
    }
    qdl::syncDirectory(qdl::directoryOf(path));
}
