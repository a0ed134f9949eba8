#pragma once
// One converted TNEF part: where it lies in the message file and what
// replaces it. Made by the walk, used by the writer and by batch mode.
#include <ios>
#include <string>
#include <vector>

struct AttachmentRecord {
    std::streampos start = 0;  // just after the boundary line that opens the part
    std::streampos end = 0;    // just after the line that ended the part's body
    // Where that line begins, as the walk read it: the copy of a removed part
    // goes straight there. -1 when not known; the copy then reads its way.
    std::streampos endLine = -1;
    // Extracted files in tnef's order. "*" prefix: the HTML body alternative
    // (written inline, quoted-printable); "\*" prefix: a dropped RTF file.
    std::vector<std::string> entries;
    std::string boundaryLine;  // "--" and the boundary of the containing body
    // tnef ended abnormally: the TNEF part itself is kept after the entries.
    bool keepPart = false;
};
