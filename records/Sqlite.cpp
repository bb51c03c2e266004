// The records' SQLite calls (see Sqlite.h).
#include "records/Sqlite.h"

#include <sqlite3.h>

namespace records {

Statement::Statement(sqlite3* db, const std::string& sql)
    : status_(sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement_, nullptr)) {}

Statement::~Statement() { sqlite3_finalize(statement_); }

bool Statement::Ok() const { return status_ == SQLITE_OK && statement_ != nullptr; }

void Statement::Bind(int at, const std::string& text) {
    sqlite3_bind_text(statement_, at, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Statement::Bind(int at, int64_t value) { sqlite3_bind_int64(statement_, at, value); }

int Statement::Step() { return sqlite3_step(statement_); }

std::string Statement::Text(int column) {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
}

int64_t Statement::Int(int column) { return sqlite3_column_int64(statement_, column); }

bool Exec(sqlite3* db, const std::string& sql, std::string* error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
    *error = message != nullptr ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

bool ReadInt(sqlite3* db, const std::string& sql, int64_t* value, std::string* error) {
    Statement statement(db, sql);
    if (!statement.Ok() || statement.Step() != SQLITE_ROW) {
        *error = sqlite3_errmsg(db);
        return false;
    }
    *value = statement.Int(0);
    return true;
}

Transaction::Transaction(sqlite3* db, Kind kind, std::string* error) : db_(db) {
    begun_ = Exec(db, kind == Kind::Write ? "BEGIN IMMEDIATE" : "BEGIN", error);
}

Transaction::~Transaction() {
    // A failed statement may have rolled the transaction back itself (a full disk, an I/O
    // error); otherwise it is rolled back here. Either way the caller's error stands.
    if (begun_ && sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool Transaction::Commit(std::string* error) {
    if (!Exec(db_, "COMMIT", error)) return false;
    begun_ = false;
    return true;
}

}  // namespace records
