// Who may do what: a table of requests against the decision, the token file, sessions and the
// limit on changing requests per client address (on a clock the test turns).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "service/http/Access.h"
#include "support/CaseNames.h"
#include "support/NamedPipe.h"
#include "support/TempDir.h"

using namespace qubix::service;
using Clock = RateLimiter::Clock;
using namespace std::chrono_literals;

namespace {

const Tokens kTokens{std::string(64, 'a'), std::string(63, 'c') + "d"};
const std::string kHost = "192.0.2.7:8424";

HttpRequest Request(std::string method, std::vector<std::pair<std::string, std::string>> headers,
                    std::string path = "/api/v1/buses") {
  HttpRequest r;
  r.method = std::move(method);
  r.path = std::move(path);
  r.headers = std::move(headers);
  if (!r.header("host")) r.headers.emplace_back("host", kHost);
  return r;
}

std::string SessionCookieOf(const HttpResponse& response) {
  for (const auto& [name, value] : response.headers)
    if (name == "Set-Cookie") return value.substr(0, value.find(';'));
  return {};
}

struct AdmitCase {
  std::string name;
  bool loopback;
  std::string method;
  std::vector<std::pair<std::string, std::string>> headers;  // "{cookie}": a control session
  int status;                                                // 0: admitted
  Access level;
};

class AdmitCases : public testing::TestWithParam<AdmitCase> {};

TEST_P(AdmitCases, StatusAndLevel) {
  const auto& c = GetParam();
  AccessControl access(kTokens, c.loopback, false);
  const auto cookie = SessionCookieOf(
      access.openSession(Request("POST", {{"authorization", "Bearer " + kTokens.control}})));
  auto headers = c.headers;
  for (auto& [name, value] : headers)
    if (auto at = value.find("{cookie}"); at != std::string::npos) value.replace(at, 8, cookie);
  Access level = Access::None;
  const auto refusal = access.admit(Request(c.method, headers), "192.0.2.9", Clock::now(), &level);
  EXPECT_EQ(refusal ? refusal->status : 0, c.status) << (refusal ? refusal->body : "");
  if (!refusal) {
    EXPECT_EQ(level, c.level);
  }
}

const std::string kControl = "Bearer " + kTokens.control;
const std::string kView = "Bearer " + kTokens.view;

INSTANTIATE_TEST_SUITE_P(
    Access, AdmitCases,
    testing::Values(
        AdmitCase{"no_token", false, "GET", {}, 401, Access::None},
        AdmitCase{"token_one_digit_off",
                  false,
                  "GET",
                  {{"authorization", "Bearer " + std::string(63, 'c') + "e"}},
                  401,
                  Access::None},
        AdmitCase{"token_one_digit_short",
                  false,
                  "GET",
                  {{"authorization", "Bearer " + std::string(63, 'a')}},
                  401,
                  Access::None},
        AdmitCase{"view_reads", false, "GET", {{"authorization", kView}}, 0, Access::View},
        AdmitCase{"view_patches", false, "PATCH", {{"authorization", kView}}, 403, Access::View},
        AdmitCase{
            "control_patches", false, "PATCH", {{"authorization", kControl}}, 0, Access::Control},
        AdmitCase{"scheme_in_lower_case",
                  false,
                  "GET",
                  {{"authorization", "bearer " + kTokens.control}},
                  0,
                  Access::Control},
        AdmitCase{
            "session_cookie", false, "PATCH", {{"cookie", "a=1; {cookie}"}}, 0, Access::Control},
        AdmitCase{"unknown_cookie",
                  false,
                  "GET",
                  {{"cookie", "qubix24_session=" + std::string(64, '0')}},
                  401,
                  Access::None},
        AdmitCase{"other_site_page",
                  false,
                  "PATCH",
                  {{"authorization", kControl}, {"origin", "http://evil.example"}},
                  403,
                  Access::None},
        AdmitCase{"own_page",
                  false,
                  "PATCH",
                  {{"cookie", "{cookie}"}, {"origin", "http://" + kHost}},
                  0,
                  Access::Control},
        AdmitCase{"loopback_needs_no_token",
                  true,
                  "PATCH",
                  {{"host", "127.0.0.1:8424"}},
                  0,
                  Access::Control},
        AdmitCase{"loopback_foreign_host_name",
                  true,
                  "GET",
                  {{"host", "evil.example:8424"}},
                  403,
                  Access::None},
        AdmitCase{"loopback_other_site_page",
                  true,
                  "POST",
                  {{"host", "localhost:8424"}, {"origin", "http://evil.example"}},
                  403,
                  Access::None}),
    qubix::test::ByNameField());

struct UpgradeCase {
  std::string name;
  std::vector<std::pair<std::string, std::string>> headers;
  int status;
};
class UpgradeCases : public testing::TestWithParam<UpgradeCase> {};

TEST_P(UpgradeCases, Status) {
  AccessControl access(kTokens, false, false);
  const auto cookie =
      SessionCookieOf(access.openSession(Request("POST", {{"authorization", kView}})));
  auto headers = GetParam().headers;
  for (auto& [name, value] : headers)
    if (auto at = value.find("{cookie}"); at != std::string::npos) value.replace(at, 8, cookie);
  const auto refusal = access.admitUpgrade(Request("GET", headers, "/api/v1/events"));
  EXPECT_EQ(refusal ? refusal->status : 0, GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Access, UpgradeCases,
    testing::Values(UpgradeCase{"cookie_own_origin",
                                {{"cookie", "{cookie}"}, {"origin", "http://" + kHost}},
                                0},
                    UpgradeCase{"cookie_other_origin",
                                {{"cookie", "{cookie}"}, {"origin", "http://evil.example"}},
                                403},
                    UpgradeCase{"cookie_other_port",
                                {{"cookie", "{cookie}"}, {"origin", "http://192.0.2.7:8425"}},
                                403},
                    UpgradeCase{"cookie_without_origin", {{"cookie", "{cookie}"}}, 403},
                    UpgradeCase{"bearer_without_origin", {{"authorization", kView}}, 0},
                    UpgradeCase{"nothing", {{"origin", "http://" + kHost}}, 401}),
    qubix::test::ByNameField());

TEST(Access, TheSessionCookieIsHttpOnlyStrictAndSecureUnderTls) {
  for (bool tls : {false, true}) {
    AccessControl access(kTokens, false, tls);
    HttpRequest r = Request("POST", {}, "/api/v1/session");
    r.body = R"({ "token" : ")" + kTokens.view + R"(" })";
    const auto response = access.openSession(r);
    ASSERT_EQ(response.status, 200) << response.body;
    EXPECT_EQ(response.body, R"({"access":"view"})");
    const auto& cookie = response.headers.at(0).second;
    EXPECT_EQ(cookie.substr(cookie.find(';')),
              std::string("; HttpOnly; SameSite=Strict; Path=/") + (tls ? "; Secure" : ""));
    EXPECT_EQ(cookie.find(kTokens.view), std::string::npos);
    r.body = R"({"token":")" + kTokens.view.substr(1) + "\"}";
    EXPECT_EQ(access.openSession(r).status, 401);
  }
}

TEST(Access, AFullLevelLetsGoItsLeastRecentlyUsedSessionOnly) {
  AccessControl access(kTokens, false, false, 2);
  const auto t0 = Clock::now();
  const auto asControl = Request("POST", {{"authorization", kControl}});
  const auto asView = Request("POST", {{"authorization", kView}});
  const auto first = SessionCookieOf(access.openSession(asControl, t0));
  const auto second = SessionCookieOf(access.openSession(asControl, t0 + 1s));
  // Views coming and going in numbers push out views only.
  for (int i = 0; i < 5; ++i) access.openSession(asView, t0 + 2s + i * 1s);
  EXPECT_EQ(access.sessions(), 4u);
  EXPECT_EQ(access.decide(Request("GET", {{"cookie", first}}), t0 + 10s), Access::Control);
  // The first was used later than the second: a third control session pushes out the second.
  access.openSession(asControl, t0 + 11s);
  EXPECT_EQ(access.decide(Request("GET", {{"cookie", first}}), t0 + 12s), Access::Control);
  EXPECT_EQ(access.decide(Request("GET", {{"cookie", second}}), t0 + 12s), Access::None);
}

TEST(Access, ASessionIdleTooLongIsGoneAndUseKeepsItAlive) {
  AccessControl access(kTokens, false, false);
  const auto t0 = Clock::now();
  const auto ask = Request("POST", {{"authorization", kView}});
  const auto used = SessionCookieOf(access.openSession(ask, t0));
  const auto idle = SessionCookieOf(access.openSession(ask, t0));
  const auto get = [&](const std::string& cookie, Clock::time_point at) {
    return access.decide(Request("GET", {{"cookie", cookie}}), at);
  };
  EXPECT_EQ(get(used, t0 + kSessionIdle - 1s), Access::View);
  EXPECT_EQ(get(used, t0 + kSessionIdle + 1s), Access::View);
  EXPECT_EQ(get(idle, t0 + kSessionIdle + 1s), Access::None);
  EXPECT_EQ(get(used, t0 + 2 * kSessionIdle + 2s), Access::None);
  EXPECT_EQ(access.sessions(), 0u);
}

TEST(Access, TheTokenFileIsMadePrivateAndReadBack) {
  qubix::test::TempDir dir;
  const auto made = LoadOrCreateTokens(dir.path());
  ASSERT_TRUE(made.tokens) << made.error;
  EXPECT_TRUE(made.created);
  EXPECT_EQ(made.tokens->view.size(), 64u);
  EXPECT_NE(made.tokens->view, made.tokens->control);
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("qubix24d-tokens").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const auto again = LoadOrCreateTokens(dir.path());
  ASSERT_TRUE(again.tokens) << again.error;
  EXPECT_FALSE(again.created);
  EXPECT_EQ(again.tokens->control, made.tokens->control);
  EXPECT_EQ(again.tokens->view, made.tokens->view);
}

TEST(Access, ATokenFileOthersMayReadIsRefused) {
  qubix::test::TempDir dir;
  ASSERT_TRUE(LoadOrCreateTokens(dir.path()).tokens);
  ::chmod(dir.file("qubix24d-tokens").c_str(), 0644);
  const auto refused = LoadOrCreateTokens(dir.path());
  EXPECT_FALSE(refused.tokens);
  EXPECT_NE(refused.error.find("may be read by others (mode 0644)"), std::string::npos)
      << refused.error;
  EXPECT_EQ(refused.error.find(std::string(8, 'a')), std::string::npos);
}

TEST(Access, ATokenFileWithoutAControlTokenIsRefused) {
  qubix::test::TempDir dir;
  { std::ofstream(dir.file("qubix24d-tokens")) << "view " << std::string(64, 'a') << "\n"; }
  ::chmod(dir.file("qubix24d-tokens").c_str(), 0600);
  const auto refused = LoadOrCreateTokens(dir.path());
  EXPECT_FALSE(refused.tokens);
  EXPECT_NE(refused.error.find("does not hold a view and a control token"), std::string::npos);
}

struct TokenFileCase {
  std::string name;
  std::string text;
  std::string error;  // a part of the refusal
};
class TokenFileCases : public testing::TestWithParam<TokenFileCase> {};

TEST_P(TokenFileCases, AreRefused) {
  qubix::test::TempDir dir;
  { std::ofstream(dir.file("qubix24d-tokens")) << GetParam().text; }
  ::chmod(dir.file("qubix24d-tokens").c_str(), 0600);
  const auto refused = LoadOrCreateTokens(dir.path());
  EXPECT_FALSE(refused.tokens);
  EXPECT_NE(refused.error.find(GetParam().error), std::string::npos) << refused.error;
}

const std::string kRandom = "3f9c0e51b7a2d48e6c19f0a3b5d27e84c6a1f93b0e7d52a8c4f16b9e03d7a25c";

INSTANTIATE_TEST_SUITE_P(
    Access, TokenFileCases,
    testing::Values(
        TokenFileCase{"all_zeros", "view " + std::string(64, '0') + "\ncontrol " + kRandom + "\n",
                      "anyone could guess"},
        TokenFileCase{
            "two_digits_repeated",
            "view " + kRandom + "\ncontrol " + std::string(32, 'a') + std::string(32, 'b') + "\n",
            "anyone could guess"},
        TokenFileCase{"one_token_for_both", "view " + kRandom + "\ncontrol " + kRandom + "\n",
                      "anyone could guess"},
        TokenFileCase{"too_short", "view " + kRandom + "\ncontrol " + kRandom.substr(0, 16) + "\n",
                      "64 hex digits"}),
    qubix::test::ByNameField());

TEST(Access, ShowingTheTokensNeverMakesAFile) {
  qubix::test::TempDir dir;
  const auto shown = LoadOrCreateTokens(dir.path(), TokenFileUse::Show);
  EXPECT_FALSE(shown.tokens);
  EXPECT_NE(shown.error.find("there is no token file"), std::string::npos) << shown.error;
  EXPECT_FALSE(std::filesystem::exists(dir.file("qubix24d-tokens")));
  const auto made = LoadOrCreateTokens(dir.path());
  ASSERT_TRUE(made.tokens) << made.error;
  const auto again = LoadOrCreateTokens(dir.path(), TokenFileUse::Show);
  ASSERT_TRUE(again.tokens) << again.error;
  EXPECT_EQ(again.tokens->control, made.tokens->control);
}

// On a loopback listener every request may do everything; a page of another site may still
// not start a read that runs on a bus.
struct BusReadCase {
  std::string name;
  std::string path;
  std::vector<std::pair<std::string, std::string>> headers;
  int status;
};
class BusReadCases : public testing::TestWithParam<BusReadCase> {};

TEST_P(BusReadCases, Status) {
  AccessControl access(kTokens, true, false);
  auto headers = GetParam().headers;
  headers.emplace_back("host", "127.0.0.1:8424");
  HttpRequest request = Request("GET", headers, GetParam().path);
  const auto refusal = access.admit(request, "127.0.0.1", Clock::now());
  EXPECT_EQ(refusal ? refusal->status : 0, GetParam().status);
}

const std::pair<std::string, std::string> kForeign{"origin", "http://evil.example"};
const std::pair<std::string, std::string> kCrossSite{"sec-fetch-site", "cross-site"};

INSTANTIATE_TEST_SUITE_P(
    Access, BusReadCases,
    testing::Values(
        BusReadCase{"machine_foreign", "/api/v1/buses/main/machines/1", {kForeign}, 403},
        BusReadCase{"eq_foreign", "/api/v1/buses/main/machines/1/eq", {kForeign}, 403},
        BusReadCase{
            "response_cross_site", "/api/v1/buses/main/machines/1/response", {kCrossSite}, 403},
        BusReadCase{"snapshot_foreign", "/api/v1/buses/main/snapshot", {kForeign}, 403},
        BusReadCase{"eq_own_page",
                    "/api/v1/buses/main/machines/1/eq",
                    {{"origin", "http://127.0.0.1:8424"}, {"sec-fetch-site", "same-origin"}},
                    0},
        BusReadCase{"eq_typed_in", "/api/v1/buses/main/machines/1/eq", {}, 0},
        BusReadCase{"bus_list_foreign", "/api/v1/buses", {kForeign}, 0},
        BusReadCase{"machine_list_foreign", "/api/v1/buses/main/machines", {kForeign}, 0}),
    qubix::test::ByNameField());

TEST(Access, ANamedPipeAsTheTokenFileIsRefusedAtOnce) {
  qubix::test::TempDir dir;
  const auto pipe = dir.path() / "qubix24d-tokens";
  qubix::test::MakeNamedPipe(pipe);
  const auto error =
      qubix::test::ReadWithWatchdog(pipe, [&] { return LoadOrCreateTokens(dir.path()).error; });
  ASSERT_TRUE(error) << "the service waited on the pipe";
  EXPECT_NE(error->find(pipe.string() + ": the token file is not a regular file"),
            std::string::npos)
      << *error;
}

TEST(Access, TwoHundredRapidChangesFromOneAddressLeaveOthersAlone) {
  AccessControl access(kTokens, true, false);
  const auto patch = Request("PATCH", {{"host", "127.0.0.1:8424"}});
  const auto now = Clock::now();
  int admitted = 0, limited = 0;
  for (int i = 0; i < 200; ++i) {
    const auto refusal = access.admit(patch, "127.0.0.1", now);
    if (!refusal) {
      ++admitted;
    } else {
      ++limited;
      ASSERT_EQ(refusal->status, 429);
      ASSERT_EQ(refusal->headers.at(0), (std::pair<std::string, std::string>{"Retry-After", "1"}));
    }
  }
  EXPECT_EQ(admitted, 50);
  EXPECT_EQ(limited, 150);
  EXPECT_FALSE(access.admit(patch, "127.0.0.2", now));
  EXPECT_FALSE(access.admit(patch, "127.0.0.1", now + std::chrono::milliseconds(20)));
}

TEST(Access, TheLimiterForgetsIdleAddressesNotBusyOnes) {
  RateLimiter limiter(50, 4);
  const auto t0 = Clock::now(), t1 = t0 + std::chrono::seconds(1);
  for (const char* a : {"10.0.0.1", "10.0.0.2", "10.0.0.3"}) limiter.take(a, t0);
  for (int i = 0; i < 50; ++i) limiter.take("10.0.0.9", t1);
  EXPECT_TRUE(limiter.take("10.0.0.4", t1));  // full: the three idle ones are forgotten
  EXPECT_EQ(limiter.clients(), 2u);
  EXPECT_FALSE(limiter.take("10.0.0.9", t1));
  for (int i = 0; i < 100; ++i) limiter.take("10.1.0." + std::to_string(i), t1);
  EXPECT_LE(limiter.clients(), 4u);
}

}  // namespace
