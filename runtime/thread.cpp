#include "runtime/thread.h"

#include <cerrno>
#include <deque>

#include "runtime/deadline.h"

namespace qdl {

namespace {

// Condition variables here wait on the monotonic clock, the one Deadline
// counts on.
void initMonotonicCond(pthread_cond_t& cond) {
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&cond, &attr);
    pthread_condattr_destroy(&attr);
}

}  // namespace

namespace detail {

// Shared by a thread and its record; tells whether the thread has ended, so
// that a detached thread is never cancelled after it is gone.
struct ThreadControl {
    Mutex mutex;
    bool ended = false;
};

// One job's completion: sticky, and wakes every waiter.
struct TaskState : private noncopyable {
    pthread_cond_t cond;
    Mutex mutex;
    bool done = false;
    void* worker = nullptr;  // the worker running the job; under the pool lock, null once it ended

    TaskState() { initMonotonicCond(cond); }
    ~TaskState() { pthread_cond_destroy(&cond); }

    void finish() {
        ScopedLock guard(mutex);
        done = true;
        pthread_cond_broadcast(&cond);
    }
    void wait() {
        ScopedLock guard(mutex);
        while (!done) pthread_cond_wait(&cond, mutex.native());
    }
    bool timedWait(int ms) {
        const timespec deadline = Deadline::after(ms).monotonicTime();
        ScopedLock guard(mutex);
        while (!done) {
            if (pthread_cond_timedwait(&cond, mutex.native(), &deadline) == ETIMEDOUT) break;
        }
        return done;
    }
    bool isDone() {
        ScopedLock guard(mutex);
        return done;
    }
};

}  // namespace detail

namespace {

struct StartBlock {
    Thread::Routine routine;
    void* arg;
    std::shared_ptr<detail::ThreadControl> control;
};

// Marks the end on every way out of the thread, cancellation included.
struct EndMark {
    std::shared_ptr<detail::ThreadControl> control;
    ~EndMark() {
        ScopedLock guard(control->mutex);
        control->ended = true;
    }
};

void* threadMain(void* p) {
    StartBlock* start = static_cast<StartBlock*>(p);
    EndMark mark{start->control};
    Thread::Routine routine = start->routine;
    void* arg = start->arg;
    delete start;
    return routine(arg);
}

}  // namespace

_thread::~_thread() {
    if (running && !detached) pthread_detach(id);
}

Thread::~Thread() {}

Thread Thread::start(Routine routine, void* arg, bool detach) {
    Thread handle;
    _thread* record = new _thread;
    handle.ptr<_thread>::operator=(ptr<_thread>(record));
    record->control = std::make_shared<detail::ThreadControl>();
    StartBlock* block = new StartBlock{routine, arg, record->control};
    if (pthread_create(&record->id, nullptr, threadMain, block) != 0) {
        delete block;
        return Thread();
    }
    if (detach) {
        pthread_detach(record->id);
        record->detached = true;
    }
    record->running = true;
    return handle;
}

void Thread::join() {
    _thread* record = get();
    if (record == nullptr || !record->running || record->detached) return;
    pthread_join(record->id, nullptr);
    record->running = false;
}

void Thread::cancel() {
    _thread* record = get();
    if (record == nullptr || !record->running) return;
    {
        // While ended is clear under the lock, the thread still exists.
        ScopedLock guard(record->control->mutex);
        if (!record->control->ended) pthread_cancel(record->id);
    }
    if (!record->detached) {
        pthread_detach(record->id);
        record->detached = true;
    }
    record->running = false;
}

bool Thread::isRunning() const { return get() != nullptr && get()->running; }

bool Thread::hasEnded() const {
    _thread* record = get();
    if (record == nullptr) return true;
    ScopedLock guard(record->control->mutex);
    return record->control->ended;
}

pthread_t Thread::id() const { return get() != nullptr ? get()->id : pthread_t(); }

Event::Event() : signalled_(false) { initMonotonicCond(cond_); }

Event::~Event() { pthread_cond_destroy(&cond_); }

void Event::signal() {
    ScopedLock guard(mutex_);
    signalled_ = true;
    pthread_cond_signal(&cond_);
}

void Event::wait() {
    ScopedLock guard(mutex_);
    while (!signalled_) pthread_cond_wait(&cond_, mutex_.native());
    signalled_ = false;
}

bool Event::timedWait(int ms) {
    const timespec deadline = Deadline::after(ms).monotonicTime();
    ScopedLock guard(mutex_);
    while (!signalled_) {
        if (pthread_cond_timedwait(&cond_, mutex_.native(), &deadline) == ETIMEDOUT) break;
    }
    const bool result = signalled_;
    signalled_ = false;
    return result;
}

void Event::reset() {
    ScopedLock guard(mutex_);
    signalled_ = false;
}

struct ThreadPool::Worker {
    Job job = nullptr;
    void* arg = nullptr;
    std::shared_ptr<detail::TaskState> task;
    Thread thread;
    Event wake;              // signalled only by whoever took the worker off the idle list
    bool destroyed = false;  // set by destroyWorker: leave instead of parking
};

namespace {

struct PoolState {
    Mutex mutex;
    std::deque<void*> idle;  // parked workers, front taken first
    unsigned count = 0;
    bool stopped = false;
};

// Never destroyed: detached workers may still use it while the process exits.
PoolState& pool() {
    static PoolState* state = new PoolState;
    return *state;
}

}  // namespace

bool ThreadPool::finishJob(Worker* worker, bool leave) {
    PoolState& state = pool();
    std::shared_ptr<detail::TaskState> task;
    bool end = leave;
    {
        ScopedLock guard(state.mutex);
        task.swap(worker->task);
        task->worker = nullptr;
        worker->job = nullptr;
        worker->arg = nullptr;
        // Park (or leave) before the job counts as done, so a caller that
        // waited sees the pool as it will be.
        end = end || worker->destroyed || state.stopped || state.count > kMaxParked;
        if (end)
            --state.count;
        else
            state.idle.push_back(worker);
    }
    task->finish();
    if (end) delete worker;
    return !end;
}

namespace {

// The one stretch of a worker's life where destroyWorker can cancel it. When
// the job does not return (cancelled, its destructors run by the unwinding),
// the worker leaves the pool here on the way out.
template <typename Finish>
struct CancelWindow {
    Finish finish;
    bool returned = false;
    explicit CancelWindow(Finish f) : finish(f) { pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, nullptr); }
    ~CancelWindow() {
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
        if (!returned) finish();
    }
};

}  // namespace

void* ThreadPool::workerMain(void* p) {
    Worker* worker = static_cast<Worker*>(p);
    PoolState& state = pool();
    // The pool's own waits and locks must never be cancelled: a worker cut
    // off there would leave the pool's state broken.
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    while (true) {
        {
            auto leave = [worker] { finishJob(worker, true); };
            CancelWindow<decltype(leave)> window(leave);
            worker->job(worker->arg);
            window.returned = true;
        }
        if (!finishJob(worker, false)) break;

        worker->wake.wait();
        bool end = false;
        {
            ScopedLock guard(state.mutex);
            if (worker->job == nullptr) {  // woken by stopAll
                --state.count;
                end = true;
            }
        }
        if (end) {
            delete worker;
            break;
        }
    }
    return nullptr;
}

ThreadPool::Task ThreadPool::run(Job job, void* arg) {
    if (job == nullptr) return Task();
    PoolState& state = pool();
    ScopedLock guard(state.mutex);
    if (state.stopped) return Task();
    auto task = std::make_shared<detail::TaskState>();
    if (state.idle.empty()) {
        Worker* worker = new Worker;
        worker->job = job;
        worker->arg = arg;
        worker->task = task;
        task->worker = worker;
        // The worker takes the pool lock before it can end, so it stays alive
        // while its handle is stored.
        worker->thread = Thread::start(workerMain, worker, true);
        if (worker->thread.isNull()) {
            delete worker;
            return Task();
        }
        ++state.count;
    } else {
        Worker* worker = static_cast<Worker*>(state.idle.front());
        state.idle.pop_front();
        worker->job = job;
        worker->arg = arg;
        worker->task = task;
        task->worker = worker;
        worker->wake.signal();
    }
    return Task(task);
}

bool ThreadPool::destroyWorker(const Task& task) {
    if (!task.state_) return false;
    PoolState& state = pool();
    // Under the pool lock the worker cannot finish the job and go: it takes
    // this lock first. So while the task names it, it exists.
    ScopedLock guard(state.mutex);
    Worker* worker = static_cast<Worker*>(task.state_->worker);
    if (worker == nullptr || worker->destroyed) return false;
    worker->destroyed = true;
    worker->thread.cancel();
    return true;
}

void ThreadPool::wait(const Task& task) {
    if (task.state_) task.state_->wait();
}

bool ThreadPool::timedWait(const Task& task, int ms) { return task.state_ ? task.state_->timedWait(ms) : true; }

bool ThreadPool::Task::isDone() const { return !state_ || state_->isDone(); }

void ThreadPool::stopAll() {
    PoolState& state = pool();
    ScopedLock guard(state.mutex);
    state.stopped = true;
    while (!state.idle.empty()) {
        Worker* worker = static_cast<Worker*>(state.idle.front());
        state.idle.pop_front();
        worker->wake.signal();
    }
}

unsigned ThreadPool::workerCount() {
    PoolState& state = pool();
    ScopedLock guard(state.mutex);
    return state.count;
}

unsigned ThreadPool::idleCount() {
    PoolState& state = pool();
    ScopedLock guard(state.mutex);
    return static_cast<unsigned>(state.idle.size());
}

}  // namespace qdl
