#include "logging/DDLogFileInfo.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "logging/internal/Diagnostics.h"

using logging::internal::ddDiagnostic;
using logging::internal::errnoDescription;

namespace {

constexpr char kMark = 0x01;

DDLogFileInfo::TimePoint fromStatx(const struct statx_timestamp& ts) {
    using namespace std::chrono;
    return DDLogFileInfo::TimePoint(
        duration_cast<DDLogFileInfo::Clock::duration>(seconds(ts.tv_sec) + nanoseconds(ts.tv_nsec)));
}

std::string describeDate(const std::optional<DDLogFileInfo::TimePoint>& date) {
    if (!date) return "";
    const std::time_t seconds = DDLogFileInfo::Clock::to_time_t(*date);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &utc);
    return text;
}

}  // namespace

bool DDLogFileInfo::Attributes::isRegularFile() const {
    return mode && S_ISREG(*mode);
}

std::shared_ptr<DDLogFileInfo> DDLogFileInfo::logFileWithPath(const std::optional<std::string>& path,
                                                              DDWallClock clock) {
    if (!path) return nullptr;
    return std::make_shared<DDLogFileInfo>(*path, std::move(clock));
}

DDLogFileInfo::DDLogFileInfo(std::string filePath, DDWallClock clock)
    : filePath_(std::move(filePath)), clock_(std::move(clock)) {}

const std::string& DDLogFileInfo::fileName() {
    if (!fileName_) fileName_ = std::filesystem::path(filePath_).filename().string();
    return *fileName_;
}

const DDLogFileInfo::Attributes& DDLogFileInfo::fileAttributes() {
    static const Attributes kEmpty;
    if (fileAttributes_) return *fileAttributes_;
    if (filePath_.empty()) return kEmpty;
    struct statx st {};
    if (statx(AT_FDCWD, filePath_.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &st) != 0) {
        ddDiagnostic("DDLogFileInfo: Failed to read file attributes: " + filePath_ + ": " +
                     errnoDescription(errno));
        return kEmpty;
    }
    Attributes attributes;
    attributes.modificationDate = fromStatx(st.stx_mtime);
    // Not every file system records a birth time; the modification time is the closest stand-in.
    attributes.creationDate =
        (st.stx_mask & STATX_BTIME) ? fromStatx(st.stx_btime) : *attributes.modificationDate;
    attributes.fileSize = st.stx_size;
    attributes.ownerUid = st.stx_uid;
    attributes.mode = st.stx_mode;
    fileAttributes_ = attributes;
    return *fileAttributes_;
}

std::optional<DDLogFileInfo::TimePoint> DDLogFileInfo::creationDate() {
    if (!creationDate_) creationDate_ = fileAttributes().creationDate;
    return creationDate_;
}

std::optional<DDLogFileInfo::TimePoint> DDLogFileInfo::modificationDate() {
    if (!modificationDate_) modificationDate_ = fileAttributes().modificationDate;
    return modificationDate_;
}

std::uint64_t DDLogFileInfo::fileSize() {
    if (fileSize_ == 0) fileSize_ = fileAttributes().fileSize.value_or(0);
    return fileSize_;
}

double DDLogFileInfo::age() {
    const auto created = creationDate();
    if (!created) return 0.0;
    return std::chrono::duration<double>(now() - *created).count();
}

bool DDLogFileInfo::isArchived() const {
    return hasExtendedAttributeWithName(kArchivedAttributeName);
}

void DDLogFileInfo::setIsArchived(bool archived) {
    if (archived) {
        addExtendedAttributeWithName(kArchivedAttributeName);
    } else {
        removeExtendedAttributeWithName(kArchivedAttributeName);
    }
}

void DDLogFileInfo::reset() {
    fileName_.reset();
    fileAttributes_.reset();
    creationDate_.reset();
    modificationDate_.reset();
}

void DDLogFileInfo::renameFile(const std::string& newFileName) {
    if (newFileName == fileName()) return;
    const std::string newPath = (std::filesystem::path(filePath_).parent_path() / newFileName).string();
    std::error_code error;
    std::filesystem::remove_all(newPath, error);  // nothing there is not an error here
    if (error) ddDiagnostic("DDLogFileInfo: Error deleting archive (" + fileName() + "): " + error.message());
    if (::rename(filePath_.c_str(), newPath.c_str()) != 0) {
        ddDiagnostic("DDLogFileInfo: Error renaming file (" + fileName() + "): " + errnoDescription(errno));
    }
    filePath_ = newPath;
    reset();
}

bool DDLogFileInfo::hasExtendedAttributeWithName(const std::string& name) const {
    char value = 0;
    // A value longer than one byte fails with ERANGE, a missing one with ENODATA: both mean "not marked".
    const ssize_t length = ::lgetxattr(filePath_.c_str(), name.c_str(), &value, 1);
    if (length < 0) return false;
    if (length == 1 && value == kMark) return true;
    addExtendedAttributeWithName(name);
    return true;
}

void DDLogFileInfo::addExtendedAttributeWithName(const std::string& name) const {
    if (::lsetxattr(filePath_.c_str(), name.c_str(), &kMark, 1, 0) == 0) return;
    const int err = errno;
    if (err == ENOENT) return;  // deleted or moved away: marking it is quietly a no-op
    ddDiagnostic("DDLogFileInfo: setxattr(" + name + ", " + filePath_ + "): error = " + strerror(err));
}

void DDLogFileInfo::removeExtendedAttributeWithName(const std::string& name) const {
    if (::lremovexattr(filePath_.c_str(), name.c_str()) == 0) return;
    const int err = errno;
    if (err == ENODATA) return;
    const std::string name_ = std::filesystem::path(filePath_).filename().string();
    ddDiagnostic("DDLogFileInfo: removexattr(" + name + ", " + name_ + "): error = " + strerror(err));
}

std::partial_ordering DDLogFileInfo::reverseCompareByCreationDate(DDLogFileInfo& other) {
    return other.creationDate() <=> creationDate();
}

std::partial_ordering DDLogFileInfo::reverseCompareByModificationDate(DDLogFileInfo& other) {
    return other.modificationDate() <=> modificationDate();
}

std::string DDLogFileInfo::description() {
    const Attributes& attributes = fileAttributes();
    std::string attributesText;
    if (!attributes.empty()) {
        char text[160];
        std::snprintf(text, sizeof text, "{NSFileSize = %" PRIu64 "; NSFileOwnerAccountID = %u; mode = %o}",
                      *attributes.fileSize, static_cast<unsigned>(attributes.ownerUid.value_or(0)),
                      static_cast<unsigned>(attributes.mode.value_or(0)));
        attributesText = text;
    }
    char numbers[96];
    std::snprintf(numbers, sizeof numbers,
                  "    fileSize = %" PRIu64 ";\n    age = %f;\n    isArchived = %d;\n", fileSize(), age(),
                  isArchived() ? 1 : 0);
    return "{\n    filePath = \"" + filePath_ + "\";\n    fileName = \"" + fileName() +
           "\";\n    fileAttributes = \"" + attributesText + "\";\n    creationDate = \"" +
           describeDate(creationDate()) + "\";\n    modificationDate = \"" +
           describeDate(modificationDate()) + "\";\n" + numbers + "}";
}
