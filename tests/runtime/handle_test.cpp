#include "runtime/handle.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

namespace {

std::atomic<int> destroyed{0};
std::atomic<int> deleterCalls{0};

struct Tracked {
    int id;
    explicit Tracked(int i = 0) : id(i) {}
    ~Tracked() { ++destroyed; }
};

void countingDeleter(Tracked* t) {
    ++deleterCalls;
    delete t;
}

// Sees the ring links of a handle.
template <class H>
struct Probe : H {
    Probe() {}
    explicit Probe(Tracked* t) : H(t) {}
    Probe(const H& src) : H(src) {}
    Probe& operator=(const H& src) {
        H::operator=(src);
        return *this;
    }
    const void* next() const { return this->next_; }
    const void* prev() const { return this->prev_; }
    bool selfLinked() const { return this->next_ == this && this->prev_ == this; }
    bool nullLinks() const { return this->next_ == nullptr && this->prev_ == nullptr; }
};

template <class H>
class HandleTest : public ::testing::Test {
protected:
    void SetUp() override {
        destroyed = 0;
        deleterCalls = 0;
    }
};

using HandleTypes = ::testing::Types<ptr<Tracked>, thread_safe_ptr<Tracked>>;
TYPED_TEST_SUITE(HandleTest, HandleTypes);

TYPED_TEST(HandleTest, DefaultHandleIsNullAndUnique) {
    {
        Probe<TypeParam> h;
        EXPECT_TRUE(h.isNull());
        EXPECT_TRUE(h.isUnique());
        EXPECT_TRUE(h.selfLinked());
        EXPECT_EQ(h.get(), nullptr);
    }
    EXPECT_EQ(destroyed.load(), 0);
}

TYPED_TEST(HandleTest, RawPointerHandleIsItsOwnRing) {
    Probe<TypeParam> h(new Tracked(1));
    EXPECT_FALSE(h.isNull());
    EXPECT_TRUE(h.isUnique());
    EXPECT_TRUE(h.selfLinked());
    EXPECT_EQ(h->id, 1);
    EXPECT_EQ((*h).id, 1);
    Probe<TypeParam> n(static_cast<Tracked*>(nullptr));
    EXPECT_TRUE(n.isNull());
    EXPECT_TRUE(n.selfLinked());
}

TYPED_TEST(HandleTest, CopiesLineUpBeforeTheSource) {
    Probe<TypeParam> a(new Tracked(1));
    Probe<TypeParam> b(a);
    Probe<TypeParam> c(a);
    EXPECT_EQ(a.next(), &b);
    EXPECT_EQ(b.next(), &c);
    EXPECT_EQ(c.next(), &a);
    EXPECT_EQ(a.prev(), &c);
    EXPECT_EQ(c.prev(), &b);
    EXPECT_EQ(b.prev(), &a);
}

TYPED_TEST(HandleTest, LastOfThreeDeletesOnceInAnyOrder) {
    int order[3] = {0, 1, 2};
    do {
        destroyed = 0;
        std::unique_ptr<TypeParam> h[3];
        h[0].reset(new TypeParam(new Tracked(7)));
        h[1].reset(new TypeParam(*h[0]));
        h[2].reset(new TypeParam(*h[1]));
        for (auto& x : h) EXPECT_FALSE(x->isUnique());
        h[order[0]].reset();
        h[order[1]].reset();
        EXPECT_EQ(destroyed.load(), 0);
        EXPECT_TRUE(h[order[2]]->isUnique());
        EXPECT_EQ((*h[order[2]])->id, 7);
        h[order[2]].reset();
        EXPECT_EQ(destroyed.load(), 1);
    } while (std::next_permutation(order, order + 3));
}

TYPED_TEST(HandleTest, DeleterRunsOnlyForTheLastHandle) {
    {
        TypeParam a(new Tracked, countingDeleter);
        {
            TypeParam b(a);
            TypeParam c;
            c = b;
        }
        EXPECT_EQ(deleterCalls.load(), 0);
        EXPECT_EQ(destroyed.load(), 0);
    }
    EXPECT_EQ(deleterCalls.load(), 1);
    EXPECT_EQ(destroyed.load(), 1);
}

TYPED_TEST(HandleTest, CopyOfEmptyHandleHasNullLinks) {
    Probe<TypeParam> empty;
    Probe<TypeParam> copy(empty);
    EXPECT_TRUE(copy.isNull());
    EXPECT_TRUE(copy.nullLinks());
    EXPECT_TRUE(copy.isUnique());
    EXPECT_TRUE(empty.isUnique());
    Probe<TypeParam> assigned(new Tracked);
    assigned = empty;
    EXPECT_EQ(destroyed.load(), 1);
    EXPECT_TRUE(assigned.isNull());
    EXPECT_TRUE(assigned.nullLinks());
}

TYPED_TEST(HandleTest, SelfAssignmentChangesNothing) {
    Probe<TypeParam> only(new Tracked(3));
    Probe<TypeParam>& alias = only;
    only = alias;
    EXPECT_EQ(destroyed.load(), 0);
    EXPECT_EQ(only->id, 3);
    EXPECT_TRUE(only.selfLinked());
    TypeParam other(only);
    TypeParam& otherAlias = other;
    other = otherAlias;
    EXPECT_FALSE(only.isUnique());
    EXPECT_EQ(destroyed.load(), 0);
}

TYPED_TEST(HandleTest, AssigningOverLastHandleDeletesAtOnceAndJoinsNewRing) {
    TypeParam a(new Tracked(1));
    TypeParam b(new Tracked(2));
    a = b;
    EXPECT_EQ(destroyed.load(), 1);
    EXPECT_EQ(a->id, 2);
    EXPECT_FALSE(a.isUnique());
    EXPECT_FALSE(b.isUnique());
    TypeParam c(a);
    TypeParam d(new Tracked(3));
    c = d;  // c was not the last handle of 2
    EXPECT_EQ(destroyed.load(), 1);
    EXPECT_FALSE(d.isUnique());
}

TYPED_TEST(HandleTest, AssigningWithinOneRingKeepsValue) {
    TypeParam a(new Tracked(1));
    TypeParam b(a);
    a = b;
    b = a;
    EXPECT_EQ(destroyed.load(), 0);
    EXPECT_FALSE(a.isUnique());
}

// A value that holds a handle of its own type, as list nodes and nested data do.
struct PtrNode {
    int id;
    ptr<PtrNode> next;
    explicit PtrNode(int i) : id(i) {}
    ~PtrNode() { ++destroyed; }
};

struct SafeNode {
    int id;
    thread_safe_ptr<SafeNode> next;
    std::vector<thread_safe_ptr<SafeNode>> children;
    explicit SafeNode(int i) : id(i) {}
    ~SafeNode() { ++destroyed; }
};

template <class Node, class H>
void advanceOverOwnedHandle() {
    destroyed = 0;
    H head(new Node(1));
    head->next = H(new Node(2));
    head->next->next = H(new Node(3));
    // The old head owns the handle it is assigned from.
    head = head->next;
    EXPECT_EQ(destroyed.load(), 1);
    EXPECT_EQ(head->id, 2);
    EXPECT_TRUE(head.isUnique());
    head = head->next;
    EXPECT_EQ(destroyed.load(), 2);
    EXPECT_EQ(head->id, 3);
    EXPECT_TRUE(head->next.isNull());
}

TEST(HandleAssignment, FromHandleOwnedByTheReleasedValue) {
    advanceOverOwnedHandle<PtrNode, ptr<PtrNode>>();
    advanceOverOwnedHandle<SafeNode, thread_safe_ptr<SafeNode>>();
}

TEST(ThreadSafeHandle, ValueReleasingHandlesOfSameTypeDoesNotDeadlock) {
    destroyed = 0;
    {
        thread_safe_ptr<SafeNode> root(new SafeNode(0));
        thread_safe_ptr<SafeNode> shared(new SafeNode(1));
        for (int i = 0; i < 3; ++i) root->children.push_back(shared);
        root->children.push_back(thread_safe_ptr<SafeNode>(new SafeNode(2)));
        root->children.back()->next = thread_safe_ptr<SafeNode>(new SafeNode(3));
        shared = thread_safe_ptr<SafeNode>();
        // Released from another thread too, so a stuck lock shows as a hang here.
        std::thread t([r = root]() mutable { r = thread_safe_ptr<SafeNode>(); });
        t.join();
        EXPECT_EQ(destroyed.load(), 0);
    }
    EXPECT_EQ(destroyed.load(), 4);
    // The type's lock is free again.
    std::thread other([] { qdl::ScopedLock guard(thread_safe_ptr<SafeNode>::mutex()); });
    other.join();
}

TEST(ThreadSafeHandle, ConcurrentCopiesDeleteOnce) {
    destroyed = 0;
    {
        thread_safe_ptr<Tracked> source(new Tracked(9));
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&source] {
                for (int i = 0; i < 5000; ++i) {
                    thread_safe_ptr<Tracked> a(source);
                    thread_safe_ptr<Tracked> b;
                    b = a;
                    if (b->id != 9) std::abort();
                }
            });
        for (auto& t : threads) t.join();
        EXPECT_TRUE(source.isUnique());
        EXPECT_EQ(destroyed.load(), 0);
    }
    EXPECT_EQ(destroyed.load(), 1);
}

}  // namespace
