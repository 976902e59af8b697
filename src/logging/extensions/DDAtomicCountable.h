#pragma once

#include <cstdint>

// A thread-safe signed 32-bit counter. `increment` and `decrement` return the value after the change; a
// counter at the largest value wraps to the smallest on `increment` (and back on `decrement`).
//
// Any thread may call every operation at any time; implementations are lock-free and fully ordered.
class DDAtomicCountable {
  public:
    virtual ~DDAtomicCountable() = default;

    virtual std::int32_t increment() = 0;
    virtual std::int32_t decrement() = 0;
    virtual std::int32_t value() const = 0;
};
