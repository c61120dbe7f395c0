#include "CliRunner.h"

#include <QStringList>
#include <cstdio>

#include "cli/Command.h"

namespace {
std::string Drain(std::FILE* f) {
  std::string text;
  std::rewind(f);
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  return text;
}
}  // namespace

CliResult RunCli(const std::vector<std::string>& args) {
  QStringList list{QStringLiteral("qubix24ctl")};
  for (const auto& a : args) list << QString::fromStdString(a);
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  CliResult r;
  r.status = qubix::cli::RunCommandLine(list, out, err);
  r.out = Drain(out);
  r.err = Drain(err);
  return r;
}
