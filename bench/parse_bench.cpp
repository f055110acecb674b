// Parse benchmarks, in one run:
//   - throughput over each corpus: every line parsed with the default parse
//     context, repeatedly, in formulas/s and MB/s, beside the rate of lexing
//     the same lines (the parse/lex ratio);
//   - kept memory: 100,000 corpus documents (the lines of both corpora in
//     turn, cycled) held alive at once, in heap bytes per node and per
//     document, and the same for one-character documents;
//   - large inputs: each parsed in a child process of its own, with the
//     parse time and the child's peak resident size.
//
//   parse_bench [corpus-dir] [throughput|memory|large]...
//   (default corpus dir: ../shared/corpus, relative to the repository; by
//   default every section runs)
//
// Heap bytes are malloc's own count of bytes in use (every allocation of the
// process passes through it), so the figures include allocator rounding but
// not its per-block headers nor pages it keeps free.
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "parse/lexer.hpp"
#include "parse/parse.hpp"
#include "syntax/syntax_node.hpp"

namespace {

using clock_type = std::chrono::steady_clock;
namespace qp = quorvel::parse;
using quorvel::syntax::document::Document;

// Runs `pass` for at least two seconds; returns the seconds per pass.
template <class Pass>
double time_per_pass(Pass&& pass) {
    pass();  // warm up
    const auto start = clock_type::now();
    int rounds = 0;
    double seconds = 0;
    do {
        pass();
        ++rounds;
        seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    } while (seconds < 2.0);
    return seconds / rounds;
}

std::size_t heap_in_use() {
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// VmRSS of this process, in bytes.
std::size_t resident_bytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10) * 1024;
    }
    return 0;
}

struct Corpus {
    const char* name;
    std::vector<std::string> lines;
    std::size_t bytes = 0;
};

bool read_corpus(const std::string& dir, Corpus& corpus) {
    std::ifstream in(dir + "/" + corpus.name);
    if (!in) {
        std::fprintf(stderr, "cannot open %s/%s\n", dir.c_str(), corpus.name);
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        corpus.bytes += line.size();
        corpus.lines.push_back(std::move(line));
    }
    return true;
}

void throughput(const qp::ParseContext& context, const Corpus& corpus) {
    const qp::ParseConfig config;
    std::size_t documents = 0;
    std::size_t diagnostics = 0;
    const double parse_s = time_per_pass([&] {
        documents = 0;
        diagnostics = 0;
        for (const std::string& l : corpus.lines) {
            auto out = qp::parse_source(context, l, config);
            documents += out.document ? 1 : 0;
            diagnostics += out.diagnostics.size();
        }
    });
    std::size_t tokens = 0;
    const double lex_s = time_per_pass([&] {
        tokens = 0;
        for (const std::string& l : corpus.lines) {
            auto stream = qp::build_token_stream(l);
            if (auto* s = std::get_if<qp::TokenStream>(&stream)) tokens += s->tokens.size();
        }
    });

    const double mb = static_cast<double>(corpus.bytes) / 1e6;
    std::printf("%s: %zu lines, %zu bytes, %zu tokens; %zu documents, %zu diagnostics\n", corpus.name,
                corpus.lines.size(), corpus.bytes, tokens, documents, diagnostics);
    std::printf("  parse: %.0f formulas/s, %.1f MB/s, %.2f us per formula\n",
                static_cast<double>(corpus.lines.size()) / parse_s, mb / parse_s,
                parse_s * 1e6 / static_cast<double>(corpus.lines.size()));
    std::printf("  lex:   %.1f MB/s (parse takes %.1fx the lexing time)\n", mb / lex_s, parse_s / lex_s);
}

// Parses `count` sources from `next()` and keeps every document; prints the
// heap and resident growth per node and per document. The documents are
// counted at their own size too, as a caller holding each one would pay it.
template <class Next>
void kept(const char* label, const qp::ParseContext& context, std::size_t count, Next&& next) {
    const qp::ParseConfig config;
    std::vector<Document> documents;
    documents.reserve(count);
    const std::size_t heap_before = heap_in_use();
    const std::size_t rss_before = resident_bytes();
    std::size_t nodes = 0;
    for (std::size_t i = 0; i < count; ++i) {
        auto out = qp::parse_source(context, next(i), config);
        if (!out.document) continue;
        nodes += out.document->ast().node_count();
        documents.push_back(std::move(*out.document));
    }
    const double heap = static_cast<double>(heap_in_use() - heap_before) +
                        static_cast<double>(documents.size() * sizeof(Document));
    const double rss = static_cast<double>(resident_bytes() - rss_before);
    const double docs = static_cast<double>(documents.size());
    std::printf("  %s: %zu documents, %zu nodes; heap %.1f bytes per node, %.0f per document "
                "(resident growth %.1f per node, %.0f per document)\n",
                label, documents.size(), nodes, heap / static_cast<double>(nodes), heap / docs,
                rss / static_cast<double>(nodes), rss / docs);
}

void memory(const qp::ParseContext& context, const std::vector<Corpus>& corpora) {
    std::vector<std::string_view> lines;
    for (const Corpus& c : corpora) lines.insert(lines.end(), c.lines.begin(), c.lines.end());
    std::printf("kept documents (sizeof(Document) = %zu, node %zu, arena slot %zu):\n", sizeof(Document),
                sizeof(quorvel::syntax::ast::Node), quorvel::syntax::Ast::kSlotBytes);
    kept("corpus, cycled", context, 100000, [&](std::size_t i) { return lines[i % lines.size()]; });
    kept("one character", context, 100000, [](std::size_t) { return std::string_view("a"); });
}

struct LargeRow {
    const char* label;
    std::string_view unit;
    std::size_t repeats;
};

// Parses one large input in a child process; prints its time and the child's
// peak resident size (which includes the input and this small parent's pages).
void large(const LargeRow& row) {
    std::fflush(stdout);
    int fds[2];
    if (pipe(fds) != 0) return;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string source;
        source.reserve(row.unit.size() * row.repeats);
        for (std::size_t i = 0; i < row.repeats; ++i) source.append(row.unit);
        auto context = qp::ParseContextBuilder().build();
        const auto start = clock_type::now();
        auto out = qp::parse_source(*context.value(), source, qp::ParseConfig{});
        const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
        char buf[160];
        const int n = std::snprintf(buf, sizeof buf, "%.2f s, document %s, %zu diagnostics, %zu nodes", seconds,
                                    out.document ? "yes" : "no", out.diagnostics.size(),
                                    out.document ? out.document->ast().node_count() : std::size_t{0});
        if (write(fds[1], buf, static_cast<std::size_t>(n)) < 0) _exit(2);
        _exit(0);
    }
    close(fds[1]);
    std::string report;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) report.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    std::printf("  %-26s %s; peak RSS %.2f GiB%s\n", row.label, report.c_str(),
                static_cast<double>(usage.ru_maxrss) / (1024.0 * 1024.0),
                WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : " (child failed)");
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = "../shared/corpus";
    std::vector<std::string> sections;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "throughput" || arg == "memory" || arg == "large") {
            sections.push_back(arg);
        } else {
            dir = arg;
        }
    }
    auto wanted = [&](const char* s) {
        if (sections.empty()) return true;
        for (const auto& x : sections) if (x == s) return true;
        return false;
    };

    // Large rows first, while this parent is small: a child's peak counts
    // the pages it shares with its parent.
    if (wanted("large")) {
        std::printf("large inputs (one child process each; exchange node %zu bytes):\n",
                    sizeof(quorvel::syntax::SyntaxNode));
        large({"10 MB of `a`", "a", 10'000'000});
        large({"`a+b^2_{i}-` x1,000,000", "a+b^2_{i}-", 1'000'000});
        large({"`{x^#}` x1,000,000", "{x^#}", 1'000'000});
    }

    auto context = qp::ParseContextBuilder().build();
    if (!context) {
        std::fprintf(stderr, "cannot build the parse context: %s\n", context.error().to_string().c_str());
        return 1;
    }
    std::vector<Corpus> corpora{{"arxiv.txt", {}, 0}, {"exam.txt", {}, 0}};
    for (Corpus& c : corpora) {
        if (!read_corpus(dir, c)) return 1;
    }
    if (wanted("throughput")) {
        for (const Corpus& c : corpora) throughput(*context.value(), c);
    }
    if (wanted("memory")) memory(*context.value(), corpora);
    return 0;
}
