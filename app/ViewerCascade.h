#pragma once

// Where the next viewer window opens (x = y): 0, 16, ... 96, then 0 again, so
// that new viewers step down from the corner without hiding one another.
class ViewerCascade {
public:
    int next()
    {
        const int at = offset_;
        offset_ = offset_ + kStep > kLast ? 0 : offset_ + kStep;
        return at;
    }

private:
    static constexpr int kStep = 16;
    static constexpr int kLast = 100;
    int offset_ = 0;
};
