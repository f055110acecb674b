#include <gtest/gtest.h>

#include <random>

#include "syntax/document.hpp"
#include "syntax_test_util.hpp"

namespace {

using namespace syntax_test;
using sx::Span;
using sx::SpanTree;
using sx::document::Document;

SyntaxNode implicit(std::vector<SyntaxNode> children, ContentMode mode = ContentMode::Math) {
    return group(mode, std::move(children), sn::GroupKind::Implicit{});
}
SyntaxNode error_node() { return SyntaxNode::Error{"Missing }", "{x"}; }
SpanTree span(std::size_t s, std::size_t e, std::vector<SpanTree> kids = {}) {
    return SpanTree(Span{s, e}, std::move(kids));
}

TEST(Document, NumbersAreConsecutiveAndFailuresTakeNone) {
    Document a;
    auto refused = Document::from_syntax(math({}));
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), sx::FromSyntaxError::NotARoot);
    auto b = Document::from_syntax(root({ch(U'x')}));
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(b->id(), a.id() + 1);
    Document c = Document::with_mode(ContentMode::Text);
    EXPECT_EQ(c.id(), a.id() + 2);
    EXPECT_FALSE(c.parse_context_id().has_value());
    EXPECT_EQ(c.node(c.root())->content_mode(), ContentMode::Text);
}

TEST(Document, HandlesOfOtherDocumentsAndFreedNodes) {
    Document a;
    Document b;
    auto ca = a.create_char(U'x');
    auto cb = b.create_char(U'y');
    ASSERT_TRUE(ca && cb);
    // Same arena key in both documents; only the number tells them apart.
    EXPECT_EQ(ca->node, cb->node);
    EXPECT_EQ(b.node(*ca).error().message(), "node belongs to a different document");
    EXPECT_EQ(a.node(*ca)->character(), U'x');
    ASSERT_TRUE(a.append_child(a.root(), *ca));
    ASSERT_TRUE(a.remove(*ca));
    EXPECT_EQ(a.node(*ca).error().message(), "node not found");
    EXPECT_EQ(a.check_node_owner(*ca).error().kind(), sx::document::EditError::Kind::NodeNotFound);
}

TEST(Document, ErrorNodeMakesItReadOnly) {
    auto tree = root({ch(U'a'), command("frac", {math_arg(math({ch(U'b'), error_node()})), math_arg(ch(U'c'))})});
    auto doc = Document::from_syntax(tree);
    ASSERT_TRUE(doc.has_value());
    EXPECT_TRUE(doc->read_only());
    EXPECT_EQ(doc->create_char(U'x').error().message(), "document is read-only");
    EXPECT_EQ(doc->create_group(ContentMode::Math).error().message(), "document is read-only");
    EXPECT_EQ(doc->clear(doc->root()).error().message(), "document is read-only");
    ASSERT_TRUE(doc->to_latex().has_value());
    EXPECT_EQ(*doc->to_latex(), "a \\frac { b {x } { c }");
    ASSERT_EQ(doc->errors().size(), 1u);
    EXPECT_EQ(doc->errors()[0].error_parts()->second, "{x");
    EXPECT_TRUE(doc->node_spans().empty());

    auto clean = Document::from_syntax(root({ch(U'a')}));
    EXPECT_FALSE(clean->read_only());
    EXPECT_TRUE(clean->errors().empty());
}

TEST(Document, Queries) {
    auto tree = root({command("frac", {math_arg(command("frac")), math_arg(ch(U'b'))}),
                      infix("frac", ch(U'a'), ch(U'b')), SyntaxNode::Declarative{"frac", {}},
                      environment("matrix", implicit({command("frac")})), environment("pmatrix", implicit({}))});
    // Items side by side that would not read back so: the queries ask the tree.
    auto doc = Document::from_syntax_unchecked(tree);
    ASSERT_TRUE(doc.has_value());
    auto found = doc->find_commands("frac");
    ASSERT_EQ(found.size(), 3u);  // the Infix and Declarative are not commands
    EXPECT_EQ(found[0].arg_count(), 2u);  // pre-order: the outer one first
    EXPECT_EQ(found[1].arg_count(), 0u);
    EXPECT_EQ(found[1].parent()->kind(), sx::NodeKind::Command);
    EXPECT_EQ(found[2].parent()->kind(), sx::NodeKind::Group);
    EXPECT_TRUE(doc->find_commands("Frac").empty());
    ASSERT_EQ(doc->find_environments("matrix").size(), 1u);
    EXPECT_EQ(doc->find_environments("matrix")[0].env_name(), "matrix");
    EXPECT_EQ(doc->to_syntax(), tree);
}

TEST(Document, SpanPaths) {
    // \frac{[}{ab} with the second slot's content spanned; the first slot is
    // empty, so the content's path names slot 1.
    auto tree = root({command("f", {std::nullopt, math_arg(implicit({ch(U'a'), ch(U'b')}))}),
                      scripted(ch(U'x'), ch(U'i'), ch(U'j')), infix("over", ch(U'p'), ch(U'q')),
                      environment("m", implicit({ch(U'z')}))});
    auto spans = span(0, 40, {span(0, 10, {span(4, 10, {span(5, 6), span(7, 8)})}),
                              span(10, 15, {span(10, 11), span(12, 13), span(14, 15)}),
                              span(16, 25, {span(16, 17), span(24, 25)}), span(26, 40, {span(30, 35, {span(31, 32)})})});
    auto doc = Document::from_syntax_with_spans(tree, spans);
    ASSERT_TRUE(doc.has_value());
    const std::vector<sx::NodeSpanEntry> expected = {
        {"root", {0, 40}},
        {"root.child.0", {0, 10}},
        {"root.child.0.arg.1.content", {4, 10}},
        {"root.child.0.arg.1.content.child.0", {5, 6}},
        {"root.child.0.arg.1.content.child.1", {7, 8}},
        {"root.child.1", {10, 15}},
        {"root.child.1.base", {10, 11}},
        {"root.child.1.sub", {12, 13}},
        {"root.child.1.sup", {14, 15}},
        {"root.child.2", {16, 25}},
        {"root.child.2.left", {16, 17}},
        {"root.child.2.right", {24, 25}},
        {"root.child.3", {26, 40}},
        {"root.child.3.body", {30, 35}},
        {"root.child.3.body.child.0", {31, 32}},
    };
    EXPECT_EQ(doc->node_spans(), expected);
    auto first = doc->node(doc->root())->children()[0];
    EXPECT_EQ(first.span(), (Span{0, 10}));
    EXPECT_EQ(doc->root().document, doc->id());
}

TEST(Document, ShortSpanTreeLeavesLaterNodesWithout) {
    auto tree = root({command("f", {math_arg(implicit({ch(U'a'), ch(U'b')}))}), ch(U'c')});
    // The root has two children but one span child; the command's content
    // has two children but one span child.
    auto spans = span(0, 9, {span(0, 8, {span(2, 8, {span(3, 4)})})});
    auto doc = Document::from_syntax_with_spans(tree, spans);
    ASSERT_TRUE(doc.has_value());
    const std::vector<sx::NodeSpanEntry> expected = {
        {"root", {0, 9}},
        {"root.child.0", {0, 8}},
        {"root.child.0.arg.0.content", {2, 8}},
        {"root.child.0.arg.0.content.child.0", {3, 4}},
    };
    EXPECT_EQ(doc->node_spans(), expected);
    EXPECT_FALSE(doc->node(doc->root())->children()[1].span().has_value());
    // Nodes made by edits have no span.
    auto made = doc->create_char(U'z');
    EXPECT_FALSE(doc->node(*made)->span().has_value());
}

TEST(NodeRef, KindMismatchesAnswerEmpty) {
    auto tree = root({infix("over", ch(U'a'), ch(U'b')),
                      environment("matrix", implicit({})),
                      SyntaxNode::Declarative{"bf", {}},
                      command("sqrt", {std::nullopt, math_arg(ch(U'x')), opname_arg(ch(U'o')),
                                       text_arg(text("t")), star_arg(true), dim_arg("1pt")}),
                      scripted(ch(U'x'), std::nullopt, ch(U'2')),
                      prime(3),
                      math({ch(U'p'), ch(U'q')})});
    auto doc = Document::from_syntax_unchecked(tree);
    ASSERT_TRUE(doc.has_value());
    auto kids = doc->node(doc->root())->children();
    ASSERT_EQ(kids.size(), 7u);
    const auto& over = kids[0];
    const auto& env = kids[1];
    const auto& decl = kids[2];
    const auto& sqrt = kids[3];
    const auto& scr = kids[4];

    EXPECT_EQ(over.command_name(), "over");
    EXPECT_FALSE(over.is_command("over"));
    EXPECT_EQ(over.infix_left()->character(), U'a');
    EXPECT_EQ(over.infix_right()->character(), U'b');
    EXPECT_FALSE(env.command_name().has_value());
    EXPECT_EQ(env.env_name(), "matrix");
    EXPECT_EQ(env.env_body()->kind(), sx::NodeKind::Group);
    EXPECT_TRUE(env.env_body()->group_kind()->is_implicit());
    EXPECT_FALSE(decl.is_command("bf"));
    EXPECT_EQ(decl.command_name(), "bf");
    EXPECT_EQ(decl.arg_count(), 0u);

    EXPECT_TRUE(sqrt.is_command("sqrt"));
    EXPECT_EQ(sqrt.arg_count(), 6u);
    EXPECT_FALSE(sqrt.arg(0).has_value());
    EXPECT_FALSE(sqrt.arg(6).has_value());
    EXPECT_EQ(sqrt.arg(1)->get_if<sx::ArgRef::Math>()->node.character(), U'x');
    EXPECT_EQ(sqrt.arg(2)->get_if<sx::ArgRef::Math>()->node.character(), U'o');
    EXPECT_EQ(sqrt.arg(3)->get_if<sx::ArgRef::Text>()->node.text(), "t");
    EXPECT_TRUE(sqrt.arg(4)->get_if<sx::ArgRef::Boolean>()->value);
    EXPECT_EQ(sqrt.arg(5)->get_if<sx::ArgRef::Dimension>()->value, "1pt");
    auto slots = sqrt.arg_slots();
    ASSERT_EQ(slots.size(), 6u);
    EXPECT_FALSE(slots[0].has_value());
    EXPECT_TRUE(slots[1].has_value());
    // Argument contents are not group children: no siblings.
    EXPECT_FALSE(sqrt.arg(1)->get_if<sx::ArgRef::Math>()->node.next_sibling().has_value());

    EXPECT_FALSE(scr.subscript().has_value());
    EXPECT_EQ(scr.superscript()->character(), U'2');
    EXPECT_EQ(scr.script_base()->character(), U'x');
    EXPECT_EQ(kids[5].prime_count(), 3u);
    EXPECT_FALSE(kids[5].character().has_value());
    EXPECT_FALSE(kids[5].content_mode().has_value());
    EXPECT_EQ(kids[6].content_mode(), ContentMode::Math);

    for (const auto& k : kids) {
        EXPECT_FALSE(k.text().has_value());
        EXPECT_FALSE(k.is_error());
        EXPECT_TRUE(k.children().empty() || k.kind() == sx::NodeKind::Group);
    }
    EXPECT_FALSE(kids[6].infix_left().has_value());
    EXPECT_EQ(kids[6].arg_count(), 0u);
    EXPECT_TRUE(kids[6].arg_slots().empty());
    EXPECT_EQ(kids[6].group_kind()->is_explicit(), true);
    EXPECT_EQ(over.group_kind(), nullptr);
}

TEST(NodeRef, Navigation) {
    auto doc = Document::from_syntax(root({ch(U'a'), math({ch(U'b'), ch(U'c')})}));
    ASSERT_TRUE(doc.has_value());
    auto rootref = *doc->node(doc->root());
    auto kids = rootref.children();
    auto inner = kids[1].children();
    EXPECT_TRUE(kids[0].descendants().empty());
    auto desc = kids[1].descendants();
    ASSERT_EQ(desc.size(), 2u);
    EXPECT_EQ(desc[0], inner[0]);
    EXPECT_EQ(rootref.descendants().size(), 4u);
    auto up = inner[1].ancestors();
    ASSERT_EQ(up.size(), 2u);
    EXPECT_EQ(up[0], kids[1]);
    EXPECT_EQ(up[1], rootref);
    EXPECT_TRUE(rootref.ancestors().empty());
    EXPECT_FALSE(rootref.parent().has_value());
    EXPECT_EQ(inner[0].next_sibling(), inner[1]);
    EXPECT_FALSE(inner[1].next_sibling().has_value());
    EXPECT_FALSE(inner[0].prev_sibling().has_value());
    EXPECT_EQ(kids[1].prev_sibling(), kids[0]);
    EXPECT_TRUE(inner[0].is_char(U'b'));
    EXPECT_FALSE(inner[0].is_char(U'c'));
    EXPECT_EQ(inner[0].handle(), (sx::document::NodeId{inner[0].id(), doc->id()}));

    // A detached subtree: its root has no parent, ancestors stop at it.
    auto g = doc->create_group(ContentMode::Math);
    auto c = doc->create_char(U'z');
    ASSERT_TRUE(doc->append_child(*g, *c));
    auto cref = *doc->node(*c);
    ASSERT_EQ(cref.ancestors().size(), 1u);
    EXPECT_FALSE(doc->node(*g)->parent().has_value());
}

TEST(SpanTree, DeepTreesCopyCompareAndDestroyIteratively) {
    constexpr std::size_t kDepth = 1'000'000;
    SpanTree top(Span{0, 1});
    SpanTree* at = &top;
    for (std::size_t i = 0; i < kDepth; ++i) {
        at->children.emplace_back(Span{i, i + 1});
        at = &at->children.back();
    }
    SpanTree copy = top;
    EXPECT_TRUE(copy == top);
    at->span.end = 7;
    EXPECT_FALSE(copy == top);
    SpanTree moved = std::move(copy);
    moved = top;
    EXPECT_TRUE(moved == top);
}

TEST(Document, DeepTreeWalksAreIterative) {
    constexpr std::size_t kDepth = 200'000;
    SyntaxNode inner = ch(U'x');
    for (std::size_t i = 0; i < kDepth; ++i) {
        SyntaxNode::Group g{ContentMode::Math, sn::GroupKind::Explicit{}, {}};
        g.children.push_back(std::move(inner));
        inner = SyntaxNode(std::move(g));
    }
    SyntaxNode::Root r{ContentMode::Math, {}};
    r.children.push_back(std::move(inner));
    SyntaxNode tree(std::move(r));
    // Spans for the two top levels only: the walk goes on below them.
    auto doc = Document::from_syntax_with_spans(tree, span(0, 9, {span(0, 9)}));
    ASSERT_TRUE(doc.has_value());
    EXPECT_EQ(doc->node_spans().size(), 2u);
    auto all = doc->node(doc->root())->descendants();
    ASSERT_EQ(all.size(), kDepth + 1);
    EXPECT_EQ(all.back().ancestors().size(), kDepth + 1);
    EXPECT_TRUE(doc->errors().empty());
    EXPECT_EQ(doc->to_latex()->size(), 4 * kDepth + 1);
}

// ---- Random exchange trees ---------------------------------------------------

// Builds valid exchange trees together with a span tree whose spans number
// the nodes in pre-order, and the (path, span) list `node_spans` must give.
class TreeGen {
public:
    explicit TreeGen(unsigned seed) : rng_(seed) {}

    SyntaxNode root_tree(SpanTree& spans) {
        ContentMode mode = pick(4) == 0 ? ContentMode::Text : ContentMode::Math;
        mark(spans, "root");
        SyntaxNode::Root r{mode, {}};
        int n = pick(5);
        for (int i = 0; i < n; ++i) r.children.push_back(child(mode, 5, "root.child." + std::to_string(i), spans));
        return r;
    }

    std::vector<sx::NodeSpanEntry> entries;

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    bool coin() { return pick(2) == 0; }

    void mark(SpanTree& st, const std::string& path) {
        st.span = Span{next_, next_ + 1};
        entries.push_back({path, st.span});
        ++next_;
    }

    SyntaxNode child(ContentMode mode, int depth, const std::string& path, SpanTree& parent) {
        parent.children.emplace_back();
        return node(mode, depth, path, parent.children.back());
    }

    sn::Delimiter delimiter() {
        switch (pick(4)) {
            case 0: return sn::Delimiter::none();
            case 1: return sn::Delimiter::character(U'(');
            case 2: return sn::Delimiter::character(U'\u27e8');
            default: return sn::Delimiter::control("langle");
        }
    }

    SyntaxNode::ArgumentSlots args(int depth, const std::string& path, SpanTree& st) {
        SyntaxNode::ArgumentSlots slots;
        int n = pick(4);
        for (int i = 0; i < n; ++i) {
            if (pick(5) == 0) {
                slots.push_back(std::nullopt);
                continue;
            }
            sn::Argument a;
            a.no_leading_space = coin();
            switch (pick(6)) {
                case 0: a.kind = sn::ArgumentKind::Mandatory{}; break;
                case 1: a.kind = sn::ArgumentKind::Optional{}; break;
                case 2: a.kind = sn::ArgumentKind::Star{}; break;
                case 3: a.kind = sn::ArgumentKind::Group{}; break;
                case 4: a.kind = sn::ArgumentKind::Delimited{delimiter(), delimiter()}; break;
                default: a.kind = sn::ArgumentKind::Paired{delimiter(), delimiter()}; break;
            }
            std::string p = path + ".arg." + std::to_string(i) + ".content";
            if (a.kind.is_star()) {
                a.value = sn::ArgumentValue::Boolean{coin()};
            } else {
                switch (pick(8)) {
                    case 0: a.value = sn::ArgumentValue::MathContent{child(ContentMode::Math, depth - 1, p, st)}; break;
                    case 1: a.value = sn::ArgumentValue::TextContent{child(ContentMode::Text, depth - 1, p, st)}; break;
                    case 2:
                        a.value = sn::ArgumentValue::OperatorNameContent{child(ContentMode::Math, depth - 1, p, st)};
                        break;
                    case 3: a.value = sn::ArgumentValue::Delimiter{delimiter()}; break;
                    case 4: a.value = sn::ArgumentValue::CSName{"name"}; break;
                    case 5: a.value = sn::ArgumentValue::Dimension{pick(3) == 0 ? "" : "1.5pt"}; break;
                    case 6: a.value = sn::ArgumentValue::KeyVal{"a=b, c"}; break;
                    default: a.value = sn::ArgumentValue::Column{"c|l"}; break;
                }
            }
            slots.push_back(std::move(a));
        }
        return slots;
    }

    SyntaxNode node(ContentMode mode, int depth, const std::string& path, SpanTree& st) {
        mark(st, path);
        static const char32_t chars[] = {U'a', U'1', U'2', U'&', U'%', U'{', U'\\', U'\u00e9', U'\U0001D400', U'~'};
        static const char* texts[] = {"", "ab", "a b", "\u00e9t\u00e9"};
        static const char* names[] = {"frac", "alpha", "text", "x"};
        int kind = depth <= 0 ? pick(5) : pick(11);
        switch (kind) {
            case 0: return ch(chars[pick(10)]);
            case 1: return text(texts[pick(4)]);
            case 2: return SyntaxNode::ActiveSpace{};
            case 3: return SyntaxNode::Error{"msg", texts[pick(4)]};
            case 4:
                if (mode == ContentMode::Math) return prime(1 + static_cast<std::uint64_t>(pick(3)));
                return ch(U'x');
            case 5: {
                ContentMode m = coin() ? ContentMode::Math : ContentMode::Text;
                sn::GroupKind gk;
                switch (pick(4)) {
                    case 0: gk = sn::GroupKind::Explicit{}; break;
                    case 1: gk = sn::GroupKind::Implicit{}; break;
                    case 2: gk = sn::GroupKind::Delimited{delimiter(), delimiter()}; break;
                    default: gk = sn::GroupKind::InlineMath{}; break;
                }
                SyntaxNode::Group g{m, std::move(gk), {}};
                int n = pick(4);
                for (int i = 0; i < n; ++i) g.children.push_back(child(m, depth - 1, path + ".child." + std::to_string(i), st));
                return g;
            }
            case 6: return SyntaxNode::Command{names[pick(4)], args(depth, path, st), coin()};
            case 7: {
                SyntaxNode::Infix v;
                v.name = "over";
                v.left = child(mode, depth - 1, path + ".left", st);
                v.args = args(depth, path, st);
                v.right = child(mode, depth - 1, path + ".right", st);
                return v;
            }
            case 8: return SyntaxNode::Declarative{names[pick(4)], args(depth, path, st)};
            case 9: {
                SyntaxNode::Environment v;
                v.name = "matrix";
                v.known = coin();
                v.args = args(depth, path, st);
                st.children.emplace_back();
                SpanTree& body_span = st.children.back();
                mark(body_span, path + ".body");
                ContentMode m = coin() ? ContentMode::Math : ContentMode::Text;
                SyntaxNode::Group body{m, coin() ? sn::GroupKind(sn::GroupKind::Implicit{}) : sn::GroupKind(sn::GroupKind::Explicit{}), {}};
                int n = pick(3);
                for (int i = 0; i < n; ++i) {
                    body.children.push_back(child(m, depth - 1, path + ".body.child." + std::to_string(i), body_span));
                }
                v.body = SyntaxNode(std::move(body));
                return v;
            }
            default: {
                SyntaxNode::Scripted v;
                v.base = child(mode, depth - 1, path + ".base", st);
                if (coin()) v.subscript = child(mode, depth - 1, path + ".sub", st);
                if (coin()) v.superscript = child(mode, depth - 1, path + ".sup", st);
                return v;
            }
        }
    }

    std::mt19937 rng_;
    std::size_t next_ = 0;
};

sx::SerializeOptions random_options(std::mt19937& rng) {
    std::uniform_int_distribution<int> bit(0, 1);
    sx::SerializeOptions o;
    o.command_spacing = static_cast<sx::CommandSpacing>(bit(rng));
    o.group_inner_spacing = static_cast<sx::MathGroupInnerSpacing>(bit(rng));
    o.adjacent_char_spacing = static_cast<sx::AdjacentCharSpacing>(bit(rng));
    o.script_spacing = static_cast<sx::ScriptSpacing>(bit(rng));
    o.script_order = static_cast<sx::ScriptOrder>(bit(rng));
    o.infix_grouping = static_cast<sx::InfixGrouping>(bit(rng));
    o.environment_name_spacing = static_cast<sx::EnvironmentNameSpacing>(bit(rng));
    return o;
}

TEST(DocumentProperty, RandomTreesRoundTripAndSerializeConsistently) {
    std::mt19937 option_rng(7);
    for (unsigned seed = 1; seed <= 400; ++seed) {
        SCOPED_TRACE(seed);
        TreeGen gen(seed);
        SpanTree spans;
        SyntaxNode tree = gen.root_tree(spans);
        auto doc = Document::from_syntax_with_spans(tree, spans);
        ASSERT_TRUE(doc.has_value()) << sx::message(doc.error());
        ASSERT_EQ(doc->to_syntax(), tree);
        ASSERT_EQ(doc->node_spans(), gen.entries);

        auto options = random_options(option_rng);
        auto plain = doc->to_latex_with(options);
        auto tokenized = doc->to_tokenized_latex_with(options);
        ASSERT_TRUE(plain.has_value() && tokenized.has_value());
        ASSERT_EQ(tokenized->text, *plain);
        // Tokens are in output order, each the slice it claims, and only
        // separating spaces lie between them, or the one line break after a
        // backslash that stands for itself.
        auto separates = [&](std::size_t i, std::size_t gap_start) {
            const char c = (*plain)[i];
            return c == ' ' || (c == '\n' && i == gap_start && i > 0 && (*plain)[i - 1] == '\\');
        };
        std::size_t at = 0;
        for (const auto& t : tokenized->tokens) {
            ASSERT_LE(at, t.start);
            ASSERT_LT(t.start, t.end);
            ASSERT_LE(t.end, plain->size());
            EXPECT_EQ(plain->substr(t.start, t.end - t.start), t.text);
            for (std::size_t i = at; i < t.start; ++i) ASSERT_TRUE(separates(i, at)) << *plain;
            at = t.end;
        }
        for (std::size_t i = at; i < plain->size(); ++i) ASSERT_TRUE(separates(i, at)) << *plain;
    }
}

}  // namespace
