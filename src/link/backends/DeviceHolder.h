// Who holds a device node: the processes that have it open, found through /proc/*/fd (best
// effort: without the right to look at another user's processes, that process is not seen).
#pragma once

#include <string>

namespace qubix::link::backends {

// "qubix24d, PID 812" for the first process (by PID) that has devicePath open, other than the
// descriptor ownFd of this process; "" when none can be seen. procDir is /proc in the programs.
std::string deviceHolder(const std::string& devicePath, int ownFd = -1,
                         const std::string& procDir = "/proc");

// "PATH is in use by qubix24d, PID 812", or "... by another program" when the holder is unknown.
std::string inUseText(const std::string& devicePath, int ownFd = -1);

}  // namespace qubix::link::backends
