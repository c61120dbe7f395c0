// The command registry of qubix24ctl. Each command group lives in its own cmd_<group>.cpp and
// registers itself with a file-scope RegisterCommand object; main.cpp never changes for a new
// command. Options shared by every command (--json, and whatever other groups add with
// RegisterGlobalOption, e.g. --link URI or --data-dir DIR) are parsed together with the
// command's own options.
//
//   namespace { int runFoo(qubix::cli::Invocation& inv) { ... } }
//   static qubix::cli::RegisterCommand fooCommand{{"foo", "One line of help", addFooOptions,
//   runFoo}};
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qubix::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the command ran and the operation failed
inline constexpr int kExitUsage = 2;    // bad arguments: one line on stderr

// Thrown by argument helpers; main prints "qubix24ctl: <message>" and exits with kExitUsage.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Invocation {
  const QCommandLineParser& parser;
  bool json = false;
  QStringList positional;  // after the command name
  std::FILE* out = stdout;
  std::FILE* err = stderr;

  // Writes text as UTF-8.
  void print(const QString& text) const;
  void print(const std::string& text) const;
  void printError(const QString& text) const;

  // For commands without positional arguments: a stray one is a usage error.
  void rejectPositional() const;

  bool isSet(const QString& name) const { return parser.isSet(name); }
  QString value(const QString& name) const { return parser.value(name); }
  QStringList values(const QString& name) const { return parser.values(name); }

  // Number options: a missing required option, text that is not a finite number, or a value
  // outside [min, max] throws UsageError naming the option.
  double requireDouble(const QString& name, double min, double max) const;
  std::optional<double> optionalDouble(const QString& name, double min, double max) const;
  std::optional<int> optionalInt(const QString& name, int min, int max) const;
};

struct Command {
  QString name;
  QString summary;
  std::function<void(QCommandLineParser&)> addOptions;  // may be empty
  std::function<int(Invocation&)> run;
};

class CommandRegistry {
 public:
  static CommandRegistry& instance();
  void add(Command command);
  void addGlobalOption(QCommandLineOption option);
  const Command* find(const QString& name) const;
  // Sorted by name.
  std::vector<const Command*> commands() const;
  const std::vector<QCommandLineOption>& globalOptions() const { return globalOptions_; }

 private:
  std::vector<Command> commands_;
  std::vector<QCommandLineOption> globalOptions_;
};

struct RegisterCommand {
  explicit RegisterCommand(Command command) { CommandRegistry::instance().add(std::move(command)); }
};

struct RegisterGlobalOption {
  explicit RegisterGlobalOption(const QCommandLineOption& option) {
    CommandRegistry::instance().addGlobalOption(option);
  }
};

// Strict number parsing shared by the option helpers: the whole text must be a finite number.
std::optional<double> ParseDouble(const QString& text);
std::optional<int> ParseInt(const QString& text);

// The command-line entry without the process: args[0] is the program name. Used by main and
// by tests that run commands in-process.
int RunCommandLine(const QStringList& args, std::FILE* out, std::FILE* err);

}  // namespace qubix::cli
