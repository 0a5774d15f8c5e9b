// Runs a check that might block for good (a FIFO opened for reading, a device read without
// end) in a forked child with an alarm, so a regression fails the test instead of hanging it.
#pragma once

#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace vp::testing {

/// Returns `check`'s result, or 124 when the child was still running after `seconds`.
inline int runWithin(unsigned seconds, const std::function<int()>& check) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(seconds); // the default action ends the child
        ::_exit(check());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) return 124;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace vp::testing
