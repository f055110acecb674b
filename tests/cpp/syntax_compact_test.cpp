#include <compare>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "syntax/compact_string.hpp"
#include "syntax/compact_vector.hpp"
#include "syntax/syntax_node.hpp"

namespace {

using quorvel::syntax::CompactString;
using quorvel::syntax::CompactVector;
using quorvel::syntax::syntax_node::Delimiter;
using quorvel::syntax::syntax_node::GroupKind;

// Lengths around the end of the inline room, and one NUL inside.
const std::vector<std::string> kStrings = {
    "", "a", "frac", std::string(14, 'x'), std::string(15, 'y'), std::string(16, 'z'),
    std::string("a\0b", 3), std::string(40, 'w'),
};

void expect_holds(const CompactString& s, const std::string& want) {
    EXPECT_EQ(s.size(), want.size());
    EXPECT_EQ(s.empty(), want.empty());
    EXPECT_EQ(s.view(), want);
    EXPECT_EQ(s.str(), want);
    EXPECT_EQ(s.data()[s.size()], '\0');
}

TEST(SyntaxCompact, StringKeepsEveryLength) {
    for (const std::string& want : kStrings) {
        SCOPED_TRACE(want.size());
        expect_holds(CompactString(want), want);
        expect_holds(CompactString(std::string_view(want)), want);
        CompactString source(want);
        CompactString copy(source);
        expect_holds(copy, want);
        CompactString moved(std::move(source));
        expect_holds(moved, want);
        expect_holds(source, "");  // NOLINT: a moved-from value is empty
        // Every transition between inline and heap forms, in both directions.
        for (const std::string& other : kStrings) {
            CompactString s(want);
            s = other;
            expect_holds(s, other);
            CompactString t(other);
            s = std::move(t);
            expect_holds(s, other);
        }
        // Assigning a part of itself.
        CompactString self(want);
        const CompactString& same = self;
        self = same;
        expect_holds(self, want);
        if (!want.empty()) {
            self = self.view().substr(1);
            expect_holds(self, want.substr(1));
        }
    }
}

TEST(SyntaxCompact, StringComparesLikeStdString) {
    for (const std::string& a : kStrings) {
        for (const std::string& b : kStrings) {
            const CompactString ca(a);
            const CompactString cb(b);
            SCOPED_TRACE(a + " | " + b);
            EXPECT_EQ(ca == cb, a == b);
            EXPECT_EQ(ca == b, a == b);
            EXPECT_EQ(ca == std::string_view(b), a == b);
            EXPECT_EQ((ca <=> cb), (a <=> b));
            EXPECT_EQ((ca <=> b), (a <=> b));
        }
    }
    EXPECT_TRUE(CompactString("frac") == "frac");
    EXPECT_TRUE(CompactString("frac") != "fra");
    EXPECT_TRUE(CompactString("mathrm").starts_with("math"));
}

// Each step runs on a CompactVector and a std::vector alike, with elements
// that own heap memory, so that a lost or doubled element shows up.
TEST(SyntaxCompact, VectorMatchesVector) {
    struct Step {
        const char* op;
        const char* value;
    };
    const Step steps[] = {
        {"push", "a"}, {"push", "a long string past any small buffer"}, {"push", "c"},
        {"pop", ""},   {"push", "d"},  {"push", "e"},  {"clear", ""},   {"push", "f"},
        {"copy", ""},  {"push", "g"},  {"move", ""},   {"push", "h"},   {"self", ""},
        {"swap", ""},  {"push", "i"},
    };
    CompactVector<std::string> compact;
    std::vector<std::string> model;
    for (const Step& s : steps) {
        const std::string op = s.op;
        if (op == "push") {
            compact.push_back(s.value);
            model.push_back(s.value);
        } else if (op == "pop") {
            compact.pop_back();
            model.pop_back();
        } else if (op == "clear") {
            compact.clear();
            model.clear();
        } else if (op == "copy") {
            CompactVector<std::string> copy(compact);
            compact = copy;
        } else if (op == "move") {
            CompactVector<std::string> moved(std::move(compact));
            EXPECT_TRUE(compact.empty());  // NOLINT: a moved-from vector is empty
            compact = std::move(moved);
        } else if (op == "swap") {
            // Twice: out to an empty vector and back, keeping the block.
            CompactVector<std::string> other;
            compact.swap(other);
            EXPECT_TRUE(compact.empty());
            other.swap(compact);
        } else {
            // An element of the vector itself, while it grows.
            while (compact.size() < compact.capacity()) compact.push_back(compact.back());
            while (model.size() < compact.size()) model.push_back(model.back());
            compact.push_back(compact[0]);
            model.push_back(model[0]);
        }
        ASSERT_EQ(std::vector<std::string>(compact.begin(), compact.end()), model) << op;
    }
    EXPECT_EQ(compact.at(0), model.at(0));
    EXPECT_THROW((void)compact.at(compact.size()), std::out_of_range);
    EXPECT_EQ(compact, CompactVector<std::string>(model.begin(), model.end()));
    EXPECT_FALSE(compact == CompactVector<std::string>{});
}

TEST(SyntaxCompact, GroupKindKeepsItsCase) {
    struct Row {
        GroupKind kind;
        std::size_t index;
    };
    const std::vector<Row> rows = {
        {GroupKind::Explicit{}, 0},
        {GroupKind::Implicit{}, 1},
        {GroupKind::Delimited{Delimiter::character(U'('), Delimiter::character(U')')}, 2},
        {GroupKind::Delimited{Delimiter::control("langle"), Delimiter::none()}, 2},
        {GroupKind::InlineMath{}, 3},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        const GroupKind& kind = rows[i].kind;
        EXPECT_EQ(kind.index(), rows[i].index);
        EXPECT_EQ(kind.is_explicit(), rows[i].index == 0);
        EXPECT_EQ(kind.is_implicit(), rows[i].index == 1);
        EXPECT_EQ(kind.as_delimited() != nullptr, rows[i].index == 2);
        EXPECT_EQ(kind.is_inline_math(), rows[i].index == 3);
        for (std::size_t j = 0; j < rows.size(); ++j) EXPECT_EQ(kind == rows[j].kind, i == j) << j;

        GroupKind copy = kind;
        EXPECT_EQ(copy, kind);
        if (kind.as_delimited() != nullptr) {
            EXPECT_NE(copy.as_delimited(), kind.as_delimited());
        }
        GroupKind moved = std::move(copy);
        EXPECT_EQ(moved, kind);
        EXPECT_TRUE(copy.is_explicit());  // NOLINT: a moved-from kind is Explicit
        copy = moved;
        moved = GroupKind::Implicit{};
        EXPECT_EQ(copy, kind);
        EXPECT_TRUE(moved.is_implicit());
    }
}

}  // namespace
