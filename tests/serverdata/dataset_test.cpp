// Data-set values: kinds and conversions, shared handles, equality, merge
// and path access.
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/exception.h"
#include "serverdata/dataset.h"
#include "support/serverdata/values.h"

using cgp::DataSet;
using testsupport::array;
using testsupport::block;
using testsupport::describe;
using testsupport::dict;
using testsupport::none;
using testsupport::str;

TEST(DataSetTest, ConstructorsMakeTheirKinds) {
    EXPECT_EQ(DataSet(true)->value, "YES");
    EXPECT_EQ(DataSet(false)->value, "NO");
    EXPECT_EQ(DataSet(true)->getType(), DataSet::kString);
    EXPECT_EQ(DataSet("text")->getType(), DataSet::kString);
    EXPECT_EQ(DataSet(std::string("a\0b", 3))->value.size(), 3u);
    EXPECT_EQ(DataSet(DataSet::kDictionary)->getType(), DataSet::kDictionary);
    EXPECT_TRUE(DataSet().isNull());
    EXPECT_TRUE(DataSet(DataSet::kEmpty)->isEmpty());

    const DataSet parent(DataSet::kArray);
    EXPECT_EQ(DataSet(DataSet::kString, parent)->getParent().get(), parent.get());
    EXPECT_EQ(DataSet(DataSet::kString)->getParent().get(), cgp::emptyDataSet().get());
    EXPECT_TRUE(cgp::emptyDataSet()->isEmpty());
}

TEST(DataSetTest, TextAsFlagNumberAndFloat) {
    const struct { const char* text; bool flag; int number; } reads[] = {
        {"yes", true, 0}, {"Yes", true, 0}, {"1", true, 1}, {"", false, 0}, {"no", false, 0},
        {"NO", false, 0}, {"0", false, 0}, {"-1", false, -1}, {"12abc", true, 12}, {"abc", true, 0},
    };
    for (const auto& r : reads) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(str(r.text)->asBool(), r.flag);
        EXPECT_EQ(str(r.text)->asInt(), r.number);
    }
    EXPECT_FLOAT_EQ(str("2.5x")->asFloat(), 2.5f);

    const struct { float in; const char* out; } floats[] = {
        {2.5f, "2.5"}, {3.0f, "3"}, {100.0f, "100"}, {0.0f, "0"}, {0.1f, "0.1"},
        {-2.0f, "-2"}, {1e-7f, "0"}, {-1e-7f, "-0"}, {1234.5f, "1234.5"},
    };
    for (const auto& f : floats) {
        DataSet value(DataSet::kArray);
        value->setFloat(f.in);
        EXPECT_EQ(value->value, f.out) << f.in;
        EXPECT_EQ(value->getType(), DataSet::kArray);  // the kind stays
    }
    DataSet flag(DataSet::kEmpty);
    flag->setBool(true);
    EXPECT_EQ(flag->value, "YES");
    EXPECT_TRUE(flag->isEmpty());
}

TEST(DataSetTest, SetTypeOnlyOnEmptyValues) {
    DataSet text("x");
    text->setType(DataSet::kDictionary);
    EXPECT_EQ(text->getType(), DataSet::kString);
    DataSet empty(DataSet::kEmpty);
    empty->setType(DataSet::kDictionary);
    EXPECT_EQ(empty->getType(), DataSet::kDictionary);
}

TEST(DataSetTest, CopiesShareAndClonesShareChildren) {
    DataSet a(DataSet::kDictionary);
    DataSet b = a;
    b->members["k"] = str("v");
    EXPECT_EQ(a->members.count("k"), 1u);
    EXPECT_FALSE(a.isUnique());

    const DataSet child = str("c");
    a->members["child"] = child;
    const DataSet copy = a.clone();
    EXPECT_NE(copy.get(), a.get());
    EXPECT_EQ(copy->members["child"].get(), child.get());
    copy->members["new"] = str("n");
    EXPECT_EQ(a->members.count("new"), 0u);
    EXPECT_EQ(copy->getParent().get(), cgp::emptyDataSet().get());

    DataSet alone(DataSet::kString);
    EXPECT_TRUE(alone.isUnique());
    const DataSet* self = &alone;
    alone = *self;  // assigning a handle to itself keeps the value
    EXPECT_EQ(alone->getType(), DataSet::kString);
}

TEST(DataSetTest, EqualityIsDeep) {
    const struct { const char* name; DataSet a, b; bool equal; } cases[] = {
        {"empty values", none(), none(), true},
        {"strings", str("a"), str("a"), true},
        {"strings differ", str("a"), str("b"), false},
        {"string and data block", str("Ma"), block("Ma"), false},
        {"bytes after a NUL", str(std::string("a\0b", 3)), str(std::string("a\0c", 3)), false},
        {"arrays", array({str("1"), array({})}), array({str("1"), array({})}), true},
        {"arrays differ in length", array({str("1")}), array({str("1"), str("2")}), false},
        // Fault once: no two dictionaries were ever equal, not even x and x.
        {"dictionaries", dict({{"a", str("1")}, {"b", dict({})}}), dict({{"b", dict({})}, {"a", str("1")}}), true},
        {"dictionaries differ in a value", dict({{"a", str("1")}}), dict({{"a", str("2")}}), false},
        {"dictionaries differ in a key", dict({{"a", str("1")}}), dict({{"A", str("1")}}), false},
        {"dictionaries differ in size", dict({{"a", str("1")}}), dict({{"a", str("1")}, {"b", str("1")}}), false},
        {"null and empty", DataSet(), none(), false},
        {"two nulls", DataSet(), DataSet(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.a == c.b, c.equal);
        EXPECT_EQ(c.a != c.b, !c.equal);
        if (!c.a.isNull() && !c.b.isNull()) {
            EXPECT_EQ(c.a->equals(*c.b), c.equal);
        }
    }
    const DataSet x = dict({{"a", array({str("1")})}});
    EXPECT_TRUE(x == x);
    EXPECT_TRUE(*x == *x);
}

TEST(DataSetTest, MergeByKind) {
    DataSet text("old");
    text.merge(str("new"));
    EXPECT_EQ(text->value, "new");

    // An array becomes a copy of the source, made of new values.
    const DataSet source = array({str("1"), dict({{"k", str("v")}})});
    DataSet target = array({str("x"), str("y"), str("z")});
    target.merge(source);
    EXPECT_EQ(describe(target), describe(source));
    EXPECT_NE(target->elements[1].get(), source->elements[1].get());

    DataSet into = dict({{"keep", str("1")}, {"change", str("2")}, {"deep", dict({{"a", str("x")}})}});
    into.merge(dict({{"change", str("3")}, {"add", array({str("4")})}, {"deep", dict({{"b", str("y")}})}}));
    EXPECT_EQ(describe(into), describe(dict({{"keep", str("1")}, {"change", str("3")}, {"add", array({str("4")})},
                                             {"deep", dict({{"a", str("x")}, {"b", str("y")}})}})));

    const struct { const char* name; DataSet target, source; } unchanged[] = {
        {"array into dictionary", dict({{"a", str("1")}}), array({str("x")})},
        {"string into array", array({str("1")}), str("x")},
        {"data block into string", str("a"), block("b")},
        {"null source", str("a"), DataSet()},
    };
    for (const auto& u : unchanged) {
        SCOPED_TRACE(u.name);
        const std::string before = describe(u.target);
        u.target.merge(u.source);
        EXPECT_EQ(describe(u.target), before);
    }
}

// Fault once: the copy that merge makes held every data block empty.
TEST(DataSetTest, MergeCopiesDataBlocksWhole) {
    const std::string bytes("\x01\x02\x03\x00\xff", 5);
    const struct {
        const char* name;
        DataSet target, source;
    } cases[] = {
        {"block into block", block("old"), block(bytes)},
        {"array into an empty array", array({}), array({str("x"), block(bytes)})},
        {"array into a longer array", array({block("a"), block("b"), block("c")}), array({block(bytes)})},
        {"dictionary inside an array", array({}), array({dict({{"d", block(bytes)}, {"s", str("t")}})})},
        {"array inside an array", array({}), array({array({block(bytes), block("")})})},
        {"new member", dict({}), dict({{"d", block(bytes)}, {"a", array({block(bytes)})}})},
        {"member merged", dict({{"d", block("old")}}), dict({{"d", block(bytes)}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.target.merge(c.source);
        EXPECT_EQ(describe(c.target), describe(c.source));
    }

    // As a text in the server's form.
    const DataSet list(DataSet::kArray);
    list.merge(DataSet::parse("(x,[AQID])"));
    EXPECT_EQ(DataSet::toString(list, false), "(x,[AQID])");
}

// Fault once: a merge into itself emptied an array, and a merge into a value
// it contains recursed without end.
TEST(DataSetTest, MergeIntoItselfOrAPartOfItself) {
    DataSet list = array({str("a"), array({str("b")})});
    list.merge(list);
    EXPECT_EQ(describe(list), "A[S\"a\",A[S\"b\"]]");

    DataSet table = dict({{"k", str("v")}});
    table.merge(table);
    EXPECT_EQ(describe(table), "D{\"k\":S\"v\"}");

    // The source holds the target.
    DataSet inner = array({str("x")});
    const DataSet outer = array({inner, str("y")});
    inner.merge(outer);
    EXPECT_EQ(describe(inner), "A[A[S\"x\"],S\"y\"]");
    EXPECT_EQ(describe(outer), "A[A[A[S\"x\"],S\"y\"],S\"y\"]");

    // The target holds the source.
    DataSet whole = array({array({str("p")}), str("q")});
    const DataSet part = whole->elements[0];
    whole.merge(part);
    EXPECT_EQ(describe(whole), "A[S\"p\"]");

    DataSet member = dict({{"a", str("1")}});
    const DataSet holder = dict({{"m", member}});
    member.merge(holder);
    EXPECT_EQ(describe(member), "D{\"a\":S\"1\",\"m\":D{\"a\":S\"1\"}}");
    DataSet self = dict({{"s", dict({})}});
    self->members["s"].merge(self);
    EXPECT_EQ(describe(self), "D{\"s\":D{\"s\":D{}}}");
}

TEST(DataSetTest, PathLookupAndCreation) {
    DataSet table(DataSet::kDictionary);
    DataSet made = table.getPath("a", DataSet::kString, true);
    EXPECT_EQ(made->getType(), DataSet::kString);
    EXPECT_EQ(table->members["a"].get(), made.get());

    const DataSet nested = table.getPath("x.y", DataSet::kString, true);
    EXPECT_TRUE(nested->isEmpty());
    EXPECT_EQ(table->members["x"]->getType(), DataSet::kDictionary);
    EXPECT_TRUE(table->members["x"]->members.empty());
    table.getPath("n.0", DataSet::kString, true);
    EXPECT_EQ(table->members["n"]->getType(), DataSet::kArray);
    table.getPath("m.5", DataSet::kString, true);
    EXPECT_EQ(table->members["m"]->getType(), DataSet::kArray);

    DataSet list(DataSet::kArray);
    const DataSet fourth = list.getPath("3", DataSet::kString, true);
    ASSERT_EQ(list->elements.size(), 4u);
    for (const DataSet& e : list->elements) EXPECT_EQ(e->getType(), DataSet::kString);
    EXPECT_EQ(list->elements[3].get(), fourth.get());
    EXPECT_EQ(list.getPath("1").get(), list->elements[1].get());

    const DataSet records = array({dict({{"name", str("n")}})});
    EXPECT_EQ(records.getPath("0.name")->value, "n");
    EXPECT_TRUE(records.getPath("0.other")->isEmpty());
    EXPECT_TRUE(records.getPath("7")->isEmpty());
    EXPECT_EQ(records->elements.size(), 1u);
}

TEST(DataSetTest, PathErrorsThrow) {
    const auto expectInvalid = [](const DataSet& value, const std::string& path, bool create) {
        SCOPED_TRACE(path);
        try {
            value.getPath(path, DataSet::kString, create);
            ADD_FAILURE() << "nothing was thrown";
        } catch (const qdl::Exception& e) {
            EXPECT_EQ(e.message(), "Invalid Dataset Type");
            EXPECT_EQ(e.code(), 0);
        }
    };
    expectInvalid(str("text"), "a", false);
    expectInvalid(none(), "a", true);
    expectInvalid(block("b"), "0", false);
    expectInvalid(dict({{"s", str("x")}}), "s.t", false);

    // Fault once: a huge index appended billions of values.
    DataSet list = array({str("a")});
    expectInvalid(list, "4000000000", true);
    expectInvalid(list, "99999999999999999999999", true);
    EXPECT_EQ(list->elements.size(), 1u);
    EXPECT_TRUE(list.getPath("4000000000")->isEmpty());
    EXPECT_EQ(list->elements.size(), 1u);
    // Well below the cap, creation still works.
    list.getPath("999", DataSet::kString, true);
    EXPECT_EQ(list->elements.size(), 1000u);
}

TEST(DataSetTest, HandlesCrossThreads) {
    const DataSet shared = dict({{"k", array({str("v")})}});
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&shared] {
            for (int i = 0; i < 20000; ++i) {
                DataSet copy = shared;
                DataSet member = copy->members.at("k");
                DataSet other(DataSet::kString);
                other = member;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_TRUE(shared.isUnique());
    EXPECT_TRUE(shared->members.at("k").isUnique());
}

// Fault once: keys hashed as h = 5h + byte, under which "ab" and "`g" are
// equal and so is every key made of such pairs: 65,536 of them took 20 s
// to read into one dictionary. Keys hash under the process's own key now.
TEST(DataSetTest, KeysMadeToCollideSpreadOverTheTable) {
    const int kPairs = 12;
    std::vector<std::string> keys;
    for (int i = 0; i < 1 << kPairs; ++i) {
        std::string key;
        for (int b = 0; b < kPairs; ++b) key += (i >> b & 1) ? "ab" : "`g";
        keys.push_back(key);
    }
    // The table a dictionary starts with has 193 buckets.
    const cgp::KeyHash hash;
    std::set<std::size_t> hashes, buckets;
    for (const std::string& key : keys) {
        hashes.insert(hash(key));
        buckets.insert(hash(key) % 193);
    }
    EXPECT_EQ(hashes.size(), keys.size());
    EXPECT_GT(buckets.size(), 180u);

    std::string text = "{";
    for (const std::string& key : keys) text += "\"" + key + "\" = \"" + key + "\";";
    const DataSet read = DataSet::parse(text + "}");
    ASSERT_EQ(read->members.size(), keys.size());
    for (const std::string& key : keys) EXPECT_EQ(read->members.at(key)->value, key);
}
