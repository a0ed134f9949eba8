// The router: its tables, their loading, and the rewriting of an address.
//
// The tables are built by the router-mode parse into a set of its own and
// replace the live ones only when the whole load succeeded. Routing reads an
// indexed snapshot of the live tables: exact patterns in a hash table,
// wildcard patterns in two tries (by suffix, and by prefix for those that
// have no suffix), so that finding the first entry that matches does not
// walk the whole table, and each thread keeps its snapshot until the tables
// change.
#include "serverdata/router.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "runtime/casefold.h"
#include "runtime/files.h"
#include "runtime/log.h"
#include "runtime/mutex.h"
#include "serverdata/dataset.h"
#include "serverdata/internal/parser.h"
#include "serverdata/internal/parser_actions.h"
#include "serverdata/lookup.h"

namespace cgp {

namespace {

const char* const kRouterData = "Settings/Router.data";
const char* const kRouterSettings = "Settings/Router.settings";

// Rewriting stops after this many passes: entries that point at each other
// would otherwise rewrite for ever.
const int kMaxPasses = 20;

const std::uint32_t kNoRoute = UINT32_MAX;

// Compares as the C library's case-insensitive comparison does in the C
// locale, embedded NULs included.
bool startsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && qdl::equalsAsciiNoCase(text.data(), prefix.data(), prefix.size());
}

bool endsWithNoCase(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           qdl::equalsAsciiNoCase(text.data() + text.size() - suffix.size(), suffix.data(), suffix.size());
}

bool endsWith(const std::string& text, const char* suffix, std::size_t length) {
    return text.size() >= length && text.compare(text.size() - length, length, suffix, length) == 0;
}

std::string asciiLowered(const std::string& text) {
    std::string lowered(text);
    for (char& c : lowered) c = qdl::asciiLower(c);
    return lowered;
}

void lowerInPlace(std::string& text) {
    for (char& c : text) c = static_cast<char>(qdl::lowerCaseTable[static_cast<unsigned char>(c)]);
}

void lowerInto(const std::string& text, std::string& out) {
    out.resize(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        out[i] = static_cast<char>(qdl::lowerCaseTable[static_cast<unsigned char>(text[i])]);
}

// A text that begins with a double quote (a quoted account, as a router
// target may be written) is split after its last quote, so that an "@"
// inside the quotes does not split it.
Address splitAddress(const std::string& text, const std::string& defaultDomain) {
    std::string::size_type from = 0;
    if (!text.empty() && text[0] == '"') {
        const std::string::size_type quote = text.rfind('"');
        if (quote != 0) from = quote;
    }
    std::string::size_type at = text.find('@', from);
    if (at == std::string::npos) at = text.find('%', from);
    Address address;
    if (at == std::string::npos) {
        address.first = text;
        if (!text.empty()) address.second = defaultDomain;
    } else {
        address.first.assign(text, 0, at);
        address.second.assign(text, at + 1, std::string::npos);
    }
    lowerInPlace(address.first);
    lowerInPlace(address.second);
    return address;
}

RouterEntry entryFor(const std::string& text, bool bracketed, const std::string& defaultDomain) {
    RouterEntry entry;
    entry.bracketed = bracketed;
    entry.prefix = text;
    lowerInPlace(entry.prefix);
    if (bracketed && entry.prefix.find('@') == std::string::npos) entry.prefix += "@" + defaultDomain;
    std::string& prefix = entry.prefix;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (prefix[i] == '*' && (i == 0 || prefix[i - 1] != '\\')) {
            entry.wildcard = true;
            entry.suffix.assign(prefix, i + 1, std::string::npos);
            prefix.resize(i);
            break;
        }
    }
    return entry;
}

// Byte keys to the routes whose key ends at a node, in table order. Built
// node by node, then frozen into flat arrays in breadth-first order, so
// that a walk reads few cache lines: a node's children stand side by side.
class Trie {
public:
    Trie() : building_(1) {}

    template <class It>
    void add(It begin, It end, std::uint32_t route) {
        std::uint32_t node = 0;
        for (; begin != end; ++begin) node = childOrNew(node, static_cast<unsigned char>(*begin));
        building_[node].routes.push_back(route);
    }

    void freeze() {
        std::vector<std::uint32_t> order(1, 0);
        std::vector<std::uint32_t> renamed(building_.size(), 0);
        for (std::size_t k = 0; k < order.size(); ++k) {
            for (const Child& child : building_[order[k]].children) {
                renamed[child.node] = static_cast<std::uint32_t>(order.size());
                order.push_back(child.node);
            }
        }
        nodes_.clear();
        for (std::uint32_t old : order) {
            const Node& node = building_[old];
            nodes_.push_back(Frozen{static_cast<std::uint32_t>(children_.size()), static_cast<std::uint32_t>(routes_.size())});
            for (const Child& child : node.children) children_.push_back(Child{child.byte, renamed[child.node]});
            routes_.insert(routes_.end(), node.routes.begin(), node.routes.end());
        }
        nodes_.push_back(Frozen{static_cast<std::uint32_t>(children_.size()), static_cast<std::uint32_t>(routes_.size())});
        std::vector<Node>().swap(building_);
    }

    // Frozen only.
    bool empty() const { return children_.empty(); }

    std::uint32_t child(std::uint32_t node, unsigned char byte) const {
        const Child* first = children_.data() + nodes_[node].childStart;
        const Child* last = children_.data() + nodes_[node + 1].childStart;
        const Child* it = std::lower_bound(first, last, byte, before);
        return it != last && it->byte == byte ? it->node : kNoRoute;
    }

    // The routes whose key ends at the node.
    const std::uint32_t* routesBegin(std::uint32_t node) const { return routes_.data() + nodes_[node].routeStart; }
    const std::uint32_t* routesEnd(std::uint32_t node) const { return routes_.data() + nodes_[node + 1].routeStart; }

private:
    struct Child {
        unsigned char byte;
        std::uint32_t node;
    };
    struct Node {
        std::vector<Child> children;  // by byte
        std::vector<std::uint32_t> routes;
    };

    static bool before(const Child& child, unsigned char byte) { return child.byte < byte; }

    std::uint32_t childOrNew(std::uint32_t node, unsigned char byte) {
        std::vector<Child>& children = building_[node].children;
        const auto it = std::lower_bound(children.begin(), children.end(), byte, before);
        if (it != children.end() && it->byte == byte) return it->node;
        const std::uint32_t made = static_cast<std::uint32_t>(building_.size());
        children.insert(it, Child{byte, made});
        building_.emplace_back();  // children is not used past this point
        return made;
    }

    // A frozen node's children and routes run to where the next node's begin;
    // one node more stands at the end.
    struct Frozen {
        std::uint32_t childStart;
        std::uint32_t routeStart;
    };

    std::vector<Node> building_;
    std::vector<Frozen> nodes_;
    std::vector<Child> children_;
    std::vector<std::uint32_t> routes_;
};

// One table in the order its entries were added, and its index.
class RouteTable {
public:
    std::vector<Route> routes;

    void index() {
        exact_.reserve(routes.size());
        for (std::uint32_t i = 0; i < routes.size(); ++i) {
            const RouterEntry& p = routes[i].pattern;
            if (!p.wildcard) {
                exact_.emplace(qdl::lowerCase(p.prefix), i);  // the first of equal patterns
            } else if (!p.suffix.empty()) {
                const std::string key = asciiLowered(p.suffix);
                suffixes_.add(key.rbegin(), key.rend(), i);
            } else if (!p.prefix.empty()) {
                const std::string key = asciiLowered(p.prefix);
                prefixes_.add(key.begin(), key.end(), i);
            } else if (any_ == kNoRoute) {
                any_ = i;
            }
        }
        suffixes_.freeze();
        prefixes_.freeze();
    }

    // The first route whose pattern matches the text, or kNoRoute. Exact
    // patterns match whatever the letter case; a wildcard pattern's prefix
    // and suffix ignore ASCII case.
    std::uint32_t find(const std::string& text, std::string& scratch) const {
        std::uint32_t best = any_;
        if (!exact_.empty()) {
            lowerInto(text, scratch);
            const auto it = exact_.find(scratch);
            if (it != exact_.end() && it->second < best) best = it->second;
        }
        const std::size_t n = text.size();
        if (!prefixes_.empty()) {
            std::uint32_t node = 0;
            for (std::size_t i = 0; i < n; ++i) {
                node = prefixes_.child(node, qdl::asciiLower(text[i]));
                if (node == kNoRoute) break;
                const std::uint32_t* here = prefixes_.routesBegin(node);
                if (here != prefixes_.routesEnd(node) && *here < best) best = *here;
            }
        }
        if (!suffixes_.empty()) {
            std::uint32_t node = 0;
            for (std::size_t k = n; k-- > 0;) {
                node = suffixes_.child(node, qdl::asciiLower(text[k]));
                if (node == kNoRoute) break;
                for (const std::uint32_t* it = suffixes_.routesBegin(node); it != suffixes_.routesEnd(node); ++it) {
                    const std::uint32_t r = *it;
                    if (r >= best) break;
                    const RouterEntry& p = routes[r].pattern;
                    if (n >= p.prefix.size() + p.suffix.size() && startsWithNoCase(text, p.prefix)) {
                        best = r;
                        break;
                    }
                }
            }
        }
        return best;
    }

private:
    std::unordered_map<std::string, std::uint32_t, KeyHash> exact_;
    Trie suffixes_;  // keys reversed
    Trie prefixes_;  // keys in ASCII lower case
    std::uint32_t any_ = kNoRoute;  // the first pattern that is "*" alone
};

// What routing reads: never changed once published.
struct Tables {
    RouteTable address;
    RouteTable domain;
    std::string defaultDomain;
    bool defaultDomainSet = false;
    std::unordered_set<std::string, KeyHash> targets;  // account NUL domain, for isRouteTarget

    const std::string& defaultText() const { return defaultDomainSet ? defaultDomain : getMainDomainName(); }
};

// The live tables, under routerMutex.
struct RouterState {
    std::vector<Route> address;
    std::vector<Route> domain;
    // Set by the last load that succeeded; before one, the main domain.
    std::string defaultDomain;
    // The files as the last load that succeeded found them.
    bool loaded = false;
    qdl::FileStamp dataStamp;
    qdl::FileStamp settingsStamp;
    std::shared_ptr<const Tables> published;
    bool stale = true;
};

// Never destroyed: a thread may route while the process exits.
qdl::SimpleMutex& routerMutex() {
    static qdl::SimpleMutex* m = new qdl::SimpleMutex;
    return *m;
}

RouterState& state() {
    static RouterState* s = new RouterState;
    return *s;
}

// Counts changes of the live tables; a thread's snapshot is good while the
// count is the one it saw.
std::atomic<std::uint64_t> generation{1};

// The default domain for splitting outside routing, under a lock of its
// own taken inside every other: the settings lookups split forwarder targets
// while they hold their lock, which comes after the router's.
qdl::SimpleMutex& defaultDomainMutex() {
    static qdl::SimpleMutex* m = new qdl::SimpleMutex;
    return *m;
}
std::string sharedDefaultDomain;
bool sharedDefaultDomainSet = false;

std::string defaultDomainText() {
    {
        qdl::ScopedLock guard(defaultDomainMutex());
        if (sharedDefaultDomainSet) return sharedDefaultDomain;
    }
    return getMainDomainName();
}

// The tables the running router load builds; the parse's actions fill them.
struct Build {
    std::vector<Route> address;
    std::vector<Route> domain;
    std::string defaultDomain;
};
thread_local Build* building = nullptr;

struct BuildScope {
    explicit BuildScope(Build* build) { building = build; }
    ~BuildScope() { building = nullptr; }
    BuildScope(const BuildScope&) = delete;
    BuildScope& operator=(const BuildScope&) = delete;
};

void changed(RouterState& s) {
    s.stale = true;
    generation.fetch_add(1, std::memory_order_release);
}

// Under routerMutex.
const std::shared_ptr<const Tables>& publishedTables() {
    RouterState& s = state();
    if (s.stale || !s.published) {
        std::shared_ptr<Tables> t = std::make_shared<Tables>();
        t->address.routes = s.address;
        t->domain.routes = s.domain;
        t->defaultDomain = s.defaultDomain;
        t->defaultDomainSet = s.loaded;
        t->address.index();
        t->domain.index();
        const std::string& defaultDomain = t->defaultText();
        for (const Route& route : t->address.routes) {
            if (route.pattern.wildcard || route.target.wildcard) continue;
            const Address target = splitAddress(route.target.prefix, defaultDomain);
            t->targets.insert(target.first + '\0' + target.second);
        }
        s.published = t;
        s.stale = false;
    }
    return s.published;
}

// This thread's snapshot of the tables, good until its next call.
const Tables& snapshot() {
    thread_local std::uint64_t seen = 0;
    thread_local std::shared_ptr<const Tables> tables;
    const std::uint64_t now = generation.load(std::memory_order_acquire);
    if (seen != now || !tables) {
        qdl::ScopedLock guard(routerMutex());
        tables = publishedTables();
        seen = generation.load(std::memory_order_relaxed);
    }
    return *tables;
}

std::string memberText(const Members& members, const char* key) {
    const auto it = members.find(key);
    return it == members.end() || it->second.isNull() ? std::string() : it->second->value;
}

void addGlobalAliases(const DataSet& settings, Build& build) {
    const auto aliases = settings->members.find("GlobalAliases");
    if (aliases == settings->members.end() || aliases->second.isNull()) return;
    // In the order of the names: the settings' own table has none.
    for (const Members::value_type* member : byKey(aliases->second->members)) {
        const std::string target = member->second.isNull() ? std::string() : member->second->value;
        const Address to = splitAddress(target, build.defaultDomain);
        Route route;
        route.pattern.prefix = splitAddress(member->first, build.defaultDomain).first + "@";
        route.pattern.wildcard = true;
        route.pattern.bracketed = true;
        route.target.prefix = to.first + "@" + to.second;
        build.address.push_back(std::move(route));
    }
}

// The text the route makes of what its pattern matched.
void rewrite(const Route& route, const std::string& matched, std::string& out) {
    const RouterEntry& pattern = route.pattern;
    const RouterEntry& target = route.target;
    if (pattern.wildcard) {
        out = matched;
        matchPattern(out, pattern, target);
    } else if (target.wildcard) {
        qdl::logline() << "Invalid router entry (<" << pattern.prefix << "> = " << target.prefix << "*" << target.suffix
                       << "), check the Router webadmin page of CGPro";
        out = target.prefix + "*" + target.suffix;
    } else {
        out = target.prefix;
    }
}

// The server delivers these forms itself: nothing routes them further.
bool isFinalDomain(const std::string& domain) {
    return domain.find('@') != std::string::npos || endsWithNoCase(domain, ".smtp") ||
           endsWithNoCase(domain, ".local") || endsWithNoCase(domain, ".pipe");
}

void runPasses(const Tables& tables, Address& address) {
    thread_local std::string full;
    thread_local std::string scratch;
    thread_local std::string text;
    const std::string& defaultDomain = tables.defaultText();
    std::string& account = address.first;
    std::string& domain = address.second;
    for (int pass = 1;; ++pass) {
        if (pass > kMaxPasses) {
            qdl::logline() << "Internal loop into filter's router. If there's no internal loop into Communigate Pro "
                              "router, please contact Quandrel.";
            return;
        }
        if (account.empty() && domain.empty()) return;
        if (domain == "blacklisted") {
            address = splitAddress(account, defaultDomain);
            continue;
        }
        if (endsWith(domain, "@blacklisted", 12)) {
            domain = splitAddress(domain, defaultDomain).first;
            continue;
        }
        full.assign(account).append(1, '@').append(domain);
        std::uint32_t r = tables.address.find(full, scratch);
        if (r != kNoRoute) {
            rewrite(tables.address.routes[r], full, text);
            address = splitAddress(text, defaultDomain);
            if (isFinalDomain(domain)) return;
            continue;
        }
        r = tables.domain.find(domain, scratch);
        if (r == kNoRoute) return;
        rewrite(tables.domain.routes[r], domain, text);
        domain = text;
    }
}

}  // namespace

bool loadRouter() {
    qdl::ScopedLock guard(routerMutex());
    RouterState& s = state();
    // Taken before the files are read: a change while they are read is
    // seen by the next load.
    const qdl::FileStamp dataStamp = qdl::fileStamp(kRouterData);
    if (!dataStamp.isRegular()) return false;
    const qdl::FileStamp settingsStamp = qdl::fileStamp(kRouterSettings);
    if (s.loaded && dataStamp == s.dataStamp && settingsStamp == s.settingsStamp) return false;

    // Read before the parse: a route without a target stands for the main
    // domain, and no file can be read from inside the router's parse.
    const std::string mainDomain = getMainDomainName();
    const DataSet settings = DataSet::loadFromFile(kRouterSettings);
    if (settings->isEmpty()) return false;

    Build fresh;
    fresh.defaultDomain = mainDomain;
    const Members& members = settings->members;
    if (members.count("DomainQualifier") != 0 && members.count("ExtendNonQualifiedDomains") != 0 &&
        qdl::lowerCase(memberText(members, "ExtendNonQualifiedDomains")) == "yes")
        fresh.defaultDomain = memberText(members, "DomainQualifier");
    addGlobalAliases(settings, fresh);
    bool parsed;
    {
        BuildScope scope(&fresh);
        parsed = parseFile(kRouterData, kRouterMode);
    }
    if (!parsed) return false;

    s.address.swap(fresh.address);
    s.domain.swap(fresh.domain);
    s.defaultDomain = fresh.defaultDomain;
    s.loaded = true;
    s.dataStamp = dataStamp;
    s.settingsStamp = settingsStamp;
    {
        qdl::ScopedLock inner(defaultDomainMutex());
        sharedDefaultDomain = fresh.defaultDomain;
        sharedDefaultDomainSet = true;
    }
    changed(s);
    publishedTables();  // the index is part of the load
    return true;
}

Address routeAddress(const std::string& account, const std::string& domain) {
    const Tables& tables = snapshot();
    Address address(account, domain);
    if (!address.second.empty() && address.second[0] == '[') findDomainByIP(address.second);
    runPasses(tables, address);
    if (endsWith(address.second, ".here", 5)) address.second.resize(address.second.size() - 5);
    return address;
}

Address parseAddress(const std::string& text) { return splitAddress(text, defaultDomainText()); }

bool matchPattern(std::string& address, const RouterEntry& pattern, const RouterEntry& target) {
    const std::size_t prefix = pattern.prefix.size();
    const std::size_t suffix = pattern.suffix.size();
    if (address.size() < prefix + suffix) return false;
    if (!startsWithNoCase(address, pattern.prefix) || !endsWithNoCase(address, pattern.suffix)) return false;
    if (target.wildcard)
        address = target.prefix + address.substr(prefix, address.size() - prefix - suffix) + target.suffix;
    else
        address = target.prefix;
    return true;
}

bool isRouteTarget(const std::string& account, const std::string& domain) {
    return snapshot().targets.count(account + '\0' + domain) != 0;
}

RouterEntry parsePipeTarget(const std::string& text) {
    if (text.empty()) return RouterEntry();
    const std::string inner = text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
    return entryFor(inner + "@pipe", false, defaultDomainText());
}

void clearRouterTables() {
    qdl::ScopedLock guard(routerMutex());
    RouterState& s = state();
    s.address.clear();
    s.domain.clear();
    changed(s);
}

// ---- parser actions ----

RouterEntry* makeAddressEntry(const char* text, bool bracketed) {
    const std::string defaultDomain = building != nullptr ? building->defaultDomain : defaultDomainText();
    return new RouterEntry(entryFor(text != nullptr ? text : "", bracketed, defaultDomain));
}

Route* makeRoute(RouterEntry* pattern, RouterEntry* target) {
    std::unique_ptr<RouterEntry> p(pattern);
    std::unique_ptr<RouterEntry> t(target);
    std::unique_ptr<Route> route(new Route);
    if (p) route->pattern = std::move(*p);
    if (t)
        route->target = std::move(*t);
    else
        route->target = entryFor(getMainDomainName(), false, std::string());
    return route.release();
}

void addRouterEntry(Route* route) {
    std::unique_ptr<Route> owned(route);
    if (!owned) return;
    if (building != nullptr) {
        (owned->pattern.bracketed ? building->address : building->domain).push_back(std::move(*owned));
        return;
    }
    // Someone else's router-mode parse: it checks the syntax only. Taking the
    // router's lock here, inside the parser's, would reverse their order.
    if (ParseInProgress::onThisThread()) return;
    qdl::ScopedLock guard(routerMutex());
    RouterState& s = state();
    (owned->pattern.bracketed ? s.address : s.domain).push_back(std::move(*owned));
    changed(s);
}

void freeRouterEntry(RouterEntry* entry) { delete entry; }

void freeRoute(Route* route) { delete route; }

}  // namespace cgp
