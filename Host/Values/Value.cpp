#include <atomic>
#include <mutex>
#include "Value.h"
#include "Sanitizer.h"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace cv {

size_t elementSize(Kind k) noexcept {
    switch (k) {
        case Kind::Real: return sizeof(double);
        case Kind::Complex: return sizeof(cplx);
        case Kind::String: return sizeof(char*);
        case Kind::Integer: return sizeof(int32_t);
        case Kind::Integer64: return sizeof(int64_t);
        case Kind::Bool: return sizeof(bool);
        case Kind::None: return 0;
    }
    return 0;
}

const char* kindName(Kind k) noexcept {
    switch (k) {
        case Kind::Real: return "real";
        case Kind::Complex: return "complex";
        case Kind::String: return "string";
        case Kind::Integer:
        case Kind::Integer64: return "integer";
        case Kind::Bool: return "bool";
        case Kind::None: return "none";
    }
    return "none";
}

namespace {

std::atomic<size_t> gMemoryLimit{0};  // 0: no call has set one yet

// What one short text costs: its pointer and one allocator chunk (32 bytes).
// Under AddressSanitizer every chunk also carries redzones and stays in the
// quarantine for a while after it is freed, some four times the native cost;
// counting that keeps the sanitizer builds (and the fuzz targets, which run
// with a 1 GB limit under a 2 GB ceiling) within the limit they are given.
constexpr uint64_t kBytesPerText = cv::kAddressSanitizer ? 160 : 40;

// Requests beyond the current limit fail at once: with overcommit, malloc of
// such a size may succeed and the process would die when touching it.
size_t maxAllocationBytes() {
    const size_t limit = gMemoryLimit.load(std::memory_order_relaxed);
    return limit ? limit : physicalMemoryBytes();
}

// Large buffers are mapped directly and asked for huge pages: filling a
// fresh buffer of many megabytes otherwise costs one page fault per 4 KiB.
constexpr size_t kMapThreshold = size_t(4) << 20;

size_t checkedBytes(int64_t count, size_t esize) {
    if (count < 0 || (esize && size_t(count) > maxAllocationBytes() / esize)) throw std::bad_alloc();
    return std::max<size_t>(size_t(count) * esize, 1);
}

// Bytes of the large buffers alive now. A result often needs two of them
// (values and reference): each may fit the machine alone while both do not,
// so the limit applies to what is held in total.
std::atomic<size_t> gLargeBytes{0};

// Freed buffers kept for the next request of the same size: results of a
// loop over runs or of repeated calls come in equal sizes. The buffer just
// freed is the likeliest to be asked for next, so the oldest kept ones give
// it room; kept buffers of sizes no longer asked for would otherwise hold
// every place for good. `GiveBack` returns a buffer to the system.
template <size_t Slots, void (*GiveBack)(void*, size_t)>
class KeptBuffers {
public:
    void* take(size_t bytes) noexcept {
        for (Entry& e : entries_)
            if (e.p && e.bytes == bytes) {
                held_ -= bytes;
                return std::exchange(e.p, nullptr);
            }
        return nullptr;
    }
    // False (nothing kept, nothing given back) when the buffer alone is
    // beyond `cap`, the bytes kept at most.
    bool keep(void* p, size_t bytes, size_t cap) noexcept {
        if (bytes > cap) return false;
        for (;;) {
            Entry *empty = nullptr, *oldest = nullptr;
            for (Entry& e : entries_) {
                if (!e.p) empty = empty ? empty : &e;
                else if (!oldest || e.age < oldest->age) oldest = &e;
            }
            if (empty && held_ + bytes <= cap) {
                *empty = {p, bytes, ++clock_};
                held_ += bytes;
                return true;
            }
            giveBack(*oldest);  // there is one: the places are full, or bytes are held
        }
    }
    void release() noexcept {
        for (Entry& e : entries_)
            if (e.p) giveBack(e);
    }

private:
    struct Entry {
        void* p = nullptr;
        size_t bytes = 0;
        uint64_t age = 0;
    };
    void giveBack(Entry& e) noexcept {
        GiveBack(std::exchange(e.p, nullptr), e.bytes);
        held_ -= e.bytes;
    }
    Entry entries_[Slots];
    size_t held_ = 0;
    uint64_t clock_ = 0;
};

void unmapLarge(void* p, size_t bytes) {
    munmap(p, bytes);
    gLargeBytes.fetch_sub(bytes);
}

void freeSmall(void* p, size_t) { std::free(p); }

// Large buffers, shared by the threads: clearing a kept mapped buffer costs
// less than faulting in a fresh one.
class LargeBufferCache {
    static constexpr size_t kMaxKeptBytes = size_t(512) << 20;

public:
    void* take(size_t bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        return kept_.take(bytes);
    }
    bool keep(void* p, size_t bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        return kept_.keep(p, bytes, std::min(kMaxKeptBytes, maxAllocationBytes() / 16));
    }
    // Gives every kept buffer back to the system.
    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        kept_.release();
    }

private:
    std::mutex mutex_;
    KeptBuffers<4, unmapLarge> kept_;
};

LargeBufferCache& largeCache() {
    static LargeBufferCache* cache = new LargeBufferCache;  // outlives every value
    return *cache;
}

// Buffers of a few kilobytes to a few hundred, kept by each thread: malloc
// would split each from its free lists and merge it back on every call, as
// much as the work of a call on a thousand elements. At most kSlots * kMax
// bytes per thread are held; none under AddressSanitizer, which must see
// every buffer freed. What a thread kept is freed when it ends, by a
// thread-specific key: a destructor of the thread_local itself would be
// registered by an allocation glibc cannot fail without ending the process.
class RecentBuffers {
public:
    static constexpr size_t kMin = 2048, kMax = size_t(256) << 10;
    static constexpr size_t kSlots = 4;

    static bool fits(size_t bytes) noexcept { return !kAddressSanitizer && bytes >= kMin && bytes <= kMax; }
    void* take(size_t bytes) noexcept { return kept_.take(bytes); }
    void keep(void* p, size_t bytes) noexcept {
        if (!registered_) registered_ = registerThread();
        if (!registered_ || !kept_.keep(p, bytes, kSlots * kMax)) std::free(p);
    }
    void release() noexcept { kept_.release(); }

private:
    bool registerThread() noexcept {
        static const auto key = [] {
            std::pair<bool, pthread_key_t> k{false, {}};
            const auto atExit = [](void* self) { static_cast<RecentBuffers*>(self)->release(); };
            k.first = pthread_key_create(&k.second, atExit) == 0;
            return k;
        }();
        return key.first && pthread_setspecific(key.second, this) == 0;
    }
    KeptBuffers<kSlots, freeSmall> kept_;
    bool registered_ = false;
};
static_assert(std::is_trivially_destructible_v<RecentBuffers>);

constinit thread_local RecentBuffers tRecentBuffers;

// `zeroed` false: the caller writes every byte before anything reads one
// (a kernel that fills its whole result), so a kept buffer is not cleared
// and a small one comes from malloc. A fresh mapping is zero either way.
void* zeroedAlloc(size_t bytes, bool zeroed = true) {
    if (bytes >= kMapThreshold) {
        if (void* p = largeCache().take(bytes)) {
            if (zeroed) std::memset(p, 0, bytes);
            return p;
        }
        size_t held = gLargeBytes.fetch_add(bytes) + bytes;
        if (held > maxAllocationBytes()) {
            // Kept buffers count as held: give them back before refusing.
            largeCache().release();
            held = gLargeBytes.load();
            if (held > maxAllocationBytes()) {
                gLargeBytes.fetch_sub(bytes);
                throw std::bad_alloc();
            }
        }
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) {
            gLargeBytes.fetch_sub(bytes);
            throw std::bad_alloc();
        }
        madvise(p, bytes, MADV_HUGEPAGE);
        return p;
    }
    if (RecentBuffers::fits(bytes))
        if (void* p = tRecentBuffers.take(bytes)) {
            if (zeroed) std::memset(p, 0, bytes);
            return p;
        }
    void* p = zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
    if (!p) {
        tRecentBuffers.release();  // what this thread kept goes back before giving up
        p = zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
        if (!p) throw std::bad_alloc();
    }
    return p;
}

void zeroedFree(void* p, size_t bytes) {
    if (bytes >= kMapThreshold) {
        if (!largeCache().keep(p, bytes)) unmapLarge(p, bytes);
    } else if (p && RecentBuffers::fits(bytes)) {
        tRecentBuffers.keep(p, bytes);
    } else {
        std::free(p);
    }
}

// Frees the texts of n slots, except those written in [block, block + bytes).
void freeStrings(void* data, int64_t n, const char* block = nullptr, size_t bytes = 0) {
    char** s = static_cast<char**>(data);
    const auto inBlock = [&](const char* p) { return std::less_equal<>()(block, p) && std::less<>()(p, block + bytes); };
    for (int64_t i = 0; i < n; ++i)
        if (!block || !inBlock(s[i])) std::free(s[i]);
}

char* dupString(const char* s) {
    if (!s) return nullptr;
    char* d = strdup(s);
    if (!d) throw std::bad_alloc();
    return d;
}

}  // namespace

Buffer::Buffer(Kind k, int64_t count, bool zeroed) : kind_(k), count_(count) {
    // Strings are pointers the buffer frees: they always start null.
    data_ = zeroedAlloc(checkedBytes(count, elementSize(k)), zeroed || k == Kind::String);
}

Buffer::Buffer(Kind k, int64_t count, void* external, std::shared_ptr<void> owner) noexcept
    : data_(external), kind_(k), count_(count), owner_(std::move(owner)) {}

Buffer::Buffer(int64_t count, size_t blockBytes) : Buffer(Kind::String, count) {
    // The delegated constructor has finished: should this throw, the
    // destructor releases the slots.
    if (blockBytes == 0) return;
    block_ = static_cast<char*>(zeroedAlloc(blockBytes, false));
    blockBytes_ = blockBytes;
}

Buffer::~Buffer() {
    if (owner_) return;  // the owner's memory: released with owner_
    if (kind_ == Kind::String) freeStrings(data_, count_, block_, blockBytes_);
    zeroedFree(data_, checkedBytes(count_, elementSize(kind_)));
    if (block_) zeroedFree(block_, blockBytes_);
}

Value::~Value() {
    if (!buffer_ && kind_ == Kind::String) freeStrings(data_, size_);
}

MutableValuePtr Value::makeEmpty(Kind k) {
    auto v = std::make_shared<Value>(Token{});
    v->kind_ = k;
    return v;
}

void Value::allocate(int64_t n, bool zeroed) {
    if (n < 0) throw std::bad_alloc();
    size_t bytes = elementSize(kind_);
    if (bytes && size_t(n) <= sizeof(inline_) / bytes) {
        data_ = inline_;
    } else {
        buffer_ = std::make_shared<Buffer>(kind_, n, zeroed);
        data_ = buffer_->data();
    }
    size_ = n;
}

MutableValuePtr Value::make(Kind k, int64_t n) {
    auto v = makeEmpty(k);
    v->allocate(n);
    return v;
}

MutableValuePtr Value::makeStringBlock(int64_t n, size_t bytes, char*& block) {
    if (n < 0) throw std::bad_alloc();
    auto v = makeEmpty(Kind::String);
    v->buffer_ = std::make_shared<Buffer>(n, bytes);
    v->data_ = v->buffer_->data();
    v->size_ = n;
    block = v->buffer_->block();
    return v;
}

MutableValuePtr Value::makeUninitialized(Kind k, int64_t n) {
    auto v = makeEmpty(k);
    v->allocate(n, false);
    return v;
}

namespace {

// The offsets of divisions of these lengths, plus the end, into `starts`
// (nothing for one division); their total, or -1 when a length is negative
// or the total would pass `limit`.
int64_t divisionStarts(std::span<const int64_t> lengths, int64_t limit, std::vector<int64_t>& starts) {
    int64_t total = 0;
    for (int64_t n : lengths) {
        if (n < 0 || total > limit - n) return -1;
        total += n;
    }
    starts.clear();
    if (lengths.size() > 1) {
        starts.reserve(lengths.size() + 1);
        starts.push_back(0);
        for (int64_t n : lengths) starts.push_back(starts.back() + n);
    }
    return total;
}

}  // namespace

MutableValuePtr Value::makeDivided(Kind k, std::span<const int64_t> lengths, bool zeroed) {
    auto v = makeEmpty(k);
    const int64_t total = divisionStarts(lengths, INT64_MAX, v->starts_);
    if (total < 0) throw std::bad_alloc();
    v->allocate(total, zeroed);
    return v;
}

void Value::setDivisionLengths(std::span<const int64_t> lengths) {
    std::vector<int64_t> starts;
    const int64_t total = divisionStarts(lengths, size_, starts);
    if (total < 0) throw std::invalid_argument("division lengths exceed the value's size");
    // Strings past the new end would never be freed by ~Value: only numbers shrink.
    if (total < size_ && kind_ == Kind::String) throw std::invalid_argument("a string value cannot shrink");
    starts_ = std::move(starts);
    size_ = total;
}

MutableValuePtr Value::adopt(Kind k, std::span<const int64_t> lengths, int64_t count, void* data,
                             std::shared_ptr<void> owner) {
    if (k == Kind::String || k == Kind::None || count < 0) throw std::invalid_argument("adopt: numeric elements only");
    auto v = makeEmpty(k);
    const int64_t total = divisionStarts(lengths, INT64_MAX, v->starts_);
    if (total < 0 || (lengths.size() > 1 && total != count))
        throw std::invalid_argument("adopt: division lengths do not add up");
    v->buffer_ = std::make_shared<Buffer>(k, count, data, std::move(owner));
    v->data_ = data;
    v->size_ = count;
    return v;
}

ValuePtr Value::none() {
    static const ValuePtr kNone = makeEmpty(Kind::None);
    return kNone;
}

ValuePtr Value::real(double x) {
    auto v = make(Kind::Real, 1);
    *static_cast<double*>(v->data_) = x;
    return v;
}

ValuePtr Value::complex(cplx x) {
    auto v = make(Kind::Complex, 1);
    *static_cast<cplx*>(v->data_) = x;
    return v;
}

ValuePtr Value::string(std::string_view s) {
    auto v = make(Kind::String, 1);
    char* d = static_cast<char*>(std::malloc(s.size() + 1));
    if (!d) throw std::bad_alloc();
    std::memcpy(d, s.data(), s.size());
    d[s.size()] = '\0';
    *static_cast<char**>(v->data_) = d;
    return v;
}

ValuePtr Value::reals(std::span<const double> x) {
    auto v = make(Kind::Real, int64_t(x.size()));
    if (!x.empty()) std::memcpy(v->data_, x.data(), x.size_bytes());
    return v;
}

ValuePtr Value::complexes(std::span<const cplx> x) {
    auto v = make(Kind::Complex, int64_t(x.size()));
    if (!x.empty()) std::memcpy(v->data_, x.data(), x.size_bytes());
    return v;
}

ValuePtr Value::strings(std::span<const std::string> x) {
    auto v = make(Kind::String, int64_t(x.size()));
    char** slots = static_cast<char**>(v->data_);
    for (size_t i = 0; i < x.size(); ++i) slots[i] = dupString(x[i].c_str());
    return v;
}

std::vector<int64_t> Value::divisionLengths() const {
    std::vector<int64_t> out(static_cast<size_t>(numDivisions()));
    for (size_t d = 0; d < out.size(); ++d) out[d] = divisionLength(int64_t(d));
    return out;
}

std::string_view Value::stringAt(int64_t i) const noexcept {
    if (i < 0 || i >= size_ || kind_ != Kind::String) return {};
    const char* s = strings()[i];
    return s ? std::string_view(s) : std::string_view();
}

double Value::realAt(int64_t i) const noexcept {
    if (i < 0 || i >= size_) return 0.0;
    switch (kind_) {
        case Kind::Real: return reals()[i];
        case Kind::Complex: return complexes()[i].real();
        case Kind::Integer: return integers()[i];
        case Kind::Integer64: return double(integers64()[i]);
        case Kind::Bool: return bools()[i] ? 1.0 : 0.0;
        default: return 0.0;
    }
}

cplx Value::complexAt(int64_t i) const noexcept {
    if (kind_ == Kind::Complex && i >= 0 && i < size_) return complexes()[i];
    return {realAt(i), 0.0};
}

ValuePtr Value::refOfDivision(int64_t d) const {
    if (!ref_) return nullptr;
    if (ref_->numDivisions() == numDivisions()) return ref_->division(d);
    return ref_;
}

ValuePtr Value::divisions(int64_t first, int64_t count) const {
    int64_t nd = numDivisions();
    if (first < 0 || count < 0 || first > nd - count) throw std::out_of_range("division out of range");
    if (first == 0 && count == nd) return shallowCopy();

    auto v = makeEmpty(kind_);
    int64_t off = divisionOffset(first);
    int64_t end = divisionOffset(first + count - 1) + divisionLength(first + count - 1);
    int64_t n = end - off;
    size_t es = elementSize(kind_);
    if (buffer_) {
        v->buffer_ = buffer_;
        v->data_ = static_cast<unsigned char*>(data_) + size_t(off) * es;
        v->size_ = n;
    } else {
        v->allocate(n);
        if (n) std::memcpy(v->data_, static_cast<const unsigned char*>(data_) + size_t(off) * es, size_t(n) * es);
        if (kind_ == Kind::String) {
            char** s = static_cast<char**>(v->data_);
            for (int64_t i = 0; i < n; ++i) s[i] = dupString(s[i]);
        }
    }
    if (count > 1) {
        v->starts_.assign(starts_.begin() + first, starts_.begin() + first + count + 1);
        for (auto& s : v->starts_) s -= off;
    }
    if (ref_) v->ref_ = ref_->numDivisions() == nd ? ref_->divisions(first, count) : ref_;
    v->phys_ = phys_;
    v->refPhys_ = refPhys_;
    v->name_ = name_;
    v->refName_ = refName_;
    if (int64_t(labels_.size()) == nd)
        v->labels_.assign(labels_.begin() + first, labels_.begin() + first + count);
    return v;
}

MutableValuePtr Value::shallowCopy() const {
    auto v = makeEmpty(kind_);
    if (buffer_) {
        v->buffer_ = buffer_;
        v->data_ = data_;
        v->size_ = size_;
    } else {
        v->allocate(size_);
        std::memcpy(v->inline_, inline_, sizeof(inline_));
        if (kind_ == Kind::String) {
            char** s = static_cast<char**>(v->data_);
            for (int64_t i = 0; i < size_; ++i) s[i] = dupString(s[i]);
        }
    }
    v->starts_ = starts_;
    v->copyMetadataFrom(*this);
    return v;
}

ValuePtr Value::convertedTo(Kind k) const {
    if (k == kind_) return shallowCopy();
    // Text takes memory beyond the pointer array that allocate() counts: at
    // least one allocator chunk per number written out, so a conversion that
    // cannot fit is refused before it starts.
    if (k == Kind::String && size_ > 0 && uint64_t(size_) > memoryLimitBytes() / kBytesPerText) throw std::bad_alloc();
    auto v = makeEmpty(k);
    v->allocate(size_);
    if (k == Kind::Real) {
        double* out = static_cast<double*>(v->data_);
        for (int64_t i = 0; i < size_; ++i) out[i] = realAt(i);
    } else if (k == Kind::Complex) {
        cplx* out = static_cast<cplx*>(v->data_);
        for (int64_t i = 0; i < size_; ++i) out[i] = complexAt(i);
    } else if (k == Kind::String) {
        char** out = static_cast<char**>(v->data_);
        for (int64_t i = 0; i < size_; ++i) {
            std::string t;
            if (kind_ == Kind::Complex) {
                cplx z = complexes()[i];
                t = "(" + formatReal(z.real()) + "," + formatReal(z.imag()) + ")";
            } else if (kind_ == Kind::Integer || kind_ == Kind::Integer64) {
                t = std::to_string(kind_ == Kind::Integer ? integers()[i] : integers64()[i]);
            } else {
                t = formatReal(realAt(i));
            }
            out[i] = dupString(t.c_str());
        }
    } else {
        throw std::invalid_argument("unsupported conversion");
    }
    v->starts_ = starts_;
    v->copyMetadataFrom(*this);
    return v;
}

void Value::copyMetadataFrom(const Value& o) {
    ref_ = o.ref_;
    phys_ = o.phys_;
    refPhys_ = o.refPhys_;
    name_ = o.name_;
    refName_ = o.refName_;
    labels_ = o.labels_;
}

size_t memoryLimitBytes() noexcept { return maxAllocationBytes(); }

void reserveMemoryBytes(size_t bytes) {
    if (gLargeBytes.fetch_add(bytes) + bytes <= maxAllocationBytes()) return;
    // Kept buffers count as held: give them back before refusing.
    largeCache().release();
    if (gLargeBytes.load() > maxAllocationBytes()) {
        gLargeBytes.fetch_sub(bytes);
        throw std::bad_alloc();
    }
}

void releaseMemoryBytes(size_t bytes) noexcept { gLargeBytes.fetch_sub(bytes); }

void setMemoryLimitBytes(size_t bytes) noexcept {
    gMemoryLimit.store(std::min(std::max<size_t>(bytes, 1), physicalMemoryBytes()), std::memory_order_relaxed);
}

size_t physicalMemoryBytes() noexcept {
    static const size_t total = [] {
        long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
        return pages > 0 && size > 0 ? size_t(pages) * size_t(size) : size_t(1) << 40;
    }();
    return total;
}

size_t availableMemoryBytes() noexcept {
    size_t bytes = 0;
    if (FILE* f = std::fopen("/proc/meminfo", "r")) {
        char line[128];
        unsigned long long kb = 0;
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
                bytes = size_t(kb) * 1024;
                break;
            }
        std::fclose(f);
    }
    return bytes ? std::min(bytes, physicalMemoryBytes()) : physicalMemoryBytes();
}

std::string formatReal(double v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

}  // namespace cv
