// A systematic sweep of nestings (drawn by nesting_sweep.hpp): every built-in
// command argument (mandatory, optional, math and text) and every
// environment body, nested with each opener that can fail and with itself,
// with a fault at the bottom, at every level, or nowhere, or left open at
// every level around the opener or inside it, each under one of four
// configurations. A third of the nestings, drawn with a fixed seed (every
// one on request), is parsed at n and 8n levels in forked workers: the
// parse's work units (the fuel of the work bound), and the work they leave
// out, may grow at most 12 times, the units stay under a ceiling per token,
// and no run may reach a budget (see parse_work.hpp). A sample of one nesting per opener, fault and
// configuration is also measured in child processes under a CPU limit: its
// CPU time per work unit and token may grow at most 4 times, and its peak
// memory (the growth of the resident set) at most 12 times.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "child_measure.hpp"
#include "cpu_clock.hpp"
#include "malformed_invariants.hpp"
#include "parse/grammar/fuel.hpp"
#include "nesting_sweep.hpp"
#include "parse_digest.hpp"
#include "parse_grammar_support.hpp"

namespace quorvel::parse {
namespace {

using namespace sweep;

// ---- Work, in forked workers -----------------------------------------------------

// Large enough that the fixed floors of the recovery budgets do not read as
// growth; an exponential family reaches the parse's work bound at the
// larger size, so every parse ends quickly.
constexpr std::size_t kLevels = 16;
constexpr int kWorkers = 8;
constexpr rlim_t kWorkerCpuSeconds = 600;

// QUORVEL_SWEEP_DIGEST=path has each worker write, to path.<worker>, a line
// per nesting: its index and the digests of its parses at both sizes, for
// comparing the results of two builds.
std::FILE* digest_file(int worker) {
    const char* path = std::getenv("QUORVEL_SWEEP_DIGEST");
    return path == nullptr ? nullptr : std::fopen((std::string(path) + "." + std::to_string(worker)).c_str(), "w");
}

// The work of the parse of `source`, and the digest of its result.
testing::Work work_of(const std::string& source, const ParseConfig& config, std::uint64_t& digest) {
    ParseOutcome out;
    const testing::Work work = testing::measure_work([&] { out = parse_source(all_packages(), source, config); });
    digest = quorvel::testing::parse_digest(out);
    return work;
}

constexpr std::size_t kIncomplete = static_cast<std::size_t>(-1);

// A nesting whose work at n and 8n levels passes the limits of a linear
// family (`testing::work_fault`).
struct Flagged {
    std::size_t index = kIncomplete;
    testing::Work small;
    testing::Work large;
};

// The nestings that pass the limits; checked by `kWorkers` children, each
// over every kWorkers-th nesting. Ends with one of index `kIncomplete` when a
// child did not finish.
std::vector<Flagged> flagged_work(const std::vector<Sweep>& all, const std::vector<std::size_t>& index_of) {
    std::vector<Flagged> found;
    std::vector<std::pair<pid_t, int>> children;
    std::fflush(nullptr);
    for (int w = 0; w < kWorkers; ++w) {
        int fds[2];
        if (pipe(fds) != 0) return {Flagged{}};
        const pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            const rlimit cpu{kWorkerCpuSeconds, kWorkerCpuSeconds};
            setrlimit(RLIMIT_CPU, &cpu);
            std::FILE* digests = digest_file(w);
            for (std::size_t i = w; i < all.size(); i += kWorkers) {
                const ParseConfig config = config_of(all[i].config);
                std::uint64_t d[2];
                Flagged f;
                f.index = i;
                f.small = work_of(build(all[i], kLevels, index_of[i]), config, d[0]);
                f.large = work_of(build(all[i], 8 * kLevels, index_of[i]), config, d[1]);
                if (digests != nullptr) {
                    std::fprintf(digests, "%zu %016llx %016llx\n", index_of[i], static_cast<unsigned long long>(d[0]),
                                 static_cast<unsigned long long>(d[1]));
                }
                if (!testing::work_fault(f.small, f.large).empty()) {
                    if (write(fds[1], &f, sizeof f) != static_cast<ssize_t>(sizeof f)) _exit(1);
                }
            }
            if (digests != nullptr) std::fclose(digests);
            _exit(0);
        }
        close(fds[1]);
        children.emplace_back(pid, fds[0]);
    }
    bool complete = true;
    for (const auto& [pid, fd] : children) {
        Flagged f;
        while (read(fd, &f, sizeof f) == static_cast<ssize_t>(sizeof f)) found.push_back(f);
        close(fd);
        int status = 0;
        if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            complete = false;
        }
    }
    std::sort(found.begin(), found.end(), [](const Flagged& a, const Flagged& b) { return a.index < b.index; });
    if (!complete) found.push_back(Flagged{});
    return found;
}

TEST(NestingSweep, LayersCoverEveryArgumentForm) {
    const std::vector<Layer> layers = all_layers();
    std::size_t text = 0, optional = 0, environments = 0;
    for (const Layer& l : layers) {
        text += l.inner == Where::Text;
        optional += l.open.ends_with("[");
        environments += l.name.starts_with("env:");
    }
    EXPECT_GT(layers.size(), 100u);
    EXPECT_GT(text, 5u);
    EXPECT_GT(optional, 2u);
    EXPECT_GT(environments, 10u);
    // The family no random nesting ever drew is among them.
    const Sweep bold{&*std::find_if(layers.begin(), layers.end(), [](const Layer& l) { return l.name == "\\textbf#0"; }),
                     &openers()[0], Fault::EveryLevel, 0};
    EXPECT_EQ(build(bold, 2, 0), "\\textbf{\\(\\textbf{\\(z}}");
}

// QUORVEL_SWEEP_MATCH=text checks only the nestings whose description holds
// `text`.
bool matches(const std::string& description) {
    const char* only = std::getenv("QUORVEL_SWEEP_MATCH");
    return only == nullptr || description.find(only) != std::string::npos;
}

// The suite counts the work of one nesting in `kWorkSampleShare`, drawn with
// a fixed seed: a cost that grows faster than the input comes from a
// construct many nestings share, and the sample meets every opener, fault
// and configuration many times over. QUORVEL_SWEEP_FULL=1, a match or a
// digest takes every nesting.
constexpr std::uint64_t kWorkSampleShare = 3;

bool in_work_sample(std::size_t index) {
    for (const char* every : {"QUORVEL_SWEEP_FULL", "QUORVEL_SWEEP_MATCH", "QUORVEL_SWEEP_DIGEST"}) {
        if (std::getenv(every) != nullptr) return true;
    }
    // splitmix64 of the index.
    std::uint64_t z = (index + 1) * 0x9E3779B97F4A7C15u;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return (z ^ (z >> 31)) % kWorkSampleShare == 0;
}

TEST(NestingSweep, WorkGrowsLinearly) {
    const std::vector<Layer> layers = all_layers();
    std::vector<Sweep> all = sweeps(layers);
    std::vector<Sweep> chosen;
    std::vector<std::size_t> index_of;  // the index in the whole sweep, which picks a bottom fault
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (in_work_sample(i) && matches(describe(all[i], i))) {
            chosen.push_back(all[i]);
            index_of.push_back(i);
        }
    }
    const std::vector<Flagged> found = flagged_work(chosen, index_of);
    ASSERT_TRUE(found.empty() || found.back().index != kIncomplete) << "a worker did not finish";
    for (const Flagged& f : found) {
        ADD_FAILURE() << testing::work_fault(f.small, f.large) << ": " << describe(chosen[f.index], index_of[f.index]);
    }
    std::printf("[ sweep    ] %zu of %zu nestings\n", chosen.size(), all.size());
}

// ---- Time and peak memory, for a sample, in child processes -----------------------

// Work units are a proxy: a copy or an index that grows with the levels
// below it costs time or memory without burning them. A sample measures
// what the parse really spends: one nesting per opener (or the layer
// itself), fault and configuration, the layers taken in turn from math
// arguments, text arguments and environments.
std::vector<std::size_t> sample(const std::vector<Sweep>& all) {
    const std::size_t keys = (openers().size() + 1) * kFaults * 4;
    std::vector<std::vector<std::size_t>> by_key(keys * 3);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Sweep& s = all[i];
        const std::size_t opener = s.a == s.b ? openers().size() : static_cast<std::size_t>(s.b - openers().data());
        const std::size_t key = (opener * kFaults + static_cast<std::size_t>(s.fault)) * 4 + static_cast<std::size_t>(s.config);
        const std::size_t kind = s.a->name.starts_with("env:") ? 2 : s.a->inner == Where::Text ? 1 : 0;
        by_key[key * 3 + kind].push_back(i);
    }
    std::vector<std::size_t> out;
    for (std::size_t key = 0; key < keys; ++key) {
        for (std::size_t k = 0; k < 3; ++k) {
            // The kind in turn, another when that one has none.
            const auto& candidates = by_key[key * 3 + (key + k) % 3];
            if (candidates.empty()) continue;
            // Spread over the layers of the kind, not always the first.
            out.push_back(candidates[(key * 37) % candidates.size()]);
            break;
        }
    }
    return out;
}

// The levels of the work sweep: the parses take milliseconds in a sanitized
// build, and the sample is measured in well under a minute.
constexpr std::size_t kSampleLevels = kLevels;
constexpr int kRepeats = 5;
// The work sweep holds the units to linear growth; time may grow faster
// only by what the units do not count. The units leave out the lexer, so
// time is taken per unit and token. It grows somewhat as the parse's memory
// leaves the caches (here at most 1.3 times); a cost that grows with
// the square of the levels and burns no units grows it about 8 times. The
// allowance of 0.1 ms absorbs the noise of parses of a few microseconds.
// Memory under 1 MiB is allocator noise.
constexpr double kMostTimePerUnitGrowth = 4;
constexpr double kTimeAllowanceSeconds = 0.0001;
constexpr long kMemoryFloorKib = 1024;

struct Seconds {
    double small = 0;
    double large = 0;
};

struct Growth {
    std::size_t index = 0;
    bool complete = false;
    testing::Measure small;
    testing::Measure large;
    Seconds seconds;
};

double cost(const testing::Measure& m) { return static_cast<double>(m.work.units + m.work.tokens); }
double time_per_unit_growth(const Growth& g) {
    return (g.seconds.large / cost(g.large)) / (g.seconds.small / cost(g.small));
}
bool time_within(const Growth& g) {
    return g.seconds.large <=
           kMostTimePerUnitGrowth * g.seconds.small / cost(g.small) * cost(g.large) + kTimeAllowanceSeconds;
}
double memory_growth(const Growth& g) {
    return static_cast<double>(g.large.grown_kib) / static_cast<double>(std::max(g.small.grown_kib, kMemoryFloorKib));
}

bool within(const Growth& g) { return time_within(g) && memory_growth(g) <= 12; }

// CPU seconds of the fastest of `kRepeats` parses of each size, taken in
// turn, so that a busy moment of the machine slows both alike.
Seconds interleaved_seconds(const std::string& small, const std::string& large, const ParseConfig& config) {
    Seconds out;
    for (int run = 0; run < kRepeats; ++run) {
        for (const bool is_large : {false, true}) {
            const auto start = quorvel_test::CpuClock::now();
            const ParseOutcome parsed = parse_source(all_packages(), is_large ? large : small, config);
            const double s = std::chrono::duration<double>(quorvel_test::CpuClock::now() - start).count();
            double& best = is_large ? out.large : out.small;
            if (run == 0 || s < best) best = s;
        }
    }
    return out;
}

// Measures one nesting at n and 8n levels: the memory of one parse of each
// in a child of its own, after a parse of one level has mapped the
// allocator's first pools, and the time in one more child. Again up to twice
// when the growth passes the bound, keeping the least of each measure: noise
// only adds.
Growth growth(const Sweep& s, std::size_t index) {
    Growth g;
    g.index = index;
    const ParseConfig config = config_of(s.config);
    const std::string small_source = build(s, kSampleLevels, index);
    const std::string large_source = build(s, 8 * kSampleLevels, index);
    const std::string warm_up = build(s, 1, index);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto small = testing::measure_in_child(small_source, config, all_packages(), warm_up);
        const auto large = testing::measure_in_child(large_source, config, all_packages(), warm_up);
        const auto seconds = testing::run_in_child([&] {
            (void)parse_source(all_packages(), warm_up, config);
            return interleaved_seconds(small_source, large_source, config);
        });
        if (!small || !large || !seconds) return g;
        if (!g.complete) {
            g.small = *small;
            g.large = *large;
            g.seconds = *seconds;
            g.complete = true;
        } else {
            g.seconds.small = std::min(g.seconds.small, seconds->small);
            g.seconds.large = std::min(g.seconds.large, seconds->large);
            g.small.grown_kib = std::min(g.small.grown_kib, small->grown_kib);
            g.large.grown_kib = std::min(g.large.grown_kib, large->grown_kib);
        }
        if (within(g)) break;
    }
    return g;
}

// `each(k)` for every k below `count`, computed by `kWorkers` children, each
// over every kWorkers-th; fewer records when a child did not finish.
template <class Record, class Each>
std::vector<Record> in_workers(std::size_t count, const Each& each) {
    static_assert(std::is_trivially_copyable_v<Record>);
    std::vector<std::pair<pid_t, int>> children;
    std::fflush(nullptr);
    for (int w = 0; w < kWorkers; ++w) {
        int fds[2];
        if (pipe(fds) != 0) break;
        const pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            const rlimit cpu{kWorkerCpuSeconds, kWorkerCpuSeconds};
            setrlimit(RLIMIT_CPU, &cpu);
            for (std::size_t k = w; k < count; k += kWorkers) {
                const Record r = each(k);
                if (write(fds[1], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) _exit(1);
            }
            _exit(0);
        }
        close(fds[1]);
        children.emplace_back(pid, fds[0]);
    }
    // Read from every child as it writes: a child whose pipe is full waits.
    std::vector<pollfd> open_pipes;
    for (const auto& child : children) open_pipes.push_back(pollfd{child.second, POLLIN, 0});
    std::vector<std::string> bytes(children.size());
    while (std::any_of(open_pipes.begin(), open_pipes.end(), [](const pollfd& p) { return p.fd >= 0; })) {
        if (poll(open_pipes.data(), open_pipes.size(), -1) < 0 && errno != EINTR) break;
        for (std::size_t c = 0; c < open_pipes.size(); ++c) {
            if (open_pipes[c].fd < 0 || open_pipes[c].revents == 0) continue;
            char buffer[1 << 16];
            const ssize_t got = read(open_pipes[c].fd, buffer, sizeof buffer);
            if (got > 0) {
                bytes[c].append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(open_pipes[c].fd);
                open_pipes[c].fd = -1;
            }
        }
    }
    std::vector<Record> out;
    for (std::size_t c = 0; c < children.size(); ++c) {
        int status = 0;
        if (children[c].first > 0) waitpid(children[c].first, &status, 0);
        for (std::size_t at = 0; at + sizeof(Record) <= bytes[c].size(); at += sizeof(Record)) {
            Record r;
            std::memcpy(&r, bytes[c].data() + at, sizeof r);
            out.push_back(r);
        }
    }
    return out;
}

TEST(NestingSweep, TimeAndMemoryGrowLinearlyForASample) {
    (void)all_packages();  // built once, before the children
    const std::vector<Layer> layers = all_layers();
    const std::vector<Sweep> all = sweeps(layers);
    std::vector<std::size_t> picked = sample(all);
    // Every opener, fault and configuration is met (a layer left open
    // inside itself is the one left open around itself).
    ASSERT_EQ(picked.size(), (openers().size() + 1) * kFaults * 4 - 4);
    std::erase_if(picked, [&](std::size_t i) { return !matches(describe(all[i], i)); });
    // CPU time is the measure, so the parallel runs do not read as slowness.
    const std::vector<Growth> growths =
        in_workers<Growth>(picked.size(), [&](std::size_t k) { return growth(all[picked[k]], picked[k]); });
    ASSERT_EQ(growths.size(), picked.size()) << "a worker did not finish";
    const Growth* slowest = nullptr;
    double worst_memory = 0;
    std::vector<double> seconds;
    for (const Growth& g : growths) {
        const std::string what = describe(all[g.index], g.index);
        if (!g.complete) {
            ADD_FAILURE() << "a parse crashed or ran past " << testing::kCpuLimitSeconds << " s of CPU time: " << what;
            continue;
        }
        EXPECT_TRUE(within(g)) << what << "\n  " << kSampleLevels << " levels: " << g.seconds.small << " s, "
                               << g.small.grown_kib << " KiB, " << g.small.work.units << " units; " << 8 * kSampleLevels
                               << " levels: " << g.seconds.large << " s, " << g.large.grown_kib << " KiB, "
                               << g.large.work.units << " units";
        if (slowest == nullptr || time_per_unit_growth(g) > time_per_unit_growth(*slowest)) slowest = &g;
        worst_memory = std::max(worst_memory, memory_growth(g));
        seconds.push_back(g.seconds.small);
    }
    if (slowest == nullptr) return;
    std::sort(seconds.begin(), seconds.end());
    std::printf("[ sample   ] %zu nestings, median %.6f s at %zu levels; growth to %zu levels at most x%.1f in memory "
                "(over %ld KiB), x%.2f in time per unit and token (%.6f s to %.6f s, %zu to %zu units): %s\n",
                growths.size(), seconds[seconds.size() / 2], kSampleLevels, 8 * kSampleLevels, worst_memory,
                kMemoryFloorKib, time_per_unit_growth(*slowest), slowest->seconds.small, slowest->seconds.large,
                slowest->small.work.units, slowest->large.work.units,
                describe(all[slowest->index], slowest->index).c_str());
}

// ---- What the fuzz target checks, for every nesting a few levels deep ---------------

// The fuzzers start from the sweep's nestings (bench/sweep_nestings.cpp);
// the suite checks them the way the parse fuzz target does, so that a
// nesting the fuzzer would stop at fails here first: the parse that keeps
// failures from the start gives the same, every span lies in the source,
// no diagnostic is reported twice, and a document keeps the source's
// characters and reads back to itself.
std::string fuzz_check(const std::string& source, const ParseConfig& config) {
    const ParseOutcome out = parse_source(all_packages(), source, config);
    const ParseOutcome kept = parse_source_keeping_failures(all_packages(), source, config);
    if (out.diagnostics != kept.diagnostics || out.document.has_value() != kept.document.has_value() ||
        (out.document && out.document->to_syntax() != kept.document->to_syntax())) {
        return "differs from the parse that keeps failures";
    }
    if (!invariants::spans_in_range(source, out)) return "a span out of range";
    for (std::size_t i = 0; i < out.diagnostics.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (out.diagnostics[i] == out.diagnostics[j]) return "a diagnostic reported twice";
        }
    }
    const invariants::Check check = invariants::check_parse(all_packages(), source, out, config);
    if (check.violation != invariants::Violation::None && !invariants::known_unstable(source, out, check)) {
        return "written as " + check.written + (check.rewritten.empty() ? "" : ", read back as " + check.rewritten);
    }
    return {};
}

struct FuzzFault {
    std::size_t index = 0;
    char fault[512] = {};
};

TEST(NestingSweep, PassesTheFuzzTargetsChecks) {
    (void)all_packages();  // built once, before the workers
    const std::vector<Layer> layers = all_layers();
    const std::vector<Sweep> all = sweeps(layers);
    std::vector<std::size_t> chosen;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (matches(describe(all[i], i))) chosen.push_back(i);
    }
    const std::vector<FuzzFault> checked = in_workers<FuzzFault>(chosen.size(), [&](std::size_t k) {
        FuzzFault f;
        f.index = chosen[k];
        const std::string fault = fuzz_check(build(all[f.index], 2, f.index), config_of(all[f.index].config));
        std::memcpy(f.fault, fault.data(), std::min(fault.size(), sizeof f.fault - 1));
        return f;
    });
    ASSERT_EQ(checked.size(), chosen.size()) << "a worker did not finish";
    for (const FuzzFault& f : checked) {
        EXPECT_STREQ(f.fault, "") << describe(all[f.index], f.index);
    }
}

}  // namespace
}  // namespace quorvel::parse
