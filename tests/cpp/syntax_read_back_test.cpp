// What a tree may hold so that its written text reads back as itself: each
// value refused names itself and the reason; each accepted one is read back
// by the parser as written.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "knowledge/packages.hpp"
#include "parse/parse.hpp"
#include "syntax/document.hpp"
#include "syntax/read_back.hpp"
#include "transform_pipeline_support.hpp"

namespace {

namespace sx = quorvel::syntax;
namespace sn = quorvel::syntax::syntax_node;
using sx::ContentMode;

// "" for accepted, else a fragment of the refusal.
struct Case {
    std::string value;
    std::string refused;
};

void expect(const std::optional<std::string>& got, const Case& c, std::string_view what) {
    if (c.refused.empty()) {
        EXPECT_FALSE(got.has_value()) << what << " \"" << c.value << "\": " << got.value_or("");
        return;
    }
    ASSERT_TRUE(got.has_value()) << what << " \"" << c.value << "\" was accepted";
    EXPECT_NE(got->find(c.refused), std::string::npos) << *got;
    EXPECT_EQ(got->rfind(std::string(what), 0), 0u) << *got;
}

TEST(WrittenValues, Texts) {
    const Case cases[] = {
        {"abc", ""}, {"for all x", ""}, {"caf\xc3\xa9", ""}, {"e.g.", ""}, {"it's [x]*", ""}, {"a\\ b", ""},
        {"", ""},  // written as nothing; where it stands an edit refuses it
        {"50%", "comment"}, {"a}b", "brace"}, {"R&D", "& ends a cell"}, {"x_1", "script"}, {"$5", "math"},
        {"#1", "macro parameter"}, {"~", "active space"}, {"a\\b", "control sequence"}, {"a\\", "control sequence"},
        {"a  b", "two spaces"}, {"a\tb", "white space"}, {"a\xc2\xa0" "b", "white space"}, {"a\x01", "control"},
        {"a\xe2\x80\x99", "reads back as '"}, {"\xff", "UTF-8"},
    };
    for (const Case& c : cases) expect(sx::check_text(c.value), c, "text");
}

TEST(WrittenValues, CharactersByMode) {
    struct CharCase {
        char32_t c;
        std::string math;  // "" accepted, else a fragment of the refusal
        std::string text;
    };
    const CharCase cases[] = {
        {U'x', "", "reads back as text"}, {U'+', "", "reads back as text"},  {U'%', "", ""},
        {U'{', "", ""},                   {U'#', "", ""},                    {U'\\', "", "reads back as text"},
        {U'&', "", "command &"},          {U'^', "superscript", "reads back as text"},
        {U'\'', "prime", "reads back as text"}, {0x2019, "prime", "reads back as text"},
        {U'~', "active space", "reads back as text"}, {U' ', "white space", "reads back as text"},
        {U'\t', "white space", "reads back as text"}, {0x01, "control", "control"},
    };
    for (const CharCase& c : cases) {
        SCOPED_TRACE(static_cast<unsigned>(c.c));
        const auto math = sx::check_char(c.c, ContentMode::Math);
        const auto text = sx::check_char(c.c, ContentMode::Text);
        EXPECT_EQ(math.has_value(), !c.math.empty()) << math.value_or("");
        EXPECT_EQ(text.has_value(), !c.text.empty()) << text.value_or("");
        if (math) {
            EXPECT_NE(math->find(c.math), std::string::npos) << *math;
        }
        if (text) {
            EXPECT_NE(text->find(c.text), std::string::npos) << *text;
        }
    }
}

TEST(WrittenValues, CommandNames) {
    const Case cases[] = {
        {"beta", ""}, {",", ""}, {"|", ""}, {"&", ""}, {"quad", ""}, {"\\", ""},
        {"%", "reads back as the character %"}, {"{", "character {"}, {"_", "character _"}, {"$", "character $"},
        {"begin", "start of an environment"}, {"end", "end of an environment"}, {"left", "\\left...\\right"},
        {"a1", "not one control sequence"}, {"", "not one control sequence"}, {"\n", "not one control sequence"},
    };
    for (const Case& c : cases) expect(sx::check_command_name(c.value), c, "command name");
}

// A scalar value as the writer writes it for each slot form.
TEST(WrittenValues, ScalarValues) {
    using K = sx::ScalarValue::Kind;
    const sn::ArgumentKind mandatory{sn::ArgumentKind::Mandatory{}};
    const sn::ArgumentKind group{sn::ArgumentKind::Group{}};
    const sn::ArgumentKind optional{sn::ArgumentKind::Optional{}};
    struct ScalarCase {
        K kind;
        const sn::ArgumentKind* slot;
        std::string value;
        std::string refused;
    };
    const ScalarCase cases[] = {
        {K::Dimension, &mandatory, "3pt", ""},
        {K::Dimension, &group, "-1.5em", ""},
        {K::Dimension, &mandatory, "+.5mu", ""},
        {K::Dimension, &mandatory, "3pt}", "unmatched }"},
        {K::Dimension, &mandatory, "3pt x", "dimension"},
        {K::Dimension, &group, "3 pt", "one dimension"},
        {K::Dimension, &group, "3PT", "one dimension"},
        {K::Dimension, &mandatory, "%", "comment"},
        {K::Dimension, &optional, "2pt]", "a ] would end"},
        {K::Integer, &mandatory, "-12", ""},
        {K::Integer, &mandatory, "2}", "unmatched }"},
        {K::Integer, &mandatory, "x", "one integer"},
        {K::KeyVal, &mandatory, "a=b, c={d,e}", ""},
        {K::KeyVal, &mandatory, " a=b", "key-value list"},
        {K::KeyVal, &mandatory, "a={b", "unmatched {"},
        {K::Column, &mandatory, "c|l", ""},
        {K::Column, &mandatory, "c}", "unmatched }"},
        {K::Column, &mandatory, "q", "column specification"},
        {K::CSName, &mandatory, "foo", ""},
        {K::CSName, &mandatory, "\\x", "control-sequence name"},
        {K::CSName, &mandatory, "a\\", "escape"},
        {K::CSName, &mandatory, "a  b", "as written"},
    };
    for (const ScalarCase& c : cases) {
        SCOPED_TRACE(c.value);
        const auto got = sx::check_scalar(*c.slot, sx::ScalarValue{c.kind, c.value}, false);
        ASSERT_EQ(got.has_value(), !c.refused.empty()) << got.value_or("accepted");
        if (got) {
            EXPECT_NE(got->find(c.refused), std::string::npos) << *got;
        }
    }
    // An empty value reads back only where the command allows none: a parsed
    // tree may hold one, an edit may not make one; bare, it never reads back.
    EXPECT_FALSE(sx::check_scalar(group, sx::ScalarValue{K::Dimension, ""}, true));
    EXPECT_TRUE(sx::check_scalar(group, sx::ScalarValue{K::Dimension, ""}, false));
    EXPECT_TRUE(sx::check_scalar(mandatory, sx::ScalarValue{K::Dimension, ""}, true));
}

TEST(WrittenValues, Delimiters) {
    const std::pair<sn::Delimiter, std::string> cases[] = {
        {sn::Delimiter::none(), ""},
        {sn::Delimiter::character(U'('), ""},
        {sn::Delimiter::character(U'['), ""},
        {sn::Delimiter::control("langle"), ""},
        {sn::Delimiter::control("{"), ""},
        {sn::Delimiter::character(U'.'), "null delimiter"},
        {sn::Delimiter::character(U'%'), "one character"},
        {sn::Delimiter::character(U'{'), "token of its own"},
        {sn::Delimiter::control("\\langle"), "not one control sequence"},
    };
    for (const auto& [d, refused] : cases) {
        const auto got = sx::check_delimiter(d);
        EXPECT_EQ(got.has_value(), !refused.empty()) << got.value_or("accepted");
        if (got) {
            EXPECT_NE(got->find(refused), std::string::npos) << *got;
        }
    }
}

// The primitives an edit writes a dimension bare for are exactly those the
// package tables give a bare dimension slot.
TEST(WrittenValues, BareDimensionsAreThePackagesPrimitives) {
    using quorvel::knowledge::ArgFormKind;
    using quorvel::knowledge::ArgValueKind;
    std::set<std::string_view> bare;
    for (const auto* p : quorvel::knowledge::ALL_PACKAGES) {
        for (const auto* c : p->commands) {
            for (const auto& slot : c->args) {
                if (slot.kind == ArgValueKind::Dimension && slot.required && slot.form.kind == ArgFormKind::Standard) {
                    bare.insert(c->name);
                }
            }
        }
    }
    ASSERT_FALSE(bare.empty());
    for (std::string_view name : bare) EXPECT_TRUE(sx::reads_bare_dimension(name)) << name;
    for (std::string_view name : {"hspace", "mspace", "rule", "genfrac", "foo"}) {
        EXPECT_FALSE(sx::reads_bare_dimension(name)) << name;
    }
}

// Every accepted text, written in a text argument, reads back as itself.
TEST(WrittenValues, AcceptedTextsReadBack) {
    const auto& context = quorvel::transform::testing::parse_context();
    for (std::string text : {"abc", "for all x", "e.g.", "it's [x]*", "a\\ b", " a ", "caf\xc3\xa9"}) {
        sx::document::Document doc;
        const auto group = *doc.create_group(ContentMode::Text);
        ASSERT_TRUE(doc.append_child(group, *doc.create_node(sx::ast::Node::Text{text})));
        ASSERT_TRUE(doc.append_child(doc.root(), *doc.create_command("text", {sx::ArgValue::Text{group}})));
        const std::string written = *doc.to_latex();
        auto parsed = quorvel::parse::parse_source(context, written, {});
        ASSERT_TRUE(parsed.document && parsed.diagnostics.empty()) << written;
        const auto tree = parsed.document->to_syntax();
        const auto& arg = *std::get<sx::SyntaxNode::Command>(std::get<sx::SyntaxNode::Root>(tree.value).children[0].value).args[0];
        const auto* content = arg.value.content();
        ASSERT_NE(content, nullptr);
        const auto* inner = content->get_if<sx::SyntaxNode::Group>();
        const auto* read = inner != nullptr ? &inner->children.at(0) : content;
        EXPECT_EQ(std::string_view(std::get<sx::SyntaxNode::Text>(read->value).value), text) << written;
    }
}

}  // namespace
