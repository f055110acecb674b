// Parse throughput over the corpus: every line of each corpus file is parsed
// with the default parse context, repeatedly, and the rate is printed in
// formulas per second and MB/s, beside the rate of lexing the same lines.
//
//   parse_bench [corpus-dir]      (default: ../shared/corpus, relative to the repository)
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "parse/lexer.hpp"
#include "parse/parse.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

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

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : "../shared/corpus";
    auto context = quorvel::parse::ParseContextBuilder().build();
    if (!context) {
        std::fprintf(stderr, "cannot build the parse context: %s\n", context.error().to_string().c_str());
        return 1;
    }
    const quorvel::parse::ParseConfig config;

    for (const char* name : {"arxiv.txt", "exam.txt"}) {
        std::ifstream in(dir + "/" + name);
        if (!in) {
            std::fprintf(stderr, "cannot open %s/%s\n", dir.c_str(), name);
            return 1;
        }
        std::vector<std::string> lines;
        std::size_t bytes = 0;
        std::string line;
        while (std::getline(in, line)) {
            bytes += line.size();
            lines.push_back(std::move(line));
        }

        std::size_t documents = 0;
        std::size_t diagnostics = 0;
        const double parse_s = time_per_pass([&] {
            documents = 0;
            diagnostics = 0;
            for (const std::string& l : lines) {
                auto out = quorvel::parse::parse_source(*context.value(), l, config);
                documents += out.document ? 1 : 0;
                diagnostics += out.diagnostics.size();
            }
        });
        std::size_t tokens = 0;
        const double lex_s = time_per_pass([&] {
            tokens = 0;
            for (const std::string& l : lines) {
                auto stream = quorvel::parse::build_token_stream(l);
                if (auto* s = std::get_if<quorvel::parse::TokenStream>(&stream)) tokens += s->tokens.size();
            }
        });

        const double mb = static_cast<double>(bytes) / 1e6;
        std::printf("%s: %zu lines, %zu bytes, %zu tokens; %zu documents, %zu diagnostics\n", name, lines.size(),
                    bytes, tokens, documents, diagnostics);
        std::printf("  parse: %.0f formulas/s, %.1f MB/s\n", static_cast<double>(lines.size()) / parse_s,
                    mb / parse_s);
        std::printf("  lex:   %.1f MB/s (parse takes %.1fx the lexing time)\n", mb / lex_s, parse_s / lex_s);
    }
    return 0;
}
