// The settings lookups and the router on a server tree of the size of a
// large installation: load times at two sizes (to show they grow linearly),
// then routes and mailbox-path lookups per second on one and on 8 threads.
// Not a test: it prints figures.
//
//   router_bench [DOMAINS [ACCOUNTS [ENTRIES]]]      (1000 100 10000)
//
// The tree is made in a temporary folder: every domain with its accounts
// (each a ".macnt" folder with an INBOX file), alias, forwarder, group and
// settings files and a list; the router table mixes exact and wildcard
// address entries with exact and wildcard domain entries.
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "serverdata/domains.h"
#include "serverdata/lookup.h"
#include "serverdata/router.h"

using Clock = std::chrono::steady_clock;

namespace {

const double kRunSeconds = 1.0;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void fail(const std::string& what) {
    std::fprintf(stderr, "router_bench: %s\n", what.c_str());
    std::exit(1);
}

void makeDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) fail("cannot make " + path);
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) fail("cannot write " + path);
}

void setTime(const std::string& path, time_t when) {
    utimbuf t;
    t.actime = when;
    t.modtime = when;
    if (::utime(path.c_str(), &t) != 0) fail("cannot set the time of " + path);
}

std::string domainName(int d) { return "d" + std::to_string(d) + ".org"; }
std::string accountName(int a) { return "u" + std::to_string(a); }

void makeDomain(int d, int accounts) {
    const std::string dir = "Domains/" + domainName(d);
    makeDir(dir);
    makeDir(dir + "/Settings");
    makeDir(dir + "/LISTS");
    for (int a = 0; a < accounts; ++a) {
        const std::string account = dir + "/" + accountName(a) + ".macnt";
        makeDir(account);
        writeFile(account + "/INBOX.mbox", "");
    }
    std::string aliases = "{";
    for (int a = 0; a < 10 && a < accounts; ++a)
        aliases += accountName(a) + " = (alias" + std::to_string(a) + ", other" + std::to_string(a) + ");";
    writeFile(dir + "/Settings/aliases.data", aliases + "}");
    writeFile(dir + "/Settings/domainAliases.data", "(alias-" + domainName(d) + ", old-" + domainName(d) + ")");
    std::string forwarders = "{";
    for (int f = 0; f < 5; ++f) forwarders += "fw" + std::to_string(f) + " = \"u1@" + domainName(d) + "\";";
    writeFile(dir + "/Settings/forwarders.data", forwarders + "}");
    writeFile(dir + "/Settings/groups.data", "{staff = {RealName = Staff;}; sales = {RealName = Sales;};}");
    writeFile(dir + "/Settings/domain.settings",
              "{IPAddresses = (#I[10." + std::to_string(d / 250) + "." + std::to_string(d % 250) + ".1]);}");
    writeFile(dir + "/LISTS/news.list", "");
}

// Touches every domain's alias files, so that a load reads them all again.
void touchAliasFiles(int domains, time_t when) {
    for (int d = 0; d < domains; ++d) {
        const std::string dir = "Domains/" + domainName(d) + "/Settings/";
        setTime(dir + "aliases.data", when);
        setTime(dir + "domainAliases.data", when);
    }
}

// A quarter each: exact addresses, wildcard addresses (a domain moved),
// exact domains and wildcard domains.
std::string routerTable(int entries, int domains, int accounts) {
    std::string text = "; generated\n";
    for (int i = 0; i < entries; ++i) {
        const int d = i % domains;
        const int n = i / 4;
        switch (i % 4) {
        case 0:
            text += "<" + accountName(n % accounts) + "@x" + std::to_string(n) + ".net> = " + accountName(n % accounts) +
                    "@" + domainName(d) + "\n";
            break;
        case 1:
            text += "<*@moved" + std::to_string(n) + ".com> = *@" + domainName(d) + "\n";
            break;
        case 2:
            text += "old" + std::to_string(n) + ".net = " + domainName(d) + "\n";
            break;
        default:
            text += "Relay: *.sub" + std::to_string(n) + ".org = *." + domainName(d) + ".here\n";
            break;
        }
    }
    return text;
}

double loadRouterWith(int entries, int domains, int accounts, time_t when) {
    writeFile("Settings/Router.data", routerTable(entries, domains, accounts));
    setTime("Settings/Router.data", when);
    const auto start = Clock::now();
    if (!cgp::loadRouter()) fail("the router did not load");
    return since(start);
}

// Runs the job on each of the threads for about kRunSeconds; returns the
// number of calls per second over all threads. A job returns a size, summed
// so that the calls cannot be left out.
template <class Job>
double perSecond(int threads, Job job, std::atomic<std::size_t>& sink) {
    std::atomic<long> total{0};
    std::vector<std::thread> running;
    const auto start = Clock::now();
    for (int t = 0; t < threads; ++t) {
        running.emplace_back([&total, &job, &sink, start, t] {
            long done = 0;
            std::size_t sum = 0;
            std::size_t i = static_cast<std::size_t>(t) * 7919;
            while (since(start) < kRunSeconds) {
                for (int k = 0; k < 1000; ++k) sum += job(i++);
                done += 1000;
            }
            total += done;
            sink += sum;
        });
    }
    for (std::thread& t : running) t.join();
    return static_cast<double>(total.load()) / since(start);
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

}  // namespace

int main(int argc, char** argv) {
    const int domains = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int accounts = argc > 2 ? std::atoi(argv[2]) : 100;
    const int entries = argc > 3 ? std::atoi(argv[3]) : 10000;
    if (domains < 2 || accounts < 1 || entries < 4) fail("sizes too small");

    char folder[] = "/tmp/router_bench_XXXXXX";
    if (::mkdtemp(folder) == nullptr) fail("cannot make a temporary folder");
    if (::chdir(folder) != 0) fail("cannot enter the temporary folder");
    makeDir("Settings");
    makeDir("Accounts");
    makeDir("Domains");
    writeFile("Settings/Main.settings", "{DomainName = main.com;}");
    writeFile("Settings/Router.settings", "{GlobalAliases = {postmaster = \"admin@main.com\";};}");

    std::printf("tree: %d domains x %d accounts, router table of %d entries\n", domains, accounts, entries);
    time_t stamp = 1600000000;

    // Load times at half and at full size, every file read (cold caches).
    const int half = domains / 2;
    auto start = Clock::now();
    for (int d = 0; d < half; ++d) makeDomain(d, accounts);
    std::printf("  made %d domains in %.2f s\n", half, since(start));
    start = Clock::now();
    cgp::loadDomains("");
    const double domainsHalf = since(start);
    start = Clock::now();
    for (int d = half; d < domains; ++d) makeDomain(d, accounts);
    std::printf("  made %d more domains in %.2f s\n", domains - half, since(start));
    touchAliasFiles(domains, ++stamp);
    start = Clock::now();
    cgp::loadDomains("");
    const double domainsFull = since(start);
    start = Clock::now();
    cgp::loadDomains("");
    const double domainsAgain = since(start);
    std::printf("load domains: %d domains %.1f ms, %d domains %.1f ms (x%.2f for x%.2f); again, files unchanged, "
                "%.1f ms\n",
                half, domainsHalf * 1e3, domains, domainsFull * 1e3, domainsFull / domainsHalf,
                static_cast<double>(domains) / half, domainsAgain * 1e3);

    const double routerHalf = loadRouterWith(entries / 2, domains, accounts, ++stamp);
    const double routerDouble = loadRouterWith(entries * 2, domains, accounts, ++stamp);
    const double routerFull = loadRouterWith(entries, domains, accounts, ++stamp);
    std::printf("load router: %d entries %.1f ms, %d entries %.1f ms, %d entries %.1f ms (x%.2f and x%.2f for x2 "
                "each)\n",
                entries / 2, routerHalf * 1e3, entries, routerFull * 1e3, entries * 2, routerDouble * 1e3,
                routerFull / routerHalf, routerDouble / routerFull);

    // Addresses to route: a fifth each hitting exact address entries,
    // moved domains, exact and wildcard domain entries, and none at all.
    std::vector<cgp::Address> addresses;
    std::mt19937 gen(7);
    const int quarter = entries / 4;
    for (int i = 0; i < 100000; ++i) {
        const int n = static_cast<int>(gen() % static_cast<unsigned>(quarter));
        const std::string account = accountName(n % accounts);
        switch (i % 5) {
        case 0: addresses.emplace_back(account, "x" + std::to_string(n) + ".net"); break;
        case 1: addresses.emplace_back(account, "moved" + std::to_string(n) + ".com"); break;
        case 2: addresses.emplace_back(account, "old" + std::to_string(n) + ".net"); break;
        case 3: addresses.emplace_back(account, "mail.sub" + std::to_string(n) + ".org"); break;
        default: addresses.emplace_back(account, domainName(n % domains)); break;
        }
    }
    // The answers are checked once, outside the timing.
    const cgp::Address sample = cgp::routeAddress(addresses[3].first, addresses[3].second);
    if (sample.second.find(".org") == std::string::npos || sample.second.find(".here") != std::string::npos)
        fail("unexpected route " + sample.first + "@" + sample.second);

    std::atomic<std::size_t> sink{0};
    auto route = [&addresses](std::size_t i) {
        const cgp::Address& a = addresses[i % addresses.size()];
        return cgp::routeAddress(a.first, a.second).second.size();
    };
    const double routes1 = perSecond(1, route, sink);
    const double routes8 = perSecond(8, route, sink);
    std::printf("routes: 1 thread %.0f/s (goal 1000000/s), 8 threads %.0f/s\n", routes1, routes8);

    struct Lookup {
        cgp::Address address;
        std::string mailbox;
    };
    std::vector<Lookup> lookups;
    const char* const mailboxes[3] = {"", "INBOX", "Missing/Box"};
    for (int i = 0; i < 100000; ++i) {
        const int d = static_cast<int>(gen() % static_cast<unsigned>(domains));
        const int a = static_cast<int>(gen() % static_cast<unsigned>(accounts));
        lookups.push_back(Lookup{cgp::Address(accountName(a), domainName(d)), mailboxes[i % 3]});
    }
    if (cgp::getMailboxPath(lookups[1].address, lookups[1].mailbox).empty()) fail("an INBOX was not found");
    auto lookup = [&lookups](std::size_t i) {
        const Lookup& l = lookups[i % lookups.size()];
        return cgp::getMailboxPath(l.address, l.mailbox).size();
    };
    const double paths1 = perSecond(1, lookup, sink);
    const double paths8 = perSecond(8, lookup, sink);
    std::printf("mailbox paths: 1 thread %.0f/s, 8 threads %.0f/s\n", paths1, paths8);

    if (::chdir("/") != 0) fail("cannot leave the temporary folder");
    ::nftw(folder, removeEntry, 64, FTW_DEPTH | FTW_PHYS);
    return sink.load() == 0 ? 1 : 0;
}
