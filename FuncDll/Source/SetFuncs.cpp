// String lists as sets: union, intersection, difference and symmetric
// difference. Names of nets, parts and files compare ignoring ASCII letter
// case, so membership does too; a result keeps the order of its inputs, holds
// each element once, and spells it as the occurrence that put it there.
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
// at most half full, so that a lookup is a hash and a short probe with no
// allocation per element. Removed entries stay as markers for later probes.
class Seen {
public:
    explicit Seen(size_t expected) {
        size_t capacity = 256;
        while (capacity < 2 * expected) capacity <<= 1;
        slots_.resize(capacity);
    }
    // Adds s; false when an equal text is already there.
    bool insert(std::string_view s) {
        const uint32_t h = hashNoCase(s);
        Slot& slot = probe(s, h);
        if (slot.state == Live) return false;
        if (slot.state == Empty) slot = {s, h, Live};
        slot.state = Live;
        ++live_;
        return true;
    }
    // Takes s out; false when it was not there.
    bool erase(std::string_view s) {
        Slot& slot = probe(s, hashNoCase(s));
        if (slot.state != Live) return false;
        slot.state = Removed;
        --live_;
        return true;
    }
    bool empty() const noexcept { return live_ == 0; }

private:
    enum State : uint8_t { Empty, Live, Removed };
    struct Slot {
        std::string_view text;
        uint32_t hash = 0;
        State state = Empty;
    };
    // The slot holding s (live or removed), or the empty slot where it belongs.
    Slot& probe(std::string_view s, uint32_t h) {
        const size_t mask = slots_.size() - 1;
        for (size_t k = h & mask;; k = (k + 1) & mask) {
            Slot& slot = slots_[k];
            if (slot.state == Empty || (slot.hash == h && equalNoCase(slot.text, s))) return slot;
        }
    }
    std::vector<Slot> slots_;
    size_t live_ = 0;
};

Seen seenOf(const std::vector<std::string_view>& list) {
    Seen seen(list.size());
    for (std::string_view s : list) seen.insert(s);
    return seen;
}

struct Lists {
    std::vector<std::string_view> a, b, out;
    explicit Lists(const FuncArgs& args) : a(stringsOf(args, 0)), b(stringsOf(args, 1)) {
        out.reserve(a.size() + b.size());
    }
    // Appends the elements of `from` that `seen` does not hold yet, marking each.
    void appendNew(const std::vector<std::string_view>& from, Seen& seen) {
        for (std::string_view s : from)
            if (seen.insert(s)) out.push_back(s);
    }
    FUNC_ERROR result(FuncResult& r) const {
        setStrings(r, out);
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
    for (size_t k = 0; k < l.b.size() && !inA.empty(); ++k)
        if (inA.erase(l.b[k])) l.out.push_back(l.b[k]);
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
FuncConstruct registrations[] = {
    {"SetDifference",          {String, String}, {}, 2, 2, handler<setDifference>,          "", PyStringList, ArrayArgs},
    {"SetIntersect",           {String, String}, {}, 2, 2, handler<setIntersect>,           "", PyStringList, ArrayArgs},
    {"SetSymmetricDifference", {String, String}, {}, 2, 2, handler<setSymmetricDifference>, "", PyStringList, ArrayArgs},
    {"SetUnion",               {String, String}, {}, 1, 2, handler<setUnion>,               "", PyStringList, ArrayArgs},
};
// clang-format on

}  // namespace
