// Writes the nestings of the sweep (tests/cpp/nesting_sweep.hpp), one a
// line, each once, at every number of levels given (default 16 and 128).
// The fuzzers' seeds take them from here (tests/fuzz/seeds.py), so that the
// fuzzers start from every nesting the sweep draws, `\textbf{\(` among them.
// With --pieces, writes instead every opening and closing a nesting is made
// of, for the fuzzers' dictionary.
//
//   sweep_nestings [levels...]
//   sweep_nestings --pieces
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "../tests/cpp/nesting_sweep.hpp"

int main(int argc, char** argv) {
    using namespace quorvel::parse::sweep;
    const std::vector<Layer> layers = all_layers();
    std::set<std::string> seen;
    const auto write = [&](const std::string& text) {
        if (!text.empty() && seen.insert(text).second) std::printf("%s\n", text.c_str());
    };
    if (argc == 2 && std::string(argv[1]) == "--pieces") {
        for (const std::vector<Layer>* list : {&layers, &openers()}) {
            for (const Layer& l : *list) {
                write(l.open);
                write(l.close);
            }
        }
        for (const auto fault : kBottomFaults) write(std::string(fault));
        return 0;
    }
    std::vector<std::size_t> levels;
    for (int i = 1; i < argc; ++i) {
        char* end = nullptr;
        const unsigned long n = std::strtoul(argv[i], &end, 10);
        if (end == argv[i] || *end != 0 || n == 0 || n > 100000) {
            std::fprintf(stderr, "usage: sweep_nestings [levels...] | --pieces\n");
            return 2;
        }
        levels.push_back(n);
    }
    if (levels.empty()) levels = {16, 128};
    const std::vector<Sweep> all = sweeps(layers);
    for (const std::size_t n : levels) {
        for (std::size_t i = 0; i < all.size(); ++i) write(build(all[i], n, i));
    }
    return 0;
}
