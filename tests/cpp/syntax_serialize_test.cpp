#include <gtest/gtest.h>

#include "syntax/document.hpp"
#include "syntax/serializer.hpp"
#include "syntax_test_util.hpp"

namespace {

using namespace syntax_test;
using sx::SerializeOptions;
using sx::document::Document;

SyntaxNode implicit(std::vector<SyntaxNode> children, ContentMode mode = ContentMode::Math) {
    return group(mode, std::move(children), sn::GroupKind::Implicit{});
}
SyntaxNode text_group(std::vector<SyntaxNode> children) {
    return group(ContentMode::Text, std::move(children));
}
SyntaxNode delimited(sn::Delimiter l, sn::Delimiter r, std::vector<SyntaxNode> children) {
    return group(ContentMode::Math, std::move(children), sn::GroupKind::Delimited{std::move(l), std::move(r)});
}
SyntaxNode inline_math(std::vector<SyntaxNode> children) {
    return group(ContentMode::Math, std::move(children), sn::GroupKind::InlineMath{});
}
sn::Delimiter dch(char32_t c) { return sn::Delimiter::character(c); }
std::optional<sn::Argument> arg(sn::ArgumentKind kind, sn::ArgumentValue value, bool nls = false) {
    return sn::Argument{std::move(kind), nls, std::move(value)};
}
std::optional<sn::Argument> nls_math_arg(SyntaxNode node) {
    auto a = math_arg(std::move(node));
    a->no_leading_space = true;
    return a;
}
SyntaxNode sub(SyntaxNode base, SyntaxNode s) { return scripted(std::move(base), std::move(s), std::nullopt); }
SyntaxNode sup(SyntaxNode base, SyntaxNode s) { return scripted(std::move(base), std::nullopt, std::move(s)); }
SyntaxNode error(std::string snippet) { return SyntaxNode::Error{"bad", std::move(snippet)}; }
SyntaxNode text_root(std::vector<SyntaxNode> children) { return root(std::move(children), ContentMode::Text); }

SerializeOptions compact_all() {
    SerializeOptions o;
    o.command_spacing = sx::CommandSpacing::Minimal;
    o.group_inner_spacing = sx::MathGroupInnerSpacing::Compact;
    o.adjacent_char_spacing = sx::AdjacentCharSpacing::Compact;
    o.script_spacing = sx::ScriptSpacing::Compact;
    o.environment_name_spacing = sx::EnvironmentNameSpacing::Compact;
    return o;
}

template <class F>
SerializeOptions with(F&& f) {
    SerializeOptions o;
    f(o);
    return o;
}

struct Case {
    const char* name;
    SyntaxNode tree;
    SerializeOptions options;
    std::string expected;
};

// Serializes one table row both ways: the tokenized walk must write the
// same bytes as the plain one.
void check_cases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto doc = Document::from_syntax_unchecked(c.tree);
        ASSERT_TRUE(doc.has_value());
        auto plain = doc->to_latex_with(c.options);
        ASSERT_TRUE(plain.has_value());
        EXPECT_EQ(*plain, c.expected);
        auto tokens = doc->to_tokenized_latex_with(c.options);
        ASSERT_TRUE(tokens.has_value());
        EXPECT_EQ(tokens->text, *plain);
    }
}

TEST(SerializeOptions, Defaults) {
    SerializeOptions o;
    EXPECT_EQ(sx::option_value_name(o.command_spacing), "spaced");
    EXPECT_EQ(sx::option_value_name(o.group_inner_spacing), "padded");
    EXPECT_EQ(sx::option_value_name(o.script_order), "sub_first");
    EXPECT_EQ(sx::option_value_name(o.infix_grouping), "when_required");
    EXPECT_EQ(sx::option_value_from_name<sx::InfixGrouping>("always_explicit"),
              sx::InfixGrouping::AlwaysExplicit);
    EXPECT_FALSE(sx::option_value_from_name<sx::ScriptOrder>("Sub_first").has_value());
}

TEST(Serialize, Scripts) {
    auto x_i_2_on = [](SyntaxNode base) { return scripted(std::move(base), ch(U'i'), ch(U'2')); };
    auto x_i_2 = [&] { return x_i_2_on(ch(U'x')); };
    auto script_compact = with([](auto& o) {
        o.script_spacing = sx::ScriptSpacing::Compact;
        o.group_inner_spacing = sx::MathGroupInnerSpacing::Compact;
    });
    auto sup_first = script_compact;
    sup_first.script_order = sx::ScriptOrder::SupFirst;
    check_cases({
        {"subscript", root({sub(ch(U'x'), ch(U'i'))}), {}, "x _ { i }"},
        {"subscript compact", root({sub(ch(U'x'), ch(U'i'))}), script_compact, "x_{i}"},
        {"both scripts", root({x_i_2()}), {}, "x _ { i } ^ { 2 }"},
        {"both scripts sup first", root({x_i_2()}), sup_first, "x^{2}_{i}"},
        {"prime superscript", root({sup(ch(U'x'), prime(1))}), {}, "x'"},
        {"prime superscript after subscript", root({scripted(ch(U'x'), ch(U'i'), prime(2))}), {},
         "x _ { i }''"},
        {"prime superscript first", root({scripted(ch(U'x'), ch(U'i'), prime(1))}), sup_first, "x'_{i}"},
        {"script content group braced once", root({sub(ch(U'x'), math({ch(U'a'), ch(U'b')}))}),
         script_compact, "x_{a b}"},
        {"empty script group padded", root({sub(ch(U'x'), math({}))}), {}, "x _ { }"},
        {"script after control word", root({sub(command("alpha"), ch(U'i'))}), {}, "\\alpha _ { i }"},
        {"implicit base keeps its braces", root({sub(implicit({}), ch(U'i'))}), {}, "{ } _ { i }"},
        // Bare, a scripted base would give its scripts to the node above.
        {"scripted base braced", root({sub(sup(ch(U'K'), prime(1)), ch(U'l'))}), {}, "{ K' } _ { l }"},
        {"scripted base braced compact", root({sup(sub(ch(U'x'), ch(U'a')), ch(U'b'))}), script_compact,
         "{x_{a}}^{b}"},
        {"primes after a braced prime base", root({ch(U'x'), sup(sub(prime(1), ch(U'a')), ch(U'b'))}), {},
         "x { ' _ { a } } ^ { b }"},
        // A row end is never read as a base: its scripts go on an empty
        // group after it, as they read back.
        {"scripted row end", root({ch(U'a'), sup(command("\\", {star_arg(false), std::nullopt}), ch(U'2'))}), {},
         "a \\\\ { } ^ { 2 }"},
        {"scripted row end compact", root({sub(command("\\", {star_arg(true), dim_arg("2pt")}), ch(U'i'))}),
         script_compact, "\\\\* [2pt] {}_{i}"},
        {"scripted cr", root({x_i_2_on(command("cr"))}), {}, "\\cr { } _ { i } ^ { 2 }"},
    });
}

TEST(Serialize, Primes) {
    check_cases({
        {"after a char", root({ch(U'x'), prime(2)}), {}, "x''"},
        {"after a digit", root({ch(U'1'), prime(1)}), {}, "1'"},
        // Primes after an item read back as its superscript, written glued.
        {"after a brace", root({math({ch(U'x')}), prime(1)}), {}, "{ x }'"},
        {"after math shift", text_root({inline_math({prime(1)})}), {}, "$ '$"},
        {"after a command", root({command("alpha"), prime(1)}), {}, "\\alpha'"},
        {"prime base after a command", root({command("alpha"), sub(prime(1), ch(U'i'))}), {}, "\\alpha' _ { i }"},
        {"first in a group after a command", root({command("alpha"), math({prime(1)})}), {}, "\\alpha { ' }"},
    });
}

// A merged superscript (`x'^2` read) keeps its primes on the base and writes
// the rest as the operand of a `^` glued to them; braces around the primes
// would raise them twice.
TEST(Serialize, MergedSuperscripts) {
    auto sup_first = with([](auto& o) { o.script_order = sx::ScriptOrder::SupFirst; });
    check_cases({
        {"prime and one atom", root({sup(ch(U'f'), implicit({prime(1), ch(U'2')}))}), {}, "f'^ { 2 }"},
        {"compact", root({sup(ch(U'f'), implicit({prime(2), ch(U'2')}))}), compact_all(), "f''^{2}"},
        {"braced operand braced once", root({sup(ch(U'f'), implicit({prime(1), math({ch(U'2')})}))}), {},
         "f'^ { 2 }"},
        {"several atoms share one pair", root({sup(ch(U'f'), implicit({prime(1), ch(U'a'), ch(U'b')}))}), {},
         "f'^ { a b }"},
        {"primes only", root({sup(ch(U'f'), implicit({prime(1), prime(1)}))}), {}, "f''"},
        {"after the subscript", root({scripted(ch(U'x'), ch(U'1'), implicit({prime(1), ch(U'2')}))}), {},
         "x _ { 1 }'^ { 2 }"},
        {"before the subscript", root({scripted(ch(U'x'), ch(U'1'), implicit({prime(1), ch(U'2')}))}), sup_first,
         "x'^ { 2 } _ { 1 }"},
        // Not merged: the superscript's own braces hold the prime.
        {"explicit group", root({sup(ch(U'f'), math({prime(1), ch(U'2')}))}), {}, "f ^ { ' 2 }"},
    });
}

TEST(Serialize, CharsAndEscapes) {
    auto compact_chars = with([](auto& o) { o.adjacent_char_spacing = sx::AdjacentCharSpacing::Compact; });
    check_cases({
        {"digits never separated", root({ch(U'1'), ch(U'2')}), {}, "12"},
        {"letter then digit spaced", root({ch(U'x'), ch(U'2')}), {}, "x 2"},
        {"letter then digit compact", root({ch(U'x'), ch(U'2')}), compact_chars, "x2"},
        {"digit then letter compact", root({ch(U'2'), ch(U'x')}), compact_chars, "2x"},
        {"digit then letter spaced", root({ch(U'2'), ch(U'x')}), {}, "2 x"},
        {"ampersand in math", root({ch(U'&')}), {}, "&"},
        {"ampersand in text", text_root({ch(U'&')}), {}, "\\&"},
        // The character `\&` is the command `&`; the character `&` is the
        // cell separator, which bears no scripts in TeX: bearing them, it is
        // written as a scripted row end is, its scripts on an empty group.
        {"escaped ampersand and separator", root({ch(U'a'), command("&"), ch(U'b'), ch(U'&'), ch(U'c')}), {},
         "a \\& b & c"},
        {"escaped ampersand bearing a script", root({sup(command("&"), ch(U'2')), ch(U'x')}), compact_all(),
         "\\&^{2} x"},
        {"separator bearing a script", root({sup(ch(U'&'), ch(U'2'))}), {}, "& { } ^ { 2 }"},
        // Written in text mode, operator names are read as math.
        {"separator in an operator name", root({command("operatorname", {opname_arg(implicit({ch(U'a'), ch(U'&'), ch(U'b')}))})}),
         {}, "\\operatorname {a&b}"},
        {"percent in math", root({ch(U'%')}), {}, "\\%"},
        {"percent in text", text_root({ch(U'%')}), {}, "\\%"},
        {"math escapes", root({ch(U'#'), ch(U'$'), ch(U'_'), ch(U'{'), ch(U'}')}), compact_chars,
         "\\#\\$\\_\\{\\}"},
        // A backslash that stands for itself is followed by a line break, not
        // a space (a control space) or the next token (a control sequence).
        {"raw specials", root({ch(U'\\'), ch(U'^'), ch(U'~')}), compact_chars, "\\\n^~"},
        {"lone backslash in a script", root({sup(ch(U'x'), ch(U'\\'))}), {}, "x ^ { \\\n}"},
        {"lone backslash in a text run", text_root({text("a\\ b\\"), ch(U'c')}), {}, "a\\\nb\\\nc"},
        {"escaped backslash in a text run", text_root({text("a\\\\ b")}), {}, "a\\\\ b"},
        // At the end of the text it reads back as itself, and stays last.
        {"lone backslash ending math", root({ch(U'x'), ch(U'\\')}), {}, "x \\"},
        {"lone backslash ending a text run", text_root({text("a\\")}), {}, "a\\"},
        {"error snippet ending in a backslash", root({error("{a\\"), ch(U'x')}), {}, "{a\\\nx"},
        {"text chars unspaced", text_root({ch(U'a'), ch(U'b'), ch(U'1')}), {}, "ab1"},
        {"non-ASCII", root({ch(U'\u03b1'), ch(U'x')}), {}, "\u03b1 x"},
        {"alpha then letter math", root({command("alpha"), ch(U'x')}), {}, "\\alpha x"},
        {"alpha then letter text", text_root({command("alpha"), ch(U'x')}), {}, "\\alpha x"},
        {"alpha then digit", root({command("alpha"), ch(U'2')}), compact_all(), "\\alpha 2"},
        {"active space", root({ch(U'a'), SyntaxNode::ActiveSpace{}, ch(U'b')}), {}, "a ~ b"},
        {"text node after command", text_root({command("bf"), text("ab c")}), {}, "\\bf ab c"},
        {"error snippet", root({ch(U'x'), error("\\bad{")}), {}, "x \\bad{"},
        {"empty text still spaced", root({ch(U'x'), text(""), ch(U'y')}), {}, "x  y"},
    });
}

// TeX skips no space after a control symbol: in text, one written there
// would read back as content. Math, operator names included, keeps its
// spaces, which do not show.
TEST(Serialize, ControlSymbolsInText) {
    auto in_text = [](std::vector<SyntaxNode> children) {
        return root({command("text", {text_arg(text_group(std::move(children)))})});
    };
    check_cases({
        {"thin space before a letter", in_text({text("a"), command(","), text("b")}), {}, "\\text {a\\,b}"},
        {"control space", in_text({text("a"), command(" "), text("b")}), {}, "\\text {a\\ b}"},
        {"line break", in_text({text("a"), command("\\"), text("b")}), {}, "\\text {a\\\\b}"},
        {"italic correction", in_text({command("/"), text("b")}), {}, "\\text {\\/b}"},
        {"text keeps its own space", in_text({command(";"), text(" b")}), {}, "\\text {\\; b}"},
        {"character", in_text({command("-"), ch(U'&')}), {}, "\\text {\\-\\&}"},
        {"escaped ampersand", in_text({text("a"), command("&"), text("b")}), {}, "\\text {a\\&b}"},
        {"control word still spaced", in_text({command("quad"), text("b")}), {}, "\\text {\\quad b}"},
        {"single text argument", root({command("mbox", {text_arg(command(","))}), ch(U'x')}), {}, "\\mbox {\\,} x"},
        {"text root", text_root({command(":"), text("b")}), {}, "\\:b"},
        {"math", root({ch(U'a'), command(","), ch(U'b'), command(";"), ch(U'2')}), {}, "a \\, b \\; 2"},
        {"operator name", root({command("operatorname", {opname_arg(implicit({ch(U'a'), command(","), ch(U'b')}))})}),
         {}, "\\operatorname {a\\, b}"},
    });
}

TEST(Serialize, Groups) {
    auto compact = with([](auto& o) { o.group_inner_spacing = sx::MathGroupInnerSpacing::Compact; });
    auto minimal = with([](auto& o) { o.command_spacing = sx::CommandSpacing::Minimal; });
    check_cases({
        {"empty math group padded", root({math({})}), {}, "{ }"},
        {"empty math group compact", root({math({})}), compact, "{}"},
        {"empty text group", root({text_group({})}), {}, "{}"},
        {"math group padded", root({math({ch(U'a'), ch(U'b')})}), {}, "{ a b }"},
        {"math group compact", root({ch(U'x'), math({ch(U'a')})}), compact, "x {a}"},
        {"implicit group braced by its own arm", root({implicit({ch(U'a')})}), {}, "{ a }"},
        {"text group in text", text_root({ch(U'a'), text_group({ch(U'b')}), ch(U'c')}), {}, "a{b}c"},
        {"inline math", text_root({text("ab"), inline_math({ch(U'x')}), text("c")}), {}, "ab$x$c"},
        {"left right spaced", root({delimited(dch(U'('), dch(U')'), {ch(U'x')})}), {},
         "\\left ( x \\right )"},
        {"left right minimal", root({delimited(dch(U'('), dch(U')'), {ch(U'x')})}), minimal,
         "\\left( x \\right)"},
        {"none delimiter", root({delimited(sn::Delimiter::none(), sn::Delimiter::control("}"), {ch(U'x')})}),
         minimal, "\\left. x \\right\\}"},
        {"environment", root({environment("matrix", implicit({ch(U'a'), ch(U'&'), ch(U'b')}))}), {},
         "\\begin {matrix} a & b \\end {matrix}"},
        {"environment compact name",
         root({environment("matrix", implicit({ch(U'a'), ch(U'&'), ch(U'b')}))}),
         with([](auto& o) { o.environment_name_spacing = sx::EnvironmentNameSpacing::Compact; }),
         "\\begin{matrix} a & b \\end{matrix}"},
        {"environment explicit body is written as its items", root({environment("x", math({ch(U'a')}))}), {},
         "\\begin {x} a \\end {x}"},
        {"environment in text", text_root({environment("x", implicit({ch(U'a')}, ContentMode::Text))}),
         {}, "\\begin {x}a\\end {x}"},
        {"environment arguments",
         root({environment("array", implicit({ch(U'a')}),
                           {arg(sn::ArgumentKind::Mandatory{}, sn::ArgumentValue::Column{"cc"})})}),
         {}, "\\begin {array} {cc} a \\end {array}"},
    });
}

TEST(Serialize, CommandArguments) {
    auto frac = [](bool nls) {
        return root({command("frac", {math_arg(ch(U'a')), nls ? nls_math_arg(ch(U'b')) : math_arg(ch(U'b'))})});
    };
    auto minimal_compact = with([](auto& o) {
        o.command_spacing = sx::CommandSpacing::Minimal;
        o.group_inner_spacing = sx::MathGroupInnerSpacing::Compact;
    });
    auto minimal = with([](auto& o) { o.command_spacing = sx::CommandSpacing::Minimal; });
    auto dl = [](sn::ArgumentKind kind) {
        return root({command("big", {arg(std::move(kind), sn::ArgumentValue::Delimiter{dch(U'(')})})});
    };
    auto delimited_kind = [] { return sn::ArgumentKind::Delimited{dch(U'<'), dch(U'>')}; };
    check_cases({
        {"frac", frac(false), {}, "\\frac { a } { b }"},
        {"frac minimal compact", frac(false), minimal_compact, "\\frac{a} {b}"},
        {"frac no leading space", frac(true), minimal_compact, "\\frac{a}{b}"},
        {"explicit group content braced once", root({command("sqrt", {math_arg(math({ch(U'x')}))})}),
         minimal_compact, "\\sqrt{x}"},
        {"empty content padded", root({command("f", {math_arg(math({}))})}), {}, "\\f { }"},
        {"empty content compact", root({command("f", {math_arg(math({}))})}), minimal_compact, "\\f{}"},
        {"text argument", root({command("text", {text_arg(text_group({text("ab c")}))})}), {},
         "\\text {ab c}"},
        {"text argument after letters", root({command("text", {text_arg(text_group({ch(U'a'), ch(U'b')}))})}),
         {}, "\\text {ab}"},
        {"text command in text mode", text_root({command("textbf", {text_arg(text("x")), text_arg(text("y"))})}),
         {}, "\\textbf{x}{y}"},
        {"operator name", root({command("operatorname", {opname_arg(implicit({ch(U's'), ch(U'i'), ch(U'n')}))})}),
         {}, "\\operatorname {sin}"},
        {"optional operator name", root({command("f", {arg(sn::ArgumentKind::Optional{},
                                                           sn::ArgumentValue::OperatorNameContent{ch(U'x')})})}),
         minimal, "\\f[x]"},
        {"optional math content", root({command("sqrt", {arg(sn::ArgumentKind::Optional{},
                                                             sn::ArgumentValue::MathContent{ch(U'3')}),
                                                         math_arg(ch(U'x'))})}),
         {}, "\\sqrt [ 3 ] { x }"},
        {"optional scalar", root({command("rule", {dim_arg("2pt")})}), {}, "\\rule [2pt]"},
        {"optional scalar minimal", root({command("rule", {dim_arg("2pt"), dim_arg("")})}), minimal,
         "\\rule[2pt] []"},
        {"empty optional slot", root({command("sqrt", {std::nullopt, math_arg(ch(U'x'))})}), minimal,
         "\\sqrt{ x }"},
        {"bare delimiter", dl(sn::ArgumentKind::Mandatory{}), {}, "\\big ("},
        {"bare delimiter minimal", dl(sn::ArgumentKind::Mandatory{}), minimal, "\\big("},
        {"delimiter in optional slot", dl(sn::ArgumentKind::Optional{}), {}, "\\big [(]"},
        {"delimiter in group slot", dl(sn::ArgumentKind::Group{}), {}, "\\big {(}"},
        {"control delimiter scalar", root({command("f", {arg(sn::ArgumentKind::Group{},
                                                             sn::ArgumentValue::Delimiter{sn::Delimiter::control("langle")})})}),
         minimal, "\\f{\\langle}"},
        {"delimited math content", root({command("f", {arg(delimited_kind(), sn::ArgumentValue::MathContent{implicit({ch(U'x')})})})}),
         {}, "\\f < x >"},
        {"delimited empty content", root({command("f", {arg(delimited_kind(), sn::ArgumentValue::MathContent{implicit({})})})}),
         {}, "\\f < >"},
        {"paired text content", root({command("f", {arg(sn::ArgumentKind::Paired{dch(U'('), dch(U')')},
                                                        sn::ArgumentValue::TextContent{text("ab")})})}),
         {}, "\\f(ab)"},
        {"delimited operator name", root({command("f", {arg(delimited_kind(), sn::ArgumentValue::OperatorNameContent{implicit({ch(U'a')})})})}),
         {}, "\\f <a>"},
        {"delimited scalar", root({command("f", {arg(delimited_kind(), sn::ArgumentValue::CSName{"foo"})})}),
         {}, "\\f < foo >"},
        {"star glued", root({command("foo", {star_arg(true), math_arg(ch(U'a'))})}), {}, "\\foo* { a }"},
        {"star glued minimal", root({command("foo", {star_arg(true), math_arg(ch(U'a'))})}), minimal,
         "\\foo*{ a }"},
        {"false star", root({command("foo", {star_arg(false), math_arg(ch(U'a'))})}), minimal, "\\foo{ a }"},
        {"star then letter", root({command("foo", {star_arg(true)}), ch(U'x')}), {}, "\\foo* x"},
        {"declarative", root({SyntaxNode::Declarative{"bf", {}}, ch(U'x')}), {}, "\\bf x"},
    });
}

// An item of a bracket argument whose text holds a `]` outside braces would
// end the argument: it is written in braces. Braces of its own, a script or
// a braced argument already hide the `]`.
TEST(Serialize, BracketArgumentItemsThatWouldEndIt) {
    auto sqrt_of = [](SyntaxNode index) {
        return root({command("sqrt", {math_slot(sn::ArgumentKind::Optional{}, std::move(index)),
                                      math_arg(implicit({ch(U'x')}))})});
    };
    auto optional = [](SyntaxNode content) { return math_slot(sn::ArgumentKind::Optional{}, std::move(content)); };
    auto bar = [](sn::Delimiter open, sn::Delimiter close, SyntaxNode body) {
        return command("qty", {arg(sn::ArgumentKind::Paired{std::move(open), std::move(close)},
                                   sn::ArgumentValue::MathContent{std::move(body)})});
    };
    std::vector<Case> cases;
    auto add = [&](const char* name, SyntaxNode index, const char* expected) {
        cases.push_back({name, sqrt_of(std::move(index)), {}, expected});
    };
    add("a bracket among the items", implicit({ch(U'a'), ch(U']'), ch(U'b')}), "\\sqrt [ a { ] } b ] { x }");
    add("the content itself", ch(U']'), "\\sqrt [ { ] } ] { x }");
    add("an explicit group as content", math({ch(U']')}), "\\sqrt [ { ] } ] { x }");
    add("a script base", implicit({sup(ch(U']'), ch(U'2'))}), "\\sqrt [ { ] ^ { 2 } } ] { x }");
    add("a delimiter of a delimited group", implicit({delimited(dch(U'['), dch(U']'), {ch(U'a')})}),
        "\\sqrt [ { \\left [ a \\right ] } ] { x }");
    add("inside a delimited group", implicit({delimited(dch(U'('), dch(U')'), {ch(U']')})}),
        "\\sqrt [ { \\left ( ] \\right ) } ] { x }");
    add("an optional argument", implicit({command("sqrt", {optional(implicit({ch(U'3')})), math_arg(implicit({}))})}),
        "\\sqrt [ { \\sqrt [ 3 ] { } } ] { x }");
    add("a paired argument", implicit({bar(dch(U'['), dch(U']'), implicit({ch(U'a')}))}),
        "\\sqrt [ { \\qty [ a ] } ] { x }");
    add("inside a paired argument", implicit({bar(dch(U'('), dch(U')'), implicit({ch(U']')}))}),
        "\\sqrt [ { \\qty ( ] ) } ] { x }");
    add("a bare delimiter", implicit({command("big", {mandatory_arg(sn::ArgumentValue::Delimiter{dch(U']')})})}),
        "\\sqrt [ { \\big ] } ] { x }");
    add("an infix operand", implicit({infix("over", implicit({ch(U']')}), implicit({ch(U'b')}))}),
        "\\sqrt [ { ] \\over b } ] { x }");
    add("in braces already", implicit({math({ch(U']')})}), "\\sqrt [ { ] } ] { x }");
    add("in a script", implicit({sub(ch(U'a'), ch(U']'))}), "\\sqrt [ a _ { ] } ] { x }");
    add("in a braced argument", implicit({command("frac", {math_arg(implicit({ch(U']')})), math_arg(implicit({}))})}),
        "\\sqrt [ \\frac { ] } { } ] { x }");
    add("an opening bracket", implicit({ch(U'['), ch(U'a')}), "\\sqrt [ [ a ] { x }");
    cases.push_back({"text", root({command("f", {arg(sn::ArgumentKind::Optional{},
                                                     sn::ArgumentValue::TextContent{text_group({text("a]b")})})})}),
                     {}, "\\f [{a]b}]"});
    cases.push_back({"compact", sqrt_of(implicit({ch(U'a'), ch(U']')})), compact_all(), "\\sqrt[a {]}] {x}"});
    cases.push_back({"a mandatory argument", root({command("f", {math_arg(implicit({ch(U']')}))})}), {}, "\\f { ] }"});
    check_cases(cases);
}

TEST(Serialize, InfixOperands) {
    auto explicit_ = with([](auto& o) { o.infix_grouping = sx::InfixGrouping::AlwaysExplicit; });
    auto over = [](SyntaxNode l, SyntaxNode r) { return root({infix("over", std::move(l), std::move(r))}); };
    check_cases({
        {"when required", over(implicit({ch(U'a')}), implicit({ch(U'b')})), {}, "a \\over b"},
        {"always explicit", over(implicit({ch(U'a')}), implicit({ch(U'b')})), explicit_,
         "{ a } \\over { b }"},
        {"empty operand", over(implicit({}), ch(U'b')), {}, "\\over b"},
        {"empty operand explicit", over(implicit({}), ch(U'b')), explicit_, "\\over { b }"},
        {"explicit group operand", over(math({ch(U'a')}), ch(U'b')), {}, "{ a } \\over b"},
        {"nested infix braced", over(implicit({infix("over", ch(U'a'), ch(U'b'))}), ch(U'c')), {},
         "{ a \\over b } \\over c"},
        {"infix operand braced", over(infix("choose", ch(U'a'), ch(U'b')), ch(U'c')), {},
         "{ a \\choose b } \\over c"},
        // Read bare, a cell separator would end the operand.
        {"operand with a separator braced", over(implicit({ch(U'x'), ch(U'&'), ch(U'y')}), ch(U'c')), {},
         "{ x & y } \\over c"},
        {"operand with a row end braced", over(ch(U'a'), implicit({ch(U'b'), command("\\"), ch(U'c')})), {},
         "a \\over { b \\\\ c }"},
        {"separator operand braced", over(ch(U'a'), command("cr")), {}, "a \\over { \\cr }"},
        {"infix arguments in math",
         root({infix("above", ch(U'a'), ch(U'b'),
                     {arg(sn::ArgumentKind::Mandatory{}, sn::ArgumentValue::Dimension{"1pt"})})}),
         {}, "a \\above 1pt b"},
    });
}

// A primitive reads its dimension bare (`\kern{0pt}` is no number to TeX), a
// macro in braces; a letter after a bare unit is parted from it.
TEST(Serialize, DimensionSlots) {
    auto dimension = [](sn::ArgumentKind kind, const char* value, std::vector<SyntaxNode> after = {}) {
        std::vector<SyntaxNode> items{command("kern", {arg(std::move(kind), sn::ArgumentValue::Dimension{value})})};
        for (auto& item : after) items.push_back(std::move(item));
        return items;
    };
    check_cases({
        {"mandatory bare", root(dimension(sn::ArgumentKind::Mandatory{}, "0pt", {ch(U'x')})), {}, "\\kern 0pt x"},
        {"mandatory bare, compact", root(dimension(sn::ArgumentKind::Mandatory{}, "0pt", {ch(U'x')})),
         compact_all(), "\\kern 0pt x"},
        {"before a digit", root(dimension(sn::ArgumentKind::Mandatory{}, "-1pt", {ch(U'2')})), compact_all(),
         "\\kern -1pt 2"},
        {"first in a compact group", root({math(dimension(sn::ArgumentKind::Mandatory{}, "1mu", {ch(U'x')}))}),
         compact_all(), "{\\kern 1mu x}"},
        {"in text", text_root(dimension(sn::ArgumentKind::Mandatory{}, "1pt", {text("b")})), {}, "\\kern 1pt b"},
        {"in text, before a non-letter", text_root(dimension(sn::ArgumentKind::Mandatory{}, "1pt", {text(".")})), {},
         "\\kern 1pt."},
        {"empty mandatory braced", root(dimension(sn::ArgumentKind::Mandatory{}, "", {ch(U'x')})), {},
         "\\kern {} x"},
        {"group braced", root(dimension(sn::ArgumentKind::Group{}, "1em", {ch(U'x')})), {}, "\\kern {1em} x"},
        {"optional bracketed", root(dimension(sn::ArgumentKind::Optional{}, "1em", {ch(U'x')})), {},
         "\\kern [1em] x"},
    });
}

std::string slice(const std::string& s, const sx::SerializationToken& t) { return s.substr(t.start, t.end - t.start); }

TEST(SerializeTokens, KindsModesAndOffsets) {
    using K = sx::SerializationTokenKind;
    struct Tok {
        std::string text;
        K kind;
        ContentMode mode;
    };
    const ContentMode M = ContentMode::Math, T = ContentMode::Text;
    struct TokCase {
        const char* name;
        SyntaxNode tree;
        std::string text;
        std::vector<Tok> tokens;
    };
    const TokCase cases[] = {
        {"subscript", root({sub(ch(U'x'), ch(U'i'))}), "x _ { i }",
         {{"x", K::Character, M}, {"_", K::Character, M}, {"{", K::Delimiter, M}, {"i", K::Character, M},
          {"}", K::Delimiter, M}}},
        {"escape is one token", root({ch(U'%')}), "\\%", {{"\\%", K::Character, M}}},
        {"non-ASCII", root({ch(U'\u2200')}), "\u2200", {{"\u2200", K::Character, M}}},
        {"star", root({command("foo", {star_arg(true)})}), "\\foo*",
         {{"\\foo", K::ControlSequence, M}, {"*", K::Character, M}}},
        {"inline math", text_root({text("a"), inline_math({ch(U'x')})}), "a$x$",
         {{"a", K::Text, T}, {"$", K::Delimiter, T}, {"x", K::Character, M}, {"$", K::Delimiter, T}}},
        {"environment", root({environment("m", implicit({}))}), "\\begin {m} \\end {m}",
         {{"\\begin", K::ControlSequence, M}, {"{", K::Delimiter, M}, {"m", K::Raw, M}, {"}", K::Delimiter, M},
          {"\\end", K::ControlSequence, M}, {"{", K::Delimiter, M}, {"m", K::Raw, M}, {"}", K::Delimiter, M}}},
        {"text argument brackets in outer mode", root({command("text", {text_arg(text("ab"))})}), "\\text {ab}",
         {{"\\text", K::ControlSequence, M}, {"{", K::Delimiter, M}, {"ab", K::Text, T}, {"}", K::Delimiter, M}}},
        {"left right", root({delimited(dch(U'('), dch(U')'), {})}), "\\left ( \\right )",
         {{"\\left", K::ControlSequence, M}, {"(", K::Delimiter, M}, {"\\right", K::ControlSequence, M},
          {")", K::Delimiter, M}}},
        {"error and prime", root({error("?"), prime(2)}), "? ''",
         {{"?", K::Error, M}, {"''", K::Character, M}}},
        {"scalar", root({command("rule", {dim_arg("1pt")})}), "\\rule [1pt]",
         {{"\\rule", K::ControlSequence, M}, {"[", K::Delimiter, M}, {"1pt", K::Raw, M}, {"]", K::Delimiter, M}}},
        {"empty text yields nothing", root({text("")}), "", {}},
    };
    for (const TokCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto doc = Document::from_syntax_unchecked(c.tree);
        ASSERT_TRUE(doc.has_value());
        auto out = doc->to_tokenized_latex_with({});
        ASSERT_TRUE(out.has_value());
        EXPECT_EQ(out->text, c.text);
        ASSERT_EQ(out->tokens.size(), c.tokens.size());
        for (std::size_t i = 0; i < c.tokens.size(); ++i) {
            SCOPED_TRACE(i);
            const auto& t = out->tokens[i];
            EXPECT_EQ(t.text, c.tokens[i].text);
            EXPECT_EQ(t.kind, c.tokens[i].kind);
            EXPECT_EQ(t.mode, c.tokens[i].mode);
            EXPECT_EQ(slice(out->text, t), t.text);
        }
    }
}

TEST(SerializeTokens, TokenKindNames) {
    EXPECT_EQ(sx::token_kind_name(sx::SerializationTokenKind::ControlSequence), "control_sequence");
    EXPECT_EQ(sx::token_kind_name(sx::SerializationTokenKind::Error), "error");
}

TEST(Serialize, PrimeLimit) {
    auto ok = Document::from_syntax_unchecked(root({ch(U'x'), prime(1000)}));
    ASSERT_TRUE(ok.has_value());
    EXPECT_TRUE(ok->to_latex().has_value());

    const std::vector<SyntaxNode> too_many[] = {
        {prime(sx::serialize::kMaxPrimes + 1)},
        {sup(ch(U'x'), prime(UINT64_MAX))},
        {prime(sx::serialize::kMaxPrimes), prime(1)},
    };
    for (const auto& children : too_many) {
        auto doc = Document::from_syntax_unchecked(root(children));
        ASSERT_TRUE(doc.has_value());
        auto plain = doc->to_latex();
        ASSERT_FALSE(plain.has_value());
        EXPECT_EQ(plain.error().message(), "too many primes to serialize");
        EXPECT_FALSE(doc->to_tokenized_latex_with({}).has_value());
    }
}

// Slots the document layer refuses can still be built through the arena
// directly; the serializer treats them as broken invariants.
TEST(Serialize, BrokenSlotInvariantsAreInternalErrors) {
    using V = sx::ast::ArgumentValue;
    struct BadSlot {
        sn::ArgumentKind kind;
        V value;
        std::string message;
    };
    const BadSlot cases[] = {
        {sn::ArgumentKind::Star{}, V::CSName{"x"},
         "internal error: entered unreachable code: star slots must carry boolean values"},
        {sn::ArgumentKind::Optional{}, V::Boolean{true},
         "internal error: entered unreachable code: boolean values are only valid in star slots"},
    };
    for (const BadSlot& c : cases) {
        SCOPED_TRACE(c.message);
        Document doc;
        sx::ast::ArgumentSlots args;
        args.push_back(sx::ast::Argument{c.kind, false, c.value});
        auto id = doc.ast_mut().new_node(sx::ast::Node::Command{"f", std::move(args), false});
        doc.ast_mut().append_child(doc.ast().root(), id);
        EXPECT_EQ(internal_message([&] { (void)doc.to_latex(); }), c.message);
    }
}

TEST(Serialize, SerializedChar) {
    EXPECT_EQ(sx::serialize::serialized_char(U'&', ContentMode::Math), "&");
    EXPECT_EQ(sx::serialize::serialized_char(U'&', ContentMode::Text), "\\&");
    EXPECT_EQ(sx::serialize::serialized_char(U'}', ContentMode::Text), "\\}");
    EXPECT_EQ(sx::serialize::serialized_char(U'\U0001D400', ContentMode::Math), "\U0001D400");
}

// A million nested groups: the walk must use heap, not call stack.
TEST(Serialize, DeepTreeIsIterative) {
    constexpr std::size_t kDepth = 1'000'000;
    Document doc;
    // Built bottom-up: each new group takes the chain so far as its child.
    auto inner = doc.create_char(U'x');
    ASSERT_TRUE(inner.has_value());
    sx::document::NodeId chain = *inner;
    for (std::size_t i = 0; i < kDepth; ++i) {
        auto g = doc.create_node(sx::ast::Node::Group{{chain.node}, sn::GroupKind::Explicit{}, ContentMode::Math});
        ASSERT_TRUE(g.has_value());
        chain = *g;
    }
    ASSERT_TRUE(doc.append_child(doc.root(), chain).has_value());
    auto out = doc.to_latex_with(compact_all());
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->size(), 2 * kDepth + 1);
    EXPECT_EQ(out->substr(kDepth - 2, 5), "{{x}}");
    auto tokens = doc.to_tokenized_latex_with(compact_all());
    ASSERT_TRUE(tokens.has_value());
    EXPECT_EQ(tokens->tokens.size(), 2 * kDepth + 1);
}

}  // namespace
