#pragma once
// Short ways to build data-set values in tests, and a text that shows a
// value's kinds (a string and a data block of the same bytes look alike in
// the server's own form).
#include <initializer_list>
#include <string>
#include <utility>

#include "serverdata/dataset.h"

namespace testsupport {

cgp::DataSet str(const std::string& text);
cgp::DataSet block(const std::string& bytes);
cgp::DataSet array(std::initializer_list<cgp::DataSet> elements);
cgp::DataSet dict(std::initializer_list<std::pair<std::string, cgp::DataSet>> members);
cgp::DataSet none();  // an empty value

// E, S"text", B"bytes", A[...], D{key:value,...} with keys sorted and
// non-printing bytes as \xHH; "null" for a null handle.
std::string describe(const cgp::DataSet& value);

}  // namespace testsupport
