#pragma once
// What keeps the library in use: every live object and every LockServer
// lock counts once. DllCanUnloadNow answers S_OK only at zero. Any thread
// may count.
#include <atomic>

class CComModule {
public:
    static void Lock() { s_locks.fetch_add(1, std::memory_order_relaxed); }
    static void Unlock() { s_locks.fetch_sub(1, std::memory_order_acq_rel); }
    static long LockCount() { return s_locks.load(std::memory_order_acquire); }

private:
    static inline std::atomic<long> s_locks{0};
};
