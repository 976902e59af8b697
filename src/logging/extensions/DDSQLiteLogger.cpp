#include "logging/extensions/DDSQLiteLogger.h"

#include <errno.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <utility>

#include "logging/internal/ApplicationPaths.h"
#include "logging/internal/Diagnostics.h"

using logging::internal::ddDiagnostic;
using logging::internal::errnoDescription;

namespace {

constexpr const char* kSchema =
    "PRAGMA synchronous=NORMAL;"
    "CREATE TABLE IF NOT EXISTS logs(id INTEGER PRIMARY KEY, time INTEGER NOT NULL, level INTEGER NOT NULL,"
    " flag INTEGER NOT NULL, context INTEGER NOT NULL, file TEXT NOT NULL, function TEXT NOT NULL,"
    " line INTEGER NOT NULL, thread_id TEXT NOT NULL, thread_name TEXT NOT NULL, queue_label TEXT NOT NULL,"
    " message TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS logs_time ON logs(time);";
constexpr const char* kInsert =
    "INSERT INTO logs(time, level, flag, context, file, function, line, thread_id, thread_name, queue_label,"
    " message) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr const char* kDelete = "DELETE FROM logs WHERE time < ?";

// Creates the missing directories of `directory`, each 0700.
bool makeDirectories(const std::filesystem::path& directory, std::string& error) {
    if (directory.empty() || std::filesystem::is_directory(directory)) return true;
    if (!makeDirectories(directory.parent_path(), error)) return false;
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create directory " + directory.string() + ": " + errnoDescription(errno);
        return false;
    }
    return true;
}

// Creates the file 0600 when it does not exist; an existing one is left as it is.
bool createFile(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST) return true;
        error = errnoDescription(errno);
        return false;
    }
    ::close(fd);
    return true;
}

void bindText(sqlite3_stmt* statement, int index, std::string_view text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

}  // namespace

struct DDSQLiteLogger::Connection {
    sqlite3* db = nullptr;
    sqlite3_stmt* insert = nullptr;
    sqlite3_stmt* remove = nullptr;

    ~Connection() {
        sqlite3_finalize(insert);
        sqlite3_finalize(remove);
        sqlite3_close_v2(db);
    }
    std::string error() const { return db != nullptr ? sqlite3_errmsg(db) : "out of memory"; }
    bool exec(const char* sql) const { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
};

std::shared_ptr<DDSQLiteLogger> DDSQLiteLogger::create(std::string path,
                                                       std::shared_ptr<DDTimerClock> clock) {
    return std::make_shared<DDSQLiteLogger>(std::move(path), std::move(clock));
}

DDSQLiteLogger::DDSQLiteLogger(std::string path, std::shared_ptr<DDTimerClock> clock)
    : DDAbstractDatabaseLogger(std::move(clock)),
      path_(path.empty() ? defaultDatabasePath() : std::move(path)) {
    initLoggerQueue();
}

DDSQLiteLogger::~DDSQLiteLogger() {
    // Nothing else can reach the logger any more; what is pending would otherwise be lost.
    if (!pending_.empty()) saveAndMaybeDelete(false);
}

std::string DDSQLiteLogger::defaultDatabasePath() {
    const std::filesystem::path base = logging::internal::stateHomeDirectory();
    return (base / logging::internal::applicationName() / "log.sqlite3").string();
}

bool DDSQLiteLogger::db_log(const DDLogMessagePtr& message) {
    DDText text = logFormatter_ ? logFormatter_->formatLogMessage(*message) : message->messageText();
    if (!text) return false;
    pending_.push_back({message, std::move(text)});
    return true;
}

void DDSQLiteLogger::db_save() {
    saveAndMaybeDelete(false);
}

void DDSQLiteLogger::db_saveAndDelete() {
    saveAndMaybeDelete(maxAge_ > 0);
}

void DDSQLiteLogger::db_delete() {
    std::string error;
    if (open(error)) {
        if (deleteOldRows()) return;
        error = connection_->error();
        close();
    }
    ddDiagnostic("DDSQLiteLogger: Failed to delete old log entries from " + path_ + ": " + error);
}

void DDSQLiteLogger::saveAndMaybeDelete(bool alsoDelete) {
    const std::string error = writePending(alsoDelete);
    if (!error.empty()) {
        ddDiagnostic("DDSQLiteLogger: Failed to save log entries to " + path_ + ": " + error + "; " +
                     std::to_string(pending_.size()) + " entries lost");
    }
    pending_.clear();
}

std::string DDSQLiteLogger::writePending(bool alsoDelete) {
    std::string error;
    if (!open(error)) return error;
    Connection& c = *connection_;
    if (c.exec("BEGIN IMMEDIATE")) {
        const bool written = std::all_of(pending_.begin(), pending_.end(),
                                         [this](const PendingRow& row) { return insertRow(row); }) &&
                             (!alsoDelete || deleteOldRows());
        if (written && c.exec("COMMIT")) return {};
    }
    error = c.error();
    c.exec("ROLLBACK");
    close();
    return error;
}

bool DDSQLiteLogger::insertRow(const PendingRow& row) {
    const DDLogMessage& m = *row.message;
    sqlite3_stmt* s = connection_->insert;
    using std::chrono::milliseconds;
    sqlite3_bind_int64(s, 1,
                       std::chrono::duration_cast<milliseconds>(m.timestamp().time_since_epoch()).count());
    sqlite3_bind_int64(s, 2, static_cast<sqlite3_int64>(m.level()));
    sqlite3_bind_int64(s, 3, static_cast<sqlite3_int64>(m.flag()));
    sqlite3_bind_int64(s, 4, m.context());
    bindText(s, 5, m.file());
    bindText(s, 6, m.function());
    sqlite3_bind_int64(s, 7, static_cast<sqlite3_int64>(m.line()));
    bindText(s, 8, m.threadID());
    bindText(s, 9, m.threadName());
    bindText(s, 10, m.queueLabel());
    bindText(s, 11, *row.text);
    const bool done = sqlite3_step(s) == SQLITE_DONE;
    sqlite3_reset(s);
    return done;
}

bool DDSQLiteLogger::deleteOldRows() {
    using namespace std::chrono;
    const double now = static_cast<double>(
        duration_cast<milliseconds>(DDLogMessage::Clock::now().time_since_epoch()).count());
    // A maximum age beyond the epoch deletes nothing rather than overflowing.
    const double cutoff = std::max(now - maxAge_ * 1000.0, -9.0e18);
    sqlite3_stmt* s = connection_->remove;
    sqlite3_bind_int64(s, 1, static_cast<sqlite3_int64>(cutoff));
    const bool done = sqlite3_step(s) == SQLITE_DONE;
    sqlite3_reset(s);
    return done;
}

bool DDSQLiteLogger::open(std::string& error) {
    if (connection_) return true;
    if (!makeDirectories(std::filesystem::path(path_).parent_path(), error) || !createFile(path_, error)) {
        return false;
    }
    auto c = std::make_unique<Connection>();
    const bool ready =
        sqlite3_open_v2(path_.c_str(), &c->db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                        nullptr) == SQLITE_OK &&
        sqlite3_busy_timeout(c->db, kBusyTimeoutMs) == SQLITE_OK && c->exec("PRAGMA journal_mode=WAL") &&
        c->exec(kSchema) &&
        sqlite3_prepare_v3(c->db, kInsert, -1, SQLITE_PREPARE_PERSISTENT, &c->insert, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v3(c->db, kDelete, -1, SQLITE_PREPARE_PERSISTENT, &c->remove, nullptr) == SQLITE_OK;
    if (!ready) {
        error = c->error();
        return false;
    }
    connection_ = std::move(c);
    return true;
}

void DDSQLiteLogger::close() {
    connection_.reset();
}
