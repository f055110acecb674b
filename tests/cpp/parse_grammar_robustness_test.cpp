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
