#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "xpc/Object.h"

namespace xpc {

// Splits a byte stream into frames and decodes them (see FrameCodec for the format).
//
// The owner appends bytes as they arrive and calls `next` until it answers NeedMore. A length above the
// frame limit is refused as soon as the header is complete, before any of the body is buffered, so the buffer
// holds at most one unfinished frame (8 MiB at most) plus the bytes last appended. Errors are final: once
// `next` has answered Error it keeps answering Error with the same reason. Never throws. Not thread-safe; one
// owner.
class FrameDecoder {
  public:
    enum class Status { Message, NeedMore, Error };

    void append(const std::uint8_t* bytes, std::size_t size);
    // Message: `message` holds the next message. Error: `error()` says why the stream cannot go on.
    Status next(Object& message);
    // Called when the stream has ended: an error text when part of a frame is still buffered.
    std::optional<std::string> finish() const;
    const std::string& error() const { return error_; }
    std::size_t bufferedBytes() const { return buffer_.size() - offset_; }

  private:
    static constexpr std::size_t kKeptCapacity = 256 * 1024;
    void compact();

    std::vector<std::uint8_t> buffer_;
    std::size_t offset_ = 0;  // start of the first unread byte in buffer_
    std::string error_;
};

}  // namespace xpc
