// SQLite logger throughput: rows per second from log calls to committed rows with the default save threshold
// (500), against the limit, a bare loop that inserts the same rows into the same table with one prepared
// statement in transactions of 500. Alternates the two a few times and keeps each one's best run. Prints
// figures and the ratio; never fails.
//
// Usage: sqlite_logging_bench [rows per run, default 200000] [runs, default 3]

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "logging/DDLog.h"
#include "logging/extensions/DDSQLiteLogger.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTransactionRows = 500;

std::string freshPath(const std::string& name) {
    const auto dir = std::filesystem::temp_directory_path() / ("ddbench-sqlite-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto path = dir / name;
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path.string() + suffix);
    return path.string();
}

std::string rowText(long i) {
    return "[INFO] selection event delivered to client " + std::to_string(i % 7) + " after " +
           std::to_string(i) + " gestures";
}

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double oursRowsPerSecond(long rows) {
    auto logger = DDSQLiteLogger::create(freshPath("ours.sqlite3"));
    DDLog& log = DDLog::sharedInstance();
    log.addLogger(logger);
    log.flushLog();
    const auto start = Clock::now();
    for (long i = 0; i < rows; ++i)
        log.log(true, rowText(i), 15, 4, 0, __FILE__, "oursRowsPerSecond", 60, nullptr);
    log.flushLog();
    const double rate = static_cast<double>(rows) / seconds(start);
    log.removeLogger(logger);
    log.flushLog();
    return rate;
}

// The same table, pragmas and insert as the logger, the values taken from a record built once.
double limitRowsPerSecond(long rows) {
    sqlite3* db = nullptr;
    sqlite3_open(freshPath("limit.sqlite3").c_str(), &db);
    sqlite3_exec(
        db,
        "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
        "CREATE TABLE logs(id INTEGER PRIMARY KEY, time INTEGER NOT NULL, level INTEGER NOT NULL,"
        " flag INTEGER NOT NULL, context INTEGER NOT NULL, file TEXT NOT NULL, function TEXT NOT NULL,"
        " line INTEGER NOT NULL, thread_id TEXT NOT NULL, thread_name TEXT NOT NULL,"
        " queue_label TEXT NOT NULL, message TEXT NOT NULL);"
        "CREATE INDEX logs_time ON logs(time);",
        nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v3(
        db,
        "INSERT INTO logs(time, level, flag, context, file, function, line, thread_id, thread_name,"
        " queue_label, message) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        -1, SQLITE_PREPARE_PERSISTENT, &insert, nullptr);
    const DDLogMessage sample("", 15, 4, 0, __FILE__, "limitRowsPerSecond", 60, nullptr, 0, std::nullopt);
    const auto text = [](sqlite3_stmt* s, int index, std::string_view value) {
        sqlite3_bind_text(s, index, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
    };
    const auto start = Clock::now();
    for (long i = 0; i < rows;) {
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        for (int n = 0; n < kTransactionRows && i < rows; ++n, ++i) {
            const std::string message = rowText(i);
            const auto now = std::chrono::system_clock::now().time_since_epoch();
            sqlite3_bind_int64(insert, 1, std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
            sqlite3_bind_int64(insert, 2, 15);
            sqlite3_bind_int64(insert, 3, 4);
            sqlite3_bind_int64(insert, 4, 0);
            text(insert, 5, sample.file());
            text(insert, 6, sample.function());
            sqlite3_bind_int64(insert, 7, 60);
            text(insert, 8, sample.threadID());
            text(insert, 9, sample.threadName());
            text(insert, 10, sample.queueLabel());
            text(insert, 11, message);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    const double rate = static_cast<double>(rows) / seconds(start);
    sqlite3_finalize(insert);
    sqlite3_close(db);
    return rate;
}

}  // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 200000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    double ours = 0, limit = 0;
    for (int run = 0; run < runs; ++run) {
        limit = std::max(limit, limitRowsPerSecond(rows));
        ours = std::max(ours, oursRowsPerSecond(rows));
    }
    std::filesystem::remove_all(std::filesystem::temp_directory_path() /
                                ("ddbench-sqlite-" + std::to_string(getpid())));
    std::printf("sqlite logging, %ld rows per run, best of %d\n", rows, runs);
    std::printf("%-48s %12.0f rows/s\n", "DDSQLiteLogger (threshold 500, via DDLog)", ours);
    std::printf("%-48s %12.0f rows/s\n", "bare prepared insert, 500 rows a transaction", limit);
    std::printf("ratio sqlite_logger %.2f\n", ours / limit);
    return 0;
}
