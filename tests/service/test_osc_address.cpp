// Every OSC address and the API request it becomes; wrong addresses and arguments come to an
// error and no request.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "service/osc/OscAddress.h"
#include "support/CaseNames.h"

namespace qubix::test {
namespace {

using service::osc::OscArg;
using service::osc::OscTranslation;
using service::osc::TranslateOsc;

OscArg F(float v) { return {'f', v, {}}; }
OscArg I(int v) { return {'i', static_cast<double>(v), {}}; }
OscArg D(double v) { return {'d', v, {}}; }
OscArg S(const char* v) { return {'s', 0.0, v}; }
OscArg T() { return {'T', 1.0, {}}; }

struct RequestCase {
  const char* name;
  const char* address;
  std::vector<OscArg> args;
  const char* method;
  const char* path;
  const char* body;
};

const std::string kM = "/api/v1/buses/main/machines/0001";

class OscRequests : public ::testing::TestWithParam<RequestCase> {};

TEST_P(OscRequests, BecomeTheApiRequest) {
  const auto& c = GetParam();
  const OscTranslation t = TranslateOsc(c.address, c.args);
  ASSERT_EQ(t.kind, OscTranslation::Kind::Request) << t.error;
  EXPECT_EQ(t.method, c.method);
  EXPECT_EQ(t.path, c.path);
  EXPECT_EQ(t.body, c.body);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OscRequests,
    ::testing::Values(
        RequestCase{"mute_on",
                    "/qubix24/main/0001/mute/3",
                    {I(1)},
                    "PATCH",
                    kM.c_str(),
                    R"({"mute":{"3":true}})"},
        RequestCase{"mute_off_by_F",
                    "/qubix24/main/0001/mute/1",
                    {{'F', 0, {}}},
                    "PATCH",
                    kM.c_str(),
                    R"({"mute":{"1":false}})"},
        RequestCase{"input_b_gain",
                    "/qubix24/main/0001/input/b/gain",
                    {F(-3.5f)},
                    "PATCH",
                    kM.c_str(),
                    R"({"inputGain":{"b":-3.5}})"},
        RequestCase{"output_2_is_pair_12",
                    "/qubix24/main/0001/output/2/attenuation",
                    {F(-6)},
                    "PATCH",
                    kM.c_str(),
                    R"({"attenuation":{"ch12":-6}})"},
        RequestCase{"output_3_is_pair_34",
                    "/qubix24/main/0001/output/3/attenuation",
                    {I(-1)},
                    "PATCH",
                    kM.c_str(),
                    R"({"attenuation":{"ch34":-1}})"},
        RequestCase{"delay_2",
                    "/qubix24/main/0001/delay/2",
                    {F(10)},
                    "PATCH",
                    kM.c_str(),
                    R"({"delay":{"ch34":10}})"},
        RequestCase{"band_gain_float_as_sent",
                    "/qubix24/main/0001/band/4/gain",
                    {F(0.1f)},
                    "PATCH",
                    kM.c_str(),
                    R"({"bands":[{"band":4,"gain":0.1}]})"},
        RequestCase{"band_frequency_double",
                    "/qubix24/main/0001/band/10/frequency",
                    {D(1250.5)},
                    "PATCH",
                    kM.c_str(),
                    R"({"bands":[{"band":10,"frequency":1250.5}]})"},
        RequestCase{"band_q",
                    "/qubix24/main/0001/band/1/q",
                    {F(1.4f)},
                    "PATCH",
                    kM.c_str(),
                    R"({"bands":[{"band":1,"q":1.4}]})"},
        RequestCase{
            "flat_by_T", "/qubix24/main/0001/flat", {T()}, "PATCH", kM.c_str(), R"({"flat":true})"},
        RequestCase{"hardware_preset_by_slot",
                    "/qubix24/main/2/hardware-preset",
                    {I(3)},
                    "POST",
                    "/api/v1/buses/main/machines/2/hardware-preset",
                    R"({"number":3})"},
        RequestCase{"recall_whole_float",
                    "/qubix24/main/0001/user-preset/recall",
                    {F(5)},
                    "POST",
                    "/api/v1/buses/main/machines/0001/user-preset/recall",
                    R"({"location":5})"},
        RequestCase{"store",
                    "/qubix24/stage/H000000010002/user-preset/store",
                    {I(0)},
                    "POST",
                    "/api/v1/buses/stage/machines/H000000010002/user-preset/store",
                    R"({"location":0})"},
        RequestCase{
            "refresh", "/qubix24/main/refresh", {}, "POST", "/api/v1/buses/main/refresh", ""}),
    ByNameField());

struct ErrorCase {
  const char* name;
  const char* address;
  std::vector<OscArg> args;
  const char* reason;  // the start of the error text
};

class OscErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(OscErrors, ComeToAnErrorAndNoRequest) {
  const auto& c = GetParam();
  const OscTranslation t = TranslateOsc(c.address, c.args);
  EXPECT_EQ(t.kind, OscTranslation::Kind::Error);
  EXPECT_TRUE(t.method.empty() && t.path.empty());
  EXPECT_EQ(t.error.rfind(c.reason, 0), 0u) << t.error;
}

INSTANTIATE_TEST_SUITE_P(
    Table, OscErrors,
    ::testing::Values(
        ErrorCase{"other_root", "/qubix25/main/0001/flat", {I(1)}, "unknown address"},
        ErrorCase{"mute_5", "/qubix24/main/0001/mute/5", {I(1)}, "unknown address"},
        ErrorCase{"band_0", "/qubix24/main/0001/band/0/gain", {F(1)}, "unknown address"},
        ErrorCase{"band_11", "/qubix24/main/0001/band/11/gain", {F(1)}, "unknown address"},
        ErrorCase{"band_plus_4", "/qubix24/main/0001/band/+4/gain", {F(1)}, "unknown address"},
        ErrorCase{"input_c", "/qubix24/main/0001/input/c/gain", {F(1)}, "unknown address"},
        ErrorCase{"delay_3", "/qubix24/main/0001/delay/3", {F(1)}, "unknown address"},
        ErrorCase{"dot_dot_machine", "/qubix24/main/../flat", {I(1)}, "unknown address"},
        ErrorCase{"escaping_bus", "/qubix24/ma%2Fin/0001/flat", {I(1)}, "unknown address"},
        ErrorCase{"trailing_slash", "/qubix24/main/0001/flat/", {I(1)}, "unknown address"},
        ErrorCase{"gain_as_string", "/qubix24/main/0001/band/4/gain", {S("6")}, "wrong type"},
        ErrorCase{"gain_missing", "/qubix24/main/0001/band/4/gain", {}, "wrong type"},
        ErrorCase{"gain_twice", "/qubix24/main/0001/band/4/gain", {F(1), F(2)}, "wrong type"},
        ErrorCase{"preset_fraction", "/qubix24/main/0001/hardware-preset", {F(2.5f)}, "wrong type"},
        ErrorCase{"mute_two", "/qubix24/main/0001/mute/1", {I(2)}, "out of range"},
        ErrorCase{"gain_nan", "/qubix24/main/0001/band/4/gain", {D(std::nan(""))}, "out of range"},
        ErrorCase{"refresh_with_argument", "/qubix24/main/refresh", {I(1)}, "wrong type"},
        ErrorCase{"subscribe_with_float", "/qubix24/subscribe", {F(1)}, "wrong type"}),
    ByNameField());

TEST(OscSubscription, SubscribeAndUnsubscribeAreNotRequests) {
  EXPECT_EQ(TranslateOsc("/qubix24/subscribe", {}).kind, OscTranslation::Kind::Subscribe);
  EXPECT_EQ(TranslateOsc("/qubix24/unsubscribe", {}).kind, OscTranslation::Kind::Unsubscribe);
}

TEST(OscSubscription, TakesAPortAndAForm) {
  const OscTranslation t = TranslateOsc("/qubix24/subscribe", {I(9001), S("slot")});
  ASSERT_EQ(t.kind, OscTranslation::Kind::Subscribe) << t.error;
  EXPECT_EQ(t.port, 9001);
  EXPECT_EQ(t.form, "slot");
  EXPECT_EQ(TranslateOsc("/qubix24/subscribe", {I(0)}).kind, OscTranslation::Kind::Error);
  EXPECT_EQ(TranslateOsc("/qubix24/subscribe", {S("name")}).kind, OscTranslation::Kind::Error);
  const OscTranslation c = TranslateOsc("/qubix24/connect", {S("secret")});
  ASSERT_EQ(c.kind, OscTranslation::Kind::Connect);
  EXPECT_EQ(c.passcode, "secret");
  EXPECT_EQ(TranslateOsc("/qubix24/connect", {}).kind, OscTranslation::Kind::Error);
}

struct PatternCase {
  const char* name;
  const char* pattern;
  const char* address;
  bool matches;
};

class OscPatterns : public ::testing::TestWithParam<PatternCase> {};

TEST_P(OscPatterns, MatchAsOscDefinesThem) {
  const auto& c = GetParam();
  EXPECT_EQ(service::osc::MatchOscPattern(c.pattern, c.address), c.matches);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OscPatterns,
    ::testing::Values(PatternCase{"star_one_part", "/q/m/*/mute/1", "/q/m/H01/mute/1", true},
                      PatternCase{"star_not_across_slash", "/q/*/mute/1", "/q/m/H01/mute/1", false},
                      PatternCase{"star_empty", "/q/m*/x", "/q/m/x", true},
                      PatternCase{"question_one_char", "/q/m/?/flat", "/q/m/3/flat", true},
                      PatternCase{"question_not_two", "/q/m/?/flat", "/q/m/33/flat", false},
                      PatternCase{"range_in", "/q/m/[1-4]/flat", "/q/m/4/flat", true},
                      PatternCase{"range_out", "/q/m/[1-4]/flat", "/q/m/5/flat", false},
                      PatternCase{"negated_range", "/q/m/[!1-4]/flat", "/q/m/5/flat", true},
                      PatternCase{"negated_range_in", "/q/m/[!1-4]/flat", "/q/m/2/flat", false},
                      PatternCase{"list", "/q/input/[ab]/gain", "/q/input/b/gain", true},
                      PatternCase{"alternatives", "/q/m/1/mute/{1,4}", "/q/m/1/mute/4", true},
                      PatternCase{"alternatives_none", "/q/m/1/mute/{1,4}", "/q/m/1/mute/2", false},
                      PatternCase{"alternative_words", "/q/band/1/{gain,q}", "/q/band/1/q", true},
                      PatternCase{"unclosed_bracket", "/q/m/[1-4/flat", "/q/m/1/flat", false},
                      PatternCase{"literal", "/q/m/1/flat", "/q/m/1/flat", true},
                      // Tried by backtracking alone, this takes longer than the test may.
                      PatternCase{
                          "many_stars_bounded", "/*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b",
                          "/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
                          false}),
    ByNameField());

const std::vector<service::osc::OscSpaceBus> kSpace{{"main", {{1, "H01"}, {2, "H02"}, {3, "H03"}}},
                                                    {"stage", {{1, "H11"}}}};

struct ExpansionCase {
  const char* name;
  const char* pattern;
  std::vector<std::string> addresses;  // empty: refused
};

class OscExpansions : public ::testing::TestWithParam<ExpansionCase> {};

TEST_P(OscExpansions, StandForTheServicesAddresses) {
  const auto& c = GetParam();
  const auto e = service::osc::ExpandOscPattern(c.pattern, kSpace);
  EXPECT_EQ(e.addresses, c.addresses);
  EXPECT_EQ(e.error.empty(), !c.addresses.empty()) << e.error;
}

INSTANTIATE_TEST_SUITE_P(
    Table, OscExpansions,
    ::testing::Values(
        ExpansionCase{
            "every_machine_of_the_bus",
            "/qubix24/main/*/mute/1",
            {"/qubix24/main/1/mute/1", "/qubix24/main/2/mute/1", "/qubix24/main/3/mute/1"}},
        ExpansionCase{"slots_and_outputs",
                      "/qubix24/main/[1-2]/mute/{1,4}",
                      {"/qubix24/main/1/mute/1", "/qubix24/main/1/mute/4", "/qubix24/main/2/mute/1",
                       "/qubix24/main/2/mute/4"}},
        ExpansionCase{"negated_slot", "/qubix24/main/[!1-2]/flat", {"/qubix24/main/3/flat"}},
        ExpansionCase{
            "by_identifier",
            "/qubix24/main/H0?/flat",
            {"/qubix24/main/H01/flat", "/qubix24/main/H02/flat", "/qubix24/main/H03/flat"}},
        ExpansionCase{
            "every_bus", "/qubix24/*/refresh", {"/qubix24/main/refresh", "/qubix24/stage/refresh"}},
        ExpansionCase{"too_many", "/qubix24/main/*/band/*/*", {}},
        ExpansionCase{"nothing", "/qubix24/main/9/*", {}},
        ExpansionCase{"not_subscribe", "/qubix24/*scribe", {}}),
    ByNameField());

struct TimingCase {
  const char* name;
  int aheadMs;  // the tag's time from now; INT_MIN: the tag 1 (immediately)
  service::osc::BundleTiming::Kind kind;
};

class OscBundleTimes : public ::testing::TestWithParam<TimingCase> {};

TEST_P(OscBundleTimes, RunNowLaterOrNot) {
  using namespace std::chrono;
  const auto& c = GetParam();
  const system_clock::time_point now = system_clock::now();
  const std::uint64_t tag =
      c.aheadMs == INT_MIN ? 1 : service::osc::TimeTagOf(now + milliseconds(c.aheadMs));
  const auto timing = service::osc::TimeBundle(tag, now);
  EXPECT_EQ(timing.kind, c.kind);
  if (c.kind == service::osc::BundleTiming::Kind::Later) {
    EXPECT_GE(timing.wait.count(), c.aheadMs - 1);
    EXPECT_LE(timing.wait.count(), c.aheadMs + 1);
  }
}

using Timing = service::osc::BundleTiming::Kind;
INSTANTIATE_TEST_SUITE_P(Table, OscBundleTimes,
                         ::testing::Values(TimingCase{"immediately", INT_MIN, Timing::Now},
                                           TimingCase{"past", -1500, Timing::Now},
                                           TimingCase{"five_seconds", 5000, Timing::Later},
                                           TimingCase{"sixty_seconds", 60000, Timing::Later},
                                           TimingCase{"beyond_the_limit", 61000, Timing::TooFar}),
                         ByNameField());

TEST(OscMachineForm, TellsSlotFromIdentifierAndRenames) {
  using service::osc::MachineForm;
  EXPECT_EQ(service::osc::MachineFormOf("/qubix24/main/3/mute/1"), MachineForm::Slot);
  EXPECT_EQ(service::osc::MachineFormOf("/qubix24/main/H01/mute/1"), MachineForm::Identifier);
  EXPECT_EQ(service::osc::MachineFormOf("/qubix24/main/refresh"), std::nullopt);
  EXPECT_EQ(service::osc::WithMachine("/qubix24/main/H01/band/2/q", "4"),
            "/qubix24/main/4/band/2/q");
}

TEST(OscHelp, ListsEveryAddressTheTranslationTakes) {
  const std::string help = service::osc::OscHelpText();
  for (const char* address :
       {"/qubix24/{bus}/{machine}/mute/{1-4}", "/qubix24/{bus}/{machine}/input/{a|b}/gain",
        "/qubix24/{bus}/{machine}/output/{1-4}/attenuation", "/qubix24/{bus}/{machine}/delay/{1-2}",
        "/qubix24/{bus}/{machine}/band/{1-10}/gain", "/qubix24/{bus}/{machine}/band/{1-10}/q",
        "/qubix24/{bus}/{machine}/band/{1-10}/frequency", "/qubix24/{bus}/{machine}/flat",
        "/qubix24/{bus}/{machine}/hardware-preset", "/qubix24/{bus}/{machine}/user-preset/recall",
        "/qubix24/{bus}/{machine}/user-preset/store", "/qubix24/{bus}/refresh",
        "/qubix24/subscribe", "/qubix24/unsubscribe", "/qubix24/connect"})
    EXPECT_NE(help.find(address), std::string::npos) << address;
}

}  // namespace
}  // namespace qubix::test
