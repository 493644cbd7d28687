// The host's vector value: immutable once built and shared by pointer.
//
// A value holds the elements of all its divisions back to back in one buffer,
// the division lengths, an optional reference (x-values, itself a value with
// the same divisions, or with one division that serves all of them), the
// physical types of values and reference, names and division labels.
// Views of one division share the buffer of the whole value, so the host can
// hand a multi-division argument to a handler one division at a time without
// copying data.
#pragma once
#include <complex>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "MemoryBudget.h"
#include "PhysType.h"

namespace cv {

using cplx = std::complex<double>;

enum class Kind : uint8_t { None = 0, Real, Complex, String, Integer, Integer64, Bool };

size_t elementSize(Kind k) noexcept;
const char* kindName(Kind k) noexcept;  // "real", "complex", "string", "integer", "bool", "none"

class Value;
using ValuePtr = std::shared_ptr<const Value>;
using MutableValuePtr = std::shared_ptr<Value>;

// Element storage; strings are malloc'd and owned by the buffer.
class Buffer {
public:
    // Zero-filled unless `zeroed` is false (then only strings are: their
    // pointers start null); throws std::bad_alloc when too large.
    Buffer(Kind k, int64_t count, bool zeroed = true);
    // Elements that live in memory someone else allocated (a numpy array seen
    // from Python): `owner` keeps them alive and is released with the buffer.
    // Never strings, whose pointers the buffer would have to free.
    Buffer(Kind k, int64_t count, void* external, std::shared_ptr<void> owner) noexcept;
    // `count` null text slots and a block of `blockBytes` characters released
    // with the buffer: a slot may point into the block, or hold a malloc'd
    // text of its own as in any other string buffer.
    Buffer(int64_t count, size_t blockBytes);
    ~Buffer();
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    void* data() const noexcept { return data_; }
    char* block() const noexcept { return block_; }

private:
    void* data_ = nullptr;
    Kind kind_;
    int64_t count_;
    std::shared_ptr<void> owner_;  // set for external elements
    char* block_ = nullptr;        // texts written in place (see above)
    size_t blockBytes_ = 0;
};

class Value {
public:
    // A value of n elements in one division (or in the given divisions),
    // zero-filled (strings null, which read as "").
    static MutableValuePtr make(Kind k, int64_t n);
    // `zeroed` false: as makeUninitialized.
    static MutableValuePtr makeDivided(Kind k, std::span<const int64_t> lengths, bool zeroed = true);
    // Numeric elements not cleared, for a caller that writes every one of
    // them before anything reads the value (strings are still null).
    static MutableValuePtr makeUninitialized(Kind k, int64_t n);
    // n text slots (null) and a block of `bytes` characters for their texts,
    // released with the value: a list of many short texts costs one
    // allocation instead of one each. Slots may also take malloc'd texts.
    static MutableValuePtr makeStringBlock(int64_t n, size_t bytes, char*& block);
    // A value over `count` numeric elements at `data` that `owner` keeps
    // alive, laid out in `lengths` (empty: one division). Nothing is copied:
    // whoever hands the memory over promises it does not change while the
    // value lives, as for any other value.
    static MutableValuePtr adopt(Kind k, std::span<const int64_t> lengths, int64_t count, void* data,
                                 std::shared_ptr<void> owner);
    static ValuePtr none();
    static ValuePtr real(double v);
    static ValuePtr complex(cplx v);
    static ValuePtr string(std::string_view s);
    static ValuePtr reals(std::span<const double> v);
    static ValuePtr complexes(std::span<const cplx> v);
    static ValuePtr strings(std::span<const std::string> v);

    Value(const Value&) = delete;
    Value& operator=(const Value&) = delete;
    ~Value();

    Kind kind() const noexcept { return kind_; }
    bool isNumeric() const noexcept { return kind_ != Kind::String && kind_ != Kind::None; }
    int64_t size() const noexcept { return size_; }
    int64_t numDivisions() const noexcept { return starts_.empty() ? 1 : int64_t(starts_.size()) - 1; }
    int64_t divisionOffset(int64_t d) const noexcept { return starts_.empty() ? 0 : starts_[size_t(d)]; }
    int64_t divisionLength(int64_t d) const noexcept {
        return starts_.empty() ? size_ : starts_[size_t(d) + 1] - starts_[size_t(d)];
    }
    std::vector<int64_t> divisionLengths() const;

    // Typed element access; null when the value is of another kind.
    const double* reals() const noexcept { return kind_ == Kind::Real ? static_cast<const double*>(data_) : nullptr; }
    const cplx* complexes() const noexcept { return kind_ == Kind::Complex ? static_cast<const cplx*>(data_) : nullptr; }
    const char* const* strings() const noexcept {
        return kind_ == Kind::String ? static_cast<const char* const*>(data_) : nullptr;
    }
    const int32_t* integers() const noexcept { return kind_ == Kind::Integer ? static_cast<const int32_t*>(data_) : nullptr; }
    const int64_t* integers64() const noexcept {
        return kind_ == Kind::Integer64 ? static_cast<const int64_t*>(data_) : nullptr;
    }
    const bool* bools() const noexcept { return kind_ == Kind::Bool ? static_cast<const bool*>(data_) : nullptr; }
    const void* rawData() const noexcept { return data_; }
    void* mutableData() noexcept { return data_; }
    // Lays the first sum(lengths) elements out as these divisions, for a
    // producer that learns the layout only while it writes (a loader sized
    // from a bound, a stepped run split where its scale restarts). The sum
    // may not exceed size(); elements past it are dropped (numbers only).
    // Only for a value not yet shared: views made before keep the old layout.
    void setDivisionLengths(std::span<const int64_t> lengths);

    // Element i as text ("" for an absent string) or as a number (0 for strings).
    std::string_view stringAt(int64_t i) const noexcept;
    double realAt(int64_t i) const noexcept;
    cplx complexAt(int64_t i) const noexcept;

    const ValuePtr& ref() const noexcept { return ref_; }
    PhysType physType() const noexcept { return phys_; }
    PhysType refPhysType() const noexcept { return refPhys_; }
    const std::string& name() const noexcept { return name_; }
    const std::string& refName() const noexcept { return refName_; }
    const std::vector<std::string>& divisionLabels() const noexcept { return labels_; }

    void setRef(ValuePtr r) { ref_ = std::move(r); }
    void setPhysType(PhysType t) noexcept { phys_ = t; }
    void setRefPhysType(PhysType t) noexcept { refPhys_ = t; }
    void setName(std::string n) { name_ = std::move(n); }
    void setRefName(std::string n) { refName_ = std::move(n); }
    void setDivisionLabels(std::vector<std::string> l) { labels_ = std::move(l); }

    // The reference data that belongs to division d: the reference's own
    // division d, or its only division when it has one for all.
    ValuePtr refOfDivision(int64_t d) const;

    // A view of divisions [first, first + count), sharing storage; its
    // reference is cut likewise. The label of a single division is kept.
    ValuePtr divisions(int64_t first, int64_t count) const;
    ValuePtr division(int64_t d) const { return divisions(d, 1); }

    // A value sharing this one's data but with its own metadata (for results
    // that pass an argument through).
    MutableValuePtr shallowCopy() const;
    // The same elements as another kind: integer/bool → real, real/integer/bool
    // → complex, anything numeric → string (shortest round-trip text).
    // Returns this value itself when it already has that kind.
    ValuePtr convertedTo(Kind k) const;

private:
    struct Token {};

public:
    explicit Value(Token) {}

private:
    static MutableValuePtr makeEmpty(Kind k);
    void allocate(int64_t n, bool zeroed = true);
    // Everything but the elements and the division layout.
    void copyMetadataFrom(const Value& o);

    Kind kind_ = Kind::None;
    int64_t size_ = 0;
    void* data_ = nullptr;
    std::shared_ptr<Buffer> buffer_;  // null when the elements sit in inline_
    alignas(16) unsigned char inline_[16] = {};
    std::vector<int64_t> starts_;  // division offsets plus the end; empty for one division
    ValuePtr ref_;
    PhysType phys_ = PhysType::None;
    PhysType refPhys_ = PhysType::None;
    std::string name_, refName_;
    std::vector<std::string> labels_;
};


// Shortest decimal text that reads back to the same double ("nan", "inf", "-inf" for those).
std::string formatReal(double v);

}  // namespace cv
