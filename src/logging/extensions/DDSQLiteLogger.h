#pragma once

#include <memory>
#include <string>
#include <vector>

#include "logging/extensions/DDAbstractDatabaseLogger.h"

struct sqlite3;
struct sqlite3_stmt;

// A database logger that keeps records in one SQLite file, table "logs":
//
//   id INTEGER PRIMARY KEY, time INTEGER (UTC, milliseconds since 1970), level INTEGER, flag INTEGER,
//   context INTEGER, file TEXT, function TEXT, line INTEGER, thread_id TEXT, thread_name TEXT,
//   queue_label TEXT, message TEXT (the formatter's text when a formatter is set)
//
// with an index on time. Level and flag keep their 64 bits, so a level with every bit set (`LogLevel::All`)
// reads back as -1. The file is in WAL mode: other processes (the sqlite3 command) read it while the logger
// writes. Records wait in memory until a save (see DDAbstractDatabaseLogger for when) writes them in one
// transaction; `db_delete` removes rows older than `maxAge`.
//
// The file is opened at the first save or deletion, with its directory made 0700 and the file 0600 when
// they are created. A save that fails (the file cannot be opened or is not a database, another process keeps
// it locked beyond a short busy timeout, the disk is full) prints one line on standard error naming the path,
// the error and the number of entries lost with it; the connection is then closed and the next save opens
// it again, so a file that becomes usable again receives the later records.
//
// Queues: everything but construction runs on the logger's queue, like its base. Destruction saves what is
// still pending. Create with `create`.
class DDSQLiteLogger : public DDAbstractDatabaseLogger {
  public:
    // `path` empty: `defaultDatabasePath()`. `clock` null: the system clock.
    static std::shared_ptr<DDSQLiteLogger> create(std::string path = {},
                                                  std::shared_ptr<DDTimerClock> clock = nullptr);
    explicit DDSQLiteLogger(std::string path, std::shared_ptr<DDTimerClock> clock = nullptr);
    ~DDSQLiteLogger() override;

    const std::string& databasePath() const { return path_; }
    // $XDG_STATE_HOME/<application>/log.sqlite3 (see logging/internal/ApplicationPaths.h).
    static std::string defaultDatabasePath();
    // How long a save or deletion waits for another process's lock before giving up.
    static constexpr int kBusyTimeoutMs = 250;

  protected:
    bool db_log(const DDLogMessagePtr& message) override;
    void db_save() override;
    void db_delete() override;
    void db_saveAndDelete() override;

  private:
    struct Connection;
    struct PendingRow {
        DDLogMessagePtr message;
        DDText text;
    };

    // Opens the database when it is not open; false (with `error` set) when that fails.
    bool open(std::string& error);
    void close();
    // One transaction: the pending rows, then the deletion if asked. Returns the error text, empty on
    // success.
    std::string writePending(bool alsoDelete);
    void saveAndMaybeDelete(bool alsoDelete);
    bool insertRow(const PendingRow& row);
    bool deleteOldRows();

    const std::string path_;
    std::unique_ptr<Connection> connection_;
    std::vector<PendingRow> pending_;
};
