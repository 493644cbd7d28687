// String lists as sets: union, intersection, difference and symmetric
// difference. Names of nets, parts and files compare ignoring ASCII letter
// case, so membership does too; a result keeps the order of its inputs, holds
// each element once, and spells it as the occurrence that put it there. A
// result with no element is not made at all.
// Membership goes through one hash set per call, so each function is linear
// in the total number of elements.
#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "FuncKit.h"

namespace {

using namespace cvmod;

// The seen set of one call: open addressing over views of the argument texts,
// never more than half full (it doubles before an insert would pass that), so
// that a lookup is a hash and a short probe with no allocation per element
// and a probe always meets an empty slot. Removed entries stay as markers for
// later probes and count as used until the next doubling drops them. Slots
// are 16 bytes, and whole lists go in blocks whose slots are fetched ahead:
// on lists of a million names nearly every probe misses the cache, and
// overlapping those misses is what makes the set fast.
class Seen {
public:
    explicit Seen(size_t expected) { rehash(capacityFor(expected)); }
    // Adds s; false when an equal text is already there.
    bool insert(std::string_view s, uint32_t tag) {
        Slot* slot = &probe(s, tag);
        if (slot->live()) return false;
        if (!slot->text) {
            if (2 * (used_ + 1) > slots_.size()) {
                rehash(capacityFor(live_ + 1));
                slot = &probe(s, tag);
            }
            *slot = {s.data() ? s.data() : "", uint32_t(std::min<size_t>(s.size(), kLongText)), tag};
            ++used_;
        }
        slot->tag = tag;  // revives a removed entry
        ++live_;
        return true;
    }
    // Takes s out; false when it was not there.
    bool erase(std::string_view s, uint32_t tag) {
        Slot& slot = probe(s, tag);
        if (!slot.live()) return false;
        slot.tag &= ~1u;
        --live_;
        return true;
    }
    bool empty() const noexcept { return live_ == 0; }

    // f(k, tag) for each element k of the list, in order, with the slot of
    // each block of elements already on its way to the cache.
    template <class F>
    void forEach(const std::vector<std::string_view>& list, F f) {
        constexpr size_t kBlock = 16;
        uint32_t tags[kBlock];
        for (size_t i = 0; i < list.size(); i += kBlock) {
            const size_t n = std::min(kBlock, list.size() - i);
            for (size_t k = 0; k < n; ++k) {
                tags[k] = tagOf(list[i + k]);
                __builtin_prefetch(&slots_[tags[k] & mask_]);
            }
            for (size_t k = 0; k < n; ++k) f(i + k, tags[k]);
        }
    }

private:
    // The hash with its lowest bit set: a live entry's tag; a removed entry
    // keeps it with that bit cleared. An empty slot has no text.
    static uint32_t tagOf(std::string_view s) noexcept { return hashNoCase(s) | 1u; }
    struct Slot {
        const char* text = nullptr;
        uint32_t size = 0;
        uint32_t tag = 0;
        bool live() const noexcept { return tag & 1u; }
        // Texts of 4 GiB and more are measured again: theirs end at their NUL.
        std::string_view view() const noexcept { return size == kLongText ? std::string_view(text) : std::string_view(text, size); }
    };
    static constexpr uint32_t kLongText = UINT32_MAX;
    static size_t capacityFor(size_t entries) {
        size_t capacity = 256;
        while (capacity < 2 * entries) capacity <<= 1;
        return capacity;
    }
    // A fresh table of `capacity` slots holding the live entries only.
    void rehash(size_t capacity) {
        std::vector<Slot> old(capacity);
        old.swap(slots_);
        mask_ = capacity - 1;
        used_ = 0;
        for (const Slot& slot : old) {
            if (!slot.live()) continue;
            size_t k = slot.tag & mask_;
            while (slots_[k].text) k = (k + 1) & mask_;
            slots_[k] = slot;
            ++used_;
        }
    }
    // The slot holding s (live or removed), or the empty slot where it belongs.
    Slot& probe(std::string_view s, uint32_t tag) {
        for (size_t k = tag & mask_;; k = (k + 1) & mask_) {
            Slot& slot = slots_[k];
            if (!slot.text || ((slot.tag | 1u) == tag && equalNoCase(slot.view(), s))) return slot;
        }
    }
    std::vector<Slot> slots_;
    size_t mask_ = 0;
    size_t used_ = 0;  // live entries and removal markers
    size_t live_ = 0;
};

Seen seenOf(const std::vector<std::string_view>& list) {
    Seen seen(list.size());
    seen.forEach(list, [&](size_t k, uint32_t tag) { seen.insert(list[k], tag); });
    return seen;
}

struct Lists {
    std::vector<std::string_view> a, b, out;
    explicit Lists(const FuncArgs& args) : a(stringsOf(args, 0)), b(stringsOf(args, 1)) {
        out.reserve(a.size() + b.size());
    }
    // Appends the elements of `from` that `seen` does not hold yet, marking each.
    void appendNew(const std::vector<std::string_view>& from, Seen& seen) {
        seen.forEach(from, [&](size_t k, uint32_t tag) {
            if (seen.insert(from[k], tag)) out.push_back(from[k]);
        });
    }
    // An empty result is left unmade: no element, no kind.
    FUNC_ERROR result(FuncResult& r) const {
        if (!out.empty()) setStrings(r, out);
        return FuncOk;
    }
};

FUNC_ERROR setUnion(const FuncArgs& args, FuncResult& r, MessageHandler&) {
    Lists l(args);
    Seen seen(l.a.size() + l.b.size());
    l.appendNew(l.a, seen);
    l.appendNew(l.b, seen);
    return l.result(r);
}

FUNC_ERROR setIntersect(const FuncArgs& args, FuncResult& r, MessageHandler&) {
    Lists l(args);
    Seen inA = seenOf(l.a);
    // Taking an element out once it is output keeps B's repetitions out.
    inA.forEach(l.b, [&](size_t k, uint32_t tag) {
        if (!inA.empty() && inA.erase(l.b[k], tag)) l.out.push_back(l.b[k]);
    });
    return l.result(r);
}

FUNC_ERROR setDifference(const FuncArgs& args, FuncResult& r, MessageHandler&) {
    Lists l(args);
    Seen seen = seenOf(l.b);
    l.appendNew(l.a, seen);
    return l.result(r);
}

FUNC_ERROR setSymmetricDifference(const FuncArgs& args, FuncResult& r, MessageHandler&) {
    Lists l(args);
    Seen inA = seenOf(l.a), inB = seenOf(l.b);
    l.appendNew(l.a, inB);
    l.appendNew(l.b, inA);
    return l.result(r);
}

// clang-format off
FunctionRow registrations[] = {
    {"SetDifference",          {String, String}, {}, 2, 2, handler<setDifference>,          "", PyStringList, ArrayArgs},
    {"SetIntersect",           {String, String}, {}, 2, 2, handler<setIntersect>,           "", PyStringList, ArrayArgs},
    {"SetSymmetricDifference", {String, String}, {}, 2, 2, handler<setSymmetricDifference>, "", PyStringList, ArrayArgs},
    {"SetUnion",               {String, String}, {}, 1, 2, handler<setUnion>,               "", PyStringList, ArrayArgs},
};
// clang-format on

}  // namespace
