#include "platform/x11/internal/CursorWatcher.h"

#include <X11/extensions/Xfixes.h>

namespace x11::internal {

CursorWatcher::CursorWatcher(Connection& connection) : connection_(connection) {
    int errorBase = 0;
    if (XFixesQueryExtension(connection_.get(), &eventBase_, &errorBase)) {
        XFixesSelectCursorInput(connection_.get(), connection_.root(), XFixesDisplayCursorNotifyMask);
        handler_ = connection_.addHandler([this](XEvent& event) {
            if (event.type != eventBase_ + XFixesCursorNotify) return false;
            const auto& notify = reinterpret_cast<const XFixesCursorNotifyEvent&>(event);
            notifiedSerial_ = notify.cursor_serial;
            changed_ = true;
            return true;
        });
    }
}

CursorWatcher::~CursorWatcher() {
    if (handler_) {
        connection_.removeHandler(handler_);
        XFixesSelectCursorInput(connection_.get(), connection_.root(), 0);
    }
}

std::optional<CursorPixels> CursorWatcher::currentImage() {
    connection_.dispatchPending();
    if (image_ && !changed_ && notifiedSerial_ == image_->serial) return image_;
    image_ = CursorImages::current(connection_);
    ++fetches_;
    changed_ = false;
    haveVerdict_ = false;
    if (image_) notifiedSerial_ = image_->serial;
    return image_;
}

bool CursorWatcher::isTextCursor() {
    connection_.dispatchPending();
    if (haveVerdict_ && !changed_ && notifiedSerial_ == verdictSerial_) return verdict_;
    auto image = currentImage();
    if (!image) {
        haveVerdict_ = false;
        return false;
    }
    verdict_ = textHashes_.count(hashPixels(image->argb)) > 0 || CursorImages::isTextCursorName(image->name);
    verdictSerial_ = image->serial;
    haveVerdict_ = true;
    return verdict_;
}

unsigned long CursorWatcher::currentSerial() {
    connection_.dispatchPending();
    if (notifiedSerial_ == 0) currentImage();
    return notifiedSerial_;
}

uint64_t CursorWatcher::currentHash() {
    auto image = CursorImages::current(connection_);
    return image ? hashPixels(image->argb) : 0;
}

}  // namespace x11::internal
