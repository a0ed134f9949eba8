#pragma once
// Encoders for the parts inserted into a converted message. Both read `in`
// to its end in blocks and never hold more than one block.
#include <istream>
#include <ostream>

namespace cgp {

// Quoted-printable: LF, CR, space and the bytes 33 to 126 but "=" pass as
// they are, every other byte becomes "=" and two uppercase hex digits. A line
// longer than 76 characters is cut with a soft line break ("=" LF).
void encodeQuotedPrintable(std::istream& in, std::ostream& out);

// Base64 in lines of 76 characters (57 input bytes), each ended by LF. When
// the input length is a multiple of 57 (or zero) an empty line ends the text.
void encodeBase64Lines(std::istream& in, std::ostream& out);

}  // namespace cgp
