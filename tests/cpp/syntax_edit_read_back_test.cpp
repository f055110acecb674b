// Edits that put a node in place, move one or name a command, checked by
// reading their text back: each row is refused, with its reason and the
// document left as it was, or accepted, and then its text parses clean and
// reads back as the tree it was written from.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>

#include "cpu_clock.hpp"
#include "facade/read_back.hpp"
#include "parse/parse.hpp"
#include "syntax/document.hpp"
#include "syntax_test_util.hpp"
#include "transform_pipeline_support.hpp"

namespace {

using namespace syntax_test;
using sx::ArgValue;
using sx::NodeKind;
using sx::document::Document;
using sx::document::NodeId;
using Node = sx::ast::Node;
namespace testing = quorvel::transform::testing;

const sx::document::Reader& reader() {
    static const quorvel::facade::ContextReader made(quorvel::facade::default_parse_context());
    return made;
}

Document parsed(std::string_view source) { return testing::parse_document(testing::parse_context(), source); }

// The `nth` node of `kind` (and `name`, when given) in preorder.
NodeId find(const Document& doc, NodeKind kind, std::size_t nth = 0, std::string_view name = {}) {
    std::optional<sx::ast::NodeId> found;
    doc.ast().walk_preorder(doc.ast().root(), [&](sx::ast::NodeId id, const Node& node) {
        if (found) return false;
        if (node.kind() == kind && (name.empty() || (node.name() != nullptr && *node.name() == name)) && nth-- == 0) {
            found = id;
        }
        return true;
    });
    if (!found) throw std::runtime_error("no such node");
    return doc.handle(*found);
}

NodeId group_of(Document& doc, ContentMode mode, std::vector<NodeId> items) {
    const NodeId group = *doc.create_group(mode);
    for (const NodeId item : items) {
        if (!doc.append_child(group, item, &reader())) throw std::runtime_error("item refused");
    }
    return group;
}
NodeId letters(Document& doc, std::u32string chars) {
    std::vector<NodeId> items;
    for (const char32_t c : chars) items.push_back(*doc.create_char(c));
    return group_of(doc, ContentMode::Math, items);
}
NodeId words(Document& doc, std::string text) {
    return group_of(doc, ContentMode::Text, {*doc.create_node(Node::Text{std::move(text)})});
}

template <class T>
std::string outcome(const sx::Expected<T, sx::document::EditError>& r) {
    return r.has_value() ? "ok" : r.error().message();
}

// The tree as its text tells it: `known` is the reader's, written braces
// make an explicit group, an argument's leading space is the reader's, a
// group filling a slot is written with the slot's braces, and texts that
// meet read back as one.
void normalise(SyntaxNode& node);
void unwrap_slot(SyntaxNode& content) {
    normalise(content);
    if (const auto* g = content.get_if<SyntaxNode::Group>();
        g != nullptr && (g->kind.is_explicit() || g->kind.is_implicit()) && g->children.size() == 1) {
        SyntaxNode only = g->children[0];
        content = std::move(only);
    }
}
void normalise_list(std::vector<SyntaxNode>& items) {
    std::vector<SyntaxNode> out;
    for (SyntaxNode& item : items) {
        normalise(item);
        auto* t = item.get_if<SyntaxNode::Text>();
        auto* last = out.empty() ? nullptr : out.back().get_if<SyntaxNode::Text>();
        if (t != nullptr && last != nullptr) {
            last->value = std::string(last->value) + std::string(t->value);
        } else {
            out.push_back(std::move(item));
        }
    }
    items = std::move(out);
}
void normalise_args(SyntaxNode::ArgumentSlots& args) {
    for (auto& slot : args) {
        if (!slot) continue;
        slot->no_leading_space = false;
        if (SyntaxNode* content = slot->value.content()) unwrap_slot(*content);
    }
}
void normalise(SyntaxNode& node) {
    std::visit(
        [](auto& v) {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, SyntaxNode::Root>) {
                normalise_list(v.children);
            } else if constexpr (std::is_same_v<V, SyntaxNode::Group>) {
                if (v.kind.is_implicit()) v.kind = sn::GroupKind::Explicit{};
                normalise_list(v.children);
            } else if constexpr (std::is_same_v<V, SyntaxNode::Command>) {
                v.known = false;
                normalise_args(v.args);
            } else if constexpr (std::is_same_v<V, SyntaxNode::Environment>) {
                v.known = false;
                normalise_args(v.args);
                normalise(*v.body);
            } else if constexpr (std::is_same_v<V, SyntaxNode::Declarative>) {
                normalise_args(v.args);
            } else if constexpr (std::is_same_v<V, SyntaxNode::Infix>) {
                normalise_args(v.args);
                unwrap_slot(*v.left);
                unwrap_slot(*v.right);
            } else if constexpr (std::is_same_v<V, SyntaxNode::Scripted>) {
                normalise(*v.base);
                if (v.subscript) unwrap_slot(*v.subscript);
                if (v.superscript) unwrap_slot(*v.superscript);
            }
        },
        node.value);
}

// Empty when the document's text parses clean and reads back as its tree;
// else what it reads back as.
std::string read_back_fault(const Document& doc) {
    const std::string text = *doc.to_latex();
    auto again = quorvel::parse::parse_source(testing::parse_context(), text, {});
    if (!again.document) return text + " reads back as nothing";
    if (!again.diagnostics.empty()) return text + " reads back with " + again.diagnostics[0].message;
    SyntaxNode written = doc.to_syntax();
    SyntaxNode read = again.document->to_syntax();
    normalise(written);
    normalise(read);
    if (written != read) return text + " reads back as " + sx::debug_string(read);
    return "";
}

// What an accepted edit's text must read back as.
enum class Reads { Same, Clean };

struct Row {
    const char* about;
    const char* source;
    std::function<std::string(Document&)> edit;
    std::string refused;  // a fragment of the refusal; empty when accepted
    // A name the packages do not know reads back with no slots: its text
    // only parses clean.
    Reads reads = Reads::Same;
};

void check(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.about) + ": " + row.source);
        Document doc = parsed(row.source);
        const SyntaxNode before = doc.to_syntax();
        const std::string got = row.edit(doc);
        if (row.refused.empty()) {
            EXPECT_EQ(got, "ok");
            const std::string fault = read_back_fault(doc);
            if (row.reads == Reads::Same) {
                EXPECT_EQ(fault, "");
            } else {
                EXPECT_EQ(fault.find(" with "), std::string::npos) << fault;
            }
        } else {
            EXPECT_NE(got.find(row.refused), std::string::npos) << got;
            EXPECT_EQ(doc.to_syntax(), before);
        }
    }
}

std::function<std::string(Document&)> rename(NodeKind kind, std::string name) {
    return [kind, name](Document& d) { return outcome(d.set_command_name(find(d, kind), name, &reader())); };
}

// A known name must take the slots the node keeps, each with a value of the
// same kind; it may add the empty ones it reads with and drop those written
// as nothing. An unknown name keeps only what reads back beside it.
TEST(EditReadBack, Renames) {
    check({
        {"an index mathrm does not read", "\\sqrt[3]{x}", rename(NodeKind::Command, "mathrm"),
         "\\mathrm with other arguments"},
        {"an index frac reads as its numerator", "\\sqrt[3]{x}", rename(NodeKind::Command, "frac"),
         "\\frac with other arguments"},
        {"a symbol takes no argument", "\\mathrm{x}", rename(NodeKind::Command, "alpha"),
         "\\alpha with other arguments"},
        {"a star left off is added", "\\mathrm{x}", rename(NodeKind::Command, "operatorname"), ""},
        {"a group slot reads what a brace argument holds", "\\mathrm{x}", rename(NodeKind::Command, "abs"), ""},
        {"empty optional slots are added", "\\mathrm{x}", rename(NodeKind::Command, "dv"), ""},
        {"the empty index is dropped", "\\sqrt{x}", rename(NodeKind::Command, "mathrm"), ""},
        {"a star set must be read", "\\operatorname*{argmax}", rename(NodeKind::Command, "mathrm"),
         "\\mathrm with other arguments"},
        {"math content is no label", "\\sqrt{42}", rename(NodeKind::Command, "label"), "with other arguments"},
        {"a macro keeps its math content", "\\mathrm{x} + y", rename(NodeKind::Command, "mymacro"), "",
         Reads::Clean},
        {"a macro keeps a scalar value", "\\hspace{1em} + y", rename(NodeKind::Command, "mymacro"), "",
         Reads::Clean},
        {"a macro's text argument would read as math", "\\text{abc} + x", rename(NodeKind::Command, "mymacro"),
         "its text argument would be read as math"},
        {"a macro's index would read as items", "\\sqrt[3]{x}", rename(NodeKind::Command, "mymacro"),
         "argument outside braces"},
        {"an environment's column specification", "\\begin{array}{c} a \\end{array}",
         rename(NodeKind::Environment, "matrix"), "\\begin{matrix} with other arguments"},
        {"an environment of the same slots", "\\begin{matrix} a \\end{matrix}",
         rename(NodeKind::Environment, "pmatrix"), ""},
        {"an infix of the same slots", "{a \\over b}", rename(NodeKind::Infix, "atop"), ""},
        {"an infix that takes a dimension", "{a \\over b}", rename(NodeKind::Infix, "above"), "invalid dimension"},
        {"a declarative stays one", "x \\bf y", rename(NodeKind::Declarative, "alpha"), "as a command \\alpha"},
    });
}

TEST(EditReadBack, MadeEnvironments) {
    const auto made = [](std::string name, std::vector<ArgValue> args, bool in_text = false) {
        return [name, args, in_text](Document& d) {
            const NodeId body = letters(d, U"a&b");
            std::vector<ArgValue> values = args;
            auto env = d.create_environment(name, std::move(values), body, &reader());
            if (!env) return outcome(env);
            if (in_text) return outcome(d.insert_after(find(d, NodeKind::Text), *env, &reader()));
            return outcome(d.append_child(d.root(), *env, &reader()));
        };
    };
    check({
        {"its body written as a parsed one", "x", made("pmatrix", {}), ""},
        {"array without its column specification", "x", made("array", {}), "column argument"},
        {"subarray without its column specification", "x", made("subarray", {}), "column argument"},
        {"array with its column specification", "x", made("array", {ArgValue::Column{"cc"}}), ""},
        {"a delimiter for a column specification", "x",
         made("array", {ArgValue::Delimiter{sn::Delimiter::character(U'+')}}), "no delimiter the reader knows"},
        {"an empty column specification", "x", made("array", {ArgValue::Column{""}}), "empty value"},
        {"a matrix in text", "\\text{a}", made("matrix", {}, true), "not allowed in text mode"},
    });
    Document doc;
    const NodeId body = letters(doc, U"a&b");
    ASSERT_TRUE(doc.append_child(doc.root(), *doc.create_environment("pmatrix", {}, body), &reader()));
    EXPECT_EQ(*doc.to_latex(), "\\begin {pmatrix} a & b \\end {pmatrix}");
}

// A group stands only where its mode is read: `$` in text, braces in the
// mode of their content.
TEST(EditReadBack, GroupsOfTheOtherMode) {
    const auto inline_math = [](Document& d) {
        const NodeId x = *d.create_char(U'x');
        return *d.create_node(Node::Group{{x.node}, sn::GroupKind::InlineMath{}, ContentMode::Math});
    };
    check({
        {"a text group appended to math", "x + y",
         [](Document& d) { return outcome(d.append_child(d.root(), words(d, "ab"), &reader())); }, "a text group"},
        {"a text group inserted in math", "x + y",
         [](Document& d) { return outcome(d.insert_after(find(d, NodeKind::Char), words(d, "ab"), &reader())); },
         "a text group"},
        {"a text group wrapped around math", "x + y",
         [](Document& d) { return outcome(d.wrap(find(d, NodeKind::Char), *d.create_group(ContentMode::Text), &reader())); },
         "a text group"},
        {"a math group in text", "\\text{a}",
         [](Document& d) {
             const NodeId group = group_of(d, ContentMode::Math, {*d.create_command("sin", {})});
             return outcome(d.insert_after(find(d, NodeKind::Text), group, &reader()));
         },
         "a math group"},
        {"a math group as a text argument", "\\text{a}",
         [](Document& d) {
             const NodeId group = group_of(d, ContentMode::Math, {*d.create_command("sin", {})});
             return outcome(d.set_arg(find(d, NodeKind::Command), 0, ArgValue::Text{group}, &reader()));
         },
         "a math group"},
        {"a character of math as a text argument", "\\text{a}",
         [](Document& d) {
             return outcome(d.set_arg(find(d, NodeKind::Command), 0, ArgValue::Text{*d.create_char(U'x')}, &reader()));
         },
         "in text it reads back as text"},
        {"inline math in text", "\\text{a}",
         [&](Document& d) { return outcome(d.insert_after(find(d, NodeKind::Text), inline_math(d), &reader())); }, ""},
        {"inline math in math", "x",
         [&](Document& d) { return outcome(d.append_child(d.root(), inline_math(d), &reader())); },
         "read only in text"},
        {"a text command in a made math group", "x",
         [](Document& d) {
             const NodeId group = *d.create_group(ContentMode::Math);
             return outcome(d.append_child(group, *d.create_command("textbf", {ArgValue::Text{words(d, "a")}}), &reader()));
         },
         ""},
    });
}

// Moves are checked as insertions are; texts that meet may read back as
// one, when the one they make reads back.
TEST(EditReadBack, Moves) {
    check({
        {"scripts into text", "\\text{a}",
         [](Document& d) {
             const NodeId x = *d.create_char(U'x'), two = *d.create_char(U'2');
             const NodeId moved = *d.create_node(Node::Scripted{x.node, std::nullopt, two.node});
             return outcome(d.insert_after(find(d, NodeKind::Text), moved, &reader()));
         },
         "scripts and primes are read only in math"},
        {"a removal that opens an optional argument", "\\cos {x} [",
         [](Document& d) { return outcome(d.remove(find(d, NodeKind::Group))); }, "optional argument"},
        {"an extraction that opens an optional argument", "\\cos {x} [",
         [](Document& d) { return outcome(d.extract(find(d, NodeKind::Group))); }, "optional argument"},
        {"texts that meet read back as one", "\\text{a\\ b}",
         [](Document& d) { return outcome(d.remove(find(d, NodeKind::Command, 1))); }, ""},
        {"texts that meet with two spaces", "\\text{a {} b}",
         [](Document& d) { return outcome(d.remove(find(d, NodeKind::Group, 1))); }, "two spaces"},
        {"an unwrapped text after a control word", "\\text{\\bf{abc}}",
         [](Document& d) { return outcome(d.unwrap(find(d, NodeKind::Group, 1))); }, "after a control word"},
        {"inline math unwrapped into text", "\\text{a $x$ b}",
         [](Document& d) { return outcome(d.unwrap(find(d, NodeKind::Group, 1))); }, "the items of a math group"},
        {"a bracket unwrapped into an optional argument", "\\sqrt[{]}]{x}",
         [](Document& d) { return outcome(d.unwrap(find(d, NodeKind::Group, 1))); }, "would end the optional"},
        {"a group unwrapped", "a {b c} d", [](Document& d) { return outcome(d.unwrap(find(d, NodeKind::Group))); },
         ""},
        {"math wrapped in math", "x + y",
         [](Document& d) { return outcome(d.wrap(find(d, NodeKind::Char), *d.create_group(ContentMode::Math), &reader())); },
         ""},
        {"a text command wrapped in inline math", "\\text{a \\itextbb b}",
         [](Document& d) {
             const NodeId wrapper = *d.create_node(Node::Group{{}, sn::GroupKind::InlineMath{}, ContentMode::Math});
             return outcome(d.wrap(find(d, NodeKind::Command, 1), wrapper, &reader()));
         },
         "not allowed in math"},
        {"a cleared group", "a {b c} d", [](Document& d) { return outcome(d.clear(find(d, NodeKind::Group))); }, ""},
        {"an item beside an infix", "{a \\over b}",
         [](Document& d) { return outcome(d.insert_before(find(d, NodeKind::Infix), *d.create_char(U'c'), &reader())); },
         "reads every item of its cell"},
        {"an item before a script on nothing", "a \\\\ ^2",
         [](Document& d) { return outcome(d.insert_before(find(d, NodeKind::Scripted), *d.create_char(U'c'), &reader())); },
         "empty base"},
        {"a cell end removed before a script on nothing", "a \\\\ ^2",
         [](Document& d) { return outcome(d.remove(find(d, NodeKind::Command))); }, "empty base"},
    });
}

// Each check where a value stands, as its own row: a script base's
// neighbours are its scripted node's.
TEST(EditReadBack, WhereAValueStands) {
    check({
        {"a bracket as a base after an open optional argument", "a \\\\ x^2 + y ]",
         [](Document& d) { return outcome(d.set_char(find(d, NodeKind::Char, 1), U'[')); }, "optional argument"},
        {"a closing space after a control word", "\\text{\\bf abc}",
         [](Document& d) { return outcome(d.set_text(find(d, NodeKind::Text), " ")); },
         "at the end of a group reads back as nothing"},
        {"a lone space in an argument", "\\text{abc}",
         [](Document& d) { return outcome(d.set_text(find(d, NodeKind::Text), " ")); }, "spacing alone"},
        {"a bracket inside brackets", "\\sqrt[x]{y}",
         [](Document& d) { return outcome(d.set_char(find(d, NodeKind::Char), U']')); }, "would end the optional"},
        {"a cell end as a script base", "x^2",
         [](Document& d) { return outcome(d.set_char(find(d, NodeKind::Char), U'&')); }, "never read as a script base"},
        {"a star after an open star", "\\text{a\\\\ b}",
         [](Document& d) { return outcome(d.set_text(find(d, NodeKind::Text, 1), "*b")); }, "star of the item"},
        {"a star after a star set", "\\text{a\\\\* b}",
         [](Document& d) { return outcome(d.set_text(find(d, NodeKind::Text, 1), "*b")); }, ""},
    });
}

// Exchange trees are checked as edits check what they place, but for the
// reader's checks: a tree no parser made has no packages to read with.
TEST(EditReadBack, ExchangeTrees) {
    const auto delimited = [](sn::Delimiter left) {
        return root({group(ContentMode::Math, {ch(U'x')}, sn::GroupKind::Delimited{std::move(left), sn::Delimiter::character(U')')})});
    };
    const struct {
        const char* about;
        SyntaxNode tree;
        std::string refused;
        bool reads_back = true;  // with the default packages
    } rows[] = {
        {"a letter in text", root({ch(U'x')}, ContentMode::Text), "in text it reads back as text"},
        {"a cell end in text", root({ch(U'&')}, ContentMode::Text), "the command &"},
        {"an escaped character in text", root({ch(U'%')}, ContentMode::Text), ""},
        {"an infix as a delimiter", delimited(sn::Delimiter::control("over")), "other than a delimiter"},
        {"a letter as a delimiter", delimited(sn::Delimiter::character(U'\u00e9')), "no delimiter the reader knows"},
        {"a backslash as a delimiter", delimited(sn::Delimiter::character(U'\\')), "no delimiter the reader knows"},
        {"a delimiter a parser was given", delimited(sn::Delimiter::control("mydelim")), "", false},
        {"an empty text", root({text("")}, ContentMode::Text), "an empty text reads back as nothing"},
        {"a text in math", root({text("ab")}), "in math a text reads back as characters"},
        {"texts side by side", root({text("a"), text("b")}, ContentMode::Text), "beside another text"},
        {"a script without scripts", root({SyntaxNode::Scripted{ch(U'x'), {}, {}}}), "without scripts"},
        {"a prime after an item", root({ch(U'x'), prime(1)}), "prime cannot be written here"},
        {"a prime first", root({prime(1), ch(U'x')}), ""},
        {"a text group in math", root({group(ContentMode::Text, {text("a")})}), "text group cannot"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.about);
        auto doc = Document::from_syntax(row.tree);
        if (row.refused.empty()) {
            ASSERT_TRUE(doc.has_value()) << sx::message(doc.error());
            if (row.reads_back && std::get<SyntaxNode::Root>(row.tree.value).mode == ContentMode::Math) {
                EXPECT_EQ(read_back_fault(*doc), "");
            }
        } else {
            ASSERT_FALSE(doc.has_value());
            EXPECT_NE(sx::message(doc.error()).find(row.refused), std::string::npos) << sx::message(doc.error());
        }
        // Trees a copy of a document holds, whatever its edits made of it.
        EXPECT_TRUE(Document::from_syntax_unchecked(row.tree).has_value());
    }
}

// A rename costs what the name and the slots cost, never what they hold:
// a content 8 times as large, or a session renaming every command of a
// chain 8 times as deep, costs the same, or 8 times as much.
TEST(EditReadBack, RenamesCostTheirSlots) {
    using quorvel_test::CpuClock;
    const auto seconds = [](auto&& run) {
        const auto start = CpuClock::now();
        run();
        return std::chrono::duration<double>(CpuClock::now() - start).count();
    };
    const auto one_rename = [&](std::size_t n) {
        std::string source = "\\sqrt{";
        for (std::size_t k = 0; k < n; ++k) source += "\\hat{a}";
        source += "} + {";
        source += std::string(n, 'a');
        source += " \\over b}";
        Document doc = parsed(source);
        const NodeId root = find(doc, NodeKind::Command);
        const NodeId infix = find(doc, NodeKind::Infix);
        return seconds([&] {
            for (int k = 0; k < 20; ++k) {
                ASSERT_TRUE(doc.set_command_name(root, k % 2 == 0 ? "mathrm" : "sqrt", &reader()));
                ASSERT_TRUE(doc.set_command_name(infix, k % 2 == 0 ? "atop" : "over", &reader()));
            }
        });
    };
    const auto chain = [&](std::size_t n) {
        Document doc;
        NodeId top = *doc.create_char(U'a');
        std::vector<NodeId> commands;
        for (std::size_t k = 0; k < n; ++k) {
            top = *doc.create_command("hat", {ArgValue::Math{group_of(doc, ContentMode::Math, {top})}}, &reader());
            commands.push_back(top);
        }
        EXPECT_TRUE(doc.append_child(doc.root(), top, &reader()));
        return seconds([&] {
            for (const NodeId command : commands) ASSERT_TRUE(doc.set_command_name(command, "tilde", &reader()));
        });
    };
    constexpr std::size_t n = 2000;
    // Warm up once, then compare: a re-read of the content grows 8 (or, for
    // a session, 64) times.
    (void)one_rename(n);
    const double small = one_rename(n);
    const double large = one_rename(8 * n);
    EXPECT_LE(large, 3 * small + 0.01) << small << " s, then " << large << " s for 8 times the content";
    const double short_chain = chain(n / 4);
    const double long_chain = chain(2 * n);
    EXPECT_LE(long_chain, 16 * short_chain + 0.02) << short_chain << " s, then " << long_chain << " s";
}

}  // namespace
