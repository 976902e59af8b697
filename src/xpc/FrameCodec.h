#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "xpc/Object.h"

namespace xpc {

// The wire format of one message: a 4-byte big-endian body length, then the body, one MessagePack map with
// string keys. Integers keep their signedness (int64 values use the signed encodings, uint64 the unsigned
// ones), strings travel as `str`, byte strings as `bin`, doubles as float64. Error objects never travel.
//
// Stateless and thread-safe. Neither function throws: bad input yields an empty result and a reason.
class FrameCodec {
  public:
    static constexpr std::size_t kHeaderSize = 4;
    static constexpr std::size_t kMaxBodySize = 8 * 1024 * 1024;
    // Deeper structures are refused so that decoding cannot exhaust the stack.
    static constexpr std::size_t kMaxDepth = 64;
    // More values are refused as soon as they appear, so that a decoded frame takes at most a few times the
    // largest frame's size (about 100 bytes per value).
    static constexpr std::size_t kMaxElements = 65536;

    // The whole frame, header included. Empty when `message` is not a dictionary, holds an error object,
    // nests too deeply, holds more than kMaxElements values or encodes to more than kMaxBodySize bytes;
    // `error` then says why.
    static std::optional<std::vector<std::uint8_t>> encode(const Object& message,
                                                           std::string* error = nullptr);

    // Decodes one frame body (without its header). Empty when the bytes are not exactly one MessagePack map
    // with string keys; `error` then says why.
    static std::optional<Object> decodeBody(std::span<const std::uint8_t> body, std::string* error = nullptr);

    // The body length announced by a 4-byte header.
    static std::uint32_t bodyLength(const std::uint8_t* header);
};

}  // namespace xpc
