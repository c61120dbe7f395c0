// Runs a shell command as the operator would and keeps what it printed (stdout and stderr
// together) and its exit status.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace qubix::test {

struct CommandRun {
  std::string output;
  int exitStatus = -1;  // -1: the command could not be started or did not exit
};

inline CommandRun RunCommand(const std::string& command) {
  CommandRun run;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return run;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) run.output += buffer;
  const int status = ::pclose(pipe);
  if (WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
  return run;
}

}  // namespace qubix::test
