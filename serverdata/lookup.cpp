// Settings lookups: the main domain and the queries on the caches.
#include "serverdata/lookup.h"

#include <atomic>
#include <string>

#include "runtime/casefold.h"
#include "runtime/log.h"
#include "runtime/mutex.h"
#include "serverdata/dataset.h"
#include "serverdata/internal/lookup_state.h"
#include "serverdata/internal/parser.h"
#include "serverdata/router.h"

namespace cgp {

namespace lookup {

// Never destroyed, as the parser's and the value stack's: a thread that
// outlives the exit handlers may still ask.
qdl::SimpleMutex& mutex() {
    static qdl::SimpleMutex* m = new qdl::SimpleMutex;
    return *m;
}

State& state() {
    static State* s = new State;
    return *s;
}

namespace {
std::atomic<bool> verboseFlag{false};
}

bool verbose() { return verboseFlag.load(std::memory_order_relaxed); }

const char* const kListServiceWords[12] = {"-on",    "-off",   "-subscribe", "-unsubscribe", "-feed",    "-digest",
                                           "-index", "-null",  "-confirm",   "-admin",       "-request", "-report"};

std::string ipKey(const std::string& text) {
    std::string::size_type open = std::string::npos;
    if (text.size() > 3 && text[0] == '#' && (text[1] == 'I' || text[1] == 'i') && text[2] == '[')
        open = 3;
    else if (!text.empty() && text[0] == '[')
        open = 1;
    if (open == std::string::npos) return text;
    const std::string::size_type close = text.find(']', open);
    return close == std::string::npos ? text : text.substr(open, close - open);
}

void rebuildRealDomains(State& s) {
    s.realDomains.clear();
    // In the order of the names: of two domains that claim a name, the
    // later decides.
    for (const auto* domain : byKey(s.domainAliases)) {
        s.realDomains[domain->first] = domain->first;
        for (const std::string& alias : domain->second) s.realDomains[alias] = domain->first;
    }
}

void rebuildAllDomains(State& s) {
    s.allDomains = s.localDomains;
    s.allDomains.insert(s.sharedDomains.begin(), s.sharedDomains.end());
    s.allDomains.insert(s.aliasedDomains.begin(), s.aliasedDomains.end());
}

}  // namespace lookup

namespace {

using lookup::verbose;

const char* const kMainSettings = "Settings/Main.settings";

// The main domain, read once. The lock is taken before the value stack's
// and the parser's, after the router's and the lookups'.
qdl::SimpleMutex& mainDomainMutex() {
    static qdl::SimpleMutex* m = new qdl::SimpleMutex;
    return *m;
}
std::atomic<bool> mainDomainLoaded{false};
std::string mainDomain;

template <class Map>
const typename Map::mapped_type* findIn(const Map& map, const std::string& key) {
    const auto it = map.find(key);
    return it == map.end() ? nullptr : &it->second;
}

}  // namespace

const std::string& getMainDomainName() {
    if (mainDomainLoaded.load(std::memory_order_acquire)) return mainDomain;
    qdl::ScopedLock guard(mainDomainMutex());
    if (!mainDomainLoaded.load(std::memory_order_relaxed)) {
        // Inside a parse the file cannot be read: the answer stays open for
        // a later call instead of being empty for the rest of the process.
        static const std::string kNone;
        if (ParseInProgress::onThisThread()) return kNone;
        const DataSet settings = DataSet::loadFromFile(kMainSettings);
        const auto it = settings->members.find("DomainName");
        if (it != settings->members.end() && !it->second.isNull()) mainDomain = qdl::lowerCase(it->second->value);
        mainDomainLoaded.store(true, std::memory_order_release);
    }
    return mainDomain;
}

std::string& getRealDomainName(std::string& name) {
    qdl::ScopedLock guard(lookup::mutex());
    if (verbose()) qdl::logline() << "Searching real domain name for " << name;
    if (name.empty()) {
        name = getMainDomainName();
        if (verbose()) qdl::logline() << "Empty string, defaulting to " << name;
        return name;
    }
    const std::string* domain = findIn(lookup::state().realDomains, name);
    if (domain != nullptr) {
        if (verbose()) qdl::logline() << "Domain found: " << *domain;
        name = *domain;
    } else if (verbose()) {
        qdl::logline() << "Domain not found";
    }
    return name;
}

bool resolveAlias(Address& address) {
    qdl::ScopedLock guard(lookup::mutex());
    const lookup::NameMap* aliases = findIn(lookup::state().accountAliases, address.second);
    if (aliases == nullptr) {
        if (verbose()) qdl::logline() << "Account not found in aliases list";
        return false;
    }
    const std::string* account = findIn(*aliases, address.first);
    if (account == nullptr) {
        if (verbose()) qdl::logline() << "Domain found, account is not an alias: " << EMail(address);
        return false;
    }
    address.first = *account;
    if (verbose()) qdl::logline() << "Account found: " << EMail(address);
    return true;
}

bool resolveForwarder(Address& address, unsigned depth) {
    qdl::ScopedLock guard(lookup::mutex());
    const ForwarderMap* forwarders = findIn(lookup::state().forwarders, address.second);
    if (forwarders == nullptr) {
        if (verbose()) qdl::logline() << "Account not found in forwarders list";
        return false;
    }
    const Address* target = findIn(*forwarders, address.first);
    if (target == nullptr) {
        if (verbose()) qdl::logline() << "Domain found, account is not an forwarder: " << EMail(address);
        return false;
    }
    const std::string oldDomain = address.second;
    address = *target;
    if (address.second.empty()) address.second = oldDomain;
    if (depth > 9)
        qdl::logline() << "Forwarder loop found, skipping: " << EMail(address);
    else
        resolveForwarder(address, depth + 1);
    if (verbose()) qdl::logline() << "Account found: " << EMail(address);
    return true;
}

std::string& findDomainByIP(std::string& ip) {
    // The router asks from outside its own lock; the owners change in a reload.
    qdl::ScopedLock guard(lookup::mutex());
    const lookup::State& s = lookup::state();
    if (verbose()) qdl::logline() << "Trying to match IP " << ip << " with a domain name";
    const std::string* domain = findIn(s.ipOwners, lookup::ipKey(ip));
    if (domain != nullptr) {
        ip = *domain;
    } else {
        qdl::logline() << "No explicitely defined entry found, fallback to " << s.fallbackDomain;
        ip = s.fallbackDomain;
    }
    return ip;
}

bool isForwarder(const Address& address) {
    qdl::ScopedLock guard(lookup::mutex());
    const ForwarderMap* forwarders = findIn(lookup::state().forwarders, address.second);
    return forwarders != nullptr && forwarders->count(address.first) != 0;
}

bool isMailingList(const Address& address) {
    qdl::ScopedLock guard(lookup::mutex());
    const NameSet* lists = findIn(lookup::state().mailingLists, address.second);
    if (lists == nullptr) return false;
    const std::string& name = address.first;
    if (lists->count(name) != 0) return true;
    // A list's name may hold a "-" itself: only a service word is cut off.
    for (const char* word : lookup::kListServiceWords) {
        const std::string suffix(word);
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
            lists->count(name.substr(0, name.size() - suffix.size())) != 0)
            return true;
    }
    return false;
}

bool isGroup(const Address& address) {
    qdl::ScopedLock guard(lookup::mutex());
    const NameSet* groups = findIn(lookup::state().groups, address.second);
    return groups != nullptr && groups->count(address.first) != 0;
}

bool isDomain(const std::string& name) {
    qdl::ScopedLock guard(lookup::mutex());
    return lookup::state().allDomains.count(name) != 0;
}

void copySharedDomains(NameSet& out) {
    qdl::ScopedLock guard(lookup::mutex());
    if (&out != &lookup::state().sharedDomains) out = lookup::state().sharedDomains;
}

void copyAllDomains(NameSet& out) {
    qdl::ScopedLock guard(lookup::mutex());
    if (&out != &lookup::state().allDomains) out = lookup::state().allDomains;
}

void copyDomainAliases(DomainAliasMap& out) {
    qdl::ScopedLock guard(lookup::mutex());
    if (&out != &lookup::state().domainAliases) out = lookup::state().domainAliases;
}

bool setDomainAliases(const DomainAliasMap& aliases) {
    qdl::ScopedLock guard(lookup::mutex());
    lookup::State& s = lookup::state();
    bool changed = false;
    for (const auto& domain : aliases) {
        const auto placed = s.domainAliases.emplace(domain.first, domain.second);
        if (placed.second) {
            changed = true;
        } else if (placed.first->second != domain.second) {
            placed.first->second = domain.second;
            changed = true;
        }
        s.aliasedDomains.insert(domain.first);
    }
    if (changed) {
        lookup::rebuildRealDomains(s);
        lookup::rebuildAllDomains(s);
    }
    return changed;
}

time_t lastAliasChange() { return lookup::state().newestAliasTime.load(); }

Address& getRealAccountName(Address& address) {
    if (verbose()) qdl::logline() << "Searching real account name for " << EMail(address);
    std::string& account = address.first;
    const std::string::size_type plus = account.find('+');
    if (plus != std::string::npos) {
        if (verbose()) qdl::logline() << "Removing account detail information (account+detail)";
        account.erase(plus);
    }
    const std::string::size_type hash = account.find('#');
    if (hash != std::string::npos) {
        if (verbose()) qdl::logline() << "Removing direct mailbox information (mailbox#account)";
        account.erase(0, hash + 1);
    }
    getRealDomainName(address.second);
    resolveForwarder(address, 0);
    resolveAlias(address);
    return address;
}

std::string getCanonicalAddress(const std::string& address) {
    Address real = parseAddress(address);
    getRealAccountName(real);
    return real.first + "@" + real.second;
}

void setLookupVerbose(bool verbose) { lookup::verboseFlag.store(verbose, std::memory_order_relaxed); }

}  // namespace cgp
