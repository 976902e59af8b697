#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "xpc/Object.h"

namespace xpc::internal {

// Builds an Object from the MessagePack reader's events (its SAX interface), keeping int64 and uint64
// apart and turning `bin` into byte strings. Refuses a top-level value that is not a map, extension types,
// nesting deeper than a limit (the reader recurses per level, so the limit is what keeps hostile input from
// exhausting the stack) and more values than a limit (one byte of input can be a whole empty container, which
// costs a hundred times more once built: the count is what bounds the memory a frame can take).
class ObjectBuilder {
  public:
    using json = nlohmann::json;

    ObjectBuilder(std::size_t maxDepth, std::size_t maxElements)
        : maxDepth_(maxDepth), maxElements_(maxElements) {}

    // The finished map, or empty (with `error()` set) after a failure.
    std::optional<Object> take();
    const std::string& error() const { return error_; }

    bool null();
    bool boolean(bool value);
    bool number_integer(json::number_integer_t value);
    bool number_unsigned(json::number_unsigned_t value);
    bool number_float(json::number_float_t value, const json::string_t& text);
    bool string(json::string_t& value);
    bool binary(json::binary_t& value);
    bool start_object(std::size_t elements);
    bool key(json::string_t& value);
    bool end_object();
    bool start_array(std::size_t elements);
    bool end_array();
    bool parse_error(std::size_t position, const std::string& token, const nlohmann::detail::exception& ex);

  private:
    bool add(Object value);
    bool place(Object value);  // into the innermost open container
    bool open(Object container);
    bool close();
    bool fail(std::string reason);
    bool count();

    const std::size_t maxDepth_;
    const std::size_t maxElements_;
    std::size_t elements_ = 0;       // values and containers seen so far
    std::vector<Object> stack_;      // open containers, outermost first
    std::vector<std::string> keys_;  // pending key per open dictionary level (unused for arrays)
    std::optional<Object> result_;
    std::string error_;
};

}  // namespace xpc::internal
