// A scoped exclusive hold of a slim reader/writer lock. std::mutex would bring the thread library's error
// classes into the executable; this costs two calls.
#pragma once

#include <windows.h>

namespace vexlo {

class SlimLockGuard {
public:
    explicit SlimLockGuard(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~SlimLockGuard() { ReleaseSRWLockExclusive(&lock_); }
    SlimLockGuard(const SlimLockGuard&) = delete;
    SlimLockGuard& operator=(const SlimLockGuard&) = delete;

private:
    SRWLOCK& lock_;
};

}  // namespace vexlo
