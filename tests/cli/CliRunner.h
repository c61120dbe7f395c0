// Runs qubix24ctl's command line in-process and captures what it prints.
#pragma once

#include <string>
#include <vector>

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

CliResult RunCli(const std::vector<std::string>& args);
