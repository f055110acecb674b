// Stack used per nesting level: each construct is parsed nested n and 2n
// deep on a thread whose stack is large enough that the parse never leaves
// it; the stack is painted beforehand, and the slope of the touched depth
// gives the bytes per level.
//
//   stack_bench [levels]      (default 1000)
#include <pthread.h>
#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "parse/parse.hpp"

namespace {

constexpr std::size_t kStack = std::size_t{1} << 30;
constexpr unsigned char kPaint = 0xA5;

struct Job {
    const quorvel::parse::ParseContext* context;
    const std::string* source;
    bool document = false;
};

void* run(void* arg) {
    auto* job = static_cast<Job*>(arg);
    quorvel::parse::ParseConfig config;
    config.max_group_depth = 1000000000;
    job->document = quorvel::parse::parse_source(*job->context, *job->source, config).document.has_value();
    return nullptr;
}

// The stack bytes the parse of `source` touched, or 0 when it gave no document.
std::size_t touched(const quorvel::parse::ParseContext& context, const std::string& source) {
    void* stack = mmap(nullptr, kStack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (stack == MAP_FAILED) std::abort();
    auto* low = static_cast<unsigned char*>(stack);
    // Only the top part is painted: deeper than that the run would not fit.
    const std::size_t painted = kStack / 4;
    std::memset(low + kStack - painted, kPaint, painted);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstack(&attr, stack, kStack);
    Job job{&context, &source};
    pthread_t thread;
    if (pthread_create(&thread, &attr, run, &job) != 0) std::abort();
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    std::size_t used = painted;
    for (unsigned char* p = low + kStack - painted; p < low + kStack && *p == kPaint; ++p) --used;
    munmap(stack, kStack);
    return job.document ? used : 0;
}

std::string nested(const char* open, const char* inner, const char* close, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += open;
    s += inner;
    for (std::size_t i = 0; i < n; ++i) s += close;
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000;
    auto context = quorvel::parse::ParseContextBuilder().build();
    if (!context) return 1;
    // The last row fails at the bottom: the run that keeps failures, with
    // the recovery of every item, does the nesting.
    const struct {
        const char* name;
        const char* open;
        const char* close;
        const char* inner = "x";
    } cases[] = {
        {"braces", "{", "}"},
        {"\\frac{", "\\frac{", "}{y}"},
        {"\\sqrt{", "\\sqrt{", "}"},
        {"\\left(", "\\left(", "\\right)"},
        {"x^{", "x^{", "}"},
        {"environments", "\\begin{aligned}", "\\end{aligned}"},
        {"\\text{$", "\\text{$", "$}"},
        {"braces, x^ in", "{", "}", "x^"},
    };
    std::printf("stack bytes per nesting level (%zu and %zu levels)\n", n, 2 * n);
    for (const auto& c : cases) {
        const std::size_t one = touched(*context.value(), nested(c.open, c.inner, c.close, n));
        const std::size_t two = touched(*context.value(), nested(c.open, c.inner, c.close, 2 * n));
        if (one == 0 || two == 0) {
            std::printf("  %-16s no document\n", c.name);
            continue;
        }
        std::printf("  %-16s %6.0f\n", c.name, static_cast<double>(two - one) / static_cast<double>(n));
    }
    return 0;
}
