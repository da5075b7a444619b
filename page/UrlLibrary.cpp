// Boost.URL's compiled part, built once for the whole program: the library has no compiled
// form for the cross build.

#include <mutex>

#if defined(_WIN32) && !defined(_GLIBCXX_HAS_GTHREADS)
#include <windows.h>

// The win32 thread model's runtime has no std::mutex, and the library's one lock (around its
// pool of recycled buffers) names it. A slim reader/writer lock, taken exclusively, stands in
// for it here and nowhere else: no other source of the program sees this class.
namespace std {
class mutex {
public:
    constexpr mutex() noexcept = default;
    mutex(const mutex&) = delete;
    mutex& operator=(const mutex&) = delete;

    void lock() { AcquireSRWLockExclusive(&lock_); }
    bool try_lock() { return TryAcquireSRWLockExclusive(&lock_) != 0; }
    void unlock() { ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};
}  // namespace std
#endif

#include <boost/url/src.hpp>
