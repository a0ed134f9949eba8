// Saving a data set: the file is complete and synced before it takes the
// old one's place, and a failure leaves the old file as it was.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

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
