// Counted shared references with an atomic count: the object is freed with its
// last reference. Objects that can be held by YRef derive from YRefCounted.
#pragma once
#include <atomic>
#include <utility>

class YRefCounted {
public:
    YRefCounted() = default;
    YRefCounted(const YRefCounted&) : refs_(0) {}
    YRefCounted& operator=(const YRefCounted&) { return *this; }
    virtual ~YRefCounted() = default;

    void addRef() const noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
    void release() const noexcept {
        if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }
    int refCount() const noexcept { return refs_.load(std::memory_order_relaxed); }

private:
    mutable std::atomic<int> refs_{0};
};

template <class T>
class YRef {
public:
    YRef() noexcept = default;
    YRef(T* p) noexcept : p_(p) { if (p_) p_->addRef(); }
    YRef(const YRef& o) noexcept : p_(o.p_) { if (p_) p_->addRef(); }
    YRef(YRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    template <class U>
    YRef(const YRef<U>& o) noexcept : p_(o.get()) { if (p_) p_->addRef(); }
    ~YRef() { if (p_) p_->release(); }

    YRef& operator=(YRef o) noexcept { std::swap(p_, o.p_); return *this; }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset() noexcept { YRef().swap(*this); }
    void swap(YRef& o) noexcept { std::swap(p_, o.p_); }

private:
    T* p_ = nullptr;
};

template <class T, class... A>
YRef<T> makeYRef(A&&... a) { return YRef<T>(new T(std::forward<A>(a)...)); }
