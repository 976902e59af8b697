#pragma once

#include <atomic>
#include <cstdint>

#include "logging/extensions/DDAtomicCountable.h"

// The counter offered beside the dispatch-queue formatter: one atomic 32-bit value changed by fetch-and-add
// with sequentially consistent ordering. Safe to share between threads without a lock.
class DDAtomicCounter : public DDAtomicCountable {
  public:
    explicit DDAtomicCounter(std::int32_t defaultValue) : value_(defaultValue) {}

    // The atomic operation wraps; the new value is worked out in unsigned arithmetic so that it wraps too.
    std::int32_t increment() override { return wrap(value_.fetch_add(1), 1u); }
    std::int32_t decrement() override { return wrap(value_.fetch_sub(1), ~0u); }
    std::int32_t value() const override { return value_.load(); }

  private:
    static std::int32_t wrap(std::int32_t before, std::uint32_t delta) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(before) + delta);
    }

    std::atomic<std::int32_t> value_;
};
