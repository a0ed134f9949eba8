#include "runtime/stream.h"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace {

class StreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qdl_stream_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        for (const auto& f : created_) unlink(f.c_str());
        rmdir(dir_.c_str());
    }
    std::string path(const std::string& name) {
        created_.push_back(dir_ + "/" + name);
        return created_.back();
    }
    std::string dir_;
    std::vector<std::string> created_;
};

TEST_F(StreamTest, OutputInMissingDirectoryFailsWithoutThrowing) {
    std::string missing = dir_ + "/no/such/dir/file";
    EXPECT_NO_THROW({
        qdl::ofstream out(missing);
        EXPECT_FALSE(out.is_open());
        EXPECT_TRUE(out.fail());
        out << "lost";
        EXPECT_TRUE(out.fail());
    });
}

TEST_F(StreamTest, InputOnMissingFileFails) {
    qdl::ifstream in(dir_ + "/missing");
    EXPECT_FALSE(in.is_open());
    EXPECT_TRUE(in.fail());
}

TEST_F(StreamTest, WritesAndReadsBack) {
    const std::string file = path("data");
    {
        qdl::ofstream out(file);
        ASSERT_TRUE(out.good());
        out << "first\nsecond\n";
    }  // closed and flushed here
    qdl::ifstream in(file);
    ASSERT_TRUE(in.good());
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "first");
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "second");
    EXPECT_FALSE(std::getline(in, line));
}

TEST_F(StreamTest, ModesAreAddedToTheirDirection) {
    const std::string file = path("bin");
    {
        qdl::ofstream out(file, std::ios_base::binary);  // out is implied
        ASSERT_TRUE(out.good());
        out.write("a\0b\r\n", 5);
    }
    {
        qdl::ofstream out(file, std::ios_base::app | std::ios_base::binary);
        ASSERT_TRUE(out.good());
        out << "z";
    }
    qdl::ifstream in(file, std::ios_base::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(all, std::string("a\0b\r\nz", 6));
    {
        qdl::ofstream truncate(file);
    }
    qdl::ifstream again(file);
    EXPECT_EQ(again.peek(), std::char_traits<char>::eof());
}

TEST(StreamTypes, OutputStreamCannotBeCopied) {
    EXPECT_FALSE(std::is_copy_constructible<qdl::ofstream>::value);
    EXPECT_FALSE(std::is_copy_assignable<qdl::ofstream>::value);
}

struct Nothing : qdl::ostream_func {
    std::ostream& operator()(std::ostream& out) const override { return out; }
};

struct Address : qdl::ostream_func {
    std::string account, domain;
    Address(const std::string& a, const std::string& d) : account(a), domain(d) {}
    std::ostream& operator()(std::ostream& out) const override { return out << account << '@' << domain; }
};

TEST(StreamFunctor, ToStringRendersWhatItWrites) {
    EXPECT_EQ(Nothing().toString(), "");
    Address a("a", "b");
    EXPECT_EQ(a.toString(), "a@b");
    EXPECT_EQ(a.toString(), "a@b");  // no state left behind
    const qdl::ostream_func& base = a;
    EXPECT_EQ(base.toString(), "a@b");
}

TEST(StreamFunctor, InsertsIntoStreamsAndChains) {
    std::ostringstream out;
    out << "<" << Address("x", "y.z") << ">" << Nothing() << 1;
    EXPECT_EQ(out.str(), "<x@y.z>1");
}

}  // namespace
