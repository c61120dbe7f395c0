// qubix24d over real HTTP on 127.0.0.1 against a simulated bus: every answer checked against
// the OpenAPI document, a change's frames against the editor's, events, level polls and
// faults.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include "SchemaCheck.h"
#include "ServiceRig.h"
#include "editor/LevelMeter.h"
#include "support/CaseNames.h"
#include "support/EditorRig.h"

namespace qubix::test {
namespace {

struct EndpointCase {
  const char* name;
  const char* method;
  const char* path;
  const char* body;
  int status;
  const char* field = "";  // an out_of_range answer names it
};

const EndpointCase kEndpoints[] = {
    {"Buses", "GET", "/api/v1/buses", "", 200},
    {"Machines", "GET", "/api/v1/buses/main/machines", "", 200},
    {"MachineBySlot", "GET", "/api/v1/buses/main/machines/1", "", 200},
    {"MachineById", "GET", "/api/v1/buses/main/machines/H000000010002?fresh=true", "", 200},
    {"UnknownMachine", "GET", "/api/v1/buses/main/machines/9", "", 404},
    {"UnknownBus", "GET", "/api/v1/buses/other/machines", "", 404},
    {"PatchBand", "PATCH", "/api/v1/buses/main/machines/1", R"({"bands":[{"band":4,"gain":6}]})",
     200},
    {"PatchLowestQ", "PATCH", "/api/v1/buses/main/machines/1", R"({"bands":[{"band":1,"q":0.2}]})",
     200},
    {"PatchMuteObject", "PATCH", "/api/v1/buses/main/machines/1", R"({"mute":{"3":true}})", 200},
    {"PatchGainTooHigh", "PATCH", "/api/v1/buses/main/machines/1",
     R"({"bands":[{"band":4,"gain":13}]})", 400, "bands[0].gain"},
    {"PatchHalfStep", "PATCH", "/api/v1/buses/main/machines/1", R"({"inputGain":{"a":-3.25}})", 400,
     "inputGain.a"},
    {"PatchDelayTooLong", "PATCH", "/api/v1/buses/main/machines/2", R"({"delay":{"ch34":311}})",
     400, "delay.ch34"},
    {"PatchUnknownField", "PATCH", "/api/v1/buses/main/machines/1", R"({"volume":3})", 400},
    {"PatchNotJson", "PATCH", "/api/v1/buses/main/machines/1", R"({"bands":)", 400},
    {"HardwarePreset", "POST", "/api/v1/buses/main/machines/2/hardware-preset", R"({"number":1})",
     200},
    {"HardwarePresetTooHigh", "POST", "/api/v1/buses/main/machines/2/hardware-preset",
     R"({"number":8})", 400, "number"},
    {"Recall", "POST", "/api/v1/buses/main/machines/1/user-preset/recall", R"({"location":1})",
     200},
    {"StoreNegative", "POST", "/api/v1/buses/main/machines/1/user-preset/store",
     R"({"location":-1})", 400, "location"},
    {"Response", "GET", "/api/v1/buses/main/machines/1/response?points=5&quantized=true", "", 200},
    {"ResponseOnePoint", "GET", "/api/v1/buses/main/machines/1/response?points=1", "", 400,
     "points"},
    {"EqImport", "POST", "/api/v1/buses/main/machines/1/eq",
     "Filter 1: ON PK Fc 100 Hz Gain -3 dB Q 1.41\n", 200},
    {"EqNotFilters", "POST", "/api/v1/buses/main/machines/1/eq", "hello", 400},
    {"Refresh", "POST", "/api/v1/buses/main/refresh", "", 200},
    {"ScanNone", "POST", "/api/v1/buses/main/scan", R"({"max":0})", 400, "max"},
    {"Snapshot", "GET", "/api/v1/buses/main/snapshot", "", 200},
    {"SnapshotNotJson", "PUT", "/api/v1/buses/main/snapshot", "[]", 400},
    {"OpenApi", "GET", "/api/v1/openapi.json", "", 200},
};

class ServiceApi : public ::testing::TestWithParam<EndpointCase> {};

TEST_P(ServiceApi, AnswersAsTheDocumentSays) {
  static ServiceRig rig;
  static OpenApi api;
  const EndpointCase& c = GetParam();
  const Reply r = rig.request(c.method, c.path, c.body);
  ASSERT_EQ(r.status, c.status) << r.body;
  const QJsonObject schema = api.responseSchema(c.method, c.path, c.status);
  ASSERT_FALSE(schema.isEmpty()) << "the document has no answer " << c.status;
  EXPECT_EQ(api.check(QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object(), schema),
            "")
      << r.body;
  if (*c.field) {
    EXPECT_EQ(r.json().value("field").toString().toStdString(), c.field);
  }
}
INSTANTIATE_TEST_SUITE_P(Endpoints, ServiceApi, ::testing::ValuesIn(kEndpoints), ByNameField());

// ---- a change puts the editor's frames on the wire

struct FrameCase {
  const char* name;
  const char* patch;
  std::function<void(EditorRig&)> editor;
};

struct ReferenceEditor : EditorRig {
  void TestBody() override {}
  using EditorRig::open;
  using EditorRig::pc;
  using EditorRig::state;
  using EditorRig::strip;
};

const FrameCase kFrames[] = {
    {"InputGainA", R"({"inputGain":{"a":-3.5}})",
     [](EditorRig& r) { static_cast<ReferenceEditor&>(r).state.SetGainUpDown(0, -7); }},
    {"AttenuationCh34", R"({"attenuation":{"ch34":-6}})",
     [](EditorRig& r) { static_cast<ReferenceEditor&>(r).state.SetKnobPosition(1, 52); }},
    {"DelayCh12", R"({"delay":{"ch12":10}})",
     [](EditorRig& r) { static_cast<ReferenceEditor&>(r).state.SetDelay(0, 10); }},
    {"MuteCh2", R"({"mute":{"2":true}})",
     [](EditorRig& r) { static_cast<ReferenceEditor&>(r).state.SetMute(1, true); }},
    {"AmpLevel", R"({"ampLevel":-10})",
     [](EditorRig& r) { static_cast<ReferenceEditor&>(r).state.SetAmpLevel(235); }},
    // As the window takes the amplifier calculator's trim: whole dB, truncated.
    {"AmpLevelHalfDb", R"({"ampLevel":-3.5})",
     [](EditorRig& r) { static_cast<ReferenceEditor&>(r).state.ApplyAmpTrim(-3.5F); }},
    {"Band4Gain", R"({"bands":[{"band":4,"gain":6}]})",
     [](EditorRig& r) { static_cast<ReferenceEditor&>(r).strip(3).SetGPotPos(6.0F); }},
    {"Band9Frequency", R"({"bands":[{"band":9,"frequency":7000}]})",
     [](EditorRig& r) { static_cast<ReferenceEditor&>(r).strip(8).SetFPotPos(7000.0F); }},
};

class ServiceFrames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(ServiceFrames, PatchSendsTheEditorsFrames) {
  ServiceRig rig;
  ASSERT_EQ(rig.request("GET", "/api/v1/buses/main/machines/1").status, 200);
  rig.clearTranscript();
  ASSERT_EQ(rig.request("PATCH", "/api/v1/buses/main/machines/1", GetParam().patch).status, 200);
  ReferenceEditor ref;
  ref.open(0);
  GetParam().editor(ref);
  EXPECT_EQ(rig.pcBytes(), ref.pc());
}
INSTANTIATE_TEST_SUITE_P(Changes, ServiceFrames, ::testing::ValuesIn(kFrames), ByNameField());

// ---- events

TEST(ServiceEvents, AnotherClientSeesAChangeInOrder) {
  ServiceRig rig;
  EventClient watcher(rig.port);
  ASSERT_TRUE(watcher.upgraded());
  ASSERT_EQ(
      rig.request("PATCH", "/api/v1/buses/main/machines/1", R"({"delay":{"ch34":42}})").status,
      200);
  const QJsonObject started = watcher.next([](const QJsonObject& e) {
    return e.value("type") == "operation" && e.value("phase") == "started";
  });
  const QJsonObject values =
      watcher.next([](const QJsonObject& e) { return e.value("type") == "values"; });
  const QJsonObject finished =
      watcher.next([](const QJsonObject& e) { return e.value("phase") == "finished"; });
  EXPECT_EQ(values["state"]["delay"]["ch34"].toInt(), 42);
  EXPECT_EQ(values.value("machine").toString(), "H000000010001");
  EXPECT_LT(started.value("seq").toDouble(), values.value("seq").toDouble());
  EXPECT_LT(values.value("seq").toDouble(), finished.value("seq").toDouble());
}

// The query of the first level meter, as the editor's level poll sends it.
std::string LevelQuery() {
  SimRig ref;
  ref.connectAndSelect("H000000010001");
  ref.protocolBus.ReadParameterChecked(editor::kFirstLevelParameter);
  return ref.bus->pcBytes();
}

int Count(const std::string& hay, const std::string& needle) {
  int n = 0;
  for (auto at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
  return n;
}

TEST(ServiceEvents, LevelsArePolledOnceForTwoWatchersAndStopWhenTheyLeave) {
  ServiceRig rig;
  const std::string query = LevelQuery();
  const std::string subscribe = R"({"subscribe":"levels","bus":"main","machine":"1"})";
  const std::string unsubscribe = R"({"unsubscribe":"levels","bus":"main","machine":"1"})";
  EventClient a(rig.port), b(rig.port);
  a.send(subscribe);
  b.send(subscribe);
  const auto isLevels = [](const QJsonObject& e) { return e.value("type") == "levels"; };
  // Both see the same polls: the same numbers, one poll each.
  double last = 0;
  for (int i = 0; i < 3; ++i) {
    const QJsonObject ea = a.next(isLevels), eb = b.next(isLevels);
    ASSERT_FALSE(ea.isEmpty());
    EXPECT_EQ(ea.value("seq"), eb.value("seq"));
    last = ea.value("seq").toDouble();
  }
  a.send(unsubscribe);
  b.send(unsubscribe);
  // After the hub told the bus (a request goes through the same queue afterwards), no poll runs.
  ASSERT_EQ(rig.request("GET", "/api/v1/buses/main/machines/2?fresh=true").status, 200);
  bool polling = true;
  rig.onBus([&](service::BusWorker& w) { polling = w.levelPolling(); });
  EXPECT_FALSE(polling);
  const int polls = Count(rig.pcBytes(), query);
  EXPECT_GE(polls, 3);
  EXPECT_LE(polls, static_cast<int>(last));  // never more polls than events numbered
  rig.clearTranscript();
  rig.onBus([](service::BusWorker&) {});
  EXPECT_EQ(Count(rig.pcBytes(), query), 0);
}

// Levels in dB as the level window's scale reads them; a reading that failed is no value.
struct LevelCase {
  const char* name;
  std::function<void(sim::SimProcessor&)> fault;
  std::array<std::optional<std::uint16_t>, editor::kMeterCount> reported;  // empty: not read
};

const LevelCase kLevels[] = {
    {"Read",
     [](sim::SimProcessor& p) {
       p.fixedLevels = {{100, 5623, 0, 2818, 65535, 1}};
     },
     {100, 5623, 0, 2818, 65535, 1}},
    {"SpoiledReplies", [](sim::SimProcessor& p) { p.faults.wrongChecksum = true; }, {}},
};

class ServiceLevels : public ::testing::TestWithParam<LevelCase> {};

TEST_P(ServiceLevels, ComeInTheWindowsDbOrAsNotRead) {
  const LevelCase& c = GetParam();
  ServiceRig rig;
  ASSERT_EQ(rig.request("GET", "/api/v1/buses/main/machines/1?fresh=true").status, 200);
  rig.onBus([&](service::BusWorker&) { c.fault(*rig.bus->find("H000000010001")); });
  EventClient watcher(rig.port);
  watcher.send(R"({"subscribe":"levels","bus":"main","machine":"1"})");
  const QJsonObject e =
      watcher.next([](const QJsonObject& e) { return e.value("type") == "levels"; });
  ASSERT_FALSE(e.isEmpty());
  const QJsonArray levels = e.value("levels").toArray();
  ASSERT_EQ(levels.size(), editor::kMeterCount);
  bool complete = true;
  for (int k = 0; k < editor::kMeterCount; ++k) {
    const auto& reported = c.reported[static_cast<std::size_t>(k)];
    complete = complete && reported.has_value();
    if (!reported) {
      EXPECT_TRUE(levels.at(k).isNull()) << k;
      continue;
    }
    EXPECT_NEAR(levels.at(k).toDouble(), editor::MeterDb(*reported, k < 2), 1e-9) << k;
    // The window's yellow section starts where the reading passes 0 dB.
    EXPECT_EQ(editor::MeterFor(*reported, k < 2).yellow > 0, levels.at(k).toDouble() >= 1.0) << k;
  }
  EXPECT_EQ(e.value("complete").toBool(), complete);
}
INSTANTIATE_TEST_SUITE_P(Readings, ServiceLevels, ::testing::ValuesIn(kLevels), ByNameField());

// ---- what GET shows after a change is what the processors run

// Every machine's values after a show was restored, read as a client reads them (from the
// cache where there is one).
TEST(ServiceTruth, RestoreThenGetShowsTheRestoredShowOnEveryMachine) {
  ServiceRig rig;
  const QJsonObject show = rig.request("GET", "/api/v1/buses/main/snapshot").json();
  QJsonArray machines = show.value("machines").toArray();
  ASSERT_GE(machines.size(), 2);
  // Each machine held in turn, so that each has values cached.
  for (const auto& m : machines)
    ASSERT_EQ(rig.request("GET", "/api/v1/buses/main/machines/" +
                                     m.toObject().value("id").toString().toStdString())
                  .status,
              200);
  for (int i = 0; i < machines.size(); ++i) {
    QJsonObject m = machines.at(i).toObject();
    m.insert("delay", QJsonObject{{"ch12", 20 + i}, {"ch34", 40 + i}});
    machines.replace(i, m);
  }
  const Reply restored =
      rig.request("PUT", "/api/v1/buses/main/snapshot",
                  QJsonDocument(QJsonObject{{"machines", machines}}).toJson().toStdString());
  ASSERT_EQ(restored.status, 200) << restored.body;
  for (int i = 0; i < machines.size(); ++i) {
    const std::string id = machines.at(i).toObject().value("id").toString().toStdString();
    const QJsonObject got = rig.request("GET", "/api/v1/buses/main/machines/" + id).json();
    EXPECT_EQ(got["delay"]["ch12"].toInt(), 20 + i) << id;
    EXPECT_EQ(got["delay"]["ch34"].toInt(), 40 + i) << id;
  }
}

// An operation of the bus or of one machine: a machine's values cached before are read again
// afterwards, so that a change the processor made meanwhile shows.
struct CacheCase {
  const char* name;
  const char* method;
  const char* path;
  const char* body;
};

const CacheCase kCacheCases[] = {
    {"Refresh", "POST", "/api/v1/buses/main/refresh", ""},
    {"Scan", "POST", "/api/v1/buses/main/scan", R"({"max":3})"},
    {"HardwarePreset", "POST", "/api/v1/buses/main/machines/2/hardware-preset", R"({"number":1})"},
};

class ServiceCache : public ::testing::TestWithParam<CacheCase> {};

TEST_P(ServiceCache, AnOperationLeavesNoStaleValues) {
  const CacheCase& c = GetParam();
  ServiceRig rig;
  const std::string machine = "/api/v1/buses/main/machines/H000000010002";
  ASSERT_EQ(rig.request("GET", machine).status, 200);
  rig.onBus([&](service::BusWorker&) { rig.bus->find("H000000010002")->live.delay12 = 77; });
  const Reply r = rig.request(c.method, c.path, c.body);
  ASSERT_EQ(r.status, 200) << r.body;
  int running = -1;
  rig.onBus([&](service::BusWorker&) { running = rig.bus->find("H000000010002")->live.delay12; });
  const QJsonObject got = rig.request("GET", machine).json();
  EXPECT_EQ(got["delay"]["ch12"].toInt(), running);
}
INSTANTIATE_TEST_SUITE_P(Operations, ServiceCache, ::testing::ValuesIn(kCacheCases), ByNameField());

// A band whose write the processor took but whose acknowledgement was lost: in doubt, read
// fresh or not, until it is written again.
TEST(ServiceTruth, ABandWithALostAcknowledgementStaysInDoubtUntilWrittenAgain) {
  ServiceRig rig;
  static OpenApi api;
  const std::string path = "/api/v1/buses/main/machines/1";
  ASSERT_EQ(rig.request("GET", path).status, 200);
  rig.onBus([&](service::BusWorker&) {
    rig.bus->find("H000000010001")->faults.tamper =
        [](char letter, const std::vector<std::uint8_t>&, std::string& answer) {
          if (letter == 'Q') answer.clear();
        };
  });
  const Reply lost = rig.request("PATCH", path, R"({"bands":[{"band":4,"gain":6}]})");
  ASSERT_GE(lost.status, 502) << lost.body;
  EXPECT_EQ(lost.json().value("notApplied").toArray(), QJsonArray{"bands.4"});
  rig.onBus([&](service::BusWorker&) { rig.bus->find("H000000010001")->faults.tamper = nullptr; });
  for (const char* query : {"", "?fresh=true"}) {
    const Reply r = rig.request("GET", path + query);
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(r.json().value("inDoubt").toArray(), QJsonArray{"bands.4"}) << query;
    EXPECT_EQ(api.check(r.json(), api.responseSchema("GET", path, 200)), "");
  }
  const QJsonObject show = rig.request("GET", "/api/v1/buses/main/snapshot").json();
  EXPECT_EQ(show["machines"][0]["inDoubt"].toArray(), QJsonArray{"bands.4"});
  const Reply again = rig.request("PATCH", path, R"({"bands":[{"band":4,"gain":6}]})");
  ASSERT_EQ(again.status, 200) << again.body;
  EXPECT_EQ(again.json().value("inDoubt").toArray(), QJsonArray{});
  EXPECT_EQ(rig.request("GET", path + "?fresh=true").json().value("inDoubt").toArray(),
            QJsonArray{});
}

// A fractional frequency is taken as the editor records it: the answer, a fresh reading (from
// the last-edit file) and the frames agree.
TEST(ServiceTruth, AFractionalFrequencyIsTakenAsTheEditorRecordsIt) {
  ServiceRig rig;
  const std::string path = "/api/v1/buses/main/machines/1";
  // A gain, so that the band's coefficients depend on its frequency.
  ASSERT_EQ(rig.request("PATCH", path, R"({"bands":[{"band":4,"gain":6}]})").status, 200);
  rig.clearTranscript();
  const Reply patched = rig.request("PATCH", path, R"({"bands":[{"band":4,"frequency":1000.6}]})");
  ASSERT_EQ(patched.status, 200) << patched.body;
  EXPECT_EQ(patched.json()["bands"][3]["frequency"].toDouble(), 1000.0);
  const std::string sent = rig.pcBytes();
  ASSERT_EQ(rig.request("PATCH", path, R"({"bands":[{"band":4,"frequency":1001}]})").status, 200);
  rig.clearTranscript();
  ASSERT_EQ(rig.request("PATCH", path, R"({"bands":[{"band":4,"frequency":1000}]})").status, 200);
  EXPECT_EQ(sent, rig.pcBytes()) << "1000.6 Hz went out as something else than 1000 Hz";
  const Reply fresh = rig.request("GET", path + "?fresh=true");
  EXPECT_EQ(fresh.json()["bands"][3]["frequency"].toDouble(), 1000.0);
  EXPECT_EQ(fresh.json().value("inDoubt").toArray(), QJsonArray{});
}

// A scan whose list cannot be stored is no success, and says what it found.
TEST(ServiceTruth, AScanWhoseListCannotBeStoredFailsAndSaysWhatItFound) {
  ServiceRig rig;
  static OpenApi api;
  // A directory where the machine list should be: no file can replace it.
  const auto list = rig.dir.path() / "main" / "maclist.dat";
  std::filesystem::remove(list);
  std::filesystem::create_directories(list / "held");
  const Reply r = rig.request("POST", "/api/v1/buses/main/scan", R"({"max":2})");
  EXPECT_EQ(r.status, 500) << r.body;
  EXPECT_EQ(r.json().value("error").toString(), "not_stored");
  EXPECT_EQ(r.json().value("found").toArray().size(), 2);
  EXPECT_EQ(api.check(r.json(), api.responseSchema("POST", "/api/v1/buses/main/scan", 500)), "");
}

// ---- a bus that cannot open says why

// Standard error while it lives (a file in its place), read back.
class StderrCapture {
 public:
  explicit StderrCapture(const std::filesystem::path& file) : file_(file) {
    std::fflush(stderr);
    saved_ = ::dup(2);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 2);
    ::close(fd);
  }
  ~StderrCapture() {
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
  }
  int lines(const std::string& text) const {
    std::ifstream in(file_);
    int n = 0;
    for (std::string line; std::getline(in, line);) n += line == text ? 1 : 0;
    return n;
  }

 private:
  std::filesystem::path file_;
  int saved_ = -1;
};

struct OpenFaultCase {
  const char* name;
  std::function<void(sim::SimFaults&, bool)> set;
  const char* reason;  // as the adapter says it
};

const OpenFaultCase kOpenFaults[] = {
    {"OpenFails", [](sim::SimFaults& f, bool on) { f.openFails = on; }, "open failed"},
    {"ListingFails", [](sim::SimFaults& f, bool on) { f.listFails = on; }, "listing failed"},
};

class ServiceBusReason : public ::testing::TestWithParam<OpenFaultCase> {};

TEST_P(ServiceBusReason, IsGivenAndLoggedOncePerChangeOfState) {
  const OpenFaultCase& c = GetParam();
  TempDir logs{"qubix-service-stderr"};
  const StderrCapture captured(logs.path() / "stderr");
  RigOptions options;
  options.prepare = [&c](sim::SimAdapter& a) { c.set(a.faults(), true); };
  ServiceRig rig(options);
  static OpenApi api;
  const auto bus = [&] { return rig.request("GET", "/api/v1/buses").json()["buses"][0]; };
  EXPECT_EQ(bus()["state"].toString(), "disconnected");
  EXPECT_EQ(bus()["reason"].toString().toStdString(), c.reason);
  EXPECT_EQ(api.check(rig.request("GET", "/api/v1/buses").json(),
                      api.responseSchema("GET", "/api/v1/buses", 200)),
            "");
  // Retried every kConnectRetryMs, said once.
  std::this_thread::sleep_for(std::chrono::milliseconds(service::kConnectRetryMs * 3));
  rig.onBus([&](service::BusWorker&) { c.set(rig.adapter->faults(), false); });
  for (int i = 0; i < 50 && bus()["state"] != "connected"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(bus()["state"].toString(), "connected");
  EXPECT_TRUE(bus()["reason"].isNull());
  EXPECT_EQ(captured.lines("qubix24d: bus main: disconnected: " + std::string(c.reason)), 1);
  EXPECT_EQ(captured.lines("qubix24d: bus main: connected"), 1);
}
INSTANTIATE_TEST_SUITE_P(Adapters, ServiceBusReason, ::testing::ValuesIn(kOpenFaults),
                         ByNameField());

// However fast requests come (OSC datagrams are not held back by a connection), a bus keeps at
// most kMaxQueuedOperations waiting and answers the rest "busy" at once.
TEST(ServiceQueue, ABusFullOfWaitingOperationsRefusesTheRestAtOnce) {
  ServiceRig rig;
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  int answered = 0, busy = 0;
  const auto count = [&](const service::HttpResponse& r) {
    ++(r.status == 503 && r.body.find("\"busy\"") != std::string::npos ? busy : answered);
  };
  const int extra = 10;
  rig.run([&] {
    rig.serviceBus->run(
        "", "",
        [opened](service::BusWorker&) {
          opened.wait();
          return service::HttpResponse{};
        },
        count);
    for (int i = 0; i < service::kMaxQueuedOperations - 1 + extra; ++i)
      rig.serviceBus->run(
          "", "", [](service::BusWorker&) { return service::HttpResponse{}; }, count);
  });
  gate.set_value();
  rig.onBus([](service::BusWorker&) {});  // every operation before this one has run
  rig.run([] {});                         // and its answer has been delivered
  EXPECT_EQ(answered, service::kMaxQueuedOperations);
  EXPECT_EQ(busy, extra);
  EXPECT_EQ(rig.request("GET", "/api/v1/buses/main/machines/1?fresh=true").status, 200);
}

// ---- faults: an honest status, nothing claimed, and the next request works

struct FaultCase {
  const char* name;
  bool unplug;  // else the processor falls silent
  const char* method;
  const char* path;
  const char* body;
  int status;
};

const FaultCase kFaults[] = {
    {"SilentDuringPatch", false, "PATCH", "/api/v1/buses/main/machines/1",
     R"({"inputGain":{"b":-6},"bands":[{"band":2,"gain":3}]})", 504},
    {"UnpluggedDuringPatch", true, "PATCH", "/api/v1/buses/main/machines/1",
     R"({"delay":{"ch12":20}})", 503},
    {"SilentDuringPresetChange", false, "POST", "/api/v1/buses/main/machines/1/hardware-preset",
     R"({"number":2})", 504},
    {"UnpluggedDuringRestore", true, "PUT", "/api/v1/buses/main/snapshot", nullptr, 503},
};

class ServiceFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ServiceFaults, SayWhatHappenedAndRecover) {
  const FaultCase& c = GetParam();
  ServiceRig rig;
  static OpenApi api;
  ASSERT_EQ(rig.request("GET", "/api/v1/buses/main/machines/1").status, 200);
  std::string body = c.body ? c.body : rig.request("GET", "/api/v1/buses/main/snapshot").body;
  EventClient watcher(rig.port);
  rig.onBus([&](service::BusWorker&) {
    if (c.unplug)
      rig.adapter->faults().unplugged = true;
    else
      rig.bus->find("H000000010001")->faults.silent = true;
  });
  const Reply failed = rig.request(c.method, c.path, body);
  EXPECT_EQ(failed.status, c.status) << failed.body;
  EXPECT_EQ(api.check(failed.json(), api.responseSchema(c.method, c.path, c.status)), "");
  EXPECT_TRUE(watcher.next([](const QJsonObject& e) { return e.value("phase") == "failed"; })
                  .contains("message"));
  rig.onBus([&](service::BusWorker&) {
    rig.adapter->faults().unplugged = false;
    rig.bus->find("H000000010001")->faults.silent = false;
  });
  if (c.unplug) {
    EXPECT_FALSE(watcher
                     .next([](const QJsonObject& e) {
                       return e.value("type") == "bus" && e.value("state") == "connected";
                     })
                     .isEmpty());
  }
  const Reply again = rig.request(c.method, c.path, body);
  EXPECT_EQ(again.status, 200) << again.body;
}
INSTANTIATE_TEST_SUITE_P(Faults, ServiceFaults, ::testing::ValuesIn(kFaults), ByNameField());

}  // namespace
}  // namespace qubix::test
