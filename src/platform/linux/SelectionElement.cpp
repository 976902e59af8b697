#include "platform/linux/SelectionElement.h"

namespace linuxdesktop {

using platform::AXError;

std::shared_ptr<platform::AXUIElement> SelectionElement::application(Reader read) {
    auto shared = read ? std::make_shared<const Reader>(std::move(read)) : nullptr;
    return std::make_shared<SelectionElement>(std::move(shared), false);
}

AXError SelectionElement::copyAttributeValue(std::string_view attribute, platform::AXValue& value) {
    if (!focused_) {
        if (attribute != platform::kAXFocusedUIElementAttribute) return AXError::AttributeUnsupported;
        if (!read_) return AXError::InvalidUIElement;
        value = std::shared_ptr<platform::AXUIElement>(std::make_shared<SelectionElement>(read_, true));
        return AXError::Success;
    }
    if (attribute != platform::kAXSelectedTextAttribute) return AXError::AttributeUnsupported;
    std::string text;
    const AXError error = (*read_)(text);
    if (error == AXError::Success) value = std::move(text);
    return error;
}

AXError SelectionElement::copyParameterizedAttributeValue(std::string_view, const platform::AXValue&,
                                                          platform::AXValue&) {
    return AXError::ParameterizedAttributeUnsupported;
}

}  // namespace linuxdesktop
