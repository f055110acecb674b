// A parse first runs without keeping failures and starts again keeping them
// where one is needed. Whatever the input and settings, the outcome must be
// the one a parse keeping failures throughout gives.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "parse_grammar_support.hpp"

namespace quorvel::parse {
namespace {

using testing::default_context;

std::vector<ParseConfig> all_settings() {
    std::vector<ParseConfig> out;
    for (int bits = 0; bits < 8; ++bits) {
        ParseConfig config;
        config.reject_unknown = (bits & 1) != 0;
        config.abort_on_error = (bits & 2) != 0;
        if ((bits & 4) != 0) config.max_group_depth = 2;
        out.push_back(config);
    }
    return out;
}

void expect_same_as_keeping_failures(const std::string& source, const ParseConfig& config) {
    const ParseOutcome quick = parse_source(default_context(), source, config);
    const ParseOutcome kept = parse_source_keeping_failures(default_context(), source, config);
    const std::string where = "source: " + source + " reject_unknown=" + std::to_string(config.reject_unknown) +
                              " abort_on_error=" + std::to_string(config.abort_on_error) +
                              " max_group_depth=" + std::to_string(config.max_group_depth);
    ASSERT_EQ(quick.document.has_value(), kept.document.has_value()) << where;
    if (quick.document) {
        EXPECT_EQ(quick.document->to_syntax(), kept.document->to_syntax()) << where;
        EXPECT_EQ(quick.document->node_spans(), kept.document->node_spans()) << where;
    }
    EXPECT_EQ(quick.diagnostics, kept.diagnostics) << where;
}

// Inputs that reach the places where a failure is read: recovery of items,
// a bad \left delimiter, re-parsed arguments that fail, failed environments,
// missing script operands, the depth limit, and the end of the parse.
const char* const kInputs[] = {
    "a+b",
    "x^",
    "x_^y",
    "x^{}_",
    "\\left( a \\right.",
    "\\left\\foo a\\right)",
    "\\left( a",
    "a \\right)",
    "\\begin{matrix}a&b\\\\c\\end{matrix}",
    "\\begin{foo}x\\end{foo}",
    "\\begin{matrix}a\\end{pmatrix}",
    "\\begin{matrix}a",
    "\\begin{array}{q}a\\end{array}",
    "\\begin{array}{cc}a&b\\end{array}",
    "a \\over b \\atop c",
    "\\buildrel a \\over b",
    "\\sqrt[3]{x}",
    "\\sqrt[{x}",
    "\\frac{a}",
    "\\frac a",
    "\\frac{\\left( x}{y}",
    "\\mathrm{a \\over b \\over c}",
    "{a",
    "a}",
    "{{{x}}}",
    "\\text{a $b$ c}",
    "\\text{a $b}",
    "\\text{x^2}",
    "\\(",
    "\\mbox{\\(x\\)}",
    "\\mbox{\\(x}",
    "\\hspace{3cm}",
    "\\hspace{3xx}",
    "\\rule{1pt}",
    "\\genfrac(]{0pt}{2}{a}{b}",
    "\\genfrac{x}{}{}{}{a}{b}",
    "\\unknowncmd x",
    "\\operatorname*{x}",
    "\\big(",
    "\\big\\foo",
    "\\color{red}x",
    "\\color{}x",
    "$",
    "&",
    "#",
    "x''^2_3",
    "\\end{x}",
    "\\right)",
    "\\\\",
    "a\\\\[3pt]b",
    "a\\\\[3q]b",
    "\\setlength{\\x}{3pt}",
    // `\(` in text left open: read as math, then as a command. Nested in
    // text arguments the quiet run reads an argument again and runs again
    // sharing them; in a run, later contents end where an earlier one did.
    "\\textbf{\\(\\textbf{\\(z}}",
    "{\\textbf{\\(\\textbf{\\(z}}}",
    "\\textbf{\\(x\\)\\(\\textbf{\\(x\\)\\(z}}",
    "\\textbf{\\(\\textbf{\\(z^}}",
    "\\text{\\(\\(\\(}",
    "\\text{\\( \\(  \\( }",
    "\\text{\\(\\(a\\over b}",
    "\\text{\\(\\(\\buildrel a\\over b c}",
    "\\text{\\(a\\(b\\)}",
    "\\text{\\(\\(x\\) \\(y}",
    "\\text{\\(\\({x}\\(}",
    "\\text{\\(\\(\\text{\\(\\(}}",
    "\\text{\\(\\(x^}",
    "\\text{\\(\\(}\\text{\\(\\)}",
};

TEST(QuietRun, TableMatchesKeepingFailures) {
    for (const ParseConfig& config : all_settings()) {
        for (const char* input : kInputs) expect_same_as_keeping_failures(input, config);
    }
}

std::vector<std::string> corpus_lines() {
    std::vector<std::string> out;
    const std::filesystem::path dir = QUORVEL_CORPUS_DIR;
    for (const char* name : {"arxiv.txt", "exam.txt"}) {
        std::ifstream file(dir / name, std::ios::binary);
        std::string line;
        while (std::getline(file, line)) out.push_back(line);
    }
    return out;
}

// Corpus lines, and lines damaged by deleting, doubling or inserting a few
// characters (mostly markup), so that many of them fail somewhere.
TEST(QuietRun, CorpusAndDamagedLinesMatchKeepingFailures) {
    const std::vector<std::string> lines = corpus_lines();
    if (lines.empty()) GTEST_SKIP() << "corpus absent: " << QUORVEL_CORPUS_DIR;
    const std::vector<ParseConfig> settings = all_settings();
    std::mt19937 rng(20261207);
    const std::string markup = "{}[]()^_$&\\ \\left\\right\\begin{matrix}\\end{x}\\frac\\text{";
    for (std::size_t i = 0; i < lines.size(); i += 7) {
        std::string line = lines[i];
        expect_same_as_keeping_failures(line, settings[i % settings.size()]);
        if (line.empty()) continue;
        for (int edit = 0; edit < 3; ++edit) {
            const std::size_t at = rng() % (line.size() + 1);
            switch (rng() % 3) {
                case 0:
                    if (at < line.size()) line.erase(at, 1);
                    break;
                case 1:
                    if (at < line.size()) line.insert(at, 1, line[at]);
                    break;
                default: {
                    const std::size_t from = rng() % markup.size();
                    line.insert(at, markup.substr(from, 1 + rng() % 6));
                }
            }
        }
        expect_same_as_keeping_failures(line, settings[(i / 7) % settings.size()]);
    }
}

}  // namespace
}  // namespace quorvel::parse
