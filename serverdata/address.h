#pragma once
// E-mail addresses as the settings lookups and the router hand them on: an
// account and a domain, and their printer for log lines.
#include <ostream>
#include <string>
#include <utility>

#include "runtime/stream.h"

namespace cgp {

// Account first, domain second.
typedef std::pair<std::string, std::string> Address;

// Prints account "@" domain; holds references, so the strings must outlive it.
class EMail : public qdl::ostream_func {
public:
    EMail(const std::string& account, const std::string& domain) : account_(account), domain_(domain) {}
    explicit EMail(const Address& address) : account_(address.first), domain_(address.second) {}
    std::ostream& operator()(std::ostream& out) const override;

private:
    const std::string& account_;
    const std::string& domain_;
};

}  // namespace cgp
