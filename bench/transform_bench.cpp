// Normalisation throughput over the corpus: every line of arxiv.txt and
// exam.txt is parsed, normalised at each profile and written back, and the
// rate is printed next to the parse-only rate of the same run.
//
//   transform_bench [corpus-dir]      (default: ../shared/corpus, relative to the repository)
//   transform_bench corpus-dir --once MODE
//   transform_bench corpus-dir --dump PROFILE
//   transform_bench corpus-dir --budget
//   transform_bench --scaling [N-PATTERN [PROFILE [N]]]
//   transform_bench --nesting [OPEN CLOSE [PROFILE [N [MIDDLE [PREFIX]]]]]
//
// --once runs a single untimed pass of MODE (parse, parse+out or a profile
// name) inside `measured_pass`, for instruction counts:
//   valgrind --tool=callgrind --toggle-collect='*measured_pass*' transform_bench DIR --once equiv
//
// --dump writes each line's normalised text at PROFILE, one a line (a
// marker where there is none), to compare the outputs of two builds.
//
// --budget prints, for each profile, the largest share of its work bound
// (engine::work_allowance) that a corpus formula's transform uses, and the
// formula; and what the copy of the tree that `transform` keeps for a
// failure costs, against the transform itself.
//
// --scaling normalises long runs of one pattern at n and 8n copies and prints
// both times and their ratio (about 8 when the rewrite is linear), for the
// whole road (parse, normalise, write) and for the normalisation alone; with
// no pattern it runs the built-in list of list-editing rewrites.
//
// --nesting does the same for one construct nested n and 8n deep,
// PREFIX + OPEN x n + MIDDLE (default x) + CLOSE x n, with the depth limit lifted; with
// no construct it runs the built-in list (infix fractions and their
// neighbours). Times there are the thread's CPU time.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "parse/context.hpp"
#include "parse/parse.hpp"
#include "syntax/serializer.hpp"
#include "transform/context.hpp"
#include "transform/engine.hpp"
#include "transform/rules/registry.hpp"
#include "util/work_count.hpp"

namespace {

using namespace quorvel;
using clock_type = std::chrono::steady_clock;

struct Profile {
    const char* name;
    std::uint8_t level_mask;
    bool preserve_rendered_spacing;
};

constexpr Profile PROFILES[] = {
    {"authoring", 1, true},
    {"faithful", 3, true},
    {"corpus", 7, false},
    {"equiv", 15, false},
};

struct Counts {
    std::size_t formulas = 0;
    std::size_t unparsed = 0;     // no document, or one with error nodes
    std::size_t failed = 0;       // a rule error or a contract violation
    std::size_t changed = 0;      // some rule applied
};

// Runs `round` until at least `min_seconds` have passed; the seconds per round.
template <class F>
double time_rounds(F&& round, double min_seconds) {
    round();  // warm up
    const auto start = clock_type::now();
    int rounds = 0;
    double seconds = 0;
    do {
        round();
        ++rounds;
        seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    } while (seconds < min_seconds);
    return seconds / rounds;
}

// One pass over the corpus: parse, and unless `engine` is null and `write` is
// false, normalise with `engine` and write. Kept out of line so an
// instruction counter can collect exactly this call.
[[gnu::noinline]] std::size_t measured_pass(const std::vector<std::string>& lines, const parse::ParseContext& context,
                                            const transform::TransformContext* engine, bool write) {
    const parse::ParseConfig parse_config;
    const syntax::SerializeOptions serialize_options;
    std::size_t sink = 0;
    for (const std::string& line : lines) {
        auto outcome = parse::parse_source(context, line, parse_config);
        sink += outcome.diagnostics.size();
        if (!write || !outcome.document) continue;
        if (engine != nullptr) {
            if (outcome.document->read_only()) continue;
            if (!engine->run_with(outcome.document->ast_mut(), context, engine->options)) continue;
        }
        auto text = syntax::serialize::serialize_with(outcome.document->ast(), serialize_options);
        if (text) sink += text->size();
    }
    return sink;
}

std::optional<transform::TransformContext> make_engine(const Profile& profile, const parse::ParseContext& context) {
    transform::BuildConfig config{transform::RuleSelection::all(), transform::TransformOptions{}, profile.level_mask};
    config.options.flatten_groups.preserve_rendered_spacing = profile.preserve_rendered_spacing;
    auto engine = transform::TransformContext::from_build_config(std::move(config), context);
    if (!engine) {
        std::fprintf(stderr, "%s: %s\n", profile.name, engine.error().to_string().c_str());
        return std::nullopt;
    }
    return std::move(*engine);
}

// The engine of the profile called `name`; reports an unknown name.
std::optional<transform::TransformContext> make_engine(std::string_view name, const parse::ParseContext& context) {
    for (const Profile& profile : PROFILES)
        if (name == profile.name) return make_engine(profile, context);
    std::fprintf(stderr, "unknown profile %.*s\n", static_cast<int>(name.size()), name.data());
    return std::nullopt;
}

// Seconds to parse, normalise and write `copies` copies of `pattern`, and of
// the normalisation alone (best of `runs` each); negative when the input
// does not normalise.
struct ScaledSeconds {
    double whole = -1;
    double transform = -1;
};

ScaledSeconds scaled_seconds(const transform::TransformContext& engine, const parse::ParseContext& context,
                             const std::string& pattern, std::size_t copies, int runs) {
    std::string source;
    source.reserve(pattern.size() * copies);
    for (std::size_t i = 0; i < copies; ++i) source += pattern;
    ScaledSeconds best;
    auto keep_least = [](double& best_seconds, clock_type::time_point since) {
        const double seconds = std::chrono::duration<double>(clock_type::now() - since).count();
        if (best_seconds < 0 || seconds < best_seconds) best_seconds = seconds;
    };
    for (int run = 0; run < runs; ++run) {
        const auto start = clock_type::now();
        auto outcome = parse::parse_source(context, source, parse::ParseConfig{});
        if (!outcome.document || outcome.document->read_only()) return {};
        const auto transform_start = clock_type::now();
        auto done = engine.run_with(outcome.document->ast_mut(), context, engine.options);
        if (!done) {
            std::fprintf(stderr, "%s\n", done.error().to_string().c_str());
            return {};
        }
        keep_least(best.transform, transform_start);
        auto text = syntax::serialize::serialize_with(outcome.document->ast(), syntax::SerializeOptions{});
        if (!text) return {};
        keep_least(best.whole, start);
    }
    return best;
}

struct ScalingCase {
    const char* pattern;
    const char* profile;
    std::size_t copies;
};

constexpr ScalingCase SCALING_CASES[] = {
    {"a \\not= b ", "authoring", 12500},       {"a \\not\\in b ", "authoring", 12500},
    {"\\sum\\limits ", "corpus", 12500},       {"a\\quad\\quad b ", "faithful", 12500},
    {"\\root 3 \\of x ", "authoring", 6250},   {"\\not\\exists ", "authoring", 12500},
    {"a \\not\\to b ", "authoring", 12500},    {"\\int\\nolimits ", "corpus", 12500},
    {"a\\enspace\\enspace b ", "faithful", 12500}, {"\\,\\,\\,\\,\\,\\,x ", "equiv", 12500},
    {"\\;\\:\\;\\:x ", "equiv", 12500},
};

int run_scaling(const parse::ParseContext& context, const std::vector<ScalingCase>& cases) {
    std::printf("%-24s %-10s %8s %10s %10s %7s %12s %12s %7s\n", "pattern", "profile", "n", "n s", "8n s", "ratio",
                "transform n", "8n", "ratio");
    for (const ScalingCase& c : cases) {
        auto engine = make_engine(std::string_view(c.profile), context);
        if (!engine) return 1;
        const ScaledSeconds small = scaled_seconds(*engine, context, c.pattern, c.copies, 3);
        const ScaledSeconds large = scaled_seconds(*engine, context, c.pattern, 8 * c.copies, 2);
        std::printf("%-24s %-10s %8zu %10.4f %10.4f %7.1f %12.4f %12.4f %7.1f\n", c.pattern, c.profile, c.copies,
                    small.whole, large.whole, small.whole > 0 ? large.whole / small.whole : 0.0, small.transform,
                    large.transform, small.transform > 0 ? large.transform / small.transform : 0.0);
    }
    return 0;
}


// The thread's CPU time in seconds: the nesting figures should not depend on
// what else the machine runs.
double thread_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct NestingCase {
    const char* open;
    const char* close;
    const char* profile;
    std::size_t depth;
    const char* middle = "x";
    const char* prefix = "";
};

constexpr NestingCase NESTING_CASES[] = {
    {"{a\\over ", "}", "faithful", 1000},          {"{", "\\over a}", "faithful", 1000},
    {"{a\\atop ", "}", "faithful", 1000},          {"{a\\choose ", "}", "faithful", 1000},
    {"{a\\brace ", "}", "faithful", 1000},         {"{a\\above 2pt ", "}", "faithful", 1000},
    {"{a\\overwithdelims() ", "}", "faithful", 1000}, {"{", "\\atopwithdelims[] a}", "faithful", 1000},
    {"{a\\over b+", "}", "faithful", 1000},        {"{a+", "\\over b}", "faithful", 1000},
    {"{a\\over ", "}", "equiv", 1000},             {"{a\\over ", "}", "authoring", 1000},
    {"\\frac{a}{", "}", "faithful", 1000},         {"\\frac{", "}{a}", "faithful", 1000},
    {"\\sqrt{", "}", "faithful", 1000},            {"\\left(", "\\right)", "faithful", 1000},
    {"{", "}", "faithful", 1000},                  {"{a ", " b}", "equiv", 1000},
    {"\\mathbf{", "}", "equiv", 1000},             {"\\root 3 \\of {", "}", "faithful", 1000},
    // A \buildrel beside the nest, and one at its bottom.
    {"\\mathrm{", "\\over b}", "faithful", 1000, "x", "\\buildrel a\\over b "},
    {"\\mathrm{", "x\\over b}", "faithful", 1000, "\\buildrel a\\over b "},
    // Groups in font and text arguments that go or dissolve level by level.
    {"\\mathrm{abcd{", "}}", "corpus", 1000, "b"},       {"\\mathbf{a{\\rm ", "}}", "faithful", 1000, "b"},
    {"\\textrm{a{", "}}", "equiv", 1000, "b"},           {"\\textbf{a{\\itshape ", "}}", "corpus", 1000, "b"},
    {"\\textrm{a{\\bf ", "}}", "authoring", 1000, "b"},
};

// Seconds of the normalisation alone of `depth` levels, the best of `runs`;
// negative when the input does not normalise.
double nested_seconds(const transform::TransformContext& engine, const parse::ParseContext& context,
                      const NestingCase& c, std::size_t depth, int runs) {
    std::string source = c.prefix;
    for (std::size_t i = 0; i < depth; ++i) source += c.open;
    source += c.middle;
    for (std::size_t i = 0; i < depth; ++i) source += c.close;
    parse::ParseConfig config;
    config.max_group_depth = 4 * depth + 128;
    double best = -1;
    for (int run = 0; run < runs; ++run) {
        auto outcome = parse::parse_source(context, source, config);
        if (!outcome.document || outcome.document->read_only()) return -1;
        const double start = thread_seconds();
        auto done = engine.run_with(outcome.document->ast_mut(), context, engine.options);
        const double seconds = thread_seconds() - start;
        if (!done) {
            std::fprintf(stderr, "%s\n", done.error().to_string().c_str());
            return -1;
        }
        if (best < 0 || seconds < best) best = seconds;
    }
    return best;
}

int run_nesting(const parse::ParseContext& context, const std::vector<NestingCase>& cases) {
    std::printf("%-24s %-12s %-10s %8s %10s %10s %7s\n", "open", "close", "profile", "n", "n s", "8n s", "ratio");
    for (const NestingCase& c : cases) {
        auto engine = make_engine(std::string_view(c.profile), context);
        if (!engine) return 1;
        const double small = nested_seconds(*engine, context, c, c.depth, 3);
        const double large = nested_seconds(*engine, context, c, 8 * c.depth, 2);
        std::printf("%-24s %-12s %-10s %8zu %10.4f %10.4f %7.1f\n", c.open, c.close, c.profile, c.depth, small, large,
                    small > 0 ? large / small : 0.0);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "--scaling") {
        auto built = parse::ParseContextBuilder().build();
        if (!built) return 1;
        std::vector<ScalingCase> cases(std::begin(SCALING_CASES), std::end(SCALING_CASES));
        if (argc > 2) {
            cases = {ScalingCase{argv[2], argc > 3 ? argv[3] : "authoring",
                                 argc > 4 ? static_cast<std::size_t>(std::stoul(argv[4])) : 12500}};
        }
        return run_scaling(**built, cases);
    }
    if (argc > 1 && std::string_view(argv[1]) == "--nesting") {
        auto built = parse::ParseContextBuilder().build();
        if (!built) return 1;
        std::vector<NestingCase> cases(std::begin(NESTING_CASES), std::end(NESTING_CASES));
        if (argc > 3) {
            cases = {NestingCase{argv[2], argv[3], argc > 4 ? argv[4] : "faithful",
                                 argc > 5 ? static_cast<std::size_t>(std::stoul(argv[5])) : 1000,
                                 argc > 6 ? argv[6] : "x", argc > 7 ? argv[7] : ""}};
        }
        return run_nesting(**built, cases);
    }
    const std::string dir = argc > 1 ? argv[1] : "../shared/corpus";
    std::vector<std::string> lines;
    for (const char* name : {"arxiv.txt", "exam.txt"}) {
        std::ifstream in(dir + "/" + name);
        if (!in) {
            std::fprintf(stderr, "cannot open %s/%s\n", dir.c_str(), name);
            return 1;
        }
        std::string line;
        while (std::getline(in, line)) lines.push_back(std::move(line));
    }

    auto built_context = parse::ParseContextBuilder().build();
    if (!built_context) {
        std::fprintf(stderr, "cannot build the parse context\n");
        return 1;
    }
    const parse::ParseContext& context = **built_context;
    const parse::ParseConfig parse_config;
    const syntax::SerializeOptions serialize_options;
    std::size_t sink = 0;  // keeps the optimiser from dropping work

    if (argc > 3 && std::string_view(argv[2]) == "--once") {
        const std::string_view mode = argv[3];
        if (mode == "parse" || mode == "parse+out") {
            sink = measured_pass(lines, context, nullptr, mode == "parse+out");
        } else {
            auto engine = make_engine(mode, context);
            if (!engine) return 1;
            sink = measured_pass(lines, context, &*engine, true);
        }
        std::printf("formulas %zu\n", lines.size());
        return sink == 0 ? 2 : 0;
    }

    if (argc > 2 && std::string_view(argv[2]) == "--budget") {
        for (const Profile& profile : PROFILES) {
            auto engine = make_engine(profile, context);
            if (!engine) return 1;
            double most = 0, most_per_node = 0, copying = 0, transforming = 0;
            std::uint64_t work = 0, nodes = 0;
            std::string_view worst;
            for (const std::string& line : lines) {
                auto outcome = parse::parse_source(context, line, parse_config);
                if (!outcome.document || outcome.document->read_only()) continue;
                syntax::Ast& ast = outcome.document->ast_mut();
                const std::uint64_t allowance = transform::engine::work_allowance(ast.node_count());
                const std::uint64_t before = util::work_count;
                const auto copy_start = clock_type::now();
                const syntax::Ast kept = ast;
                const auto run_start = clock_type::now();
                const bool ran = static_cast<bool>(engine->run_with(ast, context, engine->options));
                const auto run_end = clock_type::now();
                sink += kept.node_count();
                copying += std::chrono::duration<double>(run_start - copy_start).count();
                transforming += std::chrono::duration<double>(run_end - run_start).count();
                if (!ran) continue;
                const std::uint64_t used = util::work_count - before;
                const double share = static_cast<double>(used) / static_cast<double>(allowance);
                if (share > most) most = share, worst = line;
                most_per_node = std::max(most_per_node, static_cast<double>(used) / static_cast<double>(ast.node_count()));
                work += used;
                nodes += ast.node_count();
            }
            std::printf("%-10s largest share %.6f, work per node %.1f, at most %.1f; a copy costs %.1f%% of a "
                        "transform: %.*s\n",
                        profile.name, most, static_cast<double>(work) / static_cast<double>(nodes), most_per_node,
                        100 * copying / transforming, static_cast<int>(std::min<std::size_t>(worst.size(), 60)),
                        worst.data());
        }
        return 0;
    }

    if (argc > 3 && std::string_view(argv[2]) == "--dump") {
        auto engine = make_engine(std::string_view(argv[3]), context);
        if (!engine) return 1;
        for (const std::string& line : lines) {
            auto outcome = parse::parse_source(context, line, parse_config);
            std::optional<std::string> text;
            if (outcome.document && !outcome.document->read_only() &&
                engine->run_with(outcome.document->ast_mut(), context, engine->options))
                if (auto written = syntax::serialize::serialize_with(outcome.document->ast(), serialize_options))
                    text = std::move(*written);
            const std::string_view shown = text ? std::string_view(*text) : "<none>";
            std::fwrite(shown.data(), 1, shown.size(), stdout);
            std::fputc('\n', stdout);
        }
        return 0;
    }

    const double parse_seconds = time_rounds(
        [&] {
            for (const std::string& line : lines) {
                auto outcome = parse::parse_source(context, line, parse_config);
                sink += outcome.diagnostics.size();
            }
        },
        2.0);
    const double parse_write_seconds = time_rounds(
        [&] {
            for (const std::string& line : lines) {
                auto outcome = parse::parse_source(context, line, parse_config);
                if (!outcome.document) continue;
                auto text = syntax::serialize::serialize_with(outcome.document->ast(), serialize_options);
                if (text) sink += text->size();
            }
        },
        2.0);

    const double n = static_cast<double>(lines.size());
    std::printf("formulas %zu\n", lines.size());
    std::printf("%-10s %12s %14s %14s %9s %9s %9s\n", "profile", "formulas/s", "us/formula", "transform us",
                "unparsed", "failed", "changed");
    std::printf("%-10s %12.0f %14.2f %14s\n", "parse", n / parse_seconds, parse_seconds / n * 1e6, "-");
    std::printf("%-10s %12.0f %14.2f %14s\n", "parse+out", n / parse_write_seconds,
                parse_write_seconds / n * 1e6, "-");

    for (const Profile& profile : PROFILES) {
        auto engine = make_engine(profile, context);
        if (!engine) return 1;
        const double seconds = time_rounds(
            [&] {
                for (const std::string& line : lines) {
                    auto outcome = parse::parse_source(context, line, parse_config);
                    if (!outcome.document || outcome.document->read_only()) continue;
                    syntax::Ast& ast = outcome.document->ast_mut();
                    if (!engine->run_with(ast, context, engine->options)) continue;
                    auto text = syntax::serialize::serialize_with(ast, serialize_options);
                    if (text) sink += text->size();
                }
            },
            2.0);
        // One untimed pass with reports for the counts.
        Counts counts;
        for (const std::string& line : lines) {
            ++counts.formulas;
            auto outcome = parse::parse_source(context, line, parse_config);
            if (!outcome.document || outcome.document->read_only()) {
                ++counts.unparsed;
                continue;
            }
            auto report = engine->run_with_report(outcome.document->ast_mut(), context, engine->options);
            if (!report) {
                if (counts.failed++ == 0)
                    std::fprintf(stderr, "%s: first failure: %s: %s\n", profile.name, line.c_str(),
                                 report.error().to_string().c_str());
                continue;
            }
            for (const transform::RewriteRuleStat& stat : report->rewrite.rules)
                if (stat.applied > 0) {
                    ++counts.changed;
                    break;
                }
        }
        std::printf("%-10s %12.0f %14.2f %14.2f %9zu %9zu %9zu\n", profile.name, n / seconds, seconds / n * 1e6,
                    (seconds - parse_write_seconds) / n * 1e6, counts.unparsed, counts.failed, counts.changed);
    }
    std::printf("(transform us: normalise minus parse+out, per formula; changed: some rule applied)\n");
    return sink == 0 ? 2 : 0;
}
