#include "serverdata/address.h"

namespace cgp {

std::ostream& EMail::operator()(std::ostream& out) const { return out << account_ << "@" << domain_; }

}  // namespace cgp
