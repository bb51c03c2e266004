// varnex station's web board (--http): reads the token file, starts the server on the
// station's board and answers its records pages from a read-only view of the records file of
// its own (SQLite's WAL lets it read while the ports write, and the ports never wait on it).
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "board/Board.h"
#include "cli/Options.h"
#include "common/Clock.h"
#include "web/Server.h"

namespace cli {

// The server's address and token as --http and --http-token-file give them, with this
// machine's names and the time it starts; false with *error in the technician's words.
bool WebServerOptions(const std::string& http, const std::string& tokenFile, web::ServerOptions* server,
                      std::string* error);

// Null without --http; null with the reason told on err (a usage error: nothing was started)
// when it cannot be served, *failed set. Says the address to open on err once. station: the
// name the records and the metrics carry.
std::unique_ptr<web::Server> StartWebBoard(const StationOptions& options, const std::string& station,
                                           const board::Board& board, common::Clock& clock, std::ostream& err,
                                           bool* failed);

}  // namespace cli
