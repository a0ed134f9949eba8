#pragma once
// The real-world TNEF samples. They are not part of the project: only the
// tests about them read them, and those skip, with the reason, when there
// are none.
#include <string>
#include <vector>

namespace testsupport {

// $PARVEX_TNEF_SAMPLES when set, else the shared fixtures folder beside the
// source tree.
std::string tnefSamplesDir();

// The names of the ".tnef" files there, sorted; empty when there are none.
std::vector<std::string> tnefSamples();

// The path of one sample, empty when it is not there.
std::string tnefSample(const std::string& name);

// Why a test about the samples is skipped.
std::string noSamplesReason();

}  // namespace testsupport
