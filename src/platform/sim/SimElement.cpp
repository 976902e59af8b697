#include "platform/sim/SimElement.h"

namespace platform::sim {
namespace {

std::string describe(const AXValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return "\"" + *text + "\"";
    if (const auto* range = std::get_if<AXTextMarkerRange>(&value)) {
        return "range " + std::to_string(range->start) + "-" + std::to_string(range->end);
    }
    if (std::holds_alternative<std::shared_ptr<AXUIElement>>(value)) return "element";
    return "none";
}

}  // namespace

void SimElement::record(std::string line) {
    if (log_) log_->push_back(std::move(line));
}

AXError SimElement::copyAttributeValue(std::string_view attribute, AXValue& value) {
    record(std::string(attribute));
    if (defunct_) return AXError::InvalidUIElement;
    auto it = attributes_.find(attribute);
    if (it == attributes_.end()) return AXError::AttributeUnsupported;
    if (it->second.error == AXError::Success) value = it->second.value;
    return it->second.error;
}

AXError SimElement::copyParameterizedAttributeValue(std::string_view attribute, const AXValue& parameter,
                                                    AXValue& value) {
    record(std::string(attribute) + "(" + describe(parameter) + ")");
    if (defunct_) return AXError::InvalidUIElement;
    parameters_.push_back(parameter);
    auto it = parameterized_.find(attribute);
    if (it == parameterized_.end()) return AXError::ParameterizedAttributeUnsupported;
    if (it->second.error == AXError::Success) value = it->second.value;
    return it->second.error;
}

void SimElement::setAttribute(std::string_view attribute, AXValue value) {
    attributes_[std::string(attribute)] = Answer{AXError::Success, std::move(value)};
}

void SimElement::setAttributeError(std::string_view attribute, AXError error) {
    attributes_[std::string(attribute)] = Answer{error, {}};
}

void SimElement::setParameterizedAttribute(std::string_view attribute, AXValue value) {
    parameterized_[std::string(attribute)] = Answer{AXError::Success, std::move(value)};
}

void SimElement::setParameterizedAttributeError(std::string_view attribute, AXError error) {
    parameterized_[std::string(attribute)] = Answer{error, {}};
}

}  // namespace platform::sim
