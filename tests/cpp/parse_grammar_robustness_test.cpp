// No input may crash, hang or take more than linear time: deep nesting ends
// in order, long flat input parses, and every corpus line goes through.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string_view>

#include <pthread.h>

#include "parse_grammar_support.hpp"
#include "parse_work.hpp"

namespace quorvel::parse {
namespace {

using testing::default_context;

constexpr std::size_t kDeep = 200000;

// A parse that ends either with a document or with the one nesting diagnostic.
void expect_orderly(const ParseOutcome& out) {
    if (out.document) return;
    ASSERT_EQ(out.diagnostics.size(), 1u);
    EXPECT_EQ(out.diagnostics[0].kind, ParseDiagnosticKind::MaxGroupDepthExceeded);
    EXPECT_NE(out.diagnostics[0].message.find("nesting limit"), std::string::npos);
}

// Runs `job` on a new thread with a stack of `stack_bytes`.
template <class Job>
void run_with_stack(std::size_t stack_bytes, Job job) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stack_bytes);
    pthread_t thread;
    auto run = [](void* arg) -> void* {
        (*static_cast<Job*>(arg))();
        return nullptr;
    };
    default_context();  // build it on this thread
    ASSERT_EQ(pthread_create(&thread, &attr, run, &job), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

std::string nested(std::string_view open, std::string_view inner, std::string_view close, std::size_t levels) {
    std::string source;
    source.reserve(levels * (open.size() + close.size()) + inner.size());
    for (std::size_t i = 0; i < levels; ++i) source += open;
    source += inner;
    for (std::size_t i = 0; i < levels; ++i) source += close;
    return source;
}

struct DeepCase {
    const char* name;
    std::string open;
    std::string close;
};

class DeepNesting : public ::testing::TestWithParam<DeepCase> {};

// Past the budget of stack segments the parse ends in order, within the work
// of a linear parse. The budget is lowered to one segment so that every build
// reaches its end.
TEST_P(DeepNesting, EndsInOrderAndQuickly) {
    const DeepCase& c = GetParam();
    const std::string source = nested(c.open, "x", c.close, kDeep);
    ParseConfig config;
    config.max_group_depth = 1000000000;
    testing::OneStackSegment budget;
    ParseOutcome out = parse_source(default_context(), source, config);
    expect_orderly(out);
    EXPECT_EQ(testing::work_fault(testing::last_work()), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, DeepNesting,
                         ::testing::Values(DeepCase{"braces", "{", "}"}, DeepCase{"superscripts", "x^{", "}"},
                                           DeepCase{"unclosed_braces", "{", ""}),
                         [](const auto& info) { return info.param.name; });

// Nesting does not depend on the caller's stack: the recursion continues on
// stack segments of its own, on the main thread and on a thread with a small
// stack alike, and gives the same document.
class StackGrowth : public ::testing::TestWithParam<DeepCase> {};

TEST_P(StackGrowth, DeepNestingParsesOnAnyThread) {
    const DeepCase& c = GetParam();
    for (const std::size_t levels : {std::size_t{128}, std::size_t{3000}}) {
        SCOPED_TRACE(levels);
        const std::string source = nested(c.open, "x", c.close, levels);
        ParseConfig config;
        if (levels > 128) config.max_group_depth = 1000000000;
        const ParseOutcome main = parse_source(default_context(), source, config);
        ASSERT_TRUE(main.document);
        EXPECT_TRUE(main.diagnostics.empty());
        std::optional<std::string> latex;
        std::size_t diagnostics = 0;
        bool same = false;
        run_with_stack(256 * 1024, [&] {
            ParseOutcome small = parse_source(default_context(), source, config);
            diagnostics = small.diagnostics.size();
            if (!small.document) return;
            same = small.document->to_syntax() == main.document->to_syntax();
            if (auto written = small.document->to_latex()) latex = std::move(*written);
        });
        EXPECT_EQ(diagnostics, 0u);
        EXPECT_TRUE(same);
        EXPECT_EQ(latex, main.document->to_latex().value());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Constructs, StackGrowth,
    ::testing::Values(DeepCase{"braces", "{", "}"}, DeepCase{"frac", "\\frac{", "}{y}"},
                      DeepCase{"sqrt", "\\sqrt{", "}"}, DeepCase{"left_right", "\\left(", "\\right)"},
                      DeepCase{"superscripts", "x^{", "}"},
                      DeepCase{"environments", "\\begin{aligned}", "\\end{aligned}"},
                      DeepCase{"text_math", "\\text{$", "$}"}),
    [](const auto& info) { return info.param.name; });

// A failure deep down crosses the segments as an exception (the quiet first
// run gives up there) and the run that keeps failures reports it.
TEST(StackGrowthFailures, DeepFailureIsReportedOnce) {
    const std::string source = nested("{", "x^", "}", 3000);
    ParseConfig config;
    config.max_group_depth = 1000000000;
    std::size_t diagnostics = 0;
    bool document = false;
    run_with_stack(256 * 1024, [&] {
        ParseOutcome out = parse_source(default_context(), source, config);
        document = out.document.has_value();
        diagnostics = out.diagnostics.size();
    });
    EXPECT_TRUE(document);
    EXPECT_EQ(diagnostics, 1u);
}

// The mechanism alone: a recursion with 32 KB frames spans several segments,
// comes back with its result, carries an exception back across every hop,
// and ends with `NestingTooDeep` where the budget ends.
struct Probe {
    // Returns the depth reached; throws `std::runtime_error` at `throw_at`.
    static std::size_t descend(std::size_t level, std::size_t levels, std::size_t throw_at) {
        if (grammar::stack_low()) {
            return grammar::on_fresh_stack([&] { return descend(level, levels, throw_at); });
        }
        volatile char frame[32 * 1024];
        frame[0] = static_cast<char>(level);
        if (level == throw_at) throw std::runtime_error("at " + std::to_string(level));
        const std::size_t reached = level == levels ? level : descend(level + 1, levels, throw_at);
        return reached + static_cast<std::size_t>(frame[0] != static_cast<char>(level));
    }
};

TEST(StackSegments, RecursionSpansSegmentsAndEndsAtTheBudget) {
    constexpr std::size_t kLevels = 8000;  // about 256 MB of frames: four segments at least
    std::size_t reached = 0;
    std::string thrown;
    bool too_deep = false;
    run_with_stack(256 * 1024, [&] {
        reached = Probe::descend(1, kLevels, 0);
        try {
            Probe::descend(1, kLevels, kLevels - 1);
        } catch (const std::runtime_error& e) {
            thrown = e.what();
        }
        testing::OneStackSegment budget;
        try {
            Probe::descend(1, kLevels, 0);
        } catch (const grammar::NestingTooDeep&) {
            too_deep = true;
        }
    });
    EXPECT_EQ(reached, kLevels);
    EXPECT_EQ(thrown, "at " + std::to_string(kLevels - 1));
    EXPECT_TRUE(too_deep);
}

// A long flat line takes work linear in its length. (The benchmark measures
// a 10 MB line in a release build; sanitizer builds are too slow for that.)
TEST(LongInput, FlatLineParsesInLinearTime) {
    auto run = [](std::size_t bytes) {
        std::string source;
        source.reserve(bytes + 2);
        while (source.size() < bytes) source += "a+";
        ParseOutcome out = parse_source(default_context(), source, ParseConfig{});
        EXPECT_TRUE(out.document);
        EXPECT_TRUE(out.diagnostics.empty());
        return testing::last_work();
    };
    const testing::Work small = run(64 * 1024);
    EXPECT_EQ(testing::work_fault(small, run(512 * 1024)), "");
}

// Parses `pattern` repeated 256 and 2048 times and expects the work to grow
// about linearly (see parse_work.hpp). `malformed`: whether every parse
// reports a diagnostic, or none does.
void expect_linear_in_repeats(const std::string& pattern, const ParseConfig& config, bool malformed) {
    auto work = [&](std::size_t repeats) {
        std::string source;
        source.reserve(repeats * pattern.size());
        for (std::size_t i = 0; i < repeats; ++i) source += pattern;
        EXPECT_EQ(parse_source(default_context(), source, config).diagnostics.empty(), !malformed);
        return testing::last_work();
    };
    const testing::Work small = work(256);
    EXPECT_EQ(testing::work_fault(small, work(2048)), "");
}

// Malformed input repeated: each repetition is one failure that recovery
// gets over (or, for the unbraced `\begin`, one more unclosed environment),
// so the time must grow linearly with the number of repetitions.
struct ErrorPatternCase {
    const char* name;
    std::string pattern;
    bool reject_unknown = false;
};

void PrintTo(const ErrorPatternCase& c, std::ostream* os) { *os << c.pattern; }

class ErrorHeavyInput : public ::testing::TestWithParam<ErrorPatternCase> {};

TEST_P(ErrorHeavyInput, ParsesInLinearTime) {
    const ErrorPatternCase& c = GetParam();
    ParseConfig config;
    config.reject_unknown = c.reject_unknown;
    expect_linear_in_repeats(c.pattern, config, true);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, ErrorHeavyInput,
    ::testing::Values(ErrorPatternCase{"mismatched_end_in_group", R"({\begin{a}x\end{b}})"},
                      ErrorPatternCase{"mismatched_end", R"(\begin{a}x\end{b} )"},
                      ErrorPatternCase{"missing_argument_in_argument", R"(\sqrt{\frac{a}})"},
                      ErrorPatternCase{"unclosed_optional_argument", R"(\sqrt{\sqrt[x})"},
                      ErrorPatternCase{"parameter_character", R"({x^#})"},
                      ErrorPatternCase{"unknown_command", R"({\foo})", true},
                      ErrorPatternCase{"missing_subscript", R"({x_})"},
                      ErrorPatternCase{"unclosed_left", R"(\sqrt{\left(})"},
                      ErrorPatternCase{"unclosed_begin", R"({\begin{a}x})"},
                      ErrorPatternCase{"script_fault_after_left_right", R"({\left(x\right)^2^3})"},
                      ErrorPatternCase{"script_fault_after_environment", R"({\begin{a}x\end{a}^#})"},
                      ErrorPatternCase{"unclosed_script_after_left_right", R"(\left(x\right)^{2)"}),
    [](const auto& info) { return info.param.name; });

// Valid constructions repeated in one content. Each `\buildrel ... \over`
// construction reads the rest of the content as a tail of its own, so a run
// of them nests one tail in the other.
struct RepeatedCase {
    const char* name;
    std::string pattern;
};

void PrintTo(const RepeatedCase& c, std::ostream* os) { *os << c.pattern; }

class RepeatedConstruct : public ::testing::TestWithParam<RepeatedCase> {};

TEST_P(RepeatedConstruct, ParsesInLinearTime) { expect_linear_in_repeats(GetParam().pattern, ParseConfig{}, false); }

INSTANTIATE_TEST_SUITE_P(Patterns, RepeatedConstruct,
                         ::testing::Values(RepeatedCase{"buildrel", R"(\buildrel a \over b )"}),
                         [](const auto& info) { return info.param.name; });

TEST(Corpus, EveryLineParsesWithoutCrash) {
    const std::filesystem::path dir = QUORVEL_CORPUS_DIR;
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "corpus folder absent: " << dir;
    std::size_t lines = 0;
    std::size_t documents = 0;
    for (const char* name : {"arxiv.txt", "exam.txt"}) {
        std::ifstream file(dir / name, std::ios::binary);
        if (!file) continue;
        std::string line;
        while (std::getline(file, line)) {
            ParseOutcome out = parse_source(default_context(), line, ParseConfig{});
            ++lines;
            if (out.document) ++documents;
            for (const auto& d : out.diagnostics) {
                ASSERT_LE(d.span.start, line.size() + 1) << line;
            }
        }
    }
    if (lines == 0) GTEST_SKIP() << "no corpus lines in " << dir;
    RecordProperty("lines", static_cast<int>(lines));
    RecordProperty("documents", static_cast<int>(documents));
}

}  // namespace
}  // namespace quorvel::parse
