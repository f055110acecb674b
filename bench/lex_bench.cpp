// Lexing throughput over the corpus: every line of arxiv.txt and exam.txt is lexed
// into a reused token vector, repeatedly, and the rate is printed in MB/s.
//
//   lex_bench [corpus-dir]      (default: ../shared/corpus, relative to the repository)
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "parse/lexer.hpp"

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : "../shared/corpus";
    std::vector<std::string> lines;
    std::size_t bytes = 0;
    for (const char* name : {"arxiv.txt", "exam.txt"}) {
        std::ifstream in(dir + "/" + name);
        if (!in) {
            std::fprintf(stderr, "cannot open %s/%s\n", dir.c_str(), name);
            return 1;
        }
        std::string line;
        while (std::getline(in, line)) {
            bytes += line.size();
            lines.push_back(std::move(line));
        }
    }

    quorvel::parse::TokenStream stream;
    std::size_t tokens = 0;
    std::size_t errors = 0;
    auto pass = [&] {
        for (const std::string& line : lines) {
            if (quorvel::parse::lex_into(line, stream)) ++errors;
            tokens += stream.tokens.size();
        }
    };
    pass();  // warm up

    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    int rounds = 0;
    double seconds = 0;
    tokens = 0;
    errors = 0;
    do {
        pass();
        ++rounds;
        seconds = std::chrono::duration<double>(clock::now() - start).count();
    } while (seconds < 2.0);

    const double mb = static_cast<double>(bytes) * rounds / 1e6;
    std::printf("lines %zu, bytes %zu, tokens per round %zu, lexer errors %zu\n", lines.size(), bytes,
                tokens / static_cast<std::size_t>(rounds), errors / static_cast<std::size_t>(rounds));
    std::printf("%d rounds in %.3f s: %.1f MB/s, %.1f M tokens/s\n", rounds, seconds, mb / seconds,
                static_cast<double>(tokens) / seconds / 1e6);
    return 0;
}
