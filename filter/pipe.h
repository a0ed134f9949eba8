#pragma once
// Hands new messages to the server through its "Submitted" directory under
// the working directory. A file is written under a reserved ".tmp" name and
// moved to that name + ".sub" when complete; the move hands it over. Names
// carry the process id, so instances running at once never share one, and
// the move never replaces a file that is there already.
#include <fstream>
#include <ostream>
#include <set>
#include <string>

#include "runtime/descriptor.h"
#include "runtime/file_buffers.h"
#include "runtime/stream.h"

namespace cgp {

class Pipe {
public:
    // Reserves a new name "Submitted/vivoveruriruve_<time>_<pid>_<counter>.tmp" and
    // creates the file empty (never reusing an existing name). When the file
    // cannot be created the name is returned all the same; the caller's
    // open then fails.
    static std::string newSubmitFile();
    // The same, keeping the new file open for writing: `fd` holds its
    // descriptor, none when it could not be created.
    static std::string newSubmitFile(qdl::Descriptor& fd);

    // Hands a written and closed file over: its data is synced, it is renamed
    // to name + ".sub" and the directory is synced. True once the rename is
    // done. Where the ".sub" name is taken, the file moves to a fresh
    // reserved name first. On false nothing was handed over and the file has
    // been removed.
    static bool submitFile(const std::string& name);

    // The same for a file still open in `out`: flushes and closes `out`,
    // and submits only when every write and the close succeeded. On false
    // the file has been removed and nothing was handed over.
    static bool submitFile(const std::string& name, std::ofstream& out);
    static bool submitFile(const std::string& name, qdl::OutputStream& out);

    // Drops a reserved file that will not be submitted.
    static void cancelSubmitFile(const std::string& name);

    // Removes the reserved files that instances which no longer run left in
    // "Submitted" when they were killed while writing: regular files of our
    // user, named as newSubmitFile names them, whose pid no process has.
    // Handed-over files (".sub"), the files of running processes and every
    // other name are left alone.
    static void removeStaleFiles();

    // The pid in a reserved name as newSubmitFile makes it (without the
    // directory), 0 when `name` is not one.
    static long reservedNamePid(const std::string& name);

    // "<" time "." counter "@vivoveruriruve>".
    static std::string makeMessageId();

    // Writes the envelope and the message text unchanged into a new file and
    // submits it. False when anything failed; nothing is then left behind.
    static bool writeMessage(const std::string& sender, const std::set<std::string>& recipients,
                             const std::string& message);

    // The counter behind names and message ids (tests).
    static int counter();

    // "Return-Path: " sender, then one "Envelope-To: " line per recipient in
    // set order; each line ends with LF.
    class Envelope : public qdl::ostream_func {
    public:
        Envelope(const std::string& sender, const std::set<std::string>& recipients)
            : sender(sender), recipients(recipients) {}
        std::ostream& operator()(std::ostream& out) const override;

        const std::string& sender;
        const std::set<std::string>& recipients;
    };

    // A minimal header block: Message-ID, From, To, Subject and Date (now, in
    // UTC), each ended by LF, then two more LF (two empty lines).
    class Headers : public qdl::ostream_func {
    public:
        Headers(const std::string& messageId, const std::string& from, const std::string& to,
                const std::string& subject)
            : messageId(messageId), from(from), to(to), subject(subject) {}
        std::ostream& operator()(std::ostream& out) const override;

        const std::string& messageId;
        const std::string& from;
        const std::string& to;
        const std::string& subject;
    };
};

}  // namespace cgp
