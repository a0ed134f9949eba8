// Saving a data set: the file is complete and synced before it takes the
// old one's place, and a failure leaves the old file as it was.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "serverdata/dataset.h"
#include "support/core/limits.h"
#include "support/core/run_program.h"
#include "support/serverdata/fake_base.h"
#include "support/serverdata/values.h"

using cgp::DataSet;
using testsupport::array;
using testsupport::dict;
using testsupport::str;

namespace {

DataSet bigValue() {
    DataSet value(DataSet::kDictionary);
    for (int i = 0; i < 2000; ++i) value->members["key" + std::to_string(i)] = str("value number " + std::to_string(i));
    return value;
}

mode_t modeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// The text of a symbolic link, or "" when the name is no link.
std::string linkText(const std::string& path) {
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace

TEST(DataSetFileTest, SaveWritesTheMultiLineFormAndReplacesTheOldFile) {
    testsupport::FakeBase base;
    const std::string path = base.write("Settings/Main.settings", "old text");
    ::chmod(path.c_str(), 0640);
    const DataSet value = dict({{"DomainName", str("example.com")}, {"List", array({str("a"), str("")})}});
    ASSERT_TRUE(DataSet::saveToFile(value, path));
    EXPECT_EQ(base.read("Settings/Main.settings"), DataSet::toString(value, true));
    EXPECT_EQ(modeOf(path), 0640u);
    EXPECT_TRUE(DataSet::loadFromFile(path) == value);
    // No temporary file stays behind.
    EXPECT_EQ(testsupport::listDir(base / "Settings"), std::vector<std::string>{"Main.settings"});

    ASSERT_TRUE(DataSet::saveToFile(value, base / "Settings/New.settings"));
    EXPECT_EQ(base.read("Settings/New.settings"), DataSet::toString(value, true));

    // A mode that denies writing stays; so does the owner, where we may keep it.
    ::chmod(path.c_str(), 0440);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(path.c_str(), 4321, 4322), 0);
    }
    ASSERT_TRUE(DataSet::saveToFile(str("again"), path));
    EXPECT_EQ(base.read("Settings/Main.settings"), "again");
    EXPECT_EQ(modeOf(path), 0440u);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    if (root) {
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 4322u);
    }
}

// Fault once: the file was emptied in place and a failed write reported
// success, so a full disk left a truncated settings file.
TEST(DataSetFileTest, AFullDiskLeavesTheOldFileUntouched) {
    testsupport::FakeBase base;
    const std::string path = base.write("Settings/Main.settings", "{old = value;}");
    const DataSet value = bigValue();
    ASSERT_GT(DataSet::toString(value, true).size(), 8192u);
    {
        testsupport::ResourceLimit full(RLIMIT_FSIZE, 4096);
        ASSERT_TRUE(full.ok());
        EXPECT_FALSE(DataSet::saveToFile(value, path));
    }
    EXPECT_EQ(base.read("Settings/Main.settings"), "{old = value;}");
    EXPECT_EQ(testsupport::listDir(base / "Settings"), std::vector<std::string>{"Main.settings"});
}

TEST(DataSetFileTest, SaveFailsWhereNoFileCanBeWritten) {
    testsupport::FakeBase base;
    EXPECT_FALSE(DataSet::saveToFile(str("x"), base / "missing/Main.settings"));
    // A folder in the file's place is not replaced.
    base.makeFolder("Settings/Folder.settings");
    EXPECT_FALSE(DataSet::saveToFile(str("x"), base / "Settings/Folder.settings"));
    EXPECT_EQ(testsupport::listDir(base / "Settings"), std::vector<std::string>{"Folder.settings"});
}

TEST(DataSetFileTest, SaveFailsInAReadOnlyFolder) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    testsupport::FakeBase base;
    const std::string path = base.write("Locked/Main.settings", "{old = value;}");
    ::chmod((base / "Locked").c_str(), 0500);
    EXPECT_FALSE(DataSet::saveToFile(str("x"), path));
    ::chmod((base / "Locked").c_str(), 0700);
    EXPECT_EQ(base.read("Locked/Main.settings"), "{old = value;}");
}

// Fault once: a save through a symbolic link put a plain file in the link's
// place and left the file it led to as it was, so settings kept on shared
// storage silently stopped being updated.
TEST(DataSetFileTest, SaveThroughLinksReplacesTheFileTheyLeadTo) {
    const DataSet value = dict({{"DomainName", str("example.com")}});
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links;  // link, its text
        bool targetExists;
        std::string saved, target;
    } cases[] = {
        {"relative, into another folder", {{"Settings/Main.settings", "../Shared/Main.settings"}}, true,
         "Settings/Main.settings", "Shared/Main.settings"},
        {"a chain, each link counting from its own folder",
         {{"Settings/Main.settings", "../Shared/b.settings"}, {"Shared/b.settings", "c.settings"}}, true,
         "Settings/Main.settings", "Shared/c.settings"},
        {"absolute", {{"Settings/Main.settings", "@/Shared/Main.settings"}}, true, "Settings/Main.settings",
         "Shared/Main.settings"},
        {"leading nowhere: the target is made", {{"Settings/Main.settings", "../Shared/Main.settings"}}, false,
         "Settings/Main.settings", "Shared/Main.settings"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::FakeBase base;
        base.makeFolder("Settings");
        base.makeFolder("Shared");
        if (c.targetExists) {
            base.write(c.target, "{old = value;}");
            ::chmod((base / c.target).c_str(), 0640);
        }
        for (const auto& link : c.links) {
            const std::string text = link.second[0] == '@' ? base.path() + link.second.substr(1) : link.second;
            base.link(text, link.first);
        }
        const std::vector<std::string> settingsBefore = testsupport::listDir(base / "Settings");
        std::vector<std::string> sharedBefore = testsupport::listDir(base / "Shared");
        if (!c.targetExists) {
            sharedBefore.push_back("Main.settings");
            std::sort(sharedBefore.begin(), sharedBefore.end());
        }

        // Through the path as the caller wrote it, relative to the base.
        ASSERT_TRUE(DataSet::saveToFile(value, c.saved));
        EXPECT_EQ(base.read(c.target), DataSet::toString(value, true));
        if (c.targetExists) {
            EXPECT_EQ(modeOf(base / c.target), 0640u);
        }
        for (const auto& link : c.links) {
            const std::string text = link.second[0] == '@' ? base.path() + link.second.substr(1) : link.second;
            EXPECT_EQ(linkText(base / link.first), text) << link.first;
        }
        EXPECT_TRUE(DataSet::loadFromFile(c.saved) == value);
        // Nothing else made, nothing left behind, in either folder.
        EXPECT_EQ(testsupport::listDir(base / "Settings"), settingsBefore);
        EXPECT_EQ(testsupport::listDir(base / "Shared"), sharedBefore);
    }
}

TEST(DataSetFileTest, SaveThroughBrokenLinksFailsAndChangesNothing) {
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links;
        int error;
    } cases[] = {
        {"a loop", {{"Main.settings", "b.settings"}, {"b.settings", "Main.settings"}}, ELOOP},
        {"itself", {{"Main.settings", "Main.settings"}}, ELOOP},
        {"into a folder that is missing", {{"Main.settings", "missing/Main.settings"}}, ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::FakeBase base;
        for (const auto& link : c.links) base.link(link.second, "Settings/" + link.first);
        const std::vector<std::string> before = testsupport::listDir(base / "Settings");
        errno = 0;
        EXPECT_FALSE(DataSet::saveToFile(str("x"), base / "Settings/Main.settings"));
        EXPECT_EQ(errno, c.error);
        EXPECT_EQ(testsupport::listDir(base / "Settings"), before);
        for (const auto& link : c.links) EXPECT_EQ(linkText(base / ("Settings/" + link.first)), link.second);
    }
}

// Fault once: the temporary file's name was the name plus about 20 bytes,
// so a name of 245 bytes or more could not be saved at all.
TEST(DataSetFileTest, AnyNameTheFolderTakesSaves) {
    testsupport::FakeBase base;
    const long longest = ::pathconf(base.path().c_str(), _PC_NAME_MAX);
    std::vector<std::size_t> lengths = {250};
    if (longest > 0 && longest < 4096) lengths.push_back(static_cast<std::size_t>(longest));
    for (std::size_t length : lengths) {
        SCOPED_TRACE(length);
        const std::string name(length, 'n');
        // Made new, then replaced keeping its mode.
        ASSERT_TRUE(DataSet::saveToFile(str("first"), base / name));
        EXPECT_EQ(base.read(name), "first");
        ::chmod((base / name).c_str(), 0600);
        ASSERT_TRUE(DataSet::saveToFile(str("second"), name));
        EXPECT_EQ(base.read(name), "second");
        EXPECT_EQ(modeOf(base / name), 0600u);
        EXPECT_EQ(testsupport::listDir(base.path()), std::vector<std::string>{name});
        base.remove(name);
    }
}

// Writers at once, in this process or another, each use a name of their
// own: every save succeeds, and the file holds one of the values whole.
TEST(DataSetFileTest, SavesAtOnceDoNotMeet) {
    testsupport::FakeBase base;
    const std::string path = base / "Settings/Main.settings";
    base.makeFolder("Settings");
    const int kWriters = 8, kSaves = 40;
    std::vector<std::thread> writers;
    std::vector<int> failed(kWriters, 0);
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([w, &path, &failed] {
            const DataSet value = dict({{"writer", str(std::to_string(w))}, {"padding", str(std::string(5000, 'p'))}});
            for (int i = 0; i < kSaves; ++i)
                if (!DataSet::saveToFile(value, path)) ++failed[static_cast<std::size_t>(w)];
        });
    }
    for (std::thread& t : writers) t.join();
    for (int w = 0; w < kWriters; ++w) EXPECT_EQ(failed[static_cast<std::size_t>(w)], 0) << "writer " << w;
    const DataSet last = DataSet::loadFromFile(path);
    ASSERT_EQ(last->getType(), DataSet::kDictionary);
    EXPECT_EQ(last->members["padding"]->value, std::string(5000, 'p'));
    EXPECT_EQ(testsupport::listDir(base / "Settings"), std::vector<std::string>{"Main.settings"});
}
