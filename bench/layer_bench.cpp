// Parse cost of three-layer nestings (tests/cpp/layer_families.hpp): each is
// parsed once in a child process of its own under a CPU limit, which reports
// the parse's CPU time, µs per byte, the units per token its costliest run
// burnt, and whether it kept its document and reached the work bound.
//
//   layer_bench [n] [cpu-seconds-limit]      the named families at n and 8n
//                                             levels (default 4000: 8n is
//                                             1.4 to 2 MB)
//   layer_bench --random seed count [limit]  `count` random nestings from
//                                             `seed` on, at about 40 KB and
//                                             320 KB; `!` marks one whose
//                                             larger parse takes 0.2 s or more
//                                             and over 10 times the smaller's
//   layer_bench --corpus                     the corpus's CPU time per unit,
//                                             for comparison
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "../tests/cpp/layer_families.hpp"
#include "parse/grammar/fuel.hpp"
#include "parse/parse.hpp"

namespace {

using namespace quorvel::parse;

double cpu_now() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Result {
    double seconds = -1;  // negative: the child did not finish
    double units_per_token = 0;
    bool document = false;
    bool too_complex = false;
    bool recovery_budget = false;
};

// Parses `source` in a child under `limit` CPU seconds.
Result measure(const std::string& source, long limit) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const rlimit cpu{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        setrlimit(RLIMIT_CPU, &cpu);
        const ParseContext& context = sweep::all_packages();
        const double start = cpu_now();
        const auto out = parse_source(context, source, ParseConfig{});
        Result r;
        r.seconds = cpu_now() - start;
        const auto fuel = grammar::detail::last_parse_fuel;
        r.units_per_token = static_cast<double>(fuel.used) / static_cast<double>(fuel.tokens ? fuel.tokens : 1);
        r.document = out.document.has_value();
        r.recovery_budget = (fuel.reached & grammar::detail::kRecoveryBudget) != 0;
        for (const auto& d : out.diagnostics) r.too_complex = r.too_complex || d.message == "formula too complex to parse";
        (void)!write(fds[1], &r, sizeof r);
        std::_Exit(0);
    }
    close(fds[1]);
    Result r;
    if (read(fds[0], &r, sizeof r) != sizeof r) r = Result{};
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return r;
}

void print(const char* name, std::size_t n, const std::string& source, const Result& r) {
    if (r.seconds < 0) {
        std::printf("%-40s n=%-6zu %8zu bytes  did not finish\n", name, n, source.size());
        return;
    }
    std::printf("%-40s n=%-6zu %8zu bytes %8.3f s %6.2f us/byte %6.1f units/token%s%s%s\n", name, n, source.size(),
                r.seconds, r.seconds * 1e6 / static_cast<double>(source.size()), r.units_per_token,
                r.document ? "" : "  no document", r.too_complex ? "  (bound)" : "",
                r.recovery_budget ? "  (recovery budget)" : "");
}

// Every corpus line parsed three times: ns per unit burnt and µs per byte.
int corpus() {
    std::vector<std::string> lines;
    for (const char* name : {"arxiv.txt", "exam.txt"}) {
        std::ifstream file(std::string(QUORVEL_CORPUS_DIR) + "/" + name);
        for (std::string line; std::getline(file, line);) {
            if (!line.empty()) lines.push_back(line);
        }
    }
    if (lines.empty()) {
        std::fprintf(stderr, "corpus not found\n");
        return 1;
    }
    const ParseContext& context = sweep::all_packages();
    double seconds = 0;
    std::size_t units = 0, bytes = 0, tokens = 0;
    for (int round = 0; round < 3; ++round) {
        for (const std::string& line : lines) {
            const double start = cpu_now();
            (void)parse_source(context, line, ParseConfig{});
            seconds += cpu_now() - start;
            units += grammar::detail::last_parse_fuel.used;
            tokens += grammar::detail::last_parse_fuel.tokens;
            bytes += line.size();
        }
    }
    std::printf("corpus: %zu lines, %.3f s, %.1f ns/unit, %.3f us/byte, %.1f units/token\n", lines.size(), seconds,
                seconds * 1e9 / static_cast<double>(units), seconds * 1e6 / static_cast<double>(bytes),
                static_cast<double>(units) / static_cast<double>(tokens));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--corpus") return corpus();
    if (argc > 3 && std::string(argv[1]) == "--random") {
        const unsigned long long seed = std::strtoull(argv[2], nullptr, 10);
        const unsigned long count = std::strtoul(argv[3], nullptr, 10);
        const long limit = argc > 4 ? std::strtol(argv[4], nullptr, 10) : 60;
        for (unsigned long i = 0; i < count; ++i) {
            const layers::Level level = layers::random_level(seed + i);
            const std::size_t n = layers::levels_for(level, 40 * 1024);
            const std::string small = sweep::nest(level.open, "z", level.close, n);
            const std::string large = sweep::nest(level.open, "z", level.close, 8 * n);
            const Result a = measure(small, limit);
            const Result b = measure(large, limit);
            const bool finished = a.seconds >= 0 && b.seconds >= 0;
            const double ratio = finished && a.seconds > 0 ? b.seconds / a.seconds : 0;
            const bool fault = b.seconds < 0 || (b.seconds >= 0.2 && ratio > 10);
            std::printf("%s %-6llu %8.3f s %8.3f s  x%-6.1f %5.1f %5.1f units/token  %.100s\n", fault ? "!" : " ",
                        seed + i, a.seconds, b.seconds, ratio, a.units_per_token, b.units_per_token,
                        level.describe.c_str());
            std::fflush(stdout);
        }
        return 0;
    }
    const std::size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 4000;
    const long limit = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 60;
    for (const layers::Family& f : layers::kFamilies) {
        const std::string name = std::string(f.open) + " " + f.middle + " " + f.close;
        for (const std::size_t levels : {n, 8 * n}) {
            const std::string source = layers::build(f, levels);
            print(name.c_str(), levels, source, measure(source, limit));
        }
    }
    return 0;
}
