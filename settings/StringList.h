#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Ordered list of strings: append at the tail, count, walk from the head,
// find by zero-based position, remove at a position.
class StringList {
public:
    using const_iterator = std::vector<std::string>::const_iterator;

    void append(std::string s) { items_.push_back(std::move(s)); }
    int count() const { return static_cast<int>(items_.size()); }
    const std::string& at(int i) const { return items_.at(static_cast<std::size_t>(i)); }
    // Out-of-range positions are ignored: the caller's lists must stay in step.
    void removeAt(int i)
    {
        if (i >= 0 && i < count())
            items_.erase(items_.begin() + i);
    }
    void clear() { items_.clear(); }

    const_iterator begin() const { return items_.begin(); }
    const_iterator end() const { return items_.end(); }

private:
    std::vector<std::string> items_;
};
