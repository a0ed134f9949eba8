#include "runtime/files.h"

#include "runtime/datetime.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Each test gets its own directory, removed afterwards; the working
// directory is restored in case a test moves into it.
class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/files_test_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        char cwd[4096];
        ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
        cwd_ = cwd;
    }
    void TearDown() override {
        ASSERT_EQ(::chdir(cwd_.c_str()), 0);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    void write(const std::string& name, const std::string& content) const {
        std::ofstream f(path(name), std::ios::binary);
        f << content;
    }

    std::string read(const std::string& name) const {
        std::ifstream f(path(name), std::ios::binary);
        std::ostringstream s;
        s << f.rdbuf();
        return s.str();
    }

    void enter() const { ASSERT_EQ(::chdir(dir_.c_str()), 0); }

    // A file "f", a directory "d", links to each and a link to nothing.
    void makeFilesAndLinks() const {
        write("f", "x");
        ASSERT_EQ(::mkdir(path("d").c_str(), 0755), 0);
        ASSERT_EQ(::symlink(path("d").c_str(), path("linkdir").c_str()), 0);
        ASSERT_EQ(::symlink(path("f").c_str(), path("linkfile").c_str()), 0);
        ASSERT_EQ(::symlink(path("missing").c_str(), path("dangling").c_str()), 0);
    }

    std::string dir_;
    std::string cwd_;
};

std::set<std::string> listAll(qdl::Directory& d) {
    std::set<std::string> names;
    while (d.next()) names.insert(d.name());
    return names;
}

TEST(WildcardMatch, Table) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {
        {"*.txt", "a.txt", true},   {"*.txt", "a.txt.bak", false}, {"a?c", "abc", true},
        {"a?c", "ac", false},       {"*", "", true},               {"", "", true},
        {"", "a", false},           {"a*b*c", "aXbYbZc", true},    {"A*", "abc", false},
        {"abc", "abc", true},       {"abc", "abcd", false},        {"abcd", "abc", false},
        {"*a", "bbba", true},       {"*a", "bbab", false},         {"**", "x", true},
        {"a*", "a", true},          {"?", "", false},              {"*?*", "q", true},
        {"*.*", "noext", false},    {"x*yz", "xyyz", true},        {"*ab", "aab", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(qdl::wildcardMatch(c.pattern, c.name), c.match) << c.pattern << " vs " << c.name;
}

TEST(PathTexts, BaseNameDirectoryOfAndSlashes) {
    struct Case {
        const char* path;
        const char* base;
        const char* dir;
    } cases[] = {
        {"dir/sub/", "", "dir/sub/"},
        {"file", "file", "./"},
        {"a\\b\\c", "a\\b\\c", "a/b/"},
        {"/abs/name.txt", "name.txt", "/abs/"},
        {"/", "", "/"},
        {"", "", "./"},
    };
    for (const Case& c : cases) {
        std::string p = c.path;
        EXPECT_EQ(qdl::baseName(p), c.base) << c.path;
        EXPECT_EQ(qdl::directoryOf(p), c.dir) << c.path;
        EXPECT_EQ(p, c.path) << "argument changed";
    }
    std::string s = "a\\\\b\\c/d";
    EXPECT_EQ(&qdl::normalizeSlashes(s), &s);
    EXPECT_EQ(s, "a//b/c/d");
}

TEST_F(FilesTest, AbsolutePath) {
    EXPECT_EQ(qdl::absolutePath("/etc"), "/etc");
    ASSERT_EQ(::chdir("/tmp"), 0);
    EXPECT_EQ(qdl::absolutePath("x"), "/tmp/x");
    enter();
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(qdl::absolutePath("a/b"), std::string(cwd) + "/a/b");
}

TEST_F(FilesTest, FileAndDirectoryTests) {
    ASSERT_NO_FATAL_FAILURE(makeFilesAndLinks());

    EXPECT_TRUE(qdl::isFile(path("f")));
    EXPECT_FALSE(qdl::isDirectory(path("f")));
    EXPECT_TRUE(qdl::isDirectory(path("d")));
    EXPECT_FALSE(qdl::isFile(path("d")));
    EXPECT_TRUE(qdl::isDirectory(path("linkdir")));
    EXPECT_TRUE(qdl::isFile(path("linkfile")));
    EXPECT_FALSE(qdl::isFile(path("dangling")));
    EXPECT_FALSE(qdl::isFile(path("missing")));
    EXPECT_FALSE(qdl::isDirectory(path("missing")));
    EXPECT_TRUE(qdl::isReadable(path("f")));
    EXPECT_FALSE(qdl::isReadable(path("missing")));
}

// The tests that look at the name itself: a link is what stands there,
// whatever it leads to.
TEST_F(FilesTest, TestsThatDoNotFollowLinks) {
    ASSERT_NO_FATAL_FAILURE(makeFilesAndLinks());
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
    const struct {
        const char* name;
        bool exists, directory, regular;
    } cases[] = {
        {"f", true, false, true},          {"d", true, true, false},
        {"linkdir", true, false, false},   {"linkfile", true, false, false},
        {"dangling", true, false, false},  {"fifo", true, false, false},
        {"missing", false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(qdl::existsNoFollow(path(c.name)), c.exists);
        EXPECT_EQ(qdl::isDirectoryNoFollow(path(c.name)), c.directory);
        EXPECT_EQ(qdl::isRegularFileNoFollow(path(c.name)), c.regular);
    }
}

// A socket's type code shares the directory bit; it must not count as one.
TEST_F(FilesTest, SocketIsNotADirectory) {
    int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    std::string p = path("sock");
    ASSERT_LT(p.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, p.c_str());
    ASSERT_EQ(::bind(s, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_FALSE(qdl::isDirectory(p));
    EXPECT_TRUE(qdl::isFile(p));
    ::close(s);
}

TEST_F(FilesTest, IsWritableNeitherTruncatesNorCreates) {
    write("f", "content");
    EXPECT_TRUE(qdl::isWritable(path("f")));
    EXPECT_EQ(read("f"), "content");
    EXPECT_FALSE(qdl::isWritable(path("missing")));
    EXPECT_FALSE(fs::exists(path("missing")));
    ASSERT_EQ(::mkdir(path("d").c_str(), 0755), 0);
    EXPECT_FALSE(qdl::isWritable(path("d")));
}

// A FIFO without a reader: the test must answer at once instead of waiting
// for a reader that may never come.
TEST_F(FilesTest, IsWritableDoesNotWaitForAReaderOfAFifo) {
    const std::string fifo = path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::promise<bool> answer;
    std::future<bool> result = answer.get_future();
    std::thread asker([&] { answer.set_value(qdl::isWritable(fifo)); });
    const bool answered = result.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!answered) {
        // Let the stuck open through, so the thread can be joined.
        int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        asker.join();
        if (reader >= 0) ::close(reader);
    } else {
        asker.join();
    }
    ASSERT_TRUE(answered) << "isWritable blocked on a FIFO";
    EXPECT_TRUE(result.get());  // writable by its permissions
}

TEST_F(FilesTest, SizesAndTimes) {
    write("f", std::string(1234, 'z'));
    EXPECT_EQ(qdl::fileSize(path("f")), 1234);
    EXPECT_EQ(qdl::fileSize(path("missing")), -1);
    EXPECT_EQ(qdl::fileSize(static_cast<FILE*>(nullptr)), -1);
    FILE* f = std::fopen(path("f").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(qdl::fileSize(f), 1234);

    struct utimbuf t;
    t.actime = t.modtime = 1000000000;
    ASSERT_EQ(::utime(path("f").c_str(), &t), 0);
    EXPECT_EQ(qdl::fileModificationTime(path("f")), 1000000000);
    EXPECT_EQ(qdl::fileModificationTime(f), 1000000000);
    EXPECT_EQ(qdl::fileModificationTime(path("missing")), -1);
    EXPECT_EQ(qdl::fileModificationTime(static_cast<FILE*>(nullptr)), -1);
    std::fclose(f);
}

// A settings file rewritten within the second of the last look must not
// pass for unchanged: the stamp tells apart every change a reload has to see.
TEST_F(FilesTest, FileStampsTellStatesApart) {
    auto setTime = [this](const std::string& name, long nanoseconds) {
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = 1000000000;
        times[0].tv_nsec = times[1].tv_nsec = nanoseconds;
        ASSERT_EQ(::utimensat(AT_FDCWD, path(name).c_str(), times, 0), 0);
    };
    const struct {
        const char* name;
        std::function<void()> change;
        bool same;
    } cases[] = {
        {"untouched", [] {}, true},
        {"rewritten alike at the same time", [&] { write("f", "abc"); setTime("f", 5); }, true},
        {"nanoseconds", [&] { setTime("f", 6); }, false},
        {"size", [&] { write("f", "abcd"); setTime("f", 5); }, false},
        {"another file renamed into its place",
         [&] {
             write("g", "abc");
             setTime("g", 5);
             ASSERT_EQ(::rename(path("g").c_str(), path("f").c_str()), 0);
         },
         false},
        {"a folder in its place",
         [&] {
             ASSERT_EQ(::unlink(path("f").c_str()), 0);
             ASSERT_EQ(::mkdir(path("f").c_str(), 0755), 0);
             setTime("f", 5);
         },
         false},
        {"gone", [&] { ASSERT_EQ(::unlink(path("f").c_str()), 0); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::error_code ec;
        fs::remove_all(path("f"), ec);
        write("f", "abc");
        setTime("f", 5);
        const qdl::FileStamp before = qdl::fileStamp(path("f"));
        ASSERT_TRUE(before.exists);
        EXPECT_TRUE(before.isRegular());
        EXPECT_EQ(before.seconds, 1000000000);
        EXPECT_EQ(before.nanoseconds, 5);
        c.change();
        EXPECT_EQ(qdl::fileStamp(path("f")) == before, c.same);
        EXPECT_EQ(qdl::fileStamp(path("f")) != before, !c.same);
    }
    EXPECT_FALSE(qdl::fileStamp(path("f")).isRegular());  // the folder
    const qdl::FileStamp missing = qdl::fileStamp(path("missing"));
    EXPECT_FALSE(missing.exists);
    EXPECT_FALSE(missing.isRegular());
    EXPECT_TRUE(missing == qdl::fileStamp(path("also missing")));
}

TEST_F(FilesTest, FollowLinks) {
    write("file", "");
    ASSERT_EQ(::mkdir(path("sub").c_str(), 0755), 0);
    write("sub/inner", "");
    const struct {
        const char* link;
        std::string target;
    } links[] = {
        {"rel", "file"},
        {"abs", path("file")},
        {"chain", "sub/chain2"},
        {"sub/chain2", "inner"},  // from the link's own folder
        {"sub/up", "../file"},
        {"dangling", "nothing"},
        {"loop1", "loop2"},
        {"loop2", "loop1"},
        {"self", "self"},
        {"to folder", "sub"},
    };
    for (const auto& l : links) ASSERT_EQ(::symlink(l.target.c_str(), path(l.link).c_str()), 0) << l.link;
    // A chain as long as the system follows, and one link longer.
    for (int i = 0; i <= 40; ++i)
        ASSERT_EQ(::symlink(i == 0 ? "file" : ("long" + std::to_string(i - 1)).c_str(),
                            path("long" + std::to_string(i)).c_str()),
                  0);

    const struct {
        const char* name;
        std::string path;
        bool ok;
        std::string out;
        int error;
    } cases[] = {
        {"no link", path("file"), true, path("file"), 0},
        {"missing", path("none"), true, path("none"), 0},
        {"relative target", path("rel"), true, path("file"), 0},
        {"absolute target", path("abs"), true, path("file"), 0},
        {"chain through another folder", path("chain"), true, path("sub/inner"), 0},
        {"up from the link's folder", path("sub/up"), true, path("sub/../file"), 0},
        {"dangling", path("dangling"), true, path("nothing"), 0},
        {"a folder", path("to folder"), true, path("sub"), 0},
        {"forty links", path("long39"), true, path("file"), 0},
        {"loop", path("loop1"), false, "", ELOOP},
        {"itself", path("self"), false, "", ELOOP},
        {"forty-one links", path("long40"), false, "", ELOOP},
        {"through a file", path("file/x"), false, "", ENOTDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = "untouched";
        errno = 0;
        EXPECT_EQ(qdl::followLinks(c.path, out), c.ok);
        if (c.ok) {
            EXPECT_EQ(out, c.out);
        } else {
            EXPECT_EQ(errno, c.error);
            EXPECT_EQ(out, "untouched");
        }
    }

    // A relative name stays relative; a link in the working folder counts
    // from there.
    enter();
    std::string out;
    ASSERT_TRUE(qdl::followLinks("rel", out));
    EXPECT_EQ(out, "file");
    ASSERT_TRUE(qdl::followLinks("sub/chain2", out));
    EXPECT_EQ(out, "sub/inner");
}

// Sizes past 4 GiB are reported whole, not cut to 32 bits.
TEST_F(FilesTest, SizeOfLargeSparseFile) {
    int fd = ::open(path("big").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const long long size = 5LL * 1024 * 1024 * 1024 + 7;
    if (::ftruncate(fd, size) != 0) {
        ::close(fd);
        GTEST_SKIP() << "file system refuses a sparse file";
    }
    ::close(fd);
    EXPECT_EQ(qdl::fileSize(path("big")), size);
}

TEST_F(FilesTest, RenameRemoveOpen) {
    write("a", "1");
    EXPECT_TRUE(qdl::renameFile(path("a"), path("b")));
    EXPECT_FALSE(fs::exists(path("a")));
    EXPECT_EQ(read("b"), "1");
    EXPECT_FALSE(qdl::renameFile(path("a"), path("c")));
    EXPECT_TRUE(qdl::removeFile(path("b")));
    EXPECT_FALSE(qdl::removeFile(path("b")));

    EXPECT_EQ(qdl::openFile(path("missing"), O_RDONLY), -1);
    int fd = qdl::openFile(path("new"), O_WRONLY | O_CREAT);
    ASSERT_GE(fd, 0);
    // Never inherited by a child program.
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    ASSERT_EQ(::write(fd, "hi", 2), 2);
    qdl::closeFile(fd);
    EXPECT_EQ(read("new"), "hi");
}

TEST_F(FilesTest, Sync) {
    write("f", "data");
    ASSERT_EQ(::mkdir(path("d").c_str(), 0755), 0);
    EXPECT_TRUE(qdl::syncFile(path("f")));
    EXPECT_TRUE(qdl::syncDirectory(path("d")));
    EXPECT_TRUE(qdl::syncDirectory(dir_));
    EXPECT_FALSE(qdl::syncFile(path("missing")));
    EXPECT_FALSE(qdl::syncDirectory(path("missing")));
    EXPECT_FALSE(qdl::syncDirectory(path("f")));
}

TEST_F(FilesTest, DirectorySkipsHiddenNamesAndFilters) {
    write("a", "");
    write(".hidden", "");
    write("b", "");
    write("c.txt", "");
    {
        qdl::Directory d(dir_);
        EXPECT_EQ(d.name(), "");
        EXPECT_EQ(listAll(d), (std::set<std::string>{"a", "b", "c.txt"}));
        EXPECT_EQ(d.name(), "");
        EXPECT_FALSE(d.next());
        d.rewind();
        EXPECT_EQ(listAll(d), (std::set<std::string>{"a", "b", "c.txt"}));
    }
    for (const char* all : {"*.*", "*"}) {
        qdl::Directory d(dir_, all);
        EXPECT_EQ(listAll(d), (std::set<std::string>{"a", "b", "c.txt"})) << all;
    }
    qdl::Directory txt(dir_, "*.txt");
    EXPECT_EQ(listAll(txt), (std::set<std::string>{"c.txt"}));
    qdl::Directory one(dir_, "?");
    EXPECT_EQ(listAll(one), (std::set<std::string>{"a", "b"}));
}

TEST_F(FilesTest, DirectoryThatCannotBeOpened) {
    qdl::Directory d(path("missing"));
    EXPECT_FALSE(d.next());
    EXPECT_EQ(d.name(), "");
    d.rewind();
    EXPECT_FALSE(d.next());
}

TEST_F(FilesTest, MakeDirectory) {
    enter();
    std::string existing = ".";
    EXPECT_TRUE(qdl::makeDirectory(existing));

    std::string withSlash = "new/";
    EXPECT_TRUE(qdl::makeDirectory(withSlash));
    EXPECT_EQ(withSlash, "new");
    EXPECT_TRUE(qdl::isDirectory("new"));
    struct stat st;
    ASSERT_EQ(::stat("new", &st), 0);
    EXPECT_EQ(st.st_uid, ::getuid());

    std::string deep = "x/y/z";
    EXPECT_FALSE(qdl::makeDirectory(deep, false));
    EXPECT_FALSE(qdl::isDirectory("x"));
    EXPECT_TRUE(qdl::makeDirectory(deep, true));
    EXPECT_TRUE(qdl::isDirectory("x/y/z"));

    std::string solo = "solo";
    EXPECT_TRUE(qdl::makeDirectory(solo, true));
    EXPECT_TRUE(qdl::isDirectory("solo"));

    std::string back = "p\\q\\";
    EXPECT_TRUE(qdl::makeDirectory(back, true));
    EXPECT_EQ(back, "p/q");
    EXPECT_TRUE(qdl::isDirectory("p/q"));

    std::string absolute = path("abs/one");
    EXPECT_TRUE(qdl::makeDirectory(absolute, true));
    EXPECT_TRUE(qdl::isDirectory(path("abs/one")));

    std::string root = "/";
    EXPECT_TRUE(qdl::makeDirectory(root));

    write("plain", "");
    std::string onFile = "plain/sub";
    EXPECT_FALSE(qdl::makeDirectory(onFile, true));
    std::string file = "plain";
    EXPECT_FALSE(qdl::makeDirectory(file));
}

// A failed mkdir must not take over the object that stood in the way.
TEST_F(FilesTest, MakeDirectoryLeavesOwnerOfExistingFile) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand a file to another user";
    write("theirs", "");
    ASSERT_EQ(::chown(path("theirs").c_str(), 12345, 12345), 0);
    std::string p = path("theirs");
    EXPECT_FALSE(qdl::makeDirectory(p));
    struct stat st;
    ASSERT_EQ(::stat(path("theirs").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 12345u);
    EXPECT_EQ(st.st_gid, 12345u);
}

TEST_F(FilesTest, RemoveDirectory) {
    ASSERT_EQ(::mkdir(path("t").c_str(), 0755), 0);
    write("t/f", "1");
    EXPECT_FALSE(qdl::removeDirectory(path("t"), false));
    EXPECT_EQ(read("t/f"), "1");

    ASSERT_EQ(::mkdir(path("t/sub").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(path("t/.hiddendir").c_str(), 0755), 0);
    write("t/sub/g", "2");
    write("t/.hidden", "3");
    write("t/.hiddendir/h", "4");
    EXPECT_TRUE(qdl::removeDirectory(path("t"), true));
    EXPECT_FALSE(fs::exists(path("t")));

    ASSERT_EQ(::mkdir(path("empty").c_str(), 0755), 0);
    EXPECT_TRUE(qdl::removeDirectory(path("empty")));
    EXPECT_FALSE(qdl::removeDirectory(path("missing"), true));
}

// A link inside the tree is removed; what it points to is not touched.
TEST_F(FilesTest, RecursiveRemoveDoesNotFollowLinks) {
    ASSERT_EQ(::mkdir(path("keep").c_str(), 0755), 0);
    write("keep/precious", "p");
    write("keepfile", "k");
    ASSERT_EQ(::mkdir(path("t").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(path("keep").c_str(), path("t/link").c_str()), 0);
    ASSERT_EQ(::symlink(path("keepfile").c_str(), path("t/flink").c_str()), 0);
    EXPECT_TRUE(qdl::removeDirectory(path("t"), true));
    EXPECT_FALSE(fs::exists(path("t")));
    EXPECT_EQ(read("keep/precious"), "p");
    EXPECT_EQ(read("keepfile"), "k");
}

TEST_F(FilesTest, ClearDirectoryRemovesFilesOnly) {
    ASSERT_EQ(::mkdir(path("t").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(path("t/sub").c_str(), 0755), 0);
    write("t/a", "");
    write("t/.b", "");
    write("t/sub/c", "");
    qdl::clearDirectory(path("t"));
    EXPECT_TRUE(qdl::isDirectory(path("t")));
    EXPECT_FALSE(fs::exists(path("t/a")));
    EXPECT_FALSE(fs::exists(path("t/.b")));
    EXPECT_TRUE(fs::exists(path("t/sub/c")));
    qdl::clearDirectory(path("missing"));
}

TEST_F(FilesTest, CopyPath) {
    ASSERT_EQ(::mkdir(path("src").c_str(), 0750), 0);
    ASSERT_EQ(::mkdir(path("src/sub").c_str(), 0755), 0);
    std::string big;
    for (int i = 0; i < 20000; ++i) big += static_cast<char>(i * 7);
    write("src/big", big);
    write("src/sub/small", "small");
    write("src/.hidden", "h");
    ASSERT_EQ(::chmod(path("src/sub/small").c_str(), 0640), 0);

    qdl::copyPath(path("src"), path("dst"));
    EXPECT_EQ(read("dst/big"), big);
    EXPECT_EQ(read("dst/sub/small"), "small");
    EXPECT_FALSE(fs::exists(path("dst/.hidden")));
    struct stat st;
    ASSERT_EQ(::stat(path("dst/sub/small").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    ASSERT_EQ(::stat(path("dst").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));

    // Copying again over a longer file leaves exactly the source's bytes.
    write("dst/sub/small", "a much longer old content");
    qdl::copyPath(path("src") + "/", path("dst") + "/");
    EXPECT_EQ(read("dst/sub/small"), "small");
}

TEST_F(FilesTest, CopyDoesNotLoopThroughLinks) {
    ASSERT_EQ(::mkdir(path("src").c_str(), 0755), 0);
    write("src/f", "f");
    ASSERT_EQ(::symlink(path("src").c_str(), path("src/self").c_str()), 0);
    qdl::copyPath(path("src"), path("dst"));
    EXPECT_EQ(read("dst/f"), "f");
    EXPECT_FALSE(fs::exists(path("dst/self/f")));
}

TEST_F(FilesTest, MakeBackupNameMovesTheFileAside) {
    const std::string f = path("f");
    EXPECT_EQ(qdl::makeBackupName(f, ".bak"), "");  // nothing to move
    // Three backups within one second get ".1" and ".1.1"; retried if the
    // clock's second turns in between.
    for (int attempt = 0; attempt < 5; ++attempt) {
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        std::string before = qdl::DateTime::now().format(".YYYYMMDD-hhmmss");
        std::vector<std::string> names;
        for (int i = 0; i < 3; ++i) {
            write("f", std::to_string(i));
            names.push_back(qdl::makeBackupName(f, ".bak"));
        }
        if (qdl::DateTime::now().format(".YYYYMMDD-hhmmss") != before) continue;
        EXPECT_EQ(names[0], ".bak" + before);
        ASSERT_EQ(names[0].size(), std::string(".bak.YYYYMMDD-hhmmss").size()) << names[0];
        for (size_t i = 0; i < names[0].size(); ++i) {
            char c = names[0][i];
            EXPECT_TRUE(i == 13 ? c == '-' : i < 5 ? c == ".bak."[i] : (c >= '0' && c <= '9')) << names[0];
        }
        EXPECT_EQ(names[1], names[0] + ".1");
        EXPECT_EQ(names[2], names[0] + ".1.1");
        EXPECT_FALSE(fs::exists(f));
        for (int i = 0; i < 3; ++i) EXPECT_EQ(read("f" + names[i]), std::to_string(i));
        return;
    }
    FAIL() << "clock kept turning";
}

// Whatever stands under a backup name, a dangling link or a directory, is
// neither replaced by the move nor lets the backup fail: the name moves on.
TEST_F(FilesTest, MakeBackupNameSkipsAnyObjectUnderTheName) {
    const std::string f = path("f");
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::string stamp = ".bak" + qdl::DateTime::now().format(".YYYYMMDD-hhmmss");
        write("f", "data");
        ASSERT_EQ(::symlink(path("nowhere").c_str(), (f + stamp).c_str()), 0);
        ASSERT_EQ(::mkdir((f + stamp + ".1").c_str(), 0755), 0);
        const std::string name = qdl::makeBackupName(f, ".bak");
        if (name.compare(0, stamp.size(), stamp) != 0) {  // the clock's second turned
            fs::remove_all(dir_);
            fs::create_directory(dir_);
            continue;
        }
        EXPECT_EQ(name, stamp + ".1.1");
        EXPECT_EQ(read("f" + name), "data");
        struct stat st;
        ASSERT_EQ(::lstat((f + stamp).c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode));
        EXPECT_FALSE(fs::exists(path("nowhere")));
        EXPECT_TRUE(qdl::isDirectory(f + stamp + ".1"));
        return;
    }
    FAIL() << "clock kept turning";
}

TEST_F(FilesTest, ListBackups) {
    for (const char* name : {"f.bak.20030603-090507", "f.bak.20030604-000000.1", "f.bakX20100101", "f.bak.junk",
                             "f.bak.19991231-000000", "f.bak", "g.bak.20030603-090507", "f.bak."})
        write(name, "");
    ASSERT_EQ(::mkdir(path("sub").c_str(), 0755), 0);
    std::set<std::string> out = {"stale"};
    EXPECT_TRUE(qdl::listBackups(path("f"), ".bak", out));
    EXPECT_EQ(out, (std::set<std::string>{path("f.bak.20030603-090507"), path("f.bak.20030604-000000.1"),
                                          path("f.bakX20100101")}));
    EXPECT_FALSE(qdl::listBackups(path("h"), ".bak", out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(qdl::listBackups(path("sub/f"), ".bak", out));

    // A bare name lists the working directory, names as they stand.
    enter();
    EXPECT_TRUE(qdl::listBackups("g", ".bak", out));
    EXPECT_EQ(out, (std::set<std::string>{"g.bak.20030603-090507"}));
}

TEST_F(FilesTest, RemoveOldBackups) {
    const std::string today = qdl::DateTime::now().format(".YYYYMMDD-hhmmss");
    const std::string yesterday =
        qdl::DateTime(qdl::DateTime::now().toTime() - 86400).format(".YYYYMMDD-hhmmss");
    for (std::string name : {"f.bak.20030603-090507", "f.bak.20030603-090507.1", "f.bak.junk"}) write(name, "");
    write("f.bak" + today, "");
    write("f.bak" + yesterday, "");
    write("f", "current");

    EXPECT_TRUE(qdl::removeOldBackups(path("f"), ".bak", 30));
    EXPECT_FALSE(fs::exists(path("f.bak.20030603-090507")));
    EXPECT_FALSE(fs::exists(path("f.bak.20030603-090507.1")));
    EXPECT_TRUE(fs::exists(path("f.bak.junk")));
    EXPECT_TRUE(fs::exists(path("f.bak" + today)));
    EXPECT_TRUE(fs::exists(path("f.bak" + yesterday)));
    EXPECT_EQ(read("f"), "current");
    EXPECT_FALSE(qdl::removeOldBackups(path("f"), ".bak", 30));

    // Zero days keeps today's and drops yesterday's.
    EXPECT_TRUE(qdl::removeOldBackups(path("f"), ".bak", 0));
    EXPECT_TRUE(fs::exists(path("f.bak" + today)));
    EXPECT_FALSE(fs::exists(path("f.bak" + yesterday)));
}

// Only a removal that happened is reported; one that failed is not.
TEST_F(FilesTest, RemoveOldBackupsReportsOnlyWhatWentAway) {
    ASSERT_EQ(::mkdir(path("f.bak.20030603-090507").c_str(), 0755), 0);  // unlink fails on it
    EXPECT_FALSE(qdl::removeOldBackups(path("f"), ".bak", 30));
    EXPECT_TRUE(qdl::isDirectory(path("f.bak.20030603-090507")));
    write("f.bak.20030604-090507", "");
    EXPECT_TRUE(qdl::removeOldBackups(path("f"), ".bak", 30));
    EXPECT_FALSE(fs::exists(path("f.bak.20030604-090507")));
}

}  // namespace
