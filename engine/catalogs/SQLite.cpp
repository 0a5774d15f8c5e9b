#include "SQLite.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <sqlite3.h>
#include <sys/stat.h>

namespace vp {

CatalogReadError::CatalogReadError(Kind kind, std::string detail, std::string sentence)
    : std::runtime_error([&] {
          switch (kind) {
          case Kind::unreadable: return "The catalog could not be read: " + detail;
          case Kind::unknownLayout:
              return "This catalog is laid out in a way this version does not know (" + detail +
                     "), so it was left alone.";
          case Kind::notACatalog: return sentence;
          }
          return sentence;
      }()),
      m_kind(kind), m_detail(std::move(detail)) {}

std::optional<std::int64_t> integerValue(const SQLiteValue& value) {
    if (!value) return std::nullopt;
    if (const auto* integer = std::get_if<std::int64_t>(&*value)) return *integer;
    if (const auto* real = std::get_if<double>(&*value)) {
        // Out of range, the cast would be undefined: such a value is damage, not a number.
        if (!(*real > -9.2e18 && *real < 9.2e18)) return std::nullopt;
        return static_cast<std::int64_t>(*real);
    }
    const auto& text = std::get<std::string>(*value);
    std::int64_t integer = 0;
    const auto* end = text.data() + text.size();
    if (auto [at, error] = std::from_chars(text.data(), end, integer); error == std::errc() && at == end)
        return integer;
    double real = 0;
    if (auto [at, error] = std::from_chars(text.data(), end, real); error == std::errc() && at == end)
        return integerValue(SQLiteValue(real));
    return std::nullopt;
}

std::string sqlText(std::string_view text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

std::optional<std::string> textValue(const SQLiteValue& value) {
    if (!value) return std::nullopt;
    if (const auto* text = std::get_if<std::string>(&*value)) return *text;
    return std::nullopt;
}

namespace {

std::string messageOf(sqlite3* db, const char* fallback) {
    const char* message = db != nullptr ? sqlite3_errmsg(db) : nullptr;
    return message != nullptr && *message != '\0' ? message : fallback;
}

// A file name inside a URI: everything but unreserved characters and "/" percent-encoded, so
// that "?", "#" and "%" in a folder name cannot end the path or start a query.
std::string uriPath(const std::string& path) {
    std::string encoded;
    for (unsigned char byte : path) {
        if (std::isalnum(byte) != 0 || byte == '/' || byte == '-' || byte == '.' || byte == '_' || byte == '~') {
            encoded += static_cast<char>(byte);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", byte);
            encoded += escape;
        }
    }
    return encoded;
}

bool exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

// SQLite opens whatever is at the path: a FIFO named like a catalog would block the open or the
// first read forever, and a folder only fails with a vague message.
constexpr const char* notAFile = "it is not a file";
bool isSomethingElseThanAFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
}

std::vector<SQLiteRow> readRows(sqlite3* db, const std::string& sql, auto&& fail, auto&& failBusy) {
    sqlite3_stmt* statement = nullptr;
    if (const int prepared = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size() + 1), &statement, nullptr);
        prepared != SQLITE_OK) {
        sqlite3_finalize(statement);
        // Preparing reads the schema, so the owner's lock can stop it too.
        const std::string message = messageOf(db, "the query could not be prepared");
        if ((prepared & 0xff) == SQLITE_BUSY) failBusy(message);
        fail(message);
    }
    std::vector<SQLiteRow> rows;
    int step = SQLITE_OK;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        SQLiteRow row;
        const int columns = sqlite3_column_count(statement);
        for (int column = 0; column < columns; ++column) {
            switch (sqlite3_column_type(statement, column)) {
            case SQLITE_INTEGER: row.emplace_back(std::int64_t{sqlite3_column_int64(statement, column)}); break;
            case SQLITE_FLOAT: row.emplace_back(sqlite3_column_double(statement, column)); break;
            case SQLITE_TEXT: {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
                row.emplace_back(std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column))));
                break;
            }
            default: row.emplace_back(std::nullopt);
            }
        }
        rows.push_back(std::move(row));
    }
    const std::string message = messageOf(db, "the query failed");
    sqlite3_finalize(statement);
    if ((step & 0xff) == SQLITE_BUSY) failBusy(message);
    if (step != SQLITE_DONE) fail(message);
    return rows;
}

} // namespace

SQLiteReader::SQLiteReader(const std::string& path, std::optional<bool> immutable, std::string busy)
    : m_busy(std::move(busy)) {
    if (isSomethingElseThanAFile(path)) throw CatalogReadError::unreadable(notAFile);
    // Immutable skips SQLite's locking and change detection entirely, which is only safe when no
    // one writes: a write-ahead log beside the file says someone may.
    const bool openImmutable = immutable.value_or(!exists(path + "-wal"));
    const std::string uri = "file:" + uriPath(path) + (openImmutable ? "?mode=ro&immutable=1" : "?mode=ro");
    const int opened = sqlite3_open_v2(uri.c_str(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                                       nullptr);
    if (opened != SQLITE_OK) {
        std::string message = messageOf(m_db, "it could not be opened");
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw CatalogReadError::unreadable(std::move(message));
    }
    sqlite3_busy_timeout(m_db, busyTimeoutMilliseconds);
}

SQLiteReader::~SQLiteReader() { sqlite3_close_v2(m_db); }

std::vector<SQLiteRow> SQLiteReader::rows(const std::string& sql) const {
    return readRows(
        m_db, sql, [](const std::string& message) { throw CatalogReadError::unreadable(message); },
        [&](const std::string&) { throw CatalogReadError::unreadable(m_busy); });
}

SQLiteWriter::SQLiteWriter(const std::string& path) {
    if (isSomethingElseThanAFile(path)) throw Failure(notAFile);
    const int opened = sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (opened != SQLITE_OK) {
        std::string message = messageOf(m_db, "it could not be opened");
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw Failure(message);
    }
    sqlite3_busy_timeout(m_db, busyTimeoutMilliseconds);
}

SQLiteWriter::~SQLiteWriter() { sqlite3_close_v2(m_db); }

std::int64_t SQLiteWriter::run(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error != nullptr ? error : messageOf(m_db, "the statement failed");
        sqlite3_free(error);
        throw Failure(message);
    }
    return sqlite3_changes64(m_db);
}

std::vector<SQLiteRow> SQLiteWriter::rows(const std::string& sql) {
    const auto fail = [](const std::string& message) { throw Failure(message); };
    return readRows(m_db, sql, fail, fail);
}

void copyDatabase(const std::string& from, const std::string& to) {
    if (isSomethingElseThanAFile(from)) throw SQLiteWriter::Failure(notAFile);
    sqlite3* source = nullptr;
    sqlite3* destination = nullptr;
    const auto closeBoth = [&] {
        sqlite3_close_v2(destination);
        sqlite3_close_v2(source);
    };
    if (sqlite3_open_v2(from.c_str(), &source, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        std::string message = messageOf(source, "could not open the catalog");
        closeBoth();
        throw SQLiteWriter::Failure(message);
    }
    if (sqlite3_open_v2(to.c_str(), &destination, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        closeBoth();
        throw SQLiteWriter::Failure("could not create " + to);
    }
    sqlite3_busy_timeout(source, busyTimeoutMilliseconds);
    sqlite3_backup* backup = sqlite3_backup_init(destination, "main", source, "main");
    if (backup == nullptr) {
        std::string message = messageOf(destination, "the copy could not start");
        closeBoth();
        throw SQLiteWriter::Failure(message);
    }
    const int stepped = sqlite3_backup_step(backup, -1);
    sqlite3_backup_finish(backup);
    closeBoth();
    if (stepped != SQLITE_DONE)
        throw SQLiteWriter::Failure("the copy stopped part way (" + std::to_string(stepped) + ")");
}

} // namespace vp
