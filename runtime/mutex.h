#pragma once
// Recursive mutexes and the scoped lock. Every lock in the system is recursive.
#include <pthread.h>

namespace qdl {

class noncopyable {
protected:
    noncopyable() = default;
    ~noncopyable() = default;

public:
    noncopyable(const noncopyable&) = delete;
    noncopyable& operator=(const noncopyable&) = delete;
};

void initRecursiveMutex(pthread_mutex_t& handle);

class MutexInterface : public noncopyable {
public:
    virtual ~MutexInterface() = 0;
    void lock() { pthread_mutex_lock(handle_); }
    void unlock() { pthread_mutex_unlock(handle_); }
    pthread_mutex_t* native() { return handle_; }

protected:
    // A pointer, so that pooled handles never move once initialised.
    pthread_mutex_t* handle_ = nullptr;
};

// Owns its POSIX mutex for its whole life; used for function-local statics.
class SimpleMutex : public MutexInterface {
public:
    SimpleMutex();
    ~SimpleMutex() override;

private:
    pthread_mutex_t own_;
};

// Borrows a handle from a process-wide pool and returns it when destroyed,
// so objects that make and drop mutexes often do not churn POSIX mutexes.
class Mutex : public MutexInterface {
public:
    Mutex();
    ~Mutex() override;

    // Pool bookkeeping, for tests.
    static unsigned long poolSize();
    static unsigned long handlesCreated();
};

class ScopedLock : public noncopyable {
public:
    explicit ScopedLock(MutexInterface& mutex, bool lockNow = true);
    ~ScopedLock();
    void unlock();
    void relock();
    bool held() const { return held_; }

private:
    MutexInterface* mutex_;
    bool held_;
};

}  // namespace qdl
