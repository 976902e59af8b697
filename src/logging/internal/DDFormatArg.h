#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace logging::internal {

// One formatting argument, type-erased so that the formatter itself is a plain function. Holds views only:
// it must not outlive the call that made it.
struct FormatArg {
    enum class Kind : std::uint8_t { Signed, Unsigned, Float, Bool, Char, CString, String, Pointer, Object };
    using DescribeFn = void (*)(const void* object, std::string& out);

    struct Text {
        const char* data;
        std::size_t size;
    };
    struct Described {
        const void* object;
        DescribeFn describe;
    };

    Kind kind = Kind::Signed;
    std::uint8_t bytes = 8;  // width of an integer argument, so "%x" of an int(-1) gives ffffffff
    union {
        std::int64_t i;
        std::uint64_t u;
        double d;
        const char* cstr;  // may be null
        Text str;
        const void* ptr;
        Described obj;
    };
};

inline void appendText(std::string& out, std::string_view text) {
    out.append(text);
}
inline void appendText(std::string& out, const char* text) {
    out.append(text != nullptr ? text : "(null)");
}

namespace adl {
void describe() = delete;  // keeps unqualified lookup to argument-dependent candidates
template <typename T>
concept HasDescribe = requires(const T& t) {
    { describe(t) } -> std::convertible_to<std::string>;
};
template <typename T>
void callDescribe(const void* object, std::string& out) {
    out += describe(*static_cast<const T*>(object));
}
}  // namespace adl

template <typename T>
concept HasDescriptionMember = requires(const T& t) {
    { t.description() } -> std::convertible_to<std::string_view>;
}
|| requires(const T& t) {
    { t.description() } -> std::convertible_to<const char*>;
};

template <typename T>
void callDescription(const void* object, std::string& out) {
    decltype(auto) text = static_cast<const T*>(object)->description();
    appendText(out, text);
}

template <typename T>
struct SmartPointer : std::false_type {};
template <typename T>
struct SmartPointer<std::shared_ptr<T>> : std::true_type {
    using element = T;
};
template <typename T, typename D>
struct SmartPointer<std::unique_ptr<T, D>> : std::true_type {
    using element = T;
};

template <typename T>
concept StringLike = std::is_same_v<T, std::string> || std::is_same_v<T, std::string_view>;

template <typename T>
concept CharPointer = std::is_same_v < std::decay_t<T>,
const char* > || std::is_same_v<std::decay_t<T>, char*>;

template <typename T>
concept Describable = std::is_arithmetic_v<T> || std::is_enum_v<T> || StringLike<T> || CharPointer<T> ||
    HasDescriptionMember<T> || adl::HasDescribe<T> || std::is_same_v<T, std::nullptr_t>;

template <typename T>
inline constexpr bool kAlwaysFalse = false;

template <typename T>
FormatArg makeArg(const T& value);

inline FormatArg nullArg() {
    FormatArg arg{};
    arg.kind = FormatArg::Kind::CString;
    arg.cstr = nullptr;
    return arg;
}

template <typename T>
FormatArg makeArg(const T& value) {
    using U = std::remove_cvref_t<T>;
    FormatArg arg{};
    if constexpr (std::is_same_v<U, bool>) {
        arg.kind = FormatArg::Kind::Bool;
        arg.u = value ? 1 : 0;
    } else if constexpr (std::is_same_v<U, char>) {
        arg.kind = FormatArg::Kind::Char;
        arg.bytes = 1;
        arg.i = value;
    } else if constexpr (std::is_enum_v<U>) {
        return makeArg(static_cast<std::underlying_type_t<U>>(value));
    } else if constexpr (std::is_integral_v<U> && std::is_signed_v<U>) {
        arg.bytes = sizeof(U);
        arg.i = value;
    } else if constexpr (std::is_integral_v<U>) {
        arg.kind = FormatArg::Kind::Unsigned;
        arg.bytes = sizeof(U);
        arg.u = value;
    } else if constexpr (std::is_floating_point_v<U>) {
        arg.kind = FormatArg::Kind::Float;
        arg.d = static_cast<double>(value);
    } else if constexpr (CharPointer<U>) {
        arg.kind = FormatArg::Kind::CString;
        arg.cstr = value;
    } else if constexpr (StringLike<U>) {
        arg.kind = FormatArg::Kind::String;
        arg.str = {value.data(), value.size()};
    } else if constexpr (std::is_same_v<U, std::nullptr_t>) {
        return nullArg();
    } else if constexpr (HasDescriptionMember<U>) {
        arg.kind = FormatArg::Kind::Object;
        arg.obj = {&value, &callDescription<U>};
    } else if constexpr (adl::HasDescribe<U>) {
        arg.kind = FormatArg::Kind::Object;
        arg.obj = {&value, &adl::callDescribe<U>};
    } else if constexpr (SmartPointer<U>::value) {
        using E = std::remove_cv_t<typename SmartPointer<U>::element>;
        if constexpr (Describable<E>) {
            return value ? makeArg(*value) : nullArg();
        } else {
            arg.kind = FormatArg::Kind::Pointer;
            arg.ptr = static_cast<const void*>(value.get());
        }
    } else if constexpr (std::is_pointer_v<U>) {
        using E = std::remove_cv_t<std::remove_pointer_t<U>>;
        if constexpr (!std::is_function_v<E> && !std::is_void_v<E> && Describable<E> &&
                      !std::is_arithmetic_v<E>) {
            // A pointer to an object stands for the object, as object references do in "%@".
            return value != nullptr ? makeArg(*value) : nullArg();
        } else {
            arg.kind = FormatArg::Kind::Pointer;
            arg.ptr = reinterpret_cast<const void*>(value);
        }
    } else {
        static_assert(kAlwaysFalse<U>,
                      "no textual description for this type: give it a description() member or a free "
                      "describe(const T&) function returning std::string");
    }
    return arg;
}

}  // namespace logging::internal
