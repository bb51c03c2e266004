// Waiting on the database server's socket with a deadline, one small call per platform
// (posix/ and win/), so that no statement waits longer than it is given.
#pragma once

namespace records {

enum class SocketReady { Ready, TimedOut, Failed };

// Waits until the socket can be read (or written, with forWrite) or timeoutMs passes.
SocketReady WaitSocket(int socket, bool forWrite, int timeoutMs);

}  // namespace records
