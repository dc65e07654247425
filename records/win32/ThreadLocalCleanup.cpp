// A thread's thread_local objects are destroyed before its thread-local
// memory is freed, in every program that uses the records.
//
// With mingw-w64's posix threads both happen when a thread ends, each through
// a pthread key destructor of its own, run in the order in which the keys
// were made: the key of the emulated thread-local memory (made at the first
// touch of any thread_local) and the C++ runtime's key of thread_local
// destructors (made at the first thread_local with a destructor). When the
// memory's key is the older one, the memory is freed first and a destructor
// then reads freed memory. Qt's PostgreSQL driver matches a regular
// expression on every thread that opens a connection, and Qt keeps a
// thread_local JIT stack for those: the records' threads (the link to the
// server, its readers, the serial counter) crashed as they ended. Registering
// one destructor before any static constructor runs makes the runtime's key
// the older one.
#include <cxxabi.h>

namespace {

int registered = 0;

void nothing(void *) {}

struct ThreadLocalDestructorsFirst {
    ThreadLocalDestructorsFirst() { __cxxabiv1::__cxa_thread_atexit(nothing, &registered, nullptr); }
};

// 101: before every static constructor of default priority, Qt's included.
__attribute__((init_priority(101))) ThreadLocalDestructorsFirst destructorsFirst;

} // namespace
