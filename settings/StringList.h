#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Ordered list of strings: append at the tail, count, walk from the head,
// find by zero-based position, remove at a position.
class StringList {
public:
    using const_iterator = std::vector<std::string>::const_iterator;

    StringList() = default;
    StringList(const StringList&) = default;
    StringList& operator=(const StringList&) = default;
    // What is left behind is another list, with a revision of its own.
    StringList(StringList&& other) noexcept : items_(std::move(other.items_)), revision_(other.revision_)
    {
        other.items_.clear();
        other.touch();
    }
    StringList& operator=(StringList&& other) noexcept
    {
        items_ = std::move(other.items_);
        revision_ = other.revision_;
        other.items_.clear();
        other.touch();
        return *this;
    }

    void append(std::string s)
    {
        items_.push_back(std::move(s));
        touch();
    }
    int count() const { return static_cast<int>(items_.size()); }
    const std::string& at(int i) const { return items_.at(static_cast<std::size_t>(i)); }
    // Out-of-range positions are ignored: the caller's lists must stay in step.
    void removeAt(int i)
    {
        if (i >= 0 && i < count()) {
            items_.erase(items_.begin() + i);
            touch();
        }
    }
    void clear()
    {
        items_.clear();
        touch();
    }

    const_iterator begin() const { return items_.begin(); }
    const_iterator end() const { return items_.end(); }

    // A stamp that every change replaces with one never used before, so that
    // whoever keeps a copy of a long list can tell in O(1) whether it is
    // still the same; a copy of the list shares the stamp with its content.
    std::uint64_t revision() const { return revision_; }

private:
    static std::uint64_t nextRevision()
    {
        static std::atomic<std::uint64_t> counter { 0 };
        return ++counter;
    }
    void touch() { revision_ = nextRevision(); }

    std::vector<std::string> items_;
    std::uint64_t revision_ = nextRevision();
};
