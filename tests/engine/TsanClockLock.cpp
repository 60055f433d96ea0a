// ThreadSanitizer of GCC 12 does not intercept pthread_mutex_clocklock(), which
// libstdc++ uses for std::timed_mutex::try_lock_for (CFifo's 1,000 ms lock): it
// then sees the unlock of a mutex it never saw locked and stops the test. In the
// ThreadSanitizer build this forwards the call to pthread_mutex_timedlock(),
// which it does intercept, with the deadline moved to the realtime clock.
#if defined(__SANITIZE_THREAD__)

#include <pthread.h>
#include <time.h>

#include <cstdint>

extern "C" int pthread_mutex_clocklock(pthread_mutex_t* mutex, clockid_t clock, const struct timespec* deadline)
{
    if (clock == CLOCK_REALTIME)
        return pthread_mutex_timedlock(mutex, deadline);
    timespec now{};
    clock_gettime(clock, &now);
    const std::int64_t remainingNs =
        (deadline->tv_sec - now.tv_sec) * 1'000'000'000LL + (deadline->tv_nsec - now.tv_nsec);
    timespec real{};
    clock_gettime(CLOCK_REALTIME, &real);
    const std::int64_t endNs = real.tv_sec * 1'000'000'000LL + real.tv_nsec + (remainingNs > 0 ? remainingNs : 0);
    const timespec end{static_cast<time_t>(endNs / 1'000'000'000LL), static_cast<long>(endNs % 1'000'000'000LL)};
    return pthread_mutex_timedlock(mutex, &end);
}

#endif
