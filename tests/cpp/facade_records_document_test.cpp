#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "facade/records.hpp"
#include "facade/serialize_options_input.hpp"
#include "syntax/document.hpp"

namespace {

using namespace quorvel;
using facade::input::SerializeOptionsInput;
using syntax::SerializeOptions;

TEST(TokenizedLatexToDto, NamesKindsAndModesAndKeepsOrder) {
    std::vector<syntax::SerializationToken> tokens = {
        {"\\alpha", 0, 6, syntax::SerializationTokenKind::ControlSequence, syntax::ContentMode::Math},
        {"é", 7, 9, syntax::SerializationTokenKind::Character, syntax::ContentMode::Text},
        {"{", 10, 11, syntax::SerializationTokenKind::Delimiter, syntax::ContentMode::Math},
        {"ab", 11, 13, syntax::SerializationTokenKind::Text, syntax::ContentMode::Text},
        {"%", 13, 14, syntax::SerializationTokenKind::Raw, syntax::ContentMode::Math},
        {"\\q", 14, 16, syntax::SerializationTokenKind::Error, syntax::ContentMode::Math},
    };
    auto dto = facade::tokenized_latex_to_dto("\\alpha é {ab%\\q", std::move(tokens));
    EXPECT_EQ(dto.latex, "\\alpha é {ab%\\q");
    const std::vector<facade::SerializationTokenDto> expected = {
        {"\\alpha", 0, 6, "control_sequence", "math"}, {"é", 7, 9, "character", "text"},
        {"{", 10, 11, "delimiter", "math"},           {"ab", 11, 13, "text", "text"},
        {"%", 13, 14, "raw", "math"},                 {"\\q", 14, 16, "error", "math"},
    };
    EXPECT_EQ(dto.tokens, expected);
}

TEST(NodeSpansToDto, KeepsPathsSpansAndOrder) {
    using syntax::SyntaxNode;
    SyntaxNode tree = SyntaxNode::Root{syntax::ContentMode::Math,
                                       {SyntaxNode::Char{U'a'}, SyntaxNode::Char{U'b'}}};
    syntax::SpanTree spans({0, 3}, {syntax::SpanTree({0, 1}), syntax::SpanTree({2, 3})});
    auto doc = syntax::document::Document::from_syntax_with_spans(tree, spans);
    ASSERT_TRUE(doc.has_value());
    const std::vector<facade::NodeSpanEntryDto> expected = {
        {"root", {0, 3}}, {"root.child.0", {0, 1}}, {"root.child.1", {2, 3}}};
    EXPECT_EQ(facade::node_spans_to_dto(*doc), expected);
    EXPECT_TRUE(facade::node_spans_to_dto(syntax::document::Document()).empty());
}

struct OptionsCase {
    SerializeOptionsInput input;
    SerializeOptions expected;
};

class ToSerializeOptions : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(ToSerializeOptions, PresentKeysSetAbsentKeysDefault) {
    EXPECT_EQ(facade::input::to_serialize_options(GetParam().input), GetParam().expected);
}

SerializeOptions all_second() {
    return {syntax::CommandSpacing::Minimal,      syntax::MathGroupInnerSpacing::Compact,
            syntax::AdjacentCharSpacing::Compact, syntax::ScriptSpacing::Compact,
            syntax::ScriptOrder::SupFirst,        syntax::InfixGrouping::WhenRequired,
            syntax::EnvironmentNameSpacing::Compact};
}

OptionsCase infix_only() {
    OptionsCase c;
    c.input.infix_operand_grouping = 0;
    c.expected.infix_grouping = syntax::InfixGrouping::AlwaysExplicit;
    return c;
}

OptionsCase script_order_only() {
    OptionsCase c;
    c.input.script_order = 1;
    c.expected.script_order = syntax::ScriptOrder::SupFirst;
    return c;
}

INSTANTIATE_TEST_SUITE_P(Cases, ToSerializeOptions,
                         ::testing::Values(OptionsCase{}, infix_only(), script_order_only(),
                                           OptionsCase{{1, 1, 1, 1, 1, std::nullopt, 1}, all_second()}));

}  // namespace
