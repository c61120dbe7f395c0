// One HTTP/1.1 request and response as the service sees them, and the incremental request
// parser that enforces the service's limits before anything is buffered beyond them. Standard
// C++ only: the parser is fuzzed and tested without Qt.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qubix::service {

inline constexpr std::size_t kMaxBodyBytes = std::size_t{256} * 1024;
inline constexpr std::size_t kMaxHeaderBytes = std::size_t{16} * 1024;

struct HttpRequest {
  std::string method;  // as sent: "GET", "PATCH", ...
  std::string target;  // as sent: "/api/v1/buses?x=1"
  std::string path;    // the target without its query, percent-decoded
  std::string query;   // after "?", raw
  // Header names in lower case, values trimmed, in the order sent.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool keepAlive = true;

  // The first header of that (lower-case) name, or nullptr.
  const std::string* header(std::string_view lowerName) const;
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  // Extra headers (Set-Cookie, Retry-After, WWW-Authenticate, ...).
  std::vector<std::pair<std::string, std::string>> headers;
};

// The bytes of a response: status line, Content-Type, Content-Length, Connection, the extra
// headers, the body.
std::string SerializeResponse(const HttpResponse& response, bool keepAlive);

// A JSON error body {"error": CODE, "message": TEXT} with that status.
HttpResponse ErrorResponse(int status, std::string_view code, std::string_view message);

// As above; with omitBody the body is left out but Content-Length still gives its size (the
// answer to HEAD).
std::string SerializeResponse(const HttpResponse& response, bool keepAlive, bool omitBody);

// A JSON string literal, quotes included: control characters escaped, bytes that are not UTF-8
// replaced by U+FFFD, so that any text makes valid JSON.
std::string JsonString(std::string_view text);

// The standard reason phrase of a status ("Not Found"), "Unknown" for others.
std::string_view ReasonPhrase(int status);

// Reads one request at a time from bytes as they arrive, in pieces of any size. It takes only
// the bytes of the current request and says how many it took: the rest belongs to the next
// request and stays with the caller (pipelining), so what it holds is never more than the head
// limit plus the body limit. Line endings CRLF or a bare LF (a bare CR is an error). A body is
// read by Content-Length only: chunked bodies are refused with 411, other transfer codings with
// 501; a Content-Length over the limit is refused with 413 before any of the body is read.
class HttpRequestParser {
 public:
  enum class Status { NeedMore, Complete, Error };
  struct Failure {
    int status = 0;    // 400, 411, 413, 431, 501, 505
    std::string code;  // the JSON error code: "bad_request", "body_too_large", ...
    std::string message;
  };

  explicit HttpRequestParser(std::size_t maxHeaderBytes = kMaxHeaderBytes,
                             std::size_t maxBodyBytes = kMaxBodyBytes);

  // Takes bytes of the current request from the front of data; returns how many it took.
  // Takes nothing once the request is complete or has failed.
  std::size_t feed(std::string_view data);
  Status status() const { return status_; }
  // The request line and headers have been read (the body may still be to come).
  bool headComplete() const { return headDone_; }
  // Body bytes still to come.
  std::size_t bodyRemaining() const { return bodyRemaining_; }
  // The head asked for "Expect: 100-continue" and the body is still to come.
  bool expectsContinue() const { return expectContinue_ && bodyRemaining_ > 0; }
  // The request read so far (head complete: method, target, headers; complete: the body too).
  const HttpRequest& request() const { return request_; }
  const Failure& failure() const { return failure_; }
  // The complete request, and the parser ready for the next one.
  HttpRequest take();
  void reset();

 private:
  void parseHead();
  void fail(int status, std::string code, std::string message);

  std::size_t maxHeaderBytes_;
  std::size_t maxBodyBytes_;
  Status status_ = Status::NeedMore;
  bool headDone_ = false;
  bool expectContinue_ = false;
  std::string head_;
  std::size_t scanFrom_ = 0;
  std::size_t bodyRemaining_ = 0;
  HttpRequest request_;
  Failure failure_;
};

}  // namespace qubix::service
