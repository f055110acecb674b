// Parse time on error-heavy input: each malformed pattern is repeated to a
// large input and parsed at 1/8 of its size and at full size (the best of
// three runs each), and both times are printed with their ratio (about 8 when
// the parse is linear).
//
//   error_bench [divisor]      (default 1: the full sizes; 8 runs every size at 1/8)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "parse/parse.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

struct Case {
    const char* pattern;
    std::size_t repeats;
    bool reject_unknown;
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
};

double seconds_to_parse(const quorvel::parse::ParseContext& context, const Case& c, std::size_t repeats,
                        std::size_t& bytes, std::size_t& diagnostics) {
    std::string source;
    for (std::size_t i = 0; i < repeats; ++i) source += c.pattern;
    bytes = source.size();
    quorvel::parse::ParseConfig config;
    config.reject_unknown = c.reject_unknown;
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        const auto start = clock_type::now();
        auto out = quorvel::parse::parse_source(context, source, config);
        const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
        diagnostics = out.diagnostics.size();
        if (run == 0 || seconds < best) best = seconds;
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
    for (const Case& c : cases) {
        const std::size_t repeats = c.repeats / divisor;
        std::size_t small_bytes = 0, bytes = 0, small_diagnostics = 0, diagnostics = 0;
        const double small_s = seconds_to_parse(*context.value(), c, repeats / 8, small_bytes, small_diagnostics);
        const double s = seconds_to_parse(*context.value(), c, repeats, bytes, diagnostics);
        std::printf("%-22s x%-7zu %8zu bytes %7zu diagnostics  %9.3f s   (1/8: %8.3f s, ratio %5.1f)\n", c.pattern,
                    repeats, bytes, diagnostics, s, small_s, small_s > 0 ? s / small_s : 0.0);
        std::fflush(stdout);
    }
    return 0;
}
