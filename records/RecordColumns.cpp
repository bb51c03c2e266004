// The columns of the records (see RecordColumns.h): each bound to its field of a Row.
#include "records/RecordColumns.h"

#include <type_traits>

namespace records {

namespace {

// Reads and writes one field of a Row as a column's value: text fields as text, every number
// as a 64-bit integer, as SQLite keeps it.
template <auto Field>
Value Get(const Row& row) {
    using Type = std::decay_t<decltype(row.*Field)>;
    if constexpr (std::is_same_v<Type, std::string>) {
        return row.*Field;
    } else {
        return static_cast<int64_t>(row.*Field);
    }
}

template <auto Field>
void Set(Row* row, const Value& value) {
    using Type = std::decay_t<decltype(row->*Field)>;
    if constexpr (std::is_same_v<Type, std::string>) {
        if (const std::string* text = std::get_if<std::string>(&value)) row->*Field = *text;
    } else {
        if (const int64_t* number = std::get_if<int64_t>(&value)) row->*Field = static_cast<Type>(*number);
    }
}

template <auto Field>
Column Bound(const char* name, const char* constraints, const char* defaultValue, Written written,
             int sinceVersion = 1) {
    using Type = std::decay_t<decltype(std::declval<Row>().*Field)>;
    const ColumnType type = std::is_same_v<Type, std::string> ? ColumnType::Text : ColumnType::Integer;
    return {name, type, constraints, defaultValue, written, sinceVersion, &Get<Field>, &Set<Field>};
}

}  // namespace

const std::vector<Column>& Columns() {
    static const std::vector<Column> columns = {
        Bound<&Row::id>("id", "PRIMARY KEY", "", Written::Key),
        Bound<&Row::startedAt>("started_at", "NOT NULL", "", Written::AtStart),
        Bound<&Row::endedAt>("ended_at", "", "", Written::AtEnd),
        Bound<&Row::station>("station", "NOT NULL", "", Written::AtStart),
        Bound<&Row::port>("port", "NOT NULL", "", Written::AtStart),
        Bound<&Row::operation>("operation", "NOT NULL", "", Written::AtStart),
        Bound<&Row::image>("image", "NOT NULL", "", Written::AtStart),
        Bound<&Row::imageSize>("image_size", "NOT NULL", "", Written::AtStart),
        Bound<&Row::imageSha256>("image_sha256", "NOT NULL", "", Written::AtStart),
        Bound<&Row::baud>("baud", "NOT NULL", "", Written::AtStart),
        Bound<&Row::bytesSent>("bytes_sent", "NOT NULL", "0", Written::AtStartAndEnd),
        Bound<&Row::result>("result", "NOT NULL", "'interrupted'", Written::AtStartAndEnd),
        Bound<&Row::reason>("reason", "NOT NULL", "''", Written::AtStartAndEnd),
        Bound<&Row::durationMs>("duration_ms", "", "", Written::AtEnd),
        Bound<&Row::unit>("unit", "NOT NULL", "", Written::AtStart),
        Bound<&Row::version>("varnex_version", "NOT NULL", "", Written::AtStart),
        // Added last, so a reader that counts the CSV's columns finds the older ones in place;
        // a row of an older file does not know its device.
        Bound<&Row::device>("device", "NOT NULL", "''", Written::AtStart, 3),
        Bound<&Row::serial>("serial", "NOT NULL", "''", Written::AtStart, 4),
    };
    return columns;
}

const Column* FindColumn(const std::string& name) {
    for (const Column& column : Columns()) {
        if (name == column.name) return &column;
    }
    return nullptr;
}

}  // namespace records
