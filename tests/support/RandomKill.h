// Crash tests kill a child process at a random moment of its work: the first run (seed 0) is
// never killed and measures how long a whole run takes; later runs are killed anywhere within it.
#pragma once

#include <chrono>
#include <csignal>
#include <random>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>

namespace vp::testing {

/// Waits for `child`, started at `started`, after killing it at a random moment unless `seed` is
/// 0; a run of seed 0 sets `longest`. Returns the child's wait status.
inline int waitOrKillAtRandom(pid_t child, int seed, std::mt19937& random, std::chrono::steady_clock::time_point started,
                              std::chrono::steady_clock::duration& longest) {
    if (seed > 0) {
        std::uniform_int_distribution<long> delay(0, std::chrono::duration_cast<std::chrono::microseconds>(longest).count());
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(child, SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (seed == 0) longest = std::chrono::steady_clock::now() - started;
    return status;
}

} // namespace vp::testing
