// CPU time of `normalize` (parse, transform, write) on the inputs whose
// normalisation once grew faster than their size (tests/cpp/transform_work_families.hpp),
// at n and 8n, with the µs per byte at 8n, the time of the parse alone at 8n,
// the work counted (util/work_count.hpp) per byte, its growth from n to 8n
// and the nanoseconds per unit of it, and how the call ended.
//
//   normalize_bench [BYTES [RANDOM [FAMILY]]]
//
// BYTES (default 1000000) is the size of the input at 8n; RANDOM (default 8)
// the number of seeded random nestings run after the reported families, at
// every profile; FAMILY runs only the families whose name starts with it.
// An input whose time at n passes 20 seconds is not run at 8n.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>

#include "../tests/cpp/transform_work_families.hpp"
#include "facade/transform_engine.hpp"
#include "util/work_count.hpp"

namespace {

using namespace quorvel;
using transform::families::Family;

double thread_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Run {
    double seconds = 0;
    std::size_t bytes = 0;
    std::uint64_t work = 0;  // util::work_count
    double parse_seconds = 0;  // of the parse alone, run apart
    std::string outcome;
};

Run normalize(const facade::TransformEngine& engine, const std::string& source) {
    facade::NormalizeConfig config = engine.default_normalize_config();
    config.parse.max_group_depth = source.size() + 128;  // the nesting itself is the input
    const std::uint64_t before = util::work_count;
    const double start = thread_seconds();
    const auto result = engine.normalize_with(source, config);
    Run run{thread_seconds() - start, source.size(), util::work_count - before, 0, "ok"};
    if (!result) run.outcome = result.error().message().substr(0, 60);
    const double parse_start = thread_seconds();
    (void)engine.parser().parse_with(source, config.parse);
    run.parse_seconds = thread_seconds() - parse_start;
    return run;
}

// The family scaled so that its input at 8n holds about `bytes` bytes.
Family sized(Family f, std::size_t bytes) {
    const std::size_t unit = f.build(2).size() - f.build(1).size();
    const std::size_t scale = std::max<std::size_t>(1, bytes / 8 / std::max<std::size_t>(unit, 1));
    if (f.width == 0) f.levels *= scale;
    else f.width *= scale;
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t bytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const std::size_t random = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 8;
    const std::string_view only = argc > 3 ? argv[3] : "";
    std::vector<Family> all = transform::families::reported(1);
    for (Family& f : transform::families::bracket_chains(1)) all.push_back(std::move(f));
    for (Family& f : transform::families::font_nests(1)) all.push_back(std::move(f));
    for (Family& f : transform::families::random_nestings(random, 1)) all.push_back(std::move(f));

    std::printf("%-18s %-10s %10s %9s %10s %9s %6s %8s %8s %7s %7s %6s  %s\n", "family", "profile", "n bytes", "n s",
                "8n bytes", "8n s", "ratio", "us/B 8n", "parse 8n", "work/B", "w ratio", "ns/w", "outcome at 8n");
    for (const Family& base : all) {
        if (!std::string_view(base.name).starts_with(only)) continue;
        const Family f = sized(base, bytes);
        for (std::size_t p = 0; p < transform::families::kProfileNames.size(); ++p) {
            if ((f.profiles & (1u << p)) == 0) continue;
            facade::TransformEngineBuilder builder;
            builder.profile(static_cast<facade::EngineProfile>(p));
            const auto engine = std::move(builder.build()).value();
            const Run small = normalize(engine, f.build(1));
            Run large;
            if (small.seconds < 20) large = normalize(engine, f.build(8));
            const Run& shown = large.bytes > 0 ? large : small;
            std::printf("%-18s %-10s %10zu %9.4f %10zu %9.4f %6.1f %8.3f %8.4f %7.1f %7.1f %6.1f  %s\n", f.name.c_str(),
                        transform::families::kProfileNames[p], small.bytes, small.seconds, large.bytes,
                        large.seconds, large.bytes > 0 ? large.seconds / small.seconds : 0.0,
                        large.bytes > 0 ? large.seconds * 1e6 / static_cast<double>(large.bytes) : 0.0,
                        large.parse_seconds, static_cast<double>(shown.work) / static_cast<double>(shown.bytes),
                        large.bytes > 0 ? static_cast<double>(large.work) / static_cast<double>(std::max<std::uint64_t>(small.work, 1))
                                        : 0.0,
                        shown.seconds * 1e9 / static_cast<double>(std::max<std::uint64_t>(shown.work, 1)),
                        large.bytes > 0 ? large.outcome.c_str() : ("not run; at n: " + small.outcome).c_str());
            std::fflush(stdout);
        }
    }
    return 0;
}
