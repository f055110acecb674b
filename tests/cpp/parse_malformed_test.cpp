// Malformed formulas keep every part of their text: what the grammar cannot
// read becomes an Error node, normalisation refuses the document, and the
// written text reads back to itself.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <variant>

#include "facade/transform_engine.hpp"
#include "malformed_invariants.hpp"

namespace quorvel {
namespace {

const facade::TransformEngine& corpus_engine() {
    static const facade::TransformEngine engine = [] {
        facade::TransformEngineBuilder builder;
        builder.profile(facade::EngineProfile::Corpus);
        auto built = builder.build();
        if (!built) throw std::runtime_error(std::string(built.error().message()));
        return std::move(built).value();
    }();
    return engine;
}

struct KeptCase {
    const char* name;
    const char* source;
    const char* latex;       // the document's written text
    std::size_t diagnostics;
    bool has_error;          // the document holds an Error node (and normalising refuses it)
};

void PrintTo(const KeptCase& c, std::ostream* os) { *os << c.source; }

class KeptText : public ::testing::TestWithParam<KeptCase> {};

TEST_P(KeptText, WrittenWholeAndStable) {
    const KeptCase& c = GetParam();
    const auto& engine = corpus_engine();
    const auto& context = engine.parser().context();
    const auto out = parse::parse_source(context, c.source, {});
    ASSERT_TRUE(out.document.has_value());
    EXPECT_EQ(out.diagnostics.size(), c.diagnostics);
    EXPECT_EQ(invariants::has_error_node(*out.document), c.has_error);

    const auto check = invariants::check_parse(context, c.source, out);
    EXPECT_EQ(check.written, c.latex);
    EXPECT_EQ(check.violation, invariants::Violation::None) << "written again: " << check.rewritten;

    const auto normalized = engine.normalize_with(c.source, engine.default_normalize_config());
    if (c.has_error) {
        ASSERT_FALSE(normalized.has_value()) << normalized.value();
        EXPECT_TRUE(std::holds_alternative<facade::ParseError>(normalized.error().value()));
    } else {
        EXPECT_TRUE(normalized.has_value());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, KeptText,
    ::testing::Values(
        // The rest of an argument that a prefix could not read.
        KeptCase{"right_in_argument", R"(\frac{a-b \right) c}{d})", R"(\frac { a - b \right) c } { d })", 1, true},
        KeptCase{"dollar_opens_argument", R"(\frac{$y^{2}}{p}=1)", R"(\frac { $y^{2} } { p } = 1)", 1, true},
        KeptCase{"currency_in_argument", R"(\sqrt{x $11$})", R"(\sqrt { x $11$ })", 1, true},
        KeptCase{"end_opens_argument", R"(\frac{\end{array}c+a}{2})", R"(\frac { \end{array}c+a } { 2 })", 1,
                 true},
        KeptCase{"end_opens_text_argument", R"(\text{\end{array} II} a)", R"(\text {\end{array} II} a)", 1, true},
        KeptCase{"end_after_open_paren", R"(y=\sqrt{(\end{array}a-1) x^{2}+a x+1})",
                 R"(y = \sqrt { ( \end{array}a-1) x^{2}+a x+1 })", 1, true},
        KeptCase{"right_opens_argument", R"(\mathbf{\right)R})", R"(\mathbf { \right)R })", 1, true},
        // Error snippets that used to end early.
        KeptCase{"end_in_nested_group", R"(\overline{{X\end{array}}} = X)", R"(\overline { {X \end{array}} } = X)",
                 2, true},
        KeptCase{"end_in_script_group", R"(\frac{a_{\end{array}5}}{b})", R"(\frac { a_{ \end{array}5} } { b })", 2,
                 true},
        // White space before a closing brace, and after an unknown command in
        // text, does not grow when written text is read and written again.
        KeptCase{"error_before_closing_brace", R"(E _ { \emph { m a n t i s s a } } ( ))",
                 R"(E _ { \emph { m a n t i s s a } } ( ))", 1, true},
        KeptCase{"error_text_ends_in_space", R"(\frac { a - b \right) c } { d })", R"(\frac { a - b \right) c } { d })",
                 1, true},
        KeptCase{"unknown_command_in_text", R"(\mathstrut\textrm{\intc|l})", R"(\mathstrut \textrm {\intc |l})", 0,
                 false},
        KeptCase{"unknown_command_then_space", R"(\textrm{\intc |l})", R"(\textrm {\intc |l})", 0, false},
        KeptCase{"unknown_command_in_spaced_text", R"(\text { \LambdaI) })", R"(\text { \LambdaI ) })", 0, false},
        // An error that ends in an open script marker is not given the
        // braces of the empty base that follows it.
        KeptCase{"missing_superscript_before_subscript", R"(x^_{0})", R"(x^ _ { 0 })", 1, true},
        KeptCase{"missing_subscript_before_superscript", R"(1 0_ ^ { - 5 })", R"(1 0_ ^ { - 5 })", 1, true},
        KeptCase{"missing_superscript_before_prime", R"(x^^')", R"(x^ { }')", 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

// The content check itself: layout is ignored, the characters are not.
struct ContentCase {
    const char* source;
    const char* written;
    bool same;
};

class ContentCharacters : public ::testing::TestWithParam<ContentCase> {};

TEST_P(ContentCharacters, ComparesContentOnly) {
    const ContentCase& c = GetParam();
    EXPECT_EQ(invariants::same_content(c.source, c.written), c.same);
}

INSTANTIATE_TEST_SUITE_P(Malformed, ContentCharacters,
                         ::testing::Values(ContentCase{"\\frac12", "\\frac { 1 } { 2 }", true},
                                           ContentCase{"a %note\nb", "a b", true},
                                           ContentCase{"a \\% b", "a b", false},
                                           ContentCase{"\\{a\\}", "\\{ a \\}", true},
                                           ContentCase{"\\{a\\}", "{ a }", false},
                                           ContentCase{"x^'", "x'", true},
                                           ContentCase{"x'^{2}", "x ^ { ' { 2 } }", true},
                                           ContentCase{"x'^'", "x ^ { '' }", true},
                                           ContentCase{"x^{'}", "x ^ { ' }", true},
                                           ContentCase{"x^2", "x 2", false},
                                           ContentCase{"a \\& b", "a & b", true},
                                           ContentCase{"a \\\\& b", "a \\\\ & b", true},
                                           ContentCase{"1_\\", "1 _ { \\ }", true},
                                           ContentCase{"\\frac{a}{b}", "\\frac { a } { }", false}));

}  // namespace
}  // namespace quorvel
