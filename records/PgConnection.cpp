// The connection to the line's server (see PgConnection.h). Statements go out with libpq's
// asynchronous calls and are waited for on the socket with a deadline: a server whose process
// is stopped still accepts bytes, so nothing but the client's own clock can bound the wait.
#include "records/PgConnection.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include <libpq-fe.h>

#include "records/SocketWait.h"

namespace records {

namespace {

constexpr const char* kApplicationName = "varnex";
// Keep-alives: a peer that vanished (a cable, a power cut) is noticed within about half a minute.
constexpr const char* kKeepAliveIdleS = "10";
constexpr const char* kKeepAliveIntervalS = "5";
constexpr const char* kKeepAliveCount = "3";
constexpr const char* kHidden = "***";

// SQLSTATE classes and codes that trying again cannot mend.
constexpr const char* kAuthorisationClass = "28";        // invalid authorisation (password, role)
constexpr const char* kInsufficientPrivilege = "42501";  // a permission missing
constexpr const char* kUndefinedTable = "42P01";
constexpr const char* kUndefinedColumn = "42703";
constexpr const char* kDatatypeMismatch = "42804";
constexpr const char* kUnknownDatabase = "3D000";

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The password the URL holds, if any, as libpq reads it.
std::string PasswordOf(const std::string& url) {
    std::string password;
    char* parseError = nullptr;
    if (PQconninfoOption* options = PQconninfoParse(url.c_str(), &parseError)) {
        for (PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
            if (std::strcmp(option->keyword, "password") == 0 && option->val != nullptr) password = option->val;
        }
        PQconninfoFree(options);
    }
    PQfreemem(parseError);
    // A URI libpq cannot parse may still carry user:password@ before its host.
    const size_t scheme = url.find("://");
    if (password.empty() && scheme != std::string::npos) {
        const size_t at = url.find('@', scheme + 3);
        const size_t colon = url.find(':', scheme + 3);
        if (at != std::string::npos && colon != std::string::npos && colon < at)
            password = url.substr(colon + 1, at - colon - 1);
    }
    return password;
}

// The text without the password in it, and without libpq's closing line end.
std::string Scrub(std::string text, const std::string& url) {
    const std::string password = PasswordOf(url);
    if (!password.empty()) {
        for (size_t at = text.find(password); at != std::string::npos; at = text.find(password, at + 1))
            text.replace(at, password.size(), kHidden);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    // libpq says which of a host's addresses it tried on lines of their own; one line reads better.
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at)) {
        size_t end = at + 1;
        while (end < text.size() && (text[end] == '\t' || text[end] == ' ')) ++end;
        text.replace(at, end - at, "; ");
    }
    return text;
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// A connection refused for a reason that only a person can mend, and what to do about it.
bool ConnectFailureIsPermanent(PGconn* connection, const std::string& message, std::string* advice) {
    if (PQconnectionNeedsPassword(connection)) {
        *advice = "give the password in the passfile (~/.pgpass, or the file PGPASSFILE names)";
        return true;
    }
    if (Contains(message, "authentication failed") || Contains(message, "password")) {
        *advice = "check the password in the passfile (~/.pgpass, or the file PGPASSFILE names)";
        return true;
    }
    if (Contains(message, "no pg_hba.conf entry") || Contains(message, "does not exist") ||
        Contains(message, "not compiled in") || Contains(message, "invalid")) {
        *advice = "check the connection string and the server's settings";
        return true;
    }
    return false;
}

bool StatementFailureIsPermanent(const char* state, std::string* advice) {
    if (state == nullptr) return false;
    const std::string code = state;
    if (code.compare(0, 2, kAuthorisationClass) == 0 || code == kInsufficientPrivilege) {
        *advice = "the server's administrator gives the role its rights with packaging/varnex-records.sql";
        return true;
    }
    if (code == kUndefinedTable || code == kUnknownDatabase) {
        *advice = "the server's administrator creates the table with packaging/varnex-records.sql";
        return true;
    }
    // A table made for an earlier varnex lacks the columns added since; running the file
    // again adds them.
    if (code == kUndefinedColumn || code == kDatatypeMismatch) {
        *advice = "the server's administrator brings the table up to date by running packaging/varnex-records.sql "
                  "again";
        return true;
    }
    return false;
}

}  // namespace

bool IsServerUrl(const std::string& text) {
    return text.rfind("postgresql://", 0) == 0 || text.rfind("postgres://", 0) == 0 ||
           (text.find('=') != std::string::npos && text.find('/') == std::string::npos);
}

bool UrlHasPassword(const std::string& url) { return !PasswordOf(url).empty(); }

std::string ServerName(const std::string& url) {
    std::string host;
    char* parseError = nullptr;
    if (PQconninfoOption* options = PQconninfoParse(url.c_str(), &parseError)) {
        for (PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
            if (option->val == nullptr || *option->val == '\0') continue;
            if (std::strcmp(option->keyword, "host") == 0) host = option->val;
            if (std::strcmp(option->keyword, "hostaddr") == 0 && host.empty()) host = option->val;
        }
        PQconninfoFree(options);
    }
    PQfreemem(parseError);
    if (host.empty()) {
        const char* environment = std::getenv("PGHOST");
        host = environment != nullptr && *environment != '\0' ? environment : "localhost";
    }
    // Of several hosts (a fail-over list), the first names the server well enough.
    const size_t comma = host.find(',');
    if (comma != std::string::npos) host.resize(comma);
    return Scrub(host, url);
}

std::unique_ptr<PgConnection> PgConnection::Connect(const std::string& url, ServerError* error) {
    const std::string timeout = std::to_string(kConnectTimeoutS);
    // The URL's own keep-alive settings win over these; the bound on connecting does not.
    const char* keywords[] = {"application_name", "keepalives", "keepalives_idle", "keepalives_interval",
                              "keepalives_count", "dbname",     "connect_timeout", nullptr};
    const char* values[] = {kApplicationName, "1",         kKeepAliveIdleS, kKeepAliveIntervalS,
                            kKeepAliveCount,  url.c_str(), timeout.c_str(), nullptr};
    PGconn* connection = PQconnectdbParams(keywords, values, 1);
    if (connection == nullptr) {
        *error = {false, "out of memory"};
        return nullptr;
    }
    std::unique_ptr<PgConnection> owner(new PgConnection(connection, url));
    if (PQstatus(connection) != CONNECTION_OK) {
        const std::string message = Scrub(PQerrorMessage(connection), url);
        std::string advice;
        error->permanent = ConnectFailureIsPermanent(connection, message, &advice);
        error->text = message + (error->permanent ? ": " + advice : "");
        return nullptr;
    }
    if (PQsetnonblocking(connection, 1) != 0) {
        *error = {false, Scrub(PQerrorMessage(connection), url)};
        return nullptr;
    }
    std::vector<SqlRow> none;
    // The server gives up on a statement too, so none of ours holds its locks for long.
    if (!owner->Run("SET statement_timeout = " + std::to_string(kStatementTimeoutMs), {}, &none, error)) return nullptr;
    return owner;
}

PgConnection::~PgConnection() { PQfinish(connection_); }

bool PgConnection::Broken() const { return broken_ || PQstatus(connection_) != CONNECTION_OK; }

bool PgConnection::WaitFor(bool write, long long deadlineMs) {
    const long long left = deadlineMs - NowMs();
    if (left <= 0) return false;
    return WaitSocket(PQsocket(connection_), write, static_cast<int>(left)) == SocketReady::Ready;
}

bool PgConnection::Run(const std::string& sql, const std::vector<SqlParam>& params, std::vector<SqlRow>* rows,
                       ServerError* error) {
    rows->clear();
    const long long deadline = NowMs() + kStatementTimeoutMs;
    std::vector<const char*> values;
    for (const SqlParam& param : params) values.push_back(param ? param->c_str() : nullptr);
    const auto lost = [&](const std::string& what) {
        broken_ = true;
        *error = {false, what};
        return false;
    };
    if (!PQsendQueryParams(connection_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                           nullptr, 0))
        return lost(Scrub(PQerrorMessage(connection_), url_));
    int flushed;
    while ((flushed = PQflush(connection_)) == 1) {
        if (!WaitFor(true, deadline)) return lost("the server took no statement within its time");
    }
    if (flushed < 0) return lost(Scrub(PQerrorMessage(connection_), url_));

    bool ok = true;
    for (;;) {
        while (PQisBusy(connection_)) {
            if (!WaitFor(false, deadline)) return lost("the server answered no statement within its time");
            if (!PQconsumeInput(connection_)) return lost(Scrub(PQerrorMessage(connection_), url_));
        }
        PGresult* result = PQgetResult(connection_);
        if (result == nullptr) break;
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_TUPLES_OK) {
            for (int row = 0; row < PQntuples(result); ++row) {
                SqlRow values;
                for (int column = 0; column < PQnfields(result); ++column) {
                    if (PQgetisnull(result, row, column)) values.emplace_back();
                    else values.emplace_back(PQgetvalue(result, row, column));
                }
                rows->push_back(std::move(values));
            }
        } else if (status != PGRES_COMMAND_OK && ok) {
            ok = false;
            std::string advice;
            error->permanent = StatementFailureIsPermanent(PQresultErrorField(result, PG_DIAG_SQLSTATE), &advice);
            error->text = Scrub(PQresultErrorMessage(result), url_) + (error->permanent ? ": " + advice : "");
        }
        PQclear(result);
    }
    if (PQstatus(connection_) != CONNECTION_OK) broken_ = true;
    return ok;
}

}  // namespace records
