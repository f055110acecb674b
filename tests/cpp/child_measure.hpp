// Measures one parse in a child process under a CPU limit: its work units,
// the growth of the resident set over it and what it gave. A parse that grows
// exponentially then fails its test instead of holding the suite, and each
// parse starts from a fresh peak of the resident set.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "parse_grammar_support.hpp"
#include "parse_work.hpp"

namespace quorvel::parse::testing {

// What a child reports: the parse's work, the growth of the resident set
// over it, in KiB, and what the parse gave, so that a parse that stops early
// cannot pass for a cheap one.
struct Measure {
    Work work;
    long grown_kib = 0;
    bool document = false;
    std::size_t diagnostics = 0;
    // Diagnostics of a parse that gave up: a nesting or recovery limit.
    std::size_t gave_up = 0;
    // The distinct messages, sorted, each ended by a line feed (cut short
    // when they do not fit).
    char messages[2048] = {};
};

inline bool gives_up(const ParseDiagnostic& d) {
    return d.kind == ParseDiagnosticKind::MaxGroupDepthExceeded || d.message.find("too complex") != std::string::npos ||
           d.message.find("nesting depth") != std::string::npos;
}

inline long status_kib(const char* field) {
    std::ifstream in("/proc/self/status");
    const std::size_t length = std::strlen(field);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, length, field) == 0) return std::stol(line.substr(length));
    }
    return 0;
}

// Parses `source` once. A `warm_up` parse before it maps the allocator's
// first pools, so that a small parse's growth is its own.
inline Measure measure(const std::string& source, const ParseConfig& config, const ParseContext& context,
                       const std::string& warm_up = {}) {
    Measure m;
    if (!warm_up.empty()) (void)parse_source(context, warm_up, config);
    const long before = status_kib("VmRSS:");
    const ParseOutcome out = parse_source(context, source, config);
    m.grown_kib = status_kib("VmHWM:") - before;
    m.work = last_work();
    m.document = out.document.has_value();
    m.diagnostics = out.diagnostics.size();
    std::vector<std::string> messages;
    for (const ParseDiagnostic& d : out.diagnostics) {
        m.gave_up += gives_up(d) ? 1 : 0;
        messages.push_back(d.message);
    }
    std::sort(messages.begin(), messages.end());
    messages.erase(std::unique(messages.begin(), messages.end()), messages.end());
    std::string joined;
    for (const std::string& message : messages) joined += message + "\n";
    joined.resize(std::min(joined.size(), sizeof m.messages - 1));
    std::memcpy(m.messages, joined.data(), joined.size());
    return m;
}

inline constexpr rlim_t kCpuLimitSeconds = 120;

// Runs `run` in a child process under the CPU limit and answers what it
// returned (trivially copyable, handed over a pipe); none when the child did
// not finish.
template <class Run>
auto run_in_child(const Run& run) -> std::optional<decltype(run())> {
    using Result = decltype(run());
    static_assert(std::is_trivially_copyable_v<Result>);
    int fds[2];
    if (pipe(fds) != 0) return std::nullopt;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const rlimit cpu{kCpuLimitSeconds, kCpuLimitSeconds};
        setrlimit(RLIMIT_CPU, &cpu);
        const Result result = run();
        const auto* at = reinterpret_cast<const char*>(&result);
        std::size_t left = sizeof result;
        while (left > 0) {
            const ssize_t put = write(fds[1], at, left);
            if (put <= 0) _exit(1);
            at += put;
            left -= static_cast<std::size_t>(put);
        }
        _exit(0);
    }
    close(fds[1]);
    Result result{};
    auto* at = reinterpret_cast<char*>(&result);
    std::size_t left = pid > 0 ? sizeof result : 0;
    while (left > 0) {
        const ssize_t got = read(fds[0], at, left);
        if (got <= 0) break;
        at += got;
        left -= static_cast<std::size_t>(got);
    }
    close(fds[0]);
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    if (pid <= 0 || left > 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return result;
}

// Parses `source` in a child process under the CPU limit; none when the
// child did not finish.
inline std::optional<Measure> measure_in_child(const std::string& source, const ParseConfig& config = ParseConfig{},
                                               const ParseContext& context = default_context(),
                                               const std::string& warm_up = {}) {
    return run_in_child([&] { return measure(source, config, context, warm_up); });
}

// Measures `build(n)` and `build(8n)` and expects their work to grow
// linearly (`work_fault`); with `memory`, the resident set may grow
// at most 12 times as much too, the one cost work units do not see whole.
// Answers the two measures, whose results the caller checks; none when a
// parse did not finish.
template <class Build>
std::optional<std::pair<Measure, Measure>> expect_linear(const Build& build, std::size_t n, bool memory = false,
                                                         const ParseConfig& config = ParseConfig{},
                                                         const WorkLimits& limits = {}) {
    SCOPED_TRACE("n = " + std::to_string(n));
    const std::optional<Measure> small = measure_in_child(build(n), config);
    const std::optional<Measure> large = measure_in_child(build(8 * n), config);
    if (!small || !large) {
        ADD_FAILURE() << "a parse ran past " << kCpuLimitSeconds << " s of CPU time";
        return std::nullopt;
    }
    EXPECT_EQ(work_fault(small->work, large->work, limits), "");
    if (memory) {
        // A floor of a few MiB keeps allocator noise out of small growths.
        EXPECT_LE(large->grown_kib, 12 * std::max(small->grown_kib, 4096L))
            << small->grown_kib << " KiB -> " << large->grown_kib << " KiB";
    }
    return std::pair{*small, *large};
}

}  // namespace quorvel::parse::testing
