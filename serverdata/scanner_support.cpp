// The scanner's input and counters, its token texts, and the measures and
// the word table of its rules: what the rules of scanner.l use that needs
// none of flex's state.
#include "serverdata/internal/scanner_support.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/casefold.h"
#include "serverdata/internal/parser_actions.h"
#include "serverdata/internal/scanner.h"
#include "cgparser_grammar.h"

namespace cgp {

ScannerFatal::~ScannerFatal() {}

namespace scan {

Input input;
Cursor cursor;
BorrowedText borrowed;

namespace {

[[noreturn]] void fatal(const char* message) { throw ScannerFatal(message); }

// A parse hands out a token text for nearly every token, each used once and
// soon given back, so the buffers go round in a few free lists by size
// instead of through malloc each time. A buffer keeps its size class and
// the text's length in front of the text.
const int kSmallestClass = 5;   // 32 bytes
const int kLargestClass = 12;   // 4096 bytes; longer texts are allocated apiece
const std::size_t kKeptPerClass = 32;
struct TokenHeader {
    int sizeClass;
    std::size_t length;
};
const std::size_t kHeader = (sizeof(TokenHeader) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) *
                            alignof(std::max_align_t);

std::vector<char*> freeBuffers[kLargestClass + 1];

int sizeClass(std::size_t bytes) {
    int c = kSmallestClass;
    while (c <= kLargestClass && (std::size_t(1) << c) < bytes) ++c;
    return c;
}

}  // namespace

// Fills what the buffer has room for: see YY_READ_BUF_SIZE in scanner.l.
std::size_t Input::read(char* buffer, std::size_t max) {
    ++reads;
    if (file == nullptr) {
        const std::size_t n = left < max ? left : max;
        std::memcpy(buffer, text, n);
        text += n;
        left -= n;
        return n;
    }
    for (;;) {
        errno = 0;
        const std::size_t n = std::fread(buffer, 1, max, file);
        if (n > 0 || !std::ferror(file)) return n;
        if (errno != EINTR) fatal("input in flex scanner failed");
        std::clearerr(file);
    }
}

char* tokenCopy(const char* text, std::size_t length) {
    const int c = sizeClass(length + 1);
    char* buffer = nullptr;
    if (c <= kLargestClass && !freeBuffers[c].empty()) {
        buffer = freeBuffers[c].back();
        freeBuffers[c].pop_back();
    } else {
        const std::size_t bytes = c <= kLargestClass ? (std::size_t(1) << c) : length + 1;
        buffer = static_cast<char*>(std::malloc(kHeader + bytes));
        if (buffer == nullptr) fatal("out of dynamic memory in a token copy");
        reinterpret_cast<TokenHeader*>(buffer)->sizeClass = c;
    }
    reinterpret_cast<TokenHeader*>(buffer)->length = length;
    char* copy = buffer + kHeader;
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

void releaseTokenBuffers() {
    for (auto& list : freeBuffers) {
        for (char* buffer : list) std::free(buffer);
        list.clear();
    }
}

namespace {

// The atom at the start of a text: ASCII letters and digits, the bytes of
// `plain`, the two- and three-byte sequences whole and, with escapedStar, a
// backslash with its "*". Each byte tells how long its sequence is, so
// there is one way only to read the text.
std::size_t atomRun(const char* text, std::size_t length, const char* plain, bool escapedStar) {
    std::size_t i = 0;
    while (i < length) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t unit = 0;
        if (c >= 0xC2 && c <= 0xDF) unit = 2;
        else if (c >= 0xE0 && c <= 0xEE) unit = 3;
        else if (escapedStar && c == '\\') unit = 2;
        else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 (c != 0 && std::strchr(plain, c) != nullptr))
            unit = 1;
        if (unit == 0 || i + unit > length) break;
        if (c == '\\') {
            if (text[i + 1] != '*') break;
        } else {
            for (std::size_t k = 1; k < unit; ++k)
                if (static_cast<unsigned char>(text[i + k]) < 0x80) return i;
        }
        i += unit;
    }
    return i;
}

}  // namespace

std::size_t atomPrefix(const char* text, std::size_t length) { return atomRun(text, length, ".@_-", false); }

std::size_t routerAtomPrefix(const char* text, std::size_t length) {
    return atomRun(text, length, "#%()*+,-./@[]_{}", true);
}

std::size_t quotedAtomLength(const char* text, std::size_t length) {
    std::size_t longest = 0;
    for (std::size_t q = 1; q < length; ++q) {
        if (text[q] != '"') continue;
        const std::size_t run = routerAtomPrefix(text + q + 1, length - q - 1);
        if (run > 0) longest = q + 1 + run;
    }
    return longest;
}

namespace {

// The words of pages, lowered: keywords bare, function words with their
// "(", format prefixes with their ":". One rule matches any word and looks
// it up here, which keeps the scanner's tables small.
const std::unordered_map<std::string, int>& pageWords() {
    static const std::unordered_map<std::string, int>* words = new std::unordered_map<std::string, int>{
        {"if", PAGE_IF}, {"elif", PAGE_ELIF}, {"else", PAGE_ELSE}, {"endif", PAGE_ENDIF},
        {"foreach", PAGE_FOREACH}, {"forall", PAGE_FORALL}, {"in", PAGE_IN}, {"emptyfor", PAGE_EMPTYFOR},
        {"endfor", PAGE_ENDFOR}, {"include", PAGE_INCLUDE}, {"default", PAGE_DEFAULT}, {"display", PAGE_DISPLAY},
        {"noinbox", PAGE_NOINBOX}, {"period", PAGE_PERIOD}, {"and", PAGE_AND}, {"using", PAGE_USING},
        {"numericmenu", PAGE_NUMERICMENU}, {"timemenu", PAGE_TIMEMENU}, {"sizemenu", PAGE_SIZEMENU},
        {"enummenu", PAGE_ENUMMENU}, {"boolmenu", PAGE_BOOLMENU}, {"mailboxmenu", PAGE_MAILBOXMENU},
        {"daytimemenu", PAGE_DAYTIMEMENU}, {"calendartimemenu", PAGE_CALENDARTIMEMENU},
        {"localcalendartimemenu", PAGE_LOCALCALENDARTIMEMENU}, {"stringmenu", PAGE_STRINGMENU},
        {"includearg(", PAGE_INCLUDEARG}, {"session(", PAGE_SESSION}, {"settings(", PAGE_SETTINGS},
        {"accountsettings(", PAGE_ACCOUNTSETTINGS}, {"exists(", PAGE_EXISTS}, {"doesnotexist(", PAGE_DOESNOTEXIST},
        {"not(", PAGE_NOT}, {"equals(", PAGE_EQUALS}, {"equalsnocase(", PAGE_EQUALSNOCASE},
        {"isindex(", PAGE_ISINDEX}, {"isfirst(", PAGE_ISFIRST}, {"iseven(", PAGE_ISEVEN},
        {"checked(", PAGE_CHECKED}, {"hasparentmailbox(", PAGE_HASPARENTMAILBOX}, {"isstring(", PAGE_ISSTRING},
        {"isarray(", PAGE_ISARRAY}, {"isdictionary(", PAGE_ISDICTIONARY}, {"isdate(", PAGE_ISDATE},
        {"isdata(", PAGE_ISDATA}, {"null(", PAGE_NULL}, {"emptystring(", PAGE_EMPTYSTRING},
        {"emptyarray(", PAGE_EMPTYARRAY}, {"emptydictionary(", PAGE_EMPTYDICTIONARY}, {"string(", PAGE_STRING},
        {"dictionary(", PAGE_DICTIONARY}, {"array(", PAGE_ARRAY}, {"translate(", PAGE_TRANSLATE},
        {"contains(", PAGE_CONTAINS}, {"randomelement(", PAGE_RANDOMELEMENT}, {"monthnames(", PAGE_MONTHNAMES},
        {"weekdays(", PAGE_WEEKDAYS}, {"knowncharsets(", PAGE_KNOWNCHARSETS},
        {"knowntimezones(", PAGE_KNOWNTIMEZONES}, {"datetime(", PAGE_DATETIME_OPEN},
        {"localdatetime(", PAGE_LOCALDATETIME_OPEN}, {"htmltruncated(", PAGE_HTMLTRUNCATED},
        {"htmlsubst(", PAGE_HTMLSUBST}, {"htmlsubstmailbox(", PAGE_HTMLSUBSTMAILBOX},
        {"htmlsubstroundsize(", PAGE_HTMLSUBSTROUNDSIZE},
        {"html:", PAGE_HTML}, {"htmlutf8:", PAGE_HTMLUTF8}, {"url:", PAGE_URL},
        {"mailboxrawname:", PAGE_MAILBOXRAWNAME}, {"mailboxname:", PAGE_MAILBOXNAME},
        {"mailboxlastname:", PAGE_MAILBOXLASTNAME}, {"urlmailboxparent:", PAGE_URLMAILBOXPARENT},
        {"javascript:", PAGE_JAVASCRIPT}, {"size:", PAGE_SIZE}, {"roundsize:", PAGE_ROUNDSIZE},
        {"time:", PAGE_TIME}, {"datetimeshort:", PAGE_DATETIMESHORT}, {"datetime:", PAGE_DATETIME},
        {"localdatetimeshort:", PAGE_LOCALDATETIMESHORT}, {"localdatetime:", PAGE_LOCALDATETIME},
        {"localdate:", PAGE_LOCALDATE}, {"dateweek:", PAGE_DATEWEEK}, {"date:", PAGE_DATE},
        {"index1:", PAGE_INDEX1}, {"index:", PAGE_INDEX},
    };
    return *words;
}

}  // namespace

int pageWord(const char* text, std::size_t length) {
    // A name may be of any length; no word is that long.
    static const std::size_t kLongestWord = [] {
        std::size_t n = 0;
        for (const auto& w : pageWords()) n = w.first.size() > n ? w.first.size() : n;
        return n;
    }();
    if (length > kLongestWord) return 0;
    std::string word(text, length);
    for (char& c : word) c = static_cast<char>(qdl::lowerCaseTable[static_cast<unsigned char>(c)]);
    const auto found = pageWords().find(word);
    return found == pageWords().end() ? 0 : found->second;
}

void lowerName(char* text) {
    for (; *text != '\0'; ++text) *text = static_cast<char>(qdl::lowerCaseTable[static_cast<unsigned char>(*text)]);
}

}  // namespace scan

void freeToken(char* text) {
    if (text == nullptr) return;
    if (text == scan::borrowed.text) {
        scan::borrowed.text = nullptr;
        return;
    }
    char* buffer = text - scan::kHeader;
    const int c = reinterpret_cast<scan::TokenHeader*>(buffer)->sizeClass;
    if (c <= scan::kLargestClass && scan::freeBuffers[c].size() < scan::kKeptPerClass) {
        scan::freeBuffers[c].push_back(buffer);
        return;
    }
    std::free(buffer);
}

std::size_t tokenLength(const char* text) {
    if (text == scan::borrowed.text) return scan::borrowed.length;
    return reinterpret_cast<const scan::TokenHeader*>(text - scan::kHeader)->length;
}

}  // namespace cgp
