// Domain data loading from the server's tree, and account and mailbox paths.
#include "serverdata/domains.h"

#include <string>
#include <unordered_map>

#include "runtime/casefold.h"
#include "runtime/files.h"
#include "runtime/log.h"
#include "runtime/mutex.h"
#include "runtime/utf7.h"
#include "serverdata/internal/lookup_state.h"
#include "serverdata/router.h"

namespace cgp {

namespace {

using lookup::verbose;

// Account folders ("*.sub") nest no deeper than this: a tree from outside
// must not make the search run without end.
const int kMaxSubFolderDepth = 16;

// A count is reused for this long.
const time_t kCountLifetime = 86400;

const char* const kAccountSuffixes[3] = {".mbox", ".mdir", ".macnt"};

bool endsWith(const std::string& text, const char* ending) {
    const std::string::size_type n = std::char_traits<char>::length(ending);
    return text.size() >= n && text.compare(text.size() - n, n, ending) == 0;
}

// An account's store under one of the suffixes: a folder, or a single
// ".mbox" file.
bool isAccountStore(const std::string& path, const char* suffix) {
    return qdl::isDirectory(path) || (suffix == kAccountSuffixes[0] && qdl::isRegularFile(path));
}

// A name that stays inside the directory it is looked up in. A NUL would end
// the path the system sees there, so "\0" would name the directory itself.
bool isAccountName(const std::string& account) {
    return !account.empty() && account.find('/') == std::string::npos && account.find("..") == std::string::npos &&
           account.find('\0') == std::string::npos;
}

// A member that holds something: a text, members or elements.
bool holdsValue(const DataSet& value) {
    return !value.isNull() && (!value->value.empty() || !value->members.empty() || !value->elements.empty());
}

std::string memberText(const DataSet& value) { return value.isNull() ? std::string() : value->value; }

void addDomains(const std::string& dir, const std::string& prefix, NameSet& into, lookup::NameMap& paths,
                const char* found) {
    qdl::Directory entries(dir);
    while (entries.next()) {
        const std::string name = entries.name();
        const std::string path = prefix + name;
        if (!qdl::isDirectory(path) || name != qdl::lowerCase(name)) continue;
        into.insert(name);
        if (verbose()) qdl::logline() << found << name << " at " << path;
        paths.emplace(name, path);
    }
}

void loadDomainAliases(lookup::State& s, const std::string& name, const std::string& path) {
    const std::string file = path + "/Settings/domainAliases.data";
    if (verbose()) qdl::logline() << "Searching Aliases for domain " << name << " in file " << file;
    const qdl::FileStamp now = qdl::fileStamp(file);
    qdl::FileStamp& kept = s.domainAliasStamps[name];
    if (!now.exists) {
        if (verbose()) qdl::logline() << "No alias for domain " << name;
        if (kept.exists) {
            kept = qdl::FileStamp();
            s.domainAliases[name].clear();
        }
        s.domainAliases.emplace(name, NameSet());
    } else if (now != kept) {
        const DataSet value = DataSet::loadFromFile(file);
        // Kept only once read: a file caught half written is read again.
        if (!value->isEmpty()) {
            kept = now;
            NameSet& aliases = s.domainAliases[name];
            aliases.clear();
            for (const DataSet& element : value->elements) {
                const std::string alias = qdl::lowerCase(memberText(element));
                if (verbose()) qdl::logline() << "Found alias " << alias << " for domain " << name;
                aliases.insert(alias);
            }
        }
        s.domainAliases.emplace(name, NameSet());
    } else if (verbose()) {
        qdl::logline() << "Domain alias data already up-to-date";
    }
    if (kept.exists && kept.seconds > s.newestAliasTime.load()) s.newestAliasTime.store(kept.seconds);
}

void loadAccountAliases(lookup::State& s, const std::string& name, const std::string& path) {
    const std::string file = path + "/Settings/aliases.data";
    const qdl::FileStamp now = qdl::fileStamp(file);
    qdl::FileStamp& kept = s.accountAliasStamps[name];
    lookup::NameMap& aliases = s.fileAliases[name];
    if (!now.exists) {
        if (kept.exists) {
            kept = qdl::FileStamp();
            aliases.clear();
        }
    } else if (now != kept) {
        const DataSet value = DataSet::loadFromFile(file);
        if (!value->isEmpty()) {
            kept = now;
            aliases.clear();
            // An alias two accounts name goes to the first by name.
            for (const auto* member : byKey(value->members)) {
                const std::string account = qdl::lowerCase(member->first);
                if (member->second.isNull()) continue;
                for (const DataSet& element : member->second->elements) {
                    const std::string alias = memberText(element);
                    if (!alias.empty()) aliases.emplace(qdl::lowerCase(alias), account);
                }
            }
        }
    }
    // The lists' service names are made afresh below, on top of these.
    s.accountAliases[name] = aliases;
}

void loadAddresses(lookup::State& s, const std::string& name, const std::string& path) {
    if (verbose()) qdl::logline() << "Checking valid IPs for domain " << name;
    const DataSet settings = DataSet::loadFromFile(path + "/Settings/domain.settings");
    if (settings->isEmpty()) return;
    const auto addresses = settings->members.find("IPAddresses");
    if (addresses != settings->members.end() && !addresses->second.isNull()) {
        for (const DataSet& element : addresses->second->elements) {
            const std::string address = memberText(element);
            if (verbose()) qdl::logline() << "Found IP: " << address;
            s.ipOwners.emplace(lookup::ipKey(address), name);
        }
    }
    const auto mode = settings->members.find("IPMode");
    if (mode != settings->members.end() && memberText(mode->second) == "All Available") s.fallbackDomain = name;
}

void loadLists(lookup::State& s, const std::string& name, const std::string& path) {
    qdl::Directory entries(path + "/LISTS");
    while (entries.next()) {
        const std::string entry = entries.name();
        if (!endsWith(entry, ".list")) continue;
        const std::string list = qdl::lowerCase(entry.substr(0, entry.size() - 5));
        s.mailingLists[name].insert(list);
        lookup::NameMap& aliases = s.accountAliases[name];
        for (const char* word : lookup::kListServiceWords) aliases.emplace(list + word, list);
    }
}

// What a domain gone from the tree leaves behind goes with it; the aliases
// a caller set for it stay.
void forgetGoneDomains(lookup::State& s) {
    auto gone = [&s](const std::string& name) { return s.domainPaths.count(name) == 0; };
    for (auto it = s.fileAliases.begin(); it != s.fileAliases.end();) it = gone(it->first) ? s.fileAliases.erase(it) : ++it;
    for (auto it = s.accountAliases.begin(); it != s.accountAliases.end();)
        it = gone(it->first) ? s.accountAliases.erase(it) : ++it;
    for (auto it = s.accountAliasStamps.begin(); it != s.accountAliasStamps.end();)
        it = gone(it->first) ? s.accountAliasStamps.erase(it) : ++it;
    for (auto it = s.domainAliasStamps.begin(); it != s.domainAliasStamps.end();)
        it = gone(it->first) ? s.domainAliasStamps.erase(it) : ++it;
    for (auto it = s.domainAliases.begin(); it != s.domainAliases.end();)
        it = gone(it->first) && s.aliasedDomains.count(it->first) == 0 ? s.domainAliases.erase(it) : ++it;
}

bool findIn(const std::string& dir, const std::string& account, std::string& out, int depth) {
    if (verbose()) qdl::logline() << "Searching for account " << account << "path in " << dir;
    if (!qdl::isDirectory(dir)) {
        if (verbose()) qdl::logline() << "Account path not found";
        out.clear();
        return false;
    }
    for (const char* suffix : kAccountSuffixes) {
        out = dir + "/" + account + suffix;
        // A single-file account is a ".mbox" file.
        if (isAccountStore(out, suffix)) {
            if (verbose()) qdl::logline() << "Account " << account << " path found at " << out;
            return true;
        }
    }
    if (depth < kMaxSubFolderDepth) {
        qdl::Directory entries(dir, "*.sub");
        while (entries.next()) {
            const std::string sub = dir + "/" + entries.name();
            if (qdl::isDirectoryNoFollow(sub) && findIn(sub, account, out, depth + 1)) return true;
        }
    }
    if (verbose()) qdl::logline() << "Account path Not found";
    out.clear();
    return false;
}

long countIn(const std::string& dir, time_t now, int depth) {
    typedef std::unordered_map<std::string, std::pair<time_t, long>, KeyHash> Cache;
    static Cache* cache = new Cache(lookup::kBucketHint);
    const auto cached = cache->find(dir);
    if (cached != cache->end()) {
        if (now < cached->second.first) return cached->second.second;
        cache->erase(cached);
    }
    long count = 0;
    qdl::Directory entries(dir);
    while (entries.next()) {
        const std::string name = entries.name();
        if (endsWith(name, ".macnt") || endsWith(name, ".mbox") || endsWith(name, ".mdir")) {
            ++count;
        } else if (endsWith(name, ".sub") && depth < kMaxSubFolderDepth) {
            const std::string sub = dir + "/" + name;
            if (qdl::isDirectoryNoFollow(sub)) count += countIn(sub, now, depth + 1);
        }
    }
    (*cache)[dir] = std::make_pair(now + kCountLifetime, count);
    return count;
}

void addExtras(const lookup::State& s, const std::string& domain, long& sum, bool addGroups, bool addForwarders,
               bool addLists) {
    if (addGroups) {
        const auto it = s.groups.find(domain);
        if (it != s.groups.end()) sum += static_cast<long>(it->second.size());
    }
    if (verbose()) qdl::logline() << "(" << sum << ") Counted Groups";
    if (addForwarders) {
        const auto it = s.forwarders.find(domain);
        if (it != s.forwarders.end()) sum += static_cast<long>(it->second.size());
    }
    if (verbose()) qdl::logline() << "(" << sum << ") Counted Forwarders";
    if (addLists) {
        const auto it = s.mailingLists.find(domain);
        if (it != s.mailingLists.end()) sum += static_cast<long>(it->second.size());
    }
    if (verbose()) qdl::logline() << "(" << sum << ") Counted Lists";
}

long countDomains(const NameSet& domains, long sum, bool addGroups, bool addForwarders, bool addLists) {
    const lookup::State& s = lookup::state();
    const time_t now = ::time(nullptr);
    for (const std::string& domain : domains) {
        const auto path = s.domainPaths.find(domain);
        if (path != s.domainPaths.end()) sum += countAccounts(path->second, now);
        addExtras(s, domain, sum, addGroups, addForwarders, addLists);
    }
    return sum;
}

}  // namespace

void loadDomains(const std::string& sharedBase) {
    qdl::ScopedLock guard(lookup::mutex());
    lookup::State& s = lookup::state();
    s.sharedDomains.clear();
    s.localDomains.clear();
    s.domainPaths.clear();
    s.ipOwners.clear();

    const std::string& mainDomain = getMainDomainName();
    if (!mainDomain.empty()) {
        s.localDomains.insert(mainDomain);
        s.domainPaths[mainDomain] = "Accounts";
        if (verbose()) qdl::logline() << "Found local domain " << mainDomain << " at Accounts";
    }
    addDomains("Domains", "Domains/", s.localDomains, s.domainPaths, "Found local domain ");
    addDomains("SharedDomains", "SharedDomains/", s.sharedDomains, s.domainPaths, "Found shared domain ");
    if (!sharedBase.empty()) {
        if (verbose()) qdl::logline() << "Searching in Shared Base " << sharedBase;
        addDomains(sharedBase, sharedBase + "/", s.sharedDomains, s.domainPaths, "Found shared domain ");
    }
    s.sharedDomains.erase("settings");
    s.localDomains.erase("settings");
    s.domainPaths.erase("settings");
    lookup::rebuildAllDomains(s);
    loadDomainData();
}

void loadDomainData() {
    qdl::ScopedLock guard(lookup::mutex());
    lookup::State& s = lookup::state();
    s.fallbackDomain = getMainDomainName();
    s.forwarders.clear();
    s.groups.clear();
    s.mailingLists.clear();
    forgetGoneDomains(s);
    // In the order of the names: an address two domains claim goes to the
    // first.
    for (const auto* domain : byKey(s.domainPaths)) {
        const std::string& name = domain->first;
        const std::string& path = domain->second;
        loadDomainAliases(s, name, path);
        loadAccountAliases(s, name, path);
        loadAddresses(s, name, path);
        loadNameMap(DataSet::loadFromFile(path + "/Settings/forwarders.data"), s.forwarders[name]);
        loadNameSet(DataSet::loadFromFile(path + "/Settings/groups.data"), s.groups[name]);
        loadLists(s, name, path);
    }
    lookup::rebuildRealDomains(s);
}

void loadNameSet(const DataSet& value, NameSet& names) {
    if (value.isNull() || value->isEmpty()) return;
    names.clear();
    // Keys that differ in letter case only: the last by name decides.
    for (const auto* member : byKey(value->members)) {
        if (holdsValue(member->second))
            names.insert(qdl::lowerCase(member->first));
        else
            names.erase(qdl::lowerCase(member->first));
    }
}

void loadNameMap(const DataSet& value, ForwarderMap& forwarders) {
    if (value.isNull() || value->isEmpty()) return;
    forwarders.clear();
    // Keys that differ in letter case only: in the order of the names.
    for (const auto* member : byKey(value->members)) {
        const std::string name = qdl::lowerCase(member->first);
        if (holdsValue(member->second))
            forwarders.emplace(name, parseAddress(qdl::lowerCase(member->second->value)));
        else
            forwarders.erase(name);
    }
}

bool findAccountPath(const std::string& dir, const std::string& account, std::string& out) {
    if (!isAccountName(account)) {
        out.clear();
        return false;
    }
    return findIn(dir, account, out, 0);
}

namespace {

// The domain's directory, copied out of the caches: the search itself waits
// for no reload.
bool domainDirectory(const std::string& domain, std::string& out) {
    qdl::ScopedLock guard(lookup::mutex());
    const lookup::NameMap& paths = lookup::state().domainPaths;
    const auto it = paths.find(domain);
    if (it == paths.end()) {
        if (verbose()) qdl::logline() << "Domain not found: " << domain;
        return false;
    }
    out = it->second;
    return true;
}

enum class Store { None, Answer, Directory };

// Where the account's mailboxes are looked for: its ".macnt" directory in
// the domain's, else what the search of the "*.sub" folders finds. For the
// inbox, a store of the account found in the domain's directory itself is
// the answer. None when the account has no store that can hold the mailbox.
Store accountStore(const std::string& domainPath, const std::string& account, bool inbox, std::string& out) {
    if (!isAccountName(account)) return Store::None;
    out = domainPath + "/" + account + ".macnt";
    if (qdl::isDirectory(out)) return Store::Directory;
    if (inbox) {
        for (const char* suffix : kAccountSuffixes) {
            out = domainPath + "/" + account + suffix;
            if (isAccountStore(out, suffix)) return Store::Answer;
        }
    }
    const bool found = findIn(domainPath, account, out, 0);
    const bool stored = found && (qdl::isDirectory(out) || (inbox && qdl::isRegularFile(out)));
    return stored && (inbox || endsWith(out, ".macnt")) ? Store::Directory : Store::None;
}

// The mailbox below the account's directory `dir`: a ".folder" directory
// for each component of its IMAP UTF-7 name but the last, then a ".mdir"
// directory or a ".mbox" file. Empty when a step is missing.
std::string mailboxIn(std::string dir, const std::string& mailbox) {
    const std::string encoded = qdl::encodeUTF7(mailbox, true);
    std::string::size_type from = 0;
    while (from < encoded.size()) {
        std::string::size_type slash = encoded.find('/', from);
        if (slash == std::string::npos) slash = encoded.size();
        if (slash == from) {
            ++from;
            continue;
        }
        const std::string component = encoded.substr(from, slash - from);
        // Slashes at the end do not make the last component a folder.
        std::string::size_type next = encoded.find_first_not_of('/', slash);
        if (dir.empty() || dir.back() != '/') dir += '/';
        dir += component;
        if (next == std::string::npos) {
            const std::string found = qdl::isDirectory(dir + ".mdir") ? dir + ".mdir"
                                      : qdl::isFile(dir + ".mbox")    ? dir + ".mbox"
                                                                      : std::string();
            if (found.empty()) break;
            if (verbose()) qdl::logline() << "Mailbox path found: " << found;
            return found;
        }
        dir += ".folder";
        if (!qdl::isDirectory(dir)) break;
        from = next;
    }
    if (verbose()) qdl::logline() << "Mailbox path not found";
    return std::string();
}

}  // namespace

std::string getMailboxPath(const Address& address, const std::string& mailbox) {
    if (verbose()) qdl::logline() << "Searching for real mailbox path of " << mailbox << EMail(address);
    std::string domainPath;
    if (!domainDirectory(address.second, domainPath)) return std::string();
    const bool inbox = mailbox.empty() || mailbox == "INBOX";
    std::string dir;
    switch (accountStore(domainPath, address.first, inbox, dir)) {
    case Store::None:
        if (verbose()) qdl::logline() << "Mailbox path not found";
        return std::string();
    case Store::Answer:
        return dir;
    case Store::Directory:
        break;
    }
    // The account's directory itself answers for an empty mailbox name, and
    // for the inbox of an account not stored as a ".macnt" directory.
    if (!mailbox.empty() && (!inbox || dir.find(".macnt") != std::string::npos)) return mailboxIn(dir, mailbox);
    if (verbose()) qdl::logline() << "Mailbox path found: " << dir;
    return dir;
}

long countAccounts(const std::string& dir, time_t now) {
    // The cache is the lookups': one lock for both.
    qdl::ScopedLock guard(lookup::mutex());
    return countIn(dir, now, 0);
}

long countAll(bool addGroups, bool addForwarders, bool addLists) {
    qdl::ScopedLock guard(lookup::mutex());
    return countDomains(lookup::state().allDomains, 0, addGroups, addForwarders, addLists);
}

long countForAccounts(const NameSet& accounts, const NameSet& domains, bool addGroups, bool addForwarders,
                      bool addLists) {
    qdl::ScopedLock guard(lookup::mutex());
    const long sum = static_cast<long>(accounts.size());
    if (verbose()) qdl::logline() << sum << " accounts in the Accounts To Filter list";
    return countDomains(domains, sum, addGroups, addForwarders, addLists);
}

}  // namespace cgp
