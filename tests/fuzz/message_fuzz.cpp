// Whole messages through the part-header reader, the walk and the copy, all
// in memory. tnef and rtf2html are replaced by a stand-in that writes a few
// files as the decoded TNEF data tells it, so no run starts a process.
//
// The last byte of the input picks the options, so every input chooses its
// own: bit 0 --keep-winmail, 1 --always-remove-winmail, 2
// --no-rtf-alternative, 3 --ignore-rtf-body, 4 small line pieces, 5 the copy
// as batch mode writes it.
//
// Beyond the sanitizers it checks that nothing outside the unpacking
// directory is touched, that the directory is empty after the message, and
// that with --keep-winmail every line of the message is in the copy.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "filter/internal/part_headers.h"
#include "filter/parvex.h"
#include "filter/temp_dirs.h"
#include "runtime/directory_handle.h"
#include "runtime/files.h"
#include "support/filter/message_builder.h"

namespace {

// Data of the stand-in: byte 0 says how tnef ends, byte 1 how it lists its
// files, the rest holds up to four file names, one a line.
enum Ending { Clean, Failed, Killed, Error, Hung, kEndings };

std::string arg(const std::vector<std::string>& args, const std::string& prefix) {
    for (const std::string& a : args)
        if (a.compare(0, prefix.size(), prefix) == 0) return a.substr(prefix.size());
    return std::string();
}

std::string safeName(std::string name) {
    if (name.size() > 24) name.resize(24);
    for (char& c : name)
        if (c == '/' || c == '\0') c = '_';
    if (name.empty() || name == "." || name == "..") name = "noname";
    return name;
}

class FuzzFilter : public Parvex {
public:
    std::string decoy;  // a file outside the unpacking directory that must stay

    cgp::ChildRun runChild(const std::string& program, const std::vector<std::string>& args) const override {
        cgp::ChildRun run;
        run.finished = true;
        run.status = 0;
        if (qdl::baseName(program) == "rtf2html") {
            if (args.size() == 2) writeFile(args[1], "<html><body>converted</body></html>\n");
            return run;
        }
        const std::string dir = arg(args, "--directory=");
        const std::string data = readFile(arg(args, "-f"));
        if (data.empty()) {
            run.status = 1 << 8;
            run.err = "Seems not to be a TNEF file\n";
            return run;
        }
        const unsigned listing = data.size() > 1 ? static_cast<unsigned char>(data[1]) : 0;
        std::vector<std::string> names;
        std::size_t at = 2;
        while (at < data.size() && names.size() < 4) {
            std::size_t nl = data.find('\n', at);
            if (nl == std::string::npos) nl = data.size();
            names.push_back(safeName(data.substr(at, nl - at)));
            at = nl + 1;
        }
        if (!arg(args, "--save-body=").empty() && (listing & 0x80) != 0) names.push_back("saved_body.rtf");
        for (std::size_t i = 0; i < names.size(); ++i) {
            writeFile(dir + "/" + names[i], "content of " + names[i] + "\n");
            switch ((listing >> (2 * (i % 3))) & 3) {
            case 0:
                run.out += names[i] + "\n";
                break;
            case 1:
                run.out += names[i] + "\t|\t" + dir + "/" + names[i] + "\t|\tapplication/octet-stream\t|\t\n";
                break;
            case 2:
                break;  // died before its listing was flushed: found in the directory
            default:
                run.out += "x\t|\t" + decoy + "\t|\t\n";  // a path out of the directory
                break;
            }
        }
        switch (static_cast<unsigned char>(data[0]) % kEndings) {
        case Failed:
            run.status = 1 << 8;
            run.err = "Unexpected end of input: Success\n";
            break;
        case Killed:
            run.status = SIGABRT;
            break;
        case Error:
            run.out += "ERROR: invalid checksum, input file may be corrupted\n";
            run.status = 1 << 8;
            break;
        case Hung:
            run.finished = false;
            run.status = SIGKILL;
            break;
        default:
            break;
        }
        return run;
    }

    static std::string readFile(const std::string& path) {
        std::string data;
        FILE* f = std::fopen(path.c_str(), "rb");
        if (f == nullptr) return data;
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
        std::fclose(f);
        return data;
    }

    static void writeFile(const std::string& path, const std::string& data) {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) return;
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }
};

FuzzFilter* filter = nullptr;
std::string workDir;

// The run's own folder goes when the fuzzer ends by its time limit.
void removeWorkDir() {
    if (workDir.empty()) return;
    const std::string::size_type slash = workDir.rfind('/');
    qdl::DirectoryHandle(workDir.substr(0, slash)).removeEntry(workDir.substr(slash + 1));
}

void fail(const char* what) {
    std::fprintf(stderr, "message_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The walk's progress lines would only slow the runs down.
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, 1);
        ::close(null);
    }
    const char* shm = qdl::isDirectory("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string root = std::string(shm) + "/message_fuzz_" + std::to_string(static_cast<long>(::getpid()));
    qdl::makeDirectory(root, false);
    workDir = root;
    std::atexit(removeWorkDir);
    filter = new FuzzFilter;
    filter->programDir = root + "/";
    filter->prepareTempDir();
    filter->decoy = root + "/decoy.txt";
    FuzzFilter::writeFile(filter->decoy, "not ours to read or delete\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string message(reinterpret_cast<const char*>(data), size);
    const unsigned flags = size > 0 ? data[size - 1] : 0;
    FuzzFilter& f = *filter;
    f.keepWinmail = (flags & 1) != 0;
    f.alwaysRemoveWinmail = (flags & 2) != 0;
    f.noRtfAlternative = (flags & 4) != 0;
    f.ignoreRtfBody = (flags & 8) != 0;
    f.linePieceLimit = (flags & 16) != 0 ? 7 : cgp::kDefaultLinePieceLimit;
    const bool batch = (flags & 32) != 0;

    {
        std::istringstream in(message);
        cgp::PartHeaders headers;
        cgp::readPartHeaders(in, headers, f.linePieceLimit);
    }

    std::istringstream in(message);
    f.skipEnvelope(in);
    in.clear();
    const std::streamoff bodyStart = in.tellg();
    std::vector<AttachmentRecord> records;
    if (f.convertMessage(in, records)) {
        in.clear();
        in.seekg(bodyStart);
        std::ostringstream out;
        f.writeConvertedMessage(in, out, records, batch);
        if (out.good() && f.keepWinmail && message.find('\r') == std::string::npos &&
            !testsupport::linesInOrder(message.substr(static_cast<std::size_t>(bodyStart < 0 ? 0 : bodyStart)), out.str()))
            fail("a line of the message is missing from the copy made with --keep-winmail");
    }
    // As the per-message clean-up does, whatever the copy left.
    cgp::clearOwnDirectory(f.tempDir);
    if (!qdl::isFile(f.decoy)) fail("a file outside the unpacking directory was deleted");
    std::vector<std::string> left;
    qdl::Directory dir(f.tempDir);
    while (dir.next()) left.push_back(dir.name());
    if (!left.empty()) fail("the unpacking directory is not empty after the message");
    return 0;
}
