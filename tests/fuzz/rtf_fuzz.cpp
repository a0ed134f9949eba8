// Any bytes as an RTF body: the de-encapsulator, whole and cut in two, the
// rewriting for unrtf, and the clean-up of unrtf's output, each on the same
// bytes. What comes out is UTF-8 wherever it must be, and a cut of the input
// changes nothing. Deep groups, huge words and numbers, \bin counts and
// truncation must end in time and in bounded memory.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "filter/rtf2html/codepage.h"
#include "filter/rtf2html/decapsulate.h"
#include "filter/rtf2html/unrtf_text.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string rtf(reinterpret_cast<const char*>(data), size);

    std::string whole;
    const bool read = rtf::decapsulate(rtf, whole);
    // A wrapped document's HTML is built from decoded characters only.
    if (read) check(rtf::isUtf8(whole));

    // The same bytes in two pieces, cut where the first byte says.
    const std::size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    rtf::Decapsulator pieces;
    std::string html;
    const bool fed = pieces.feed(rtf.data(), cut, html) && pieces.feed(rtf.data() + cut, size - cut, html);
    const bool finished = fed && pieces.finish(html);
    if (finished && pieces.encapsulation() != rtf::Encapsulation::None) check(read && html == whole);

    rtf::UnrtfInput rewriter;
    std::string rewritten;
    if (rewriter.feed(rtf.data(), size, rewritten)) rewriter.finish(rewritten);

    check(rtf::isUtf8(rtf::unrtfOutputAsUtf8(rtf)));
    return 0;
}
