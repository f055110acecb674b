#include <gtest/gtest.h>

#include "syntax_test_util.hpp"

namespace {

using namespace syntax_test;

struct DebugCase {
    const char* name;
    SyntaxNode node;
    const char* expected;
};

TEST(SyntaxNodeDebug, DerivedForms) {
    const DebugCase cases[] = {
        {"group", math({ch(U'x'), text("ab")}),
         R"(Group { mode: Math, kind: Explicit, children: [Char('x'), Text("ab")] })"},
        {"root text", root({SyntaxNode::ActiveSpace{}}, ContentMode::Text),
         "Root { mode: Text, children: [ActiveSpace] }"},
        {"delimited group",
         group(ContentMode::Math, {},
               sn::GroupKind::Delimited{sn::Delimiter::character(U'('),
                                        sn::Delimiter::control("rangle")}),
         R"(Group { mode: Math, kind: Delimited { left: Char('('), right: Control("rangle") }, children: [] })"},
        {"command with empty slot",
         command("frac", {math_arg(ch(U'1')), std::nullopt}, true),
         R"(Command { name: "frac", args: [Some(Argument { kind: Mandatory, no_leading_space: false, value: MathContent(Char('1')) }), None], known: true })"},
        {"star and dimension",
         SyntaxNode::Declarative{"bf", {star_arg(true), dim_arg("2pt")}},
         R"(Declarative { name: "bf", args: [Some(Argument { kind: Star, no_leading_space: true, value: Boolean(true) }), Some(Argument { kind: Optional, no_leading_space: false, value: Dimension("2pt") })] })"},
        {"scripted sup only", scripted(ch(U'x'), std::nullopt, prime(2)),
         "Scripted { base: Char('x'), subscript: None, superscript: Some(Prime { count: 2 }) }"},
        {"infix", infix("over", ch(U'a'), ch(U'b')),
         "Infix { name: \"over\", args: [], left: Char('a'), right: Char('b') }"},
        {"environment", environment("matrix", math({})),
         R"(Environment { name: "matrix", args: [], known: true, body: Group { mode: Math, kind: Explicit, children: [] } })"},
        {"error escapes", SyntaxNode::Error{"bad \"x\"\n", "\\foo\t"},
         R"(Error { message: "bad \"x\"\n", snippet: "\\foo\t" })"},
        {"char quote", ch(U'\''), R"(Char('\''))"},
        {"char double quote", ch(U'"'), R"(Char('"'))"},
        {"text single quote", text("it's"), R"(Text("it's"))"},
        {"non-ascii kept", text("\xce\xb1"), "Text(\"\xce\xb1\")"},
        {"control escaped", ch(U'\x01'), R"(Char('\u{1}'))"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sx::debug_string(c.node), c.expected) << c.name;
    }
}

TEST(SyntaxNodeDebug, CompanionTypes) {
    EXPECT_EQ(sx::debug_string(ContentMode::Math), "Math");
    EXPECT_EQ(sx::debug_string(ContentMode::Text), "Text");
    EXPECT_EQ(sx::content_mode_name(ContentMode::Math), "math");
    EXPECT_EQ(sx::debug_string(sn::Delimiter::none()), "None");
    EXPECT_EQ(sx::debug_string(sn::ArgumentKind(sn::ArgumentKind::Paired{
                  sn::Delimiter::character(U'('), sn::Delimiter::none()})),
              "Paired { open: Char('('), close: None }");
    EXPECT_EQ(sx::debug_string(sn::GroupKind(sn::GroupKind::InlineMath{})), "InlineMath");
}

TEST(SyntaxNode, KindsFollowVariantsNotIndices) {
    EXPECT_EQ(SyntaxNode(SyntaxNode::Error{}).kind(), sx::NodeKind::Error);
    EXPECT_EQ(prime(1).kind(), sx::NodeKind::Prime);
    EXPECT_EQ(SyntaxNode().kind(), sx::NodeKind::ActiveSpace);
    EXPECT_EQ(static_cast<int>(sx::NodeKind::Error), 11);
    EXPECT_EQ(SyntaxNode(SyntaxNode::Error{}).value.index(), 7u);
}

SyntaxNode sample() {
    return root({
        command("frac", {math_arg(math({ch(U'a'), prime(1)})), std::nullopt,
                         text_arg(group(ContentMode::Text, {text("t")}))}),
        infix("over", ch(U'x'), scripted(ch(U'y'), ch(U'1'), ch(U'2')), {opname_arg(ch(U'd'))}),
        environment("aligned", math({SyntaxNode::ActiveSpace{}}), {star_arg(false)}),
        SyntaxNode::Error{"msg", "snip"},
    });
}

TEST(SyntaxNode, CopyIsDeepAndEqual) {
    SyntaxNode a = sample();
    SyntaxNode b = a;
    EXPECT_EQ(a, b);
    // Changing the copy leaves the original alone.
    auto& children = std::get<SyntaxNode::Root>(b.value).children;
    auto* cmd = children[0].get_if<SyntaxNode::Command>();
    ASSERT_NE(cmd, nullptr);
    auto* content = cmd->args[0]->value.content();
    std::get<SyntaxNode::Group>(content->value).children.push_back(ch(U'z'));
    EXPECT_NE(a, b);
    EXPECT_EQ(sx::debug_string(a), sx::debug_string(sample()));
}

std::vector<SyntaxNode>& k(SyntaxNode& n) { return std::get<SyntaxNode::Root>(n.value).children; }

// Each mutation changes exactly one field somewhere in the tree.
TEST(SyntaxNode, EqualityNoticesEveryField) {
    using Mutation = void (*)(SyntaxNode&);
    struct Case {
        const char* name;
        Mutation mutate;
    };
    const Case cases[] = {
        {"root mode", [](SyntaxNode& n) { std::get<SyntaxNode::Root>(n.value).mode = ContentMode::Text; }},
        {"command name", [](SyntaxNode& n) { k(n)[0].get_if<SyntaxNode::Command>()->name = "dfrac"; }},
        {"command known", [](SyntaxNode& n) { k(n)[0].get_if<SyntaxNode::Command>()->known = false; }},
        {"empty slot filled",
         [](SyntaxNode& n) { k(n)[0].get_if<SyntaxNode::Command>()->args[1] = dim_arg("1pt"); }},
        {"slot kind",
         [](SyntaxNode& n) { k(n)[0].get_if<SyntaxNode::Command>()->args[0]->kind = sn::ArgumentKind::Optional{}; }},
        {"no leading space",
         [](SyntaxNode& n) { k(n)[0].get_if<SyntaxNode::Command>()->args[0]->no_leading_space = true; }},
        {"content variant",
         [](SyntaxNode& n) {
             auto& arg = *k(n)[1].get_if<SyntaxNode::Infix>()->args[0];
             arg.value = sn::ArgumentValue::MathContent{ch(U'd')};
         }},
        {"prime count",
         [](SyntaxNode& n) {
             auto* g = k(n)[0].get_if<SyntaxNode::Command>()->args[0]->value.content();
             std::get<SyntaxNode::Group>(g->value).children[1] = prime(2);
         }},
        {"deep script",
         [](SyntaxNode& n) {
             auto* s = k(n)[1].get_if<SyntaxNode::Infix>()->right->get_if<SyntaxNode::Scripted>();
             s->subscript.reset();
         }},
        {"star value",
         [](SyntaxNode& n) { k(n)[2].get_if<SyntaxNode::Environment>()->args[0] = star_arg(true); }},
        {"error snippet", [](SyntaxNode& n) { k(n)[3].get_if<SyntaxNode::Error>()->snippet = "x"; }},
        {"extra child", [](SyntaxNode& n) { k(n).push_back(ch(U'q')); }},
    };
    for (const auto& c : cases) {
        SyntaxNode changed = sample();
        c.mutate(changed);
        EXPECT_NE(changed, sample()) << c.name;
    }
}

TEST(SyntaxNode, MoveAssignFromOwnSubtree) {
    SyntaxNode n = math({math({ch(U'a')}), ch(U'b')});
    SyntaxNode& inner = std::get<SyntaxNode::Group>(n.value).children[0];
    n = std::move(inner);
    EXPECT_EQ(n, math({ch(U'a')}));
    SyntaxNode s = scripted(ch(U'x'), ch(U'1'), std::nullopt);
    s = *s.get_if<SyntaxNode::Scripted>()->subscript;  // copy-assign from own subtree
    EXPECT_EQ(s, ch(U'1'));
}

}  // namespace

namespace {

SyntaxNode wrap_in_group(SyntaxNode inner, std::size_t siblings) {
    std::vector<SyntaxNode> children;
    children.push_back(std::move(inner));
    for (std::size_t i = 0; i < siblings; ++i) children.push_back(math({ch(U'a'), ch(U'b')}));
    return group(ContentMode::Math, std::move(children));
}

SyntaxNode wrap_in_script(SyntaxNode inner, std::size_t) { return scripted(std::move(inner), ch(U'i'), std::nullopt); }

// `levels` wraps of a leaf, each wrap with `siblings` small groups beside it.
SyntaxNode tower(SyntaxNode (*wrap)(SyntaxNode, std::size_t), std::size_t levels, std::size_t siblings) {
    SyntaxNode node = math({ch(U'x')});
    for (std::size_t i = 0; i < levels; ++i) node = wrap(std::move(node), siblings);
    return node;
}

TEST(SyntaxNode, ReleaseInPlaceLeavesOnlyChildrenThatOwnNothing) {
    struct Case {
        const char* name;
        SyntaxNode tree;
        std::size_t children_left;
    };
    std::vector<SyntaxNode> wide;
    for (int i = 0; i < 50'000; ++i) wide.push_back(math({ch(U'a'), math({ch(U'b')})}));
    Case cases[] = {
        // A list's children are freed as the walk leaves them.
        {"leaves only", root({ch(U'a'), ch(U'b')}), 0},
        {"wide", root(std::move(wide)), 0},
        // Deeper than the walk's ring of frames: it starts again from the top.
        {"deep groups", tower(wrap_in_group, 3'000, 0), 0},
        {"deep scripts", tower(wrap_in_script, 3'000, 0), 0},
        {"deep and wide", tower(wrap_in_group, 700, 20), 0},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.tree.release_subtrees_in_place();
        std::vector<SyntaxNode> children;
        c.tree.take_children(children);
        EXPECT_EQ(children.size(), c.children_left);
        for (SyntaxNode& child : children) {
            std::vector<SyntaxNode> grandchildren;
            child.take_children(grandchildren);
            ASSERT_TRUE(grandchildren.empty());
        }
    }
}

}  // namespace
