#include "runtime/descriptor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>

namespace {

int openNull() { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }

bool isOpen(int fd) { return fd >= 0 && ::fcntl(fd, F_GETFD) != -1; }

}  // namespace

TEST(Descriptor, ClosesWhatItHoldsWhenItGoes) {
    int fd = openNull();
    ASSERT_TRUE(isOpen(fd));
    {
        qdl::Descriptor owner(fd);
        EXPECT_TRUE(owner.isOpen());
        EXPECT_EQ(owner.get(), fd);
    }
    EXPECT_FALSE(isOpen(fd));
}

TEST(Descriptor, ClosesOnceThoughTheNumberIsTakenAgain) {
    int other;
    {
        qdl::Descriptor owner(openNull());
        const int number = owner.get();
        EXPECT_TRUE(owner.close());
        EXPECT_FALSE(owner.isOpen());
        EXPECT_FALSE(owner.close());  // nothing held any more
        // The lowest free number comes back for the next open: another's now.
        other = openNull();
        ASSERT_EQ(other, number);
    }
    EXPECT_TRUE(isOpen(other));
    ::close(other);
}

TEST(Descriptor, MovesHandOwnershipOn) {
    const int first = openNull();
    const int second = openNull();
    qdl::Descriptor a(first);
    qdl::Descriptor b(std::move(a));
    EXPECT_FALSE(a.isOpen());
    EXPECT_EQ(b.get(), first);

    qdl::Descriptor c(second);
    c = std::move(b);  // c's own descriptor goes, b's is c's now
    EXPECT_FALSE(isOpen(second));
    EXPECT_EQ(c.get(), first);
    EXPECT_FALSE(b.isOpen());

    qdl::Descriptor& same = c;
    c = std::move(same);
    EXPECT_TRUE(isOpen(first));
    EXPECT_EQ(c.get(), first);
}

TEST(Descriptor, ReleaseAndResetTellWhoCloses) {
    const int first = openNull();
    const int second = openNull();
    int released;
    {
        qdl::Descriptor owner(first);
        released = owner.release();
        EXPECT_FALSE(owner.isOpen());
        EXPECT_EQ(owner.get(), -1);
    }
    EXPECT_EQ(released, first);
    EXPECT_TRUE(isOpen(first));

    qdl::Descriptor owner(first);
    owner.reset(second);
    EXPECT_FALSE(isOpen(first));
    EXPECT_EQ(owner.get(), second);
    owner.reset(second);  // the same again: kept, not closed
    EXPECT_TRUE(isOpen(second));
    owner.reset();
    EXPECT_FALSE(isOpen(second));
}
