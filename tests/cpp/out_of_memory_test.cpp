// Running out of memory in the middle of an edit or a transform.
//
// The program's operator new is replaced here by one that can be told to
// fail: the k-th allocation from now on, and every one after it until the
// test disarms it. Trying every k over an operation makes each of its
// allocations the one that fails, so every place where it can run out is
// reached, in the order it runs.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "facade/records_report.hpp"
#include "facade/transform_engine.hpp"
#include "profile_engines.hpp"
#include "syntax/document.hpp"
#include "syntax_test_util.hpp"
#include "transform_pipeline_support.hpp"

namespace {

// Allocations left before they start failing; negative: none fail.
thread_local long allocations_left = -1;

void* allocate(std::size_t size) {
    if (allocations_left == 0) throw std::bad_alloc();
    if (allocations_left > 0) --allocations_left;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace quorvel;
using syntax::Ast;
using syntax::ast::Node;
using syntax::ast::NodeId;
namespace tt = transform::testing;

// Runs `operation` with the k-th allocation failing, for k = 0, 1, ... until
// it runs through; `after(failed)` checks the state it left each time.
// Returns the number of runs that failed.
std::size_t for_each_failure(const std::function<void()>& prepare, const std::function<void()>& operation,
                             const std::function<void(bool failed)>& after) {
    std::size_t failures = 0;
    for (long k = 0;; ++k) {
        prepare();
        bool failed = false;
        allocations_left = k;
        try {
            operation();
        } catch (const std::bad_alloc&) {
            failed = true;
        }
        allocations_left = -1;
        after(failed);
        if (!failed) return failures;
        ++failures;
        if (::testing::Test::HasFailure()) return failures;  // one report per case
    }
}

// Every node reachable from the root agrees with its parent's link, every
// live node either hangs somewhere or is a detached root, and nothing else.
::testing::AssertionResult consistent(const Ast& ast) {
    std::string problem;
    ast.for_each_node([&](NodeId id, const Node& node) {
        if (!problem.empty()) return;
        const syntax::ParentLink* link = ast.parent_link(id);
        if (id != ast.root() && (link != nullptr) == ast.is_detached_root(id)) {
            problem = "neither attached nor a detached root: " + syntax::ast::debug_string(id);
        }
        syntax::for_each_edge(node, [&](NodeId child, syntax::Slot slot) {
            const syntax::ParentLink* child_link = ast.parent_link(child);
            if (child_link == nullptr || child_link->parent != id || !(child_link->slot == slot))
                problem = "edge without its link below " + syntax::ast::debug_string(id);
        });
    });
    if (problem.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << problem;
}

// The tree below the root, as text that names every node and value.
std::string shape(const Ast& ast) { return syntax::debug_string(ast.to_syntax()); }

// ---- Arena edits: all or nothing -----------------------------------------------

struct EditCase {
    const char* name;
    const char* source;
    // The edit, given the document's arena.
    std::function<void(Ast&)> edit;
};

NodeId child(const Ast& ast, NodeId parent, std::size_t i) { return ast.child_at(parent, i); }

Node bare(const char* name) { return Node::Command{name, {}, true}; }

const std::vector<EditCase>& edit_cases() {
    static const std::vector<EditCase> cases = {
        {"replace with a sequence in a long list", "a b c d e f g h i j k l m n o p q r s t u v w x y z a b c d e f g",
         [](Ast& ast) {
             const NodeId middle = ast.new_node(bare("alpha"));
             std::vector<NodeId> after{ast.new_node(bare("beta")), ast.new_node(bare("gamma"))};
             ast.replace_with_math_sequence(child(ast, ast.root(), 3), {ast.new_node(bare("delta"))}, middle,
                                            std::move(after));
         }},
        {"replace keeping the scripts", "a x_1^2 b",
         [](Ast& ast) {
             const NodeId scripted = child(ast, ast.root(), 1);
             const NodeId base = ast.node(scripted).get_if<Node::Scripted>()->base;
             ast.replace_with_math_sequence_preserving_scripts(base, {ast.new_node(bare("left"))},
                                                               ast.new_node(bare("mid")),
                                                               {ast.new_node(bare("right"))});
         }},
        {"remove a node", "a {b c} d", [](Ast& ast) { ast.remove_node(child(ast, ast.root(), 1)); }},
        {"replace the children of a list", "a b c d e f g h i j k l m n o p q r s",
         [](Ast& ast) {
             std::vector<NodeId> kept;
             for (std::size_t i = 0; i < ast.child_count(ast.root()); i += 2) kept.push_back(child(ast, ast.root(), i));
             kept.push_back(ast.new_node(bare("omega")));
             for (NodeId gone : ast.replace_children(ast.root(), kept)) ast.remove_detached(gone);
         }},
        {"replace a value, dropping children", "\\frac{a}{b} c",
         [](Ast& ast) {
             ast.replace_node_drop_detached_children(child(ast, ast.root(), 0), bare("pi"));
         }},
        {"clone a subtree", "\\frac{a+b}{c_d}", [](Ast& ast) { ast.clone_subtree(child(ast, ast.root(), 0)); }},
        {"take content out of its slot", "\\frac{a+b}{c_d}",
         [](Ast& ast) { ast.take(*ast.node(child(ast, ast.root(), 0)).args()->at(1)->value.content()); }},
        {"take the children of an implicit group", "\\frac{a+b}{c_d}",
         [](Ast& ast) {
             std::vector<NodeId> out;
             ast.append_taken_math_content(out, *ast.node(child(ast, ast.root(), 0)).args()->at(0)->value.content());
         }},
    };
    return cases;
}

// A failed edit leaves the tree exactly as it was: same shape, and every
// node where it was. One that ran through leaves a consistent tree. Each
// case runs as it is (the nodes it makes before the edit stay, detached)
// and inside a step of its own, which leaves not a node more.
TEST(OutOfMemory, ArenaEditsAreAllOrNothing) {
    const parse::ParseContext& context = tt::parse_context();
    for (const EditCase& c : edit_cases()) {
        for (const bool in_step : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (in_step ? ", in a step" : ""));
            std::optional<syntax::document::Document> document;
            std::string before;
            std::size_t nodes_before = 0;
            auto prepare = [&] {
                document.emplace(tt::parse_document(context, c.source));
                before = shape(document->ast());
                nodes_before = document->ast().node_count();
            };
            auto edit = [&] {
                Ast& ast = document->ast_mut();
                if (!in_step) return c.edit(ast);
                Ast::Step step(ast);
                c.edit(ast);
                step.commit();
            };
            const std::size_t failures = for_each_failure(prepare, edit, [&](bool failed) {
                const Ast& ast = document->ast();
                EXPECT_TRUE(consistent(ast));
                if (!failed) return;
                EXPECT_EQ(shape(ast), before);
                if (in_step) {
                    EXPECT_EQ(ast.node_count(), nodes_before);
                }
            });
            EXPECT_GT(failures, 0u);
        }
    }
}

// Steps in a batch over a long list, which edits through a gap: a failure
// leaves the list as the steps before it left it, whatever the batch's
// closing had to put right.
TEST(OutOfMemory, BatchedStepsStopBetweenSteps) {
    const parse::ParseContext& context = tt::parse_context();
    const std::string source = "a b c d e f g h i j k l m n o p q r s t u v w x y z a b c d e f g h i j k l m n o p "
                               "q r s t u v w x y z a b c d e f g h i j k l m n o p q r s t u v w x y z";
    auto edit = [](Ast& ast, std::size_t steps) {
        const Ast::EditBatch batch(ast);
        for (std::size_t i = 1, done = 0; i + 1 < ast.child_count(ast.root()) && done < steps; i += 3, ++done) {
            Ast::Step step(ast);
            // A name too long to sit inline: every step allocates.
            ast.replace_node(child(ast, ast.root(), i), bare("Longleftrightarrow"));
            ast.remove_node(child(ast, ast.root(), i + 1));
            step.commit();
        }
    };
    std::vector<std::string> states;  // after 0, 1, 2, ... steps
    for (std::size_t steps = 0;; ++steps) {
        auto document = tt::parse_document(context, source);
        edit(document.ast_mut(), steps);
        states.push_back(shape(document.ast()));
        if (states.size() > 1 && states.back() == states[states.size() - 2]) break;
    }
    std::optional<syntax::document::Document> document;
    std::vector<bool> left;  // the states failed runs left
    const std::size_t failures = for_each_failure(
        [&] { document.emplace(tt::parse_document(context, source)); },
        [&] { edit(document->ast_mut(), states.size()); },
        [&](bool failed) {
            const Ast& ast = document->ast();
            EXPECT_TRUE(consistent(ast));
            const auto found = std::find(states.begin(), states.end(), shape(ast));
            ASSERT_NE(found, states.end());
            left.resize(states.size());
            if (failed) left[found - states.begin()] = true;
        });
    EXPECT_GT(failures, 0u);
    // A failure in each step leaves the state before it.
    EXPECT_GE(std::count(left.begin(), left.end(), true), static_cast<std::ptrdiff_t>(states.size()) - 2);
}

// ---- Transforms: no content lost --------------------------------------------------

// The letters of the Char nodes in the tree below the root.
std::map<char32_t, std::size_t> letters(const Ast& ast) {
    std::map<char32_t, std::size_t> out;
    ast.walk_preorder(ast.root(), [&](NodeId, const Node& node) {
        if (const auto* c = node.get_if<Node::Char>(); c != nullptr && c->value < 128 && std::isalpha(int(c->value)))
            ++out[c->value];
        return true;
    });
    return out;
}

struct TransformCase {
    const char* name;
    std::string source;
};

std::string times(std::string_view pattern, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += pattern;
    return out;
}

// Sources reaching every pass and the rule families that move material:
// long lists (edited through a gap), deep nesting (past the depth at which
// the passes re-root), attributes, infix fractions and script moves.
const std::vector<TransformCase>& transform_cases() {
    static const std::vector<TransformCase> cases = {
        {"groups in a long list", times("{x} ", 70)},
        {"mixed rewrites and groups", times("a {x} b \\ge ", 20)},
        {"negation and spacing", times("a \\not= b \\quad\\quad c\\,\\,\\, ", 6)},
        {"roots and limits", "\\root 3 \\of x + \\sum\\limits_a^b y + \\int\\nolimits_0^1 f + \\root n \\of {y}"},
        {"infix fractions", "{a \\over b} + {c \\choose d} + {e \\atop f} + \\stackrel{a}{=} x"},
        {"attributes", "\\mathbf{a b} {\\bf c d} \\it e {\\rm f \\sf g} \\text{h \\bf i}"},
        {"text and primes", "\\text{ a  b  c } x'' ' {y}' \\mbox{d   e}"},
        {"deep groups", times("{", 70) + "x" + times("}", 70)},
        {"deep fractions", times("\\frac{a}{", 66) + "b" + times("}", 66)},
        {"integrals and ellipses", "\\idotsint_a^b f \\iiint g \\dots h \\implies k \\qquad l \\allowbreak m"},
        {"physics", "\\dv{f}{x} + \\abs{y}^2 + \\qty(z) + \\pdv[2]{g}{t} + \\norm{w}_2"},
        {"matrices", "\\matrix{a & b \\cr c & d} \\pmatrix{e & f} \\left( g \\right)"},
        {"moved content", "\\abs*{\\ket{a}}_1 \\braket{b} \\int\\limits_{c+d}^e \\begin{pmatrix}\\substack{f\\\\g}"
                          "\\end{pmatrix} \\vu{\\vb{h}} \\pdv{i}{j}{k} \\eqalignno{l&=m&(1)\\cr n&=o&(2)}"},
    };
    return cases;
}

constexpr struct {
    const char* name;
    std::uint8_t mask;
    bool preserve_rendered_spacing;
} PROFILES[] = {
    {"authoring", tt::AUTHORING, true},
    {"faithful", tt::FAITHFUL, true},
    {"corpus", tt::CORPUS, false},
    {"equiv", tt::EQUIV, false},
};

// After a transform that ran out of memory the document is whole: its tree
// is consistent, it keeps every letter the source had (a rule may remove a
// letter only where the normalised text lacks it too), it writes out text
// that reads back without a diagnostic, and transforming it again gives the
// normalised text of the source.
TEST(OutOfMemory, TransformsLoseNoContent) {
    const parse::ParseContext& context = tt::parse_context();
    std::map<std::string, std::size_t> failed_runs;
    for (const auto& profile : PROFILES) {
        auto engine = tt::make_engine(context, profile.mask);
        engine.options.flatten_groups.preserve_rendered_spacing = profile.preserve_rendered_spacing;
        for (const TransformCase& c : transform_cases()) {
            SCOPED_TRACE(std::string(profile.name) + ": " + c.name);
            auto normalised = tt::parse_document(context, c.source);
            ASSERT_TRUE(engine.run_with(normalised.ast_mut(), context, engine.options));
            const std::string expected = tt::compact(normalised.ast());
            // The letters both the source and the normalised text have.
            std::map<char32_t, std::size_t> floor = letters(tt::parse_document(context, c.source).ast());
            const std::map<char32_t, std::size_t> normalised_letters = letters(normalised.ast());
            for (auto& [letter, count] : floor) {
                const auto found = normalised_letters.find(letter);
                count = std::min(count, found == normalised_letters.end() ? 0 : found->second);
            }
            std::optional<syntax::document::Document> document;
            auto prepare = [&] { document.emplace(tt::parse_document(context, c.source)); };

            const std::size_t failures = for_each_failure(
                prepare, [&] { (void)engine.run_with(document->ast_mut(), context, engine.options); },
                [&](bool failed) {
                    syntax::Ast& ast = document->ast_mut();
                    if (!failed) {
                        EXPECT_EQ(tt::compact(ast), expected);
                        return;
                    }
                    EXPECT_TRUE(consistent(ast));
                    const std::map<char32_t, std::size_t> kept = letters(ast);
                    for (const auto& [letter, count] : floor) {
                        const auto found = kept.find(letter);
                        EXPECT_GE(found == kept.end() ? 0 : found->second, count) << char(letter);
                    }
                    const std::string written = tt::compact(ast);
                    const auto reread = parse::parse_source(context, written, parse::ParseConfig{});
                    EXPECT_TRUE(reread.document && reread.diagnostics.empty()) << written;
                    ASSERT_TRUE(engine.run_with(ast, context, engine.options));
                    EXPECT_EQ(tt::compact(ast), expected);
                });
            failed_runs[c.name] += failures;
            if (::testing::Test::HasFailure()) return;
        }
    }
    // Every case ran out of memory somewhere, at one profile at least.
    for (const auto& [name, failures] : failed_runs) EXPECT_GT(failures, 0u) << name;
}

// ---- Transforms of a caller's document: all or nothing ------------------------

struct KeptCase {
    const char* name;
    const char* source;
};

void PrintTo(const KeptCase& c, std::ostream* os) { *os << c.name; }

class KeptDocument : public ::testing::TestWithParam<std::tuple<KeptCase, std::size_t>> {};

// A transform of the caller's document that runs out of memory lets the
// bad_alloc through and leaves the document as it found it: the same text
// and the same tree, however far the passes had got. So does one whose
// caller runs out while making its result from the report. Given room, it
// still gives the normalised text.
TEST_P(KeptDocument, FailedTransformChangesNothing) {
    // Not a structured binding: a lambda captures none before clang 16.
    const KeptCase& c = std::get<0>(GetParam());
    const facade::TransformEngine& e = quorvel::testing::engine(std::get<1>(GetParam()));
    const transform::TransformOptions& options = e.default_transform_options();
    const auto parse = [&] { return std::move(e.parser().parse_with(c.source, {}).document).value(); };
    auto normalised = parse();
    ASSERT_TRUE(e.transform_with(normalised, options));
    const std::string expected = normalised.to_latex().value();

    enum Entry { Plain, Report, Delivered };
    for (const Entry entry : {Plain, Report, Delivered}) {
        SCOPED_TRACE(entry == Plain ? "plain" : entry == Report ? "with a report" : "delivering the report");
        std::optional<syntax::document::Document> document;
        std::string latex_before;
        std::string shape_before;
        std::optional<facade::TransformReportDto> delivered;
        auto prepare = [&] {
            document.emplace(parse());
            latex_before = document->to_latex().value();
            shape_before = shape(document->ast());
        };
        auto transform = [&] {
            switch (entry) {
                case Plain: EXPECT_TRUE(e.transform_with(*document, options)); break;
                case Report: EXPECT_TRUE(e.transform_with_report(*document, options)); break;
                case Delivered:
                    EXPECT_TRUE(e.transform_with_report(*document, options, [&](const transform::TransformReport& r) {
                        delivered = facade::transform_report_to_dto(r);
                    }));
                    EXPECT_TRUE(delivered);
                    break;
            }
        };
        const std::size_t failures = for_each_failure(prepare, transform, [&](bool failed) {
            EXPECT_TRUE(consistent(document->ast()));
            if (!failed) {
                EXPECT_EQ(document->to_latex().value(), expected);
                return;
            }
            EXPECT_EQ(document->to_latex().value(), latex_before);
            EXPECT_EQ(shape(document->ast()), shape_before);
        });
        EXPECT_GT(failures, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, KeptDocument,
    ::testing::Combine(
        ::testing::Values(
            KeptCase{"attribute_runs_and_a_fence", "\\mathbf { x } { } \\mathbf { y } \\abs{a}"},
            KeptCase{"token_style", "\\left( \\frac { \\partial f } { \\partial x } \\right) ^ { 2 } \\, \\mathrm { d } "
                                    "x + { \\bf v } ^ { \\prime } \\; \\; \\mathrm { where }"},
            KeptCase{"hand_style", "\\overrightarrow{AB}\\cdot\\overrightarrow{AC}\\leqslant {a \\over b} + x'' + "
                                   "\\sqrt[3]{\\dfrac{1}{2}}"},
            KeptCase{"matrix_and_physics",
                     "\\begin{pmatrix} a & \\dv{f}{x} \\\\ \\norm{v} & \\mathbf{\\;} \\end{pmatrix} \\qty(z)"}),
        ::testing::Range<std::size_t>(0, quorvel::testing::PROFILES.size())),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" +
               quorvel::testing::PROFILE_NAMES[std::get<1>(info.param)];
    });

}  // namespace
