// Rendering WSSP pages. Not a test: it prints figures.
//
//   wssp_bench [RENDERS] [THREADS]
//
// A page of about 200 KB (sections of static text with expressions, loops
// over short lists, conditionals and includes, and a table with one row per
// entry, each row including a cell page) is loaded and rendered RENDERS
// times (10,000) against a data set of 1,000 entries: on one thread, then
// on THREADS threads (8) that each render their own copy of the page and of
// the data set, the renders shared out among them. Output goes to a
// counting sink; MB are 10^6 bytes.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "serverdata/dataset.h"
#include "serverdata/wssp.h"

using Clock = std::chrono::steady_clock;

namespace {

const int kEntries = 1000;
const std::size_t kPageSize = 200 * 1024;

// Counts what is written and keeps none of it.
class CountingSink : public std::streambuf {
public:
    CountingSink() { setp(buffer_, buffer_ + sizeof buffer_); }
    unsigned long long count() const { return count_ + static_cast<unsigned long long>(pptr() - pbase()); }

protected:
    int overflow(int c) override {
        count_ += static_cast<unsigned long long>(pptr() - pbase());
        setp(buffer_, buffer_ + sizeof buffer_);
        if (c != traits_type::eof()) {
            *pptr() = static_cast<char>(c);
            pbump(1);
        }
        return 0;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        if (n > epptr() - pptr()) {
            count_ += static_cast<unsigned long long>(pptr() - pbase() + n);
            setp(buffer_, buffer_ + sizeof buffer_);
            return n;
        }
        std::char_traits<char>::copy(pptr(), s, static_cast<std::size_t>(n));
        pbump(static_cast<int>(n));
        return n;
    }

private:
    char buffer_[64 * 1024];
    unsigned long long count_ = 0;
};

const char* const kLorem =
    "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt ut labore et "
    "dolore magna aliqua. Ut enim ad minim veniam, quis nostrud exercitation ullamco laboris nisi ut aliquip ex "
    "ea commodo consequat. Duis aute irure dolor in reprehenderit in voluptate velit esse cillum dolore eu fugiat "
    "nulla pariatur.\n";

std::string section(int i) {
    std::string s = "<div class=\"section\" id=\"s" + std::to_string(i) + "\">\n<h2>%%HTML:title%% " +
                    std::to_string(i) + "</h2>\n";
    for (int k = 0; k < 8; ++k) s += std::string("<p>") + kLorem + "</p>\n";
    s += "<!--%%IF user.admin-->\n<p class=\"admin\">%%HTML:user.name%% may change this section.</p>\n"
         "<!--%%ELIF EXISTS(user.name)-->\n<p>Signed in as %%HTML:user.name%%.</p>\n"
         "<!--%%ELSE-->\n<p>Not signed in.</p>\n<!--%%ENDIF-->\n"
         "<ul><!--%%FOREACH m IN menu-->\n<li class=\"%%m[].class%%\"><a href=\"%%URL:m[].url%%\">"
         "%%HTML:m[].label%%</a></li><!--%%ENDFOR m--></ul>\n"
         "<!--%%INCLUDE \"note.wssp\" (title, \"section\")-->\n</div>\n";
    return s;
}

std::string mainPage() {
    std::string table =
        "<table>\n<!--%%FOREACH e IN entries--><tr<!--%%IF ISEVEN(e)--> class=\"even\"<!--%%ENDIF-->>"
        "<td>%%INDEX1:e%%</td><td>%%HTML:e[].name%%</td><td>%%e[].size%%</td><td>%%DATE:e[].date%%</td>"
        "<td><!--%%IF e[].flagged-->!<!--%%ELSE-->-<!--%%ENDIF--></td>"
        "<!--%%INCLUDE \"cell.wssp\" (e[].id)--></tr>\n<!--%%EMPTYFOR e--><tr><td>none</td></tr><!--%%ENDFOR e-->"
        "</table>\n";
    std::string page = "<!--%%INCLUDE \"header.wssp\"-->\n<body>\n";
    for (int i = 0; page.size() + table.size() < kPageSize; ++i) {
        page += section(i);
        if (i == 10) page += table;
    }
    page += "</body></html>\n";
    return page;
}

cgp::DataSet variables() {
    cgp::DataSet v(cgp::DataSet::kDictionary);
    v->members["title"] = cgp::DataSet("Mailbox & Settings");
    cgp::DataSet user(cgp::DataSet::kDictionary);
    user->members["name"] = cgp::DataSet("Jane <jane@example.com>");
    user->members["admin"] = cgp::DataSet("NO");
    v->members["user"] = user;
    cgp::DataSet menu(cgp::DataSet::kArray);
    for (int i = 0; i < 8; ++i) {
        cgp::DataSet m(cgp::DataSet::kDictionary);
        m->members["class"] = cgp::DataSet(i == 0 ? "current" : "item");
        m->members["url"] = cgp::DataSet("/page/" + std::to_string(i) + ".wssp");
        m->members["label"] = cgp::DataSet("Page \"" + std::to_string(i) + "\"");
        menu->elements.push_back(m);
    }
    v->members["menu"] = menu;
    cgp::DataSet entries(cgp::DataSet::kArray);
    for (int i = 0; i < kEntries; ++i) {
        cgp::DataSet e(cgp::DataSet::kDictionary);
        e->members["id"] = cgp::DataSet(std::to_string(100000 + i));
        e->members["name"] = cgp::DataSet("Message <" + std::to_string(i) + "> from a&b");
        e->members["size"] = cgp::DataSet(std::to_string(1024 + 37 * i));
        e->members["date"] = cgp::DataSet(std::to_string(1054631107 + 3600 * i));
        e->members["flagged"] = cgp::DataSet(i % 7 == 0 ? "YES" : "NO");
        entries->elements.push_back(e);
    }
    v->members["entries"] = entries;
    return v;
}

// Page files in a folder of their own, each thread's copies loaded apart.
class Pages {
public:
    explicit Pages(const std::string& folder) : folder_(folder) {
        main_.reset(load("main.wssp"));
        for (const char* name : {"header.wssp", "note.wssp", "cell.wssp"}) included_.emplace_back(name, load(name));
    }
    cgp::WsspNode* page(const std::string& name) {
        for (auto& p : included_)
            if (p.first == name) return p.second.get();
        return nullptr;
    }
    const cgp::WsspNode* main() const { return main_.get(); }

private:
    cgp::WsspNode* load(const std::string& name) {
        cgp::WsspNode* root = cgp::WSSPPage::loadFromFile(folder_ + "/" + name);
        if (root == nullptr) {
            std::fprintf(stderr, "wssp_bench: %s does not load\n", name.c_str());
            std::exit(1);
        }
        return root;
    }
    std::string folder_;
    std::unique_ptr<cgp::WsspNode> main_;
    std::vector<std::pair<std::string, std::unique_ptr<cgp::WsspNode>>> included_;
};

// Serves each thread its own copies: the handler is process-wide, the
// pages are found by the thread that asks.
thread_local Pages* threadPages = nullptr;

struct Router {
    cgp::WsspNode* page(const std::string& name) { return threadPages != nullptr ? threadPages->page(name) : nullptr; }
};

void write(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

void report(const char* label, int renders, unsigned long long bytes, double seconds) {
    std::printf("%-22s %7d renders %9.2f s %10.0f pages/s %9.1f MB/s\n", label, renders, seconds, renders / seconds,
                static_cast<double>(bytes) / 1e6 / seconds);
}

}  // namespace

int main(int argc, char** argv) {
    const int renders = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int threads = argc > 2 ? std::atoi(argv[2]) : 8;
    if (renders <= 0 || threads <= 0) {
        std::fprintf(stderr, "usage: wssp_bench [RENDERS] [THREADS]\n");
        return 2;
    }

    char folderName[] = "/tmp/wssp_bench.XXXXXX";
    if (::mkdtemp(folderName) == nullptr) {
        std::perror("wssp_bench: mkdtemp");
        return 1;
    }
    const std::string folder = folderName;
    const std::string page = mainPage();
    write(folder + "/main.wssp", page);
    write(folder + "/header.wssp", "<html><head><title>%%HTML:title%%</title></head>\n");
    write(folder + "/note.wssp", "<p class=\"note\">%%HTML:INCLUDEARG(0)%% (%%INCLUDEARG(1)%%)</p>\n");
    write(folder + "/cell.wssp", "<td><a href=\"msg?id=%%INCLUDEARG(0)%%\">open</a></td>");

    Router router;
    cgp::WSSPPage::setIncludeHandler(&router, &Router::page);

    const auto loadStart = Clock::now();
    Pages pages(folder);
    const double loadSeconds = std::chrono::duration<double>(Clock::now() - loadStart).count();
    threadPages = &pages;
    const cgp::DataSet vars = variables();

    unsigned long long perPage = 0;
    {
        CountingSink sink;
        std::ostream out(&sink);
        cgp::WSSPPage::render(pages.main(), out, vars);
        perPage = sink.count();
    }
    std::printf("page %zu bytes, loaded in %.1f ms; %d entries; %llu bytes of output a render\n", page.size(),
                loadSeconds * 1e3, kEntries, perPage);

    {
        CountingSink sink;
        std::ostream out(&sink);
        const auto start = Clock::now();
        for (int i = 0; i < renders; ++i) cgp::WSSPPage::render(pages.main(), out, vars);
        report("1 thread", renders, sink.count(), std::chrono::duration<double>(Clock::now() - start).count());
    }

    {
        std::vector<std::unique_ptr<Pages>> copies;
        std::vector<cgp::DataSet> data;
        for (int t = 0; t < threads; ++t) {
            copies.emplace_back(new Pages(folder));
            data.push_back(variables());
        }
        std::atomic<unsigned long long> bytes{0};
        std::atomic<int> ready{0};
        std::atomic<bool> go{false};
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            const int share = renders / threads + (t < renders % threads ? 1 : 0);
            workers.emplace_back([&, t, share] {
                threadPages = copies[static_cast<std::size_t>(t)].get();
                CountingSink sink;
                std::ostream out(&sink);
                ++ready;
                while (!go) std::this_thread::yield();
                for (int i = 0; i < share; ++i)
                    cgp::WSSPPage::render(threadPages->main(), out, data[static_cast<std::size_t>(t)]);
                bytes += sink.count();
            });
        }
        while (ready < threads) std::this_thread::yield();
        const auto start = Clock::now();
        go = true;
        for (auto& w : workers) w.join();
        const std::string label = std::to_string(threads) + " threads";
        report(label.c_str(), renders, bytes, std::chrono::duration<double>(Clock::now() - start).count());
    }

    cgp::WSSPPage::setIncludeHandler(nullptr, nullptr);
    for (const char* name : {"main.wssp", "header.wssp", "note.wssp", "cell.wssp"})
        ::unlink((folder + "/" + name).c_str());
    ::rmdir(folder.c_str());
    return 0;
}
