// qubix24d over real HTTP on 127.0.0.1 against a simulated bus: every answer checked against
// the OpenAPI document, a change's frames against the editor's, events, level polls and
// faults.
#include <gtest/gtest.h>

#include <functional>
#include <future>

#include "SchemaCheck.h"
#include "ServiceRig.h"
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
