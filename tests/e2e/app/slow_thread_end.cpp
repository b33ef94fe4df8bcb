// Preloaded into taltrix by shell_test.py to make an exit-time race show up
// on every run instead of once in a few hundred stops.
//
// Every thread, once its start routine has returned, waits 50 ms before
// ending, as a thread descheduled at that point would; and the deletion of a
// thread-specific-data key (Qt Core deletes its own from an exit handler) is
// followed by a 200 ms pause, as a main thread that got there first would
// give. A key deleted while a thread is still ending never has that thread's
// destructor called; this is reported on standard error, so that the test
// sees the race happen with or without a leak checker.
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using CreateFunction = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
using KeyDeleteFunction = int (*)(pthread_key_t);

std::atomic<int> ending{0};
pthread_key_t endKey;
pthread_once_t endKeyOnce = PTHREAD_ONCE_INIT;

constexpr useconds_t endingDelay = 50 * 1000;
constexpr useconds_t afterDeleteDelay = 200 * 1000;

struct Start {
    void* (*routine)(void*);
    void* argument;
};

// Runs in the second round of the ending thread's destructors, so after
// every destructor of the first round.
void ended(void* value) {
    if (reinterpret_cast<std::uintptr_t>(value) == 1) {
        pthread_setspecific(endKey, reinterpret_cast<void*>(2));
        return;
    }
    char name[32] = "";
    pthread_getname_np(pthread_self(), name, sizeof name);
    std::fprintf(stderr, "slow-thread-end: %s ended\n", name);
    ending.fetch_sub(1);
}

void createEndKey() { pthread_key_create(&endKey, ended); }

void* run(void* opaque) {
    const Start start = *static_cast<Start*>(opaque);
    std::free(opaque);
    void* result = start.routine(start.argument);
    ending.fetch_add(1);
    pthread_once(&endKeyOnce, createEndKey);
    pthread_setspecific(endKey, reinterpret_cast<void*>(1));
    usleep(endingDelay);
    return result;
}

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
                              void* argument) {
    static const auto next = reinterpret_cast<CreateFunction>(dlsym(RTLD_NEXT, "pthread_create"));
    auto* start = static_cast<Start*>(std::malloc(sizeof(Start)));
    if (start == nullptr) return next(thread, attributes, routine, argument);
    start->routine = routine;
    start->argument = argument;
    return next(thread, attributes, run, start);
}

extern "C" int pthread_key_delete(pthread_key_t key) {
    static const auto next = reinterpret_cast<KeyDeleteFunction>(dlsym(RTLD_NEXT, "pthread_key_delete"));
    const int result = next(key);
    if (ending.load() > 0) {
        std::fprintf(stderr, "slow-thread-end: a key was deleted while a thread was still ending\n");
        usleep(afterDeleteDelay);
    }
    return result;
}
