// The physics fence expansions (bra-ket, commutator, delimiter shorthand,
// eval) through the whole pipeline: input source or exchange tree, expected
// output or error. Only this family's rules run, so the cases do not depend
// on the other families.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "syntax_test_util.hpp"
#include "transform/rule_context.hpp"
#include "transform/rules/physics/fence_rules.hpp"
#include "transform/rules/registry.hpp"
#include "transform_pipeline_support.hpp"

namespace quorvel::transform {
namespace {

using namespace syntax_test;
using syntax::ast::Node;
using syntax::ast::NodeId;
using testing::FAITHFUL;
using testing::parse_context;

// This family's rules, and nothing else.
std::vector<RuleKey> fence_keys() {
    std::vector<RuleKey> keys;
    physics_rules::for_each_fence_rule([&](const RewriteRule* rule) { keys.push_back(rule->meta().key); });
    return keys;
}

// A slot form that an exchange tree cannot carry (a Boolean outside a star
// slot, a star slot without one): set on the arena after the build.
struct Retype {
    std::size_t slot;
    sn::ArgumentKind kind;
};

struct Input {
    std::string source;              // parsed when not empty
    std::optional<SyntaxNode> tree;  // otherwise this exchange tree
    std::optional<Retype> retype;    // applied to the root's first child
};
Input src(std::string s) { return {std::move(s), std::nullopt, std::nullopt}; }
Input tree(SyntaxNode node) { return {"", std::move(node), std::nullopt}; }
Input retyped(SyntaxNode node, std::size_t slot, sn::ArgumentKind kind) {
    return {"", std::move(node), Retype{slot, std::move(kind)}};
}

syntax::document::Document document_of(const Input& input) {
    auto document = input.tree ? testing::tree_document(*input.tree) : testing::parse_document(parse_context(), input.source);
    if (input.retype) {
        syntax::Ast& ast = document.ast_mut();
        const NodeId command = ast.children(ast.root())[0];
        Node value = ast.node(command);
        value.args()->at(input.retype->slot)->kind = input.retype->kind;
        ast.replace_node(command, std::move(value));
    }
    return document;
}

testing::RunResult normalize(const Input& input, std::uint8_t mask = FAITHFUL) {
    const TransformContext engine = testing::make_engine(parse_context(), mask, RuleSelection::only(fence_keys()));
    auto document = document_of(input);
    return testing::run(engine, parse_context(), document.ast_mut(), engine.options);
}

std::string label(const Input& input) { return input.tree ? "(tree)" : input.source; }

struct Case {
    const char* what;
    Input input;
    std::string expected;
};

void check(const std::vector<Case>& cases, std::uint8_t mask = FAITHFUL) {
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ": " + label(c.input));
        const auto result = normalize(c.input, mask);
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(result.output, testing::strip_spacing(c.expected));
    }
}

std::optional<sn::Argument> braced(SyntaxNode node) { return math_slot(sn::ArgumentKind::Group{}, std::move(node)); }
sn::ArgumentKind pair(char32_t open, char32_t close) {
    return sn::ArgumentKind::Paired{sn::Delimiter::character(open), sn::Delimiter::character(close)};
}
std::optional<sn::Argument> paired(char32_t open, char32_t close, SyntaxNode node) {
    return math_slot(pair(open, close), std::move(node));
}
const std::optional<sn::Argument> none;
const std::optional<sn::Argument> unstarred = star_arg(false);
const std::optional<sn::Argument> starred = star_arg(true);

TEST(TransformPhysicsFences, BraKetThroughTheParser) {
    check({
        {"bra", src("\\bra{\\psi}"), "\\left\\langle\\psi\\right\\vert"},
        {"bra, starred", src("\\bra*{\\psi}"), "\\langle\\psi\\vert"},
        {"ket", src("\\ket{0}"), "\\left\\vert 0\\right\\rangle"},
        {"ket, starred", src("\\ket*{0}"), "\\vert 0\\rangle"},
        {"ket, starred, in a list", src("x\\ket*{a+b}y"), "x\\vert a+b\\rangle y"},
        {"braket", src("\\braket{a}{b}"), "\\left\\langle a\\middle\\vert b\\right\\rangle"},
        {"braket, one side stands for both", src("\\braket{a}"), "\\left\\langle a\\middle\\vert a\\right\\rangle"},
        {"braket, starred", src("\\braket*{a}{b}"), "\\langle a\\vert b\\rangle"},
        {"ev", src("\\ev{O}"), "\\left\\langle O\\right\\rangle"},
        {"ev, starred", src("\\ev*{O}"), "\\langle O\\rangle"},
        {"ev, two stars without a state", src("\\ev**{O}"), "\\langle O\\rangle"},
        {"ev with a state: split sizing", src("\\ev{O}{s}"),
         "\\left\\langle s\\right\\vert O\\left\\vert s\\right\\rangle"},
        {"ev with a state, starred", src("\\ev*{O}{s}"), "\\langle s\\vert O\\vert s\\rangle"},
        {"ev with a state, two stars", src("\\ev**{O}{s}"),
         "\\left\\langle s\\middle\\vert O\\middle\\vert s\\right\\rangle"},
        {"matrixel", src("\\matrixel{m}{A}{n}"), "\\left\\langle m\\right\\vert A\\left\\vert n\\right\\rangle"},
        {"matrixel, starred", src("\\matrixel*{m}{A}{n}"), "\\langle m\\vert A\\vert n\\rangle"},
        {"matrixel, two stars", src("\\matrixel**{m}{A}{n}"),
         "\\left\\langle m\\middle\\vert A\\middle\\vert n\\right\\rangle"},
        {"nested: the inner one is expanded too", src("\\bra{\\ket{0}}"),
         "\\left\\langle\\left\\vert 0\\right\\rangle\\right\\vert"},
        {"as an argument", src("\\frac{\\bra*{a}}{2}"), "\\frac{\\langle a\\vert}{2}"},
    });
}

TEST(TransformPhysicsFences, CommutatorsThroughTheParser) {
    check({
        {"comm", src("\\comm{A}{B}"), "\\left[A,B\\right]"},
        {"comm, starred", src("\\comm*{A}{B}"), "[A,B]"},
        {"pb", src("\\pb{f}{g}"), "\\left\\{f,g\\right\\}"},
        {"pb, starred", src("\\pb*{f}{g}"), "\\{f,g\\}"},
    });
}

TEST(TransformPhysicsFences, DelimiterShorthandsThroughTheParser) {
    check({
        {"pqty", src("\\pqty{x}"), "\\left(x\\right)"},
        {"pqty, starred", src("\\pqty*{x}"), "(x)"},
        {"bqty", src("\\bqty{x}"), "\\left[x\\right]"},
        {"bqty, starred", src("\\bqty*{x}"), "[x]"},
        {"Bqty", src("\\Bqty{x}"), "\\left\\{x\\right\\}"},
        {"Bqty, starred", src("\\Bqty*{x}"), "\\{x\\}"},
        {"abs", src("\\abs{x}"), "\\left|x\\right|"},
        {"abs, starred", src("\\abs*{x}"), "|x|"},
        {"norm", src("\\norm{v}"), "\\left\\|v\\right\\|"},
        {"norm, starred", src("\\norm*{v}"), "\\|v\\|"},
        {"nested", src("\\abs{\\pqty{x}}"), "\\left|\\left(x\\right)\\right|"},
    });
}

TEST(TransformPhysicsFences, EvalThroughTheParser) {
    check({
        {"braced", src("\\eval{x}_0^1"), "\\left.x\\vphantom{\\int}\\right|_{0}^{1}"},
        {"opened by a parenthesis", src("\\eval(x|_0^1"), "\\left(x\\vphantom{\\int}\\right|_{0}^{1}"},
        {"opened by a bracket", src("\\eval[x|"), "\\left[x\\vphantom{\\int}\\right|"},
        {"starred", src("\\eval*{x}"), "\\left.\\smash{x}\\vphantom{\\int}\\right|"},
        {"starred: the body stays whole", src("\\eval*(a+b|"), "\\left(\\smash{a+b}\\vphantom{\\int}\\right|"},
    });
}

// An implicit group contributes its children one by one, except as the body
// of `\smash`, which keeps it whole. The other passes are off, so the
// shapes are the rules' own.
TEST(TransformPhysicsFences, ContentShapes) {
    struct ShapeCase {
        const char* source;
        std::size_t root_children;
        std::size_t fence_children;  // of the first fence in pre-order
    };
    const ShapeCase cases[] = {
        {"\\ket*{a+b}", 5, 0},        {"\\ket{a+b}", 1, 3},          {"\\comm{A+1}{B}", 1, 5},
        {"\\comm*{A+1}{B}", 7, 0},    {"\\braket{a+b}", 1, 7},       {"\\ev{O}{a+b}", 3, 3},
        {"\\eval{a+b}", 1, 4},        {"\\eval*{a+b}", 1, 2},        {"\\pqty*{a+b}^2", 5, 0},
    };
    TransformOptions rules_only;
    rules_only.lower_attributes.enabled = false;
    rules_only.finalize_ast.enabled = false;
    rules_only.flatten_groups.enabled = false;
    const TransformContext engine = testing::make_engine(parse_context(), FAITHFUL, RuleSelection::only(fence_keys()));
    for (const ShapeCase& c : cases) {
        SCOPED_TRACE(c.source);
        auto document = testing::parse_document(parse_context(), c.source);
        const syntax::Ast& ast = document.ast();
        ASSERT_TRUE(engine.run_with(document.ast_mut(), parse_context(), rules_only));
        EXPECT_EQ(ast.children(ast.root()).size(), c.root_children);
        const auto fence = ast.find_impl(ast.root(), [](const Node& n) {
            const auto* g = n.get_if<Node::Group>();
            return g != nullptr && g->kind.as_delimited() != nullptr;
        });
        EXPECT_EQ(fence ? ast.children(*fence).size() : 0u, c.fence_children);
    }
}

// Scripts stay on a fence that takes the command's place; a starred sequence
// moves them to its last node; the split form becomes a group in a script
// base.
TEST(TransformPhysicsFences, Scripts) {
    check({
        {"fence keeps the scripts", src("\\pqty{x}^2"), "\\left(x\\right)^{2}"},
        {"starred: closing delimiter takes them", src("\\pqty*{x}^2"), "(x)^{2}"},
        {"starred, control-sequence delimiter", src("\\Bqty*{x}_1"), "\\{x\\}_{1}"},
        {"starred ev", src("\\ev*{O}^2"), "\\langle O\\rangle^{2}"},
        {"bra", src("\\bra{a}^2"), "\\left\\langle a\\right\\vert^{2}"},
        {"starred ket", src("a\\ket*{0}_i b"), "a\\vert 0\\rangle_{i}b"},
        {"split form as a script base", src("\\ev{O}{s}^2"),
         "{\\left\\langle s\\right\\vert O\\left\\vert s\\right\\rangle}^{2}"},
        {"split form as a group child", src("a\\matrixel{m}{A}{n}b"),
         "a\\left\\langle m\\right\\vert A\\left\\vert n\\right\\rangle b"},
        {"starred comm", src("\\comm*{A}{B}^\\dagger"), "[A,B]^{\\dagger}"},
        {"double-star matrixel keeps them", src("\\matrixel**{m}{A}{n}^2"),
         "\\left\\langle m\\middle\\vert A\\middle\\vert n\\right\\rangle^{2}"},
    });
}

// The level gate: the family is faithful, so authoring leaves it alone.
TEST(TransformPhysicsFences, WaitsForFaithful) {
    check({{"authoring", src("\\pqty{x}\\bra{a}\\comm{A}{B}\\eval{x}"),
            "\\pqty{x}\\bra{a}\\comm{A}{B}\\eval{x}"}},
          testing::AUTHORING);
}

// Slot shapes the parser does not make.
TEST(TransformPhysicsFences, BuiltTrees) {
    check({
        {"bra body in braced-group form", tree(root({command("bra", {unstarred, braced(ch(U'a'))})})),
         "\\left\\langle a\\right\\vert"},
        {"comm right operand in braced-group form",
         tree(root({command("comm", {starred, braced(ch(U'A')), braced(ch(U'B'))})})), "[A,B]"},
        {"matrixel second star in another form",
         retyped(root({command("matrixel", {unstarred, starred, math_arg(ch(U'm')), math_arg(ch(U'A')),
                                            math_arg(ch(U'n'))})}),
                 1, sn::ArgumentKind::Mandatory{}),
         "\\left\\langle m\\middle\\vert A\\middle\\vert n\\right\\rangle"},
        {"ev second star alone selects the middle bars",
         tree(root({command("ev", {unstarred, starred, math_arg(ch(U'O')), braced(ch(U's'))})})),
         "\\left\\langle s\\middle\\vert O\\middle\\vert s\\right\\rangle"},
        {"starred shorthand in an argument becomes a group",
         tree(root({command("sqrt", {none, math_arg(command("pqty", {starred, braced(ch(U'x'))}))})})),
         "\\sqrt{(x)}"},
        {"starred eval keeps an implicit body whole",
         tree(root({command("eval", {starred, paired(U'{', U'}', implicit_math({ch(U'a'), ch(U'b')}))})})),
         "\\left.\\smash{ab}\\vphantom{\\int}\\right|"},
    });
}

// Each malformed slot gives its own message, in slot order; the tree stays
// as it was.
TEST(TransformPhysicsFences, SlotShapeErrors) {
    struct ErrorCase {
        ErrorCase(SyntaxNode node, std::string text) : input(tree(std::move(node))), error(std::move(text)) {}
        ErrorCase(Input in, std::string text) : input(std::move(in)), error(std::move(text)) {}
        Input input;
        std::string error;
    };
    const auto mandatory = [] { return math_arg(ch(U'x')); };
    const auto optional = [] { return math_slot(sn::ArgumentKind::Optional{}, ch(U'x')); };
    const auto text_group = [] { return arg_slot(sn::ArgumentKind::Group{}, sn::ArgumentValue::TextContent{text("x")}); };
    const auto text_mandatory = [] { return text_arg(text("x")); };
    const ErrorCase cases[] = {
        // Slot counts.
        {root({command("ev", {starred, starred, mandatory()})}),
         "physics/expectation-expand: \\ev should carry exactly 4 explicit argument slots, got 3"},
        {root({command("matrixel", {starred, starred, mandatory(), mandatory()})}),
         "physics/matrixel-expand: \\matrixel should carry exactly 5 explicit argument slots, got 4"},
        {root({command("bra")}),
         "physics/physics-bra-expand: \\bra should carry exactly 2 explicit argument slots, got 0"},
        {root({command("ket", {starred, mandatory(), none})}),
         "physics/physics-ket-expand: \\ket should carry exactly 2 explicit argument slots, got 3"},
        {root({command("braket", {starred, mandatory()})}),
         "physics/physics-braket-expand: \\braket should carry exactly 3 explicit argument slots, got 2"},
        {root({command("comm", {starred, braced(ch(U'x'))})}),
         "physics/commutator-expand: \\comm should carry exactly 3 explicit argument slots, got 2"},
        {root({command("pb", {none, none, none, none})}),
         "physics/poisson-bracket-expand: \\pb should carry exactly 3 explicit argument slots, got 4"},
        {root({command("pqty", {braced(ch(U'x'))})}),
         "physics/pqty-to-paren-fence: \\pqty should carry exactly 2 explicit argument slots, got 1"},
        {root({command("Bqty")}),
         "physics/Bqty-to-brace-fence: \\Bqty should carry exactly 2 explicit argument slots, got 0"},
        {root({command("eval", {paired(U'{', U'}', ch(U'x'))})}),
         "physics/eval-expand: \\eval should carry exactly 2 explicit argument slots, got 1"},
        // Star slots.
        {root({command("bra", {none, mandatory()})}), "physics/physics-bra-expand: \\bra should carry a star slot"},
        {retyped(root({command("abs", {starred, braced(ch(U'x'))})}), 0, sn::ArgumentKind::Mandatory{}),
         "physics/abs-to-vert-fence: \\abs should carry a star slot"},
        {retyped(root({command("norm", {mandatory(), braced(ch(U'x'))})}), 0, sn::ArgumentKind::Star{}),
         "physics/norm-to-double-vert-fence: \\norm star slot should carry a boolean value"},
        {root({command("ev", {starred, none, mandatory(), none})}),
         "physics/expectation-expand: \\ev should carry a star slot"},
        {retyped(root({command("ev", {starred, mandatory(), mandatory(), none})}), 1, sn::ArgumentKind::Star{}),
         "physics/expectation-expand: \\ev star slot should carry a boolean value"},
        {root({command("matrixel", {starred, none, mandatory(), mandatory(), mandatory()})}),
         "physics/matrixel-expand: \\matrixel star slot should carry a boolean value"},
        {root({command("matrixel", {starred, mandatory(), mandatory(), mandatory(), mandatory()})}),
         "physics/matrixel-expand: \\matrixel star slot should carry a boolean value"},
        {root({command("eval", {mandatory(), paired(U'{', U'}', ch(U'x'))})}),
         "physics/eval-expand: \\eval should carry a star slot"},
        // Content slots.
        {root({command("ket", {starred, optional()})}),
         "physics/physics-ket-expand: \\ket body should be math content"},
        {root({command("ket", {starred, none})}), "physics/physics-ket-expand: \\ket body should be math content"},
        {root({command("bra", {starred, text_mandatory()})}),
         "physics/physics-bra-expand: \\bra body should be math content"},
        {root({command("ev", {starred, starred, optional(), none})}),
         "physics/expectation-expand: \\ev body should be math content"},
        {root({command("ev", {starred, starred, mandatory(), mandatory()})}),
         "physics/expectation-expand: \\ev optional state should be a braced group"},
        {root({command("ev", {starred, starred, mandatory(), text_group()})}),
         "physics/expectation-expand: \\ev optional state should be math content"},
        {root({command("braket", {starred, none, braced(ch(U'x'))})}),
         "physics/physics-braket-expand: \\braket left side should be math content"},
        {root({command("braket", {starred, mandatory(), optional()})}),
         "physics/physics-braket-expand: \\braket optional right side should be a braced group"},
        {root({command("braket", {starred, mandatory(), text_group()})}),
         "physics/physics-braket-expand: \\braket optional right side should be math content"},
        {root({command("matrixel", {starred, starred, optional(), mandatory(), mandatory()})}),
         "physics/matrixel-expand: \\matrixel left state should be math content"},
        {root({command("matrixel", {starred, starred, mandatory(), text_mandatory(), mandatory()})}),
         "physics/matrixel-expand: \\matrixel operator should be math content"},
        {root({command("matrixel", {starred, starred, mandatory(), mandatory(), none})}),
         "physics/matrixel-expand: \\matrixel right state should be math content"},
        {root({command("comm", {starred, mandatory(), mandatory()})}),
         "physics/commutator-expand: \\comm left operand should be a required braced math group"},
        {root({command("pb", {starred, text_group(), mandatory()})}),
         "physics/poisson-bracket-expand: \\pb left operand should be math content"},
        {root({command("pb", {starred, braced(ch(U'x')), optional()})}),
         "physics/poisson-bracket-expand: \\pb right operand should be math content"},
        {root({command("pqty", {starred, mandatory()})}),
         "physics/pqty-to-paren-fence: \\pqty body should be a required braced math group"},
        {root({command("bqty", {starred, none})}),
         "physics/bqty-to-bracket-fence: \\bqty body should be a required braced math group"},
        {root({command("abs", {starred, text_group()})}),
         "physics/abs-to-vert-fence: \\abs body should be math content"},
        {root({command("eval", {starred, arg_slot(pair(U'{', U'}'), sn::ArgumentValue::TextContent{text("x")})})}),
         "physics/eval-expand: \\eval braced eval body should be math content"},
        {root({command("eval", {unstarred, arg_slot(pair(U'[', U'|'), sn::ArgumentValue::Integer{"1"})})}),
         "physics/eval-expand: \\eval paired eval body should be math content"},
        // The first failing check wins.
        {root({command("comm", {none, mandatory(), none})}),
         "physics/commutator-expand: \\comm should carry a star slot"},
    };
    const TransformContext engine = testing::make_engine(parse_context(), FAITHFUL, RuleSelection::only(fence_keys()));
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.error);
        auto document = document_of(c.input);
        // Compared as exchange trees: a retyped slot has no written form.
        const SyntaxNode before = document.ast().to_syntax();
        auto report = engine.run_with_report(document.ast_mut(), parse_context(), engine.options);
        ASSERT_FALSE(report);
        EXPECT_EQ(report.error().to_string(), c.error);
        EXPECT_TRUE(document.ast().to_syntax() == before);
    }
}

// Shapes that are not the rule's: Skipped, and the tree is untouched.
TEST(TransformPhysicsFences, Declines) {
    struct DeclineCase {
        const RewriteRule* rule;
        SyntaxNode node;
    };
    const auto body = [] { return paired(U'{', U'}', ch(U'x')); };
    const DeclineCase cases[] = {
        {&physics_rules::PQTY_TO_PAREN_FENCE, ch(U'x')},
        {&physics_rules::PQTY_TO_PAREN_FENCE, command("Pqty", {starred, braced(ch(U'x'))})},
        {&physics_rules::PQTY_TO_PAREN_FENCE, command("bqty", {starred, braced(ch(U'x'))})},
        {&physics_rules::ABS_TO_VERT_FENCE, infix("abs", ch(U'a'), ch(U'b'))},
        {&physics_rules::PHYSICS_BRA_EXPAND, command("ket", {starred, math_arg(ch(U'x'))})},
        {&physics_rules::PHYSICS_KET_EXPAND, command("bra", {starred, math_arg(ch(U'x'))})},
        {&physics_rules::EXPECTATION_EXPAND, command("expval", {starred, starred, math_arg(ch(U'x')), none})},
        {&physics_rules::MATRIXEL_EXPAND, command("mel", {starred, starred, math_arg(ch(U'x')), math_arg(ch(U'x')),
                                                          math_arg(ch(U'x'))})},
        {&physics_rules::COMMUTATOR_EXPAND, SyntaxNode::Declarative{"comm", {}}},
        {&physics_rules::EVAL_EXPAND, command("evaluated", {starred, body()})},
        // \eval whose body slot is not a written pair.
        {&physics_rules::EVAL_EXPAND, command("eval", {starred, braced(ch(U'x'))})},
        {&physics_rules::EVAL_EXPAND, command("eval", {unstarred, none})},
        {&physics_rules::EVAL_EXPAND, command("eval", {unstarred, math_arg(ch(U'x'))})},
        // Pairs that are no evaluation fence, whatever the body holds.
        {&physics_rules::EVAL_EXPAND, command("eval", {unstarred, paired(U'(', U')', ch(U'x'))})},
        {&physics_rules::EVAL_EXPAND, command("eval", {unstarred, paired(U'[', U']', ch(U'x'))})},
        {&physics_rules::EVAL_EXPAND, command("eval", {unstarred, paired(U'{', U'|', ch(U'x'))})},
        {&physics_rules::EVAL_EXPAND, command("eval", {unstarred, paired(U'|', U'|', ch(U'x'))})},
        {&physics_rules::EVAL_EXPAND,
         command("eval", {unstarred, arg_slot(pair(U'(', U')'), sn::ArgumentValue::Integer{"1"})})},
        {&physics_rules::EVAL_EXPAND,
         command("eval", {unstarred, math_slot(sn::ArgumentKind::Paired{sn::Delimiter::control("{"),
                                                                        sn::Delimiter::control("}")},
                                               ch(U'x'))})},
        {&physics_rules::EVAL_EXPAND,
         command("eval", {unstarred, math_slot(sn::ArgumentKind::Delimited{sn::Delimiter::character(U'('),
                                                                           sn::Delimiter::character(U'|')},
                                               ch(U'x'))})},
    };
    for (const DeclineCase& c : cases) {
        auto document = testing::tree_document(root({c.node}));
        syntax::Ast& ast = document.ast_mut();
        const std::string before = testing::compact(ast);
        SCOPED_TRACE(to_string(c.rule->meta().key) + " on " + before);
        const std::size_t nodes = ast.node_count();
        RuleContext ctx{ast, *parse_context().math(), *parse_context().text()};
        const RuleResult result = c.rule->apply(ctx, ast.children(ast.root())[0]);
        ASSERT_TRUE(result) << result.error().text;
        EXPECT_EQ(result.value(), RuleOutcome::Skipped);
        EXPECT_EQ(testing::compact(ast), before);
        EXPECT_EQ(ast.node_count(), nodes);
    }
}

// A declined \eval stays in the tree: it has no fence to build, and the
// formula is valid.
TEST(TransformPhysicsFences, DeclinedEvalStays) {
    const auto result = normalize(tree(root({command("eval", {unstarred, paired(U'(', U')', ch(U'x'))})})));
    EXPECT_EQ(result.error, "");
    EXPECT_NE(result.output.find("eval"), std::string::npos) << result.output;
}

// Each rule applies once per command and the second pass finds nothing: the
// output holds none of the triggers, and no rule spins.
TEST(TransformPhysicsFences, ReportCounts) {
    const auto result = normalize(src("\\bra{a}\\ket*{b}\\braket{a}{b}\\ev{O}\\matrixel{m}{A}{n}\\comm{A}{B}\\pb*{f}{g}"
                                      "\\pqty{x}\\bqty{x}\\Bqty{x}\\abs{x}\\norm{x}\\eval{x}\\pqty{\\pqty{x}}"));
    ASSERT_EQ(result.error, "");
    // The inner \\pqty moves into the outer fence and is offered in the
    // same pass.
    EXPECT_EQ(result.report.rewrite.iterations, 2u);
    std::vector<std::string> applied;
    for (const RewriteRuleStat& stat : result.report.rewrite.rules)
        applied.push_back(to_string(stat.key) + " " + std::to_string(stat.applied));
    EXPECT_EQ(applied, (std::vector<std::string>{
                           "physics/physics-bra-expand 1", "physics/physics-ket-expand 1",
                           "physics/physics-braket-expand 1", "physics/expectation-expand 1",
                           "physics/matrixel-expand 1", "physics/commutator-expand 1",
                           "physics/poisson-bracket-expand 1", "physics/pqty-to-paren-fence 3",
                           "physics/bqty-to-bracket-fence 1", "physics/Bqty-to-brace-fence 1",
                           "physics/abs-to-vert-fence 1", "physics/norm-to-double-vert-fence 1",
                           "physics/eval-expand 1"}));
}

// Commands made through the document interface carry no slots: every rule
// fails on the slot count, never spins.
TEST(TransformPhysicsFences, DocumentMadeCommands) {
    for (const RuleKey& key : fence_keys()) {
        const RewriteRule* rule = nullptr;
        for (const RewriteRule* r : ALL_RULES)
            if (r->meta().key == key) rule = r;
        ASSERT_NE(rule, nullptr);
        const std::string name(rule->meta().triggers.front().name);
        SCOPED_TRACE(name);
        syntax::document::Document document;
        auto made = document.create_command(name, {});
        ASSERT_TRUE(made);
        ASSERT_TRUE(document.append_child(document.root(), *made));
        const TransformContext engine = testing::make_engine(parse_context(), FAITHFUL, RuleSelection::only({key}));
        auto report = engine.run_with_report(document.ast_mut(), parse_context(), engine.options);
        ASSERT_FALSE(report);
        EXPECT_NE(report.error().to_string().find("explicit argument slots, got 0"), std::string::npos)
            << report.error().to_string();
    }
}

// The content moves into the fence and what is left of the command's old
// arguments is freed: nothing is left detached.
TEST(TransformPhysicsFences, NoDetachedLeftovers) {
    for (const char* source : {"\\ev{a+b}{s}^2", "\\ket*{a+b}_1", "\\eval*{a+b}", "\\comm*{A}{B}^2"}) {
        SCOPED_TRACE(source);
        auto document = testing::parse_document(parse_context(), source);
        syntax::Ast& ast = document.ast_mut();
        const TransformContext engine = testing::make_engine(parse_context(), FAITHFUL, RuleSelection::only(fence_keys()));
        ASSERT_TRUE(engine.run_with(ast, parse_context(), engine.options));
        std::size_t detached = 0;
        ast.for_each_node([&](NodeId id, const Node&) { detached += ast.is_detached_root(id) ? 1 : 0; });
        EXPECT_EQ(detached, 0u);
    }
}

// Real formulas as the content of each kind of fence: every wrapped line
// that parses cleanly expands, and a second run finds nothing to change.
TEST(TransformPhysicsFences, CorpusLinesAsContent) {
    const auto corpus = testing::corpus_sample(100);
    if (!corpus) GTEST_SKIP() << "corpus not found at " << QUORVEL_CORPUS_DIR;
    const std::vector<std::string>& lines = *corpus;
    const TransformContext engine = testing::make_engine(parse_context(), FAITHFUL, RuleSelection::only(fence_keys()));
    const std::pair<const char*, const char*> wrappers[] = {
        {"\\abs*{", "}^2"}, {"\\ev{O}{", "}^2"}, {"\\eval*{", "}_0^1"}, {"\\matrixel{a}{", "}{b}"}};
    std::size_t expanded = 0;
    std::size_t failures = 0;
    for (const std::string& line : lines) {
        for (const auto& [open, close] : wrappers) {
            const std::string source = open + line + close;
            auto outcome = parse::parse_source(parse_context(), source, parse::ParseConfig{});
            if (!outcome.document || !outcome.diagnostics.empty() || outcome.document->read_only()) continue;
            syntax::Ast& ast = outcome.document->ast_mut();
            auto first = engine.run_with_report(ast, parse_context(), engine.options);
            auto second = first ? engine.run_with_report(ast, parse_context(), engine.options) : std::move(first);
            if (!second || second->rewrite.iterations != 1) {
                if (failures++ < 5)
                    ADD_FAILURE() << source << ": " << (second ? "not a fixed point" : second.error().to_string());
            }
            ++expanded;
        }
    }
    EXPECT_EQ(failures, 0u);
    EXPECT_GT(expanded, lines.size());
}

}  // namespace
}  // namespace quorvel::transform
