#include "xpc/internal/MessagePackWriter.h"

#include <bit>
#include <cstring>

namespace xpc::internal {

bool MessagePackWriter::write(const Object& value, std::size_t maxDepth, std::size_t maxElements,
                              std::string& error) {
    elementsLeft_ = maxElements;
    if (writeValue(value, 0, maxDepth, error)) return true;
    if (elementsLeft_ == 0 && error.empty()) {
        error = "the message holds more than " + std::to_string(maxElements) + " values";
    }
    return false;
}

bool MessagePackWriter::writeValue(const Object& value, std::size_t depth, std::size_t maxDepth,
                                   std::string& error) {
    // The receiver refuses more values than that (the same limit): fail here rather than lose the link.
    if (elementsLeft_ == 0) return false;
    --elementsLeft_;
    switch (value.type()) {
        case Object::Type::Null:
            put(0xc0);
            return true;
        case Object::Type::Bool:
            put(*value.asBool() ? 0xc3 : 0xc2);
            return true;
        case Object::Type::Int64:
            writeSigned(*value.asInt64());
            return true;
        case Object::Type::Uint64:
            writeUnsigned(*value.asUint64());
            return true;
        case Object::Type::Double:
            put(0xcb);
            putBigEndian(std::bit_cast<std::uint64_t>(*value.asDouble()), 8);
            return true;
        case Object::Type::String:
            writeString(*value.asString());
            return true;
        case Object::Type::Data:
            writeBinary(*value.asData());
            return true;
        case Object::Type::Error:
            error = "an error object cannot be sent";
            return false;
        case Object::Type::Array:
        case Object::Type::Dictionary:
            break;
    }
    if (depth >= maxDepth) {
        error = "the message nests deeper than " + std::to_string(maxDepth) + " levels";
        return false;
    }
    if (const auto* items = value.asArray()) {
        writeLengthHeader(items->size(), 0x90, 15, 0xdc, 0xdd);
        for (const Object& item : *items) {
            if (!writeValue(item, depth + 1, maxDepth, error)) return false;
        }
        return true;
    }
    const auto& entries = *value.asDictionary();
    writeLengthHeader(entries.size(), 0x80, 15, 0xde, 0xdf);
    for (const auto& [key, item] : entries) {
        writeString(key);
        if (!writeValue(item, depth + 1, maxDepth, error)) return false;
    }
    return true;
}

// Signed values always use a signed encoding so that the reader sees an int64 again; positive fixint would
// read back as unsigned.
void MessagePackWriter::writeSigned(std::int64_t value) {
    if (value >= -32 && value < 0) {
        put(static_cast<std::uint8_t>(value));
    } else if (value >= INT8_MIN && value <= INT8_MAX) {
        put(0xd0);
        putBigEndian(static_cast<std::uint8_t>(value), 1);
    } else if (value >= INT16_MIN && value <= INT16_MAX) {
        put(0xd1);
        putBigEndian(static_cast<std::uint16_t>(value), 2);
    } else if (value >= INT32_MIN && value <= INT32_MAX) {
        put(0xd2);
        putBigEndian(static_cast<std::uint32_t>(value), 4);
    } else {
        put(0xd3);
        putBigEndian(static_cast<std::uint64_t>(value), 8);
    }
}

void MessagePackWriter::writeUnsigned(std::uint64_t value) {
    if (value <= 0x7f) {
        put(static_cast<std::uint8_t>(value));
    } else if (value <= UINT8_MAX) {
        put(0xcc);
        putBigEndian(value, 1);
    } else if (value <= UINT16_MAX) {
        put(0xcd);
        putBigEndian(value, 2);
    } else if (value <= UINT32_MAX) {
        put(0xce);
        putBigEndian(value, 4);
    } else {
        put(0xcf);
        putBigEndian(value, 8);
    }
}

void MessagePackWriter::writeString(const std::string& text) {
    if (text.size() <= 31) {
        put(static_cast<std::uint8_t>(0xa0 | text.size()));
    } else if (text.size() <= UINT8_MAX) {
        put(0xd9);
        putBigEndian(text.size(), 1);
    } else {
        writeLengthHeader(text.size(), 0, 0, 0xda, 0xdb);
    }
    out_.insert(out_.end(), text.begin(), text.end());
}

void MessagePackWriter::writeBinary(const Object::Bytes& bytes) {
    if (bytes.size() <= UINT8_MAX) {
        put(0xc4);
        putBigEndian(bytes.size(), 1);
    } else if (bytes.size() <= UINT16_MAX) {
        put(0xc5);
        putBigEndian(bytes.size(), 2);
    } else {
        put(0xc6);
        putBigEndian(bytes.size(), 4);
    }
    out_.insert(out_.end(), bytes.begin(), bytes.end());
}

// Sizes above 32 bits cannot be written; the caller's size limit (8 MiB per frame) keeps them away.
void MessagePackWriter::writeLengthHeader(std::size_t length, std::uint8_t fixBase, std::size_t fixLimit,
                                          std::uint8_t code16, std::uint8_t code32) {
    if (fixLimit > 0 && length <= fixLimit) {
        put(static_cast<std::uint8_t>(fixBase | length));
    } else if (length <= UINT16_MAX) {
        put(code16);
        putBigEndian(length, 2);
    } else {
        put(code32);
        putBigEndian(length, 4);
    }
}

void MessagePackWriter::putBigEndian(std::uint64_t value, int bytes) {
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) put(static_cast<std::uint8_t>(value >> shift));
}

}  // namespace xpc::internal
