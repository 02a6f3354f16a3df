#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A picture of the user's that can be the figure: the file, and the name the
// panel's figure list shows for it. Both are bytes as given (any encoding).
struct UserPicture {
    std::string path;
    std::string name;
    bool operator==(const UserPicture& o) const { return path == o.path && name == o.name; }
};

// The user's pictures in the order they were added: one list, so that a path
// can never lose its name. The drop, the panel and the settings file all add
// and remove through it. Picture i is figure kBuiltInFigures + i.
class UserPictures {
public:
    using const_iterator = std::vector<UserPicture>::const_iterator;

    UserPictures() = default;
    UserPictures(const UserPictures&) = default;
    UserPictures& operator=(const UserPictures&) = default;
    // What is left behind is another list, with a revision of its own.
    UserPictures(UserPictures&& other) noexcept : items_(std::move(other.items_)), revision_(other.revision_)
    {
        other.items_.clear();
        other.touch();
    }
    UserPictures& operator=(UserPictures&& other) noexcept
    {
        items_ = std::move(other.items_);
        revision_ = other.revision_;
        other.items_.clear();
        other.touch();
        return *this;
    }

    // At the end of the list.
    void add(std::string path, std::string name)
    {
        items_.push_back({ std::move(path), std::move(name) });
        touch();
    }
    // Out-of-range positions are ignored (and the revision stays).
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

    int count() const { return static_cast<int>(items_.size()); }
    const UserPicture& at(int i) const { return items_.at(static_cast<std::size_t>(i)); }
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

    std::vector<UserPicture> items_;
    std::uint64_t revision_ = nextRevision();
};
