// The records on the line's server: rows sent there (an idempotent upsert keyed by station,
// journal and row id, in which a row only ever moves forward: a late start never overwrites
// an end) and read back with the same filters as a file. The table is the administrator's
// (packaging/varnex-records.sql); nothing here creates or alters it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "records/PgConnection.h"
#include "records/RecordStore.h"

namespace records {

// Where the forwarder sends rows; a fake one serves the tests of the forwarding.
class RowSink {
public:
    virtual ~RowSink() = default;
    // Sends the rows of one journal as one transaction; *taken counts the rows the server did
    // not hold in this state before. False with *error when nothing was committed.
    virtual bool Send(const std::string& journal, const std::vector<Row>& rows, size_t* taken, ServerError* error) = 0;
    // Drops the connection, e.g. after a failure, so the next Send connects afresh.
    virtual void Reset() {}
};

class ServerRecords final : public RowSink {
public:
    explicit ServerRecords(std::string url) : url_(std::move(url)) {}
    bool Send(const std::string& journal, const std::vector<Row>& rows, size_t* taken, ServerError* error) override;
    void Reset() override { connection_.reset(); }
    // Rows that pass the filter, oldest first, as a file lists them.
    bool List(const Filter& filter, std::vector<Row>* rows, ServerError* error);

private:
    bool Connected(ServerError* error);
    std::string url_;
    std::unique_ptr<PgConnection> connection_;
};

}  // namespace records
