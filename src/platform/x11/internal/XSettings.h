#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/x11/internal/Connection.h"

namespace x11::internal {

// The integer settings published by the desktop's settings manager (the _XSETTINGS_SETTINGS property of the
// owner of _XSETTINGS_S<screen>), such as "Net/DoubleClickTime". Empty when no manager runs.
class XSettings {
  public:
    // Parses the property's bytes; malformed data gives what was read before the fault.
    static std::map<std::string, int32_t> parseIntegers(std::string_view bytes);
    // Reads the current settings of the default screen. Blocking round trips on `connection`.
    static std::map<std::string, int32_t> readIntegers(Connection& connection);
};

}  // namespace x11::internal
