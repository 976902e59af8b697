#pragma once

#include <sys/types.h>

#include <chrono>
#include <compare>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// The wall clock used for file ages and file names. Tests inject a manual clock to fast-forward instead of
// sleeping; an empty function means the system clock.
using DDWallClock = std::function<std::chrono::system_clock::time_point()>;

// The record of one log file on disk: its path and, read lazily and then kept, its name, attributes, dates
// and size; plus the file's archived mark, kept on the file itself as the extended attribute
// "user.vidadudidu.log.archived" (one byte 0x01) so that later runs see it.
//
// Who calls it: the log file manager makes one record per listed file; the file logger keeps one for the file
// it writes, on its own queue. A record has no lock: use it from one thread at a time. The archived mark is
// never cached, so records for the same file (also in other processes) agree on it.
//
// Nothing fails outward: a missing file gives empty attributes, no dates, size 0, age 0, not archived.
// Failures are printed as diagnostics (never through the log dispatcher). Attribute reads never follow a
// symbolic link: a link planted under a log file's name is seen as a link, not as its target.
class DDLogFileInfo {
  public:
    using Clock = std::chrono::system_clock;
    using TimePoint = Clock::time_point;

    // What the file system says about the file; every entry absent when it could not be read.
    struct Attributes {
        std::optional<TimePoint> creationDate;  // birth time; the modification time where there is none
        std::optional<TimePoint> modificationDate;
        std::optional<std::uint64_t> fileSize;
        std::optional<uid_t> ownerUid;
        std::optional<mode_t> mode;  // type and permission bits
        bool empty() const { return !fileSize.has_value(); }
        bool isRegularFile() const;
    };

    static constexpr const char* kArchivedAttributeName = "user.vidadudidu.log.archived";

    // None when the path is none.
    static std::shared_ptr<DDLogFileInfo> logFileWithPath(const std::optional<std::string>& path,
                                                          DDWallClock clock = {});
    // Reads nothing.
    explicit DDLogFileInfo(std::string filePath, DDWallClock clock = {});
    virtual ~DDLogFileInfo() = default;

    const std::string& filePath() const { return filePath_; }
    const std::string& fileName();
    const Attributes& fileAttributes();
    std::optional<TimePoint> creationDate();
    std::optional<TimePoint> modificationDate();
    std::uint64_t fileSize();
    // Seconds from the creation date to now; 0 without a creation date.
    double age();

    bool isArchived() const;
    void setIsArchived(bool archived);

    // Drops the kept name, attributes and dates (they are read again on next use); the kept size stays.
    void reset();
    // Renames the file within its directory, replacing whatever has the new name; the record follows the new
    // path even when the move failed.
    void renameFile(const std::string& newFileName);

    bool hasExtendedAttributeWithName(const std::string& name) const;
    void addExtendedAttributeWithName(const std::string& name) const;
    void removeExtendedAttributeWithName(const std::string& name) const;

    // Equal when both are records of the same path.
    bool isEqual(const DDLogFileInfo& other) const { return filePath_ == other.filePath_; }
    bool operator==(const DDLogFileInfo& other) const { return isEqual(other); }
    std::size_t hash() const { return std::hash<std::string>{}(filePath_); }
    // Ordering that puts the newest first when sorting ascending by it.
    std::partial_ordering reverseCompareByCreationDate(DDLogFileInfo& other);
    std::partial_ordering reverseCompareByModificationDate(DDLogFileInfo& other);

    // A dictionary-like text with the keys filePath, fileName, fileAttributes, creationDate,
    // modificationDate, fileSize, age and isArchived.
    std::string description();

    TimePoint now() const { return clock_ ? clock_() : Clock::now(); }
    const DDWallClock& clock() const { return clock_; }

  private:
    std::optional<std::string> fileName_;
    std::optional<Attributes> fileAttributes_;
    std::optional<TimePoint> creationDate_;
    std::optional<TimePoint> modificationDate_;
    std::uint64_t fileSize_ = 0;
    std::string filePath_;
    DDWallClock clock_;
};

using DDLogFileInfoPtr = std::shared_ptr<DDLogFileInfo>;
