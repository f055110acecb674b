#include <gtest/gtest.h>

#include "syntax/conversion.hpp"
#include "syntax_test_util.hpp"

namespace {

using namespace syntax_test;
using sx::Ast;
using sx::FromSyntaxError;

struct ValidationCase {
    const char* name;
    SyntaxNode tree;
    std::optional<FromSyntaxError> expected;
};

SyntaxNode text_group(std::vector<SyntaxNode> children) {
    return group(ContentMode::Text, std::move(children));
}

sn::Argument with_kind(std::optional<sn::Argument> arg, sn::ArgumentKind kind) {
    arg->kind = std::move(kind);
    return *arg;
}

TEST(SyntaxValidation, FirstFailureOfTheWalk) {
    using E = FromSyntaxError;
    const ValidationCase cases[] = {
        {"group at the top", math({}), E::NotARoot},
        {"nested root", root({math({root({})})}), E::NotARoot},
        {"empty root", root({}), std::nullopt},
        {"prime count zero", root({prime(0)}), E::InvalidPrimeCount},
        {"count before mode", root({text_group({prime(0)})}), E::InvalidPrimeCount},
        {"prime in text group", root({text_group({prime(1)})}), E::PrimeInTextMode},
        {"prime in text root", root({prime(1)}, ContentMode::Text), E::PrimeInTextMode},
        {"prime in text argument", root({command("text", {text_arg(prime(1))})}), E::PrimeInTextMode},
        {"prime in operator name", root({command("operatorname", {opname_arg(prime(1))})}), std::nullopt},
        {"math group inside text", root({text_group({math({prime(2)})})}), std::nullopt},
        {"prime as environment body",
         root({environment("x", prime(1))}), E::PrimeInTextMode},
        {"prime inside math body", root({environment("x", math({prime(1)}))}), std::nullopt},
        {"char body", root({environment("x", ch(U'a'))}), E::EnvironmentBodyNotGroup},
        {"arguments before operands",
         root({infix("over", text_group({prime(1)}), ch(U'b'), {math_arg(prime(0))})}),
         E::InvalidPrimeCount},
        {"left before right",
         root({infix("over", prime(0), text_group({prime(1)}))}), E::InvalidPrimeCount},
        {"operands in the current mode", root({infix("over", prime(1), ch(U'b'))}, ContentMode::Text),
         E::PrimeInTextMode},
        {"script order", root({scripted(ch(U'x'), prime(0), text_group({prime(1)}))}),
         E::InvalidPrimeCount},
        {"star slot with a dimension",
         root({command("x", {with_kind(dim_arg("1pt"), sn::ArgumentKind::Star{})})}),
         E::StarSlotNotBoolean},
        {"boolean in a mandatory slot",
         root({command("x", {with_kind(star_arg(true), sn::ArgumentKind::Mandatory{})})}),
         E::BooleanOutsideStarSlot},
        {"slot checks in slot order",
         root({command("x", {math_arg(prime(0)), with_kind(star_arg(true), sn::ArgumentKind::Group{})})}),
         E::InvalidPrimeCount},
        {"star slot with boolean", root({command("x", {star_arg(false), std::nullopt})}), std::nullopt},
        {"surrogate char", root({ch(0xD800)}), E::InvalidCharacter},
        {"char past the last scalar", root({math({ch(0x110000)})}), E::InvalidCharacter},
        {"surrogate delimiter",
         root({group(ContentMode::Math, {},
                     sn::GroupKind::Delimited{sn::Delimiter::character(0xDFFF), sn::Delimiter::none()})}),
         E::InvalidCharacter},
        {"error node is valid", root({SyntaxNode::Error{"m", "s"}}), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sx::validate_syntax(c.tree, std::nullopt, true), c.expected) << c.name;
    }
}

TEST(SyntaxValidation, Messages) {
    EXPECT_EQ(sx::message(FromSyntaxError::NotARoot), "from_syntax expects a SyntaxNode::Root");
    EXPECT_EQ(sx::message(FromSyntaxError::InvalidPrimeCount), "Prime count must be greater than zero");
    EXPECT_EQ(sx::message(FromSyntaxError::PrimeInTextMode), "Prime nodes are only valid in math mode");
    EXPECT_EQ(sx::message(FromSyntaxError::EnvironmentBodyNotGroup),
              "Environment body must be a Group node");
    EXPECT_EQ(sx::debug_name(FromSyntaxError::PrimeInTextMode), "PrimeInTextMode");
}

SyntaxNode rich_tree() {
    sn::Argument delimited{sn::ArgumentKind::Delimited{sn::Delimiter::character(U'('),
                                                       sn::Delimiter::control("rangle")},
                           true, sn::ArgumentValue::Delimiter{sn::Delimiter::character(U'|')}};
    sn::Argument paired{sn::ArgumentKind::Paired{sn::Delimiter::none(), sn::Delimiter::character(U']')},
                        false, sn::ArgumentValue::CSName{"foo"}};
    return root({
        SyntaxNode::Error{"Unknown command", "\\foo"},
        command("frac", {std::nullopt, math_arg(math({ch(U'a'), prime(2)})), std::nullopt}, false),
        command("x", {delimited, paired, star_arg(true), dim_arg("3pt"),
                      sn::Argument{sn::ArgumentKind::Group{}, false, sn::ArgumentValue::Integer{"12"}},
                      sn::Argument{sn::ArgumentKind::Mandatory{}, false, sn::ArgumentValue::KeyVal{"a=b"}},
                      sn::Argument{sn::ArgumentKind::Mandatory{}, false, sn::ArgumentValue::Column{"c|l"}}}),
        group(ContentMode::Math, {text("\xe2\x88\x80"), SyntaxNode::ActiveSpace{}},
              sn::GroupKind::Delimited{sn::Delimiter::control("langle"), sn::Delimiter::none()}),
        group(ContentMode::Text, {group(ContentMode::Math, {ch(U'm')}, sn::GroupKind::InlineMath{})},
              sn::GroupKind::Implicit{}),
        infix("over", ch(U'n'), scripted(ch(U'd'), ch(U'i'), std::nullopt), {opname_arg(ch(U'o'))}),
        SyntaxNode::Declarative{"bf", {}},
        environment("matrix", group(ContentMode::Math, {ch(U'1')}, sn::GroupKind::Implicit{}),
                    {text_arg(text_group({text("t")}))}),
        scripted(ch(U'x'), std::nullopt, prime(1)),
    });
}

TEST(SyntaxConversion, RoundTripKeepsEverything) {
    const SyntaxNode trees[] = {rich_tree(), root({}), root({ch(U'a')}, ContentMode::Text)};
    for (const auto& tree : trees) {
        ASSERT_EQ(sx::validate_syntax(tree, std::nullopt, true), std::nullopt) << sx::debug_string(tree);
        auto built = Ast::from_syntax(tree);
        ASSERT_TRUE(std::holds_alternative<Ast>(built));
        const Ast& ast = std::get<Ast>(built);
        EXPECT_EQ(ast.to_syntax(), tree) << sx::debug_string(ast.to_syntax());
    }
    Ast ast = Ast::from_syntax_root(rich_tree());
    // The Error node stays an Error node in both enumerations.
    auto first = ast.children(ast.root())[0];
    EXPECT_EQ(ast.kind(first), sx::NodeKind::Error);
    EXPECT_EQ(ast.to_syntax_node(first).kind(), sx::NodeKind::Error);
    EXPECT_TRUE(std::holds_alternative<SyntaxNode::Error>(ast.to_syntax_node(first).value));
}

TEST(SyntaxConversion, ArgumentSlotsBothWays) {
    Ast ast = Ast::from_syntax_root(rich_tree());
    auto cmd = ast.children(ast.root())[1];
    auto slots = ast.arg_slots(cmd);
    ASSERT_EQ(slots.size(), 3u);
    EXPECT_FALSE(slots[0].has_value());
    EXPECT_EQ(ast.slot(*slots[1]->value.content()), sx::Slot::argument(1));
    EXPECT_EQ(ast.to_syntax_arg_slot(slots[0]), std::nullopt);
    EXPECT_EQ(ast.to_syntax_arg_slot(slots[1]), math_arg(math({ch(U'a'), prime(2)})));
}

TEST(SyntaxConversion, RefusalsAreValuesOrInternalErrors) {
    auto refused = Ast::from_syntax(root({environment("x", ch(U'a'))}));
    ASSERT_TRUE(std::holds_alternative<FromSyntaxError>(refused));
    EXPECT_EQ(std::get<FromSyntaxError>(refused), FromSyntaxError::EnvironmentBodyNotGroup);
    // Unvalidated input that the arena cannot hold is an internal error.
    EXPECT_EQ(internal_message([] { Ast::from_syntax_root(root({environment("x", ch(U'a'))})); }),
              "Environment body must be a Group node");
    EXPECT_EQ(internal_message([] { Ast::from_syntax_root(math({})); }),
              "internal error: entered unreachable code: from_syntax_root expects a SyntaxNode::Root");
    EXPECT_EQ(internal_message([] { Ast::from_syntax_root(root({math({root({})})})); }),
              "internal error: entered unreachable code: nested SyntaxNode::Root");
    SyntaxNode::Scripted no_base;
    EXPECT_EQ(sx::validate_syntax(root({SyntaxNode(no_base)}), std::nullopt, true), std::nullopt);
    EXPECT_EQ(internal_message([&] { Ast::from_syntax_root(root({SyntaxNode(no_base)})); }),
              "internal error: entered unreachable code: SyntaxNode is missing a required child");
}

// A chain of `depth` nested groups around one prime, built without recursion.
SyntaxNode deep_chain(std::size_t depth) {
    SyntaxNode node = prime(1);
    for (std::size_t i = 0; i < depth; ++i) {
        if (i % 3 == 2) {
            node = scripted(std::move(node), std::nullopt, std::nullopt);
        } else if (i % 3 == 1) {
            SyntaxNode::ArgumentSlots args;  // not an initializer list: that would copy
            args.push_back(math_arg(std::move(node)));
            node = command("sqrt", std::move(args));
        } else {
            std::vector<SyntaxNode> children;
            children.push_back(std::move(node));
            node = math(std::move(children));
        }
    }
    std::vector<SyntaxNode> top;
    top.push_back(std::move(node));
    return root(std::move(top));
}

TEST(SyntaxConversion, MillionLevelTree) {
    constexpr std::size_t kDepth = 1'000'000;
    SyntaxNode tree = deep_chain(kDepth);
    EXPECT_EQ(sx::validate_syntax(tree, std::nullopt, true), std::nullopt);
    Ast ast = Ast::from_syntax_root(tree);
    EXPECT_EQ(ast.node_count(), kDepth + 2);
    SyntaxNode back = ast.to_syntax();
    EXPECT_TRUE(back == tree);
    SyntaxNode copy = back;
    EXPECT_TRUE(copy == tree);
    // The trees are destroyed here, iteratively.
}

// The arena's own walks on a tree far deeper than a recursive walk survives.
TEST(SyntaxConversion, DeepArenaWalks) {
    constexpr std::size_t kDepth = 100'000;
    SyntaxNode tree = deep_chain(kDepth);
    Ast ast = Ast::from_syntax_root(tree);
    auto deepest = ast.find_impl(ast.root(), [](const sx::ast::Node& n) { return n.is<sx::ast::Node::Prime>(); });
    ASSERT_TRUE(deepest.has_value());
    auto top = ast.children(ast.root())[0];
    EXPECT_TRUE(ast.subtree_contains(top, *deepest));
    std::vector<sx::ast::NodeId> post;
    ast.collect_postorder(top, post);
    EXPECT_EQ(post.front(), *deepest);
    EXPECT_EQ(post.back(), top);
    auto clone = ast.clone_subtree(top);
    EXPECT_EQ(ast.to_syntax_node(clone), ast.to_syntax_node(top));
    ast.remove_detached(clone);
    std::string text = sx::debug_string(tree);
    EXPECT_EQ(text.rfind("Root { mode: Math, children: [Group", 0), 0u);
    EXPECT_NE(text.find("Prime { count: 1 }"), std::string::npos);
    ast.remove_node(top);
    EXPECT_EQ(ast.node_count(), 1u);
}

}  // namespace
