#include <array>
#include <cstdint>
#include <functional>
#include <random>

#include <gtest/gtest.h>

#include "syntax/conversion.hpp"
#include "syntax_test_util.hpp"
#include "util/work_count.hpp"

namespace {

using namespace syntax_test;
using sx::Ast;
using sx::NodeKind;
using sx::Slot;
using sx::ast::Node;
using sx::ast::NodeId;

// Checks the arena's invariants: the root has no link and is not detached;
// every other live node has exactly one of a link or detached membership;
// each link agrees with its parent's edges and vice versa.
::testing::AssertionResult invariants_hold(const Ast& ast) {
    std::string problem;
    ast.for_each_node([&](NodeId id, const Node& node) {
        if (!problem.empty()) return;
        const auto* link = ast.parent_link(id);
        bool detached = ast.is_detached_root(id);
        if (id == ast.root()) {
            if (link || detached || node.kind() != NodeKind::Root) problem = "bad root";
        } else if (node.kind() == NodeKind::Root) {
            problem = "second Root";
        } else if ((link != nullptr) == detached) {
            problem = "link/detached mismatch at " + sx::ast::debug_string(id);
        } else if (link) {
            bool found = false;
            sx::for_each_edge(ast.node(link->parent), [&](NodeId child, Slot slot) {
                if (child == id && slot == link->slot) found = true;
            });
            if (!found) problem = "link not mirrored at " + sx::ast::debug_string(id);
        }
        sx::for_each_edge(node, [&](NodeId child, Slot slot) {
            const auto* child_link = ast.parent_link(child);
            if (!child_link || child_link->parent != id || !(child_link->slot == slot)) {
                problem = "edge without link from " + sx::ast::debug_string(id);
            }
        });
    });
    if (problem.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << problem;
}

NodeId edge(const Ast& ast, NodeId id, std::size_t i) { return Ast::node_edges(ast.node(id))[i].first; }

NodeId new_char(Ast& ast, char32_t c) { return ast.new_node(Node::Char{c}); }

std::string render(const Ast& ast, NodeId id) { return sx::debug_string(ast.to_syntax_node(id)); }

// A tree with one node of most kinds, and handles to its parts.
struct Fixture {
    Ast ast;
    NodeId root, g, a, b, c, cmd, m, t, env, body, inf, left, right, ia, scr, x, s, p;

    Fixture()
        : ast(Ast::from_syntax_root(root_node({
              math({ch(U'a'), ch(U'b'), ch(U'c')}),
              command("frac", {math_arg(math({ch(U'1')})), dim_arg("2pt"),
                               text_arg(group(ContentMode::Text, {text("t")}))}),
              environment("matrix", math({ch(U'e')})),
              infix("over", ch(U'l'), ch(U'r'), {math_arg(ch(U'i'))}),
              scripted(ch(U'x'), ch(U's'), ch(U'p')),
          }))) {
        root = ast.root();
        g = edge(ast, root, 0);
        a = edge(ast, g, 0);
        b = edge(ast, g, 1);
        c = edge(ast, g, 2);
        cmd = edge(ast, root, 1);
        m = edge(ast, cmd, 0);
        t = edge(ast, cmd, 1);
        env = edge(ast, root, 2);
        body = edge(ast, env, 0);
        inf = edge(ast, root, 3);
        left = edge(ast, inf, 0);
        ia = edge(ast, inf, 1);
        right = edge(ast, inf, 2);
        scr = edge(ast, root, 4);
        x = edge(ast, scr, 0);
        s = edge(ast, scr, 1);
        p = edge(ast, scr, 2);
    }

    static SyntaxNode root_node(std::vector<SyntaxNode> children) { return syntax_test::root(std::move(children)); }
};

TEST(SyntaxAst, KeysGoStaleAndStaySo) {
    Ast ast = Ast::with_root_mode(ContentMode::Math);
    ASSERT_NE(ast.node_opt(ast.root()), nullptr);
    EXPECT_EQ(ast.kind(ast.root()), NodeKind::Root);
    EXPECT_EQ(sx::ast::debug_string(ast.root()), "NodeId(1v1)");

    NodeId old = new_char(ast, U'x');
    ast.append_child(ast.root(), old);
    ast.remove_node(old);
    EXPECT_EQ(ast.node_opt(old), nullptr);
    EXPECT_EQ(internal_message([&] { ast.kind(old); }), "Invalid NodeId");

    NodeId reused = new_char(ast, U'y');
    EXPECT_EQ(reused.index, old.index);
    EXPECT_NE(reused.version, old.version);
    EXPECT_NE(reused, old);
    EXPECT_EQ(ast.kind(reused), NodeKind::Char);
    EXPECT_EQ(ast.node_opt(old), nullptr);
    EXPECT_EQ(internal_message([&] { ast.kind(old); }), "Invalid NodeId");
    EXPECT_EQ(ast.node_opt(NodeId{}), nullptr);
}

TEST(SyntaxAst, NodeEdgesOrder) {
    const NodeId n1{11, 1}, n2{12, 1}, n3{13, 1}, n4{14, 1};
    auto math_content = [](NodeId id) {
        return sx::ast::Argument{sn::ArgumentKind::Mandatory{}, false,
                                 sx::ast::ArgumentValue::MathContent{id}};
    };
    auto dimension = sx::ast::Argument{sn::ArgumentKind::Optional{}, false,
                                       sx::ast::ArgumentValue::Dimension{"1pt"}};
    struct Case {
        const char* name;
        Node value;
        std::vector<sx::Edge> expected;
    };
    const Case cases[] = {
        {"infix: left, content, right; dimension lists nothing",
         Node::Infix{"over", {math_content(n3), dimension}, n1, n2},
         {{n1, Slot::infix_left()}, {n3, Slot::argument(0)}, {n2, Slot::infix_right()}}},
        {"scripted with only a superscript", Node::Scripted{n1, std::nullopt, n2},
         {{n1, Slot::script_base()}, {n2, Slot::script_sup()}}},
        {"scripted with both scripts", Node::Scripted{n1, n2, n3},
         {{n1, Slot::script_base()}, {n2, Slot::script_sub()}, {n3, Slot::script_sup()}}},
        {"command skips empty and plain slots",
         Node::Command{"f", {std::nullopt, math_content(n2), dimension, math_content(n1)}, false},
         {{n2, Slot::argument(1)}, {n1, Slot::argument(3)}}},
        {"environment: arguments, then body",
         Node::Environment{"e", {sx::ast::Argument{sn::ArgumentKind::Mandatory{}, false,
                                                   sx::ast::ArgumentValue::TextContent{n2}}},
                           false, n1},
         {{n2, Slot::argument(0)}, {n1, Slot::env_body()}}},
        {"group children in order", Node::Group{{n4, n3, n1}, sn::GroupKind::Explicit{}, ContentMode::Text},
         {{n4, Slot::group_child(0)}, {n3, Slot::group_child(1)}, {n1, Slot::group_child(2)}}},
        {"declarative operator-name content",
         Node::Declarative{"d", {sx::ast::Argument{sn::ArgumentKind::Group{}, true,
                                                   sx::ast::ArgumentValue::OperatorNameContent{n4}}}},
         {{n4, Slot::argument(0)}}},
        {"leaf", Node::Prime{2}, {}},
        {"error leaf", Node::Error{"m", "s"}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Ast::node_edges(c.value), c.expected) << c.name;
    }
}

TEST(SyntaxAst, Reading) {
    Fixture f;
    Ast& ast = f.ast;
    EXPECT_TRUE(ast.children(f.cmd).empty());
    EXPECT_TRUE(ast.arg_slots(f.g).empty());
    EXPECT_EQ(ast.arg_slots(f.cmd).size(), 3u);
    EXPECT_EQ(ast.children(f.g).size(), 3u);

    EXPECT_EQ(ast.next_sibling(f.a), f.b);
    EXPECT_EQ(ast.prev_sibling(f.b), f.a);
    EXPECT_EQ(ast.next_sibling(f.c), std::nullopt);
    EXPECT_EQ(ast.prev_sibling(f.a), std::nullopt);
    EXPECT_EQ(ast.next_sibling(f.m), std::nullopt);
    EXPECT_EQ(ast.next_sibling(f.root), std::nullopt);

    EXPECT_EQ(ast.slot(f.t), Slot::argument(2));
    EXPECT_EQ(ast.parent_id(f.t), f.cmd);
    EXPECT_EQ(ast.slot(f.root), std::nullopt);

    NodeId d = new_char(ast, U'd');
    EXPECT_EQ(ast.slot(d), std::nullopt);
    EXPECT_EQ(ast.parent_id(d), std::nullopt);
    EXPECT_TRUE(ast.is_detached_root(d));
    EXPECT_FALSE(ast.is_detached_root(f.root));

    std::vector<NodeId> all;
    ast.find_all_impl(f.inf, [](const Node&) { return true; }, all);
    EXPECT_EQ(all, (std::vector<NodeId>{f.inf, f.left, f.ia, f.right}));

    std::vector<NodeId> chars;
    ast.find_all_impl(f.root, [](const Node& n) { return n.is<Node::Char>(); }, chars);
    EXPECT_EQ(chars.size(), 11u);
    EXPECT_EQ(chars.front(), f.a);
    EXPECT_EQ(chars.back(), f.p);

    auto found = ast.find_impl(f.root, [](const Node& n) {
        const auto* c = n.get_if<Node::Char>();
        return c && (c->value == U'r' || c->value == U'x');
    });
    EXPECT_EQ(found, f.right);

    std::vector<NodeId> post;
    ast.collect_postorder(f.scr, post);
    EXPECT_EQ(post, (std::vector<NodeId>{f.x, f.s, f.p, f.scr}));

    EXPECT_TRUE(ast.subtree_contains(f.cmd, f.t));
    EXPECT_TRUE(ast.subtree_contains(f.cmd, f.cmd));
    EXPECT_FALSE(ast.subtree_contains(f.cmd, f.a));
    EXPECT_TRUE(invariants_hold(ast));
}

// Under the root, top{place{cut{inner{z}}, x}}, with cut detached from
// place: the parts {cut, inner, x, top}.
std::array<NodeId, 4> cut_beside(Ast& ast) {
    auto group = [&](std::vector<NodeId> children) {
        return ast.new_node(Node::Group{sx::ast::ChildList(std::span<const NodeId>(children)), {}, ContentMode::Math});
    };
    const NodeId inner = group({new_char(ast, U'z')});
    const NodeId cut = group({inner});
    const NodeId x = group({});
    const NodeId top = group({group({cut, x})});
    ast.append_child(ast.root(), top);
    ast.detach(cut);
    return {cut, inner, x, top};
}

struct FailureCase {
    const char* name;
    // Prepares the case and returns the failing call.
    std::function<std::function<void()>(Fixture&)> prepare;
    const char* expected;
    bool leaves_tree_unchanged = true;
};

TEST(SyntaxAst, RefusedEdits) {
    const FailureCase cases[] = {
        {"new_node of a Root",
         [](Fixture& f) { return [&f] { f.ast.new_node(Node::Root{}); }; },
         "Cannot create detached root node"},
        {"new_node naming a child twice",
         [](Fixture& f) {
             NodeId d = new_char(f.ast, U'd');
             return [&f, d] { f.ast.new_node(Node::Group{{d, d}, {}, ContentMode::Math}); };
         },
         "Node cannot reference the same child twice"},
        {"new_node with a Char body",
         [](Fixture& f) {
             NodeId d = new_char(f.ast, U'd');
             return [&f, d] { f.ast.new_node(Node::Environment{"e", {}, false, d}); };
         },
         "Environment body must be a Group node", false},
        {"new_node over an attached child",
         [](Fixture& f) {
             return [&f] { f.ast.new_node(Node::Group{{f.a}, {}, ContentMode::Math}); };
         },
         "Cannot attach child that already has a parent", false},
        {"append an attached child",
         [](Fixture& f) { return [&f] { f.ast.append_child(f.root, f.a); }; },
         "Cannot attach child that already has a parent"},
        {"append the root", [](Fixture& f) { return [&f] { f.ast.append_child(f.g, f.root); }; },
         "Cannot attach the AST root as a child"},
        {"append to a Command",
         [](Fixture& f) {
             NodeId d = new_char(f.ast, U'd');
             return [&f, d] { f.ast.append_child(f.cmd, d); };
         },
         "Parent is not a root/group node"},
        {"append a node inside itself",
         [](Fixture& f) {
             NodeId inner = f.ast.new_node(Node::Group{});
             NodeId outer = f.ast.new_node(Node::Group{{inner}, {}, ContentMode::Math});
             return [&f, inner, outer] { f.ast.append_child(inner, outer); };
         },
         "Cannot create an ancestor cycle"},
        {"append a stale child",
         [](Fixture& f) {
             NodeId d = new_char(f.ast, U'd');
             f.ast.remove_detached(d);
             return [&f, d] { f.ast.append_child(f.g, d); };
         },
         "Invalid child NodeId"},
        {"insert past the end",
         [](Fixture& f) {
             NodeId d = new_char(f.ast, U'd');
             return [&f, d] { f.ast.insert_child(f.g, 4, d); };
         },
         "insertion index (is 4) should be <= len (is 3)"},
        {"detach an argument's content", [](Fixture& f) { return [&f] { f.ast.detach(f.m); }; },
         "Can only detach GroupChild nodes"},
        {"detach the root", [](Fixture& f) { return [&f] { f.ast.detach(f.root); }; },
         "Cannot detach root node"},
        {"detach a detached root",
         [](Fixture& f) {
             NodeId d = new_char(f.ast, U'd');
             return [&f, d] { f.ast.detach(d); };
         },
         "Cannot detach node without a parent"},
        {"remove an operand", [](Fixture& f) { return [&f] { f.ast.remove_node(f.left); }; },
         "Can only detach GroupChild nodes"},
        {"remove_detached of an attached node",
         [](Fixture& f) { return [&f] { f.ast.remove_detached(f.a); }; },
         "Can only remove detached roots"},
        {"remove_detached of the root",
         [](Fixture& f) { return [&f] { f.ast.remove_detached(f.root); }; }, "Cannot remove root node"},
        {"clone the root", [](Fixture& f) { return [&f] { f.ast.clone_subtree(f.root); }; },
         "Cannot clone root node as a detached subtree"},
        {"clone a stale node",
         [](Fixture& f) {
             f.ast.remove_node(f.b);
             return [&f] { f.ast.clone_subtree(f.b); };
         },
         "Invalid NodeId"},
        {"replace_node naming a node attached elsewhere",
         [](Fixture& f) {
             return [&f] { f.ast.replace_node(f.g, Node::Group{{f.a, f.x}, {}, ContentMode::Math}); };
         },
         "Cannot attach child that already has a parent"},
        {"replace_node of the root",
         [](Fixture& f) { return [&f] { f.ast.replace_node(f.root, Node::Char{U'q'}); }; },
         "Cannot replace root node"},
        {"replace_node with a Root value",
         [](Fixture& f) { return [&f] { f.ast.replace_node(f.a, Node::Root{}); }; },
         "Cannot replace node with root variant"},
        {"replace_node with a Char body",
         [](Fixture& f) {
             NodeId d = new_char(f.ast, U'd');
             return [&f, d] { f.ast.replace_node(f.env, Node::Environment{"e", {}, false, d}); };
         },
         "Environment body must be a Group node"},
        {"replace_children repeating a child",
         [](Fixture& f) {
             return [&f] { f.ast.replace_children(f.g, std::vector<NodeId>{f.a, f.a}); };
         },
         "Node cannot reference the same child twice"},
        {"replace_children taking a node from elsewhere",
         [](Fixture& f) {
             return [&f] { f.ast.replace_children(f.g, std::vector<NodeId>{f.a, f.x}); };
         },
         "Cannot attach child that already has a parent"},
        {"replace_children putting a group in itself",
         [](Fixture& f) { return [&f] { f.ast.replace_children(f.g, std::vector<NodeId>{f.g}); }; },
         "Cannot create an ancestor cycle"},
        {"detach_children_range past the end",
         [](Fixture& f) { return [&f] { f.ast.detach_children_range(f.g, 1, 4); }; },
         "range end index 4 out of range for slice of length 3"},
        {"replace_content_child of a group child",
         [](Fixture& f) {
             NodeId d = new_char(f.ast, U'd');
             return [&f, d] { f.ast.replace_content_child(f.a, d); };
         },
         "Parent does not have replaceable content children"},
        {"replace_content_child of a body by a Char",
         [](Fixture& f) {
             NodeId d = new_char(f.ast, U'd');
             return [&f, d] { f.ast.replace_content_child(f.body, d); };
         },
         "Environment body must be a Group node"},
        {"replace_content_child of the root",
         [](Fixture& f) {
             NodeId d = new_char(f.ast, U'd');
             return [&f, d] { f.ast.replace_content_child(f.root, d); };
         },
         "Cannot replace root node"},
        {"replace_content_child of a detached node",
         [](Fixture& f) {
             NodeId d = new_char(f.ast, U'd');
             NodeId e = new_char(f.ast, U'e');
             return [&f, d, e] { f.ast.replace_content_child(d, e); };
         },
         "Cannot replace node without a parent"},
        {"replace_content_child by an attached node",
         [](Fixture& f) { return [&f] { f.ast.replace_content_child(f.m, f.a); }; },
         "Cannot attach child that already has a parent"},
        {"replace_content_child putting a node under itself",
         [](Fixture& f) {
             NodeId content = new_char(f.ast, U'o');
             NodeId holder = f.ast.new_node(Node::Command{
                 "f",
                 {sx::ast::Argument{sn::ArgumentKind::Mandatory{}, false,
                                    sx::ast::ArgumentValue::MathContent{content}}},
                 false});
             NodeId top = f.ast.new_node(Node::Group{{holder}, {}, ContentMode::Math});
             return [&f, content, top] { f.ast.replace_content_child(content, top); };
         },
         "Cannot create an ancestor cycle"},
        {"hoist_only_child of a group of three",
         [](Fixture& f) { return [&f] { f.ast.hoist_only_child(f.g); }; },
         "Can only hoist the only child of a group"},
        {"hoist_only_child of a Char",
         [](Fixture& f) { return [&f] { f.ast.hoist_only_child(f.x); }; },
         "Can only hoist the only child of a group"},
        {"hoist_only_child of the root",
         [](Fixture& f) { return [&f] { f.ast.hoist_only_child(f.root); }; },
         "Cannot replace root node"},
        {"hoist_only_child of a detached group",
         [](Fixture& f) {
             NodeId lone = f.ast.new_node(Node::Group{{new_char(f.ast, U'd')}, {}, ContentMode::Math});
             return [&f, lone] { f.ast.hoist_only_child(lone); };
         },
         "Cannot replace node without a parent"},
        {"hoist_only_child of a list child",
         [](Fixture& f) {
             f.ast.detach_children_range(f.g, 1, 3);
             return [&f] { f.ast.hoist_only_child(f.g); };
         },
         "Parent does not have replaceable content children"},
        {"hoist_only_child of a body holding a Char",
         [](Fixture& f) { return [&f] { f.ast.hoist_only_child(f.body); }; },
         "Environment body must be a Group node"},
        {"sequence naming one node twice",
         [](Fixture& f) {
             NodeId d = new_char(f.ast, U'd');
             return [&f, d] { f.ast.replace_with_math_sequence(f.b, {d}, d, {}); };
         },
         "Node cannot appear in a replacement sequence twice"},
        {"sequence naming an attached node",
         [](Fixture& f) { return [&f] { f.ast.replace_with_math_sequence(f.b, {}, f.a, {}); }; },
         "Cannot attach child that already has a parent"},
        {"sequence replacing the root",
         [](Fixture& f) {
             NodeId d = new_char(f.ast, U'd');
             return [&f, d] { f.ast.replace_with_math_sequence(f.root, {}, d, {}); };
         },
         "Cannot replace root node"},
        {"kind of a stale id",
         [](Fixture& f) {
             f.ast.remove_node(f.c);
             return [&f] { f.ast.kind(f.c); };
         },
         "Invalid NodeId"},
        // A cut subtree under a neighbour of the place it was cut from, once
        // that place was put inside it: below a node of it, or below its root.
        {"a cut node under its old place, moved inside it",
         [](Fixture& f) {
             auto [cut, inner, x, top] = cut_beside(f.ast);
             f.ast.append_child(inner, f.ast.detach(top));
             // Copied by name: a lambda captures no structured binding before clang 16.
             return [&f, cut = cut, x = x] { f.ast.append_child(x, cut); };
         },
         "Cannot create an ancestor cycle"},
        {"a cut node under its old place, moved under it",
         [](Fixture& f) {
             auto [cut, inner, x, top] = cut_beside(f.ast);
             f.ast.append_child(cut, f.ast.detach(top));
             return [&f, cut = cut, x = x] { f.ast.append_child(x, cut); };
         },
         "Cannot create an ancestor cycle"},
        // The place a cut leaves is an empty group, a leaf: put inside the
        // cut node, it is no longer outside.
        {"a cut node under the emptied place it left, moved inside it",
         [](Fixture& f) {
             auto group = [&](NodeId child) { return f.ast.new_node(Node::Group{{child}, {}, ContentMode::Math}); };
             const NodeId inner = group(new_char(f.ast, U'z'));
             const NodeId place = group(group(inner));
             f.ast.append_child(f.root, place);
             const NodeId cut = f.ast.detach(f.ast.child_at(place, 0));
             f.ast.append_child(inner, f.ast.detach(place));
             return [&f, cut, place] { f.ast.append_child(place, cut); };
         },
         "Cannot create an ancestor cycle"},
        // A new node over a cut node and a small subtree holding the place
        // the cut left: that place lies inside the new node.
        {"a new node holding a cut node's place, moved under that place",
         [](Fixture& f) {
             auto group = [&](NodeId child) { return f.ast.new_node(Node::Group{{child}, {}, ContentMode::Math}); };
             const NodeId place = group(group(new_char(f.ast, U'z')));
             f.ast.append_child(f.root, place);
             const NodeId cut = f.ast.detach(f.ast.child_at(place, 0));
             const NodeId holder = f.ast.new_node(Node::Group{{f.ast.detach(place)}, {}, ContentMode::Math});
             const NodeId top = f.ast.new_node(Node::Group{{cut, holder}, {}, ContentMode::Math});
             return [&f, top, place] { f.ast.append_child(place, top); };
         },
         "Cannot create an ancestor cycle"},
        {"a sequence holding the list it goes into",
         [](Fixture& f) {
             const NodeId x = new_char(f.ast, U'x');
             const NodeId list = f.ast.new_node(Node::Group{{x}, {}, ContentMode::Math});
             const NodeId holder = f.ast.new_node(Node::Group{{list}, {}, ContentMode::Math});
             return [&f, x, holder] { f.ast.replace_with_math_sequence(x, {}, new_char(f.ast, U'm'), {holder}); };
         },
         "Cannot create an ancestor cycle", false},
        {"take the root", [](Fixture& f) { return [&f] { f.ast.take(f.root); }; }, "Cannot take the root node"},
        {"take a stale node",
         [](Fixture& f) {
             f.ast.remove_node(f.b);
             return [&f] { f.ast.take(f.b); };
         },
         "Invalid NodeId"},
    };
    for (const auto& c : cases) {
        Fixture f;
        auto action = c.prepare(f);
        std::string before = render(f.ast, f.root);
        std::size_t count = f.ast.node_count();
        EXPECT_EQ(internal_message(action), c.expected) << c.name;
        if (c.leaves_tree_unchanged) {
            EXPECT_EQ(render(f.ast, f.root), before) << c.name;
            EXPECT_EQ(f.ast.node_count(), count) << c.name;
            EXPECT_TRUE(invariants_hold(f.ast)) << c.name;
        }
    }
}

std::vector<Slot> slots_of(const Ast& ast, std::span<const NodeId> ids) {
    std::vector<Slot> out;
    for (NodeId id : ids) out.push_back(*ast.slot(id));
    return out;
}

TEST(SyntaxAst, InsertAndDetachRenumber) {
    Fixture f;
    NodeId d = new_char(f.ast, U'd');
    f.ast.insert_child(f.g, 0, d);
    EXPECT_EQ(slots_of(f.ast, std::vector<NodeId>{d, f.a, f.b, f.c}),
              (std::vector<Slot>{Slot::group_child(0), Slot::group_child(1), Slot::group_child(2),
                                 Slot::group_child(3)}));
    EXPECT_FALSE(f.ast.is_detached_root(d));

    EXPECT_EQ(f.ast.detach(f.b), f.b);
    EXPECT_EQ(f.ast.slot(f.c), Slot::group_child(2));
    EXPECT_TRUE(f.ast.is_detached_root(f.b));
    EXPECT_EQ(f.ast.parent_id(f.b), std::nullopt);
    EXPECT_TRUE(invariants_hold(f.ast));

    // Removing a group child frees its subtree and renumbers later siblings.
    f.ast.remove_node(f.g);
    for (NodeId gone : {f.g, f.a, f.c, d}) EXPECT_EQ(f.ast.node_opt(gone), nullptr);
    EXPECT_EQ(f.ast.slot(f.cmd), Slot::group_child(0));
    EXPECT_EQ(f.ast.slot(f.scr), Slot::group_child(3));
    // The detached b survives on its own.
    EXPECT_TRUE(f.ast.is_detached_root(f.b));
    EXPECT_TRUE(invariants_hold(f.ast));
}

// The cycle check against a walk up the parent links, over every pair of a
// container and a detached subtree: the fixture's top-level nodes, each of
// another kind, and a chain deep enough that the up walk outlasts most
// subtrees.
TEST(SyntaxAst, CycleCheckAgreesWithTheParentLinks) {
    Fixture f;
    std::vector<NodeId> tops;
    for (NodeId top : std::vector<NodeId>(f.ast.children(f.root).begin(), f.ast.children(f.root).end())) {
        tops.push_back(f.ast.detach(top));
    }
    NodeId chain = f.ast.new_node(Node::Group{});
    NodeId at = chain;
    for (int k = 0; k < 40; ++k) {
        NodeId next = f.ast.new_node(Node::Group{});
        f.ast.append_child(at, next);
        at = next;
    }
    tops.push_back(chain);
    std::vector<NodeId> containers;
    f.ast.for_each_node([&](NodeId id, const Node& node) {
        if (node.child_list() != nullptr) containers.push_back(id);
    });
    auto under = [&](NodeId parent, NodeId top) {
        for (std::optional<NodeId> at = parent; at; at = f.ast.parent_id(*at)) {
            if (*at == top) return true;
        }
        return false;
    };
    for (NodeId parent : containers) {
        for (NodeId top : tops) {
            std::string message = internal_message([&] { f.ast.append_child(parent, top); });
            EXPECT_EQ(message, under(parent, top) ? "Cannot create an ancestor cycle" : "<no error>")
                << sx::ast::debug_string(top) << " under " << sx::ast::debug_string(parent);
            if (message == "<no error>") f.ast.detach(top);
        }
    }
    EXPECT_TRUE(invariants_hold(f.ast));
}

// The cycle check against the parent links again, after random edits that
// cut subtrees out and put them back, build new nodes over them, attach
// material inside them and empty nodes in place: the places the arena notes
// as outside a cut subtree never let a cycle through. Run bare, and in short
// batches, whose closing drops the notes.
TEST(SyntaxAst, CycleCheckAgreesAfterCutsAndMoves) {
    for (const int batch_steps : {0, 5}) {
        SCOPED_TRACE(batch_steps == 0 ? "no batch" : "batches of 5 steps");
        std::mt19937 rng(31);
        Ast ast = Ast::with_root_mode(sx::ContentMode::Math);
        std::optional<Ast::EditBatch> batch;  // closed before the arena goes
        auto pick = [&](const std::vector<NodeId>& ids) { return ids[rng() % ids.size()]; };
        auto group_of = [](std::vector<NodeId> children) {
            return Node::Group{sx::ast::ChildList(std::span<const NodeId>(children)), {}, ContentMode::Math};
        };
        std::vector<NodeId> made{ast.root()};
        for (int k = 0; k < 80; ++k) {
            NodeId group = ast.new_node(group_of({new_char(ast, U'x')}));
            ast.append_child(pick(made), group);
            made.push_back(group);
        }
        auto under = [&](NodeId parent, NodeId top) {
            for (std::optional<NodeId> at = parent; at; at = ast.parent_id(*at))
                if (*at == top) return true;
            return false;
        };
        std::size_t cycles = 0;
        std::size_t attached = 0;
        for (int step = 0; step < 4000; ++step) {
            if (batch_steps != 0 && step % batch_steps == 0) {
                batch.reset();
                batch.emplace(ast);
            }
            std::vector<NodeId> groups;
            std::vector<NodeId> listed;  // group children that are groups
            std::vector<NodeId> tops;    // detached group roots
            ast.for_each_node([&](NodeId id, const Node& node) {
                if (!node.is<Node::Group>()) return;
                groups.push_back(id);
                if (ast.is_detached_root(id)) tops.push_back(id);
                else if (ast.slot(id) && ast.slot(id)->is_group_child()) listed.push_back(id);
            });
            const unsigned op = rng() % 6;
            if (op == 0 && !listed.empty()) {
                ast.detach(pick(listed));
            } else if (op == 1 && !listed.empty()) {
                // Emptied in place: its children become cut roots.
                ast.replace_node(pick(listed), group_of({}));
            } else if (op == 2 && tops.size() >= 2) {
                NodeId first = pick(tops);
                NodeId second = pick(tops);
                if (first != second) ast.new_node(group_of({first, new_char(ast, U'y'), second}));
            } else if (!tops.empty()) {
                const NodeId top = pick(tops);
                const NodeId parent = pick(groups);
                std::string message;
                if (op == 3) {
                    std::vector<NodeId> children(ast.children(parent).begin(), ast.children(parent).end());
                    children.push_back(top);
                    message = internal_message([&] { ast.replace_node(parent, group_of(children)); });
                } else {
                    message = internal_message([&] { ast.append_child(parent, top); });
                }
                const bool cycle = under(parent, top);
                ASSERT_EQ(message, cycle ? "Cannot create an ancestor cycle" : "<no error>")
                    << "step " << step << ": " << sx::ast::debug_string(top) << " under "
                    << sx::ast::debug_string(parent);
                cycles += cycle;
                attached += !cycle;
            }
        }
        batch.reset();
        EXPECT_TRUE(invariants_hold(ast));
        EXPECT_GT(cycles, 100u);
        EXPECT_GT(attached, 100u);
    }
}

// A subtree cut out of a deep tree and put back one level up, or under its
// former sibling, costs a constant step, however deep the place and however
// large the subtree: the rewrites of nested infixes and radicals do this at
// every level.
TEST(SyntaxAst, CutsPutBackNearbyCostNoWalk) {
    // A chain of n explicit groups, each holding an infix whose right operand
    // is the next group, and at each level in turn (from the top): the infix
    // emptied, and its group given a value over the operands.
    auto operands_up = [](std::size_t n) {
        Ast ast = Ast::with_root_mode(sx::ContentMode::Math);
        NodeId inner = new_char(ast, U'x');
        std::vector<NodeId> groups;
        for (std::size_t k = 0; k < n; ++k) {
            NodeId infix = ast.new_node(Node::Infix{"over", {}, new_char(ast, U'a'), inner});
            inner = ast.new_node(Node::Group{sx::ast::ChildList(std::span<const NodeId>(&infix, 1)),
                                             sx::ast::GroupKind::Explicit{}, ContentMode::Math});
            groups.push_back(inner);
        }
        ast.append_child(ast.root(), inner);
        const std::uint64_t before = quorvel::util::work_count;
        for (std::size_t k = n; k-- > 0;) {
            const NodeId infix = ast.children(groups[k])[0];
            const auto* value = ast.node(infix).get_if<Node::Infix>();
            const NodeId left = value->left;
            const NodeId right = value->right;
            ast.replace_node(infix, Node::Text{});
            sx::ast::ArgumentSlots args;
            args.push_back(sx::ast::Argument{sx::ast::ArgumentKind::Mandatory{}, false,
                                             sx::ast::ArgumentValue::MathContent{left}});
            args.push_back(sx::ast::Argument{sx::ast::ArgumentKind::Mandatory{}, false,
                                             sx::ast::ArgumentValue::MathContent{right}});
            ast.replace_node(groups[k], Node::Command{"frac", std::move(args), true});
            ast.remove_detached(infix);
        }
        const std::uint64_t work = quorvel::util::work_count - before;
        EXPECT_TRUE(invariants_hold(ast));
        return work;
    };
    // A chain of n lists, each [\root, \of, next list]: at each level from the
    // top, the next list is cut out and put under the \root.
    auto sibling_in = [](std::size_t n) {
        Ast ast = Ast::with_root_mode(sx::ContentMode::Math);
        NodeId inner = new_char(ast, U'x');
        std::vector<NodeId> roots;
        for (std::size_t k = 0; k < n; ++k) {
            NodeId root_cmd = ast.new_node(Node::Command{"root", {}, true});
            NodeId of = ast.new_node(Node::Command{"of", {}, true});
            roots.push_back(root_cmd);
            const NodeId list[] = {root_cmd, of, inner};
            inner = ast.new_node(Node::Group{sx::ast::ChildList(std::span<const NodeId>(list)),
                                             sx::ast::GroupKind::Explicit{}, ContentMode::Math});
        }
        ast.append_child(ast.root(), inner);
        const std::uint64_t before = quorvel::util::work_count;
        for (std::size_t k = n; k-- > 0;) {
            const NodeId list = *ast.parent_id(roots[k]);
            ast.remove_node(ast.child_at(list, 1));
            const NodeId radicand = ast.detach(ast.child_at(list, 1));
            sx::ast::ArgumentSlots args;
            args.push_back(sx::ast::Argument{sx::ast::ArgumentKind::Mandatory{}, false,
                                             sx::ast::ArgumentValue::MathContent{radicand}});
            ast.replace_node(roots[k], Node::Command{"sqrt", std::move(args), true});
        }
        const std::uint64_t work = quorvel::util::work_count - before;
        EXPECT_TRUE(invariants_hold(ast));
        return work;
    };
    constexpr std::size_t n = 2000;
    for (auto edit : {+operands_up, +sibling_in}) {
        const std::uint64_t small = edit(n);
        const std::uint64_t large = edit(8 * n);
        // Linear growth gives 8x; a walk of the depth or of the subtree at
        // every level gives 64x.
        EXPECT_LE(large, 12 * small) << small << " units, 8 times as deep: " << large;
    }
}

// A chain grows in constant time per level from either end: the cycle check
// costs the smaller of the parent's depth and the new child's subtree.
TEST(SyntaxAst, ChainsBuildInLinearTime) {
    auto top_down = [](Ast& ast, std::size_t n) {
        NodeId at = ast.root();
        for (std::size_t k = 0; k < n; ++k) {
            NodeId group = ast.new_node(Node::Group{});
            ast.append_child(at, group);
            at = group;
        }
    };
    auto bottom_up = [](Ast& ast, std::size_t n) {
        NodeId at = new_char(ast, U'x');
        for (std::size_t k = 0; k < n; ++k) {
            NodeId group = ast.new_node(Node::Group{});
            ast.append_child(group, at);
            at = group;
        }
        ast.append_child(ast.root(), at);
    };
    auto work = [](auto build, std::size_t n) {
        Ast ast = Ast::from_syntax_root(syntax_test::root({}));
        const std::uint64_t before = quorvel::util::work_count;
        build(ast, n);
        return quorvel::util::work_count - before;
    };
    constexpr std::size_t n = 2000;
    for (auto build : {+top_down, +bottom_up}) {
        // Linear growth gives 8x, a walk over the depth 64x.
        const std::uint64_t small = work(build, n);
        EXPECT_LE(work(build, 8 * n), 12 * small) << small << " units for " << n << " levels";
    }
}

// Inside an edit batch, renumbering after an insertion or removal waits
// until a link is read, and a long list keeps a gap at its last edit; every
// read, one child or the whole list, still sees the true list and position,
// and the batch leaves every link numbered and no gap behind.
TEST(SyntaxAst, EditBatchKeepsLinksTrue) {
    std::mt19937 rng(7);
    Ast ast = Ast::with_root_mode(sx::ContentMode::Math);
    const NodeId root = ast.root();
    for (int i = 0; i < 200; ++i) ast.append_child(root, new_char(ast, U'a'));
    std::vector<NodeId> model(ast.children(root).begin(), ast.children(root).end());
    {
        const Ast::EditBatch batch(ast);
        for (int step = 0; step < 2000; ++step) {
            const std::size_t size = ast.child_count(root);
            ASSERT_EQ(size, model.size()) << step;
            const std::size_t at = size == 0 ? 0 : rng() % size;
            switch (rng() % 7) {
                case 0: {
                    const NodeId fresh = new_char(ast, U'b');
                    ast.insert_child(root, at, fresh);
                    model.insert(model.begin() + static_cast<long>(at), fresh);
                    break;
                }
                case 1:
                    if (size > 0) {
                        ast.remove_detached(ast.detach(ast.child_at(root, at)));
                        model.erase(model.begin() + static_cast<long>(at));
                    }
                    break;
                case 5: {
                    // A run of edits walking right, as a pass makes them.
                    for (std::size_t k = at; k + 1 < ast.child_count(root) && k < at + 20; k += 2) {
                        ast.remove_detached(ast.detach(ast.child_at(root, k + 1)));
                        model.erase(model.begin() + static_cast<long>(k + 1));
                        const NodeId fresh = new_char(ast, U'c');
                        ast.insert_child(root, k, fresh);
                        model.insert(model.begin() + static_cast<long>(k), fresh);
                    }
                    break;
                }
                case 6:
                    for (std::size_t k = 0; k < model.size(); ++k) ASSERT_EQ(ast.child_at(root, k), model[k]) << step;
                    ASSERT_EQ(std::vector<NodeId>(ast.children(root).begin(), ast.children(root).end()), model);
                    break;
                case 2:
                    if (size > 3) {
                        const std::vector<NodeId> expected(model.begin() + static_cast<long>(at / 2),
                                                           model.begin() + static_cast<long>(at / 2 + 2));
                        const std::vector<NodeId> removed = ast.detach_children_range(root, at / 2, at / 2 + 2);
                        EXPECT_EQ(removed, expected);
                        for (NodeId gone : removed) ast.remove_detached(gone);
                        model.erase(model.begin() + static_cast<long>(at / 2), model.begin() + static_cast<long>(at / 2 + 2));
                    }
                    break;
                default:
                    if (size > 0) {
                        const NodeId probe = model[at];
                        ASSERT_EQ(ast.slot(probe), Slot::group_child(at)) << step;
                        if (at + 1 < size) {
                            EXPECT_EQ(ast.next_sibling(probe), model[at + 1]);
                        }
                        if (at > 0) {
                            EXPECT_EQ(ast.prev_sibling(probe), model[at - 1]);
                        }
                    }
            }
        }
    }
    EXPECT_FALSE(ast.node(root).child_list()->has_gap());
    EXPECT_EQ(std::vector<NodeId>(ast.children(root).begin(), ast.children(root).end()), model);
    EXPECT_TRUE(invariants_hold(ast));
}

TEST(SyntaxAst, RemoveDetachedFreesTheSubtree) {
    Fixture f;
    f.ast.detach(f.cmd);
    EXPECT_TRUE(f.ast.node(f.cmd).is<Node::Command>());
    f.ast.remove_detached(f.cmd);
    for (NodeId gone : {f.cmd, f.m, f.t}) EXPECT_EQ(f.ast.node_opt(gone), nullptr);
    EXPECT_EQ(f.ast.node_count(), 16u);
    EXPECT_TRUE(invariants_hold(f.ast));
}

TEST(SyntaxAst, ReplaceNodeReusesAndDetaches) {
    Fixture f;
    NodeId fresh = new_char(f.ast, U'n');
    const Node old = f.ast.node(f.g);
    f.ast.replace_node(f.g, Node::Group{{fresh, f.c}, {}, ContentMode::Math});
    EXPECT_EQ(old, (Node{Node::Group{{f.a, f.b, f.c}, {}, ContentMode::Math}}));
    EXPECT_EQ(f.ast.slot(f.c), Slot::group_child(1));
    EXPECT_EQ(f.ast.slot(fresh), Slot::group_child(0));
    EXPECT_FALSE(f.ast.is_detached_root(fresh));
    EXPECT_TRUE(f.ast.is_detached_root(f.a));
    EXPECT_TRUE(f.ast.is_detached_root(f.b));
    EXPECT_EQ(f.ast.slot(f.g), Slot::group_child(0));  // same place
    EXPECT_TRUE(invariants_hold(f.ast));

    // The dropping variant frees what the new value leaves out.
    f.ast.replace_node_drop_detached_children(f.g, Node::Group{{f.c}, {}, ContentMode::Text});
    EXPECT_EQ(f.ast.node_opt(fresh), nullptr);
    EXPECT_NE(f.ast.node_opt(f.c), nullptr);
    EXPECT_TRUE(invariants_hold(f.ast));
}

TEST(SyntaxAst, ReplaceChildrenAndRanges) {
    Fixture f;
    auto dropped = f.ast.replace_children(f.g, std::vector<NodeId>{f.c, f.b, f.a});
    EXPECT_TRUE(dropped.empty());
    EXPECT_EQ(f.ast.slot(f.c), Slot::group_child(0));
    EXPECT_EQ(f.ast.slot(f.a), Slot::group_child(2));

    NodeId d = new_char(f.ast, U'd');
    dropped = f.ast.replace_children(f.g, std::vector<NodeId>{d, f.a});
    EXPECT_EQ(dropped, (std::vector<NodeId>{f.c, f.b}));
    EXPECT_TRUE(f.ast.is_detached_root(f.c));
    EXPECT_TRUE(invariants_hold(f.ast));

    std::string before = render(f.ast, f.root);
    EXPECT_TRUE(f.ast.detach_children_range(f.g, 1, 1).empty());
    EXPECT_EQ(render(f.ast, f.root), before);

    auto removed = f.ast.detach_children_range(f.root, 1, 3);
    EXPECT_EQ(removed, (std::vector<NodeId>{f.cmd, f.env}));
    EXPECT_EQ(f.ast.slot(f.inf), Slot::group_child(1));
    EXPECT_TRUE(f.ast.is_detached_root(f.env));
    EXPECT_TRUE(invariants_hold(f.ast));
}

TEST(SyntaxAst, CloneSubtree) {
    Fixture f;
    NodeId copy = f.ast.clone_subtree(f.scr);
    EXPECT_TRUE(f.ast.is_detached_root(copy));
    EXPECT_EQ(render(f.ast, copy), render(f.ast, f.scr));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_NE(edge(f.ast, copy, i), edge(f.ast, f.scr, i));

    NodeId cmd_copy = f.ast.clone_subtree(f.cmd);
    EXPECT_EQ(render(f.ast, cmd_copy), render(f.ast, f.cmd));
    EXPECT_EQ(f.ast.arg_slots(cmd_copy)[1], f.ast.arg_slots(f.cmd)[1]);  // plain slot copied
    EXPECT_TRUE(invariants_hold(f.ast));
}

TEST(SyntaxAst, ReplaceContentChildKeepsTheValueKind) {
    Fixture f;
    NodeId fresh = f.ast.new_node(Node::Group{{}, {}, ContentMode::Text});
    f.ast.replace_content_child(f.t, fresh);
    const auto& slot = f.ast.arg_slots(f.cmd)[2];
    ASSERT_TRUE(slot.has_value());
    EXPECT_EQ(slot->value, sx::ast::ArgumentValue(sx::ast::ArgumentValue::TextContent{fresh}));
    EXPECT_TRUE(f.ast.is_detached_root(f.t));
    EXPECT_EQ(f.ast.slot(fresh), Slot::argument(2));

    NodeId sub = new_char(f.ast, U'S');
    f.ast.replace_content_child(f.s, sub);
    EXPECT_EQ(f.ast.node(f.scr), (Node{Node::Scripted{f.x, sub, f.p}}));

    NodeId new_body = f.ast.new_node(Node::Group{});
    f.ast.replace_content_child(f.body, new_body);
    EXPECT_EQ(f.ast.slot(new_body), Slot::env_body());
    EXPECT_TRUE(invariants_hold(f.ast));
}

TEST(SyntaxAst, HoistOnlyChildTakesTheGroupsSlot) {
    struct Case {
        const char* name;
        std::function<NodeId(Fixture&)> group;  // attached somewhere in a single-node slot
        std::function<NodeId(Fixture&)> parent;
        Slot slot;
    };
    const std::vector<Case> cases = {
        {"math argument", [](Fixture& f) { return f.m; }, [](Fixture& f) { return f.cmd; }, Slot::argument(0)},
        {"text argument", [](Fixture& f) { return f.t; }, [](Fixture& f) { return f.cmd; }, Slot::argument(2)},
        {"environment body holding a group",
         [](Fixture& f) {
             NodeId inner = f.ast.new_node(Node::Group{{}, {}, ContentMode::Math});
             NodeId outer = f.ast.new_node(Node::Group{{inner}, {}, ContentMode::Math});
             f.ast.replace_content_child(f.body, outer);
             return outer;
         },
         [](Fixture& f) { return f.env; }, Slot::env_body()},
        {"script base",
         [](Fixture& f) {
             NodeId base = f.ast.new_node(Node::Group{{new_char(f.ast, U'y')}, {}, ContentMode::Math});
             f.ast.replace_content_child(f.x, base);
             return base;
         },
         [](Fixture& f) { return f.scr; }, Slot::script_base()},
    };
    for (const auto& c : cases) {
        Fixture f;
        const NodeId group = c.group(f);
        const NodeId child = edge(f.ast, group, 0);
        const std::size_t count = f.ast.node_count();
        f.ast.hoist_only_child(group);
        EXPECT_FALSE(f.ast.contains(group)) << c.name;
        EXPECT_EQ(f.ast.node_count(), count - 1) << c.name;
        ASSERT_NE(f.ast.parent_link(child), nullptr) << c.name;
        EXPECT_EQ(*f.ast.parent_link(child), (sx::ParentLink{c.parent(f), c.slot})) << c.name;
        EXPECT_FALSE(f.ast.is_detached_root(child)) << c.name;
        EXPECT_TRUE(invariants_hold(f.ast)) << c.name;
    }
}

std::string chars_of(const Ast& ast, std::span<const NodeId> ids) {
    std::string out;
    for (NodeId id : ids) {
        const auto* c = ast.node(id).get_if<Node::Char>();
        out += c ? static_cast<char>(c->value) : '?';
    }
    return out;
}

TEST(SyntaxAst, MathSequenceInAList) {
    Fixture f;
    NodeId p = new_char(f.ast, U'p');
    NodeId mid = f.ast.new_node(Node::Group{{new_char(f.ast, U'm')}, {}, ContentMode::Math});
    NodeId inner = edge(f.ast, mid, 0);
    NodeId q = new_char(f.ast, U'q');
    NodeId r = new_char(f.ast, U'r');
    // b gets children of its own first, to see them freed.
    NodeId b_child = new_char(f.ast, U'z');
    f.ast.replace_node(f.b, Node::Group{{b_child}, {}, ContentMode::Math});

    f.ast.replace_with_math_sequence(f.b, {p}, mid, {q, r});
    auto kids = f.ast.children(f.g);
    ASSERT_EQ(kids.size(), 6u);
    EXPECT_EQ(std::vector<NodeId>(kids.begin(), kids.end()),
              (std::vector<NodeId>{f.a, p, f.b, q, r, f.c}));
    EXPECT_EQ(f.ast.node(f.b), (Node{Node::Group{{inner}, {}, ContentMode::Math}}));
    EXPECT_EQ(f.ast.parent_id(inner), f.b);
    EXPECT_EQ(f.ast.node_opt(mid), nullptr);
    EXPECT_EQ(f.ast.node_opt(b_child), nullptr);
    EXPECT_TRUE(invariants_hold(f.ast));
}

TEST(SyntaxAst, MathSequenceInAnOperand) {
    Fixture f;
    NodeId p = new_char(f.ast, U'p');
    NodeId mid = new_char(f.ast, U'm');
    f.ast.replace_with_math_sequence(f.left, {p}, mid, {});
    EXPECT_EQ(f.ast.node(f.left), (Node{Node::Group{{p, mid}, sn::GroupKind::Implicit{}, ContentMode::Math}}));
    EXPECT_EQ(f.ast.slot(f.left), Slot::infix_left());
    EXPECT_TRUE(invariants_hold(f.ast));
}

TEST(SyntaxAst, MathSequenceKeepsScripts) {
    Fixture f;
    NodeId a = new_char(f.ast, U'a');
    NodeId b = new_char(f.ast, U'b');
    f.ast.replace_with_math_sequence_preserving_scripts(f.x, {}, a, {b});
    auto kids = f.ast.children(f.root);
    ASSERT_EQ(kids.size(), 6u);
    // The old Scripted id now holds a's value; a new Scripted follows it.
    EXPECT_EQ(kids[4], f.scr);
    EXPECT_EQ(f.ast.node(f.scr), (Node{Node::Char{U'a'}}));
    const auto* wrapper = f.ast.node(kids[5]).get_if<Node::Scripted>();
    ASSERT_NE(wrapper, nullptr);
    EXPECT_EQ(wrapper->base, b);
    // The scripts move, ids and all.
    EXPECT_EQ(wrapper->subscript, f.s);
    EXPECT_EQ(wrapper->superscript, f.p);
    EXPECT_EQ(chars_of(f.ast, std::vector<NodeId>{*wrapper->subscript, *wrapper->superscript}), "sp");
    for (NodeId gone : {f.x, a}) EXPECT_EQ(f.ast.node_opt(gone), nullptr);
    EXPECT_TRUE(invariants_hold(f.ast));

    // With nothing after, the wrapper goes around the middle node.
    Fixture g;
    NodeId mid = new_char(g.ast, U'M');
    g.ast.replace_with_math_sequence_preserving_scripts(g.x, {}, mid, {});
    const auto* v = g.ast.node(g.scr).get_if<Node::Scripted>();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->base, mid);
    EXPECT_EQ(render(g.ast, g.scr), "Scripted { base: Char('M'), subscript: Some(Char('s')), superscript: Some(Char('p')) }");
    EXPECT_TRUE(invariants_hold(g.ast));

    // Not a script base: a plain sequence replacement.
    Fixture h;
    NodeId lone = new_char(h.ast, U'L');
    h.ast.replace_with_math_sequence_preserving_scripts(h.a, {}, lone, {});
    EXPECT_EQ(h.ast.node(h.a), (Node{Node::Char{U'L'}}));
}

TEST(SyntaxAst, AppendClonedMathContent) {
    Ast ast = Ast::from_syntax_root(root({
        group(ContentMode::Math, {ch(U'1'), ch(U'2'), ch(U'3')}, sn::GroupKind::Implicit{}),
        math({ch(U'4'), ch(U'5')}),
        group(ContentMode::Text, {text("t")}, sn::GroupKind::Implicit{}),
    }));
    struct Case {
        std::size_t child;
        std::size_t expected_count;
    };
    for (Case c : {Case{0, 3}, Case{1, 1}, Case{2, 1}}) {
        NodeId source = ast.children(ast.root())[c.child];
        std::vector<NodeId> out;
        ast.append_cloned_math_content(out, source);
        EXPECT_EQ(out.size(), c.expected_count) << c.child;
        for (NodeId id : out) EXPECT_TRUE(ast.is_detached_root(id));
    }
    EXPECT_EQ(internal_message([&] {
                  std::vector<NodeId> out;
                  ast.append_cloned_math_content(out, ast.root());
              }),
              "Cannot clone root node as a detached subtree");
    EXPECT_TRUE(invariants_hold(ast));
}

// A taken node keeps its id, value and subtree and becomes a detached root;
// a single-node slot it leaves holds an empty implicit group of its mode.
TEST(SyntaxAst, TakeCutsANodeOut) {
    const std::string empty_math = "Group { mode: Math, kind: Implicit, children: [] }";
    struct Case {
        const char* name;
        NodeId Fixture::*node;
        NodeId Fixture::*holder;
        std::string left;  // what the node's old place holds: the list, or its slot
    };
    const Case cases[] = {
        {"a group child", &Fixture::b, &Fixture::g,
         "Group { mode: Math, kind: Explicit, children: [Char('a'), Char('c')] }"},
        {"math content", &Fixture::m, &Fixture::cmd, empty_math},
        {"text content", &Fixture::t, &Fixture::cmd, "Group { mode: Text, kind: Implicit, children: [] }"},
        {"a body", &Fixture::body, &Fixture::env, empty_math},
        {"an operand", &Fixture::left, &Fixture::inf, empty_math},
        {"a script", &Fixture::s, &Fixture::scr, empty_math},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        const NodeId node = f.*c.node;
        const std::string value = render(f.ast, node);
        const Slot slot = *f.ast.slot(node);
        const std::size_t count = f.ast.node_count();
        EXPECT_EQ(f.ast.take(node), node);
        EXPECT_TRUE(f.ast.is_detached_root(node));
        EXPECT_EQ(render(f.ast, node), value);
        const std::size_t placeholders = slot.is_group_child() ? 0 : 1;
        EXPECT_EQ(f.ast.node_count(), count + placeholders);
        NodeId left = f.*c.holder;
        if (!slot.is_group_child())
            for (const auto& [child, at] : Ast::node_edges(f.ast.node(f.*c.holder)))
                if (at == slot) left = child;
        EXPECT_EQ(render(f.ast, left), c.left);
        EXPECT_TRUE(invariants_hold(f.ast));
        // A detached root is taken as it is.
        EXPECT_EQ(f.ast.take(node), node);
        EXPECT_EQ(f.ast.node_count(), count + placeholders);
    }
}

// The moving counterpart of append_cloned_math_content: an implicit math
// group gives its children and stays, empty; any other node goes whole.
TEST(SyntaxAst, AppendTakenMathContent) {
    Fixture f;
    const NodeId implicit = f.ast.new_node(
        Node::Group{{f.ast.detach(f.a), f.ast.detach(f.c)}, sn::GroupKind::Implicit{}, ContentMode::Math});
    f.ast.append_child(f.g, implicit);
    std::vector<NodeId> out;
    f.ast.append_taken_math_content(out, implicit);
    f.ast.append_taken_math_content(out, f.m);  // an explicit group
    EXPECT_EQ(out, (std::vector<NodeId>{f.a, f.c, f.m}));
    for (NodeId id : out) EXPECT_TRUE(f.ast.is_detached_root(id));
    EXPECT_EQ(f.ast.child_count(implicit), 0u);
    EXPECT_EQ(f.ast.parent_id(implicit), f.g);
    EXPECT_TRUE(invariants_hold(f.ast));
}

TEST(SyntaxAst, ScriptedItemsAndImplicitGroup) {
    // A cell end is never a script base: its scripts go on an empty group.
    const struct {
        Node base;
        const char* items;
    } cases[] = {
        {Node::Char{U'b'}, "Scripted { base: Char('b'), subscript: None, superscript: Some(Char('s')) }"},
        {Node::Char{U'&'},
         "Char('&'), Scripted { base: Group { mode: Math, kind: Implicit, children: [] }, subscript: None, "
         "superscript: Some(Char('s')) }"},
    };
    for (const auto& c : cases) {
        Ast ast = Ast::with_root_mode(ContentMode::Math);
        const NodeId base = ast.new_node(c.base);
        std::vector<NodeId> items;
        ast.append_scripted(items, base, std::nullopt, new_char(ast, U's'));
        ast.append_child(ast.root(), ast.implicit_math_group(items));
        EXPECT_EQ(render(ast, ast.root()),
                  std::string("Root { mode: Math, children: [Group { mode: Math, kind: Implicit, children: [") +
                      c.items + "] }] }");
        EXPECT_TRUE(invariants_hold(ast));
    }
}

}  // namespace

namespace {

TEST(SyntaxAst, DebugForms) {
    using syntax_test::sx::debug_string;
    const NodeId a{2, 1}, b{3, 5};
    EXPECT_EQ(debug_string(Node{Node::Group{{a, b}, sn::GroupKind::Explicit{}, ContentMode::Math}}),
              "Group { children: [NodeId(2v1), NodeId(3v5)], kind: Explicit, mode: Math }");
    EXPECT_EQ(debug_string(Node{Node::Scripted{a, std::nullopt, b}}),
              "Scripted { base: NodeId(2v1), subscript: None, superscript: Some(NodeId(3v5)) }");
    EXPECT_EQ(debug_string(Node{Node::Command{
                  "frac",
                  {std::nullopt, sx::ast::Argument{sn::ArgumentKind::Mandatory{}, false,
                                                   sx::ast::ArgumentValue::TextContent{a}}},
                  true}}),
              "Command { name: \"frac\", args: [None, Some(Argument { kind: Mandatory, "
              "no_leading_space: false, value: TextContent(NodeId(2v1)) })], known: true }");
    EXPECT_EQ(debug_string(Node{Node::Char{U'x'}}), "Char('x')");
    EXPECT_EQ(debug_string(sx::ParentLink{a, Slot::group_child(0)}),
              "ParentLink { parent: NodeId(2v1), slot: GroupChild(0) }");
    EXPECT_EQ(debug_string(Slot::env_body()), "EnvBody");
    EXPECT_EQ(debug_string(NodeKind::ActiveSpace), "ActiveSpace");
}

}  // namespace
