// Text normalised at each profile, written with the default spacing: the
// profiles that preserve rendering write text that renders as its source,
// and every output reads back without a diagnostic and normalises to itself.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "transform_pipeline_support.hpp"

namespace quorvel::transform {
namespace {

using testing::parse_context;

struct Profile {
    const char* name;
    std::uint8_t mask;
    bool preserve;  // rendering preserved: authoring and faithful
};

constexpr Profile PROFILES[] = {
    {"authoring", testing::AUTHORING, true},
    {"faithful", testing::FAITHFUL, true},
    {"corpus", testing::CORPUS, false},
    {"equiv", testing::EQUIV, false},
};

// The source normalised at the profile and written with default options;
// an empty string, with a test failure, when it does not normalise.
std::string normalise(const Profile& profile, std::string_view source) {
    const TransformContext engine = testing::make_engine(parse_context(), profile.mask);
    auto document = testing::parse_document(parse_context(), source);
    TransformOptions options;
    options.flatten_groups.preserve_rendered_spacing = profile.preserve;
    if (!engine.run_with(document.ast_mut(), parse_context(), options)) {
        ADD_FAILURE() << "no normalisation";
        return "";
    }
    auto text = syntax::serialize::serialize_with(document.ast(), syntax::SerializeOptions{});
    if (!text) {
        ADD_FAILURE() << "not written";
        return "";
    }
    return std::move(text).value();
}

struct Case {
    const char* source;
    const char* kept;  // authoring and faithful
    const char* flat;  // corpus and equiv; null when the same as `kept`
};

void check(const std::vector<Case>& cases) {
    for (const Profile& profile : PROFILES) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.source) + " at " + profile.name);
            const std::string expected = profile.preserve || c.flat == nullptr ? c.kept : c.flat;
            const std::string output = normalise(profile, c.source);
            EXPECT_EQ(output, expected);
            const auto again = parse::parse_source(parse_context(), output, parse::ParseConfig{});
            ASSERT_TRUE(again.document.has_value());
            EXPECT_TRUE(again.diagnostics.empty()) << again.diagnostics.front().message;
            EXPECT_EQ(normalise(profile, output), output) << "not a fixed point";
        }
    }
}

// The spacing after a control word only ends its name. Once lowering has
// taken a declarative out, that spacing must not reach the content of the
// prefix written in its place, where it would show; a control space, a tie
// or spacing after a brace are content and stay.
TEST(TransformTextRendering, SpacingAfterARemovedDeclarativeIsDropped) {
    check({
        {R"(\text{x{\bf y}z})", R"(\text {x\textbf{y}z})", nullptr},
        {R"(\textbf{{\it a} b})", R"(\textbf {\textit{a}} \textbf { b})", nullptr},
        {R"(\text{{\bf a}{\it b}})", R"(\text {\textbf{a}\textit{b}})", nullptr},
        {R"(\text{{\bf   y}})", R"(\text {\textbf{y}})", nullptr},
        {R"(\text{\bf \it y})", R"(\text {\textbf{\textit{y}}})", nullptr},
        {R"(\text{\bf a\bf b})", R"(\text {\textbf{ab}})", nullptr},
        {R"(\text{x \bf y})", R"(\text {x \textbf{y}})", nullptr},
        {R"(\textit{\bf y z})", R"(\textbf {\textit{y z}})", nullptr},
        {R"(\text{{\bf } x})", R"(\text {{} x})", R"(\text { x})"},
        {R"(\text{x{\bf\ y}z})", R"(\text {x\textbf{\  y}z})", nullptr},
        {R"(\text{x{\bf~y}z})", R"(\text {x\textbf{~y}z})", nullptr},
        {R"(\text{x{\bf{ y}}z})", R"(\text {x\textbf{ y}z})", nullptr},
        {R"(\text{x{\large y}z})", R"(\text {x{\large y}z})", nullptr},
        {R"(\text{x\large y})", R"(\text {x\large y})", nullptr},
        // A declarative written back in front of a real space: the space
        // stays content. Corpus and equiv take the empty group out, as they
        // do when it is written so in the source.
        {R"(\text{\large{\it a} b})", R"(\text {\large\textit{a}\large{} b})", R"(\text {\large\textit{a}\large b})"},
        {R"(\text{\large{\bf a}~b})", R"(\text {\large\textbf{a}\large~b})", nullptr},
        {R"({\bf x} y)", R"(\mathbf { x } y)", nullptr},
    });
}

// In text, two hyphens make an en dash, three an em dash, two quotes a
// double quote, and so on. A brace group that keeps such characters apart
// stays while rendering is preserved; corpus and equiv may join them.
TEST(TransformTextRendering, GroupsThatKeepLigaturesApartStay) {
    check({
        {R"(\text{-{-}})", R"(\text {-{-}})", R"(\text {--})"},
        {R"(\text{-{-}-})", R"(\text {-{-}-})", R"(\text {---})"},
        {R"(\text{'{'}})", R"(\text {'{'}})", R"(\text {''})"},
        {R"(\text{`{`}})", R"(\text {`{`}})", R"(\text {``})"},
        {R"(\text{!{`}})", R"(\text {!{`}})", R"(\text {!`})"},
        {R"(\text{?{`}})", R"(\text {?{`}})", R"(\text {?`})"},
        {R"(\text{<{<}})", R"(\text {<{<}})", R"(\text {<<})"},
        {R"(\text{>{>}})", R"(\text {>{>}})", R"(\text {>>})"},
        {R"(\text{{-}-})", R"(\text {{-}-})", R"(\text {--})"},
        {R"(\text{{-}{-}})", R"(\text {-{-}})", R"(\text {--})"},
        {R"(\text{-{{-}}})", R"(\text {-{-}})", R"(\text {--})"},
        {R"(\text{a-{-b}c})", R"(\text {a-{-b}c})", R"(\text {a--bc})"},
        {R"(\text{{a-}{-b}})", R"(\text {a-{-b}})", R"(\text {a--b})"},
        {R"(\text{-{}-})", R"(\text {-{}-})", R"(\text {--})"},
        // Nothing joins: the group goes at every profile.
        {R"(\text{a{-}})", R"(\text {a-})", nullptr},
        {R"(\text{-{a}-})", R"(\text {-a-})", nullptr},
        {R"(\text{<{>}})", R"(\text {<>})", nullptr},
        {R"(\text{`{!}})", R"(\text {`!})", nullptr},
        {R"(\text{'{`}})", R"(\text {'`})", nullptr},
        {R"(\text{- {-}})", R"(\text {- -})", nullptr},
        // Math has no such ligatures: its own guards decide.
        {R"(a{b}-)", R"(a b -)", nullptr},
    });
}

// Lowering must not join them either: a removed declarative or brace that
// kept two characters apart leaves an empty group between them.
TEST(TransformTextRendering, LoweringKeepsLigaturesApart) {
    check({
        {R"(\text{{\bf -}{\bf -}})", R"(\text {\textbf{-{}-}})", R"(\text {\textbf{--}})"},
        {R"(\text{\bf -\bf -})", R"(\text {\textbf{-{}-}})", R"(\text {\textbf{--}})"},
        {R"(\text{\bf '\textbf{'}})", R"(\text {\textbf{'{}'}})", R"(\text {\textbf{''}})"},
        {R"(\text{\bf <{\bf <}})", R"(\text {\textbf{<{<}}})", R"(\text {\textbf{<<}})"},
        {R"(\text{-{\bf -}})", R"(\text {-\textbf{-}})", nullptr},
        {R"(\text{{\bf a}{\bf b}})", R"(\text {\textbf{ab}})", nullptr},
        {R"(\text{{\bf -}{\bf a}})", R"(\text {\textbf{-a}})", nullptr},
    });
}

}  // namespace
}  // namespace quorvel::transform
