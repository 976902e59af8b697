#include "platform/x11/internal/SelectionData.h"

#include <cstdint>
#include <cstring>

namespace x11::internal {

std::string propertyBytes(const unsigned char* data, unsigned long items, int format) {
    if (!data) return {};
    if (format == 32) {
        std::string out(items * 4, '\0');
        const long* longs = reinterpret_cast<const long*>(data);
        for (unsigned long i = 0; i < items; ++i) {
            uint32_t v = static_cast<uint32_t>(longs[i]);
            std::memcpy(&out[i * 4], &v, 4);
        }
        return out;
    }
    return std::string(reinterpret_cast<const char*>(data), items * static_cast<unsigned long>(format / 8));
}

std::vector<long> longsOf(const std::string& bytes) {
    std::vector<long> out(bytes.size() / 4);
    for (size_t i = 0; i < out.size(); ++i) {
        uint32_t v;
        std::memcpy(&v, &bytes[i * 4], 4);
        out[i] = static_cast<long>(v);
    }
    return out;
}

bool isMetaTarget(const std::string& name) {
    for (const char* meta : {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "DELETE", "INSERT_SELECTION",
                             "INSERT_PROPERTY"})
        if (name == meta) return true;
    return false;
}

}  // namespace x11::internal
