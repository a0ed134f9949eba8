#pragma once
// Threads, an auto-reset event and a process-wide pool of reusable workers.
#include <pthread.h>

#include <memory>

#include "runtime/handle.h"
#include "runtime/mutex.h"

namespace qdl {

namespace detail {
struct ThreadControl;
struct TaskState;
}  // namespace detail

// The record behind a Thread handle.
struct _thread {
    pthread_t id{};
    bool running = false;
    bool detached = false;
    std::shared_ptr<detail::ThreadControl> control;  // outlives the record while the thread runs

    _thread() = default;
    _thread(const _thread&) = delete;
    _thread& operator=(const _thread&) = delete;
    // A joinable thread nobody joined is detached, so its resources go when it ends.
    ~_thread();
};

// Shared handle on one started thread. Copies share the record; the last copy
// to go deletes it without joining or cancelling the thread. Copies of one
// handle must be used from one thread at a time.
class Thread : private ptr<_thread> {
public:
    typedef void* (*Routine)(void*);

    Thread() {}
    Thread(const Thread& src) : ptr<_thread>(src) {}
    Thread& operator=(const Thread& src) {
        ptr<_thread>::operator=(src);
        return *this;
    }
    ~Thread() override;

    // Runs routine(arg) on a new thread. Returns an empty handle (isNull())
    // when the thread could not be created.
    static Thread start(Routine routine, void* arg, bool detach = false);

    // Waits for a joinable thread to end; does nothing for an empty handle, a
    // detached thread, or one already joined or cancelled.
    void join();
    // Asks the thread to stop at its next cancellation point; the thread is
    // detached, so it cannot be joined afterwards.
    void cancel();

    // Set from start until join or cancel; does not follow the thread's end.
    bool isRunning() const;
    // Whether the routine has returned or the thread was cancelled.
    bool hasEnded() const;
    pthread_t id() const;

    using ptr<_thread>::isNull;
    using ptr<_thread>::isUnique;
};

// Auto-reset event: a signal wakes at most one waiter, or the next one to
// come; a wait that returns clears it.
class Event : private noncopyable {
public:
    Event();
    ~Event();
    void signal();
    void wait();
    // Waits at most ms milliseconds (negative counts as 0); true when signalled.
    // Measured on the monotonic clock, so changing the system time has no effect.
    bool timedWait(int ms);
    void reset();

private:
    pthread_cond_t cond_;
    Mutex mutex_;
    bool signalled_;
};

// Process-wide pool of detached workers; at most 50 stay parked between jobs.
class ThreadPool {
public:
    typedef void (*Job)(void*);
    static const unsigned kMaxParked = 50;

    // The completion of one job. Stays valid after the worker has moved on to
    // other jobs or ended; any number of threads may wait on it.
    class Task {
    public:
        Task() {}
        bool isNull() const { return !state_; }
        bool isDone() const;

    private:
        friend class ThreadPool;
        explicit Task(const std::shared_ptr<detail::TaskState>& state) : state_(state) {}
        std::shared_ptr<detail::TaskState> state_;
    };

    // Hands job(arg) to a parked worker, or starts a new one. Returns an empty
    // Task, and runs nothing, once stopAll has run, for a null job, or when no
    // thread can be started.
    static Task run(Job job, void* arg);
    // Waits for the job to end; returns at once for an empty Task.
    static void wait(const Task& task);
    // As wait, at most ms milliseconds; true when the job has ended (or the Task is empty).
    static bool timedWait(const Task& task, int ms);

    // Ends the worker that runs the task's job, from outside: its thread is
    // cancelled, so the job stops at its next cancellation point (its
    // destructors run as the stack unwinds) or when it returns, and the worker
    // then leaves the pool instead of parking. The task counts as done only
    // once the job has stopped. Returns false, and touches nothing, for an
    // empty task or one whose job has already ended: its worker may be
    // running another job by then. Only for jobs that hold nothing across a
    // cancellation point that their destructors would not release.
    static bool destroyWorker(const Task& task);

    // Stops the pool for good: parked workers end now, busy ones when their
    // job returns; later run calls are refused.
    static void stopAll();
    // Live workers (busy or parked) and parked workers.
    static unsigned workerCount();
    static unsigned idleCount();

private:
    struct Worker;
    static void* workerMain(void* worker);
    // Takes the ended job off the worker; true when it parked, false when it
    // left the pool (always with leave set) and is gone.
    static bool finishJob(Worker* worker, bool leave);
};

}  // namespace qdl
