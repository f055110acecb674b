#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "syntax/target_counter.hpp"

namespace {

using namespace quorvel::syntax;
using syntax_node::Argument;
using syntax_node::ArgumentKind;
using syntax_node::ArgumentSlots;
using syntax_node::ArgumentValue;
using syntax_node::Delimiter;
using syntax_node::GroupKind;

using Counts = std::map<std::string, std::uint32_t>;

Counts sorted(const TargetCounter& counter) {
    const auto logical = counter.logical_counts();
    return Counts(logical.begin(), logical.end());
}

SyntaxNode ch(char32_t c) { return SyntaxNode::Char{c}; }

std::optional<Argument> math_arg(SyntaxNode node) {
    return Argument{ArgumentKind::Mandatory{}, false, ArgumentValue::MathContent{std::move(node)}};
}
std::optional<Argument> text_arg(SyntaxNode node) {
    return Argument{ArgumentKind::Mandatory{}, false, ArgumentValue::TextContent{std::move(node)}};
}
std::optional<Argument> opname_arg(SyntaxNode node) {
    return Argument{ArgumentKind::Mandatory{}, false, ArgumentValue::OperatorNameContent{std::move(node)}};
}

template <class... A>
ArgumentSlots slots(A... a) {
    ArgumentSlots out;
    (out.push_back(std::move(a)), ...);
    return out;
}

SyntaxNode cmd(std::string name, ArgumentSlots args = {}) {
    return SyntaxNode::Command{std::move(name), std::move(args), false};
}

template <class... N>
SyntaxNode group(ContentMode mode, N... children) {
    SyntaxNode::Group g;
    g.mode = mode;
    (g.children.push_back(std::move(children)), ...);
    return g;
}

template <class... N>
SyntaxNode root(N... children) {
    SyntaxNode::Root r;
    (r.children.push_back(std::move(children)), ...);
    return r;
}

SyntaxNode env(std::string name, SyntaxNode body, ArgumentSlots args = {}) {
    SyntaxNode::Environment e;
    e.name = std::move(name);
    e.args = std::move(args);
    e.body = std::move(body);
    return e;
}

struct CounterCase {
    std::string label;
    std::function<SyntaxNode()> tree;
    Counts expected;
};

class TargetCounterCounts : public ::testing::TestWithParam<CounterCase> {};

TEST_P(TargetCounterCounts, LogicalCounts) {
    TargetCounter counter;
    target_counter::count_node(GetParam().tree(), counter);
    EXPECT_EQ(sorted(counter), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, TargetCounterCounts,
    ::testing::Values(
        CounterCase{"UnknownCommand", [] { return root(cmd("foo")); }, {{"cmd:foo", 1}}},
        CounterCase{"CharacterOnly", [] { return root(cmd("alpha"), cmd("alpha")); }, {{"char:alpha", 2}}},
        CounterCase{"CommandAndCharacter", [] { return root(cmd("AA"), cmd("div")); },
                    {{"cmd:AA", 1}, {"char:AA", 1}, {"cmd:div", 1}, {"char:div", 1}}},
        CounterCase{"OnlyLiterals",
                    [] {
                        // `\&`, the command `&`, is a character too.
                        return root(ch('x'), SyntaxNode::Text{"ab"}, SyntaxNode::Prime{2}, ch('+'),
                                    SyntaxNode::ActiveSpace{}, SyntaxNode::Error{"bad", "\\frac"}, cmd("&"));
                    },
                    {}},
        CounterCase{"EnvironmentOncePerUse",
                    [] {
                        return root(env("matrix", group(ContentMode::Math, cmd("alpha"))),
                                    env("matrix", group(ContentMode::Math)), env("nosuchenv", group(ContentMode::Math)));
                    },
                    {{"env:matrix", 2}, {"env:nosuchenv", 1}, {"char:alpha", 1}}},
        CounterCase{"MathAndTextAddUp",
                    [] { return root(cmd("foo"), cmd("text", slots(text_arg(group(ContentMode::Text, cmd("foo")))))); },
                    {{"cmd:foo", 2}, {"cmd:text", 1}}},
        CounterCase{"ArgumentsOfEveryContentKind",
                    [] {
                        return root(cmd("operatorname", slots(std::optional<Argument>{},
                                                              opname_arg(group(ContentMode::Math, cmd("beta"))))),
                                    cmd("frac", slots(math_arg(cmd("gamma")), math_arg(ch('2')))));
                    },
                    {{"cmd:operatorname", 1}, {"char:beta", 1}, {"cmd:frac", 1}, {"char:gamma", 1}}},
        CounterCase{"NonContentArgumentsSkipped",
                    [] {
                        ArgumentSlots args;
                        args.push_back(Argument{ArgumentKind::Mandatory{}, false,
                                                ArgumentValue::Delimiter{Delimiter::control("langle")}});
                        args.push_back(Argument{ArgumentKind::Mandatory{}, false, ArgumentValue::CSName{"alpha"}});
                        args.push_back(Argument{ArgumentKind::Star{}, false, ArgumentValue::Boolean{true}});
                        return root(cmd("big", std::move(args)));
                    },
                    {{"cmd:big", 1}}},
        CounterCase{"InfixDeclarativeScripted",
                    [] {
                        SyntaxNode::Infix over{"over", {}, cmd("alpha"), cmd("foo")};
                        SyntaxNode::Scripted s{cmd("sum"), cmd("bar"), cmd("baz")};
                        return root(std::move(over), SyntaxNode::Declarative{"bf", {}}, std::move(s),
                                    SyntaxNode::Scripted{ch('x'), {}, SyntaxNode(SyntaxNode::Prime{1})});
                    },
                    {{"cmd:over", 1},
                     {"char:alpha", 1},
                     {"cmd:foo", 1},
                     {"cmd:bf", 1},
                     {"char:sum", 1},
                     {"cmd:bar", 1},
                     {"cmd:baz", 1}}},
        CounterCase{"DelimitersOfLeftRightNotCounted",
                    [] {
                        SyntaxNode::Group g;
                        g.kind = GroupKind::Delimited{Delimiter::control("langle"), Delimiter::character('|')};
                        g.children.push_back(cmd("x"));
                        return root(std::move(g));
                    },
                    {{"cmd:x", 1}}}),
    [](const auto& info) { return info.param.label; });

TEST(TargetCounter, ModesFollowTheTree) {
    TargetCounter counter;
    SyntaxNode tree = root(cmd("foo"), cmd("mbox", slots(text_arg(group(ContentMode::Text, cmd("foo"), cmd("AA"))))),
                           cmd("operatorname", slots(opname_arg(cmd("foo")))),
                           SyntaxNode(SyntaxNode::Group{ContentMode::Text, GroupKind::InlineMath{}, {}}));
    auto& inline_math = std::get<SyntaxNode::Group>(std::get<SyntaxNode::Root>(tree.value).children.back().value);
    inline_math.mode = ContentMode::Math;
    inline_math.children.push_back(cmd("foo"));
    target_counter::count_node(tree, counter);
    EXPECT_EQ(counter.count(TargetCounterKind::Command, ContentMode::Math, "foo"), 3u);
    EXPECT_EQ(counter.count(TargetCounterKind::Command, ContentMode::Text, "foo"), 1u);
    EXPECT_EQ(counter.count(TargetCounterKind::Command, ContentMode::Text, "AA"), 1u);
    EXPECT_EQ(counter.count(TargetCounterKind::Character, ContentMode::Text, "AA"), 1u);
    EXPECT_EQ(counter.count(TargetCounterKind::Command, ContentMode::Math, "mbox"), 1u);

    TargetCounter in_text;
    SyntaxNode::Root text_root;
    text_root.mode = ContentMode::Text;
    text_root.children.push_back(cmd("emph"));
    target_counter::count_node(SyntaxNode(std::move(text_root)), in_text);
    EXPECT_EQ(in_text.count(TargetCounterKind::Command, ContentMode::Text, "emph"), 1u);
    EXPECT_EQ(in_text.size(), 1u);
}

TEST(TargetCounter, BumpKeepsKeysApart) {
    TargetCounter counter;
    counter.bump(TargetCounterKind::Environment, ContentMode::Math, "x");
    counter.bump(TargetCounterKind::Environment, ContentMode::Text, "x");
    counter.bump(TargetCounterKind::Command, ContentMode::Math, "x");
    counter.bump(TargetCounterKind::Command, ContentMode::Math, "x");
    EXPECT_EQ(counter.size(), 3u);
    EXPECT_EQ(sorted(counter), (Counts{{"cmd:x", 2}, {"env:x", 2}}));
}

TEST(TargetCounter, MillionLevelTreeDoesNotOverflowTheStack) {
    SyntaxNode node = cmd("leaf");
    for (int i = 0; i < 1'000'000; ++i) {
        SyntaxNode::Group g;
        g.children.push_back(std::move(node));
        if (i % 2 == 0) {
            node = SyntaxNode(std::move(g));
        } else {
            node = cmd("sqrt", slots(math_arg(SyntaxNode(std::move(g)))));
        }
    }
    TargetCounter counter;
    target_counter::count_node(node, counter);
    EXPECT_EQ(sorted(counter), (Counts{{"cmd:leaf", 1}, {"cmd:sqrt", 500'000}}));
}

}  // namespace
