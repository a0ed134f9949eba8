#pragma once
// Settings lookups: the server's own configuration read from outside, from
// the settings tree under the working directory (the server's base
// directory): the main domain, domains and their aliases, account aliases,
// forwarders, groups, mailing lists, and which domain owns an IP address.
// The caches are filled by loadDomains (domains.h); before that every query
// answers as for a name no cache holds. Nothing here throws.
//
// Names in the caches are lowered through the case table; the queries do not
// lower what they are given, so callers pass lowered names. Every query holds
// the lookups' lock for its whole run: a reload is never seen half done.
#include <ctime>
#include <set>
#include <string>
#include <unordered_map>

#include "serverdata/address.h"
#include "serverdata/key_hash.h"

namespace cgp {

typedef std::set<std::string> NameSet;
// Domain to its alias names.
typedef std::unordered_map<std::string, NameSet, KeyHash> DomainAliasMap;
// Forwarder name to its target.
typedef std::unordered_map<std::string, Address, KeyHash> ForwarderMap;

// The lowered "DomainName" of "Settings/Main.settings", read on the first
// call only (from any thread); empty when the file or the member is missing.
const std::string& getMainDomainName();

// Replaces a domain alias by its domain, in place; an empty name becomes the
// main domain; anything else stays. Returns the name.
std::string& getRealDomainName(std::string& name);

// Replaces the account by the one it is an alias of; false when it is none.
bool resolveAlias(Address& address);

// Follows the forwarder the address names, to its end or for at most eleven
// steps (a loop is logged: "Forwarder loop found, skipping: "); false when
// the address is no forwarder. Start at depth 0.
bool resolveForwarder(Address& address, unsigned depth);

// Replaces an IP address text by the domain that claims it, in place; an
// address no domain claims gets the fallback domain, and a line says so.
// The address may be written as a domain literal ("[10.0.0.1]"), and the
// domains may claim it as a data-set address ("#I[10.0.0.1]").
std::string& findDomainByIP(std::string& ip);

bool isForwarder(const Address& address);
// The name of a list of the domain, or a list's name, "-" and a service
// word ("my-list", "my-list-subscribe").
bool isMailingList(const Address& address);
bool isGroup(const Address& address);
bool isDomain(const std::string& name);

// Copies of the caches.
void copySharedDomains(NameSet& out);
void copyAllDomains(NameSet& out);
void copyDomainAliases(DomainAliasMap& out);

// Sets the alias names of the given domains (domains that need not be in the
// tree); true when anything changed.
bool setDomainAliases(const DomainAliasMap& aliases);

// The newest modification time of a domain-alias file seen so far.
time_t lastAliasChange();

// The real account: "+detail" and "mailbox#" dropped, then the domain alias,
// the forwarder and the account alias resolved. Rewrites the address in
// place and returns it.
Address& getRealAccountName(Address& address);

// The real address of a text, as account "@" domain.
std::string getCanonicalAddress(const std::string& address);

// Optional diagnostic lines of the lookups, off at start. Lines that report
// an anomaly are written whatever the setting.
void setLookupVerbose(bool verbose);

}  // namespace cgp
