#pragma once
// The settings lookups' caches, shared by the queries (lookup.cpp) and the
// loader (domains.cpp); not for other users. Everything here is guarded by
// lookupMutex().
#include <atomic>
#include <ctime>
#include <string>
#include <unordered_map>

#include "runtime/files.h"
#include "runtime/log.h"
#include "runtime/mutex.h"
#include "serverdata/lookup.h"

namespace cgp {
namespace lookup {

// The hint the caches' tables start with.
const std::size_t kBucketHint = 100;

typedef std::unordered_map<std::string, std::string, KeyHash> NameMap;
typedef std::unordered_map<std::string, NameSet, KeyHash> DomainSets;
typedef std::unordered_map<std::string, NameMap, KeyHash> DomainNameMaps;
typedef std::unordered_map<std::string, ForwarderMap, KeyHash> DomainForwarders;
typedef std::unordered_map<std::string, qdl::FileStamp, KeyHash> FileStamps;

struct State {
    NameMap domainPaths{kBucketHint};  // domain to its directory
    NameSet localDomains;
    NameSet sharedDomains;
    NameSet aliasedDomains;  // named by setDomainAliases
    NameSet allDomains;
    DomainAliasMap domainAliases{kBucketHint};
    NameMap realDomains{kBucketHint};        // domain and alias to domain
    DomainNameMaps fileAliases{kBucketHint};     // aliases.data of each domain: alias to account
    DomainNameMaps accountAliases{kBucketHint};  // the above and the lists' service names
    DomainForwarders forwarders{kBucketHint};
    DomainSets groups{kBucketHint};
    DomainSets mailingLists{kBucketHint};
    NameMap ipOwners{kBucketHint};
    std::string fallbackDomain;
    // The alias files as each domain's last reload found them.
    FileStamps domainAliasStamps{kBucketHint};
    FileStamps accountAliasStamps{kBucketHint};
    std::atomic<time_t> newestAliasTime{0};
};

qdl::SimpleMutex& mutex();
State& state();
bool verbose();

// The service words of a mailing list, in the order their aliases are made.
extern const char* const kListServiceWords[12];

// The key of an IP address: the address alone, also when it is written as a
// domain literal ("[10.0.0.1]") or as a data-set address ("#I[10.0.0.1]").
std::string ipKey(const std::string& text);

// realDomains from domainAliases; allDomains from the three domain sets.
void rebuildRealDomains(State& s);
void rebuildAllDomains(State& s);

}  // namespace lookup
}  // namespace cgp
