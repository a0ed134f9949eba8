#pragma once
// E-mail addresses and the emulation of the server's router: the router
// table ("Settings/Router.data") and settings ("Settings/Router.settings")
// under the working directory, which is the server's base directory, and
// the rewriting of an address through them as the server would. Nothing
// here throws; loading reports through its result.
//
// Locks, outermost first: routerMutex, the settings lookups' lock, the value
// stack's, the parser's. Routing works on a snapshot of the tables taken
// when it starts, so it waits for no reload and a reload for no routing.
#include <ostream>
#include <string>
#include <utility>

#include "runtime/stream.h"
#include "serverdata/parser_actions.h"

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

// One side of a route. Without a "*" the text is held whole in the prefix;
// with one, the prefix is what stands before it and the suffix what follows.
// Bracketed marks an address pattern ("<...>"); domain patterns and targets
// are not bracketed.
struct RouterEntry {
    std::string prefix;
    std::string suffix;
    bool wildcard = false;
    bool bracketed = false;
};

struct Route {
    RouterEntry pattern;
    RouterEntry target;
};

// Rebuilds the tables when "Settings/Router.data" or "Settings/Router.settings"
// changed since the last load that succeeded (its modification time to the
// nanosecond, its size or its inode); true when it rebuilt them.
// A load that fails (no router data, empty or unreadable settings, a syntax
// error in the data, whose line the parser prints) keeps the tables as they
// were and is tried again at the next call.
bool loadRouter();

// The address as the server's router would deliver it. An address given in
// capitals matches exact entries all the same; the result keeps the letter
// case of whatever no entry rewrote.
Address routeAddress(const std::string& account, const std::string& domain);

// Splits at the first "@", else at the first "%"; a plain name gets the
// default domain (the router settings' qualifier when they ask to extend
// names, else the main domain). Both parts lower-cased.
Address parseAddress(const std::string& text);

// When the address text matches the pattern, rewrites it through the target
// and returns true. The pattern's prefix and suffix are compared ignoring
// ASCII case, as domain names are.
bool matchPattern(std::string& address, const RouterEntry& pattern, const RouterEntry& target);

// Whether an entry of the address table without wildcards on either side
// has this exact account and domain as its target.
bool isRouteTarget(const std::string& account, const std::string& domain);

// The entry for a pipe target written between two delimiters: the text
// without its first and last characters, then "@pipe". Empty for an empty text.
RouterEntry parsePipeTarget(const std::string& text);

// Empties both tables.
void clearRouterTables();

// The parser's actions of router mode (makeAddressEntry, makeRoute,
// addRouterEntry) are declared in parser_actions.h; they also build tables
// by hand.

}  // namespace cgp
