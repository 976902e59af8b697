#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace xpc {

// The errors a connection delivers to its event handler instead of a message.
enum class ErrorCode {
    ConnectionInvalid,      // the connection is over: cancelled, the peer went away, or it sent bad data
    ConnectionInterrupted,  // client side: the service went away
    TerminationImminent,    // the service is about to exit
};

// One message value: null, boolean, signed and unsigned 64-bit integers, double, UTF-8 string, byte string
// ("data"), array, dictionary with string keys, or one of the three connection errors.
//
// A plain value type: copies are deep and independent, so an object can be handed to another queue without
// sharing. Not synchronised: one object must not be modified on one thread while read on another.
// `description()` gives a readable one-line text for log lines ("%@").
class Object {
  public:
    enum class Type { Null, Bool, Int64, Uint64, Double, String, Data, Array, Dictionary, Error };
    using Bytes = std::vector<std::uint8_t>;
    using Array = std::vector<Object>;
    using Dictionary = std::map<std::string, Object, std::less<>>;

    Object() = default;  // null
    static Object null() { return Object(); }
    static Object boolean(bool value);
    static Object int64(std::int64_t value);
    static Object uint64(std::uint64_t value);
    static Object real(double value);
    static Object string(std::string value);
    static Object data(Bytes bytes);
    static Object data(std::string_view bytes);
    static Object array(Array items = {});
    static Object dictionary(Dictionary entries = {});
    static Object error(ErrorCode code);

    Type type() const;
    bool isDictionary() const { return type() == Type::Dictionary; }
    bool isError() const { return type() == Type::Error; }
    bool isError(ErrorCode code) const;

    // Typed reads: empty or null when the object holds another type.
    std::optional<bool> asBool() const;
    std::optional<std::int64_t> asInt64() const;
    std::optional<std::uint64_t> asUint64() const;
    std::optional<double> asDouble() const;
    const std::string* asString() const;
    const Bytes* asData() const;
    const Array* asArray() const;
    const Dictionary* asDictionary() const;
    std::optional<ErrorCode> errorCode() const;

    // Dictionary access. `get` is null when this is not a dictionary or the key is absent; `getString` and
    // `getData` also when the value has another type.
    const Object* get(std::string_view key) const;
    const std::string* getString(std::string_view key) const;
    const Bytes* getData(std::string_view key) const;
    // Sets a key of a dictionary (a null object becomes an empty dictionary first). Returns false, changing
    // nothing, when this holds another type.
    bool set(std::string key, Object value);
    // Appends to an array (a null object becomes an empty array first); false when this holds another type.
    bool append(Object value);

    std::string description() const;

    friend bool operator==(const Object& a, const Object& b) { return a.value_ == b.value_; }

  private:
    using Value = std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string, Bytes,
                               Array, Dictionary, ErrorCode>;
    // In place: moving a whole variant temporary trips a false -Wmaybe-uninitialized in g++ 12.
    template <typename T, typename... Args>
    explicit Object(std::in_place_type_t<T> type, Args&&... args)
        : value_(type, std::forward<Args>(args)...) {}
    void describe(std::string& out) const;

    Value value_;
};

// For log lines: `text` itself when short, else its first few KiB (whole UTF-8 sequences), "..." and its
// length in bytes.
std::string abbreviatedText(std::string_view text);

// The platform's text for each error ("Connection invalid", ...).
std::string_view errorDescription(ErrorCode code);

}  // namespace xpc
