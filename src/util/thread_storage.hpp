// Per-thread storage that needs no allocation once the thread is prepared.
//
// The C library allocates a shared library's thread-local block, and the C++
// runtime's exception state, on a thread's first use of them, and ends the
// process when that allocation fails; registering a thread-local destructor
// allocates as well, with the same ending. A call that runs out of memory
// must still be able to throw `std::bad_alloc`, and a cache first used at
// that moment must not need memory to exist. So:
// - `prepare_thread()` makes all of that exist; entry points call it before
//   they start allocating;
// - caches are `ThreadCache<T>` objects, which live in the thread-local block
//   itself and are destroyed at the thread's end through one shared
//   registration, made by `prepare_thread()` (or by the first cache used on a
//   thread that was never prepared).
#pragma once

#include <cxxabi.h>

#include <exception>
#include <memory>
#include <new>
#include <type_traits>

// The handle of the shared object this code is linked into, which the
// compiler passes when it registers a thread-local destructor (declared as
// the compiler declares it itself).
extern void* __dso_handle;

namespace quorvel::util {

namespace thread_storage_detail {

struct Entry {
    void (*destroy)(Entry*) noexcept = nullptr;
    Entry* next = nullptr;
};

struct Registry {
    Entry* head = nullptr;     // the live caches of this thread, newest first
    bool registered = false;  // `run` is due at this thread's end
    bool prepared = false;    // `prepare_thread` has run on this thread
};

inline constinit thread_local Registry registry{};

inline void run(void*) noexcept {
    Registry& r = registry;
    r.registered = false;
    // A destructor that uses a cache again makes it anew and registers again.
    while (Entry* e = r.head) {
        r.head = e->next;
        e->destroy(e);
    }
}

[[gnu::noinline]] inline void register_run() noexcept {
    Registry& r = registry;
    if (r.registered) return;
    // A runtime that refuses the registration leaves the caches' memory
    // behind at the thread's end, nothing worse.
    r.registered = __cxxabiv1::__cxa_thread_atexit(&run, nullptr, &__dso_handle) == 0;
}

[[gnu::noinline]] inline void prepare() noexcept {
    // Reading the exception state creates it: the first `throw` on a thread
    // would otherwise allocate it.
    volatile int in_flight = std::uncaught_exceptions();
    (void)in_flight;
    register_run();
    registry.prepared = registry.registered;
}

}  // namespace thread_storage_detail

// Makes the thread-local block of this library, the C++ runtime's exception
// state and the end-of-thread registration exist for the calling thread.
// Costs one thread-local read once done.
inline void prepare_thread() noexcept {
    if (!thread_storage_detail::registry.prepared) [[unlikely]]
        thread_storage_detail::prepare();
}

// A `T` per thread, made on its first use on the thread (default constructed,
// which must not throw) and destroyed at the thread's end. Declare it
// `constinit thread_local`. Used again while its thread ends (from another
// thread-local destructor), it is made again and destroyed after that use.
template <class T>
class ThreadCache : thread_storage_detail::Entry {
    static_assert(std::is_nothrow_default_constructible_v<T>);

public:
    constexpr ThreadCache() noexcept { destroy = &destroy_entry; }
    ThreadCache(const ThreadCache&) = delete;
    ThreadCache& operator=(const ThreadCache&) = delete;

    T& operator*() noexcept { return live_ ? object() : open(); }
    T* operator->() noexcept { return &**this; }

private:
    T& object() noexcept { return *std::launder(reinterpret_cast<T*>(storage_)); }

    [[gnu::noinline]] T& open() noexcept {
        ::new (static_cast<void*>(storage_)) T();
        live_ = true;
        thread_storage_detail::Registry& r = thread_storage_detail::registry;
        next = r.head;
        r.head = this;
        thread_storage_detail::register_run();
        return object();
    }

    static void destroy_entry(thread_storage_detail::Entry* e) noexcept {
        auto* self = static_cast<ThreadCache*>(e);
        self->live_ = false;
        std::destroy_at(&self->object());
    }

    alignas(T) unsigned char storage_[sizeof(T)]{};
    bool live_ = false;
};

}  // namespace quorvel::util
