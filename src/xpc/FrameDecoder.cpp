#include "xpc/FrameDecoder.h"

#include <algorithm>
#include <span>

#include "xpc/FrameCodec.h"

namespace xpc {

void FrameDecoder::append(const std::uint8_t* bytes, std::size_t size) {
    if (!error_.empty() || size == 0) return;
    compact();
    // Room for exactly the announced frame: growing by doubling would hold up to twice a large frame.
    if (buffer_.size() >= FrameCodec::kHeaderSize) {
        const std::size_t length = FrameCodec::bodyLength(buffer_.data());
        if (length <= FrameCodec::kMaxBodySize) {
            buffer_.reserve(std::max(buffer_.size() + size, FrameCodec::kHeaderSize + length));
        }
    }
    buffer_.insert(buffer_.end(), bytes, bytes + size);
}

FrameDecoder::Status FrameDecoder::next(Object& message) {
    if (!error_.empty()) return Status::Error;
    const std::size_t available = bufferedBytes();
    if (available < FrameCodec::kHeaderSize) return Status::NeedMore;
    const std::uint32_t length = FrameCodec::bodyLength(buffer_.data() + offset_);
    if (length > FrameCodec::kMaxBodySize) {
        error_ = "frame of " + std::to_string(length) + " bytes exceeds the limit of " +
                 std::to_string(FrameCodec::kMaxBodySize) + " bytes";
        return Status::Error;
    }
    if (available - FrameCodec::kHeaderSize < length) return Status::NeedMore;
    std::span<const std::uint8_t> body(buffer_.data() + offset_ + FrameCodec::kHeaderSize, length);
    offset_ += FrameCodec::kHeaderSize + length;
    std::string reason;
    auto decoded = FrameCodec::decodeBody(body, &reason);
    if (offset_ == buffer_.size()) compact();  // all consumed: an idle connection holds no large buffer
    if (!decoded) {
        error_ = "bad frame of " + std::to_string(length) + " bytes: " + reason;
        return Status::Error;
    }
    message = std::move(*decoded);
    return Status::Message;
}

std::optional<std::string> FrameDecoder::finish() const {
    const std::size_t available = bufferedBytes();
    if (!error_.empty() || available == 0) return std::nullopt;
    if (available < FrameCodec::kHeaderSize) {
        return "truncated frame: the stream ended after " + std::to_string(available) + " of " +
               std::to_string(FrameCodec::kHeaderSize) + " header bytes";
    }
    const std::uint32_t length = FrameCodec::bodyLength(buffer_.data() + offset_);
    return "truncated frame: the stream ended after " + std::to_string(available - FrameCodec::kHeaderSize) +
           " of " + std::to_string(length) + " body bytes";
}

// Drops consumed bytes before growing, so the buffer stays bounded by one frame.
void FrameDecoder::compact() {
    if (offset_ == 0) return;
    if (offset_ == buffer_.size()) {
        // A large frame's room is given back once it is decoded; small buffers are kept for reuse.
        if (buffer_.capacity() > kKeptCapacity) {
            buffer_ = {};
        } else {
            buffer_.clear();
        }
    } else {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(offset_));
    }
    offset_ = 0;
}

}  // namespace xpc
