#pragma once
// One CLI command line, built from its word and its pieces, each sent as a
// space and its text. A row of the command tables reads as one call:
//
//   command("CreateMailbox", {P(account), "MAILBOX", Q(mailbox), opt("AUTH", P(authAccount))});
//
// Forms: P plain, Q between double quotes, S data-set string, D data-set
// text, N decimal number; a bare "WORD" is a keyword sent as written.
// P, Q, S and Tail refuse an empty text and D(value, kind) a value not of
// that kind or empty (the table's "req"); opt(...) sends its pieces only
// when every argument in it is there, and tests none. A piece that could
// end the line early or shift the fields after it is refused too: CR, LF or
// NUL anywhere but in S, which escapes LF and NUL; a space, tab or double
// quote in P; in Q a double quote, or an odd run of backslashes at the end,
// which would escape the closing quote. So is an S text that the escaping
// would not carry unchanged: one holding CR. Every refusal throws
// qdl::ProtocolException "invalid or missing argument" before anything is
// sent.
#include <string>
#include <type_traits>
#include <vector>

#include "serverdata/dataset.h"

namespace cgp {
namespace cmd {

class Piece {
public:
    // A keyword, sent exactly as written.
    Piece(const char* keyword);  // NOLINT: implicit, so that rows write "FILE"

    // The same piece, always sent and never tested for emptiness; the
    // unsafe bytes are still refused.
    Piece unchecked() const;

    void appendTo(std::string& line, bool& ended) const;

private:
    enum class Kind { keyword, plain, tail, quoted, string, data, number, group };
    Piece(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}
    // Whether an opt(...) holding this piece has its argument.
    bool present() const;

    friend Piece P(const std::string&);
    friend Piece Tail(const std::string&);
    friend Piece Q(const std::string&);
    friend Piece S(const std::string&);
    friend Piece D(const DataSet&, int);
    friend Piece D(const DataSet&);
    friend Piece numberPiece(std::string digits);
    friend Piece when(bool, const std::vector<Piece>&);
    friend Piece opt(const std::vector<Piece>&);

    Kind kind_;
    std::string text_;
    DataSet value_;
    int valueKind_ = -1;  // the kind D requires; -1 for none
    bool required_ = true;
    bool condition_ = true;       // group: sent at all
    std::vector<Piece> pieces_;  // group
};

Piece P(const std::string& text);
// A plain piece that ends the line: like the last field of a login line, it
// may hold spaces, since nothing follows that they could shift.
Piece Tail(const std::string& text);
Piece Q(const std::string& text);
Piece S(const std::string& text);
// A data set that must be of the kind and not empty; D(value) tests nothing.
Piece D(const DataSet& value, int kind);
Piece D(const DataSet& value);
inline Piece Dict(const DataSet& value) { return D(value, DataSet::kDictionary); }
inline Piece Array(const DataSet& value) { return D(value, DataSet::kArray); }

Piece numberPiece(std::string digits);
template <class Integer>
Piece N(Integer number) {
    static_assert(std::is_integral<Integer>::value, "N takes an integer");
    return numberPiece(std::to_string(number));
}

// The pieces, sent only under the condition.
Piece when(bool condition, const std::vector<Piece>& pieces);
// The pieces, sent only when each argument among them is there: a text not
// empty, a data set with at least one dictionary member.
Piece opt(const std::vector<Piece>& pieces);
inline Piece opt(const Piece& a) { return opt(std::vector<Piece>{a}); }
inline Piece opt(const Piece& a, const Piece& b) { return opt(std::vector<Piece>{a, b}); }
// The keyword when the flag is set.
inline Piece flag(const char* keyword, bool set) { return when(set, {Piece(keyword)}); }

// The whole line, without its CR LF.
std::string buildLine(const char* word, const std::vector<Piece>& pieces);

// Throws the refusal: qdl::ProtocolException "invalid or missing argument".
[[noreturn]] void refuse();

}  // namespace cmd
}  // namespace cgp
