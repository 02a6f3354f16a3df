#pragma once

#include <cstddef>

// Counts what the program asks of operator new while a probe is alive, so a
// test can show that hostile input is refused before anything large is made.
// The replacement operators live in AllocationProbe.cpp.
class AllocationProbe {
public:
    AllocationProbe();
    ~AllocationProbe();
    AllocationProbe(const AllocationProbe&) = delete;
    AllocationProbe& operator=(const AllocationProbe&) = delete;

    // The largest single request, and the most bytes live at once, since the
    // probe started (allocations made before it are not counted).
    std::size_t largest() const;
    std::size_t peak() const;
};
