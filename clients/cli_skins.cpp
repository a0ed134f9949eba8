// Skins, web files, the web-user interface and sessions, monitoring and
// control: one line per command, in the forms of cli_command.h.
#include "clients/cli.h"

#include "runtime/escape.h"

namespace cgp {

using namespace cmd;

std::string CLI::getCurrentController() { return textQuery("GetCurrentController", {}); }

DataSet CLI::getWebFile(const std::string& account, const std::string& file) {
    return dataQuery("GetWebFile", {P(account), "FILE", Q(file)});
}

DataSet CLI::getWebFile(const std::string& account, const std::string& file, unsigned long offset,
                        unsigned long size) {
    return dataQuery("GetWebFile", {P(account), "FILE", Q(file), "OFFSET", N(offset), "SIZE", N(size)});
}

void CLI::putWebFile(const std::string& account, const std::string& file, const std::string& data) {
    command("PutWebFile", {P(account), "FILE", Q(file), "DATA", Tail(data)});
}

void CLI::putWebFile(const std::string& account, const std::string& file, const std::string& data,
                     unsigned long offset) {
    command("PutWebFile", {P(account), "FILE", Q(file), "OFFSET", N(offset), "DATA", Tail(data)});
}

void CLI::writeLog(int level, const std::string& text) {
    checkArgument(text);
    // Escaped once here and once more as a data-set string: the server
    // unescapes twice.
    command("WriteLog", {N(level), S(qdl::cgpEscape(text)).unchecked()});
}

}  // namespace cgp
