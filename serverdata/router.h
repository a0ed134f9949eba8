#pragma once
// The emulation of the server's router: the router table
// ("Settings/Router.data") and settings ("Settings/Router.settings") under
// the working directory, which is the server's base directory, and the
// rewriting of an address (address.h) through them as the server would.
// Nothing here throws; loading reports through its result.
//
// Locks, outermost first: routerMutex, the settings lookups' lock, the value
// stack's, the parser's. Routing works on a snapshot of the tables taken
// when it starts, so it waits for no reload and a reload for no routing.
#include <string>

#include "serverdata/address.h"

namespace cgp {

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

// The router-mode parse builds the tables through the parser's actions
// (makeAddressEntry, makeRoute, addRouterEntry), which the router defines.

}  // namespace cgp
