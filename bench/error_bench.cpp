// Parse time on error-heavy input: each malformed pattern is repeated to a
// large input (or nested: its opening part repeated, a middle, its closing
// part repeated) and parsed at 1/8 of its size and at full size, the best of
// two runs each. Both CPU times are printed with their ratio (about 8 when
// the parse is linear), the CPU time per byte and the work units per token
// at full size (a `!` where the parse reached its work bound).
//
//   error_bench [divisor] [text]   (divisor 1: the full sizes; 8 runs every size at 1/8;
//                                   text: only the patterns holding it)
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "parse/grammar/fuel.hpp"
#include "parse/parse.hpp"

namespace {

struct Case {
    const char* pattern;
    std::size_t repeats;
    bool reject_unknown;
    // Nested: `pattern` is the opening part.
    const char* middle = nullptr;
    const char* close = nullptr;
};

// The first four are malformed inputs that once took quadratic time; the rest
// exercise the other failure paths the same way.
constexpr Case cases[] = {
    {R"({\begin{a}x\end{b}})", 100'000, false},
    {R"(\begin{a}x\end{b} )", 16'000, false},
    {R"(\sqrt{\frac{a}})", 16'000, false},
    {R"(\sqrt{\sqrt[x})", 16'000, false},
    {R"({x^#})", 16'000, false},
    {R"({\foo})", 16'000, true},
    {R"({x_})", 16'000, false},
    {R"(\sqrt{\left(})", 16'000, false},
    {R"({\begin{a}x})", 16'000, false},
    // Faulty text arguments in open groups: the skip of each level's failed
    // item passes the levels below it until the work bound ends the parse.
    {R"({\text{\right})", 64'000, false},
    // Three-layer nestings whose reading grows with the square of their
    // levels until the work bound ends the parse.
    {R"(\frac{\begin{matrix}\begin{cases})", 32'000, false, "z", R"(\end{cases}}{a})"},
    {R"(\begin{aligned}\left(\begin{aligned})", 32'000, false, "z", R"(\end{aligned}\end{aligned}#)"},
    {R"(\left(\begin{matrix}\left()", 32'000, false, "z", R"(\end{matrix}\right))"},
};

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Run {
    double seconds = 0;
    std::size_t bytes = 0;
    std::size_t diagnostics = 0;
    double units_per_token = 0;
    bool bound = false;  // the work bound was reached
};

Run parse_case(const quorvel::parse::ParseContext& context, const Case& c, std::size_t repeats) {
    std::string source;
    for (std::size_t i = 0; i < repeats; ++i) source += c.pattern;
    if (c.middle != nullptr) {
        source += c.middle;
        for (std::size_t i = 0; i < repeats; ++i) source += c.close;
    }
    quorvel::parse::ParseConfig config;
    config.reject_unknown = c.reject_unknown;
    Run best;
    best.bytes = source.size();
    for (int run = 0; run < 2; ++run) {
        const double start = cpu_seconds();
        auto out = quorvel::parse::parse_source(context, source, config);
        const double seconds = cpu_seconds() - start;
        if (run == 0 || seconds < best.seconds) best.seconds = seconds;
        best.diagnostics = out.diagnostics.size();
        const auto fuel = quorvel::parse::grammar::detail::last_parse_fuel;
        best.units_per_token = static_cast<double>(fuel.used) / static_cast<double>(fuel.tokens > 0 ? fuel.tokens : 1);
        best.bound = (fuel.reached & quorvel::parse::grammar::detail::kWorkBound) != 0;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t divisor = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1;
    if (divisor == 0) {
        std::fprintf(stderr, "the divisor must be positive\n");
        return 1;
    }
    auto context = quorvel::parse::ParseContextBuilder().build();
    if (!context) {
        std::fprintf(stderr, "cannot build the parse context: %s\n", context.error().to_string().c_str());
        return 1;
    }
    const char* only = argc > 2 ? argv[2] : "";
    for (const Case& c : cases) {
        if (std::strstr(c.pattern, only) == nullptr) continue;
        const std::size_t repeats = c.repeats / divisor;
        const Run small = parse_case(*context.value(), c, repeats / 8);
        const Run full = parse_case(*context.value(), c, repeats);
        std::printf("%-36s x%-7zu %8zu bytes %7zu diagnostics  %9.3f s   (1/8: %8.3f s, ratio %5.1f)  %6.3f us/byte"
                    "  %6.1f%s units/token\n",
                    c.pattern, repeats, full.bytes, full.diagnostics, full.seconds, small.seconds,
                    small.seconds > 0 ? full.seconds / small.seconds : 0.0,
                    1e6 * full.seconds / static_cast<double>(full.bytes > 0 ? full.bytes : 1), full.units_per_token,
                    full.bound ? "!" : " ");
        std::fflush(stdout);
    }
    return 0;
}
