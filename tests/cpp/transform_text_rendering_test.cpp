// Text normalised at each profile, written with the default spacing: the
// profiles that preserve rendering write text that renders as its source,
// and every output reads back without a diagnostic and normalises to itself.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "transform/passes/tree_support.hpp"
#include "transform_pipeline_support.hpp"

namespace quorvel::transform {
namespace {

using syntax::ast::Node;
using syntax::ast::NodeId;
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
        {R"(\text{x{\bf\ y}z})", R"(\text {x\textbf{\ y}z})", nullptr},
        {R"(\text{x{\bf~y}z})", R"(\text {x\textbf{~y}z})", nullptr},
        {R"(\text{x{\bf{ y}}z})", R"(\text {x\textbf{ y}z})", nullptr},
        {R"(\text{x{\large y}z})", R"(\text {x{\large y}z})", nullptr},
        {R"(\text{x\large y})", R"(\text {x\large y})", nullptr},
        // A declarative in force is not written again in front of a real
        // space after a text font command: the space stays content.
        {R"(\text{\large{\it a} b})", R"(\text {\large\textit{a} b})", nullptr},
        {R"(\text{\large{\bf a}~b})", R"(\text {\large\textbf{a}~b})", nullptr},
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
        {R"(\text{f{a}i})", R"(\text {fai})", nullptr},
        {R"(\text{i{f}})", R"(\text {if})", nullptr},
        {R"(\text{F{i}})", R"(\text {Fi})", nullptr},
        {R"(\text{`{!}})", R"(\text {`!})", nullptr},
        {R"(\text{'{`}})", R"(\text {'`})", nullptr},
        {R"(\text{- {-}})", R"(\text {- -})", nullptr},
        // Math has no such ligatures: its own guards decide.
        {R"(a{b}-)", R"(a b -)", nullptr},
    });
}

// Checks the cases, and that at the profiles that keep rendering the output
// reads back as the tree of the source.
void check_same_tree_where_kept(const std::vector<Case>& cases) {
    check(cases);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        const auto source = parse::parse_source(parse_context(), c.source, parse::ParseConfig{});
        const auto output = parse::parse_source(parse_context(), c.kept, parse::ParseConfig{});
        ASSERT_TRUE(source.document && output.document);
        EXPECT_EQ(output.document->to_syntax(), source.document->to_syntax());
    }
}

// The f-ligatures, in every argument that is text: ff, fi, fl, and ffi and
// ffl pair by pair.
TEST(TransformTextRendering, GroupsThatKeepFLigaturesApartStay) {
    check_same_tree_where_kept({
        {R"(\text{f{i}x})", R"(\text {f{i}x})", R"(\text {fix})"},
        {R"(\text{{f}i})", R"(\text {{f}i})", R"(\text {fi})"},
        {R"(\textbf{f{i}})", R"(\textbf {f{i}})", R"(\textbf {fi})"},
        {R"(\mbox{f{l}})", R"(\mbox {f{l}})", R"(\mbox {fl})"},
        {R"(\text{f{f}})", R"(\text {f{f}})", R"(\text {ff})"},
        {R"(\text{ff{i}})", R"(\text {ff{i}})", R"(\text {ffi})"},
        {R"(\text{f{f}l})", R"(\text {f{f}l})", R"(\text {ffl})"},
        {R"(\text{f{}i})", R"(\text {f{}i})", R"(\text {fi})"},
    });
}

// A group of white space alone sets a space, as a text argument of white
// space does: the space stays.
TEST(TransformTextRendering, SpaceAloneInTextGroupStays) {
    check({
        {R"(\text{a{ }b})", R"(\text {a b})", nullptr},
        {R"(\text{a{  }b})", R"(\text {a b})", nullptr},
        {R"(\mbox{{ }})", R"(\mbox { })", nullptr},
        {R"(\text{a{{ }}b})", R"(\text {a b})", nullptr},
        {R"(\text{a\,{ }b})", R"(\text {a\,{ }b})", R"(\text {a\, b})"},
    });
}
// TeX skips no space after a control symbol: none is written there, in
// text, at any profile.
TEST(TransformTextRendering, ControlSymbolsInTextKeepTheirText) {
    check_same_tree_where_kept({
        {R"(\text{a\,b})", R"(\text {a\,b})", nullptr},
        {R"(\text{a\;b})", R"(\text {a\;b})", nullptr},
        {R"(\text{a\:b})", R"(\text {a\:b})", nullptr},
        {R"(\text{a\!b})", R"(\text {a\!b})", nullptr},
        {R"(\text{a\/b})", R"(\text {a\/b})", nullptr},
        {R"(\text{a\-b})", R"(\text {a\-b})", nullptr},
        {R"(\text{a\ b})", R"(\text {a\ b})", nullptr},
        {R"(\text{a\\b})", R"(\text {a\\b})", nullptr},
        {R"(\text{a\, b})", R"(\text {a\, b})", nullptr},
        {R"(\mbox{\,x}y)", R"(\mbox {\,x} y)", nullptr},
        {R"(\textbf{a\,b})", R"(\textbf {a\,b})", nullptr},
        // Math, operator names included, keeps its spaces.
        {R"(a\,b)", R"(a \, b)", nullptr},
        {R"(\operatorname{a\,b})", R"(\operatorname {a\, b})", nullptr},
    });
}

// Text arguments as TeX reads them: a space before the closing brace shows
// unless it ends a control word's name; an argument without braces is one
// token, and what follows it is math; a nested text font command keeps its
// shape, its italic corrections with it; `\cal` and `\mit` do nothing in
// text and stay as written.
TEST(TransformTextRendering, TextArgumentsReadAsTeXReadsThem) {
    check_same_tree_where_kept({
        {R"(\textbf { \textit { d } })", R"(\textbf { \textit{ d } })", nullptr},
        {R"(\textit { \textbf { P } } ^ { b })", R"(\textit { \textbf{ P } } ^ { b })", nullptr},
        {R"(\textbf { \textup { u } } x)", R"(\textbf { \textup{ u } } x)", nullptr},
        {R"(\text{\textit{a\textbf{f}}})", R"(\text {\textit{a\textbf{f}}})", nullptr},
        {R"(\text{\textit{a}\textit{b}})", R"(\text {\textit{a}\textit{b}})", nullptr},
        {R"(\text { 95\% })", R"(\text { 95\% })", nullptr},
        {R"(\textrm { \, -- \, })", R"(\textrm { \, -- \, })", nullptr},
        {R"(\text{$x$ })", R"(\text {$x$ })", nullptr},
        {R"(\textrm{$x$ \cal $y$})", R"(\textrm {$x$ \cal $y$})", nullptr},
        {R"(\text{a \mit b})", R"(\text {a \mit b})", nullptr},
        // A brace between a control word and spacing keeps the spacing shown.
        {R"(\text{{a\ } b})", R"(\text {{a\ } b})", nullptr},
        {R"(\text{\cal{ x}})", R"(\text {\cal{ x}})", nullptr},
    });
    // Read without braces, the argument gets them: the trees differ there.
    check({
        {R"(\textrm i \frac{a}{b})", R"(\textrm {i} \frac { a } { b })", nullptr},
        {R"({ \textbf z })", R"({ \textbf {z} })", R"(\textbf {z})"},
        {R"(\textrm ij)", R"(\textrm {i} j)", nullptr},
        {R"(\textrm\% x)", R"(\textrm {\%} x)", nullptr},
        // The space after a control word only ends its name.
        {R"(\text{\bf a \textit{b} \large})", R"(\text {\textbf{a \textit{b} }})", nullptr},
        {R"(\text{a\  \large b})", R"(\text {a\ \large b})", nullptr},
        {R"(\textbf{-- \cal \large --})", R"(\textbf {-- \cal} \textbf {\large--})", nullptr},
    });
}

// Lowering must not join them either: a removed declarative or brace that
// kept two characters apart leaves an empty group between them.
TEST(TransformTextRendering, LoweringKeepsLigaturesApart) {
    check({
        {R"(\text{{\bf -}{\bf -}})", R"(\text {\textbf{-{}-}})", R"(\text {\textbf{--}})"},
        {R"(\text{\bf -\bf -})", R"(\text {\textbf{-{}-}})", R"(\text {\textbf{--}})"},
        // A text font command that changes nothing still adds the italic
        // corrections at its edges: it stays where rendering is kept.
        {R"(\text{\bf '\textbf{'}})", R"(\text {\textbf{'\textbf{'}}})", R"(\text {\textbf{''}})"},
        {R"(\text{\bf f\textbf{f}})", R"(\text {\textbf{f\textbf{f}}})", R"(\text {\textbf{ff}})"},
        {R"(\text{\bf <{\bf <}})", R"(\text {\textbf{<{<}}})", R"(\text {\textbf{<<}})"},
        {R"(\text{-{\bf -}})", R"(\text {-\textbf{-}})", nullptr},
        {R"(\text{{\bf a}{\bf b}})", R"(\text {\textbf{ab}})", nullptr},
        {R"(\text{{\bf -}{\bf a}})", R"(\text {\textbf{-a}})", nullptr},
        {R"(\text{\it{`\it ``}})", R"(\text {\textit{`{}``}})", R"(\text {\textit{```}})"},
        {R"(\text{\bf f\bf i})", R"(\text {\textbf{f{}i}})", R"(\text {\textbf{fi}})"},
        {R"(\text{{\it f}{\it f}l})", R"(\text {\textit{f{}f}l})", R"(\text {\textit{ff}l})"},
    });
}


// What a text renders as, in a small model of it: each character with the
// weight, shape and size in force, in order. Spacing directly after a control
// word or a control space only ends its name; a run of spaces shows as one.
// Characters of one text run join into ligatures; a `|` stands between two
// characters that would join but are kept apart by a brace or command.
class TextRendering {
public:
    explicit TextRendering(const syntax::Ast& ast) : ast_(ast) {}

    std::vector<std::string> of(NodeId root) {
        walk_list(ast_.children(root), Font{});
        std::vector<std::string> out;
        for (std::size_t i = 0; i < glyphs_.size(); ++i) {
            const std::string& g = glyphs_[i];
            if (g == "|") {
                const bool kept = !out.empty() && i + 1 < glyphs_.size() && glyphs_[i + 1] != "|" &&
                                  joins(out.back(), glyphs_[i + 1]);
                if (kept && out.back() != "|") out.push_back(g);
                continue;
            }
            if (g.back() == ' ' && !out.empty() && out.back().back() == ' ') continue;
            out.push_back(g);
        }
        return out;
    }

private:
    struct Font {
        int bold = 0;
        int italic = 0;
        int size = 0;
    };

    static bool joins(const std::string& a, const std::string& b) {
        return a != "|" && b != "|" && a.substr(0, 3) == b.substr(0, 3) &&
               transform::passes::support::joins_in_text(a.back(), b.back());
    }

    // A space shows the same in any font here: the runs it joins decide
    // which font's space is kept.
    void glyph(const Font& font, char c) {
        if (c == ' ') {
            glyphs_.push_back("___ ");
            return;
        }
        glyphs_.push_back(std::to_string(font.bold) + std::to_string(font.italic) + std::to_string(font.size) +
                          std::string(1, c));
    }

    void walk_list(std::span<const NodeId> list, Font font) {
        after_word_ = false;
        for (NodeId id : list) walk(id, font);
        after_word_ = false;
    }

    void argument(const Node& command, Font font) {
        glyphs_.push_back("|");
        for (const auto& arg : *command.args()) {
            if (!arg || !arg->value.content()) continue;
            const NodeId content = *arg->value.content();
            const auto* group = ast_.node(content).get_if<Node::Group>();
            if (group != nullptr && group->kind.is_implicit()) {
                walk_list(ast_.children(content), font);
            } else {
                after_word_ = false;
                walk(content, font);
            }
        }
        glyphs_.push_back("|");
        after_word_ = false;
    }

    void walk(NodeId id, Font& font) {
        const Node& node = ast_.node(id);
        if (const auto* text = node.get_if<Node::Text>()) {
            for (const char c : std::string_view(text->value)) {
                if (c == ' ' && after_word_) continue;
                after_word_ = false;
                glyph(font, c);
            }
            glyphs_.push_back("|");
            return;
        }
        glyphs_.push_back("|");
        if (const auto* d = node.get_if<Node::Declarative>()) {
            const std::string_view name = d->name;
            if (name == "bf") font.bold = 1;
            if (name == "it") font.italic = 1;
            if (name == "large") font.size = 1;
            if (name == "small") font.size = 2;
            after_word_ = true;
        } else if (const auto* c = node.get_if<Node::Command>()) {
            const std::string_view name = c->name;
            Font inner = font;
            if (name == "textbf") inner.bold = 1;
            if (name == "textit") inner.italic = 1;
            if (name == " ") {
                glyph(font, ' ');
                after_word_ = true;
            } else {
                argument(node, inner);
            }
        } else if (node.is<Node::Group>()) {
            walk_list(ast_.children(id), font);
            glyphs_.push_back("|");
        } else if (node.is<Node::ActiveSpace>()) {
            glyph(font, '~');
            after_word_ = false;
        } else {
            glyphs_.push_back("?");  // the formulas made below hold nothing else
        }
    }

    const syntax::Ast& ast_;
    std::vector<std::string> glyphs_;
    bool after_word_ = false;
};

std::vector<std::string> rendering(std::string_view source) {
    const auto document = testing::parse_document(parse_context(), source);
    return TextRendering(document.ast()).of(document.ast().root());
}

// Text arguments made from a seed: letters, characters that join, spaces,
// brace groups, declaratives followed by one or two spaces and a character,
// and prefixes.
class TextMaker {
public:
    explicit TextMaker(unsigned seed) : rng_(seed) {}

    std::string formula() { return R"(\text{)" + content(0) + "}"; }

private:
    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

    std::string content(int depth) {
        static const char* const atoms[] = {"a", "b", "f", "i", "l", "-", "-", "'", "`", "<", ">", "!", "?", " "};
        static const char* const declaratives[] = {"\\bf", "\\it", "\\large", "\\small"};
        std::string out;
        for (std::size_t i = 0, n = 1 + below(5); i < n; ++i) {
            const std::size_t pick = below(depth < 3 ? 10 : 6);
            if (pick < 5) {
                out += atoms[below(std::size(atoms))];
            } else if (pick == 5) {
                out += declaratives[below(std::size(declaratives))];
                out += below(2) == 0 ? " " : "  ";
                out += atoms[below(std::size(atoms) - 1)];
            } else if (pick < 8) {
                out += "{" + content(depth + 1) + "}";
            } else {
                out += (below(2) == 0 ? "\\textbf{" : "\\textit{") + content(depth + 1) + "}";
            }
        }
        return out;
    }

    std::mt19937 rng_;
};

// At the profiles that preserve rendering, the output renders as its source
// in the model above; at every profile it reads back clean.
TEST(TransformTextRendering, MadeTextsRenderAsWritten) {
    for (const Profile& profile : PROFILES) {
        for (unsigned seed = 0; seed < 150; ++seed) {
            const std::string source = TextMaker(seed).formula();
            SCOPED_TRACE(source + " at " + profile.name);
            const std::string output = normalise(profile, source);
            const auto again = parse::parse_source(parse_context(), output, parse::ParseConfig{});
            ASSERT_TRUE(again.document.has_value()) << output;
            ASSERT_TRUE(again.diagnostics.empty()) << output << ": " << again.diagnostics.front().message;
            if (profile.preserve) {
                EXPECT_EQ(rendering(output), rendering(source)) << output;
            }
        }
    }
}

// Text font commands and declaratives, nested, with spaces before closing
// braces, control symbols and arguments of one token, in text and in math.
class FontNestMaker {
public:
    explicit FontNestMaker(unsigned seed) : rng_(seed) {}

    std::string formula() {
        return below(2) == 0 ? R"(\text{)" + content(0) + "}" : "x" + prefix(0) + "y";
    }

private:
    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

    std::string prefix(int depth) {
        static const char* const prefixes[] = {"\\textbf", "\\textit", "\\textrm", "\\textsf", "\\textup"};
        std::string out = prefixes[below(std::size(prefixes))];
        if (depth >= 3 || below(4) == 0) return out + (below(2) == 0 ? " a" : "\\%");
        return out + (below(2) == 0 ? "{" : " { ") + content(depth + 1) + "}";
    }

    std::string content(int depth) {
        static const char* const atoms[] = {"a", "f", " ", "\\%", "\\,", "\\ ", "$x$", "~", "--"};
        static const char* const declaratives[] = {"\\bf", "\\it", "\\large", "\\cal", "\\mit", "\\sf"};
        std::string out;
        for (std::size_t i = 0, n = 1 + below(4); i < n; ++i) {
            const std::size_t pick = below(depth < 3 ? 8 : 5);
            if (pick < 4) {
                out += atoms[below(std::size(atoms))];
            } else if (pick == 4) {
                out += declaratives[below(std::size(declaratives))];
                out += " ";
            } else if (pick == 5) {
                out += "{" + content(depth + 1) + "}";
            } else {
                out += prefix(depth);
            }
            if (below(3) == 0) out += " ";
        }
        return out;
    }

    std::mt19937 rng_;
};

// At every profile the output reads back clean and writes back to itself,
// and is settled: normalised again it stays as it is.
TEST(TransformTextRendering, NestedFontCommandsReadBackSettled) {
    for (const Profile& profile : PROFILES) {
        const TransformContext engine = testing::make_engine(parse_context(), profile.mask);
        for (unsigned seed = 0; seed < 120; ++seed) {
            const std::string source = FontNestMaker(seed).formula();
            SCOPED_TRACE(source + " at " + profile.name);
            auto document = testing::parse_document(parse_context(), source);
            TransformOptions options;
            options.flatten_groups.preserve_rendered_spacing = profile.preserve;
            ASSERT_TRUE(engine.run_with(document.ast_mut(), parse_context(), options));
            const auto output = syntax::serialize::serialize_with(document.ast(), syntax::SerializeOptions{});
            ASSERT_TRUE(output);
            const auto again = parse::parse_source(parse_context(), *output, parse::ParseConfig{});
            ASSERT_TRUE(again.document.has_value()) << *output;
            ASSERT_TRUE(again.diagnostics.empty()) << *output << ": " << again.diagnostics.front().message;
            const auto rewritten = again.document->to_latex();
            ASSERT_TRUE(rewritten);
            EXPECT_EQ(*rewritten, *output) << "written back otherwise";
            EXPECT_EQ(normalise(profile, *output), *output) << "not settled in one round";
        }
    }
}

}  // namespace
}  // namespace quorvel::transform
