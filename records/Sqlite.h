// The few SQLite calls the records make, each with its handle owned: a prepared statement,
// a statement run for its effect, one integer read, and a transaction that rolls back unless
// committed without putting the rollback's words over the error that caused it.
#pragma once

#include <cstdint>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace records {

// A prepared statement, finalised when it goes.
class Statement {
public:
    Statement(sqlite3* db, const std::string& sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool Ok() const;
    void Bind(int at, const std::string& text);
    void Bind(int at, int64_t value);
    int Step();  // SQLite's code: SQLITE_ROW, SQLITE_DONE or an error
    std::string Text(int column);
    int64_t Int(int column);

private:
    sqlite3_stmt* statement_ = nullptr;
    int status_;
};

// Runs SQL (one or more statements) for its effect; false with SQLite's reason.
bool Exec(sqlite3* db, const std::string& sql, std::string* error);
// The first column of the first row the SQL gives.
bool ReadInt(sqlite3* db, const std::string& sql, int64_t* value, std::string* error);

// BEGIN (or BEGIN IMMEDIATE, which takes the write lock, waiting as the busy timeout says) on
// construction; ROLLBACK on destruction unless Commit() succeeded. A statement that fails
// may have ended the transaction already: the rollback is then skipped, and its own error
// never replaces the one being reported.
class Transaction {
public:
    enum class Kind { Read, Write };
    Transaction(sqlite3* db, Kind kind, std::string* error);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool Begun() const { return begun_; }
    bool Commit(std::string* error);

private:
    sqlite3* db_;
    bool begun_ = false;
};

}  // namespace records
