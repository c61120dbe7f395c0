// qubix24's command line and the seeding of its data directory from the shipped data.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/Options.h"

using namespace qubix::app;
namespace fs = std::filesystem;

namespace qubix::test {
namespace {

const QString kCurrent = QStringLiteral("/home/op/work");
const QString kUser = QStringLiteral("/home/op/.local/share/qubix24");

Options Parse(QStringList args) {
  args.prepend(QStringLiteral("qubix24"));
  return ParseOptions(args, kCurrent, kUser);
}

TEST(AppOptions, CommandLines) {
  struct Case {
    const char* name;
    QStringList args;
    const char* error;  // a part of the error text; nullptr: understood
    std::string link;
    QString dataDir;  // the data directory chosen
    bool seed;
    bool simulatedList = false;  // a missing machine list starts with the simulated processors
  };
  const QString here = kCurrent;
  const QString sim = kUser + QStringLiteral("-sim");
  const Case cases[] = {
      {"nothing", {}, nullptr, "", here, false},
      {"simulator", {"--simulator"}, nullptr, "sim:", here, false},
      {"link value apart", {"--link", "sim:"}, nullptr, "sim:", here, false},
      {"link value joined",
       {"--link=serial:/dev/ttyUSB0"},
       nullptr,
       "serial:/dev/ttyUSB0",
       here,
       false},
      {"link ftdi", {"--link", "ftdi:"}, nullptr, "ftdi:", here, false},
      {"link d2xx", {"--link", "d2xx:"}, nullptr, "d2xx:", here, false},
      {"data dir apart", {"--data-dir", "/srv/q"}, nullptr, "", "/srv/q", true},
      {"dir joined", {"--simulator", "--data-dir=/srv/q"}, nullptr, "sim:", "/srv/q", true, true},
      {"data dir relative", {"--data-dir", "q"}, nullptr, "", "/home/op/work/q", true},
      {"user data", {"--user-data"}, nullptr, "", kUser, true},
      {"user data ftdi", {"--user-data", "--link", "ftdi:"}, nullptr, "ftdi:", kUser, true},
      {"user data sim", {"--user-data", "--simulator"}, nullptr, "sim:", sim, true, true},
      {"virtual", {"--link=sim:virtual", "--user-data"}, nullptr, "sim:virtual", sim, true, true},
      {"link without value", {"--link"}, "Missing value after '--link'", "", here, false},
      {"adapter without colon", {"--link", "sim"}, "colon", "", here, false},
      {"unknown option", {"--speed"}, "Unknown option 'speed'", "", here, false},
      {"stray argument", {"sim:"}, "unexpected argument 'sim:'", "", here, false},
      {"two adapters", {"--simulator", "--link", "ftdi:"}, "adapter twice", "", here, false},
      {"two data dirs",
       {"--user-data", "--data-dir", "/srv/q"},
       "data directory twice",
       "",
       here,
       false},
      {"empty data dir", {"--data-dir="}, "needs a folder", "", here, false},
      {"quit after nothing", {"--quit-after-ms", "0"}, "positive whole number", "", here, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Options o = Parse(c.args);
    if (c.error) {
      EXPECT_TRUE(o.error.contains(QLatin1String(c.error))) << o.error.toStdString();
      continue;
    }
    ASSERT_TRUE(o.error.isEmpty()) << o.error.toStdString();
    EXPECT_EQ(o.link, c.link);
    const DataDirChoice choice = ChooseDataDir(o, kCurrent, kUser);
    EXPECT_EQ(choice.path, c.dataDir);
    EXPECT_EQ(choice.seed, c.seed);
    EXPECT_EQ(choice.seedSimulatedList, c.simulatedList);
  }
}

TEST(AppOptions, HelpVersionAndHiddenQuit) {
  for (const char* flag : {"-h", "--help"}) EXPECT_TRUE(Parse({flag}).help) << flag;
  for (const char* flag : {"-v", "--version"}) EXPECT_TRUE(Parse({flag}).version) << flag;
  EXPECT_EQ(Parse({"--quit-after-ms=1500"}).quitAfterMs, 1500);

  // The help names both data directories and keeps the check-only option out of sight.
  const QString help = Parse({"--help"}).helpText;
  EXPECT_TRUE(help.startsWith(QStringLiteral("Usage: qubix24 [options]\n"))) << help.toStdString();
  EXPECT_TRUE(help.contains(kCurrent));
  EXPECT_TRUE(help.contains(kUser));
  EXPECT_TRUE(help.contains(kUser + QStringLiteral("-sim")));
  EXPECT_FALSE(help.contains(QStringLiteral("quit-after")));
}

// The program moves into its data directory before it opens the trace, so a relative trace file
// is taken from where it was started.
TEST(AppOptions, TraceFileFromWhereTheProgramStarted) {
  EXPECT_EQ(Parse({"--trace", "bus.jsonl", "--data-dir", "/srv/q"}).trace,
            "/home/op/work/bus.jsonl");
  EXPECT_EQ(Parse({"--trace=/tmp/bus.jsonl"}).trace, "/tmp/bus.jsonl");
  EXPECT_EQ(Parse({}).trace, "");
  EXPECT_TRUE(Parse({"--trace="}).error.contains(QStringLiteral("needs a file")));
}

// path relative to the root -> content; a path ending in "/" is a folder.
using Tree = std::map<std::string, std::string>;

void Write(const fs::path& root, const Tree& tree) {
  for (const auto& [rel, content] : tree) {
    if (rel.back() == '/') {
      fs::create_directories(root / rel);
      continue;
    }
    fs::create_directories((root / rel).parent_path());
    std::ofstream(root / rel, std::ios::binary) << content;
  }
}

Tree Read(const fs::path& root) {
  Tree tree;
  if (!fs::exists(root)) return tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(entry.path(), root).generic_string();
    if (entry.is_directory()) {
      tree[rel + "/"] = "";
    } else {
      std::ostringstream content;
      content << std::ifstream(entry.path(), std::ios::binary).rdbuf();
      tree[rel] = content.str();
    }
  }
  return tree;
}

TEST(AppOptions, SeedingCopiesWhatIsMissingAndNeverOverwrites) {
  const Tree shipped = {{"hwpresetlist.dat", "shipped names"},
                        {"Controller00.jpg", "picture"},
                        {"presets/Club.jpg", "club"}};
  struct Case {
    const char* name;
    Tree before;  // the data directory before; empty: it does not exist yet
    Tree after;
  };
  const Case cases[] = {
      {"fresh folder",
       {},
       {{"hwpresetlist.dat", "shipped names"},
        {"Controller00.jpg", "picture"},
        {"presets/", ""},
        {"presets/Club.jpg", "club"}}},
      {"operator's files stay",
       {{"hwpresetlist.dat", "my names"}, {"maclist.dat", "list"}, {"presets/", ""}},
       {{"hwpresetlist.dat", "my names"},
        {"maclist.dat", "list"},
        {"Controller00.jpg", "picture"},
        {"presets/", ""},
        {"presets/Club.jpg", "club"}}},
      {"changed picture in a subfolder stays",
       {{"presets/Club.jpg", "mine"}},
       {{"hwpresetlist.dat", "shipped names"},
        {"Controller00.jpg", "picture"},
        {"presets/", ""},
        {"presets/Club.jpg", "mine"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir tmp;
    const fs::path shared = fs::path(tmp.path().toStdString()) / "share";
    const fs::path target = fs::path(tmp.path().toStdString()) / "home" / "qubix24";
    Write(shared, shipped);
    Write(target, c.before);
    std::string error;
    ASSERT_TRUE(SeedDataDir(shared, target, error)) << error;
    EXPECT_EQ(Read(target), c.after);
    // A second start changes nothing.
    ASSERT_TRUE(SeedDataDir(shared, target, error)) << error;
    EXPECT_EQ(Read(target), c.after);
  }
}

TEST(AppOptions, SeedingRefusesAFileInTheWay) {
  QTemporaryDir tmp;
  const fs::path file = fs::path(tmp.path().toStdString()) / "q";
  Write(file.parent_path(), {{"q", "not a folder"}});
  std::string error;
  EXPECT_FALSE(SeedDataDir({}, file, error));
  EXPECT_NE(error.find(file.string()), std::string::npos) << error;
  EXPECT_EQ(Read(file.parent_path()), (Tree{{"q", "not a folder"}}));
}

// The simulator's folder starts with the three simulated processors, as a scan of the whole bus
// would list them; a list already there is the operator's and stays.
TEST(AppOptions, SimulatedMachineListOnlyWhereNoneIs) {
  std::string scanned = "H000000010001H000000010002H000000010005";
  scanned += std::string(130 - scanned.size(), '\0') + std::string("\3\0", 2);
  const std::string own = "H000000030000" + std::string(117, '\0') + std::string("\1\0", 2);
  const std::pair<Tree, Tree> cases[] = {
      {{{"a.jpg", "x"}}, {{"a.jpg", "x"}, {"maclist.dat", scanned}}},
      {{{"maclist.dat", own}}, {{"maclist.dat", own}}}};
  for (const auto& [before, after] : cases) {
    QTemporaryDir tmp;
    Write(tmp.path().toStdString(), before);
    std::string error;
    ASSERT_TRUE(SeedSimulatedMachineList(tmp.path().toStdString(), error)) << error;
    EXPECT_EQ(Read(tmp.path().toStdString()), after);
  }
}

}  // namespace
}  // namespace qubix::test
