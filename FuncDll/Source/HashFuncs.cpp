// User hash tables: string-to-string dictionaries that scripts keep between
// calls, addressed by integer handles (HashCreate, HashAdd, HashSearch,
// HashRemove, HashKeys, HashDelete), and the string hash itself (Hash).
//
// Keys compare ignoring ASCII letter case and hash with YString::hashValue,
// which folds case the same way, so "Net1" finds "NET1". A table keeps one
// value per key, or several when made "multiple"; the entries of one key stay
// together, and keys keep the order in which they first arrived.
//
// Tables made "temporary" are released after every top-level command, all
// tables when the host exits; handles count from 1 and are never reused, so a
// released handle stays unknown for good. No function here sends a message
// except HashCreate when every handle has been given out: an unknown handle
// gives false, 0 or no result.
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FuncKit.h"
#include "Value.h"

namespace {

using namespace cvmod;

const char* const kNoMoreHandles = "No more hash tables can be made in function '%s': every handle has been used";

// Bytes a table is charged per entry besides its texts: the group record, its
// index slot and the allocator's bookkeeping. Used only to refuse, before
// anything changes, an addition that could not fit in memory.
constexpr uint64_t kEntryOverhead = 96;

// All tables together, so that many tables cannot jointly outgrow memory.
uint64_t gTableBytes = 0;

// One table. The entries of one key form a group: the first entry inline,
// further ones (multiple tables only) beside it, each with the key spelled as
// it was added. Groups sit in a vector in order of arrival; an open-addressing
// index of group positions finds a key with one hash and a short probe.
// Removed groups stay as dead records (skipped by every walk) until they
// outnumber the live ones, when the vector and the index are rebuilt.
class UserTable {
public:
    explicit UserTable(bool multiple) : multiple_(multiple) {}
    ~UserTable() { gTableBytes -= bytes_; }
    UserTable(const UserTable&) = delete;
    UserTable& operator=(const UserTable&) = delete;

    bool multiple() const noexcept { return multiple_; }

    // Refuses (std::bad_alloc) an addition of `bytes` of text in `entries`
    // entries that memory could not hold, before anything is changed.
    static void reserveFor(uint64_t entries, uint64_t bytes) {
        const uint64_t need = gTableBytes + bytes + entries * kEntryOverhead;
        if (need > cv::memoryLimitBytes()) throw std::bad_alloc();
    }

    // Adds keys[i] -> values[i] for i < n, in order.
    void addAll(const std::vector<std::string_view>& keys, const std::vector<std::string_view>& values, size_t n) {
        const std::vector<uint32_t> hashes = hashesOf(keys, n);
        for (size_t i = 0; i < n; ++i) {
            lookAhead(hashes, i);
            add(keys[i], values[i], hashes[i]);
        }
    }

    // Calls use(group or null) for each key, in order.
    template <class Use>
    void findAll(const std::vector<std::string_view>& keys, Use&& use) const {
        const std::vector<uint32_t> hashes = hashesOf(keys, keys.size());
        for (size_t i = 0; i < keys.size(); ++i) {
            lookAhead(hashes, i);
            use(const_cast<UserTable*>(this)->find(keys[i], hashes[i]));
        }
    }

    void add(std::string_view key, std::string_view value, uint32_t h) {
        if (Group* g = find(key, h)) {
            if (multiple_) {
                g->more.emplace_back(key, value);
                charge(key.size() + value.size());
                ++entries_;
            } else {
                // The last value given wins, and the key takes its spelling.
                charge(key.size() + value.size());
                release(g->key.size() + g->value.size());
                g->key.assign(key);
                g->value.assign(value);
            }
            return;
        }
        if (2 * (groups_.size() + 1) > index_.size()) rebuild(2 * (live_ + 1));
        groups_.push_back(Group{std::string(key), std::string(value), {}, h, true});
        charge(key.size() + value.size());
        place(uint32_t(groups_.size() - 1), h);
        ++live_;
        ++entries_;
    }

    // Erases every entry of `key`; returns how many there were.
    int64_t remove(std::string_view key) {
        Group* g = find(key, hashOf(key));
        if (!g) return 0;
        const int64_t n = g->count();
        uint64_t bytes = g->key.size() + g->value.size();
        for (const auto& kv : g->more) bytes += kv.first.size() + kv.second.size();
        release(bytes);
        *g = Group{};  // dead: frees its texts now, its index slot stays as a marker
        --live_;
        entries_ -= n;
        // Dead records are compacted away once they outnumber the live ones.
        if (groups_.size() > 64 && groups_.size() > 2 * live_) rebuild(2 * live_);
        return n;
    }

    struct Group {
        std::string key, value;
        std::vector<std::pair<std::string, std::string>> more;
        uint32_t hash = 0;
        bool live = false;
        int64_t count() const noexcept { return live ? 1 + int64_t(more.size()) : 0; }
    };

    const Group* find(std::string_view key) const { return const_cast<UserTable*>(this)->find(key, hashOf(key)); }
    const std::vector<Group>& groups() const noexcept { return groups_; }
    int64_t entries() const noexcept { return entries_; }

private:
    static uint32_t hashOf(std::string_view key) noexcept { return hashNoCase(key); }

    static std::vector<uint32_t> hashesOf(const std::vector<std::string_view>& keys, size_t n) {
        std::vector<uint32_t> h(n);
        for (size_t i = 0; i < n; ++i) h[i] = hashOf(keys[i]);
        return h;
    }

    // Batches are bound by memory latency: a key's index slot and its group
    // lie at random places in tables of many megabytes. Fetching the slot of
    // the key 2 * kAhead ahead, and the group of the key kAhead ahead (whose
    // slot has arrived by then), overlaps those waits. Only hints: a table
    // that grows meanwhile costs a miss, never a wrong answer.
    static constexpr size_t kAhead = 8;
    void lookAhead(const std::vector<uint32_t>& hashes, size_t i) const {
        if (index_.empty()) return;
        const size_t mask = index_.size() - 1;
        if (i + 2 * kAhead < hashes.size()) __builtin_prefetch(&index_[hashes[i + 2 * kAhead] & mask]);
        if (i + kAhead < hashes.size()) {
            const uint32_t slot = index_[hashes[i + kAhead] & mask];
            if (slot != kEmpty && slot - 1 < groups_.size()) __builtin_prefetch(&groups_[slot - 1]);
        }
    }

    void charge(uint64_t textBytes) {
        const uint64_t b = textBytes + kEntryOverhead;
        bytes_ += b;
        gTableBytes += b;
    }
    void release(uint64_t textBytes) {
        const uint64_t b = textBytes + kEntryOverhead;
        bytes_ -= b;
        gTableBytes -= b;
    }

    static constexpr uint32_t kEmpty = 0;  // index slots hold position + 1

    Group* find(std::string_view key, uint32_t h) {
        if (index_.empty()) return nullptr;
        const size_t mask = index_.size() - 1;
        for (size_t k = h & mask;; k = (k + 1) & mask) {
            const uint32_t slot = index_[k];
            if (slot == kEmpty) return nullptr;
            Group& g = groups_[slot - 1];
            if (g.live && g.hash == h && equalNoCase(g.key, key)) return &g;
        }
    }

    void place(uint32_t position, uint32_t h) {
        const size_t mask = index_.size() - 1;
        size_t k = h & mask;
        while (index_[k] != kEmpty) k = (k + 1) & mask;
        index_[k] = position + 1;
    }

    // Drops dead groups and sizes the index for at least `capacity` groups at
    // most half full (dead groups keep their slots until then, so probes that
    // pass them still reach the keys behind).
    void rebuild(size_t capacity) {
        size_t size = 16;
        while (size < 2 * capacity) size <<= 1;
        if (live_ != groups_.size()) {
            std::vector<Group> kept;
            kept.reserve(live_ + 1);
            for (Group& g : groups_)
                if (g.live) kept.push_back(std::move(g));
            groups_.swap(kept);
        }
        index_.assign(size, kEmpty);
        for (size_t p = 0; p < groups_.size(); ++p) place(uint32_t(p), groups_[p].hash);
        if (groups_.capacity() < capacity) groups_.reserve(capacity);
    }

    bool multiple_;
    std::vector<Group> groups_;
    std::vector<uint32_t> index_;
    size_t live_ = 0;
    int64_t entries_ = 0;
    uint64_t bytes_ = 0;
};

struct Slot {
    std::unique_ptr<UserTable> table;
    bool temporary = false;
};

// The tables by handle. Released tables leave the map; their handles are never
// given out again (the handle counter survives even the host's "Exit").
HandleTable<Slot> gTables;

// The table of argument 0, or null when the handle is unknown: no integer at
// all, never given out, deleted or released.
UserTable* tableOf(const FuncArgs& a) {
    int32_t handle = 0;
    if (!handleOf(a, 0, handle)) return nullptr;
    Slot* s = gTables.find(handle);
    return s ? s->table.get() : nullptr;
}

void putStrings(FuncResult& r, const std::vector<const std::string*>& list) {
    char** slots = r.makeStringVector(int64_t(list.size()));
    for (size_t k = 0; k < list.size(); ++k) slots[k] = copyString(std::string_view(*list[k]));
}

FUNC_ERROR hashCreate(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    Slot slot;
    bool multiple = false;
    for (std::string_view w : stringsOf(a, 0)) {
        if (sameWord(w, "temporary")) slot.temporary = true;
        else if (sameWord(w, "allowmultiple") || sameWord(w, "multiple")) multiple = true;
    }
    slot.table = std::make_unique<UserTable>(multiple);
    const int32_t handle = gTables.add(std::move(slot));
    if (handle == 0) {
        m.error(kNoMoreHandles, "HashCreate");
        return FuncFailed;
    }
    setInteger(r, handle);
    return FuncOk;
}

FUNC_ERROR hashAdd(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    UserTable* t = tableOf(a);
    const auto keys = stringsOf(a, 1), values = stringsOf(a, 2);
    const size_t n = std::min(keys.size(), values.size());
    if (!t || n < 1) {
        setBool(r, false);
        return FuncOk;
    }
    uint64_t bytes = 0;
    for (size_t i = 0; i < n; ++i) bytes += keys[i].size() + values[i].size();
    UserTable::reserveFor(n, bytes);
    t->addAll(keys, values, n);
    setBool(r, true);
    return FuncOk;
}

FUNC_ERROR hashSearch(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const UserTable* t = tableOf(a);
    const auto keys = stringsOf(a, 1);
    if (!t || keys.empty()) return FuncOk;
    const bool hasDefault = given(a, 2);
    if (t->multiple() || (keys.size() == 1 && !hasDefault)) {
        // Every value of the first key.
        const UserTable::Group* g = t->find(keys[0]);
        if (!g) return FuncOk;
        std::vector<const std::string*> out{&g->value};
        for (const auto& kv : g->more) out.push_back(&kv.second);
        putStrings(r, out);
        return FuncOk;
    }
    const std::string fallback = hasDefault ? stringOr(a, 2) : "";
    std::vector<const std::string*> out;
    out.reserve(keys.size());
    t->findAll(keys, [&](const UserTable::Group* g) { out.push_back(g ? &g->value : &fallback); });
    putStrings(r, out);
    return FuncOk;
}

FUNC_ERROR hashRemove(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    UserTable* t = tableOf(a);
    int64_t erased = 0;
    if (t)
        for (std::string_view k : stringsOf(a, 1)) erased += t->remove(k);
    setInteger(r, int32_t(std::min<int64_t>(erased, INT32_MAX)));
    return FuncOk;
}

FUNC_ERROR hashKeys(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const UserTable* t = tableOf(a);
    if (!t) return FuncOk;
    std::vector<const std::string*> out;
    out.reserve(size_t(t->entries()));
    for (const auto& g : t->groups()) {
        if (!g.live) continue;
        out.push_back(&g.key);
        for (const auto& kv : g.more) out.push_back(&kv.first);
    }
    putStrings(r, out);
    return FuncOk;
}

FUNC_ERROR hashDelete(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    int32_t handle = 0;
    setBool(r, handleOf(a, 0, handle) && gTables.remove(handle));
    return FuncOk;
}

FUNC_ERROR hash(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setString(r, std::to_string(YString(stringOr(a, 0)).hashValue()));
    return FuncOk;
}

// Host events: temporary tables end with the command that made them, all
// tables with the host.
void deleteTemporaryUserHashTables(void*) {
    std::vector<int32_t> done;
    for (const auto& [handle, slot] : gTables)
        if (slot.temporary) done.push_back(handle);
    for (int32_t h : done) gTables.remove(h);
}

void deleteUserHashTables(void*) { gTables.clear(); }

const AutoFunc onPostCli("PostCli", deleteTemporaryUserHashTables, "deleteTemporaryUserHashTables");
const AutoFunc onExit("Exit", deleteUserHashTables, "deleteUserHashTables");

// clang-format off
FunctionRow registrations[] = {
    {"HashAdd",    {Real, String, String}, {}, 3, 3, handler<hashAdd>,    "", PyBool,       Plain},
    {"HashCreate", {String},               {}, 0, 1, handler<hashCreate>, "", PyInteger,    Plain},
    {"HashDelete", {Real},                 {}, 1, 1, handler<hashDelete>, "", PyBool,       Plain},
    {"HashKeys",   {Real},                 {}, 1, 1, handler<hashKeys>,   "", PyStringList, Plain},
    {"HashRemove", {Real, String},         {}, 2, 2, handler<hashRemove>, "", PyInteger,    Plain},
    {"HashSearch", {Real, String, String}, {}, 2, 3, handler<hashSearch>, "", PyStringList, Plain},
    {"Hash",       {String},               {}, 1, 1, handler<hash>,       "", PyString,     Plain},
};
// clang-format on

}  // namespace
