#pragma once
// Media types of extracted files, chosen by the file name's extension.
#include <string>
#include <unordered_map>

namespace cgp {

// Extension (without the dot, exact letter case) to media type. Built on
// first use and kept for the rest of the run.
const std::unordered_map<std::string, std::string>& mimeTypeTable();

// The media type for a file name: the text after the last "." anywhere in
// the name, looked up exactly; "application/octet-stream" when there is no
// dot or the extension is not in the table.
std::string mimeTypeForFile(const std::string& fileName);

}  // namespace cgp
