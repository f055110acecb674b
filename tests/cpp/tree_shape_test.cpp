// The read-back comparison sees what a reader of the text sees: braces that
// come or go and scripts that move count; the braces a slot writes around
// its content, a prime against the superscript it reads as and the order of
// scripts do not.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "syntax_test_util.hpp"
#include "transform_pipeline_support.hpp"
#include "tree_shape.hpp"

namespace quorvel {
namespace {

using namespace syntax_test;
using transform::testing::parse_context;
using transform::testing::parse_document;
using transform::testing::tree_document;

std::string shape_of(const std::string& source) {
    return testing::tree_shape(parse_document(parse_context(), source).ast());
}

// A source against another source.
struct SourceCase {
    const char* left;
    const char* right;
    bool same;
};

TEST(TreeShape, SourcesThatReadAlike) {
    const SourceCase cases[] = {
        {"x^2", "x^{2}", true},
        {"\\frac12", "\\frac{1}{2}", true},
        {"x_a^b", "x^b_a", true},
        {"x'", "x^{\\prime}", false},
        {"{a}b", "ab", false},
        {"x^{{2}}", "x^2", false},
        {"\\frac{{1}}2", "\\frac12", false},
        {"{x_a}^b", "x_a^b", false},
        {"{}^2x", "x^2", false},
        {"\\begin{aligned} a \\\\ {}^2 b \\end{aligned}", "\\begin{aligned} a \\\\^2 b \\end{aligned}", true},
    };
    for (const SourceCase& c : cases) {
        EXPECT_EQ(shape_of(c.left) == shape_of(c.right), c.same) << c.left << " against " << c.right;
    }
}

// The space of nothing below a row, written right after its `\\`.
std::optional<sn::Argument> closed_space() {
    return sn::Argument{sn::ArgumentKind::Optional{}, true, sn::ArgumentValue::Dimension{"0pt"}};
}

// A tree against the reading of its written text.
struct TreeCase {
    const char* what;
    SyntaxNode tree;
    bool same;
};

TEST(TreeShape, TreesAgainstTheirText) {
    const TreeCase cases[] = {
        {"script on a row end",
         root({scripted(command("\\", {star_arg(false), std::nullopt}), std::nullopt, ch(U'2'))}), false},
        {"script on a brace-less group",
         root({ch(U'a'), scripted(implicit_math({ch(U'b'), ch(U'c')}), std::nullopt, ch(U'2'))}), true},
        {"character script", root({scripted(ch(U'x'), std::nullopt, ch(U'2'))}), true},
        {"prime after its base", root({ch(U'x'), prime(1)}), true},
        {"prime and more in one superscript",
         root({scripted(ch(U'x'), std::nullopt, implicit_math({prime(1), ch(U'm'), ch(U'n')}))}), true},
        {"scripted base", root({scripted(scripted(ch(U'x'), ch(U'a'), std::nullopt), std::nullopt, ch(U'b'))}), true},
        {"argument group", root({command("frac", {math_arg(math({ch(U'1')})), math_arg(ch(U'2'))})}), true},
        // A row end before a star or bracket, its space closed, takes
        // neither.
        {"closed row end before a star",
         root({ch(U'a'), command("\\", {star_arg(false), closed_space()}), ch(U'*')}), true},
        {"closed row end before a bracket",
         root({ch(U'a'), command("\\", {star_arg(true), closed_space()}), ch(U'['), ch(U'x'), ch(U']')}), true},
    };
    for (const TreeCase& c : cases) {
        const auto written = tree_document(c.tree);
        const std::string text = *written.to_latex();
        EXPECT_EQ(testing::tree_shape(written.ast()) == shape_of(text), c.same) << c.what << ": " << text;
    }
}

}  // namespace
}  // namespace quorvel
