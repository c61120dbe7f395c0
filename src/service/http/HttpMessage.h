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

inline constexpr std::size_t kMaxBodyBytes = 256 * 1024;
inline constexpr std::size_t kMaxHeaderBytes = 16 * 1024;

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

}  // namespace qubix::service
