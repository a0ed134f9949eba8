#include "clients/internal/cli_command.h"

#include <stdexcept>
#include <vector>

#include "clients/cli.h"
#include "clients/net_exception.h"
#include "runtime/escape.h"

namespace cgp {
namespace cmd {

namespace {

// CR or LF would end the command early and run the rest as a command of
// its own, with the session's rights; NUL cuts the line for the server.
void requireSafe(const std::string& text, const char* alsoRefused) {
    if (qdl::holdsLineBreak(text) || text.find_first_of(alsoRefused) != std::string::npos) refuse();
}

// The server reads a backslash between quotes as an escape: an odd run of
// them at the end takes the closing quote with it.
bool endsInEscape(const std::string& text) {
    const std::size_t last = text.find_last_not_of('\\');
    const std::size_t run = text.size() - (last == std::string::npos ? 0 : last + 1);
    return run % 2 == 1;
}

// Whether the data-set text of a value gives the server the caller's texts:
// the escaping drops CR from strings and keys alike. Walked with a stack of
// its own, so a deep value cannot exhaust ours.
bool carriedWhole(const DataSet& value) {
    std::vector<const data_set*> pending;
    if (!value.isNull()) pending.push_back(value.get());
    while (!pending.empty()) {
        const data_set* v = pending.back();
        pending.pop_back();
        switch (v->getType()) {
        case DataSet::kString:
            if (!qdl::cgpEscapeKeeps(v->value)) return false;
            break;
        case DataSet::kArray:
            for (const DataSet& e : v->elements)
                if (!e.isNull()) pending.push_back(e.get());
            break;
        case DataSet::kDictionary:
            for (const auto& member : v->members) {
                if (!qdl::cgpEscapeKeeps(member.first)) return false;
                if (!member.second.isNull()) pending.push_back(member.second.get());
            }
            break;
        default:
            break;  // a data block travels as base64
        }
    }
    return true;
}

}  // namespace

void refuse() { qdl::refuseArgument(); }

Piece::Piece(const char* keyword) : kind_(Kind::keyword), text_(keyword) {}

Piece Piece::unchecked() const {
    Piece copy(*this);
    copy.required_ = false;
    return copy;
}

bool Piece::present() const {
    switch (kind_) {
    case Kind::keyword:
    case Kind::number:
        return true;
    case Kind::data:
        return !value_.isNull() && value_->getType() == DataSet::kDictionary && !value_->members.empty();
    case Kind::group:
        return condition_;
    default:
        return !text_.empty();
    }
}

void Piece::appendTo(std::string& line, bool& ended) const {
    if (kind_ == Kind::group) {
        if (condition_)
            for (const Piece& p : pieces_) p.appendTo(line, ended);
        return;
    }
    // A programming fault in a row, not bad input: a tail must come last.
    if (ended) throw std::logic_error("a piece after the end of the command line");
    if (required_ && kind_ != Kind::keyword && kind_ != Kind::number && kind_ != Kind::data && text_.empty())
        refuse();
    line += ' ';
    switch (kind_) {
    case Kind::keyword:
    case Kind::number:
        line += text_;
        break;
    case Kind::plain:
        // A space or a tab would shift the fields that follow; so would a
        // quote, which opens a string that runs over the spaces after it.
        requireSafe(text_, " \t\"");
        line += text_;
        break;
    case Kind::tail:
        requireSafe(text_, "");
        line += text_;
        ended = true;
        break;
    case Kind::quoted:
        // Nothing is escaped between the quotes: a quote would end them,
        // and a backslash at the end would escape the closing one.
        requireSafe(text_, "\"");
        if (endsInEscape(text_)) refuse();
        line += '"';
        line += text_;
        line += '"';
        break;
    case Kind::string:
        // The escaping drops CR: the server would get another text than
        // the caller's, a password the caller never gave.
        if (!qdl::cgpEscapeKeeps(text_)) refuse();
        line += CLI::formatArgument(text_);
        break;
    case Kind::data:
        if (required_) CLI::checkArgument(value_, valueKind_);
        if (!carriedWhole(value_)) refuse();
        line += CLI::formatArgument(value_);
        break;
    case Kind::group:
        break;
    }
}

Piece P(const std::string& text) { return Piece(Piece::Kind::plain, text); }
Piece Tail(const std::string& text) { return Piece(Piece::Kind::tail, text); }
Piece Q(const std::string& text) { return Piece(Piece::Kind::quoted, text); }
Piece S(const std::string& text) { return Piece(Piece::Kind::string, text); }

Piece D(const DataSet& value, int kind) {
    Piece p(Piece::Kind::data, std::string());
    p.value_ = value;
    p.valueKind_ = kind;
    return p;
}

Piece D(const DataSet& value) { return D(value, -1).unchecked(); }

Piece numberPiece(std::string digits) { return Piece(Piece::Kind::number, std::move(digits)); }

Piece when(bool condition, const std::vector<Piece>& pieces) {
    Piece p(Piece::Kind::group, std::string());
    p.condition_ = condition;
    p.pieces_ = pieces;
    return p;
}

Piece opt(const std::vector<Piece>& pieces) {
    bool all = true;
    for (const Piece& p : pieces) all = all && p.present();
    // An optional argument is never tested: it is there, or left out.
    std::vector<Piece> untested;
    for (const Piece& p : pieces) untested.push_back(p.unchecked());
    return when(all, untested);
}

std::string buildLine(const char* word, const std::vector<Piece>& pieces) {
    std::string line = word;
    bool ended = false;
    for (const Piece& p : pieces) p.appendTo(line, ended);
    return line;
}

}  // namespace cmd
}  // namespace cgp
