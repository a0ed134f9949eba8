#include <gtest/gtest.h>

#include <memory>

#include "runtime/exception.h"

using qdl::Exception;

TEST(Exception, ConstructorsSetMessageAndCode) {
    Exception plain;
    EXPECT_EQ(plain.message(), "");
    EXPECT_STREQ(plain.what(), "");
    EXPECT_EQ(plain.code(), 0);

    Exception coded(42);
    EXPECT_EQ(coded.message(), "");
    EXPECT_EQ(coded.code(), 42);

    Exception full("Unknown Error", 7);
    EXPECT_EQ(full.message(), "Unknown Error");
    EXPECT_STREQ(full.what(), "Unknown Error");
    EXPECT_EQ(full.code(), 7);
}

TEST(Exception, NamedSubclassesCarryTheirClassName) {
    try {
        throw qdl::FileNotFoundException();
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), "FileNotFoundException");
        EXPECT_EQ(e.code(), 0);
    }
    try {
        throw qdl::FileNotFoundException();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "FileNotFoundException");
    }
    EXPECT_EQ(qdl::ArgumentListTooLongException().message(), "ArgumentListTooLongException");
    EXPECT_EQ(qdl::FileNotExecutableException().message(), "FileNotExecutableException");
}

TEST(Exception, CopyOutlivesItsSource) {
    auto source = std::make_unique<Exception>("gone soon", 3);
    Exception copy(*source);
    source.reset();
    EXPECT_EQ(copy.message(), "gone soon");
    EXPECT_EQ(copy.code(), 3);
}
