// libFuzzer entry point for the frame decoder: arbitrary bytes, split into chunks of a size taken from the
// first byte so that frame boundaries fall anywhere. Every message that decodes must encode again, and that
// encoding must decode to the same encoding (bytes rather than values are compared: NaN != NaN).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "xpc/FrameCodec.h"
#include "xpc/FrameDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t chunk = std::size_t{data[0]} * 16 + 1;
    xpc::FrameDecoder decoder;
    xpc::Object message;
    auto status = xpc::FrameDecoder::Status::NeedMore;
    for (std::size_t at = 1; at < size && status != xpc::FrameDecoder::Status::Error; at += chunk) {
        decoder.append(data + at, std::min(chunk, size - at));
        while ((status = decoder.next(message)) == xpc::FrameDecoder::Status::Message) {
            (void)message.description();
            auto frame = xpc::FrameCodec::encode(message);
            // Re-encoding may legitimately grow past the limit (float32 values come back as doubles).
            if (!frame) continue;
            auto decoded =
                xpc::FrameCodec::decodeBody(std::span(*frame).subspan(xpc::FrameCodec::kHeaderSize));
            if (!decoded) __builtin_trap();
            auto again = xpc::FrameCodec::encode(*decoded);
            if (!again || *again != *frame) __builtin_trap();
        }
    }
    (void)decoder.finish();
    return 0;
}
