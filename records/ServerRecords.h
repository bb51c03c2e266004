// The records on the line's server: rows sent there (an idempotent upsert keyed by station,
// journal and row id, in which a row only ever moves forward: a late start never overwrites
// an end) and read back with the same filters as a file. The table is the administrator's
// (packaging/varnex-records.sql); nothing here creates or alters it. A station also keeps its
// own row of varnex_stations up to date there: its heartbeat.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "records/PgConnection.h"
#include "records/RecordStore.h"

namespace records {

// What a station says of itself on the server every few seconds, and once more as it stops.
struct Heartbeat {
    std::string station;
    std::string host;       // the machine it runs on
    std::string version;    // varnex's
    std::string startedAt;  // UTC ISO 8601
    std::string boardUrl;   // its web board; "" without one
    std::string state;      // one JSON object: the shift's counters and its ports, as the board has them
    bool ended = false;     // the station has stopped
};

// Where the forwarder sends rows; a fake one serves the tests of the forwarding.
class RowSink {
public:
    virtual ~RowSink() = default;
    // Sends the rows of one journal as one transaction; *taken counts the rows the server did
    // not hold in this state before. False with *error when nothing was committed.
    virtual bool Send(const std::string& journal, const std::vector<Row>& rows, size_t* taken, ServerError* error) = 0;
    // Writes the station's row of the stations' table, on the same connection. False with
    // *error when it was not written.
    virtual bool Beat(const Heartbeat& heartbeat, ServerError* error) = 0;
    // Drops the connection, e.g. after a failure, so the next Send connects afresh.
    virtual void Reset() {}
};

class ServerRecords final : public RowSink {
public:
    explicit ServerRecords(std::string url) : url_(std::move(url)) {}
    bool Send(const std::string& journal, const std::vector<Row>& rows, size_t* taken, ServerError* error) override;
    bool Beat(const Heartbeat& heartbeat, ServerError* error) override;
    void Reset() override { connection_.reset(); }
    // Rows that pass the filter, oldest first, as a file lists them.
    bool List(const Filter& filter, std::vector<Row>* rows, ServerError* error);

private:
    bool Connected(ServerError* error);
    std::string url_;
    std::unique_ptr<PgConnection> connection_;
};

}  // namespace records
