// Malformed formulas through the whole parse road.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "facade/transform_engine.hpp"
#include "parse_recovery_support.hpp"

namespace quorvel::parse {
namespace {

// ---- Spans after white space and comments ------------------------------------

// The default packages plus "prose", a caller environment with a text body,
// and "cg", a command whose one argument must be a braced group.
const facade::TransformEngine& span_engine() {
    static const facade::TransformEngine built = [] {
        using knowledge::AllowedMode;
        facade::TransformEngineBuilder builder;
        builder.profile(facade::EngineProfile::Corpus)
            .item(ContextItem::environment(
                {"prose", "", {}, static_cast<std::uint8_t>(syntax::ContentMode::Text), AllowedMode::Both}))
            .item(ContextItem::command({"cg", "m{}", {}, 0, AllowedMode::Both}));
        return std::move(builder.build()).value();
    }();
    return built;
}

std::string show_span(Span s) { return std::to_string(s.start) + ".." + std::to_string(s.end); }

struct SpanCase {
    const char* name;
    std::string source;
    // Every diagnostic: "kind start..end message {label@start..end, ...}".
    std::vector<std::string> diagnostics;
    // The span of the first node whose tree path ends with `node` ("" when the
    // case checks none), read before and, for a document without errors,
    // after a transform (which may change the path above the node).
    std::string node;
    std::string node_span;
};

void PrintTo(const SpanCase& c, std::ostream* os) { *os << c.source; }

class MalformedSpans : public ::testing::TestWithParam<SpanCase> {};

TEST_P(MalformedSpans, PointFailuresAreEmptySpansAtTheirToken) {
    const SpanCase& c = GetParam();
    auto result = span_engine().parser().parse_with(c.source, {});
    std::vector<std::string> got;
    for (const auto& d : result.diagnostics) {
        std::string line = testing::diag(d) + " {";
        for (std::size_t i = 0; i < d.contexts.size(); ++i)
            line += (i > 0 ? ", " : "") + d.contexts[i].label + "@" + show_span(d.contexts[i].span);
        got.push_back(line + "}");
    }
    EXPECT_EQ(got, c.diagnostics);
    if (c.node.empty()) return;
    ASSERT_TRUE(result.document);
    auto span_of = [&](const syntax::document::Document& doc) {
        for (const auto& entry : doc.node_spans())
            if (entry.id.ends_with(c.node)) return show_span(entry.span);
        std::string ids = "none of";
        for (const auto& entry : doc.node_spans()) ids += " " + entry.id;
        return ids;
    };
    EXPECT_EQ(span_of(*result.document), c.node_span);
    if (result.document->read_only()) return;
    ASSERT_TRUE(span_engine().transform_with(*result.document, span_engine().default_transform_options()));
    EXPECT_EQ(span_of(*result.document), c.node_span) << "after a transform";
}

INSTANTIATE_TEST_SUITE_P(
    AfterCommentsAndWhiteSpace, MalformedSpans,
    ::testing::Values(
        SpanCase{"no_atom_after_white_space", "a # b", {"- 2..3 expected atom or script marker {}"}},
        SpanCase{"no_atom_after_a_comment",
                 "a %c\n# b",
                 {"- 5..6 expected atom or script marker {}"}},
        SpanCase{"dimension_after_a_comment",
                 "\\hspace{%\n}",
                 {"argument-validation 10..10 invalid dimension {command argument@7..7}"}},
        SpanCase{"left_delimiter_after_a_comment",
                 "\\left%\nx\\right)",
                 {"left-right-delimiter 7..7 invalid \\left delimiter {left-delimited group@0..5}"}},
        SpanCase{"environment_closing_after_a_comment",
                 "{\\begin{matrix}a%c\n}",
                 {"- 19..19 Environment matrix missing closing \\end{matrix} {}"}},
        SpanCase{"ambiguous_infix_after_a_comment",
                 "a \\over b%c\n\\atop c",
                 {"ambiguous-infix 12..12 Ambiguous use of \\atop {}"}},
        SpanCase{"braced_group_argument_after_a_comment",
                 "\\cg%c\nx",
                 {"argument-validation 6..6 missing required braced group argument {command argument@6..6}"}},
        // The first bad `\left` of the source lies in a `\begin` header, in
        // no environment body.
        SpanCase{"left_in_an_environment_header",
                 "{\\begin{\\left x}} \\left y",
                 {"left-right-delimiter 24..24 invalid \\left delimiter {left-delimited group@18..24}",
                  "raw-expected-found 8..13 found '\\left' expected something else {}"}},
        SpanCase{"text_body_of_comment_only",
                 "\\text{\\begin{prose}%c\n\\end{prose}}",
                 {},
                 ".body",
                 "22..22"}),
    [](const ::testing::TestParamInfo<SpanCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel::parse
