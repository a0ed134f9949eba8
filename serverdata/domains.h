#pragma once
// Domain data loading, and where accounts and mailboxes are stored: fills the
// settings lookups' caches (lookup.h) from the server's tree under the working
// directory, and answers from the tree itself where an account's directory
// and a mailbox are, and how many accounts a domain holds. Nothing here
// throws; a missing or unreadable file counts as empty.
//
// An account name holding "/", ".." or a NUL byte, or an empty one, names no
// account: no path lookup leaves the domain's own directory.
#include <ctime>
#include <string>

#include "serverdata/address.h"
#include "serverdata/dataset.h"
#include "serverdata/lookup.h"

namespace cgp {

// Rebuilds the domain list ("Accounts" for the main domain, "Domains/*",
// "SharedDomains/*" and, when not empty, sharedBase/*), then every domain's
// data. A domain gone from the tree loses its aliases.
void loadDomains(const std::string& sharedBase);
// Reloads every known domain's data into the caches.
void loadDomainData();

// Fills the set (names) or map (forwarders) from a dictionary: a member with
// a value adds its lowered key, one without removes it. An empty value
// changes nothing.
void loadNameSet(const DataSet& value, NameSet& names);
void loadNameMap(const DataSet& value, ForwarderMap& forwarders);

// Searches dir, then its "*.sub" folders (not through symbolic links, at
// most 16 deep), for the account stored as a ".mbox", ".mdir" or ".macnt"
// directory or as a ".mbox" file. On success out is its path; else out is
// empty and the result false.
bool findAccountPath(const std::string& dir, const std::string& account, std::string& out);

// The path of the account's mailbox ("" or "INBOX" for the inbox; folders
// separated by "/", each name in its IMAP UTF-7 form on disk); empty when
// not found.
std::string getMailboxPath(const Address& address, const std::string& mailbox);

// Accounts stored in dir and its "*.sub" folders. A directory's count is
// kept for a day (86400 seconds from now).
long countAccounts(const std::string& dir, time_t now);

// Accounts of every domain, optionally with its groups, forwarders and lists.
long countAll(bool addGroups, bool addForwarders, bool addLists);
// The same over the given domains, plus the number of accounts given.
long countForAccounts(const NameSet& accounts, const NameSet& domains, bool addGroups, bool addForwarders,
                      bool addLists);

}  // namespace cgp
