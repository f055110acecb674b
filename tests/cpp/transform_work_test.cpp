// The work of a transform (util/work_count.hpp): every walk, text written
// for a check, copy, free and rule tried counts. Each family is transformed
// at n and 8n and its work may grow at most 12 times; where it cannot stay
// linear by itself, the run's work bound ends it with a TransformError, and
// a failed `transform` leaves the caller's document as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "profile_engines.hpp"
#include "transform/engine.hpp"
#include "transform_work_families.hpp"
#include "util/work_count.hpp"

namespace quorvel {
namespace {

using testing::engine;
using testing::PROFILE_NAMES;
using transform::families::Family;

// Below this much work a transform does only what any transform does once.
constexpr std::uint64_t kWorkFloor = 4096;

struct Outcome {
    std::uint64_t work = 0;
    std::string error;  // empty on success
};

syntax::document::Document parse(const facade::TransformEngine& e, const std::string& source, bool deep = true) {
    parse::ParseConfig config;
    if (deep) config.max_group_depth = source.size() + 128;  // the nesting itself is the input
    auto document = e.parser().parse_with(source, config).document;
    if (!document || document->read_only()) throw std::runtime_error("no clean parse: " + source.substr(0, 80));
    return std::move(*document);
}

Outcome transform_work(std::size_t profile, const std::string& source) {
    const facade::TransformEngine& e = engine(profile);
    auto document = parse(e, source);
    const std::uint64_t before = util::work_count;
    const auto run = e.transform_with(document, e.default_transform_options());
    Outcome out{util::work_count - before, ""};
    if (!run) out.error = run.error().message();
    return out;
}

struct Case {
    Family family;
    std::size_t profile;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.family.name << " at " << PROFILE_NAMES[c.profile]; }

std::vector<Case> cases(const std::vector<Family>& families) {
    std::vector<Case> out;
    for (const Family& f : families)
        for (std::size_t p = 0; p < PROFILE_NAMES.size(); ++p)
            if (f.profiles & (1u << p)) out.push_back({f, p});
    return out;
}

class TransformWork : public ::testing::TestWithParam<Case> {};

TEST_P(TransformWork, GrowsLinearly) {
    const Case& c = GetParam();
    const Outcome small = transform_work(c.profile, c.family.build(1));
    const Outcome large = transform_work(c.profile, c.family.build(8));
    // A run the bound ends may use its floor, whatever its size.
    EXPECT_LE(large.work, 12 * std::max(small.work, kWorkFloor) + transform::engine::kWorkFloor)
        << "from " << small.work << " to " << large.work << "; " << large.error;
    // Whatever ends it, the work stays within the bound of the run.
    const std::size_t nodes = parse(engine(c.profile), c.family.build(8)).ast().node_count();
    EXPECT_LE(large.work, transform::engine::work_allowance(nodes) + transform::engine::work_allowance(nodes) / 4);
}

INSTANTIATE_TEST_SUITE_P(Reported, TransformWork, ::testing::ValuesIn(cases(transform::families::reported())),
                         [](const auto& info) {
                             return info.param.family.name + "_" + PROFILE_NAMES[info.param.profile];
                         });
INSTANTIATE_TEST_SUITE_P(KeptSpacers, TransformWork, ::testing::ValuesIn(cases(transform::families::kept_spacers())),
                         [](const auto& info) {
                             return info.param.family.name + "_" + PROFILE_NAMES[info.param.profile];
                         });
INSTANTIATE_TEST_SUITE_P(InfixFonts, TransformWork, ::testing::ValuesIn(cases(transform::families::infix_fonts())),
                         [](const auto& info) {
                             return info.param.family.name + "_" + PROFILE_NAMES[info.param.profile];
                         });
INSTANTIATE_TEST_SUITE_P(Cells, TransformWork, ::testing::ValuesIn(cases(transform::families::cells())),
                         [](const auto& info) {
                             return info.param.family.name + "_" + PROFILE_NAMES[info.param.profile];
                         });
INSTANTIATE_TEST_SUITE_P(FontScopes, TransformWork, ::testing::ValuesIn(cases(transform::families::font_scopes())),
                         [](const auto& info) {
                             return info.param.family.name + "_" + PROFILE_NAMES[info.param.profile];
                         });
INSTANTIATE_TEST_SUITE_P(Random, TransformWork, ::testing::ValuesIn(cases(transform::families::random_nestings(12))),
                         [](const auto& info) {
                             return info.param.family.name + "_" + PROFILE_NAMES[info.param.profile];
                         });

// Valid input the bound must not end: each family normalises at n and 8n,
// in linear work and as many passes. What a rule moves instead of copying
// is rewritten in the pass that moved it, so a nest of such rules takes
// as many passes at any depth or number of copies.
struct Reported {
    std::uint64_t work = 0;
    std::uint64_t iterations = 0;
    std::string error;
};

Reported transform_reported(std::size_t profile, const std::string& source) {
    const facade::TransformEngine& e = engine(profile);
    auto document = parse(e, source);
    const std::uint64_t before = util::work_count;
    const auto run = e.transform_with_report(document, e.default_transform_options());
    Reported out{util::work_count - before, 0, ""};
    if (run) out.iterations = run->rewrite.iterations;
    else out.error = run.error().message();
    return out;
}

class TransformWorkValid : public ::testing::TestWithParam<Case> {};

TEST_P(TransformWorkValid, NormalisesInLinearWorkAndAsManyPasses) {
    const Case& c = GetParam();
    const Reported small = transform_reported(c.profile, c.family.build(1));
    const Reported large = transform_reported(c.profile, c.family.build(8));
    ASSERT_EQ(small.error, "");
    ASSERT_EQ(large.error, "");
    EXPECT_LE(large.work, 12 * std::max(small.work, kWorkFloor)) << "from " << small.work << " to " << large.work;
    EXPECT_EQ(large.iterations, small.iterations);
}

INSTANTIATE_TEST_SUITE_P(SpacerRuns, TransformWorkValid, ::testing::ValuesIn(cases(transform::families::spacer_runs())),
                         [](const auto& info) {
                             return info.param.family.name + "_" + PROFILE_NAMES[info.param.profile];
                         });
INSTANTIATE_TEST_SUITE_P(Moved, TransformWorkValid, ::testing::ValuesIn(cases(transform::families::moved_nests())),
                         [](const auto& info) {
                             return info.param.family.name + "_" + PROFILE_NAMES[info.param.profile];
                         });

// Nests in font and text arguments: what decides whether a group keeps its
// braces is carried up with its content, which no level looks at again.
class TransformWorkNests : public ::testing::TestWithParam<Case> {};

TEST_P(TransformWorkNests, NormaliseInLinearWork) {
    const Case& c = GetParam();
    const Reported small = transform_reported(c.profile, c.family.build(1));
    const Reported large = transform_reported(c.profile, c.family.build(8));
    ASSERT_EQ(small.error, "");
    ASSERT_EQ(large.error, "");
    EXPECT_LE(large.work, 9 * std::max(small.work, kWorkFloor)) << "from " << small.work << " to " << large.work;
}

INSTANTIATE_TEST_SUITE_P(FontNests, TransformWorkNests,
                         ::testing::ValuesIn(cases(transform::families::font_nests(256))),
                         [](const auto& info) {
                             return info.param.family.name + "_" + PROFILE_NAMES[info.param.profile];
                         });

INSTANTIATE_TEST_SUITE_P(LineBreaks, TransformWorkNests,
                         ::testing::ValuesIn(cases(transform::families::line_breaks(256))),
                         [](const auto& info) {
                             return info.param.family.name + "_" + PROFILE_NAMES[info.param.profile];
                         });

// A report counts the prefixes whose value no content of the body keeps.
// Over a body whose content takes more than a few states that is looked up
// pair by pair, at a cost: a deep nest of such bodies ends at the bound, and
// normalises when no report is asked for.
TEST(TransformWork, ReportedPrefixesOverManyStatesEndAtTheBound) {
    const Family f{"prefix_states", "\\mathrm{\\mathbf{a\\mathit{a\\mathsf{a\\mathtt{a\\mathcal{A", "b", "}}}}}}", 0,
                   8000};
    const std::string source = f.build(1);
    for (std::size_t p = 0; p < PROFILE_NAMES.size(); ++p) {
        const Reported reported = transform_reported(p, source);
        EXPECT_NE(reported.error.find("too complex"), std::string::npos) << PROFILE_NAMES[p] << ": " << reported.error;
        const std::size_t nodes = parse(engine(p), source).ast().node_count();
        EXPECT_LE(reported.work, transform::engine::work_allowance(nodes) + transform::engine::work_allowance(nodes) / 4);
        EXPECT_EQ(transform_work(p, source).error, "") << PROFILE_NAMES[p];
    }
}

// The matrix builders' check of their bodies is linear by itself: a nest of
// bodies with an unpaired delimiter keeps its shorthands, and never comes
// near the bound.
TEST(TransformWork, UnpairedMatrixBodiesStayWithoutTheBound) {
    for (const char* open : {"\\pmqty{", "\\bmqty{"}) {
        const Family f{"nest", open, open[1] == 'p' ? "(" : "[", "}", 0, 512};
        const std::string source = f.build(1);
        for (std::size_t p = 1; p < PROFILE_NAMES.size(); ++p) {
            const Outcome out = transform_work(p, source);
            EXPECT_EQ(out.error, "") << open << " at " << PROFILE_NAMES[p];
            EXPECT_LT(out.work, 64 * source.size()) << open << " at " << PROFILE_NAMES[p];
        }
    }
}

// What each body decides, nested or alone: its own text pairs the builder's
// delimiters or not, whatever is around it.
TEST(TransformWork, MatrixBodiesDecideAsAlone) {
    struct Row {
        const char* source;
        const char* normalized;
    };
    const Row rows[] = {
        {"\\pmqty{\\pmqty{x}}", "\\mqty(\\mqty(x))"},
        {"\\pmqty{\\pmqty{(}}", "\\pmqty{\\pmqty{(}}"},
        {"\\pmqty{(\\pmqty{)}}", "\\mqty((\\pmqty{)})"},
        {"\\bmqty{[\\pmqty{(}]}", "\\mqty[[\\pmqty{(}]]"},
        {"\\pmqty{\\bmqty{(}}", "\\pmqty{\\mqty[(]}"},
        {"\\bmqty{\\pmqty{[}}", "\\bmqty{\\mqty([)}"},
        {"\\pmqty{\\text{(}}", "\\pmqty{\\text{(}}"},
        {"\\pmqty{\\%(}", "\\pmqty{\\%(}"},
        {"\\pmqty{\\{)}", "\\pmqty{\\{)}"},
        {"\\pmqty{x}\\pmqty{(}\\pmqty{\\pmqty{y})}", "\\mqty(x)\\pmqty{(}\\pmqty{\\mqty(y))}"},
    };
    const facade::TransformEngine& e = engine(1);
    for (const Row& row : rows) {
        const auto out = e.normalize_with(row.source, e.default_normalize_config());
        ASSERT_TRUE(out) << row.source << ": " << out.error().message();
        std::string compact;
        for (char ch : *out)
            if (ch != ' ') compact += ch;
        EXPECT_EQ(compact, row.normalized) << row.source;
    }
}

// Every failure of `transform` leaves the document as it was before the call.
TEST(TransformWork, FailedTransformLeavesTheDocument) {
    struct Row {
        const char* name;
        std::string source;
        const char* error;  // a part of the message
        std::size_t max_iterations = 100;
        // A new name for the infix the source parses to: what the parser
        // reads cleanly never leaves a consumed target behind.
        const char* infix_renamed = nullptr;
    };
    const Row rows[] = {
        {"contract", "\\buildrel x \\over y", "contract violated", 100, "atop"},
        // A nest of kets moves its content and takes two passes at any
        // depth; one that copies its content fails deep.
        {"deep_brakets", Family{"braket", "\\braket{", "x", "}", 0, 100}.build(1), ""},
        {"max_iterations", Family{"ket", "\\ket{", "x", "}", 0, 8}.build(1), "max iterations", 1},
        {"work_bound", Family{"dv", "\\dv[{", "1", "}]{f}{x}", 0, 64}.build(1), "too complex to normalise"},
        {"build_limit", Family{"eval", "\\eval(", "x", ")|", 0, 24}.build(1), ""},
    };
    for (const Row& row : rows) {
        for (std::size_t p = 0; p < PROFILE_NAMES.size(); ++p) {
            const facade::TransformEngine& e = engine(p);
            auto document = parse(e, row.source, false);
            if (row.infix_renamed != nullptr) {
                ASSERT_TRUE(document.set_command_name(document.handle(document.ast().children(document.ast().root())[0]),
                                                      row.infix_renamed));
            }
            const syntax::SyntaxNode before = document.to_syntax();
            const std::size_t nodes = document.ast().node_count();
            transform::TransformOptions options = e.default_transform_options();
            options.rewrite.max_iterations = row.max_iterations;
            const auto run = e.transform_with(document, options);
            if (run) continue;  // not a failure at this profile
            EXPECT_NE(run.error().message().find(row.error), std::string::npos) << run.error().message();
            EXPECT_EQ(document.ast().node_count(), nodes) << row.name << " at " << PROFILE_NAMES[p];
            EXPECT_TRUE(document.to_syntax() == before) << row.name << " at " << PROFILE_NAMES[p];
            auto report = e.transform_with_report(document, options);
            ASSERT_FALSE(report) << row.name;
            EXPECT_TRUE(document.to_syntax() == before) << row.name << " with a report at " << PROFILE_NAMES[p];
        }
    }
}

}  // namespace
}  // namespace quorvel
