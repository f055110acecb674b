// The structural base rules through the whole pipeline: operator names,
// negation pairs, limit placement, stacked operators, the root family and the
// mathrel wrapper. Only these rules are planned, so the expectations do not
// move with the other rule families.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "facade/transform_engine.hpp"
#include "syntax_test_util.hpp"
#include "transform/rule_context.hpp"
#include "transform/rules/base/structure_rules.hpp"
#include "transform/rules/registry.hpp"
#include "transform_pipeline_support.hpp"

namespace quorvel::transform {
namespace {

using knowledge::PackageName;
using namespace syntax_test;
using syntax::ast::Node;
using syntax::ast::NodeId;
using testing::AUTHORING;
using testing::CORPUS;
using testing::FAITHFUL;
using testing::Input;
using testing::src;
using testing::tree;

constexpr const char* RULES[] = {
    "operatorname-to-named-function",
    "not-equals-to-neq",
    "not-exists-to-nexists",
    "not-in-to-notin",
    "not-right-arrow-to-nrightarrow",
    "limits-drop",
    "nolimits-drop",
    "buildrel-expand",
    "stackbin-expand",
    "stackrel-expand",
    "root-of-to-sqrt",
    "leftroot-drop",
    "uproot-drop",
    "duplicate-mathrel-wrapper-drop",
};

// Every other rule left out; a rule of the family whose packages are not
// active drops out of the plan silently, as in a profile's plan.
RuleSelection structure_rules() {
    std::vector<RuleKey> others;
    for (const RewriteRule* rule : ALL_RULES) {
        const RuleKey& key = rule->meta().key;
        bool ours = false;
        for (const char* name : RULES) ours = ours || (key.package == PackageName::Base && key.name == name);
        if (!ours) others.push_back(key);
    }
    return RuleSelection::except(std::move(others));
}

// The parse contexts the cases use, by name. Physics replaces `\sin`, `\Pr`,
// `\det` and `\exp` by its own commands, so most cases leave it out.
enum class Setup { BaseAms, BaseOnly, AllPackages, SinRemoved, OwnOperatorname, OwnLimits };

std::shared_ptr<const parse::ParseContext> build_context(Setup setup) {
    parse::ParseContextBuilder builder;
    auto own = [&](std::string name, std::string argspec) {
        builder.item(parse::ContextItem::command(parse::CommandItem{std::move(name), std::move(argspec), {}, 0,
                                                                    knowledge::AllowedMode::Math}));
    };
    switch (setup) {
        case Setup::BaseAms: builder.packages({"base", "ams"}); break;
        case Setup::BaseOnly: builder.packages({"base"}); break;
        case Setup::AllPackages:
            builder.packages({"base", "ams", "physics", "textmacros", "bboldx", "boldsymbol"});
            break;
        case Setup::SinRemoved:
            builder.packages({"base", "ams"});
            builder.remove_command("sin");
            break;
        case Setup::OwnOperatorname:
            builder.packages({"base", "ams"});
            own("operatorname", "s m:O");
            break;
        case Setup::OwnLimits:
            builder.packages({"base", "ams"});
            own("limits", "");
            break;
    }
    return std::move(builder.build()).value();
}

const parse::ParseContext& context(Setup setup) {
    static std::map<Setup, std::shared_ptr<const parse::ParseContext>> contexts;
    auto& slot = contexts[setup];
    if (!slot) slot = build_context(setup);
    return *slot;
}

enum class Expect { Output, Same, Error, Violation };

struct Case {
    const char* about;
    Input input;
    std::uint8_t mask;
    std::string expected;  // the output, or the error text
    Setup setup = Setup::BaseAms;
    Expect expect = Expect::Output;
};

syntax::document::Document document_of(const Case& c) {
    return testing::document_of(c.input, context(c.setup));
}

testing::RunResult normalize(const Case& c, RuleSelection selection = structure_rules()) {
    const parse::ParseContext& ctx = context(c.setup);
    const TransformContext engine = testing::make_engine(ctx, c.mask, std::move(selection));
    auto document = document_of(c);
    return testing::run(engine, ctx, document.ast_mut(), TransformOptions{});
}

void check_case(const Case& c) {
    const testing::RunResult result = normalize(c);
    switch (c.expect) {
        case Expect::Output:
            EXPECT_EQ(result.error, "");
            EXPECT_EQ(result.output, testing::strip_spacing(c.expected));
            break;
        case Expect::Same:
            // What the other passes make of the input without any rule.
            EXPECT_EQ(result.error, "");
            EXPECT_EQ(result.output, normalize(c, RuleSelection::only({})).output);
            break;
        case Expect::Error:
            // A failing rule leaves the tree as it was.
            EXPECT_EQ(result.error, c.expected);
            EXPECT_EQ(result.output, testing::strip_spacing(testing::compact(document_of(c).ast())));
            break;
        case Expect::Violation:
            // Found after the later passes, which have changed the tree.
            EXPECT_EQ(result.error, c.expected);
            break;
    }
}

void check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.about) + ": " + (c.input.tree ? "(tree)" : c.input.source));
        try {
            check_case(c);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
    }
}

// A case the rules leave alone: its output is what the other passes make of it.
Case stays(const char* about, std::string source, std::uint8_t mask, Setup setup = Setup::BaseAms) {
    return {about, src(std::move(source)), mask, "", setup, Expect::Same};
}

Case fails(const char* about, Input input, std::uint8_t mask, std::string error) {
    return {about, std::move(input), mask, std::move(error), Setup::BaseAms, Expect::Error};
}
// A target the rules left in place.
Case violates(const char* about, Input input, std::uint8_t mask, std::string error) {
    return {about, std::move(input), mask, std::move(error), Setup::BaseAms, Expect::Violation};
}

Case fails(const char* about, SyntaxNode input, std::uint8_t mask, std::string error) {
    return fails(about, tree(std::move(input)), mask, std::move(error));
}

std::optional<sn::Argument> optional_math(SyntaxNode node) {
    return arg_slot(sn::ArgumentKind::Optional{}, sn::ArgumentValue::MathContent{std::move(node)});
}
SyntaxNode name_chars(std::string_view name) {
    std::vector<SyntaxNode> out;
    for (char c : name) out.push_back(ch(static_cast<char32_t>(c)));
    return implicit_math(std::move(out));
}
SyntaxNode operatorname(SyntaxNode::ArgumentSlots args) { return command("operatorname", std::move(args)); }
SyntaxNode buildrel(char32_t above) { return command("buildrel", {math_arg(ch(above))}); }

constexpr const char* BUILDREL_LEFT = "rewrite contract violated for command `buildrel` (node Some(\"buildrel\"))";

TEST(TransformStructure, OperatorNames) {
    check({
        {"unstarred function", src("\\operatorname{sin} x"), AUTHORING, "\\sin x"},
        {"starred operator keeps its scripts", src("\\operatorname*{lim}_{n}"), AUTHORING, "\\lim_{n}"},
        {"longest name", src("\\operatorname{arccos}"), AUTHORING, "\\arccos"},
        {"starred before limits", src("\\operatorname*{max}\\limits"), AUTHORING, "\\max\\limits"},
        stays("unstarred before limits", "\\operatorname{sin}\\limits", AUTHORING),
        stays("unstarred before scripted limits", "\\operatorname{sin}\\limits_{x}", AUTHORING),
        stays("capital letter", "\\operatorname{Sin}", AUTHORING),
        stays("a command inside", "\\operatorname{\\sin}", AUTHORING),
        // Flattening makes the name plain text: the rule acts in the same
        // normalisation.
        {"an explicit group inside", src("\\operatorname{{sin}}"), AUTHORING, "\\sin"},
        stays("not in the tables", "\\operatorname{argmax}", AUTHORING),
        stays("operator in unstarred form", "\\operatorname{lim}", AUTHORING),
        stays("function in starred form", "\\operatorname*{sin}", AUTHORING),
        stays("target removed from the context", "\\operatorname{sin}", AUTHORING, Setup::SinRemoved),
        stays("the caller's own operatorname", "\\operatorname{sin}", AUTHORING, Setup::OwnOperatorname),
        stays("physics owns sin", "\\operatorname{sin}", AUTHORING, Setup::AllPackages),
        {"physics leaves lim to base", src("\\operatorname*{lim}"), AUTHORING, "\\lim", Setup::AllPackages},
        {"one character is no name", tree(root({operatorname({star_arg(false), opname_arg(ch(U'g'))})})), AUTHORING,
         "\\operatorname{g}"},
        {"non-ASCII character",
         tree(root({operatorname({star_arg(false), opname_arg(implicit_math({ch(U's'), ch(U'\u00ef'), ch(U'n')}))})})),
         AUTHORING,
         "\\operatorname{s\u00efn}"},
        {"name from a built tree", tree(root({operatorname({star_arg(true), opname_arg(name_chars("sup"))})})),
         AUTHORING, "\\sup"},
    });
}

TEST(TransformStructure, NegationPairs) {
    check({
        {"equals", src("a \\not= b"), AUTHORING, "a\\neq b"},
        {"exists", src("\\not\\exists x"), AUTHORING, "\\nexists x"},
        {"to", src("\\not\\to"), AUTHORING, "\\nrightarrow"},
        {"rightarrow", src("\\not\\rightarrow"), AUTHORING, "\\nrightarrow"},
        {"in", src("x\\not\\in A"), AUTHORING, "x\\notin A"},
        {"the element sign as a character", src("\\not\u2208"), AUTHORING, "\\notin"},
        {"the exists sign as a character", src("\\not\u2203"), AUTHORING, "\\nexists"},
        {"two pairs in one pass", src("\\not=\\not\\in"), AUTHORING, "\\neq\\notin"},
        stays("explicit group after not", "\\not{=}", AUTHORING),
        stays("not last in its group", "x\\not", AUTHORING),
        stays("another relation", "\\not\\subset", AUTHORING),
        stays("second atom with scripts", "\\not=_x", AUTHORING),
        stays("not with scripts", "\\not_x=", AUTHORING),
        stays("without ams there is no nexists", "\\not\\exists", AUTHORING, Setup::BaseOnly),
        {"without ams the base pairs work", src("\\not\\in\\not="), AUTHORING, "\\notin\\neq", Setup::BaseOnly},
        {"an unknown second command", tree(root({command("not"), command("in", {}, false)})), AUTHORING, "\\not\\in"},
        {"a second command with slots", tree(root({command("not"), command("in", {math_arg(ch(U'x'))})})),
         AUTHORING, "\\not\\in{x}"},
        {"not with slots", tree(root({command("not", {math_arg(ch(U'x'))}), ch(U'=')})), AUTHORING, "\\not{x}="},
    });
}

TEST(TransformStructure, LimitPlacement) {
    check({
        {"sum keeps its scripts", src("\\sum\\limits_{i=1}^{n} a_i"), CORPUS, "\\sum_{i=1}^{n}a_{i}"},
        {"int without limits", src("\\int\\nolimits_0^1"), CORPUS, "\\int_{0}^{1}"},
        {"named operator", src("\\lim\\limits_{x\\to0}"), CORPUS, "\\lim_{x\\to0}"},
        {"unscripted modifier", src("\\sum\\limits x"), CORPUS, "\\sum x"},
        {"starred operatorname", src("\\operatorname*{argmax}\\limits_x"), CORPUS, "\\operatorname*{argmax}_{x}"},
        {"mathop", src("\\mathop{T}\\limits_x"), CORPUS, "\\mathop{T}_{x}"},
        {"ams big operator", src("\\iiiint\\limits^a"), CORPUS, "\\iiiint^{a}"},
        {"ams named operator", src("\\varliminf\\limits"), CORPUS, "\\varliminf"},
        {"base det", src("\\det\\limits_A"), CORPUS, "\\det_{A}"},
        {"inside an argument's list", src("\\sqrt{\\sum\\limits_i}"), CORPUS, "\\sqrt{\\sum_{i}}"},
        stays("unstarred operatorname", "\\operatorname{argmax}\\limits_x", CORPUS),
        stays("operator already scripted", "\\sum_{i}\\limits^{n}", CORPUS),
        stays("not an operator", "x\\limits", CORPUS),
        stays("first in its group", "\\limits_x", CORPUS),
        stays("a modifier as an argument", "\\sqrt\\limits", CORPUS),
        stays("the level is corpus", "\\sum\\limits_i", FAITHFUL),
        stays("physics owns det", "\\det\\limits", CORPUS, Setup::AllPackages),
        stays("the caller's own limits", "\\sum\\limits", CORPUS, Setup::OwnLimits),
        {"without ams no ams operator", tree(root({command("varliminf"), command("limits")})), CORPUS,
         "\\varliminf\\limits", Setup::BaseOnly},
        {"a modifier with slots", tree(root({command("sum"), command("limits", {math_arg(ch(U'x'))})})), CORPUS,
         "\\sum\\limits{x}"},
    });
}

TEST(TransformStructure, StackedOperators) {
    check({
        {"stackrel", src("\\stackrel{!}{=}"), FAITHFUL, "\\mathrel{\\mathop{=}\\limits^{!}}"},
        {"stackbin", src("\\stackbin{*}{=}"), FAITHFUL, "\\mathbin{\\mathop{=}\\limits^{*}}"},
        {"stackrel keeps whole arguments", src("a\\stackrel{x+y}{\\longrightarrow}b"), FAITHFUL,
         "a\\mathrel{\\mathop{\\longrightarrow}\\limits^{x+y}}b"},
        {"buildrel", src("a \\buildrel \\alpha \\over = b"), FAITHFUL, "a\\mathrel{\\mathop{\\mspace{0mu}=}\\limits^{\\alpha}}b"},
        {"buildrel takes the rest of the numerator", src("\\buildrel x y \\over \\longrightarrow"), FAITHFUL,
         "\\mathrel{\\mathop{\\mspace{0mu}\\longrightarrow}\\limits^{xy}}"},
        {"buildrel keeps what follows the relation", src("\\buildrel def \\over = x"), FAITHFUL,
         "\\mathrel{\\mathop{\\mspace{0mu}=}\\limits^{def}}x"},
        {"buildrel with scripts", src("a\\buildrel x^2 \\over ="), FAITHFUL, "a\\mathrel{\\mathop{\\mspace{0mu}=}\\limits^{x^{2}}}"},
        {"buildrel inside braces, which flattening removes", src("a{b\\buildrel x \\over =}c"), FAITHFUL,
         "ab\\mathrel{\\mathop{\\mspace{0mu}=}\\limits^{x}}c"},
        // The parser reports a `\\buildrel` without its `\\over`; built trees
        // still offer the rule one whose `\\over` became `\\frac`.
        {"buildrel in a frac numerator",
         tree(root({command("frac", {math_arg(implicit_math({ch(U'a'), buildrel(U'x'), ch(U'y')})),
                                     math_arg(implicit_math({ch(U'='), ch(U'z')}))})})),
         FAITHFUL, "a\\mathrel{\\mathop{\\mspace{0mu}=}\\limits^{xy}}z"},
        {"buildrel alone in a frac numerator list",
         tree(root({command("frac", {math_arg(implicit_math({buildrel(U'x')})), math_arg(ch(U'='))})})), FAITHFUL,
         "\\mathrel{\\mathop{\\mspace{0mu}=}\\limits^{x}}"},
        {"buildrel as the whole numerator",
         tree(root({command("frac", {math_arg(buildrel(U'x')), math_arg(ch(U'='))})})), FAITHFUL,
         "\\mathrel{\\mathop{\\mspace{0mu}=}\\limits^{x}}"},
        {"scripted buildrel as the whole numerator",
         tree(root({command("frac",
                            {math_arg(scripted(buildrel(U'x'), ch(U'1'), std::nullopt)), math_arg(ch(U'='))})})),
         FAITHFUL, "\\mathrel{\\mathop{\\mspace{0mu}=}\\limits^{x_{1}}}"},
        // What the rule declines stays, and the contract check then fails the run.
        violates("buildrel without over", tree(root({buildrel(U'x'), ch(U'=')})), FAITHFUL, BUILDREL_LEFT),
        violates("buildrel over another infix",
                 tree(root({math({infix("atop", implicit_math({ch(U'a'), buildrel(U'x')}), ch(U'='))})})), FAITHFUL,
                 BUILDREL_LEFT),
        violates("buildrel in the denominator",
                 tree(root({command("frac", {math_arg(ch(U'=')), math_arg(buildrel(U'x'))})})), FAITHFUL,
                 BUILDREL_LEFT),
        // The parser makes the `\buildrel` (or its scripts) the left operand itself.
        {"buildrel as the whole left operand", src("\\buildrel \\alpha \\over \\rightarrow"), FAITHFUL,
         "\\mathrel{\\mathop{\\mspace{0mu}\\rightarrow}\\limits^{\\alpha}}"},
        {"whole left operand, something after the relation", src("\\buildrel a \\over b c"), FAITHFUL,
         "\\mathrel{\\mathop{\\mspace{0mu}b}\\limits^{a}}c"},
        {"whole left operand with scripts", src("\\buildrel\\alpha^2\\over="), FAITHFUL,
         "\\mathrel{\\mathop{\\mspace{0mu}=}\\limits^{\\alpha^{2}}}"},
        // The braces make an ordinary atom of the relation: they stay.
        {"whole left operand in braces", src("x{\\buildrel x \\over =}y"), FAITHFUL,
         "x{\\mathrel{\\mathop{\\mspace{0mu}=}\\limits^{x}}}y"},
        // Flattening makes the `\\buildrel` the whole left operand, which
        // the rules then expand in the same normalisation.
        {"an explicit numerator list", tree(root({infix("over", math({buildrel(U'x')}), ch(U'='))})), FAITHFUL,
         "\\mathrel{\\mathop{\\mspace{0mu}=}\\limits^{x}}"},
        stays("the level is faithful", "\\stackrel{!}{=}", AUTHORING),
        violates("an infix named stackrel", tree(root({infix("stackrel", ch(U'a'), ch(U'b'))})), FAITHFUL,
              "rewrite contract violated for command `stackrel` (node Some(\"stackrel\"))"),
    });
}

// A `\buildrel` that is the whole left operand under every rule of a
// profile: `over-to-frac` leaves the `\over` to `buildrel-expand`, which
// authoring does not plan, so there both stay as written.
TEST(TransformStructure, BuildrelAsTheWholeLeftOperandAtEachProfile) {
    using facade::EngineProfile;
    struct ProfileCase {
        const char* source;
        EngineProfile profile;
        std::string expected;  // parsed and written with the default options
    };
    const ProfileCase cases[] = {
        {"\\buildrel \\alpha \\over \\rightarrow", EngineProfile::Faithful, "\\mathrel{\\mathop{\\mspace{0mu}\\to}\\limits^{\\alpha}}"},
        {"\\buildrel a \\over b c", EngineProfile::Faithful, "\\mathrel{\\mathop{\\mspace{0mu}b}\\limits^{a}} c"},
        {"\\buildrel\\alpha^2\\over=", EngineProfile::Faithful, "\\mathrel{\\mathop{\\mspace{0mu}=}\\limits^{\\alpha^{2}}}"},
        {"{\\buildrel x \\over =}", EngineProfile::Faithful, "{\\mathrel{\\mathop{\\mspace{0mu}=}\\limits^{x}}}"},
        {"\\buildrel a \\over b \\buildrel c \\over d", EngineProfile::Faithful,
         "\\mathrel{\\mathop{\\mspace{0mu}b}\\limits^{a}} \\mathrel{\\mathop{\\mspace{0mu}d}\\limits^{c}}"},
        {"\\buildrel \\alpha \\over \\rightarrow", EngineProfile::Corpus, "\\mathrel{\\mathop{\\mspace{0mu}\\to}^{\\alpha}}"},
        {"\\buildrel a \\over b c", EngineProfile::Corpus, "\\mathrel{\\mathop{\\mspace{0mu}b}^{a}} c"},
        {"\\buildrel\\alpha^2\\over=", EngineProfile::Corpus, "\\mathrel{\\mathop{\\mspace{0mu}=}^{\\alpha^{2}}}"},
        {"{\\buildrel x \\over =}", EngineProfile::Corpus, "\\mathrel{\\mathop{\\mspace{0mu}=}^{x}}"},
        {"\\buildrel a \\over b \\buildrel c \\over d", EngineProfile::Corpus,
         "\\mathrel{\\mathop{\\mspace{0mu}b}^{a}} \\mathrel{\\mathop{\\mspace{0mu}d}^{c}}"},
        {"\\buildrel \\alpha \\over \\rightarrow", EngineProfile::Equiv, "\\mathrel{\\mathop{\\mspace{0mu}\\to}^{\\alpha}}"},
        {"\\buildrel a \\over b c", EngineProfile::Equiv, "\\mathrel{\\mathop{\\mspace{0mu}b}^{a}} c"},
        {"\\buildrel\\alpha^2\\over=", EngineProfile::Equiv, "\\mathrel{\\mathop{\\mspace{0mu}=}^{\\alpha^{2}}}"},
        {"{\\buildrel x \\over =}", EngineProfile::Equiv, "\\mathrel{\\mathop{\\mspace{0mu}=}^{x}}"},
        {"\\buildrel a \\over b \\buildrel c \\over d", EngineProfile::Equiv,
         "\\mathrel{\\mathop{\\mspace{0mu}b}^{a}} \\mathrel{\\mathop{\\mspace{0mu}d}^{c}}"},
        {"\\buildrel \\alpha \\over \\rightarrow", EngineProfile::Authoring, "\\buildrel{\\alpha}\\over\\rightarrow"},
        {"\\buildrel a \\over b c", EngineProfile::Authoring, "\\buildrel{a}\\over b c"},
        {"\\buildrel\\alpha^2\\over=", EngineProfile::Authoring, "\\buildrel{\\alpha}^{2}\\over="},
        {"{\\buildrel x \\over =}", EngineProfile::Authoring, "{\\buildrel{x}\\over=}"},
        {"\\buildrel a \\over b \\buildrel c \\over d", EngineProfile::Authoring,
         "\\buildrel{a}\\over b \\buildrel{c}\\over d"},
    };
    for (const ProfileCase& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " at profile " + std::to_string(static_cast<int>(c.profile)));
        facade::TransformEngineBuilder builder;
        builder.profile(c.profile);
        const facade::TransformEngine engine = std::move(builder.build()).value();
        const auto normalized = engine.normalize_with(c.source, engine.default_normalize_config());
        ASSERT_TRUE(normalized) << normalized.error().message();
        auto expected = engine.parse_complete(c.expected, engine.parser().default_parse_config());
        ASSERT_TRUE(expected) << expected.error().message();
        EXPECT_EQ(*normalized, syntax::serialize::serialize_with(expected->ast(), syntax::SerializeOptions{}).value());
    }
}

TEST(TransformStructure, RootFamily) {
    check({
        {"root of", src("\\root 3\\of x"), AUTHORING, "\\sqrt[3]{x}"},
        {"longer degree and a group radicand", src("\\root n+1\\of {x+y}"), AUTHORING, "\\sqrt[n+1]{x+y}"},
        {"the radicand is one node", src("a\\root 3\\of xy"), AUTHORING, "a\\sqrt[3]{x}y"},
        {"two roots", src("\\root 3\\of x\\root 4\\of y"), AUTHORING, "\\sqrt[3]{x}\\sqrt[4]{y}"},
        {"uproot in a list", src("\\sqrt[\\uproot{2}3]{x}"), CORPUS, "\\sqrt[3]{x}"},
        {"uproot as the whole degree", src("\\sqrt[\\uproot{2}]{x}"), CORPUS, "\\sqrt[]{x}"},
        {"leftroot in a list", src("\\sqrt[\\leftroot{2}n]{x}"), CORPUS, "\\sqrt[n]{x}"},
        {"hint as a script", tree(root({scripted(ch(U'x'), std::nullopt, command("uproot", {math_arg(ch(U'1'))}))})),
         CORPUS, "x^{}"},
        stays("the hints wait for corpus", "\\sqrt[\\uproot{2}3]{x}", FAITHFUL),
    });
}

TEST(TransformStructure, MathrelWrapper) {
    check({
        {"nested pair", src("\\mathrel{\\mathrel{=}}"), AUTHORING, "\\mathrel{=}"},
        {"three wrappers", src("a\\mathrel{\\mathrel{\\mathrel{=}}}b"), AUTHORING, "a\\mathrel{=}b"},
        {"inner content kept whole", src("\\mathrel{\\mathrel{x+y}}"), AUTHORING, "\\mathrel{x+y}"},
        stays("two inner wrappers", "\\mathrel{\\mathrel{=}\\mathrel{-}}", AUTHORING),
        stays("explicit inner group", "\\mathrel{{\\mathrel{=}}}", AUTHORING),
        stays("a single wrapper", "\\mathrel{=}", AUTHORING),
        stays("another class inside", "\\mathrel{\\mathbin{=}}", AUTHORING),
    });
}

TEST(TransformStructure, SlotShapeErrors) {
    const auto star = star_arg(false);
    const auto name = opname_arg(name_chars("sin"));
    const auto x = math_arg(ch(U'x'));
    const auto of = command("of");
    check({
        fails("operatorname slot count", root({operatorname({name})}), AUTHORING,
              "base/operatorname-to-named-function: \\operatorname should carry exactly 2 explicit argument slots, "
              "got 1"),
        fails("operatorname without star slot", root({operatorname({std::nullopt, name})}), AUTHORING,
              "base/operatorname-to-named-function: \\operatorname should carry a star slot"),
        fails("operatorname star slot of another form", root({operatorname({math_arg(ch(U'x')), name})}), AUTHORING,
              "base/operatorname-to-named-function: \\operatorname should carry a star slot"),
        fails("operatorname without name", root({operatorname({star, std::nullopt})}), AUTHORING,
              "base/operatorname-to-named-function: \\operatorname should carry a mandatory operator-name argument"),
        fails("operatorname optional name",
              root({operatorname({star, arg_slot(sn::ArgumentKind::Optional{},
                                             sn::ArgumentValue::OperatorNameContent{name_chars("sin")})})}),
              AUTHORING,
              "base/operatorname-to-named-function: \\operatorname operator name should be a mandatory argument"),
        fails("operatorname math name", root({operatorname({star, math_arg(name_chars("sin"))})}), AUTHORING,
              "base/operatorname-to-named-function: \\operatorname operator name should be operator-name content"),

        fails("root slot count", root({command("root"), of, ch(U'x')}), AUTHORING,
              "base/root-of-to-sqrt: \\root should carry exactly 1 explicit argument slots, got 0"),
        fails("root optional degree", root({command("root", {optional_math(ch(U'3'))}), of, ch(U'x')}), AUTHORING,
              "base/root-of-to-sqrt: \\root degree should be a mandatory math argument"),
        fails("root text degree", root({command("root", {text_arg(text("3"))}), of, ch(U'x')}), AUTHORING,
              "base/root-of-to-sqrt: \\root degree should be math content"),
        fails("root as an argument", root({command("sqrt", {math_arg(command("root", {x}))})}), AUTHORING,
              "base/root-of-to-sqrt: \\root should appear as math-list content"),
        fails("root without of", root({command("root", {x}), ch(U'y')}), AUTHORING,
              "base/root-of-to-sqrt: \\root should be followed by \\of"),
        fails("of with slots", root({command("root", {x}), command("of", {x}), ch(U'y')}), AUTHORING,
              "base/root-of-to-sqrt: \\of should carry exactly 0 explicit argument slots, got 1"),
        fails("of last", root({command("root", {x}), of}), AUTHORING,
              "base/root-of-to-sqrt: \\of should be followed by a radicand"),
        fails("uproot slot count", root({command("uproot")}), CORPUS,
              "base/uproot-drop: \\uproot should carry exactly 1 explicit argument slots, got 0"),
        fails("leftroot slot count", root({command("leftroot", {x, x})}), CORPUS,
              "base/leftroot-drop: \\leftroot should carry exactly 1 explicit argument slots, got 2"),

        fails("stackrel slot count", root({command("stackrel", {x})}), FAITHFUL,
              "base/stackrel-expand: \\stackrel should carry exactly 2 explicit argument slots, got 1"),
        fails("stackbin slot count", root({command("stackbin", {x, x, x})}), FAITHFUL,
              "base/stackbin-expand: \\stackbin should carry exactly 2 explicit argument slots, got 3"),
        fails("stackrel optional above", root({command("stackrel", {optional_math(ch(U'!')), x})}), FAITHFUL,
              "base/stackrel-expand: \\stackrel above should be a mandatory math argument"),
        fails("stackbin empty operator", root({command("stackbin", {x, std::nullopt})}), FAITHFUL,
              "base/stackbin-expand: \\stackbin operator should be a mandatory math argument"),
        fails("stackrel text operator", root({command("stackrel", {x, text_arg(text("="))})}), FAITHFUL,
              "base/stackrel-expand: \\stackrel operator should be math content"),
        fails("buildrel slot count", root({command("buildrel")}), FAITHFUL,
              "base/buildrel-expand: \\buildrel should carry exactly 1 explicit argument slots, got 0"),
        fails("buildrel text above", root({command("buildrel", {text_arg(text("a"))})}), FAITHFUL,
              "base/buildrel-expand: \\buildrel above should be math content"),
        fails("over with slots", root({infix("over", implicit_math({command("buildrel", {x})}), ch(U'='), {x})}), FAITHFUL,
              "base/buildrel-expand: \\over should carry exactly 0 explicit argument slots, got 1"),
        fails("over with slots above a whole left operand", root({infix("over", command("buildrel", {x}), ch(U'='), {x})}),
              FAITHFUL, "base/buildrel-expand: \\over should carry exactly 0 explicit argument slots, got 1"),
        fails("frac slot count", root({command("frac", {math_arg(implicit_math({command("buildrel", {x})})), x, x})}),
              FAITHFUL, "base/buildrel-expand: \\frac should carry exactly 2 explicit argument slots, got 3"),
        fails("frac text denominator",
              root({command("frac", {math_arg(command("buildrel", {x})), text_arg(text("="))})}), FAITHFUL,
              "base/buildrel-expand: \\frac denominator should be math content"),

        fails("mathrel slot count", root({command("mathrel")}), AUTHORING,
              "base/duplicate-mathrel-wrapper-drop: \\mathrel should carry exactly 1 explicit argument slots, got 0"),
        fails("mathrel text content", root({command("mathrel", {text_arg(text("="))})}), AUTHORING,
              "base/duplicate-mathrel-wrapper-drop: \\mathrel content should be math content"),
        fails("inner mathrel slot count", root({command("mathrel", {math_arg(command("mathrel"))})}), AUTHORING,
              "base/duplicate-mathrel-wrapper-drop: \\mathrel should carry exactly 1 explicit argument slots, got 0"),
        fails("inner mathrel optional content",
              root({command("mathrel", {math_arg(command("mathrel", {optional_math(ch(U'='))}))})}), AUTHORING,
              "base/duplicate-mathrel-wrapper-drop: \\mathrel content should be a mandatory math argument"),
    });
}

// A star slot holding anything but a boolean passes no tree validation; a
// tree built directly can still hold one.
TEST(TransformStructure, StarSlotWithoutBoolean) {
    const parse::ParseContext& ctx = context(Setup::BaseAms);
    syntax::Ast ast = syntax::Ast::with_root_mode(ContentMode::Math);
    std::vector<NodeId> letters;
    for (char32_t c : {U's', U'i', U'n'}) letters.push_back(ast.new_node(Node::Char{c}));
    const NodeId name = ast.implicit_math_group(letters);
    syntax::ast::ArgumentSlots args;
    args.emplace_back(syntax::ast::Argument{sn::ArgumentKind::Star{}, false, syntax::ast::ArgumentValue::Integer{"1"}});
    args.emplace_back(syntax::ast::Argument{sn::ArgumentKind::Mandatory{}, false,
                                            syntax::ast::ArgumentValue::OperatorNameContent{name}});
    const NodeId node = ast.new_node(Node::Command{"operatorname", std::move(args), true});
    ast.append_child(ast.root(), node);
    RuleContext rule_ctx{ast, *ctx.math(), *ctx.text()};
    const RuleResult result = base_rules::OPERATORNAME_TO_NAMED_FUNCTION.apply(rule_ctx, node);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().text, "\\operatorname star slot should carry a boolean value");
}

// Applied counts once per changed node and pass; a confirming pass follows
// the last change.
TEST(TransformStructure, ReportCounts) {
    struct ReportCase {
        std::string source;
        std::uint8_t mask;
        std::uint64_t iterations;
        std::vector<RewriteRuleStat> rules;
    };
    const ReportCase cases[] = {
        // The innermost wrapper moves up and is offered in the first pass
        // too, where it declines.
        {"\\mathrel{\\mathrel{\\mathrel{=}}}", AUTHORING, 3,
         {{2, 2, {"duplicate-mathrel-wrapper-drop", PackageName::Base}}}},
        // Each rule of the family declines a lone `\not` once per pass.
        {"\\not\\subset", AUTHORING, 1,
         {{0, 1, {"not-equals-to-neq", PackageName::Base}},
          {0, 1, {"not-exists-to-nexists", PackageName::Base}},
          {0, 1, {"not-in-to-notin", PackageName::Base}},
          {0, 1, {"not-right-arrow-to-nrightarrow", PackageName::Base}}}},
        {"\\sum\\limits_i x\\limits", CORPUS, 2, {{1, 2, {"limits-drop", PackageName::Base}}}},
    };
    for (const ReportCase& c : cases) {
        SCOPED_TRACE(c.source);
        const testing::RunResult result = normalize(Case{"report", src(c.source), c.mask, ""});
        ASSERT_EQ(result.error, "");
        EXPECT_EQ(result.report.rewrite.iterations, c.iterations);
        EXPECT_EQ(result.report.rewrite.rules, c.rules);
    }
}

// A rule offered a node of another kind or name declines without touching
// the tree.
TEST(TransformStructure, RulesDeclineOtherNodes) {
    const parse::ParseContext& ctx = context(Setup::BaseAms);
    struct Offer {
        const RewriteRule* rule;
        SyntaxNode node;
    };
    const Offer offers[] = {
        {&base_rules::OPERATORNAME_TO_NAMED_FUNCTION, infix("operatorname", ch(U'a'), ch(U'b'))},
        {&base_rules::NOT_IN_TO_NOTIN, SyntaxNode::Declarative{"not", {}}},
        {&base_rules::LIMITS_DROP, command("nolimits")},
        {&base_rules::NOLIMITS_DROP, command("limits")},
        {&base_rules::BUILDREL_EXPAND, infix("buildrel", ch(U'a'), ch(U'b'))},
        {&base_rules::STACKREL_EXPAND, command("stackbin", {math_arg(ch(U'a')), math_arg(ch(U'b'))})},
        {&base_rules::ROOT_OF_TO_SQRT, command("sqrt", {math_arg(ch(U'a'))})},
        {&base_rules::UPROOT_DROP, command("leftroot", {math_arg(ch(U'1'))})},
        {&base_rules::DUPLICATE_MATHREL_WRAPPER_DROP, command("mathbin", {math_arg(command("mathbin"))})},
    };
    for (const Offer& offer : offers) {
        SCOPED_TRACE(to_string(offer.rule->meta().key));
        auto document = testing::tree_document(root({ch(U'x'), offer.node}));
        syntax::Ast& ast = document.ast_mut();
        const NodeId target = ast.children(ast.root())[1];
        const std::string before = testing::compact(ast);
        const std::size_t nodes = ast.node_count();
        RuleContext rule_ctx{ast, *ctx.math(), *ctx.text()};
        const RuleResult result = offer.rule->apply(rule_ctx, target);
        ASSERT_TRUE(result);
        EXPECT_EQ(result.value(), RuleOutcome::Skipped);
        EXPECT_EQ(testing::compact(ast), before);
        EXPECT_EQ(ast.node_count(), nodes);  // nothing built on the way
    }
}

// Declines that pass every check but the last allocate nothing either: the
// position of a `\buildrel` is found before anything moves.
TEST(TransformStructure, LateDeclinesBuildNothing) {
    const parse::ParseContext& ctx = context(Setup::BaseAms);
    // The parser reports a `\\buildrel` without its `\\over`: built.
    const SyntaxNode scripted_buildrel = root(
        {scripted(command("buildrel", {math_arg(implicit_math({ch(U'x'), ch(U'y')}))}), std::nullopt, ch(U'2')),
         ch(U'=')});
    const std::pair<const RewriteRule*, std::variant<std::string, SyntaxNode>> offers[] = {
        {&base_rules::BUILDREL_EXPAND, scripted_buildrel},
        {&base_rules::LIMITS_DROP, "\\sum_i\\limits_x"},
        {&base_rules::OPERATORNAME_TO_NAMED_FUNCTION, "\\operatorname{sin}\\limits"},
    };
    for (const auto& [rule, input] : offers) {
        const auto* source = std::get_if<std::string>(&input);
        SCOPED_TRACE(source != nullptr ? *source : "(tree)");
        auto document = source != nullptr ? testing::parse_document(ctx, *source)
                                          : testing::tree_document(std::get<SyntaxNode>(input));
        syntax::Ast& ast = document.ast_mut();
        const std::string_view trigger = rule->meta().triggers[0].name;
        const auto target = ast.find_impl(ast.root(), [&](const Node& n) {
            return n.is<Node::Command>() && *n.name() == trigger;
        });
        ASSERT_TRUE(target);
        const std::size_t nodes = ast.node_count();
        RuleContext rule_ctx{ast, *ctx.math(), *ctx.text()};
        const RuleResult result = rule->apply(rule_ctx, *target);
        ASSERT_TRUE(result);
        EXPECT_EQ(result.value(), RuleOutcome::Skipped);
        EXPECT_EQ(ast.node_count(), nodes);
    }
}

// Real formulas with these rules' triggers normalise with every built rule,
// and the result is a fixed point.
TEST(TransformStructure, CorpusFormulas) {
    const auto corpus = testing::corpus_lines_with({"\\operatorname", "\\not", "limits", "\\stack", "\\buildrel",
                                                    "\\root", "\\uproot", "\\leftroot", "\\mathrel"});
    if (!corpus) GTEST_SKIP() << "corpus not found at " << QUORVEL_CORPUS_DIR;
    const std::vector<std::string>& lines = *corpus;
    const auto& ctx = context(Setup::AllPackages);
    std::uint64_t applied = 0;  // by this family's rules
    for (std::uint8_t mask : {FAITHFUL, testing::EQUIV}) {
        const TransformContext engine = testing::make_engine(ctx, mask);
        for (const std::string& line : lines) {
            auto outcome = parse::parse_source(ctx, line, parse::ParseConfig{});
            if (!outcome.document || outcome.document->read_only()) continue;
            syntax::Ast& ast = outcome.document->ast_mut();
            auto first = engine.run_with_report(ast, ctx, engine.options);
            ASSERT_TRUE(first) << line << ": " << first.error().to_string();
            auto second = engine.run_with_report(ast, ctx, engine.options);
            ASSERT_TRUE(second) << line << ": " << second.error().to_string();
            EXPECT_EQ(second->rewrite.iterations, 1u) << line;
            for (const RewriteRuleStat& stat : first->rewrite.rules)
                for (const char* name : RULES)
                    if (stat.key == RuleKey{name, PackageName::Base}) applied += stat.applied;
        }
    }
    EXPECT_GT(applied, 0u);
}

}  // namespace
}  // namespace quorvel::transform
