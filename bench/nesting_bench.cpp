// Parse cost of deeply nested arguments with a fault or an infix at the
// bottom: each family is built at a few nesting depths and parsed once in a
// child process of its own, which reports its CPU time and peak resident
// size. A child that runs past the CPU limit is reported as such, so a
// family that grows exponentially shows without holding the run.
//
//   nesting_bench [cpu-seconds-limit]     (default 60)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "parse/parse.hpp"

namespace {

std::string repeat(const std::string& s, std::size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (std::size_t i = 0; i < n; ++i) out += s;
    return out;
}

struct Family {
    const char* name;
    std::string (*build)(std::size_t n);
    std::vector<std::size_t> sizes;
    bool deep_groups = false;  // parsed with the group depth limit raised
};

std::string nest(const char* open, const char* middle, const char* close, std::size_t n) {
    return repeat(open, n) + middle + repeat(close, n);
}

const std::vector<Family>& families() {
    static const std::vector<Family> all = {
        {R"(\text{${ ^n x} }$}^n)", [](std::size_t n) { return nest(R"(\text{${)", "x}", "}$}", n); },
         {20, 28, 128, 1024}},
        {R"({\text{$ ^n x} $}}^n)", [](std::size_t n) { return nest(R"({\text{$)", "x}", "$}}", n); },
         {20, 128, 1024}},
        {R"(\mbox{${ ^n x} }$}^n)", [](std::size_t n) { return nest(R"(\mbox{${)", "x}", "}$}", n); },
         {20, 128, 1024}},
        {R"(array/\text{$/{ triple ^n x})",
         [](std::size_t n) { return nest(R"(\begin{array}{c}\text{${)", "x}", R"(}$}\end{array})", n); },
         {12, 30, 240, 1920}},
        {R"(\frac{^n x $}{}^n)", [](std::size_t n) { return nest(R"(\frac{)", "x", "$}{}", n); },
         {1000, 2000, 4000, 8000, 32000}},
        {R"(\sqrt{^n x $}^n)", [](std::size_t n) { return nest(R"(\sqrt{)", "x", "$}", n); }, {1000, 2000, 8000}},
        {R"(\sqrt{^n x }$^n)", [](std::size_t n) { return nest(R"(\sqrt{)", "x", "}$", n); }, {1000, 2000, 8000}},
        {R"(\frac{^n x \right)}{}^n)", [](std::size_t n) { return nest(R"(\frac{)", "x", R"(\right)}{})", n); },
         {1000, 2000, 8000}},
        {R"(\frac{^n x \end{x}}{}^n)", [](std::size_t n) { return nest(R"(\frac{)", "x", R"(\end{x}}{})", n); },
         {1000, 2000, 8000}},
        {R"(\mathrm{^n x $}^n)", [](std::size_t n) { return nest(R"(\mathrm{)", "x", "$}", n); }, {1000, 8000}},
        {R"(\sqrt{^n x #}^n)", [](std::size_t n) { return nest(R"(\sqrt{)", "x", "#}", n); }, {2500, 20000}},
        {R"(\frac{^n x }^n)", [](std::size_t n) { return nest(R"(\frac{)", "x", "}", n); }, {1000, 8000}},
        {R"(\sqrt{a\over ^n x }^n)", [](std::size_t n) { return nest(R"(\sqrt{a\over )", "x", "}", n); },
         {1000, 8000}},
        {R"(\sqrt{^n x \over a}^n)", [](std::size_t n) { return nest(R"(\sqrt{)", "x", R"(\over a})", n); },
         {1000, 8000}},
        {R"(\textbf{\( ^n z }^n)", [](std::size_t n) { return nest(R"(\textbf{\()", "z", "}", n); },
         {16, 20, 25, 1000, 9000}},
        {R"({\textbf{\( ^n z }}^n)", [](std::size_t n) { return nest(R"({\textbf{\()", "z", "}}", n); },
         {20, 1000, 7500}},
        {R"(\text{ \(^n })", [](std::size_t n) { return R"(\text{)" + repeat(R"(\()", n) + "}"; },
         {500, 4000, 50000}},
        {R"(matrix^n a \end^(n/2) } \end^(n/2))",
         [](std::size_t n) {
             return repeat(R"(\begin{matrix})", n) + "a" + repeat(R"(\end{matrix})", n / 2) + "}" +
                    repeat(R"(\end{matrix})", n - n / 2);
         },
         {250, 500, 1000, 2000}},
        {R"(\frac{^n z _}{y}^n)", [](std::size_t n) { return nest(R"(\frac{)", "z", "_}{y}", n); },
         {1000, 8000}},
        {R"(\mathbf{^n z ^}^n)", [](std::size_t n) { return nest(R"(\mathbf{)", "z", "^}", n); }, {1000, 15000}},
        {R"(aligned^n x^{^n \end^(n/2))",
         [](std::size_t n) {
             return repeat(R"(\begin{aligned})", n) + repeat("x^{", n) + repeat(R"(\end{aligned})", n / 2);
         },
         {500, 4000}},
        {R"(\sqrt{\begin{matrix}^n z \end{matrix}#}^n)",
         [](std::size_t n) { return nest(R"(\sqrt{\begin{matrix})", " z ", R"(\end{matrix}#})", n); },
         {400, 3200}},
        {R"(\left( {^n \right) (deep groups))",
         [](std::size_t n) { return R"(\left()" + repeat("{", n) + R"(\right))"; }, {12500, 100000}, true},
        {R"({^n x$ }^n (deep groups))", [](std::size_t n) { return nest("{", "x$", "}", n); }, {6250, 50000}, true},
    };
    return all;
}

double cpu_seconds(const rusage& r) {
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const long limit = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 60;
    auto context = quorvel::parse::ParseContextBuilder().build();
    if (!context) {
        std::fprintf(stderr, "cannot build the parse context: %s\n", context.error().to_string().c_str());
        return 1;
    }
    for (const Family& family : families()) {
        for (std::size_t n : family.sizes) {
            const std::string source = family.build(n);
            std::fflush(stdout);
            const pid_t pid = fork();
            if (pid == 0) {
                const rlimit cpu{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
                setrlimit(RLIMIT_CPU, &cpu);
                quorvel::parse::ParseConfig config;
                if (family.deep_groups) config.max_group_depth = std::size_t{1} << 20;
                auto out = quorvel::parse::parse_source(*context.value(), source, config);
                std::_Exit(out.document ? 0 : 1);
            }
            int status = 0;
            rusage usage{};
            wait4(pid, &status, 0, &usage);
            const bool finished = WIFEXITED(status);
            std::printf("%-34s n=%-6zu %8zu bytes  %s %9.3f s  %8.1f MB\n", family.name, n, source.size(),
                        finished ? "  " : ">=", cpu_seconds(usage), static_cast<double>(usage.ru_maxrss) / 1024.0);
        }
    }
    return 0;
}
