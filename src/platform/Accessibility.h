#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "platform/Workspace.h"

namespace platform {

// Error codes of accessibility reads; zero is success, everything else means "no value".
enum class AXError : std::int32_t {
    Success = 0,
    Failure = -25200,
    IllegalArgument = -25201,
    InvalidUIElement = -25202,
    CannotComplete = -25204,
    AttributeUnsupported = -25205,
    NotImplemented = -25208,
    APIDisabled = -25211,
    NoValue = -25212,
    ParameterizedAttributeUnsupported = -25213,
};

inline constexpr std::string_view kAXFocusedUIElementAttribute = "AXFocusedUIElement";
inline constexpr std::string_view kAXSelectedTextAttribute = "AXSelectedText";
inline constexpr std::string_view kAXSelectedTextMarkerRangeAttribute = "AXSelectedTextMarkerRange";
inline constexpr std::string_view kAXStringForTextMarkerRangeParameterizedAttribute =
    "AXStringForTextMarkerRange";

class AXUIElement;

// An opaque range of text positions inside one element; only the element that gave it understands it.
struct AXTextMarkerRange {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    bool operator==(const AXTextMarkerRange&) const = default;
};

// The value of an attribute: nothing, a text, an element or a marker range.
using AXValue = std::variant<std::monostate, std::string, std::shared_ptr<AXUIElement>, AXTextMarkerRange>;

// One user-interface element of another application (an application, a text field, ...). Reads ask that
// application and may block until it answers: call them on the main thread only, and never while holding
// anything another thread needs. An element stays valid after the application lost focus; reads then fail.
class AXUIElement {
  public:
    virtual ~AXUIElement() = default;
    // On success `value` holds the attribute's value; otherwise it is left as it was.
    virtual AXError copyAttributeValue(std::string_view attribute, AXValue& value) = 0;
    virtual AXError copyParameterizedAttributeValue(std::string_view attribute, const AXValue& parameter,
                                                    AXValue& value) = 0;
};

// The process's accessibility access. Main thread only.
class Accessibility {
  public:
    virtual ~Accessibility() = default;
    // Whether this process may observe input and read other applications. With `prompt` the platform may ask
    // the user to grant it (or say what is missing); the call returns at once with the current state.
    virtual bool isProcessTrustedWithOptions(bool prompt) = 0;
    // The element for a running application. Never null; reads on it fail when the application is gone.
    virtual std::shared_ptr<AXUIElement> createApplication(const RunningApplication& application) = 0;
};

}  // namespace platform
