#include "support/filter/samples.h"

#include <cstdlib>

#include "support/core/run_program.h"
#include "support/core/tool_path.h"

namespace testsupport {

std::string tnefSamplesDir() {
    const char* dir = std::getenv("PARVEX_TNEF_SAMPLES");
    return dir != nullptr ? std::string(dir) : std::string(PARVEX_FIXTURES_DIR);
}

std::vector<std::string> tnefSamples() {
    std::vector<std::string> names;
    for (const std::string& name : listDir(tnefSamplesDir()))
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".tnef") == 0) names.push_back(name);
    return names;
}

std::string tnefSample(const std::string& name) {
    const std::string path = tnefSamplesDir() + "/" + name;
    return pathExists(path) ? path : std::string();
}

std::string noSamplesReason() { return "no TNEF samples at " + tnefSamplesDir(); }

}  // namespace testsupport
