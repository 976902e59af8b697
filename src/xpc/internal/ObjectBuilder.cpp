#include "xpc/internal/ObjectBuilder.h"

namespace xpc::internal {

std::optional<Object> ObjectBuilder::take() {
    if (!error_.empty()) return std::nullopt;
    if (!result_) {
        error_ = "the frame holds no complete MessagePack map";
        return std::nullopt;
    }
    return std::move(result_);
}

bool ObjectBuilder::null() {
    return add(Object::null());
}
bool ObjectBuilder::boolean(bool value) {
    return add(Object::boolean(value));
}
bool ObjectBuilder::number_integer(json::number_integer_t value) {
    return add(Object::int64(value));
}
bool ObjectBuilder::number_unsigned(json::number_unsigned_t value) {
    return add(Object::uint64(value));
}
bool ObjectBuilder::number_float(json::number_float_t value, const json::string_t&) {
    return add(Object::real(value));
}
bool ObjectBuilder::string(json::string_t& value) {
    return add(Object::string(std::move(value)));
}

bool ObjectBuilder::binary(json::binary_t& value) {
    if (value.has_subtype()) {
        return fail("MessagePack extension type " + std::to_string(value.subtype()) + " is not supported");
    }
    return add(Object::data(std::move(static_cast<Object::Bytes&>(value))));
}

bool ObjectBuilder::start_object(std::size_t) {
    return open(Object::dictionary());
}
bool ObjectBuilder::start_array(std::size_t) {
    return open(Object::array());
}
bool ObjectBuilder::end_object() {
    return close();
}
bool ObjectBuilder::end_array() {
    return close();
}

bool ObjectBuilder::key(json::string_t& value) {
    keys_.back() = std::move(value);
    return true;
}

bool ObjectBuilder::parse_error(std::size_t position, const std::string&,
                                const nlohmann::detail::exception& ex) {
    // The reader's text names the format and what it expected; keep it, it is the useful part.
    std::string what = ex.what();
    if (auto colon = what.find(": "); what.rfind("[json.exception", 0) == 0 && colon != std::string::npos) {
        what.erase(0, colon + 2);
    }
    return fail("malformed MessagePack at byte " + std::to_string(position) + ": " + what);
}

bool ObjectBuilder::count() {
    if (++elements_ <= maxElements_) return true;
    return fail("the message holds more than " + std::to_string(maxElements_) + " values");
}

bool ObjectBuilder::add(Object value) {
    if (stack_.empty()) return fail("the frame is not a MessagePack map");
    return count() && place(std::move(value));
}

bool ObjectBuilder::place(Object value) {
    Object& container = stack_.back();
    if (container.isDictionary()) {
        container.set(std::move(keys_.back()), std::move(value));
    } else {
        container.append(std::move(value));
    }
    return true;
}

bool ObjectBuilder::open(Object container) {
    if (stack_.empty() && (result_ || !container.isDictionary()))
        return fail("the frame is not a MessagePack map");
    if (stack_.size() >= maxDepth_) {
        return fail("the message nests deeper than " + std::to_string(maxDepth_) + " levels");
    }
    if (!count()) return false;
    stack_.push_back(std::move(container));
    keys_.emplace_back();
    return true;
}

bool ObjectBuilder::close() {
    Object done = std::move(stack_.back());
    stack_.pop_back();
    keys_.pop_back();
    if (stack_.empty()) {
        result_ = std::move(done);
        return true;
    }
    return place(std::move(done));  // counted when it was opened
}

bool ObjectBuilder::fail(std::string reason) {
    if (error_.empty()) error_ = std::move(reason);
    return false;
}

}  // namespace xpc::internal
