#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Accessibility.h"

namespace linuxdesktop {

// An application's accessibility element as the Linux backends offer it: no element tree, only the focused
// element (this class one level down) and its "AXSelectedText", fetched by the backend's reader on every ask.
// Created by the backends' `createApplication`; main thread only, like every element. A read blocks as long
// as the backend's reader does (bounded there).
class SelectionElement : public platform::AXUIElement {
  public:
    // Fills `text` and answers Success, or answers why there is none.
    using Reader = std::function<platform::AXError(std::string& text)>;

    // The application's element; without a reader the application is gone and its focused element answers
    // InvalidUIElement.
    static std::shared_ptr<platform::AXUIElement> application(Reader read);
    // One level: the application (`focused` false) or its focused element. Use `application`.
    SelectionElement(std::shared_ptr<const Reader> read, bool focused)
        : read_(std::move(read)), focused_(focused) {}

    platform::AXError copyAttributeValue(std::string_view attribute, platform::AXValue& value) override;
    platform::AXError copyParameterizedAttributeValue(std::string_view attribute,
                                                      const platform::AXValue& parameter,
                                                      platform::AXValue& value) override;

  private:
    std::shared_ptr<const Reader> read_;
    bool focused_;
};

}  // namespace linuxdesktop
