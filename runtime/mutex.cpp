#include "runtime/mutex.h"

#include <atomic>
#include <deque>

namespace qdl {

void initRecursiveMutex(pthread_mutex_t& handle) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&handle, &attr);
    pthread_mutexattr_destroy(&attr);
}

MutexInterface::~MutexInterface() = default;

SimpleMutex::SimpleMutex() {
    handle_ = &own_;
    initRecursiveMutex(own_);
}
SimpleMutex::~SimpleMutex() { pthread_mutex_destroy(&own_); }

namespace {

std::atomic<unsigned long> createdHandles{0};

// Set once the pool is gone at exit. A detached thread may still make or drop
// a Mutex then; it must not touch the destroyed queue.
std::atomic<bool> poolClosed{false};

// Never destroyed, so that such a late Mutex can still take it.
SimpleMutex& poolMutex() {
    static SimpleMutex* mutex = new SimpleMutex;
    return *mutex;
}

void destroyHandle(pthread_mutex_t* h) {
    pthread_mutex_destroy(h);
    delete h;
}

// Destroys every spare handle at exit; built on first use of a Mutex, so
// destroyed after any static Mutex built later has returned its handle.
struct MutexPool {
    std::deque<pthread_mutex_t*> spare;
    ~MutexPool() {
        ScopedLock guard(poolMutex());
        for (auto* h : spare) destroyHandle(h);
        spare.clear();
        poolClosed = true;
    }
};

MutexPool& mutexPool() {
    static MutexPool pool;
    return pool;
}

}  // namespace

Mutex::Mutex() {
    SimpleMutex& lock = poolMutex();
    if (!poolClosed) mutexPool();
    lock.lock();
    if (!poolClosed && !mutexPool().spare.empty()) {
        handle_ = mutexPool().spare.front();
        mutexPool().spare.pop_front();
    } else {
        handle_ = new pthread_mutex_t;
        initRecursiveMutex(*handle_);
        ++createdHandles;
    }
    lock.unlock();
}

Mutex::~Mutex() {
    ScopedLock guard(poolMutex());
    if (poolClosed)
        destroyHandle(handle_);
    else
        mutexPool().spare.push_back(handle_);
}

unsigned long Mutex::poolSize() {
    ScopedLock guard(poolMutex());
    return poolClosed ? 0 : mutexPool().spare.size();
}

unsigned long Mutex::handlesCreated() { return createdHandles.load(); }

ScopedLock::ScopedLock(MutexInterface& mutex, bool lockNow) : mutex_(&mutex), held_(lockNow) {
    if (lockNow) mutex_->lock();
}

ScopedLock::~ScopedLock() {
    if (held_) mutex_->unlock();
    held_ = false;
}

void ScopedLock::unlock() {
    if (held_) {
        mutex_->unlock();
        held_ = false;
    }
}

void ScopedLock::relock() {
    if (!held_) {
        mutex_->lock();
        held_ = true;
    }
}

}  // namespace qdl
