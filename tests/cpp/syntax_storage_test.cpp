#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "syntax/ast.hpp"
#include "syntax/gap_vector.hpp"
#include "syntax/node_spans.hpp"
#include "syntax/slot_map.hpp"
#include "syntax/small_vector.hpp"

namespace {

using quorvel::syntax::Ast;
using quorvel::syntax::ContentMode;
using quorvel::syntax::GapVector;
using quorvel::syntax::NodeSpans;
using quorvel::syntax::ast::Node;
using quorvel::syntax::Slot;
using quorvel::syntax::SmallVector;
using quorvel::syntax::Span;
using quorvel::syntax::ast::KeySet;
using quorvel::syntax::ast::NodeId;
using quorvel::syntax::ast::SecondaryMap;
using quorvel::syntax::ast::SlotMap;

std::vector<int> as_vector(const SmallVector<int, 2>& v) { return {v.begin(), v.end()}; }

// Each step runs on a SmallVector and a std::vector alike; the two must
// agree throughout, across the change from inline to heap storage.
TEST(SyntaxStorage, SmallVectorMatchesVector) {
    struct Step {
        const char* op;
        std::size_t pos;
        std::size_t end;
        int value;
    };
    const Step steps[] = {
        {"push", 0, 0, 1},   {"push", 0, 0, 2},   {"insert", 0, 0, 0}, {"insert", 3, 0, 3},
        {"insert", 2, 0, 9}, {"erase", 2, 3, 0},  {"push", 0, 0, 4},   {"erase", 0, 2, 0},
        {"insert", 3, 0, 5}, {"erase", 1, 1, 0},  {"erase", 0, 4, 0},  {"push", 0, 0, 7},
    };
    SmallVector<int, 2> small;
    std::vector<int> model;
    for (const auto& s : steps) {
        std::string op = s.op;
        if (op == "push") {
            small.push_back(s.value);
            model.push_back(s.value);
        } else if (op == "insert") {
            small.insert(s.pos, s.value);
            model.insert(model.begin() + static_cast<long>(s.pos), s.value);
        } else {
            small.erase(s.pos, s.end);
            model.erase(model.begin() + static_cast<long>(s.pos), model.begin() + static_cast<long>(s.end));
        }
        ASSERT_EQ(as_vector(small), model) << op << " " << s.pos;
    }
    SmallVector<int, 2> grown{1, 2, 3, 4, 5};
    grown.push_back(grown[0]);  // an element of the vector itself, while it grows
    EXPECT_EQ(as_vector(grown), (std::vector<int>{1, 2, 3, 4, 5, 1}));
    SmallVector<int, 2> copy = grown;
    SmallVector<int, 2> moved = std::move(grown);
    EXPECT_EQ(copy, moved);
    EXPECT_TRUE(grown.empty());
    SmallVector<int, 2> inline_copy{8};
    moved = inline_copy;
    EXPECT_EQ(as_vector(moved), (std::vector<int>{8}));
}

// Element by element, without closing the gap.
std::vector<int> elements(const GapVector<int, 4>& v) {
    std::vector<int> out;
    for (std::size_t i = 0; i < v.size(); ++i) out.push_back(v[i]);
    return out;
}

// Each step runs on a GapVector and a std::vector alike: edits through the
// gap and plain ones, in both directions and across the change to heap
// storage; element reads and the two segments see through the gap, a copy
// leaves it in place, and a whole read closes it.
TEST(SyntaxStorage, GapVectorMatchesVector) {
    enum class Op { Push, Insert, Erase, GapInsert, GapErase, Pop, Copy, Whole, Clear };
    struct Step {
        Op op;
        std::size_t pos;
        std::size_t end;  // erase: one past the last; insert: a count
    };
    const Step steps[] = {
        {Op::GapInsert, 0, 1},  // inline storage, opening a gap moves to the heap
        {Op::Push, 0, 3},       {Op::GapErase, 1, 2},  {Op::GapInsert, 1, 3}, {Op::Copy, 0, 0},
        {Op::GapInsert, 5, 40},  // past the gap's room: it is opened again
        {Op::GapErase, 10, 14}, {Op::GapErase, 30, 31}, {Op::GapInsert, 3, 2}, {Op::GapErase, 0, 1},
        {Op::Copy, 0, 0},       {Op::Insert, 7, 1},    {Op::GapErase, 20, 25}, {Op::Erase, 2, 4},
        {Op::GapErase, 5, 5},   {Op::GapInsert, 0, 1}, {Op::Pop, 0, 0},        {Op::GapErase, 8, 9},
        {Op::Push, 0, 2},       {Op::GapInsert, 33, 1}, {Op::Whole, 0, 0},     {Op::GapErase, 0, 30},
        {Op::Clear, 0, 0},      {Op::GapInsert, 0, 3},
    };
    GapVector<int, 4> gapped;
    std::vector<int> model;
    int next = 0;
    for (std::size_t k = 0; k < std::size(steps); ++k) {
        const Step& s = steps[k];
        const auto at = [&](std::size_t i) { return model.begin() + static_cast<long>(i); };
        switch (s.op) {
            case Op::Push:
                for (std::size_t i = 0; i < s.end; ++i, ++next) {
                    gapped.push_back(next);
                    model.push_back(next);
                }
                break;
            case Op::Insert:
            case Op::GapInsert:
                for (std::size_t i = 0; i < s.end; ++i, ++next) {
                    if (s.op == Op::Insert) gapped.insert(s.pos + i, next);
                    else gapped.insert_at_gap(s.pos + i, next);
                    model.insert(at(s.pos + i), next);
                }
                break;
            case Op::Erase:
                gapped.erase(s.pos, s.end);
                model.erase(at(s.pos), at(s.end));
                break;
            case Op::GapErase:
                gapped.erase_at_gap(s.pos, s.end);
                model.erase(at(s.pos), at(s.end));
                break;
            case Op::Pop:
                gapped.pop_back();
                model.pop_back();
                break;
            case Op::Copy: {
                const bool had_gap = gapped.has_gap();
                const GapVector<int, 4> copy = gapped;
                EXPECT_EQ(gapped.has_gap(), had_gap) << k;
                EXPECT_FALSE(copy.has_gap()) << k;
                EXPECT_EQ(std::vector<int>(copy.begin(), copy.end()), model) << k;
                EXPECT_TRUE(copy == gapped) << k;
                GapVector<int, 4> moved = std::move(gapped);
                EXPECT_EQ(elements(moved), model) << k;
                gapped = std::move(moved);
                break;
            }
            case Op::Whole: {
                const std::span<const int> whole = gapped.span();
                EXPECT_FALSE(gapped.has_gap()) << k;
                EXPECT_EQ(std::vector<int>(whole.begin(), whole.end()), model) << k;
                break;
            }
            case Op::Clear:
                gapped.clear();
                model.clear();
                break;
        }
        ASSERT_EQ(gapped.size(), model.size()) << k;
        ASSERT_EQ(elements(gapped), model) << k;
        const auto [front, back] = gapped.segments();
        std::vector<int> joined(front.begin(), front.end());
        joined.insert(joined.end(), back.begin(), back.end());
        EXPECT_EQ(joined, model) << k;
        if (!model.empty()) {
            EXPECT_EQ(gapped.back(), model.back()) << k;
        }
    }
    EXPECT_EQ(std::vector<int>(gapped.begin(), gapped.end()), model);
}

TEST(SyntaxStorage, SlotMapVersions) {
    SlotMap<std::string> map;
    NodeId a = map.insert("a");
    NodeId b = map.insert("b");
    EXPECT_EQ(a.index, 1u);  // index 0 is never handed out
    EXPECT_EQ(a.version, 1u);
    EXPECT_EQ(map.remove(a), "a");
    EXPECT_EQ(map.get(a), nullptr);
    NodeId c = map.insert("c");
    EXPECT_EQ(c.index, a.index);
    EXPECT_EQ(c.version, 3u);
    EXPECT_EQ(map.get(a), nullptr);
    EXPECT_EQ(*map.get(c), "c");
    EXPECT_EQ(*map.get(b), "b");
    EXPECT_EQ(map.get(NodeId{}), nullptr);
    EXPECT_EQ(map.get(NodeId{1, 2}), nullptr);  // even versions never resolve
    EXPECT_EQ(map.size(), 2u);

    SlotMap<std::string> copy = map;
    copy.remove(b);
    EXPECT_EQ(*map.get(b), "b");
}

// `any_of` asks the occupied slots alone, in index order, and stops at the
// first value the predicate holds for.
TEST(SyntaxStorage, SlotMapAnyOfStopsAtTheFirstMatch) {
    struct Case {
        const char* about;
        std::vector<std::string> values;
        std::vector<std::size_t> removed;  // positions in `values`
        std::string wanted;
        bool found;
        std::vector<std::string> asked;
    };
    const Case cases[] = {
        {"empty map", {}, {}, "a", false, {}},
        {"first value", {"a", "b", "c"}, {}, "a", true, {"a"}},
        {"none: every value asked", {"a", "b"}, {}, "z", false, {"a", "b"}},
        {"freed slots are skipped", {"a", "b", "c"}, {0, 1}, "c", true, {"c"}},
        {"a freed value is never met", {"a", "b"}, {1}, "b", false, {"a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.about);
        SlotMap<std::string> map;
        std::vector<NodeId> keys;
        for (const std::string& v : c.values) keys.push_back(map.insert(v));
        for (std::size_t r : c.removed) map.remove(keys[r]);
        std::vector<std::string> asked;
        const bool found = map.any_of([&](NodeId key, const std::string& value) {
            EXPECT_EQ(map.get(key), &value);
            asked.push_back(value);
            return value == c.wanted;
        });
        EXPECT_EQ(found, c.found);
        EXPECT_EQ(asked, c.asked);
    }
}

TEST(SyntaxStorage, AppendedValuesNeverReuseFreedSlots) {
    SlotMap<std::string> map(2);
    NodeId a = map.insert("a");
    map.insert("b");
    map.remove(a);
    NodeId c = map.append_with([] { return std::string("c"); });
    EXPECT_EQ(c.index, 3u);
    EXPECT_EQ(c.version, 1u);
    EXPECT_EQ(*map.get(c), "c");
    NodeId d = map.insert("d");  // the freed slot is still there for inserts
    EXPECT_EQ(d.index, a.index);
    EXPECT_EQ(map.get(a), nullptr);
    EXPECT_EQ(map.size(), 3u);
}

// A slot's link belongs to the value stored there: a value stored anew
// (by insert into a freed slot or by append) starts with the default link,
// a stale key has none, and a copy keeps the links it was made with.
TEST(SyntaxStorage, SlotMapLinksFollowTheirValues) {
    struct Case {
        const char* name;
        bool reuse_freed;  // the second value takes the freed slot of the first
    };
    const Case cases[] = {{"insert_into_freed", true}, {"append", false}};
    for (const Case& c : cases) {
        SlotMap<std::string, NodeId> map;
        NodeId a = map.insert("a");
        NodeId keep = map.insert("keep");
        *map.link(a) = NodeId{9, 9};
        *map.link(keep) = NodeId{7, 7};
        map.remove(a);
        EXPECT_EQ(map.link(a), nullptr) << c.name;
        NodeId b = c.reuse_freed ? map.insert("b") : map.append_with([] { return std::string("b"); });
        EXPECT_EQ(b.index == a.index, c.reuse_freed) << c.name;
        ASSERT_NE(map.link(b), nullptr) << c.name;
        EXPECT_EQ(*map.link(b), NodeId{}) << c.name;
        EXPECT_EQ(map.link(a), nullptr) << c.name;

        SlotMap<std::string, NodeId> copy = map;
        *map.link(keep) = NodeId{1, 1};
        EXPECT_EQ(*copy.link(keep), (NodeId{7, 7})) << c.name;
        NodeId c2 = copy.insert("c");  // the copy's free list survived too
        EXPECT_EQ(*copy.get(c2), "c") << c.name;
    }
}

// A set that was never written holds nothing; a copy is independent.
TEST(SyntaxStorage, KeySetCopiesAreIndependent) {
    KeySet empty;
    KeySet empty_copy = empty;
    EXPECT_FALSE(empty_copy.contains(NodeId{1, 1}));
    EXPECT_FALSE(empty_copy.remove(NodeId{1, 1}));
    KeySet set;
    set.insert(NodeId{3, 1});
    KeySet copy = set;
    EXPECT_TRUE(set.remove(NodeId{3, 1}));
    EXPECT_TRUE(copy.contains(NodeId{3, 1}));
    copy = empty;
    EXPECT_FALSE(copy.contains(NodeId{3, 1}));
}

// Keys stored below, at and beyond the current end, with and without room
// made beforehand: each answers with its own value, every other key with none.
TEST(SyntaxStorage, SecondaryMapStoresKeysInAnyOrder) {
    struct Case {
        const char* name;
        std::size_t presize;  // 0: none
        std::vector<std::pair<NodeId, int>> inserts;
        std::vector<NodeId> absent;
    };
    const Case cases[] = {
        {"ascending", 0, {{{1, 1}, 10}, {{2, 1}, 20}, {{3, 1}, 30}}, {{4, 1}, {2, 3}, {0, 0}}},
        {"gap_then_below", 0, {{{5, 1}, 50}, {{2, 1}, 20}}, {{3, 1}, {4, 1}, {0, 0}, {6, 1}}},
        {"presized_any_order", 4, {{{4, 1}, 40}, {{1, 1}, 10}, {{6, 1}, 60}}, {{2, 1}, {3, 1}, {5, 1}, {0, 0}}},
        {"presized_last_key", 3, {{{3, 1}, 30}}, {{1, 1}, {2, 1}, {4, 1}}},
        {"newer_version", 0, {{{3, 1}, 1}, {{3, 3}, 2}}, {{3, 1}, {3, 2}}},
    };
    for (const Case& c : cases) {
        SecondaryMap<int> map;
        if (c.presize > 0) map.presize(c.presize);
        for (const auto& [key, value] : c.inserts) map.insert(key, value);
        for (std::size_t i = 0; i < c.inserts.size(); ++i) {
            const auto& [key, value] = c.inserts[i];
            bool overwritten = false;
            for (std::size_t j = i + 1; j < c.inserts.size(); ++j) overwritten |= c.inserts[j].first.index == key.index;
            if (overwritten) continue;
            ASSERT_NE(map.get(key), nullptr) << c.name << " " << i;
            EXPECT_EQ(*map.get(key), value) << c.name << " " << i;
        }
        for (NodeId key : c.absent) EXPECT_EQ(map.get(key), nullptr) << c.name << " " << key.index << "v" << key.version;
    }
}

TEST(SyntaxStorage, SecondaryMapAndKeySetAnswerExactKeys) {
    SecondaryMap<int> links;
    KeySet set;
    NodeId old{4, 1};
    NodeId reused{4, 3};
    links.insert(old, 7);
    set.insert(old);
    EXPECT_EQ(*links.get(old), 7);
    EXPECT_EQ(links.get(reused), nullptr);
    EXPECT_FALSE(set.contains(reused));
    EXPECT_FALSE(links.remove(reused));
    EXPECT_FALSE(set.remove(reused));
    EXPECT_TRUE(set.remove(old));
    EXPECT_TRUE(links.remove(old));
    EXPECT_EQ(links.get(old), nullptr);
    EXPECT_FALSE(set.contains(NodeId{}));
}

// Narrow and full-width spans side by side, and keys that must miss: a
// stale key, and a node stored anew in the freed slot of a node with a span.
TEST(SyntaxStorage, NodeSpansKeepEveryOffset) {
    constexpr std::size_t kBig = std::size_t{1} << 32;
    const Span cases[] = {
        {0, 0},
        {3, 4294967294u},
        {3, 4294967295u},
        {4294967295u, kBig},
        {kBig + 5, kBig + 9},
        {12, 40},
    };
    Ast ast = Ast::with_root_mode(ContentMode::Math);
    NodeSpans spans;
    std::vector<NodeId> ids;
    for (const Span& span : cases) {
        ids.push_back(ast.new_node(Node::Char{U'x'}));
        spans.insert(ast, ids.back(), span);
    }
    EXPECT_FALSE(spans.get(ast, ast.root()).has_value());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        ASSERT_TRUE(spans.get(ast, ids[i]).has_value()) << i;
        EXPECT_EQ(*spans.get(ast, ids[i]), cases[i]) << i;
        EXPECT_FALSE(spans.get(ast, NodeId{ids[i].index, ids[i].version + 2}).has_value()) << i;
    }
    for (std::size_t i = 0; i < ids.size(); ++i) {
        ast.remove_detached(ids[i]);
        EXPECT_FALSE(spans.get(ast, ids[i]).has_value()) << i;
        const NodeId fresh = ast.new_node(Node::Char{U'y'});
        EXPECT_EQ(fresh.index, ids[i].index) << i;
        EXPECT_FALSE(spans.get(ast, fresh).has_value()) << i;
    }
    EXPECT_FALSE(spans.get(ast, NodeId{}).has_value());
}

// A slot keeps its kind and position at both ends of the range.
TEST(SyntaxStorage, SlotKeepsKindAndIndex) {
    constexpr std::size_t kMax = (std::size_t{1} << 29) - 1;
    const std::pair<Slot, std::pair<Slot::Kind, std::size_t>> cases[] = {
        {Slot::group_child(0), {Slot::Kind::GroupChild, 0}},
        {Slot::group_child(kMax), {Slot::Kind::GroupChild, kMax}},
        {Slot::argument(kMax), {Slot::Kind::Argument, kMax}},
        {Slot::env_body(), {Slot::Kind::EnvBody, 0}},
        {Slot::script_sup(), {Slot::Kind::ScriptSup, 0}},
        {Slot::infix_right(), {Slot::Kind::InfixRight, 0}},
    };
    for (const auto& [slot, want] : cases) {
        EXPECT_EQ(slot.kind(), want.first);
        EXPECT_EQ(slot.index(), want.second);
    }
    EXPECT_NE(Slot::group_child(1), Slot::argument(1));
    EXPECT_THROW(Slot::group_child(kMax + 1), quorvel::syntax::InternalError);
}

}  // namespace
