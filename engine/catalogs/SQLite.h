// The two SQLite connections the catalogs are used through: a strictly read-only reader for
// scanning, and a read-write writer for marking inside one transaction. Only SQLite.cpp includes
// SQLite itself.
#pragma once

#include "CatalogReadError.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct sqlite3;

namespace vp {

/// One column of one row: a 64-bit integer, a double or text; absent for NULL and blobs.
using SQLiteValue = std::optional<std::variant<std::int64_t, double, std::string>>;
using SQLiteRow = std::vector<SQLiteValue>;

/// The value as an integer whatever type SQLite stored it as: an integer, a real (truncated) or
/// numeric text; absent for anything else.
std::optional<std::int64_t> integerValue(const SQLiteValue& value);
/// Text as stored; absent for anything that is not text.
std::optional<std::string> textValue(const SQLiteValue& value);

/// `text` as an SQL string literal: in single quotes, each quote doubled.
std::string sqlText(std::string_view text);

/// How long a connection waits for another one's lock before giving up.
inline constexpr int busyTimeoutMilliseconds = 3000;

/// A read-only connection, closed when released. Used by one thread at a time.
class SQLiteReader {
public:
    /// Opens `path` read-only. `immutable` absent: immutable unless a write-ahead log is beside
    /// the file. `busy` is the sentence reported when the owner holds the database locked.
    /// Throws CatalogReadError (unreadable) with SQLite's message.
    SQLiteReader(const std::string& path, std::optional<bool> immutable, std::string busy);
    ~SQLiteReader();
    SQLiteReader(const SQLiteReader&) = delete;
    SQLiteReader& operator=(const SQLiteReader&) = delete;

    /// Every row of the query; throws CatalogReadError (unreadable), with `busy` when locked.
    std::vector<SQLiteRow> rows(const std::string& sql) const;

private:
    sqlite3* m_db = nullptr;
    std::string m_busy;
};

/// A read-write connection with a 3-second busy time-out, closed when released.
class SQLiteWriter {
public:
    /// What failed, in SQLite's words.
    class Failure : public std::runtime_error {
    public:
        explicit Failure(const std::string& description) : std::runtime_error(description) {}
        std::string description() const { return what(); }
    };

    /// Throws Failure with SQLite's message, or "it could not be opened".
    explicit SQLiteWriter(const std::string& path);
    ~SQLiteWriter();
    SQLiteWriter(const SQLiteWriter&) = delete;
    SQLiteWriter& operator=(const SQLiteWriter&) = delete;

    /// Executes the statement(s); the number of rows the last one changed. Throws Failure.
    std::int64_t run(const std::string& sql);
    std::vector<SQLiteRow> rows(const std::string& sql);

private:
    sqlite3* m_db = nullptr;
};

/// Runs `work(writer)` between "BEGIN IMMEDIATE" and "COMMIT" on a new connection to
/// `database`, rolling back when it throws SQLiteWriter::Failure (which it passes on).
template <class Work>
void inOneTransaction(const std::string& database, Work&& work) {
    SQLiteWriter writer(database);
    writer.run("BEGIN IMMEDIATE");
    try {
        work(writer);
        writer.run("COMMIT");
    } catch (const SQLiteWriter::Failure&) {
        try {
            writer.run("ROLLBACK");
        } catch (const SQLiteWriter::Failure&) {
            // Already rolled back by SQLite; closing the connection ends it anyway.
        }
        throw;
    }
}

/// Copies the whole database at `from` into a new file `to` with SQLite's online backup, all
/// pages in one step, so the copy is consistent even while others read. Throws SQLiteWriter::Failure.
void copyDatabase(const std::string& from, const std::string& to);

} // namespace vp
