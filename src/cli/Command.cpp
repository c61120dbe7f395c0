#include "cli/Command.h"

#include <algorithm>
#include <cmath>

namespace qubix::cli {

namespace {
constexpr const char* kProgram = "qubix24ctl";
constexpr const char* kVersion = "0.1.0";

QString Usage() {
  QString text = QStringLiteral(
      "Usage: qubix24ctl <command> [options]\n"
      "Controller tool for Qubix 24 loudspeaker processors.\n\n"
      "Commands:\n");
  for (const Command* c : CommandRegistry::instance().commands())
    text += QStringLiteral("  %1  %2\n").arg(c->name, -12).arg(c->summary);
  const auto option = [](const QString& name, const QString& help) {
    return QStringLiteral("  %1  %2\n").arg(name, -16).arg(help);
  };
  text += QStringLiteral("\nOptions for every command:\n");
  text += option(QStringLiteral("--json"), QStringLiteral("Machine-readable output."));
  text += option(QStringLiteral("--help"), QStringLiteral("Help for the command."));
  for (const QCommandLineOption& o : CommandRegistry::instance().globalOptions()) {
    QString name = QStringLiteral("--") + o.names().constFirst();
    if (!o.valueName().isEmpty()) name += QStringLiteral(" ") + o.valueName();
    text += option(name, o.description());
  }
  text += QStringLiteral("\nExit status: 0 success, 1 the operation failed, 2 bad arguments.\n");
  return text;
}

// A global option that takes a value swallows the next argument when written "--opt value".
bool TakesValue(const QString& arg) {
  QString name = arg;
  while (name.startsWith(u'-')) name.remove(0, 1);
  if (name.contains(u'=')) return false;
  for (const QCommandLineOption& o : CommandRegistry::instance().globalOptions())
    if (o.names().contains(name) && !o.valueName().isEmpty()) return true;
  return false;
}
}  // namespace

void Invocation::print(const QString& text) const {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), out);
}

void Invocation::print(const std::string& text) const {
  std::fwrite(text.data(), 1, text.size(), out);
}

void Invocation::printError(const QString& text) const {
  const QByteArray bytes = (QStringLiteral("%1: ").arg(kProgram) + text + u'\n').toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), err);
}

void Invocation::rejectPositional() const {
  if (!positional.isEmpty())
    throw UsageError(
        QStringLiteral("unexpected argument '%1'").arg(positional.constFirst()).toStdString());
}

std::optional<double> ParseDouble(const QString& text) {
  bool ok = false;
  const double v = text.trimmed().toDouble(&ok);  // always "." as separator
  if (!ok || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<int> ParseInt(const QString& text) {
  bool ok = false;
  const int v = text.trimmed().toInt(&ok, 10);
  if (!ok) return std::nullopt;
  return v;
}

namespace {
// Reads option name through parse; text that does not parse or a value outside [min, max] is a
// usage error naming the option.
template <typename T, typename Parse>
std::optional<T> OptionalNumber(const QCommandLineParser& parser, const QString& name, T min, T max,
                                Parse parse, const char* kind) {
  if (!parser.isSet(name)) return std::nullopt;
  const QString text = parser.value(name);
  const std::optional<T> v = parse(text);
  if (!v)
    throw UsageError(
        QStringLiteral("--%1: '%2' is not %3").arg(name, text, QLatin1String(kind)).toStdString());
  if (*v < min || *v > max)
    throw UsageError(QStringLiteral("--%1: %2 is outside %3 … %4")
                         .arg(name, text)
                         .arg(min)
                         .arg(max)
                         .toStdString());
  return v;
}

template <typename T>
T Required(const std::optional<T>& v, const QString& name) {
  if (!v) throw UsageError(QStringLiteral("--%1 is required").arg(name).toStdString());
  return *v;
}
}  // namespace

std::optional<double> Invocation::optionalDouble(const QString& name, double min,
                                                 double max) const {
  return OptionalNumber<double>(parser, name, min, max, ParseDouble, "a number");
}

double Invocation::requireDouble(const QString& name, double min, double max) const {
  return Required(optionalDouble(name, min, max), name);
}

std::optional<int> Invocation::optionalInt(const QString& name, int min, int max) const {
  return OptionalNumber<int>(parser, name, min, max, ParseInt, "a whole number");
}

CommandRegistry& CommandRegistry::instance() {
  static CommandRegistry registry;
  return registry;
}

void CommandRegistry::add(Command command) { commands_.push_back(std::move(command)); }

void CommandRegistry::addGlobalOption(QCommandLineOption option) {
  globalOptions_.push_back(std::move(option));
}

const Command* CommandRegistry::find(const QString& name) const {
  for (const Command& c : commands_)
    if (c.name == name) return &c;
  return nullptr;
}

std::vector<const Command*> CommandRegistry::commands() const {
  std::vector<const Command*> list;
  for (const Command& c : commands_) list.push_back(&c);
  std::sort(list.begin(), list.end(),
            [](const Command* a, const Command* b) { return a->name < b->name; });
  return list;
}

int RunCommandLine(const QStringList& args, std::FILE* out, std::FILE* err) {
  QCommandLineParser parser;
  Invocation inv{parser, false, {}, out, err};
  const CommandRegistry& registry = CommandRegistry::instance();

  // The command is the first argument that is neither an option nor a global option's value.
  QString commandName;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QStringLiteral("--")) break;
    if (a.startsWith(u'-')) {
      if (TakesValue(a)) ++i;
      continue;
    }
    commandName = a;
    break;
  }

  if (commandName.isEmpty()) {
    if (args.contains(QStringLiteral("--version")) || args.contains(QStringLiteral("-v"))) {
      inv.print(QStringLiteral("%1 %2\n").arg(kProgram, kVersion));
      return kExitOk;
    }
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
      inv.print(Usage());
      return kExitOk;
    }
    inv.printError(QStringLiteral("no command given; try --help"));
    return kExitUsage;
  }

  const Command* command = registry.find(commandName);
  if (!command) {
    inv.printError(QStringLiteral("unknown command '%1'; try --help").arg(commandName));
    return kExitUsage;
  }

  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.setApplicationDescription(command->summary);
  parser.addOption(
      QCommandLineOption(QStringLiteral("json"), QStringLiteral("Machine-readable output.")));
  parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                      QStringLiteral("Help for this command.")));
  for (const QCommandLineOption& o : registry.globalOptions()) parser.addOption(o);
  if (command->addOptions) command->addOptions(parser);

  if (!parser.parse(args)) {
    inv.printError(parser.errorText());
    return kExitUsage;
  }
  if (parser.isSet(QStringLiteral("help"))) {
    // The parser names the binary by its path; name the command instead.
    const QString help = parser.helpText();
    inv.print(QStringLiteral("Usage: %1 %2 [options]").arg(kProgram, command->name) +
              help.mid(help.indexOf(u'\n')));
    return kExitOk;
  }
  inv.positional = parser.positionalArguments();
  inv.positional.removeFirst();  // the command name
  inv.json = parser.isSet(QStringLiteral("json"));
  try {
    return command->run(inv);
  } catch (const UsageError& e) {
    inv.printError(QString::fromStdString(e.what()));
    return kExitUsage;
  } catch (const std::exception& e) {
    inv.printError(QString::fromStdString(e.what()));
    return kExitFailure;
  }
}

}  // namespace qubix::cli
