// No input may crash, hang or take more than linear time: deep nesting ends
// in order, long flat input parses, and every corpus line goes through.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "parse_grammar_support.hpp"

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

struct DeepCase {
    const char* name;
    std::string open;
    std::string close;
};

class DeepNesting : public ::testing::TestWithParam<DeepCase> {};

TEST_P(DeepNesting, EndsInOrderAndQuickly) {
    const DeepCase& c = GetParam();
    std::string source;
    source.reserve(kDeep * (c.open.size() + c.close.size()) + 1);
    for (std::size_t i = 0; i < kDeep; ++i) source += c.open;
    source += "x";
    for (std::size_t i = 0; i < kDeep; ++i) source += c.close;
    ParseConfig config;
    config.max_group_depth = 1000000000;
    const auto start = std::chrono::steady_clock::now();
    ParseOutcome out = parse_source(default_context(), source, config);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    expect_orderly(out);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 5000);
}

INSTANTIATE_TEST_SUITE_P(Cases, DeepNesting,
                         ::testing::Values(DeepCase{"braces", "{", "}"}, DeepCase{"superscripts", "x^{", "}"},
                                           DeepCase{"unclosed_braces", "{", ""}),
                         [](const auto& info) { return info.param.name; });

TEST(DeepNestingThreads, SmallStackEndsInOrder) {
    // A thread with a small stack trips the guard early, never overflows.
    std::string source = std::string(20000, '{') + std::string(20000, '}');
    ParseConfig config;
    config.max_group_depth = 1000000000;
    ParseOutcome out;
    std::thread worker;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t thread;
    struct Job {
        const std::string* source;
        const ParseConfig* config;
        ParseOutcome* out;
    } job{&source, &config, &out};
    auto run = [](void* arg) -> void* {
        auto* j = static_cast<Job*>(arg);
        *j->out = parse_source(default_context(), *j->source, *j->config);
        return nullptr;
    };
    default_context();  // build it on this thread
    ASSERT_EQ(pthread_create(&thread, &attr, run, &job), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    expect_orderly(out);
}

// A long flat line takes time linear in its length: doubling the line must
// not much more than double the time. (The benchmark measures a 10 MB line in
// a release build; sanitizer builds are too slow for that here.)
TEST(LongInput, FlatLineParsesInLinearTime) {
    auto run = [](std::size_t bytes) {
        std::string source;
        source.reserve(bytes + 2);
        while (source.size() < bytes) source += "a+";
        const auto start = std::chrono::steady_clock::now();
        ParseOutcome out = parse_source(default_context(), source, ParseConfig{});
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(out.document);
        EXPECT_TRUE(out.diagnostics.empty());
        return std::chrono::duration<double>(elapsed).count();
    };
    const double small = run(128 * 1024);
    const double large = run(512 * 1024);
    EXPECT_LT(large, 8 * small + 0.5);
}

// Malformed input repeated: each repetition is one failure that recovery
// gets over (or, for the unbraced `\begin`, one more unclosed environment),
// so the time must grow linearly with the number of repetitions. The base
// size doubles until its parse takes 10 milliseconds, which keeps the
// sizes small in a sanitized build; a linear parse then takes about 8 times
// as long at 8 times the size (more with cache effects), a quadratic one
// about 64 times.
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
    // The best of three runs, in seconds.
    auto seconds = [&](std::size_t repeats) {
        std::string source;
        source.reserve(repeats * c.pattern.size());
        for (std::size_t i = 0; i < repeats; ++i) source += c.pattern;
        double best = 0;
        for (int run = 0; run < 3; ++run) {
            const auto start = std::chrono::steady_clock::now();
            const ParseOutcome out = parse_source(default_context(), source, config);
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            EXPECT_FALSE(out.diagnostics.empty());
            if (run == 0 || elapsed < best) best = elapsed;
        }
        return best;
    };
    std::size_t repeats = 64;
    double small = seconds(repeats);
    while (small < 0.01 && repeats < 32768) {
        repeats *= 2;
        small = seconds(repeats);
    }
    // A second measurement absorbs a busy moment of the machine (the suite
    // runs tests in parallel); a quadratic parse fails both.
    double large = seconds(8 * repeats);
    if (large >= 24 * small + 0.002) {
        small = seconds(repeats);
        large = seconds(8 * repeats);
    }
    EXPECT_LT(large, 24 * small + 0.002) << repeats << " repeats: " << small << " s, 8 times as many: " << large
                                         << " s";
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
                      ErrorPatternCase{"unclosed_begin", R"({\begin{a}x})"}),
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
