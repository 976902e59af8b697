#include "helper/CursorHelper.h"

#include <algorithm>
#include <functional>
#include <string_view>

#include "platform/Platform.h"

CursorHelper& CursorHelper::sharedInstance() {
    static CursorHelper instance(platform::Platform::current().cursors());
    return instance;
}

std::uint64_t CursorHelper::imageHash(const platform::CursorImage& cursor) {
    const std::string_view bytes(reinterpret_cast<const char*>(cursor.pixels.data()), cursor.pixels.size());
    return std::hash<std::string_view>{}(bytes);
}

void CursorHelper::setup() {
    const auto ibeams = cursors_.standardIBeamCursors();
    otherIbeamHashes_.clear();
    verdictSerial_.reset();
    ibeamHash_ = 0;
    for (std::size_t i = 0; i < ibeams.size(); ++i) {
        if (ibeams[i].pixels.empty()) continue;
        const std::uint64_t hash = imageHash(ibeams[i]);
        if (ibeamHash_ == 0) {
            ibeamHash_ = hash;
        } else {
            otherIbeamHashes_.push_back(hash);
        }
    }
}

void CursorHelper::setIbeamHash(std::uint64_t hash) {
    ibeamHash_ = hash;
    otherIbeamHashes_.clear();
    verdictSerial_.reset();
}

bool CursorHelper::isBeam() {
    const auto serial = cursors_.currentCursorSerial();
    if (serial && serial == verdictSerial_) return verdict_;
    verdict_ = hashesAsIBeam(cursors_.currentSystemCursor());
    verdictSerial_ = serial;
    return verdict_;
}

bool CursorHelper::hashesAsIBeam(const std::optional<platform::CursorImage>& cursor) const {
    if (!cursor || cursor->pixels.empty()) return false;
    const std::uint64_t hash = imageHash(*cursor);
    return hash == ibeamHash_ ||
           std::find(otherIbeamHashes_.begin(), otherIbeamHashes_.end(), hash) != otherIbeamHashes_.end();
}
