// The host's containers: thin wrappers over the standard library that keep the
// names the module's code was written against. Indices and counts are signed
// 64-bit so that a negative index coming from a script is caught, not wrapped.
#pragma once
#include <cstddef>
#include <deque>
#include <initializer_list>
#include <iterator>
#include <list>
#include <unordered_map>
#include <utility>
#include <vector>

#include "CorvantaException.h"
#include "YString.h"

// Ordered list with insertion at either end.
template <class T>
class YList {
public:
    using iterator = typename std::deque<T>::iterator;
    using const_iterator = typename std::deque<T>::const_iterator;

    void insertAtFront(T v) { items_.push_front(std::move(v)); }
    void insertAtBack(T v) { items_.push_back(std::move(v)); }
    void prepend(T v) { insertAtFront(std::move(v)); }
    void append(T v) { insertAtBack(std::move(v)); }

    long long count() const noexcept { return static_cast<long long>(items_.size()); }
    size_t size() const noexcept { return items_.size(); }
    bool empty() const noexcept { return items_.empty(); }

    // first() and last() of an empty list are undefined, as for std::deque.
    T& first() { return items_.front(); }
    const T& first() const { return items_.front(); }
    T& last() { return items_.back(); }
    const T& last() const { return items_.back(); }
    // Removing from an empty list does nothing.
    void removeFirst() { if (!items_.empty()) items_.pop_front(); }
    void removeLast() { if (!items_.empty()) items_.pop_back(); }
    void clear() noexcept { items_.clear(); }

    iterator begin() noexcept { return items_.begin(); }
    iterator end() noexcept { return items_.end(); }
    const_iterator begin() const noexcept { return items_.begin(); }
    const_iterator end() const noexcept { return items_.end(); }

private:
    std::deque<T> items_;
};

// Indexed, growable vector. Writing through operator[] past the end grows the
// vector (new elements value-initialised); reading through at() never grows.
template <class T>
class YVector {
public:
    using iterator = typename std::vector<T>::iterator;
    using const_iterator = typename std::vector<T>::const_iterator;

    YVector() = default;
    YVector(std::initializer_list<T> init) : items_(init) {}

    T& operator[](long long i) {
        checkNotNegative(i);
        if (static_cast<unsigned long long>(i) >= items_.size()) items_.resize(static_cast<size_t>(i) + 1);
        return items_[static_cast<size_t>(i)];
    }
    const T& operator[](long long i) const { return at(i); }
    const T& at(long long i) const {
        checkNotNegative(i);
        if (static_cast<unsigned long long>(i) >= items_.size()) throw CorvantaException("YVector index out of range");
        return items_[static_cast<size_t>(i)];
    }
    T& at(long long i) { return const_cast<T&>(std::as_const(*this).at(i)); }

    // Appends and returns the new element's index.
    long long add(T v) { items_.push_back(std::move(v)); return count() - 1; }
    long long count() const noexcept { return static_cast<long long>(items_.size()); }
    size_t size() const noexcept { return items_.size(); }
    bool empty() const noexcept { return items_.empty(); }
    void clear() noexcept { items_.clear(); }
    void reserve(size_t n) { items_.reserve(n); }
    void resize(size_t n) { items_.resize(n); }
    T* data() noexcept { return items_.data(); }
    const T* data() const noexcept { return items_.data(); }

    iterator begin() noexcept { return items_.begin(); }
    iterator end() noexcept { return items_.end(); }
    const_iterator begin() const noexcept { return items_.begin(); }
    const_iterator end() const noexcept { return items_.end(); }

private:
    static void checkNotNegative(long long i) {
        if (i < 0) throw CorvantaException("YVector index negative");
    }
    std::vector<T> items_;
};

// The host has both names for the same indexed container; a distinct class
// (not an alias) so that either can be forward-declared.
template <class T>
class YArray : public YVector<T> {
public:
    using YVector<T>::YVector;
};

// Hash table keyed by YString (hashValue, or hashValueNoCase for a table made
// with ignoreCase). Adding an existing key replaces its value in place; the
// entries iterate, and keys() lists them, in the order of first insertion.
template <class V>
class YHashTable {
public:
    using Entry = std::pair<YString, V>;
    using const_iterator = typename std::list<Entry>::const_iterator;

    explicit YHashTable(bool ignoreCase = false, size_t buckets = 101)
        : index_(buckets, KeyHash{ignoreCase}, KeyEqual{ignoreCase}) {}
    // The index refers into entries_: copying would need it rebuilt, so the
    // table is move-only.
    YHashTable(const YHashTable&) = delete;
    YHashTable& operator=(const YHashTable&) = delete;
    YHashTable(YHashTable&&) = default;
    YHashTable& operator=(YHashTable&&) = default;

    // Returns the stored value.
    V& add(const YString& key, V value) {
        if (auto it = index_.find(key); it != index_.end()) return it->second->second = std::move(value);
        entries_.emplace_back(key, std::move(value));
        index_.emplace(key, std::prev(entries_.end()));
        return entries_.back().second;
    }
    V& insert(const YString& key, V value) { return add(key, std::move(value)); }

    V* find(const YString& key) {
        auto it = index_.find(key);
        return it == index_.end() ? nullptr : &it->second->second;
    }
    const V* find(const YString& key) const { return const_cast<YHashTable*>(this)->find(key); }
    bool contains(const YString& key) const { return index_.count(key) != 0; }

    bool remove(const YString& key) {
        auto it = index_.find(key);
        if (it == index_.end()) return false;
        entries_.erase(it->second);
        index_.erase(it);
        return true;
    }
    void clear() noexcept { index_.clear(); entries_.clear(); }

    long long count() const noexcept { return static_cast<long long>(entries_.size()); }
    bool empty() const noexcept { return entries_.empty(); }
    bool ignoresCase() const noexcept { return index_.hash_function().ignoreCase; }

    YVector<YString> keys() const {
        YVector<YString> out;
        out.reserve(entries_.size());
        for (const Entry& e : entries_) out.add(e.first);
        return out;
    }
    const_iterator begin() const noexcept { return entries_.begin(); }
    const_iterator end() const noexcept { return entries_.end(); }

private:
    struct KeyHash {
        bool ignoreCase;
        size_t operator()(const YString& k) const noexcept { return ignoreCase ? k.hashValueNoCase() : k.hashValue(); }
    };
    struct KeyEqual {
        bool ignoreCase;
        bool operator()(const YString& a, const YString& b) const noexcept {
            return ignoreCase ? a.compareNoCase(b.view()) == 0 : a == b;
        }
    };
    std::list<Entry> entries_;
    std::unordered_map<YString, typename std::list<Entry>::iterator, KeyHash, KeyEqual> index_;
};
