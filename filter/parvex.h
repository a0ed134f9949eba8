#pragma once
// The TNEF filter: filter mode over the server protocol, and batch mode.
#include <istream>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "filter/attachment.h"
#include "filter/extfilter.h"
#include "filter/lines.h"
#include "filter/temp_dirs.h"
#include "filter/unpack.h"

class Parvex : public cgp::ExtFilter {
public:
    Parvex();
    ~Parvex() override;

    // Program entry: command line, start-up, then the loop or the batch.
    int run(int argc, char** argv);
    // Sets the flags and the batch path; prints the usage, an error or the
    // banner. False means the run ends here.
    bool parseCommandLine(int argc, char** argv, const std::string& title, std::string& path);

    Result processMessage(int seqID, const std::string& path) override;
    Result processMessage(int seqID, const std::string& path, std::istream& message) override;

    // The walk: true when the message is to be rewritten from `records`.
    // False also when files could not be written while unpacking (a full
    // disk, a quota, the file-size limit): `records` is then empty.
    bool convertMessage(std::istream& in, std::vector<AttachmentRecord>& records);
    // Walks one multipart level; `enclosing` holds the delimiter lines of the
    // levels around it. False when the message is to be left as it is.
    bool unpackParts(cgp::LineCursor& in, std::vector<AttachmentRecord>& records, bool& found,
                     std::vector<std::string>& enclosing);

    // Copies the message from `in` to `out`, each recorded part replaced by
    // its extracted files; inserted files are deleted once written. With
    // `markKeptParts` (batch mode, whose copies carry no mark at the top) a
    // TNEF part kept beside its files gets an "X-Parvex:" line of its own.
    void writeConvertedMessage(std::istream& in, std::ostream& out, const std::vector<AttachmentRecord>& records,
                               bool markKeptParts = false);

    // Runs tnef or rtf2html with `args`, bounded in time; throws what the
    // launcher throws. The fuzz target puts a stand-in in its place.
    virtual cgp::ChildRun runChild(const std::string& program, const std::vector<std::string>& args) const;

    // Batch mode over an mdir tree.
    void convertMdirFile(const std::string& path);
    void convertMdirTree(const std::string& path);

    // Start-up: makes this instance's own unpacking directory (tempDir), a
    // new directory of ours, and removes those of ours that ended instances
    // left.
    void prepareTempDir();
    // End of the run: removes tempDir, and pvx_temp once no other instance
    // uses it (a link there stays, and so does all it points to).
    void finishTempDir();

    std::string programDir;  // with its trailing "/"
    // This instance's own unpacking directory: programDir + "pvx_temp/" + pid
    // + "/", or pid + "-" + n where something not ours stands at that name.
    std::string tempDir;
    bool noRecurse = false;
    bool keepWinmail = false;
    bool noRtfAlternative = false;
    bool ignoreRtfBody = false;
    bool alwaysRemoveWinmail = false;
    // Longest piece of a message line the walk and the copy hold at once.
    std::size_t linePieceLimit = cgp::kDefaultLinePieceLimit;

private:
    // The two ways a run goes after the start-up: the protocol loop on the
    // standard input, or the batch over the tree at `path`. Each first
    // reports the programs it needs.
    void serveRequests();
    void convertBatch(const std::string& path);

    Result convertQueued(const std::string& path, std::istream& in);

    // The unpacking directory of the message under way, held open.
    cgp::UnpackDirectory unpackDir_;
};
