#include "logging/DDStringFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

using logging::internal::FormatArg;
using Kind = FormatArg::Kind;

namespace {

// Widths and numeric precisions beyond this are clamped: a runaway "*" argument must not allocate gigabytes.
constexpr int kMaxField = 1 << 16;

struct Conversion {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alt = false;
    bool zero = false;
    int width = 0;
    int precision = -1;
    int narrowBits = 0;  // 8 for hh, 16 for h, else 0
    char conversion = 0;
};

std::uint64_t maskToBits(std::uint64_t value, int bits) {
    return bits >= 64 ? value : value & ((std::uint64_t{1} << bits) - 1);
}

std::int64_t signExtend(std::uint64_t value, int bits) {
    if (bits >= 64) return static_cast<std::int64_t>(value);
    const std::uint64_t sign = std::uint64_t{1} << (bits - 1);
    value = maskToBits(value, bits);
    return static_cast<std::int64_t>((value ^ sign) - sign);
}

std::int64_t saturatingTruncate(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9.2233720368547758e18) return std::numeric_limits<std::int64_t>::max();
    if (d <= -9.2233720368547758e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(d);
}

bool isNumeric(const FormatArg& a) {
    return a.kind == Kind::Signed || a.kind == Kind::Unsigned || a.kind == Kind::Float ||
           a.kind == Kind::Bool || a.kind == Kind::Char;
}

int effectiveBits(const FormatArg& a, const Conversion& s) {
    const int own = a.kind == Kind::Float ? 64 : a.bytes * 8;
    return s.narrowBits != 0 && s.narrowBits < own ? s.narrowBits : own;
}

// An integer argument's bits before narrowing.
std::uint64_t integerBits(const FormatArg& a) {
    return a.kind == Kind::Unsigned || a.kind == Kind::Bool ? a.u : static_cast<std::uint64_t>(a.i);
}

std::int64_t asSigned(const FormatArg& a, const Conversion& s) {
    const std::uint64_t raw =
        a.kind == Kind::Float ? static_cast<std::uint64_t>(saturatingTruncate(a.d)) : integerBits(a);
    return signExtend(raw, effectiveBits(a, s));
}

std::uint64_t asUnsigned(const FormatArg& a, const Conversion& s) {
    std::uint64_t raw = 0;
    if (a.kind != Kind::Float) {
        raw = integerBits(a);
    } else {
        raw = a.d >= 0 && a.d < 1.8446744073709552e19 ? static_cast<std::uint64_t>(a.d)
              : a.d >= 0                              ? std::numeric_limits<std::uint64_t>::max()
                                                      : static_cast<std::uint64_t>(saturatingTruncate(a.d));
    }
    return maskToBits(raw, effectiveBits(a, s));
}

double asDouble(const FormatArg& a) {
    switch (a.kind) {
        case Kind::Float:
            return a.d;
        case Kind::Unsigned:
        case Kind::Bool:
            return static_cast<double>(a.u);
        default:
            return static_cast<double>(a.i);
    }
}

void appendPadded(std::string& out, std::string_view body, const Conversion& s, char fill = ' ') {
    const std::size_t width = static_cast<std::size_t>(s.width);
    if (width <= body.size()) {
        out.append(body);
        return;
    }
    if (!s.left) out.append(width - body.size(), fill);
    out.append(body);
    if (s.left) out.append(width - body.size(), ' ');
}

void appendHex(std::string& out, std::uint64_t value) {
    char buf[20];
    const auto end = std::to_chars(buf, buf + sizeof buf, value, 16).ptr;
    out.append("0x");
    out.append(buf, end);
}

void appendDescription(std::string& out, const FormatArg& a) {
    char buf[32];
    switch (a.kind) {
        case Kind::Signed:
            out.append(buf, std::to_chars(buf, buf + sizeof buf, a.i).ptr);
            break;
        case Kind::Unsigned:
            out.append(buf, std::to_chars(buf, buf + sizeof buf, a.u).ptr);
            break;
        case Kind::Float:
            out.append(buf, std::to_chars(buf, buf + sizeof buf, a.d).ptr);
            break;
        case Kind::Bool:
            out.append(a.u != 0 ? "true" : "false");
            break;
        case Kind::Char:
            out.push_back(static_cast<char>(a.i));
            break;
        case Kind::CString:
            out.append(a.cstr != nullptr ? a.cstr : "(null)");
            break;
        case Kind::String:
            out.append(a.str.data, a.str.size);
            break;
        case Kind::Pointer:
            if (a.ptr == nullptr) {
                out.append("(null)");
            } else {
                appendHex(out, reinterpret_cast<std::uintptr_t>(a.ptr));
            }
            break;
        case Kind::Object:
            a.obj.describe(a.obj.object, out);
            break;
    }
}

// %s and %@: the description, cut to the precision, padded to the width.
void appendDescribed(std::string& out, const FormatArg& a, const Conversion& s) {
    if (s.width == 0 && s.precision < 0) {
        appendDescription(out, a);
        return;
    }
    std::string_view body;
    std::string scratch;
    if (a.kind == Kind::String) {
        body = {a.str.data, a.str.size};
    } else if (a.kind == Kind::CString && a.cstr != nullptr) {
        body = a.cstr;
    } else {
        appendDescription(scratch, a);
        body = scratch;
    }
    if (s.precision >= 0 && body.size() > static_cast<std::size_t>(s.precision))
        body = body.substr(0, s.precision);
    appendPadded(out, body, s);
}

void appendInteger(std::string& out, std::uint64_t magnitude, bool negative, bool isSigned, int base,
                   bool upper, const Conversion& s) {
    char digits[72];
    int n = 0;
    if (!(magnitude == 0 && s.precision == 0)) {
        n = static_cast<int>(std::to_chars(digits, digits + sizeof digits, magnitude, base).ptr - digits);
        if (upper)
            std::transform(digits, digits + n, digits, [](char c) { return c >= 'a' ? c - 'a' + 'A' : c; });
    }
    char prefix[3];
    int prefixLength = 0;
    if (negative) {
        prefix[prefixLength++] = '-';
    } else if (isSigned && s.plus) {
        prefix[prefixLength++] = '+';
    } else if (isSigned && s.space) {
        prefix[prefixLength++] = ' ';
    }
    if (s.alt && base == 16 && magnitude != 0) {
        prefix[prefixLength++] = '0';
        prefix[prefixLength++] = upper ? 'X' : 'x';
    }
    int zeros = std::max(0, s.precision - n);
    if (s.alt && base == 8 && zeros == 0 && (n == 0 || digits[0] != '0')) zeros = 1;
    int total = prefixLength + zeros + n;
    if (s.zero && !s.left && s.precision < 0 && s.width > total) {
        zeros += s.width - total;
        total = s.width;
    }
    const int padding = std::max(0, s.width - total);
    if (!s.left) out.append(padding, ' ');
    out.append(prefix, prefixLength);
    out.append(zeros, '0');
    out.append(digits, n);
    if (s.left) out.append(padding, ' ');
}

void appendFloat(std::string& out, double value, const Conversion& s) {
    char pattern[16];
    int i = 0;
    pattern[i++] = '%';
    if (s.left) pattern[i++] = '-';
    if (s.plus) pattern[i++] = '+';
    if (s.space) pattern[i++] = ' ';
    if (s.alt) pattern[i++] = '#';
    if (s.zero) pattern[i++] = '0';
    pattern[i++] = '*';
    if (s.precision >= 0) {
        pattern[i++] = '.';
        pattern[i++] = '*';
    }
    pattern[i++] = s.conversion;
    pattern[i] = '\0';
    char buf[128];
    const auto print = [&](char* into, std::size_t size) {
        return s.precision >= 0 ? std::snprintf(into, size, pattern, s.width, s.precision, value)
                                : std::snprintf(into, size, pattern, s.width, value);
    };
    const int n = print(buf, sizeof buf);
    if (n < 0) return;
    if (static_cast<std::size_t>(n) < sizeof buf) {
        out.append(buf, n);
        return;
    }
    const std::size_t start = out.size();
    out.resize(start + n + 1);
    print(out.data() + start, n + 1);
    out.resize(start + n);
}

void appendPointer(std::string& out, const FormatArg& a, const Conversion& s) {
    std::uintptr_t address;
    switch (a.kind) {
        case Kind::Pointer:
            address = reinterpret_cast<std::uintptr_t>(a.ptr);
            break;
        case Kind::CString:
            address = reinterpret_cast<std::uintptr_t>(a.cstr);
            break;
        case Kind::String:
            address = reinterpret_cast<std::uintptr_t>(a.str.data);
            break;
        case Kind::Object:
            address = reinterpret_cast<std::uintptr_t>(a.obj.object);
            break;
        case Kind::Signed:
        case Kind::Unsigned:
            address = static_cast<std::uintptr_t>(a.u);
            break;
        default:
            appendDescribed(out, a, s);
            return;
    }
    std::string body;
    if (address == 0) {
        body = "0x0";
    } else {
        appendHex(body, address);
    }
    appendPadded(out, body, s);
}

int takeNumberArg(const FormatArg* a) {
    if (a == nullptr || !isNumeric(*a)) return 0;
    const std::int64_t v = a->kind == Kind::Float ? saturatingTruncate(a->d) : a->i;
    return static_cast<int>(std::clamp<std::int64_t>(v, -kMaxField, kMaxField));
}

int parseDigits(const char*& p) {
    int value = 0;
    while (*p >= '0' && *p <= '9') {
        value = std::min(kMaxField, value * 10 + (*p - '0'));
        ++p;
    }
    return value;
}

class Engine {
  public:
    Engine(std::string& out, std::span<const FormatArg> args) : out_(out), args_(args) {}

    void run(const char* p) {
        for (;;) {
            const char* percent = std::strchr(p, '%');
            if (percent == nullptr) {
                out_.append(p);
                return;
            }
            out_.append(p, percent - p);
            p = directive(percent);
            if (p == nullptr) return;
        }
    }

  private:
    const FormatArg* take() { return next_ < args_.size() ? &args_[next_++] : nullptr; }

    // Handles the directive at `percent`; returns where the text continues, or null at the end of the format.
    const char* directive(const char* percent) {
        const char* p = percent + 1;
        Conversion s;
        for (;; ++p) {
            if (*p == '-') {
                s.left = true;
            } else if (*p == '+') {
                s.plus = true;
            } else if (*p == ' ') {
                s.space = true;
            } else if (*p == '#') {
                s.alt = true;
            } else if (*p == '0') {
                s.zero = true;
            } else if (*p != '\'') {
                break;
            }
        }
        if (*p == '*') {
            ++p;
            const int w = takeNumberArg(take());
            if (w < 0) s.left = true;
            s.width = w < 0 ? -w : w;
        } else {
            s.width = parseDigits(p);
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                ++p;
                const int prec = takeNumberArg(take());
                s.precision = prec < 0 ? -1 : prec;
            } else {
                s.precision = parseDigits(p);
            }
        }
        if (*p == 'h') {
            ++p;
            s.narrowBits = 16;
            if (*p == 'h') {
                ++p;
                s.narrowBits = 8;
            }
        } else if (*p == 'l') {
            ++p;
            if (*p == 'l') ++p;
        } else if (*p == 'j' || *p == 'z' || *p == 't' || *p == 'L' || *p == 'q') {
            ++p;
        }
        s.conversion = *p;
        if (s.conversion == '\0') {
            out_.append(percent, p - percent);
            return nullptr;
        }
        convert(s, percent, p + 1);
        return p + 1;
    }

    void convert(const Conversion& s, const char* start, const char* end) {
        switch (s.conversion) {
            case '%':
                out_.push_back('%');
                return;
            case 'd':
            case 'i':
            case 'u':
            case 'x':
            case 'X':
            case 'o':
            case 'c':
            case 's':
            case '@':
            case 'p':
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G':
            case 'a':
            case 'A':
                break;
            default:
                out_.append(start, end - start);  // unknown, and %n: never written through
                return;
        }
        const FormatArg* a = take();
        if (a == nullptr) {
            appendPadded(out_, "(missing)", s);
            return;
        }
        if (s.conversion == 's' || s.conversion == '@') {
            appendDescribed(out_, *a, s);
        } else if (s.conversion == 'p') {
            appendPointer(out_, *a, s);
        } else if (!isNumeric(*a)) {
            appendDescribed(out_, *a, s);
        } else {
            numeric(s, *a);
        }
    }

    void numeric(const Conversion& s, const FormatArg& a) {
        switch (s.conversion) {
            case 'd':
            case 'i': {
                const std::int64_t v = asSigned(a, s);
                const std::uint64_t magnitude =
                    v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
                appendInteger(out_, magnitude, v < 0, true, 10, false, s);
                return;
            }
            case 'u':
                appendInteger(out_, asUnsigned(a, s), false, false, 10, false, s);
                return;
            case 'x':
            case 'X':
                appendInteger(out_, asUnsigned(a, s), false, false, 16, s.conversion == 'X', s);
                return;
            case 'o':
                appendInteger(out_, asUnsigned(a, s), false, false, 8, false, s);
                return;
            case 'c': {
                const char c = static_cast<char>(a.kind == Kind::Float ? saturatingTruncate(a.d) : a.i);
                appendPadded(out_, std::string_view(&c, 1), s);
                return;
            }
            default:
                appendFloat(out_, asDouble(a), s);
                return;
        }
    }

    std::string& out_;
    std::span<const FormatArg> args_;
    std::size_t next_ = 0;
};

// A generous guess of the result's size, so that a typical line needs one allocation.
std::size_t estimateSize(const char* format, std::span<const FormatArg> args) {
    std::size_t size = std::strlen(format);
    for (const FormatArg& a : args) {
        if (a.kind == Kind::String) {
            size += a.str.size;
        } else if (a.kind == Kind::CString && a.cstr != nullptr) {
            size += std::strlen(a.cstr);
        } else {
            size += 24;
        }
    }
    return size;
}

}  // namespace

void DDStringFormat::appendArgs(std::string& out, const char* format, std::span<const FormatArg> args) {
    if (format == nullptr) return;
    out.reserve(out.size() + estimateSize(format, args));
    Engine(out, args).run(format);
}
