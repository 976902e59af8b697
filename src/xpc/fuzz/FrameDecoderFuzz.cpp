// libFuzzer entry point for the frame decoder: arbitrary bytes, split into chunks of a size taken from the
// first byte so that frame boundaries fall anywhere. Every message that decodes must encode again, and that
// encoding must decode to the same encoding (bytes rather than values are compared: NaN != NaN).

#include <cstddef>
#include <cstdint>
#include <span>

#include "xpc/FrameCodec.h"
#include "xpc/FrameDecoder.h"

namespace {

void checkRoundTrip(const xpc::Object& message) {
    auto frame = xpc::FrameCodec::encode(message);
    // Re-encoding may legitimately grow past the limit (float32 values come back as doubles).
    if (!frame) return;
    auto body = std::span<const std::uint8_t>(*frame).subspan(xpc::FrameCodec::kHeaderSize);
    auto decoded = xpc::FrameCodec::decodeBody(body);
    if (!decoded) __builtin_trap();
    auto again = xpc::FrameCodec::encode(*decoded);
    if (!again || *again != *frame) __builtin_trap();
    (void)message.description();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t chunk = std::size_t{data[0]} * 16 + 1;
    ++data;
    --size;
    xpc::FrameDecoder decoder;
    xpc::Object message;
    for (std::size_t offset = 0; offset < size;) {
        const std::size_t length = std::min(chunk, size - offset);
        decoder.append(data + offset, length);
        offset += length;
        auto status = xpc::FrameDecoder::Status::Message;
        while ((status = decoder.next(message)) == xpc::FrameDecoder::Status::Message)
            checkRoundTrip(message);
        if (status == xpc::FrameDecoder::Status::Error) return 0;
    }
    (void)decoder.finish();
    return 0;
}
