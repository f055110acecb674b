#include <gtest/gtest.h>

#include <functional>

#include "parse/lexer.hpp"
#include "syntax/document.hpp"
#include "syntax_test_util.hpp"
#include "transform_pipeline_support.hpp"

namespace {

using namespace syntax_test;
using sx::ArgValue;
using sx::document::Document;
using sx::document::NodeId;
using Node = sx::ast::Node;

SyntaxNode implicit(std::vector<SyntaxNode> children) {
    return group(ContentMode::Math, std::move(children), sn::GroupKind::Implicit{});
}

// root: a, {b c}, \frac[]{x}, \begin{matrix} d \end{matrix}, \foo*{y}
struct Fixture {
    Document doc;
    Document other;
    NodeId root, a, g, b, c, frac, x, env, body, foo;

    Fixture()
        : doc(std::move(Document::from_syntax(
                            syntax_test::root({ch(U'a'), math({ch(U'b'), ch(U'c')}),
                                  command("frac", {std::nullopt, math_arg(ch(U'x'))}),
                                  environment("matrix", implicit({ch(U'd')})),
                                  command("foo", {star_arg(true), math_arg(ch(U'y'))})}))
                            .value())) {
        root = doc.root();
        auto kids = doc.node(root)->children();
        a = kids[0].handle();
        g = kids[1].handle();
        b = kids[1].children()[0].handle();
        c = kids[1].children()[1].handle();
        frac = kids[2].handle();
        x = kids[2].arg(1)->get_if<sx::ArgRef::Math>()->node.handle();
        env = kids[3].handle();
        body = kids[3].env_body()->handle();
        foo = kids[4].handle();
    }

    NodeId chr(char32_t c = U'n') { return *doc.create_char(c); }
    NodeId grp() { return *doc.create_group(ContentMode::Math); }
    std::size_t root_count() { return doc.node(root)->children().size(); }
    std::string latex() { return *doc.to_latex(); }
};

template <class T>
std::string outcome(const sx::Expected<T, sx::document::EditError>& r) {
    return r.has_value() ? "ok" : r.error().message();
}

struct RefusalCase {
    const char* name;
    std::function<std::string(Fixture&)> run;
    std::string expected;
};

TEST(DocumentEdit, RefusalsInTheirOrder) {
    const RefusalCase cases[] = {
        // Ownership and liveness come first.
        {"foreign child to a char parent: container test first",
         [](Fixture& f) { return outcome(f.doc.append_child(f.a, *f.other.create_char(U'z'))); },
         "node is not a container"},
        {"foreign child: ownership before the container test",
         [](Fixture& f) { return outcome(f.doc.insert_child_at(f.a, 0, *f.other.create_char(U'z'))); },
         "node belongs to a different document"},
        {"foreign parent",
         [](Fixture& f) { return outcome(f.doc.append_child(f.other.root(), f.chr())); },
         "node belongs to a different document"},
        {"freed child",
         [](Fixture& f) {
             NodeId n = f.chr();
             (void)f.doc.append_child(f.g, n);
             (void)f.doc.remove(n);
             return outcome(f.doc.append_child(f.g, n));
         },
         "node not found"},
        // Attaching.
        {"index one past the end",
         [](Fixture& f) { return outcome(f.doc.insert_child_at(f.root, f.root_count() + 1, f.chr())); },
         "index out of bounds"},
        {"attached child", [](Fixture& f) { return outcome(f.doc.append_child(f.g, f.b)); },
         "expected a detached root"},
        {"root as child", [](Fixture& f) { return outcome(f.doc.append_child(f.g, f.root)); },
         "cannot edit the root node"},
        {"cycle",
         [](Fixture& f) {
             NodeId outer = f.grp(), inner = f.grp();
             f.doc.append_child(outer, inner);
             return outcome(f.doc.append_child(inner, outer));
         },
         "edit would create a cycle"},
        {"cycle before the index", [](Fixture& f) {
             NodeId outer = f.grp(), inner = f.grp();
             f.doc.append_child(outer, inner);
             return outcome(f.doc.insert_child_at(inner, 9, outer));
         },
         "edit would create a cycle"},
        {"insert before the root", [](Fixture& f) { return outcome(f.doc.insert_before(f.root, f.chr())); },
         "node not found"},
        {"insert after a detached root", [](Fixture& f) { return outcome(f.doc.insert_after(f.chr(), f.chr())); },
         "node not found"},
        {"insert before argument content", [](Fixture& f) { return outcome(f.doc.insert_before(f.x, f.chr())); },
         "slot shape mismatch: expected group child"},
        {"insert after with attached new", [](Fixture& f) { return outcome(f.doc.insert_after(f.b, f.a)); },
         "expected a detached root"},
        // Removing.
        {"remove detached root", [](Fixture& f) { return outcome(f.doc.remove(f.chr())); },
         "slot shape mismatch: expected group child"},
        {"extract argument content", [](Fixture& f) { return outcome(f.doc.extract(f.x)); },
         "slot shape mismatch: expected group child"},
        {"remove root", [](Fixture& f) { return outcome(f.doc.remove(f.root)); }, "cannot edit the root node"},
        {"clear a char", [](Fixture& f) { return outcome(f.doc.clear(f.a)); }, "node is not a container"},
        // Replacing.
        {"environment body by a char", [](Fixture& f) { return outcome(f.doc.replace_with(f.body, f.chr())); },
         "slot shape mismatch: expected group"},
        {"replace the root", [](Fixture& f) { return outcome(f.doc.replace_with(f.root, f.grp())); },
         "cannot edit the root node"},
        {"replace by an attached node", [](Fixture& f) { return outcome(f.doc.replace_with(f.b, f.c)); },
         "expected a detached root"},
        {"replace a node by itself", [](Fixture& f) {
             NodeId n = f.chr();
             return outcome(f.doc.replace_with(n, n));
         },
         "edit would create a cycle"},
        {"replace a detached root", [](Fixture& f) { return outcome(f.doc.replace_with(f.chr(), f.chr())); },
         "node not found"},
        // Wrapping.
        {"wrap in a char", [](Fixture& f) { return outcome(f.doc.wrap(f.b, f.chr())); }, "node is not a container"},
        {"wrap the root", [](Fixture& f) { return outcome(f.doc.wrap(f.root, f.chr())); },
         "cannot edit the root node"},
        {"wrap in an attached group", [](Fixture& f) { return outcome(f.doc.wrap(f.a, f.g)); },
         "expected a detached root"},
        {"wrap in the root", [](Fixture& f) { return outcome(f.doc.wrap(f.a, f.root)); },
         "cannot edit the root node"},
        {"wrap a detached node", [](Fixture& f) { return outcome(f.doc.wrap(f.chr(), f.grp())); },
         "node not found"},
        {"wrap argument content", [](Fixture& f) { return outcome(f.doc.wrap(f.x, f.grp())); },
         "slot shape mismatch: expected group child"},
        {"wrap a node of the wrapper",
         [](Fixture& f) {
             NodeId w = f.grp(), inner = f.grp(), k = f.chr();
             f.doc.append_child(w, inner);
             f.doc.append_child(inner, k);
             return outcome(f.doc.wrap(k, w));
         },
         "edit would create a cycle"},
        // Unwrapping.
        {"unwrap a char", [](Fixture& f) { return outcome(f.doc.unwrap(f.a)); }, "slot shape mismatch: expected group"},
        {"unwrap the root", [](Fixture& f) { return outcome(f.doc.unwrap(f.root)); }, "cannot edit the root node"},
        {"unwrap a detached group", [](Fixture& f) { return outcome(f.doc.unwrap(f.grp())); }, "node not found"},
        {"unwrap an environment body", [](Fixture& f) { return outcome(f.doc.unwrap(f.body)); },
         "slot shape mismatch: expected group child"},
        // Values.
        {"set_char on a group", [](Fixture& f) { return outcome(f.doc.set_char(f.g, U'q')); },
         "slot shape mismatch: expected char node"},
        {"set_char to a surrogate", [](Fixture& f) { return outcome(f.doc.set_char(f.a, 0xD800)); },
         "character must be a Unicode scalar value"},
        {"set_text on a char", [](Fixture& f) { return outcome(f.doc.set_text(f.a, "t")); },
         "slot shape mismatch: expected text node"},
        {"rename a char", [](Fixture& f) { return outcome(f.doc.set_command_name(f.a, "q")); },
         "slot shape mismatch: expected command-like node"},
        {"set_arg on a char", [](Fixture& f) { return outcome(f.doc.set_arg(f.a, 0, ArgValue::CSName{"q"})); },
         "slot shape mismatch: expected command-like node"},
        {"set_arg past the slots", [](Fixture& f) { return outcome(f.doc.set_arg(f.frac, 2, ArgValue::CSName{"q"})); },
         "index out of bounds"},
        {"set_arg on an empty slot",
         [](Fixture& f) { return outcome(f.doc.set_arg(f.frac, 0, ArgValue::Math{f.chr()})); },
         "slot shape mismatch: expected filled argument slot"},
        {"boolean into a mandatory slot",
         [](Fixture& f) { return outcome(f.doc.set_arg(f.frac, 1, ArgValue::Boolean{true})); },
         "slot shape mismatch: expected non-boolean argument value"},
        {"name into a star slot",
         [](Fixture& f) { return outcome(f.doc.set_arg(f.foo, 0, ArgValue::CSName{"q"})); },
         "slot shape mismatch: expected boolean value"},
        {"attached content",
         [](Fixture& f) { return outcome(f.doc.set_arg(f.frac, 1, ArgValue::Math{f.b})); },
         "expected a detached root"},
        {"foreign content",
         [](Fixture& f) { return outcome(f.doc.set_arg(f.frac, 1, ArgValue::Text{*f.other.create_char(U'q')})); },
         "node belongs to a different document"},
        {"content holding the node",
         [](Fixture& f) {
             NodeId cmd = *f.doc.create_command("f", {ArgValue::Math{f.chr()}});
             NodeId w = f.grp();
             f.doc.append_child(w, cmd);
             return outcome(f.doc.set_arg(cmd, 0, ArgValue::Math{w}));
         },
         "edit would create a cycle"},
        {"surrogate delimiter",
         [](Fixture& f) {
             return outcome(f.doc.set_arg(f.frac, 1, ArgValue::Delimiter{sn::Delimiter::character(0xDFFF)}));
         },
         "character must be a Unicode scalar value"},
        // Creating.
        {"one node twice",
         [](Fixture& f) {
             NodeId n = f.chr();
             return outcome(f.doc.create_command("f", {ArgValue::Math{n}, ArgValue::Text{n}}));
         },
         "node cannot appear more than once"},
        {"attached argument", [](Fixture& f) { return outcome(f.doc.create_declarative("f", {ArgValue::Math{f.b}})); },
         "expected a detached root"},
        {"root argument", [](Fixture& f) { return outcome(f.doc.create_command("f", {ArgValue::Math{f.root}})); },
         "cannot edit the root node"},
        {"char body", [](Fixture& f) { return outcome(f.doc.create_environment("m", {}, f.chr())); },
         "slot shape mismatch: expected group"},
        {"attached body", [](Fixture& f) { return outcome(f.doc.create_environment("m", {}, f.g)); },
         "expected a detached root"},
        {"body also an argument",
         [](Fixture& f) {
             NodeId body = f.grp();
             return outcome(f.doc.create_environment("m", {ArgValue::Math{body}}, body));
         },
         "node cannot appear more than once"},
        {"surrogate char", [](Fixture& f) { return outcome(f.doc.create_char(0x110000)); },
         "character must be a Unicode scalar value"},
        {"root value", [](Fixture& f) { return outcome(f.doc.create_node(Node::Root{})); }, "cannot edit the root node"},
        {"node value with an attached child",
         [](Fixture& f) { return outcome(f.doc.create_node(Node::Group{{f.b.node}, {}, ContentMode::Math})); },
         "expected a detached root"},
        {"node value naming a child twice",
         [](Fixture& f) {
             NodeId n = f.chr();
             return outcome(f.doc.create_node(Node::Group{{n.node, n.node}, {}, ContentMode::Math}));
         },
         "node cannot appear more than once"},
        {"node value with a boolean in a mandatory slot",
         [](Fixture& f) {
             sx::ast::ArgumentSlots args;
             args.push_back(sx::ast::Argument{sn::ArgumentKind::Mandatory{}, false, sx::ast::ArgumentValue::Boolean{true}});
             return outcome(f.doc.create_node(Node::Command{"f", std::move(args), false}));
         },
         "slot shape mismatch: expected non-boolean argument value"},
        {"node value with a char body",
         [](Fixture& f) { return outcome(f.doc.create_node(Node::Environment{"m", {}, false, f.chr().node})); },
         "slot shape mismatch: expected group"},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        SyntaxNode before = f.doc.to_syntax();
        EXPECT_EQ(c.run(f), c.expected);
        // Refused edits change nothing; preparations touch only detached nodes.
        EXPECT_EQ(f.doc.to_syntax(), before);
    }
}

TEST(DocumentEdit, ReadOnlyRefusesEverything) {
    auto doc = Document::from_syntax(root({math({SyntaxNode::Error{"m", "s"}}), ch(U'a')}));
    ASSERT_TRUE(doc.has_value());
    auto a = doc->node(doc->root())->children()[1].handle();
    const std::string ro = "document is read-only";
    EXPECT_EQ(outcome(doc->create_char(U'x')), ro);
    EXPECT_EQ(outcome(doc->create_active_space()), ro);
    EXPECT_EQ(outcome(doc->create_command("f", {})), ro);
    EXPECT_EQ(outcome(doc->create_node(Node::Text{"t"})), ro);
    EXPECT_EQ(outcome(doc->remove(a)), ro);
    EXPECT_EQ(outcome(doc->set_char(a, U'b')), ro);
    // The read-only test precedes the ownership test.
    Document other;
    EXPECT_EQ(outcome(doc->append_child(other.root(), other.root())), ro);
    EXPECT_EQ(*doc->to_latex(), "{ s } a");
}

TEST(DocumentEdit, AttachAndMove) {
    Fixture f;
    // An index equal to the child count appends.
    NodeId n = f.chr(U'n');
    ASSERT_TRUE(f.doc.insert_child_at(f.g, 2, n));
    EXPECT_EQ(f.doc.node(n)->prev_sibling()->handle(), f.c);
    NodeId m = f.chr(U'm');
    ASSERT_TRUE(f.doc.insert_before(f.b, m));
    NodeId p = f.chr(U'p');
    ASSERT_TRUE(f.doc.insert_after(f.b, p));
    EXPECT_EQ(f.doc.node(f.g)->children().size(), 5u);
    EXPECT_EQ(f.latex().substr(0, 17), "a { m b p c n } \\");

    // Extract keeps the node as a detached root; it can be attached again.
    ASSERT_TRUE(f.doc.extract(p));
    EXPECT_FALSE(f.doc.node(p)->parent().has_value());
    ASSERT_TRUE(f.doc.append_child(f.root, p));
    EXPECT_EQ(f.doc.node(f.root)->children().back().character(), U'p');

    ASSERT_TRUE(f.doc.clear(f.g));
    EXPECT_EQ(outcome(f.doc.node(f.b)), "node not found");
    EXPECT_TRUE(f.doc.node(f.g)->children().empty());
}

TEST(DocumentEdit, WrapAndUnwrap) {
    auto doc = Document::from_syntax(root({ch(U'a'), ch(U'b'), math({ch(U'x'), ch(U'y'), ch(U'z')}), ch(U'c')}));
    ASSERT_TRUE(doc.has_value());
    auto kids = doc->node(doc->root())->children();
    auto inner = kids[2].children();
    auto got = doc->unwrap(kids[2].handle());
    ASSERT_TRUE(got.has_value());
    ASSERT_EQ(got->size(), 3u);
    auto after = doc->node(doc->root())->children();
    ASSERT_EQ(after.size(), 6u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ((*got)[i], inner[i].handle());
        EXPECT_EQ(after[2 + i].handle(), inner[i].handle());
    }
    EXPECT_EQ(outcome(doc->node(kids[2].handle())), "node not found");

    // The target goes after the wrapper's own children.
    auto wrapper = *doc->create_group(ContentMode::Math);
    ASSERT_TRUE(doc->append_child(wrapper, *doc->create_char(U'w')));
    auto wrapped = doc->wrap(kids[1].handle(), wrapper);
    ASSERT_TRUE(wrapped.has_value());
    EXPECT_EQ(*wrapped, wrapper);
    EXPECT_EQ(*doc->to_latex(), "a { w b } x y z c");
}

TEST(DocumentEdit, ReplaceAndSetValues) {
    Fixture f;
    // Environment body by a detached group: the old body is freed.
    NodeId new_body = f.grp();
    ASSERT_TRUE(f.doc.append_child(new_body, f.chr(U'e')));
    ASSERT_TRUE(f.doc.replace_with(f.body, new_body));
    EXPECT_EQ(outcome(f.doc.node(f.body)), "node not found");
    EXPECT_EQ(f.doc.node(f.env)->env_body()->handle(), new_body);

    // A content slot keeps its kind; a group child keeps its index.
    NodeId q = f.chr(U'q');
    ASSERT_TRUE(f.doc.replace_with(f.x, q));
    EXPECT_EQ(f.doc.node(f.frac)->arg(1)->get_if<sx::ArgRef::Math>()->node.handle(), q);
    NodeId r = f.chr(U'r');
    ASSERT_TRUE(f.doc.replace_with(f.a, r));
    EXPECT_EQ(f.doc.node(f.root)->children()[0].handle(), r);

    ASSERT_TRUE(f.doc.set_char(r, U's'));
    ASSERT_TRUE(f.doc.set_command_name(f.env, "pmatrix"));
    ASSERT_TRUE(f.doc.set_arg(f.foo, 0, ArgValue::Boolean{false}));
    NodeId t = *f.doc.create_node(Node::Text{"tt"});
    ASSERT_TRUE(f.doc.set_arg(f.foo, 1, ArgValue::Text{t}));
    ASSERT_TRUE(f.doc.set_text(t, "uv"));
    EXPECT_EQ(f.latex(), "s { b c } \\frac { q } \\begin {pmatrix} e \\end {pmatrix} \\foo {uv}");

    // Replacing content frees the old content.
    NodeId v = f.chr(U'v');
    ASSERT_TRUE(f.doc.set_arg(f.frac, 1, ArgValue::CSName{"n"}));
    EXPECT_EQ(outcome(f.doc.node(q)), "node not found");
    ASSERT_TRUE(f.doc.set_arg(f.frac, 1, ArgValue::Math{v}));
    EXPECT_EQ(f.doc.node(v)->parent()->handle(), f.frac);
}

TEST(DocumentEdit, OperatorNameSlotBecomesMath) {
    auto doc = Document::from_syntax(root({command("operatorname", {opname_arg(ch(U'a'))})}));
    ASSERT_TRUE(doc.has_value());
    auto cmd = doc->node(doc->root())->children()[0].handle();
    ASSERT_TRUE(doc->set_arg(cmd, 0, ArgValue::Math{*doc->create_char(U'b')}));
    auto tree = doc->to_syntax();
    const auto& args = std::get<SyntaxNode::Root>(tree.value).children[0].args();
    ASSERT_NE(args, nullptr);
    EXPECT_TRUE(std::holds_alternative<sn::ArgumentValue::MathContent>((*args)[0]->value.value));
}

TEST(DocumentEdit, CreatedCommandSlots) {
    Document doc;
    auto a = *doc.create_char(U'a');
    auto cmd = doc.create_command("f", {ArgValue::Math{a}, ArgValue::Boolean{true}, ArgValue::Dimension{"1pt"}});
    ASSERT_TRUE(cmd.has_value());
    ASSERT_TRUE(doc.append_child(doc.root(), *cmd));
    auto ref = *doc.node(*cmd);
    ASSERT_EQ(ref.arg_count(), 3u);
    EXPECT_EQ(ref.arg(0)->get_if<sx::ArgRef::Math>()->node.handle(), a);
    EXPECT_TRUE(ref.arg(1)->get_if<sx::ArgRef::Boolean>()->value);
    auto tree = doc.to_syntax();
    EXPECT_EQ(tree, root({command("f",
                                  {math_arg(ch(U'a')),
                                   sn::Argument{sn::ArgumentKind::Star{}, false, sn::ArgumentValue::Boolean{true}},
                                   sn::Argument{sn::ArgumentKind::Group{}, false, sn::ArgumentValue::Dimension{"1pt"}}},
                                  false)}));
    EXPECT_EQ(*doc.to_latex(), "\\f { a }* {1pt}");

    auto body = *doc.create_group(ContentMode::Text);
    auto env = doc.create_environment("e", {ArgValue::Text{*doc.create_node(Node::Text{"t"})}}, body);
    ASSERT_TRUE(env.has_value());
    ASSERT_TRUE(doc.append_child(doc.root(), *env));
    EXPECT_EQ(*doc.to_latex(), "\\f { a }* {1pt} \\begin {e} {t} \\end {e}");
}

// A name is accepted exactly when its written form reads back as that name:
// `\name` as one control sequence, `\begin{name}` as that environment.
TEST(DocumentEdit, NamesThatReadBack) {
    struct Case {
        const char* what;
        std::string name;
        bool command;
        bool environment;
    };
    const Case cases[] = {
        {"letters", "alpha", true, true},
        {"comma", ",", true, true},
        {"backslash", "\\", true, false},
        {"brace, read as a character", "{", false, false},
        {"percent, read as a character", "%", false, false},
        {"begin, read as an environment", "begin", false, true},
        {"right, read as a delimiter's end", "right", false, true},
        {"ampersand, a command of its own", "&", true, false},
        {"space", " ", true, false},
        {"star", "*", true, true},
        {"at sign", "@", true, true},
        {"non-ASCII symbol", "\xc3\xa9", true, true},
        {"empty", "", false, false},
        {"words", "not a name", false, false},
        {"letters then digit", "a1", false, true},
        {"letters then non-ASCII letter", "ab\xc3\xa9", false, true},
        {"starred", "matrix*", false, true},
        {"line feed", "\n", false, false},
        {"comment", "a%b", false, false},
        {"bracket", "a[", false, false},
        {"prime", "a'", false, false},
        {"right quote prime", "a\xe2\x80\x99", false, false},
        {"no-break space", "a\xc2\xa0", false, false},
        {"control character", "a\x01", false, false},
        {"bad UTF-8", "\xff", false, false},
    };
    // A refusal names the value: `command name "a1" cannot be written: ...`.
    const auto refused = [](std::string_view what) {
        return [what](const std::string& got) { return got.starts_with(std::string(what) + " \"") &&
                                                       got.find(" cannot be written: ") != std::string::npos; };
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto as_command = [&](const std::string& got) { return c.command ? got == "ok" : refused("command name")(got); };
        const auto as_environment = [&](const std::string& got) {
            return c.environment ? got == "ok" : refused("environment name")(got);
        };
        Fixture f;
        const std::string before = f.latex();
        EXPECT_PRED1(as_command, outcome(f.doc.create_command(c.name, {})));
        EXPECT_PRED1(as_command, outcome(f.doc.create_declarative(c.name, {})));
        EXPECT_PRED1(as_environment, outcome(f.doc.create_environment(c.name, {}, f.grp())));
        EXPECT_PRED1(as_command, outcome(f.doc.set_command_name(f.frac, c.name)));
        EXPECT_PRED1(as_environment, outcome(f.doc.set_command_name(f.env, c.name)));
        if (!c.command && !c.environment) {
            EXPECT_EQ(f.latex(), before);
        }
        EXPECT_EQ(Document::from_syntax(root({command(c.name, {})})).has_value(), c.command);
        EXPECT_EQ(Document::from_syntax(root({environment(c.name, math({}))})).has_value(), c.environment);

        if (c.command) {
            Document doc;
            ASSERT_TRUE(doc.append_child(doc.root(), *doc.create_command(c.name, {})));
            const std::string text = *doc.to_latex();
            quorvel::parse::Lexer lexer(text);
            const auto step = lexer.next();
            EXPECT_EQ(step.token.kind(), quorvel::parse::TokenKind::ControlSeq) << text;
            EXPECT_EQ(std::string_view(step.token.name()), c.name) << text;
        }
        if (c.environment) {
            Document doc;
            const NodeId body = *doc.create_group(ContentMode::Math);
            ASSERT_TRUE(doc.append_child(doc.root(), *doc.create_environment(c.name, {}, body)));
            const std::string text = *doc.to_latex();
            auto parsed = quorvel::parse::parse_source(quorvel::transform::testing::parse_context(), text, {});
            ASSERT_TRUE(parsed.document) << text;
            EXPECT_TRUE(parsed.diagnostics.empty()) << text;
            EXPECT_EQ(parsed.document->find_environments(c.name).size(), 1u) << text;
        }
    }
}

}  // namespace
