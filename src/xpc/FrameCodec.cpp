#include "xpc/FrameCodec.h"

#include <new>

#include "xpc/internal/MessagePackWriter.h"
#include "xpc/internal/ObjectBuilder.h"

namespace xpc {
namespace {

void setError(std::string* error, std::string text) {
    if (error != nullptr) *error = std::move(text);
}

}  // namespace

std::optional<std::vector<std::uint8_t>> FrameCodec::encode(const Object& message, std::string* error) {
    if (!message.isDictionary()) {
        setError(error, "only a dictionary can be sent, not " + message.description());
        return std::nullopt;
    }
    std::vector<std::uint8_t> frame(kHeaderSize, 0);
    std::string reason;
    if (!internal::MessagePackWriter(frame).write(message, kMaxDepth, kMaxElements, reason)) {
        setError(error, std::move(reason));
        return std::nullopt;
    }
    const std::size_t body = frame.size() - kHeaderSize;
    if (body > kMaxBodySize) {
        setError(error, "the message encodes to " + std::to_string(body) + " bytes, more than the limit of " +
                            std::to_string(kMaxBodySize));
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kHeaderSize; ++i) {
        frame[i] = static_cast<std::uint8_t>(body >> (8 * (kHeaderSize - 1 - i)));
    }
    return frame;
}

std::optional<Object> FrameCodec::decodeBody(std::span<const std::uint8_t> body, std::string* error) {
    if (body.empty()) {
        setError(error, "the frame is empty, not a MessagePack map");
        return std::nullopt;
    }
    internal::ObjectBuilder builder(kMaxDepth, kMaxElements);
    try {
        nlohmann::json::sax_parse(body.begin(), body.end(), &builder, nlohmann::json::input_format_t::msgpack,
                                  /*strict=*/true);
    } catch (const std::bad_alloc&) {
        setError(error, "out of memory while decoding a frame");
        return std::nullopt;
    } catch (const std::exception& ex) {
        // The builder reports errors itself; a throw here would be the reader's own fault. Never let it out.
        setError(error, std::string("malformed MessagePack: ") + ex.what());
        return std::nullopt;
    }
    auto message = builder.take();
    if (!message) setError(error, builder.error());
    return message;
}

std::uint32_t FrameCodec::bodyLength(const std::uint8_t* header) {
    return (std::uint32_t{header[0]} << 24) | (std::uint32_t{header[1]} << 16) |
           (std::uint32_t{header[2]} << 8) | std::uint32_t{header[3]};
}

}  // namespace xpc
