// The consuming build of a document: taking the exchange tree and the span
// tree apart gives the same document as reading them, node for node.
#include <gtest/gtest.h>

#include <string>

#include "syntax/conversion.hpp"
#include "syntax/document.hpp"
#include "syntax_test_util.hpp"

namespace {

using namespace syntax_test;
using sx::Span;
using sx::SpanTree;
using sx::document::Document;

SyntaxNode implicit(std::vector<SyntaxNode> children, ContentMode mode = ContentMode::Math) {
    return group(mode, std::move(children), sn::GroupKind::Implicit{});
}
SpanTree span(std::size_t s, std::size_t e, std::vector<SpanTree> kids = {}) {
    return SpanTree(Span{s, e}, std::move(kids));
}

// Everything a document shows of its nodes: each live slot with its value,
// parent link and span, in slot order.
std::string dump(const Document& doc) {
    std::string out = doc.read_only() ? "read-only\n" : "writable\n";
    doc.ast().for_each_node([&](sx::ast::NodeId id, const sx::ast::Node& node) {
        out += sx::ast::debug_string(id) + " " + sx::debug_string(node);
        if (const auto* link = doc.ast().parent_link(id)) out += " under " + sx::debug_string(*link);
        if (auto s = doc.span(id)) out += " at " + std::to_string(s->start) + ".." + std::to_string(s->end);
        out += "\n";
    });
    return out;
}

struct BuildCase {
    const char* name;
    SyntaxNode tree;
    SpanTree spans;
};

std::vector<BuildCase> build_cases() {
    std::vector<BuildCase> cases;
    cases.push_back({"empty", root({}), span(0, 0)});
    cases.push_back({"every_kind",
                     root({command("frac", {math_arg(implicit({ch(U'a'), prime(2)})), dim_arg("2pt"), std::nullopt}),
                           scripted(ch(U'x'), ch(U'i'), text("j")),
                           infix("over", ch(U'p'), implicit({ch(U'q'), ch(U'r'), ch(U's')}), {opname_arg(ch(U'o'))}),
                           environment("matrix", implicit({ch(U'1')}), {text_arg(implicit({text("t")}, ContentMode::Text))}),
                           SyntaxNode::Declarative{"bf", {star_arg(true)}}, SyntaxNode::Error{"Missing }", "{x"},
                           SyntaxNode::ActiveSpace{}}),
                     span(0, 60, {span(0, 10, {span(5, 9, {span(5, 6), span(6, 8)})}),
                                  span(10, 15, {span(10, 11), span(12, 13), span(14, 15)}),
                                  span(16, 30, {span(16, 17), span(18, 19), span(24, 30, {span(24, 25), span(26, 27), span(28, 29)})}),
                                  span(31, 50, {span(35, 40, {span(36, 37)}), span(41, 49, {span(42, 43)})}),
                                  span(51, 55), span(55, 58), span(58, 59)})});
    // Parts beyond the span children get none, nor does anything below them;
    // surplus span children are ignored.
    cases.push_back({"short_and_long_span_lists",
                     root({command("f", {math_arg(implicit({ch(U'a'), ch(U'b')}))}), ch(U'c'), implicit({ch(U'd')})}),
                     span(0, 9, {span(0, 8, {span(2, 8, {span(3, 4)})}), span(8, 9, {span(1, 2), span(3, 4)})})});
    cases.push_back({"text_root", root({text("ab"), ch(U' ')}, ContentMode::Text), span(0, 3, {span(0, 2)})});
    return cases;
}

TEST(ConsumingBuild, SameDocumentAsReading) {
    for (BuildCase& c : build_cases()) {
        auto read = Document::from_syntax_with_spans(c.tree, c.spans);
        ASSERT_TRUE(read.has_value()) << c.name;
        SyntaxNode tree = c.tree;
        SpanTree spans = c.spans;
        auto taken = Document::from_syntax_with_spans(std::move(tree), std::move(spans));
        ASSERT_TRUE(taken.has_value()) << c.name;
        EXPECT_EQ(dump(*taken), dump(*read)) << c.name;
        EXPECT_EQ(taken->node_spans(), read->node_spans()) << c.name;
        EXPECT_EQ(taken->to_syntax(), c.tree) << c.name;
        // Both trees are left empty shells.
        EXPECT_TRUE(tree.get_if<SyntaxNode::Root>()->children.empty()) << c.name;
        EXPECT_TRUE(spans.children.empty()) << c.name;

        // The parser's entry, which skips validation, builds the same.
        auto parsed = Document::from_parsed_syntax(SyntaxNode(c.tree), SpanTree(c.spans));
        EXPECT_EQ(dump(parsed), dump(*read)) << c.name;
        EXPECT_EQ(parsed.node_spans(), read->node_spans()) << c.name;

        // The arena alone, without spans, from a taken tree.
        SyntaxNode again = c.tree;
        sx::Ast ast = sx::Ast::from_syntax_root(std::move(again));
        EXPECT_EQ(ast.to_syntax(), c.tree) << c.name;
    }
}

// The parser's entry for a root in blocks builds the same document however
// the items are split, empty blocks included.
TEST(ConsumingBuild, RootInBlocksBuildsTheSame) {
    for (BuildCase& c : build_cases()) {
        auto read = Document::from_syntax_with_spans(c.tree, c.spans);
        ASSERT_TRUE(read.has_value()) << c.name;
        const auto& children = c.tree.get_if<SyntaxNode::Root>()->children;
        for (std::size_t every : {std::size_t{1}, std::size_t{2}, children.size() + 1}) {
            SCOPED_TRACE(std::string(c.name) + " in blocks of " + std::to_string(every));
            sx::ParsedRoot parsed;
            parsed.mode = c.tree.get_if<SyntaxNode::Root>()->mode;
            parsed.span = c.spans.span;
            parsed.blocks.emplace_back();  // an empty block first
            for (std::size_t i = 0; i < children.size(); ++i) {
                if (i % every == 0) parsed.blocks.emplace_back();
                parsed.blocks.back().nodes.push_back(children[i]);
                if (i < c.spans.children.size()) parsed.blocks.back().spans.emplace_back(c.spans.children[i]);
            }
            // The latest items come apart from the earlier blocks.
            parsed.last = std::move(parsed.blocks.back());
            parsed.blocks.pop_back();
            Document doc = Document::from_parsed_root(std::move(parsed));
            EXPECT_EQ(dump(doc), dump(*read));
            EXPECT_EQ(doc.node_spans(), read->node_spans());
        }
    }
}

// The count sizes the arena before a build: it must match the nodes built,
// and stay safe on trees the build refuses.
TEST(ConsumingBuild, NodeCountMatchesTheBuild) {
    SyntaxNode::Scripted no_base;
    no_base.superscript = SyntaxNode::Box(ch(U'y'));
    struct Case {
        const char* name;
        SyntaxNode tree;
        std::size_t count;
        bool builds;
    };
    Case cases[] = {
        {"empty_root", root({}), 1, true},
        {"lone_leaf_top", ch(U'a'), 1, false},
        {"every_kind", build_cases()[1].tree, 24, true},
        {"nested_lists", root({math({math({}), implicit({ch(U'a'), ch(U'b')})}), ch(U'c')}), 7, true},
        {"missing_base", root({SyntaxNode(no_base)}), 3, false},
        {"empty_content_arg",
         root({command("f", {sn::Argument{sn::ArgumentKind::Mandatory{}, false, sn::ArgumentValue::MathContent{}},
                             math_arg(ch(U'x'))})}),
         3, false},
        {"nested_root", root({math({root({ch(U'r')})})}), 4, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sx::count_syntax_nodes(c.tree), c.count) << c.name;
        if (c.builds) {
            EXPECT_EQ(sx::Ast::from_syntax_root(c.tree).node_count(), c.count) << c.name;
        }
    }
}

TEST(ConsumingBuild, RefusedTreeIsLeftAsItWas) {
    const SyntaxNode refused = root({ch(U'a'), environment("x", ch(U'b')), prime(0)});
    SyntaxNode tree = refused;
    SpanTree spans = span(0, 3, {span(0, 1), span(1, 2, {span(1, 2)})});
    const SpanTree spans_before = spans;
    auto doc = Document::from_syntax_with_spans(std::move(tree), std::move(spans));
    ASSERT_FALSE(doc.has_value());
    EXPECT_EQ(doc.error(), sx::FromSyntaxError::EnvironmentBodyNotGroup);
    EXPECT_TRUE(tree == refused);
    EXPECT_TRUE(spans == spans_before);
}

TEST(ConsumingBuild, UnvalidatedTreesFailAsWhenRead) {
    SyntaxNode::Scripted no_base;
    const SyntaxNode trees[] = {
        root({environment("x", ch(U'a'))}),
        root({math({root({})})}),
        root({SyntaxNode(no_base)}),
        root({command("f", {sn::Argument{sn::ArgumentKind::Mandatory{}, false, sn::ArgumentValue::MathContent{}}})}),
        math({}),
    };
    for (const SyntaxNode& tree : trees) {
        const std::string read = internal_message([&] { sx::Ast::from_syntax_root(tree); });
        SyntaxNode copy = tree;
        EXPECT_EQ(internal_message([&] { sx::Ast::from_syntax_root(std::move(copy)); }), read) << read;
        EXPECT_NE(read, "<no error>");
    }
}

// A chain of `depth` nested groups, commands and scripts around one char,
// built without recursion, with a span tree of the same shape.
void deep_pair(std::size_t depth, SyntaxNode& tree, SpanTree& spans) {
    SyntaxNode node = ch(U'x');
    SpanTree s = span(0, 1);
    for (std::size_t i = 0; i < depth; ++i) {
        std::vector<SpanTree> kids;
        kids.push_back(std::move(s));
        if (i % 3 == 0) {
            std::vector<SyntaxNode> children;
            children.push_back(std::move(node));
            node = math(std::move(children));
        } else if (i % 3 == 1) {
            SyntaxNode::ArgumentSlots args;
            args.push_back(math_arg(std::move(node)));
            node = command("sqrt", std::move(args));
        } else {
            node = scripted(std::move(node), std::nullopt, std::nullopt);
        }
        s = SpanTree(Span{0, 1}, std::move(kids));
    }
    std::vector<SyntaxNode> top;
    top.push_back(std::move(node));
    tree = root(std::move(top));
    std::vector<SpanTree> top_spans;
    top_spans.push_back(std::move(s));
    spans = SpanTree(Span{0, 1}, std::move(top_spans));
}

TEST(ConsumingBuild, MillionLevelTreesAreTakenApartIteratively) {
    constexpr std::size_t kDepth = 1'000'000;
    SyntaxNode tree;
    SpanTree spans;
    deep_pair(kDepth, tree, spans);
    auto doc = Document::from_syntax_with_spans(std::move(tree), std::move(spans));
    ASSERT_TRUE(doc.has_value());
    EXPECT_EQ(doc->ast().node_count(), kDepth + 2);
    auto deepest = doc->ast().find_impl(doc->ast().root(), [](const sx::ast::Node& n) { return n.is<sx::ast::Node::Char>(); });
    ASSERT_TRUE(deepest.has_value());
    EXPECT_EQ(doc->span(*deepest), (Span{0, 1}));
}

TEST(SyntaxNodeMoves, AssigningIntoALeafOrAnOwnerKeepsTheValue) {
    // Into a leaf: nothing of the target can hold the source.
    SyntaxNode leaf = ch(U'a');
    SyntaxNode source = math({ch(U'b'), command("c", {math_arg(ch(U'd'))})});
    const SyntaxNode expected = source;
    leaf = std::move(source);
    EXPECT_TRUE(leaf == expected);
    // Into an owner, from deep inside its own subtree.
    SyntaxNode owner = math({math({scripted(ch(U'x'), ch(U'y'), std::nullopt)})});
    SyntaxNode& inner = std::get<SyntaxNode::Group>(std::get<SyntaxNode::Group>(owner.value).children[0].value).children[0];
    owner = std::move(inner);
    EXPECT_TRUE(owner == scripted(ch(U'x'), ch(U'y'), std::nullopt));
}

}  // namespace
