// The request parser and the response writer: a table of requests good and bad, every split of
// one request, pipelining, the limits, and the bytes of answers.
#include <gtest/gtest.h>

#include "service/http/HttpMessage.h"
#include "support/CaseNames.h"

using namespace qubix::service;

namespace {

struct ParseCase {
  std::string name;
  std::string bytes;
  int status;  // 0: a complete request; -1: needs more; else the error's status
  std::string method = "", path = "", query = "", body = "";
  bool keepAlive = true;
};

const std::string kHost = "Host: q\r\n";

class ParseCases : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseCases, StatusAndRequest) {
  const auto& c = GetParam();
  HttpRequestParser parser;
  const auto used = parser.feed(c.bytes);
  if (c.status > 0) {
    ASSERT_EQ(parser.status(), HttpRequestParser::Status::Error);
    EXPECT_EQ(parser.failure().status, c.status) << parser.failure().message;
    return;
  }
  if (c.status < 0) {
    EXPECT_EQ(parser.status(), HttpRequestParser::Status::NeedMore);
    EXPECT_EQ(used, c.bytes.size());
    return;
  }
  ASSERT_EQ(parser.status(), HttpRequestParser::Status::Complete) << parser.failure().message;
  EXPECT_EQ(used, c.bytes.size());
  const auto r = parser.take();
  EXPECT_EQ(r.method, c.method);
  EXPECT_EQ(r.path, c.path);
  EXPECT_EQ(r.query, c.query);
  EXPECT_EQ(r.body, c.body);
  EXPECT_EQ(r.keepAlive, c.keepAlive);
}

INSTANTIATE_TEST_SUITE_P(
    HttpRequestParser, ParseCases,
    testing::Values(
        ParseCase{"get_with_query", "GET /api/v1/buses?x=1 HTTP/1.1\r\n" + kHost + "\r\n", 0, "GET",
                  "/api/v1/buses", "x=1"},
        ParseCase{"escaped_path", "GET /a%20b%2Fc HTTP/1.1\r\n" + kHost + "\r\n", 0, "GET",
                  "/a b/c"},
        ParseCase{"post_body", "POST /p HTTP/1.1\r\n" + kHost + "Content-Length: 5\r\n\r\nhello", 0,
                  "POST", "/p", "", "hello"},
        ParseCase{"http10_closes", "GET / HTTP/1.0\r\n\r\n", 0, "GET", "/", "", "", false},
        ParseCase{"http10_keep_alive", "GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", 0, "GET",
                  "/"},
        ParseCase{"close_asked", "GET / HTTP/1.1\r\n" + kHost + "Connection: close\r\n\r\n", 0,
                  "GET", "/", "", "", false},
        ParseCase{"lf_only_lines", "GET / HTTP/1.1\nHost: q\n\n", 0, "GET", "/"},
        ParseCase{"blank_line_before", "\r\nGET / HTTP/1.1\r\n" + kHost + "\r\n", 0, "GET", "/"},
        ParseCase{"body_still_coming",
                  "PUT /p HTTP/1.1\r\n" + kHost + "Content-Length: 9\r\n\r\nab", -1},
        ParseCase{"body_at_limit", "PUT /p HTTP/1.1\r\n" + kHost + "Content-Length: 262144\r\n\r\n",
                  -1},
        ParseCase{"body_over_limit",
                  "PUT /p HTTP/1.1\r\n" + kHost + "Content-Length: 262145\r\n\r\n", 413},
        ParseCase{
            "length_of_30_digits",
            "PUT /p HTTP/1.1\r\n" + kHost + "Content-Length: " + std::string(30, '9') + "\r\n\r\n",
            413},
        ParseCase{"header_without_colon", "GET / HTTP/1.1\r\n" + kHost + "X-Broken\r\n\r\n", 400},
        ParseCase{"space_before_colon", "GET / HTTP/1.1\r\nHost : q\r\n\r\n", 400},
        ParseCase{"folded_header", "GET / HTTP/1.1\r\n" + kHost + "X-A: 1\r\n  2\r\n\r\n", 400},
        ParseCase{"bare_cr", "GET / HTTP/1.1\r\nHost: q\rX: 1\r\n\r\n", 400},
        ParseCase{"nul_in_header", std::string("GET / HTTP/1.1\r\nHost: q\0\r\n\r\n", 28), 400},
        ParseCase{"no_host", "GET / HTTP/1.1\r\n\r\n", 400},
        ParseCase{"two_hosts", "GET / HTTP/1.1\r\n" + kHost + kHost + "\r\n", 400},
        ParseCase{"version_2", "GET / HTTP/2.0\r\n" + kHost + "\r\n", 505},
        ParseCase{"version_o_for_0", "GET / HTTP/1.O\r\n" + kHost + "\r\n", 400},
        ParseCase{"two_spaces", "GET  / HTTP/1.1\r\n" + kHost + "\r\n", 400},
        ParseCase{"absolute_target", "GET http://q/ HTTP/1.1\r\n" + kHost + "\r\n", 400},
        ParseCase{"bad_escape", "GET /a%4g HTTP/1.1\r\n" + kHost + "\r\n", 400},
        ParseCase{"escaped_nul", "GET /a%00 HTTP/1.1\r\n" + kHost + "\r\n", 400},
        ParseCase{"length_not_a_number",
                  "POST / HTTP/1.1\r\n" + kHost + "Content-Length: 5a\r\n\r\n", 400},
        ParseCase{"two_lengths",
                  "POST / HTTP/1.1\r\n" + kHost + "Content-Length: 5\r\nContent-Length: 6\r\n\r\n",
                  400},
        ParseCase{"length_and_chunked",
                  "POST / HTTP/1.1\r\n" + kHost +
                      "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n",
                  400},
        ParseCase{"chunked", "POST / HTTP/1.1\r\n" + kHost + "Transfer-Encoding: chunked\r\n\r\n",
                  411},
        ParseCase{"gzip_coding", "POST / HTTP/1.1\r\n" + kHost + "Transfer-Encoding: gzip\r\n\r\n",
                  501},
        ParseCase{"odd_expectation", "POST / HTTP/1.1\r\n" + kHost + "Expect: 200-ok\r\n\r\n", 417},
        ParseCase{"huge_header",
                  "GET / HTTP/1.1\r\n" + kHost + "X: " + std::string(20000, 'a') + "\r\n\r\n",
                  431}),
    qubix::test::ByNameField());

const std::string kPost =
    "POST /p?q=1 HTTP/1.1\r\n" + kHost + "X-Trim:  a b \r\nContent-Length: 5\r\n\r\nhello";

TEST(HttpRequestParser, EverySplitOfOneRequestGivesTheSameRequest) {
  for (std::size_t split = 0; split <= kPost.size(); ++split) {
    HttpRequestParser parser;
    const auto first = parser.feed(std::string_view(kPost).substr(0, split));
    std::string rest = kPost.substr(first);  // what it did not take is offered again
    parser.feed(rest);
    ASSERT_EQ(parser.status(), HttpRequestParser::Status::Complete) << split;
    const auto r = parser.take();
    ASSERT_EQ(r.body, "hello") << split;
    ASSERT_EQ(r.query, "q=1") << split;
    ASSERT_NE(r.header("x-trim"), nullptr);
    ASSERT_EQ(*r.header("x-trim"), "a b") << split;
  }
}

TEST(HttpRequestParser, PipelinedRequestsLeaveTheRestToTheCaller) {
  const std::string bytes = kPost + "GET /two HTTP/1.1\r\n" + kHost + "\r\n" + kPost;
  std::string_view left = bytes;
  std::vector<std::string> paths;
  HttpRequestParser parser;
  for (int i = 0; i < 10 && !left.empty(); ++i) {
    left.remove_prefix(parser.feed(left));
    if (parser.status() == HttpRequestParser::Status::Complete) paths.push_back(parser.take().path);
  }
  EXPECT_EQ(paths, (std::vector<std::string>{"/p", "/two", "/p"}));
}

// A Content-Length one off: one short leaves a byte for the next request, one long waits.
TEST(HttpRequestParser, ALengthOneOffNeverTakesBytesItWasNotGiven) {
  const std::string head = "POST / HTTP/1.1\r\n" + kHost + "Content-Length: ";
  HttpRequestParser shortBy1;
  EXPECT_EQ(shortBy1.feed(head + "4\r\n\r\nhello"), head.size() + 5 + 4);
  EXPECT_EQ(shortBy1.take().body, "hell");
  HttpRequestParser longBy1;
  longBy1.feed(head + "6\r\n\r\nhello");
  EXPECT_EQ(longBy1.status(), HttpRequestParser::Status::NeedMore);
  EXPECT_EQ(longBy1.bodyRemaining(), 1u);
}

TEST(HttpRequestParser, AHeadWithoutEndIsRefusedAfterTheLimitNotBuffered) {
  const std::string flood(1 << 20, 'a');
  HttpRequestParser parser;
  EXPECT_EQ(parser.feed(flood), kMaxHeaderBytes + 1);
  EXPECT_EQ(parser.failure().status, 431);
  // A head of exactly the limit is taken.
  std::string exact = "GET / HTTP/1.1\r\n" + kHost + "X: ";
  exact += std::string(kMaxHeaderBytes - exact.size() - 4, 'b') + "\r\n\r\n";
  HttpRequestParser atLimit;
  atLimit.feed(exact);
  EXPECT_EQ(atLimit.status(), HttpRequestParser::Status::Complete);
}

struct JsonCase {
  std::string name, text, json;
};
class JsonCases : public testing::TestWithParam<JsonCase> {};
TEST_P(JsonCases, Escaped) { EXPECT_EQ(JsonString(GetParam().text), GetParam().json); }
INSTANTIATE_TEST_SUITE_P(
    JsonString, JsonCases,
    testing::Values(JsonCase{"quote_and_backslash", "a\"b\\c", R"("a\"b\\c")"},
                    JsonCase{"controls", "l1\nl2\t\x01", R"("l1\nl2\t\u0001")"},
                    JsonCase{"utf8_kept", "-12 \xE2\x80\xA6 12", "\"-12 \xE2\x80\xA6 12\""},
                    JsonCase{"latin1_byte_replaced", "caf\xE9", "\"caf\xEF\xBF\xBD\""},
                    JsonCase{"overlong_slash_replaced", "\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
                    JsonCase{"cut_sequence_replaced", "\xE2\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""}),
    qubix::test::ByNameField());

TEST(SerializeResponse, ErrorBodyHeadAnswerAndNoHeaderInjection) {
  auto response = ErrorResponse(404, "not_found", "no bus \"x\"");
  response.headers.emplace_back("Set-Cookie", "a=1\r\nX-Evil: 1");
  const auto bytes = SerializeResponse(response, true);
  const std::string body = R"({"error":"not_found","message":"no bus \"x\""})";
  EXPECT_EQ(bytes, "HTTP/1.1 404 Not Found\r\nContent-Type: application/json\r\nContent-Length: " +
                       std::to_string(body.size()) +
                       "\r\nConnection: keep-alive\r\nX-Content-Type-Options: nosniff\r\n"
                       "Set-Cookie: a=1  X-Evil: 1\r\n\r\n" +
                       body);
  const auto head = SerializeResponse(response, false, true);
  EXPECT_EQ(
      head,
      bytes.substr(0, bytes.size() - body.size()).replace(bytes.find("keep-alive"), 10, "close"));
}

}  // namespace
