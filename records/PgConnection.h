// One connection to the line's PostgreSQL server, the only code that speaks libpq. The server
// is named by a libpq connection string or URI; everything else (the passfile, PGSSLMODE, the
// other PG* variables) follows libpq's own conventions. Every step is bounded: the connection
// within kConnectTimeoutS, each statement within kStatementTimeoutMs, with TCP keep-alives
// on, so a server that hangs is given up on rather than waited for. No text that leaves here
// holds the password.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pg_conn;

namespace records {

inline constexpr int kConnectTimeoutS = 10;
inline constexpr int kStatementTimeoutMs = 10000;

struct ServerError {
    // Permanent: trying again cannot help until someone acts (a password, a permission, the
    // table); the text then says what to do.
    bool permanent = false;
    std::string text;
};

// Whether a records argument names a server rather than a file: a postgresql:// URI or a
// "key=value" connection string.
bool IsServerUrl(const std::string& text);
// Whether the URL itself holds a password (which belongs in the passfile instead).
bool UrlHasPassword(const std::string& url);
// The server as messages show it: its host alone ("db.line3"), never the user or password.
std::string ServerName(const std::string& url);

using SqlParam = std::optional<std::string>;  // nullopt is SQL's null
using SqlRow = std::vector<std::optional<std::string>>;

class PgConnection {
public:
    static std::unique_ptr<PgConnection> Connect(const std::string& url, ServerError* error);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Runs one statement (in a transaction of its own unless one is open) and gives its rows.
    // A statement not answered in time leaves the connection unusable (Broken()).
    bool Run(const std::string& sql, const std::vector<SqlParam>& params, std::vector<SqlRow>* rows,
             ServerError* error);
    bool Broken() const;

private:
    PgConnection(pg_conn* connection, std::string url) : connection_(connection), url_(std::move(url)) {}
    bool WaitFor(bool write, long long deadlineMs);
    pg_conn* connection_;
    std::string url_;
    bool broken_ = false;
};

}  // namespace records
