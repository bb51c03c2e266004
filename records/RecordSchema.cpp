// The records file's schema (see RecordSchema.h).
#include "records/RecordSchema.h"

#include "records/Sqlite.h"

namespace records {

namespace {

constexpr const char* kTable = "loads";

// Marks the file as ours in its header, so that another program's database is not taken
// for an empty records file.
constexpr int64_t kApplicationId = 0x56584E52;  // "VXNR"

std::string TypeName(ColumnType type) { return type == ColumnType::Integer ? "INTEGER" : "TEXT"; }

std::string Definition(const Column& column) {
    std::string text = std::string(column.name) + " " + TypeName(column.type);
    if (*column.constraints != '\0') text += std::string(" ") + column.constraints;
    if (*column.defaultValue != '\0') text += std::string(" DEFAULT ") + column.defaultValue;
    return text;
}

// What a row reads where the file holds nothing: the column's default, or "" or 0.
std::string Empty(const Column& column) {
    if (*column.defaultValue != '\0') return column.defaultValue;
    return column.type == ColumnType::Integer ? "0" : "''";
}

// The tables a version brought besides its columns, made in a new file and in an older file's
// upgrade alike. Version 2: the journal's own id, made once when the file is made (so a
// station whose file was replaced never collides with its old rows on the server), and the
// outbox: the rows whose start or end the server has not taken yet, in the order they
// happened (a row noted again before it went moves to the end and goes once, as it is then).
// Version 4: serials are looked up before each unit loads (was it loaded before?).
std::string VersionTables(int64_t version) {
    if (version == 4) return std::string("CREATE INDEX loads_serial ON ") + kTable + "(serial);";
    if (version != 2) return "";
    return "CREATE TABLE journal(id TEXT NOT NULL);"
           "INSERT INTO journal(id) SELECT lower(substr(h, 1, 8) || '-' || substr(h, 9, 4) || '-4' || "
           "substr(h, 14, 3) || '-' || substr('89ab', 1 + (abs(random()) % 4), 1) || substr(h, 18, 3) || '-' || "
           "substr(h, 21, 12)) FROM (SELECT hex(randomblob(16)) AS h);"
           "CREATE TABLE outbox(seq INTEGER PRIMARY KEY AUTOINCREMENT, row_id INTEGER NOT NULL UNIQUE);";
}

bool Create(sqlite3* db, const Schema& schema, std::string* error) {
    std::string sql = std::string("CREATE TABLE ") + kTable + "(";
    for (size_t i = 0; i < schema.columns.size(); ++i) sql += (i ? ", " : "") + Definition(schema.columns[i]);
    sql += std::string("); CREATE INDEX loads_started ON ") + kTable + "(started_at);";
    for (int64_t version = 2; version <= schema.version; ++version) sql += VersionTables(version);
    sql += "PRAGMA application_id = " + std::to_string(kApplicationId) + ";";
    sql += "PRAGMA user_version = " + std::to_string(schema.version) + ";";
    return Exec(db, sql, error);
}

// The one place where a file of an older version is brought up to date, in the caller's
// transaction: for each later version, the columns it added (with their defaults for the
// rows already there); a version's own tables or indexes follow its columns here.
bool Upgrade(sqlite3* db, const Schema& schema, int64_t fileVersion, std::string* error) {
    for (int64_t version = fileVersion + 1; version <= schema.version; ++version) {
        for (const Column& column : schema.columns) {
            if (column.sinceVersion != version) continue;
            if (!Exec(db, std::string("ALTER TABLE ") + kTable + " ADD COLUMN " + Definition(column), error)) {
                return false;
            }
        }
        const std::string tables = VersionTables(version);
        if (!tables.empty() && !Exec(db, tables, error)) return false;
    }
    return Exec(db, "PRAGMA user_version = " + std::to_string(schema.version), error);
}

struct FileHeader {
    int64_t applicationId = 0;
    int64_t version = 0;
    int64_t tables = 0;
};

bool ReadHeader(sqlite3* db, FileHeader* header, std::string* error) {
    return ReadInt(db, "PRAGMA application_id", &header->applicationId, error) &&
           ReadInt(db, "PRAGMA user_version", &header->version, error) &&
           ReadInt(db, "SELECT count(*) FROM sqlite_schema", &header->tables, error);
}

bool IsEmpty(const FileHeader& header) { return header.tables == 0 && header.applicationId == 0; }

// A file that holds something: ours, and not of a later version.
bool CheckOurs(const FileHeader& header, const Schema& schema, std::string* error) {
    if (header.applicationId != kApplicationId) {
        *error = "it is not a varnex records file";
        return false;
    }
    if (header.version > schema.version) {
        *error = "it was written by a later varnex (records schema " + std::to_string(header.version) +
                 "; this one knows up to " + std::to_string(schema.version) + ")";
        return false;
    }
    return true;
}

}  // namespace

bool CreateOrUpgrade(sqlite3* db, const Schema& schema, std::string* error) {
    FileHeader header;
    if (!ReadHeader(db, &header, error)) return false;
    if (IsEmpty(header)) return Create(db, schema, error);
    if (!CheckOurs(header, schema, error)) return false;
    return header.version == schema.version || Upgrade(db, schema, header.version, error);
}

bool CheckForReading(sqlite3* db, const Schema& schema, int64_t* fileVersion, std::string* error) {
    FileHeader header;
    if (!ReadHeader(db, &header, error)) return false;
    if (IsEmpty(header)) {
        *error = "it holds no records";
        return false;
    }
    if (!CheckOurs(header, schema, error)) return false;
    *fileVersion = header.version;
    return true;
}

bool WrittenAtStart(const Column& column) {
    return column.written == Written::AtStart || column.written == Written::AtStartAndEnd;
}

bool WrittenAtEnd(const Column& column) {
    return column.written == Written::AtEnd || column.written == Written::AtStartAndEnd;
}

std::string InsertSql(const Schema& schema) {
    std::string names, places;
    for (const Column& column : schema.columns) {
        if (!WrittenAtStart(column)) continue;
        names += (names.empty() ? "" : ", ") + std::string(column.name);
        places += places.empty() ? "?" : ", ?";
    }
    return std::string("INSERT INTO ") + kTable + "(" + names + ") VALUES (" + places + ")";
}

std::string CompleteSql(const Schema& schema) {
    std::string sets;
    for (const Column& column : schema.columns) {
        if (WrittenAtEnd(column)) sets += (sets.empty() ? "" : ", ") + std::string(column.name) + " = ?";
    }
    return std::string("UPDATE ") + kTable + " SET " + sets + " WHERE id = ?";
}

std::string SelectSql(const Schema& schema, int64_t fileVersion) {
    return "SELECT " + SelectList(schema, fileVersion) + " FROM " + kTable;
}

std::string SelectList(const Schema& schema, int64_t fileVersion) {
    std::string list;
    for (const Column& column : schema.columns) {
        std::string value = std::string(kTable) + "." + column.name;
        if (column.sinceVersion > fileVersion) {
            value = Empty(column);
        } else if (column.written == Written::AtEnd) {
            value = "coalesce(" + value + ", " + Empty(column) + ")";
        }
        list += (list.empty() ? "" : ", ") + value;
    }
    return list;
}

}  // namespace records
