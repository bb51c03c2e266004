// The Win32 calls of a receive's commit behind one small seam, so that a test can watch their
// order or make one of them fail; the system's own are the default.
#pragma once
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "transfer/TransferEngine.h"

namespace transfer {
namespace win_files {

// In the order a commit makes them: the runtime's flush, the flush to the disk, the close,
// then the move over the chosen file. Each answers as the system's own call does.
class CommitCalls {
public:
    virtual ~CommitCalls() = default;
    virtual int Flush(FILE* file);
    virtual BOOL FlushToDisk(HANDLE file);
    virtual int Close(FILE* file);
    virtual BOOL Move(const std::string& from, const std::string& to, DWORD flags);
};

// The Win32 TransferFiles, committing through calls (which must outlive it). SystemFiles()
// is one of these over the system's calls.
std::unique_ptr<TransferFiles> MakeTransferFiles(CommitCalls& calls);

}  // namespace win_files
}  // namespace transfer
