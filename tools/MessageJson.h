#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "xpc/Object.h"

namespace tandrelctl {

// Converts between the channel's message objects and JSON for the command line: messages built from a JSON
// object (`send`), and the one-line JSON printed for each answer or event.
class MessageJson {
  public:
    // A dictionary built from a JSON object: strings stay strings, integers become int64 (uint64 above the
    // int64 range), other numbers doubles. Empty, with `error` set, when `json` is not an object.
    static std::optional<xpc::Object> toMessage(const nlohmann::json& json, std::string& error);

    // One line of JSON for a received message: the JSON text carried in its "data" byte string, or, when it
    // has none that parses, the whole message (byte strings shown as text).
    static std::string line(const xpc::Object& message);

    static nlohmann::json toJson(const xpc::Object& value);
    static xpc::Object fromJson(const nlohmann::json& json);
};

}  // namespace tandrelctl
