#pragma once
// Ring-linked shared handles: copies of one value are linked into a ring and
// the last handle to let go deletes the value. No counter is allocated.
#include "runtime/mutex.h"

template <class T>
class ptr_interface {
public:
    typedef void (*Deleter)(T*);

    virtual void hook() = 0;
    virtual ~ptr_interface() {}
    virtual bool isUnique() const { return next_ == nullptr || next_ == this; }
    virtual bool isNull() const { return value_ == nullptr; }

    T* get() const { return value_; }
    T* operator->() const { return value_; }
    T& operator*() const { return *value_; }

protected:
    ptr_interface() : value_(nullptr), deleter_(nullptr), next_(this), prev_(this) {}
    ptr_interface(T* value, Deleter deleter) : value_(value), deleter_(deleter), next_(this), prev_(this) {}

    static void destroyValue(T* value, Deleter deleter) {
        if (deleter)
            deleter(value);
        else
            delete value;
    }

    // Leaves the ring; deletes the value when this was its last handle.
    void releaseHandle() {
        if (value_ != nullptr) {
            if (isUnique()) {
                T* value = value_;
                Deleter deleter = deleter_;
                value_ = nullptr;
                destroyValue(value, deleter);
            } else {
                next_->prev_ = prev_;
                prev_->next_ = next_;
            }
        }
        prev_ = next_ = nullptr;
        value_ = nullptr;
    }

    // Release, then join src's ring. When this was the last handle of its
    // value, the value goes only after the join: it may own src (a = a->next).
    void assignHandle(const ptr_interface& src) {
        if (value_ != nullptr && value_ != src.value_ && isUnique()) {
            T* value = value_;
            Deleter deleter = deleter_;
            value_ = nullptr;
            prev_ = next_ = nullptr;
            joinHandle(src);
            destroyValue(value, deleter);
        } else {
            releaseHandle();
            joinHandle(src);
        }
    }

    // Joins src's ring just before src.
    void joinHandle(const ptr_interface& src) {
        ptr_interface& s = const_cast<ptr_interface&>(src);
        value_ = s.value_;
        deleter_ = s.deleter_;
        if (value_ != nullptr) {
            prev_ = s.prev_;
            s.prev_->next_ = this;
            next_ = &s;
            s.prev_ = this;
        } else {
            next_ = prev_ = nullptr;
        }
    }

    T* value_;
    Deleter deleter_;
    ptr_interface* next_;
    ptr_interface* prev_;
};

template <class T>
class ptr : public ptr_interface<T> {
    typedef ptr_interface<T> base;

public:
    ptr() {}
    explicit ptr(T* value) : base(value, nullptr) {}
    ptr(T* value, typename base::Deleter deleter) : base(value, deleter) {}
    ptr(const ptr& src) : base() { this->joinHandle(src); }
    ptr& operator=(const ptr& src) {
        if (&src == this) return *this;
        this->assignHandle(src);
        return *this;
    }
    ~ptr() override { this->releaseHandle(); }
    void hook() override {}
};

// The same handle with every ring change under one mutex per value type.
template <class T>
class thread_safe_ptr : public ptr_interface<T> {
    typedef ptr_interface<T> base;

public:
    static qdl::SimpleMutex& mutex() {
        static qdl::SimpleMutex m;
        return m;
    }

    thread_safe_ptr() { mutex(); }
    explicit thread_safe_ptr(T* value) : base(value, nullptr) { mutex(); }
    thread_safe_ptr(T* value, typename base::Deleter deleter) : base(value, deleter) { mutex(); }
    thread_safe_ptr(const thread_safe_ptr& src) : base() {
        qdl::ScopedLock guard(mutex());
        this->joinHandle(src);
    }
    thread_safe_ptr& operator=(const thread_safe_ptr& src) {
        if (&src == this) return *this;
        qdl::ScopedLock guard(mutex());
        this->assignHandle(src);
        return *this;
    }
    ~thread_safe_ptr() override {
        qdl::ScopedLock guard(mutex());
        this->releaseHandle();
    }
    bool isUnique() const override {
        qdl::ScopedLock guard(mutex());
        return base::isUnique();
    }
    bool isNull() const override {
        qdl::ScopedLock guard(mutex());
        return base::isNull();
    }
    void hook() override {}
};
