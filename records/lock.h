// Taking a data file's lock: at once where it is free, else waiting for it in
// the kernel, among the other waiters, until a deadline.
#pragma once

#include <chrono>

namespace orvel {

using Clock = std::chrono::steady_clock;

// flock(fd, how) granted by `deadline`: true. False with errno EWOULDBLOCK
// where the time ran out first, or flock's own error.
bool lock_by(int fd, int how, Clock::time_point deadline);

}  // namespace orvel
