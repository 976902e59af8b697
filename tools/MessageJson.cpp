#include "MessageJson.h"

#include <limits>

namespace tandrelctl {

using nlohmann::json;
using xpc::Object;

std::optional<Object> MessageJson::toMessage(const json& value, std::string& error) {
    if (!value.is_object()) {
        error = "the message must be a JSON object, not " + std::string(value.type_name());
        return std::nullopt;
    }
    return fromJson(value);
}

Object MessageJson::fromJson(const json& value) {
    switch (value.type()) {
        case json::value_t::object: {
            Object result = Object::dictionary();
            for (const auto& [key, item] : value.items()) result.set(key, fromJson(item));
            return result;
        }
        case json::value_t::array: {
            Object result = Object::array();
            for (const auto& item : value) result.append(fromJson(item));
            return result;
        }
        case json::value_t::string:
            return Object::string(value.get<std::string>());
        case json::value_t::boolean:
            return Object::boolean(value.get<bool>());
        case json::value_t::number_integer:
            return Object::int64(value.get<std::int64_t>());
        case json::value_t::number_unsigned: {
            const auto number = value.get<std::uint64_t>();
            if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                return Object::int64(static_cast<std::int64_t>(number));
            }
            return Object::uint64(number);
        }
        case json::value_t::number_float:
            return Object::real(value.get<double>());
        case json::value_t::binary:
            return Object::data(value.get_binary());
        case json::value_t::null:
        case json::value_t::discarded:
            break;
    }
    return Object::null();
}

json MessageJson::toJson(const Object& value) {
    switch (value.type()) {
        case Object::Type::Null:
            return nullptr;
        case Object::Type::Bool:
            return *value.asBool();
        case Object::Type::Int64:
            return *value.asInt64();
        case Object::Type::Uint64:
            return *value.asUint64();
        case Object::Type::Double:
            return *value.asDouble();
        case Object::Type::String:
            return *value.asString();
        case Object::Type::Data:
            return std::string(value.asData()->begin(), value.asData()->end());
        case Object::Type::Array: {
            json result = json::array();
            for (const auto& item : *value.asArray()) result.push_back(toJson(item));
            return result;
        }
        case Object::Type::Dictionary: {
            json result = json::object();
            for (const auto& [key, item] : *value.asDictionary()) result[key] = toJson(item);
            return result;
        }
        case Object::Type::Error:
            return json{{"error", std::string(xpc::errorDescription(*value.errorCode()))}};
    }
    return nullptr;
}

std::string MessageJson::line(const Object& message) {
    if (const auto* data = message.getData("data")) {
        json content = json::parse(data->begin(), data->end(), nullptr, /*allow_exceptions=*/false);
        if (!content.is_discarded()) return content.dump(-1, ' ', false, json::error_handler_t::replace);
    }
    return toJson(message).dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace tandrelctl
