// The TNEF filter object: start-up, command line and the per-message step.
#include "filter/parvex.h"

#include <unistd.h>

#include <boost/program_options.hpp>
#include <iostream>
#include <utility>

#include "filter/internal/part_headers.h"
#include "filter/pipe.h"
#include "filter/temp_dirs.h"
#include "runtime/descriptor.h"
#include "runtime/file_buffers.h"
#include "runtime/files.h"
#include "runtime/log.h"

namespace po = boost::program_options;

namespace {

const char* const kTitle = "* Quandrel's Parvex filter 2.6 for Communigate Pro\n";

}  // namespace

Parvex::Parvex() : cgp::ExtFilter(false) {}

Parvex::~Parvex() = default;

bool Parvex::parseCommandLine(int argc, char** argv, const std::string& title, std::string& path) {
    po::options_description options(title + "* Converts TNEF attachments into ordinary MIME parts\n\nUsage", 80);
    options.add_options()
        ("help,h", "Help. Shows this screen.")
        ("keep-winmail,k", po::bool_switch(&keepWinmail),
         "Keep the winmail.dat attachment along with the extracted attachment. The default behavior is to "
         "discard winmail.dat.")
        ("no-rtf-alternative,r", po::bool_switch(&noRtfAlternative),
         "Ignore the rtf body when a text/html part is already present in the text/alternative section of the "
         "message. The default behavior is to add a text/rtf alternative.")
        ("ignore-rtf-body", po::bool_switch(&ignoreRtfBody), "Ignore the rtf body in ALL cases")
        ("always-remove-winmail", po::bool_switch(&alwaysRemoveWinmail),
         "Always remove the winmail.dat attachment, whether or not something was extracted from it. The default "
         "behavior is to leave the winmail.dat part alone when nothing relevant can be extracted.")
        ("path,p", po::value<std::string>(&path)->default_value(""),
         "Specify the path of the mdir mailbox containing the emails to convert. This enables the batch mode.")
        ("no-recurse,n", po::bool_switch(&noRecurse),
         "In batch mode, do not recurse into subdirectories. The default behavior is to recurse into "
         "subdirectories.");
    po::options_description hidden("all visible and hidden options");
    po::options_description all("all visible and hidden options");
    all.add(options).add(hidden);

    const std::string invokedAs = argc > 0 && argv[0] ? argv[0] : "parvex";
    po::variables_map vm;
    try {
        po::store(po::parse_command_line(argc, argv, all), vm);
        po::notify(vm);
    } catch (const po::multiple_occurrences&) {
        std::cerr << "\noption should only be specified once\n\n" << invokedAs << " --help for usage information"
                  << std::endl;
        return false;
    } catch (const po::error& e) {
        std::cerr << "\n" << e.what() << "\n\n" << invokedAs << " --help for usage information" << std::endl;
        return false;
    }
    if (vm.count("help")) {
        std::cout << all << "\n" << std::flush;
        return false;
    }
    qdl::printLine("* Quandrel's Parvex filter 2.6");
    qdl::printLine("* This filter will extract winmail.dat attachments from messages and ");
    qdl::printLine("*    reinserts extracted content of winmail.dat into them.           ");
    qdl::printLine("*");
    return true;
}

namespace {

const char kReinstall[] = "* Please reinstall the filter and follow the INSTALL instructions";

// The start-up lines on one program of the program directory: found, or the
// error with what follows from it; true when found.
bool reportProgram(bool found, const std::string& name, const std::string& consequence,
                   const std::string& reinstall = kReinstall) {
    if (found) {
        qdl::printLine("* Found " + name + " binary");
    } else {
        qdl::printLine("* ERROR: " + name + " binary not found, " + consequence);
        qdl::printLine(reinstall);
    }
    return found;
}

void reportRtf2html(bool found) {
    reportProgram(found, "rtf2html", "rtf bodies will not be decoded as html");
}

}  // namespace

int Parvex::run(int argc, char** argv) {
    std::string batchPath;
    if (!parseCommandLine(argc, argv, kTitle, batchPath)) return 0;

    programDir = qdl::directoryOf(argc > 0 && argv[0] ? argv[0] : "");
    prepareTempDir();
    if (batchPath.empty())
        serveRequests();
    else
        convertBatch(batchPath);
    finishTempDir();
    return 0;
}

void Parvex::serveRequests() {
    const bool haveTnef = qdl::isFile(programDir + "tnef");
    const bool haveRtf2html = qdl::isFile(programDir + "rtf2html");
    if (!qdl::isDirectory("Submitted")) {
        std::string submitted = "Submitted";
        qdl::makeDirectory(submitted, false);
    }
    // A killed instance's half-written copies: its requests were never
    // answered, so the server sends those messages again.
    cgp::Pipe::removeStaleFiles();
    if (keepWinmail) qdl::printLine("* -k specified, original winmail.dat will be kept with extracted attachments");
    reportProgram(haveTnef, "tnef", "messages will be left unscanned");
    if (!ignoreRtfBody) reportRtf2html(haveRtf2html);
    Helper::run();
}

void Parvex::convertBatch(const std::string& path) {
    const bool haveTnef = qdl::isFile(programDir + "tnef");
    const bool haveRtf2html = qdl::isFile(programDir + "rtf2html");
    // Without tnef nothing could be converted: the batch ends here.
    if (!reportProgram(haveTnef, "tnef", "unable to contine.", std::string(kReinstall) + ".")) return;
    reportRtf2html(haveRtf2html);
    convertMdirTree(path);
}

void Parvex::prepareTempDir() {
    // Each running instance (the filter, a batch) unpacks into a directory of
    // its own, so two of them never remove each other's files.
    const std::string shared = programDir + "pvx_temp";
    cgp::removeEndedInstances(shared);
    std::string own = cgp::claimOwnDirectory(shared);
    // None could be made: each message tries again, and is left unchanged
    // while that fails.
    if (own.empty()) own = shared + "/" + std::to_string(static_cast<long>(::getpid()));
    tempDir = own + "/";
}

void Parvex::finishTempDir() {
    const std::string shared = programDir + "pvx_temp";
    if (!tempDir.empty()) cgp::removeOwnDirectory(shared, qdl::baseName(tempDir.substr(0, tempDir.size() - 1)));
    // Only once no other instance uses it; a link there is not a directory
    // to remove, and what it points to is left as it is.
    qdl::removeDirectory(shared, false);
}

namespace {

// Removes what this message left in the unpacking directory, however the
// step ends.
struct TempCleaner {
    const cgp::UnpackDirectory& unpacked;
    const std::string& dir;
    ~TempCleaner() {
        if (!dir.empty()) unpacked.clear(dir);
    }
};

// The address between the first "<" at or after index 4 and the next ">".
bool envelopeAddress(const std::string& line, std::string& address) {
    if (line.size() < 5) return false;
    const std::size_t lt = line.find('<', 4);
    if (lt == std::string::npos) return false;
    const std::size_t gt = line.find('>', lt);
    if (gt == std::string::npos) return false;
    address = line.substr(lt + 1, gt - lt - 1);
    cgp::toLowerFrom(address, 0);
    return true;
}

}  // namespace

cgp::ExtFilter::Result Parvex::processMessage(int seqID, const std::string& path) {
    qdl::InputStream in(path);
    return processMessage(seqID, path, in);
}

cgp::ExtFilter::Result Parvex::processMessage(int, const std::string& path, std::istream& in) {
    // Whatever goes wrong with one message, the server must go on delivering
    // mail: the message then goes through unchanged.
    try {
        return convertQueued(path, in);
    } catch (const std::exception& e) {
        qdl::printLine(std::string("* Unexpected error (") + e.what() + "), message is delivered unchanged");
    } catch (...) {
        qdl::printLine("* Unexpected error, message is delivered unchanged");
    }
    return Result::OK;
}

cgp::ExtFilter::Result Parvex::convertQueued(const std::string& path, std::istream& in) {
    if (!qdl::isFile(programDir + "tnef")) {
        qdl::printLine("* tnef binary not found, message is left unscanned");
        return Result::OK;
    }
    if (!in) {
        qdl::printLine("* Unexpected error, contact Quandrel");
        return Result::OK;
    }
    TempCleaner cleaner{unpackDir_, tempDir};

    std::string sender;
    std::set<std::string> recipients;
    if (hasEnvelope(in)) {
        std::string line, address;
        while (!in.eof()) {
            // An envelope line is short; only the start of a longer one counts.
            cgp::readLineHead(in, line, linePieceLimit);
            if (in.fail() || line.empty()) break;
            if ((line[0] == 'P' || line[0] == 'R') && envelopeAddress(line, address)) {
                if (line[0] == 'P')
                    sender = address;
                else
                    recipients.insert(address);
            }
        }
    } else {
        in.clear();
        in.seekg(0);
    }
    // The copy starts here again, without reading the envelope once more.
    const std::streampos bodyStart = in.rdbuf()->pubseekoff(0, std::ios::cur, std::ios::in);

    std::vector<AttachmentRecord> records;
    const bool convert = convertMessage(in, records);
    if (in.bad()) {
        qdl::printLine("* Unable to read " + path + ", message is delivered unchanged");
        return Result::OK;
    }
    if (!convert) return Result::OK;
    // A copy addressed to no one would take the original's place and reach
    // nobody.
    if (recipients.empty()) {
        qdl::printLine("* The message has no envelope recipients, it is delivered unchanged");
        return Result::OK;
    }

    in.clear();
    in.seekg(bodyStart);

    // The reserved file goes again on every way out but a submission,
    // exceptions included, so nothing half-written reaches the server later.
    struct Reservation {
        qdl::Descriptor fd;  // the new file, written through the descriptor that made it
        const std::string name = cgp::Pipe::newSubmitFile(fd);
        bool submitted = false;
        ~Reservation() {
            if (!submitted) cgp::Pipe::cancelSubmitFile(name);
        }
    } reservation;
    const std::string& name = reservation.name;
    qdl::printLine("* Creating a new message with the extracted attachments");
    qdl::OutputStream out(std::move(reservation.fd));
    if (!out) {
        qdl::printLine("* Unable to create the new message " + name + ", original message is delivered unchanged");
        return Result::OK;
    }
    out << cgp::Pipe::Envelope(sender, recipients);
    out << "X-Parvex: " << records.size() << " attachments extracted.\n";
    out << "X-ExtScanner: Quandrel's Parvex filter\n";
    writeConvertedMessage(in, out, records);
    // The original is discarded only once its copy is whole on disk and
    // handed to the server; otherwise the server delivers it unchanged.
    if (!cgp::Pipe::submitFile(name, out)) {
        qdl::printLine("* Unable to write the new message " + name + ", original message is delivered unchanged");
        return Result::OK;
    }
    reservation.submitted = true;
    qdl::printLine("* Submitting new message and discarding original");
    return Result::DISCARD;
}
