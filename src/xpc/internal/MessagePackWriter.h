#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "xpc/Object.h"

namespace xpc::internal {

// Appends the MessagePack encoding of an object to a buffer. Hand-written rather than converting through a
// JSON value, because that conversion would turn non-negative int64 values into unsigned ones.
class MessagePackWriter {
  public:
    explicit MessagePackWriter(std::vector<std::uint8_t>& out) : out_(out) {}
    // False (with a reason) for error objects, structures deeper than `maxDepth` and more than `maxElements`
    // values (containers included).
    bool write(const Object& value, std::size_t maxDepth, std::size_t maxElements, std::string& error);

  private:
    bool writeValue(const Object& value, std::size_t depth, std::size_t maxDepth, std::string& error);
    void writeSigned(std::int64_t value);
    void writeUnsigned(std::uint64_t value);
    void writeString(const std::string& text);
    void writeBinary(const Object::Bytes& bytes);
    void writeLengthHeader(std::size_t length, std::uint8_t fixBase, std::size_t fixLimit,
                           std::uint8_t code16, std::uint8_t code32);
    void put(std::uint8_t byte) { out_.push_back(byte); }
    void putBigEndian(std::uint64_t value, int bytes);

    std::vector<std::uint8_t>& out_;
    std::size_t elementsLeft_ = 0;
};

}  // namespace xpc::internal
