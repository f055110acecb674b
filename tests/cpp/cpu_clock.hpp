// The calling thread's CPU time as a std::chrono clock. Timing checks use it
// instead of wall time: the sanitized suite runs many tests in parallel, often
// beside other builds, and wall time then says more about the machine's load
// than about the code.
#pragma once

#include <chrono>
#include <ctime>

namespace quorvel_test {

struct CpuClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<CpuClock>;
    static constexpr bool is_steady = true;

    static time_point now() noexcept {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return time_point(duration(static_cast<rep>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec));
    }
};

}  // namespace quorvel_test
