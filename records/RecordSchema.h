// The records file's schema on an open SQLite connection, made from a column list: the table
// created in a file that has none, a file checked for being ours and of a version this
// program knows, a file of an older version brought up to date in place, and the statements
// that write and read a row. The store passes Columns() and kSchemaVersion; a test may pass
// a later list to try an upgrade before the program has one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/RecordColumns.h"

struct sqlite3;

namespace records {

// The version a file of today's columns carries (PRAGMA user_version). Raise it with each
// column of a new sinceVersion. 2: the journal's own id and the outbox of rows for the
// line's server; 3: the port's device beside its name; 4: the unit's scanned serial.
inline constexpr int kSchemaVersion = 4;

struct Schema {
    const std::vector<Column>& columns;
    int version;
};

// Inside the caller's write transaction (so that any number of processes may open one new
// file at once: the first creates, the others find): creates the schema in a file with no
// tables, or checks the file's, upgrading an older version in place.
bool CreateOrUpgrade(sqlite3* db, const Schema& schema, std::string* error);
// Without writing: checks that the file holds a schema of ours, of at most schema.version,
// and gives the file's version.
bool CheckForReading(sqlite3* db, const Schema& schema, int64_t* fileVersion, std::string* error);

// The statements of a row. Insert binds the columns written at the start, in column order;
// Complete those written at the end, then the row's id; Select reads every column in order,
// one still NULL (the row not ended) and one the file's version has not got yet as its
// default or "" or 0, and is followed by the caller's WHERE and ORDER BY.
std::string InsertSql(const Schema& schema);
std::string CompleteSql(const Schema& schema);
std::string SelectSql(const Schema& schema, int64_t fileVersion);
// The list of values SelectSql reads, for a statement that joins the table of loads.
std::string SelectList(const Schema& schema, int64_t fileVersion);
bool WrittenAtStart(const Column& column);
bool WrittenAtEnd(const Column& column);

}  // namespace records
