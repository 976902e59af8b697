#include "xpc/Object.h"

#include <cstdio>

namespace xpc {
namespace {

constexpr std::size_t kDataBytesShown = 32;
// Descriptions end up in log lines: a long text is shown by its length and its beginning, and a large
// container by its count and as many entries as fit in about this many bytes.
constexpr std::size_t kStringBytesShown = 4096;
constexpr std::size_t kDescriptionBytes = 16384;

// The beginning of `text`, at most `limit` bytes, not cutting a UTF-8 sequence.
std::string_view head(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80) --cut;
    return text.substr(0, cut);
}

void appendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

void describeString(std::string& out, std::string_view text) {
    out += "<string: { length = " + std::to_string(text.size()) + ", contents = ";
    const std::string_view shown = head(text, kStringBytesShown);
    appendQuoted(out, shown);
    if (shown.size() < text.size()) out += "...";
    out += " }>";
}

void describeData(std::string& out, const Object::Bytes& bytes) {
    out += "<data: { length = " + std::to_string(bytes.size()) + " bytes, contents = 0x";
    char hex[3];
    for (std::size_t i = 0; i < bytes.size() && i < kDataBytesShown; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
        out += hex;
    }
    if (bytes.size() > kDataBytesShown) out += "...";
    out += " }>";
}

}  // namespace

std::string abbreviatedText(std::string_view text) {
    const std::string_view shown = head(text, kStringBytesShown);
    if (shown.size() == text.size()) return std::string(text);
    return std::string(shown) + "... (" + std::to_string(text.size()) + " bytes)";
}

std::string_view errorDescription(ErrorCode code) {
    switch (code) {
        case ErrorCode::ConnectionInvalid:
            return "Connection invalid";
        case ErrorCode::ConnectionInterrupted:
            return "Connection interrupted";
        case ErrorCode::TerminationImminent:
            return "Termination imminent";
    }
    return "Unknown error";
}

Object Object::boolean(bool value) {
    return Object(std::in_place_type<bool>, value);
}
Object Object::int64(std::int64_t value) {
    return Object(std::in_place_type<std::int64_t>, value);
}
Object Object::uint64(std::uint64_t value) {
    return Object(std::in_place_type<std::uint64_t>, value);
}
Object Object::real(double value) {
    return Object(std::in_place_type<double>, value);
}
Object Object::string(std::string value) {
    return Object(std::in_place_type<std::string>, std::move(value));
}
Object Object::data(Bytes bytes) {
    return Object(std::in_place_type<Bytes>, std::move(bytes));
}
Object Object::data(std::string_view bytes) {
    return data(Bytes(bytes.begin(), bytes.end()));
}
Object Object::array(Array items) {
    return Object(std::in_place_type<Array>, std::move(items));
}
Object Object::dictionary(Dictionary entries) {
    return Object(std::in_place_type<Dictionary>, std::move(entries));
}
Object Object::error(ErrorCode code) {
    return Object(std::in_place_type<ErrorCode>, code);
}

Object::Type Object::type() const {
    return static_cast<Type>(value_.index());
}

bool Object::isError(ErrorCode code) const {
    const auto* held = std::get_if<ErrorCode>(&value_);
    return held != nullptr && *held == code;
}

template <typename T>
static std::optional<T> optionalOf(const T* held) {
    if (held == nullptr) return std::nullopt;
    return *held;
}

std::optional<bool> Object::asBool() const {
    return optionalOf(std::get_if<bool>(&value_));
}
std::optional<std::int64_t> Object::asInt64() const {
    return optionalOf(std::get_if<std::int64_t>(&value_));
}
std::optional<std::uint64_t> Object::asUint64() const {
    return optionalOf(std::get_if<std::uint64_t>(&value_));
}
std::optional<double> Object::asDouble() const {
    return optionalOf(std::get_if<double>(&value_));
}
const std::string* Object::asString() const {
    return std::get_if<std::string>(&value_);
}
const Object::Bytes* Object::asData() const {
    return std::get_if<Bytes>(&value_);
}
const Object::Array* Object::asArray() const {
    return std::get_if<Array>(&value_);
}
const Object::Dictionary* Object::asDictionary() const {
    return std::get_if<Dictionary>(&value_);
}
std::optional<ErrorCode> Object::errorCode() const {
    return optionalOf(std::get_if<ErrorCode>(&value_));
}

const Object* Object::get(std::string_view key) const {
    const Dictionary* entries = asDictionary();
    if (entries == nullptr) return nullptr;
    auto found = entries->find(key);
    return found == entries->end() ? nullptr : &found->second;
}

const std::string* Object::getString(std::string_view key) const {
    const Object* value = get(key);
    return value == nullptr ? nullptr : value->asString();
}

const Object::Bytes* Object::getData(std::string_view key) const {
    const Object* value = get(key);
    return value == nullptr ? nullptr : value->asData();
}

bool Object::set(std::string key, Object value) {
    if (std::holds_alternative<std::monostate>(value_)) value_.emplace<Dictionary>();
    auto* entries = std::get_if<Dictionary>(&value_);
    if (entries == nullptr) return false;
    (*entries)[std::move(key)] = std::move(value);
    return true;
}

bool Object::append(Object value) {
    if (std::holds_alternative<std::monostate>(value_)) value_.emplace<Array>();
    auto* items = std::get_if<Array>(&value_);
    if (items == nullptr) return false;
    items->push_back(std::move(value));
    return true;
}

std::string Object::description() const {
    std::string out;
    describe(out);
    return out;
}

void Object::describe(std::string& out) const {
    switch (type()) {
        case Type::Null:
            out += "<null>";
            break;
        case Type::Bool:
            out += *asBool() ? "<bool: true>" : "<bool: false>";
            break;
        case Type::Int64:
            out += "<int64: " + std::to_string(*asInt64()) + ">";
            break;
        case Type::Uint64:
            out += "<uint64: " + std::to_string(*asUint64()) + ">";
            break;
        case Type::Double: {
            char text[40];
            std::snprintf(text, sizeof text, "%.17g", *asDouble());
            out += std::string("<double: ") + text + ">";
            break;
        }
        case Type::String:
            describeString(out, *asString());
            break;
        case Type::Data:
            describeData(out, *asData());
            break;
        case Type::Array: {
            const Array& items = *asArray();
            out += "<array: { count = " + std::to_string(items.size()) + ", contents =";
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (out.size() >= kDescriptionBytes) {
                    out += ", ...";
                    break;
                }
                out += (i == 0 ? " " : ", ") + std::to_string(i) + ": ";
                items[i].describe(out);
            }
            out += " }>";
            break;
        }
        case Type::Dictionary: {
            const Dictionary& entries = *asDictionary();
            out += "<dictionary: { count = " + std::to_string(entries.size()) + ", contents =";
            bool first = true;
            for (const auto& [key, value] : entries) {
                if (out.size() >= kDescriptionBytes) {
                    out += ", ...";
                    break;
                }
                out += first ? " " : ", ";
                first = false;
                appendQuoted(out, head(key, kStringBytesShown));
                out += " => ";
                value.describe(out);
            }
            out += " }>";
            break;
        }
        case Type::Error:
            // Errors read like the platform's: a one-entry dictionary naming the error.
            out += "<error: { count = 1, contents = \"XPCErrorDescription\" => ";
            describeString(out, errorDescription(*errorCode()));
            out += " }>";
            break;
    }
}

}  // namespace xpc
