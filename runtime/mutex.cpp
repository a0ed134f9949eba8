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

SimpleMutex& poolMutex() {
    static SimpleMutex mutex;
    return mutex;
}

// Destroys every spare handle at exit; built after poolMutex, so destroyed
// before it, and after any static Mutex built later has returned its handle.
struct MutexPool {
    std::deque<pthread_mutex_t*> spare;
    ~MutexPool() {
        for (auto* h : spare) {
            pthread_mutex_destroy(h);
            delete h;
        }
    }
};

MutexPool& mutexPool() {
    static MutexPool pool;
    return pool;
}

}  // namespace

Mutex::Mutex() {
    SimpleMutex& lock = poolMutex();
    MutexPool& pool = mutexPool();
    lock.lock();
    if (!pool.spare.empty()) {
        handle_ = pool.spare.front();
        pool.spare.pop_front();
    } else {
        handle_ = new pthread_mutex_t;
        initRecursiveMutex(*handle_);
        ++createdHandles;
    }
    lock.unlock();
}

Mutex::~Mutex() {
    ScopedLock guard(poolMutex());
    mutexPool().spare.push_back(handle_);
}

unsigned long Mutex::poolSize() {
    ScopedLock guard(poolMutex());
    return mutexPool().spare.size();
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
