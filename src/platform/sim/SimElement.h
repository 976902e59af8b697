#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Accessibility.h"

namespace platform::sim {

// A scripted accessibility element: each attribute answers with a programmed error code and value. An
// attribute never programmed answers AttributeUnsupported (ParameterizedAttributeUnsupported for
// parameterized ones); a defunct element (its application is gone) answers InvalidUIElement to everything.
//
// Every read is appended to a log shared by the elements of one desktop, so tests can check the order of
// reads. Single-threaded.
class SimElement : public AXUIElement {
  public:
    // One line per read: the attribute name, for parameterized reads followed by "(" parameter ")".
    using ReadLog = std::vector<std::string>;

    explicit SimElement(std::shared_ptr<ReadLog> log = nullptr, std::string name = "element")
        : log_(std::move(log)), name_(std::move(name)) {}

    AXError copyAttributeValue(std::string_view attribute, AXValue& value) override;
    AXError copyParameterizedAttributeValue(std::string_view attribute, const AXValue& parameter,
                                            AXValue& value) override;

    // Scripting.
    void setAttribute(std::string_view attribute, AXValue value);
    void setAttributeError(std::string_view attribute, AXError error);
    // The answer for a parameterized attribute, whatever the parameter; the parameters received are kept.
    void setParameterizedAttribute(std::string_view attribute, AXValue value);
    void setParameterizedAttributeError(std::string_view attribute, AXError error);
    void setDefunct(bool defunct) { defunct_ = defunct; }
    const std::vector<AXValue>& parametersReceived() const { return parameters_; }
    const std::string& name() const { return name_; }

  private:
    struct Answer {
        AXError error = AXError::Success;
        AXValue value;
    };
    void record(std::string line);

    std::shared_ptr<ReadLog> log_;
    std::string name_;
    bool defunct_ = false;
    std::map<std::string, Answer, std::less<>> attributes_;
    std::map<std::string, Answer, std::less<>> parameterized_;
    std::vector<AXValue> parameters_;
};

}  // namespace platform::sim
