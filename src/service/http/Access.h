// Who may do what on the service: the tokens kept in the data directory, the sessions a browser
// gets for a token, the decision for each request and WebSocket upgrade, and the limit on
// changing requests per client address. Standard C++ only. Tokens never appear in any message.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "service/http/HttpMessage.h"

namespace qubix::service {

enum class Access { None, View, Control };

inline constexpr std::string_view kTokenFileName = "qubix24d-tokens";
inline constexpr std::string_view kSessionCookie = "qubix24_session";
// A session unused this long is gone: a tablet left on a show's desk keeps it through a working
// day (any request or events connection with its cookie counts as use), and a cookie left on a
// device that went away stops working overnight.
inline constexpr std::chrono::hours kSessionIdle{12};

struct Tokens {
  std::string view;     // GET, HEAD and the events socket
  std::string control;  // everything
};

struct TokenFile {
  std::optional<Tokens> tokens;  // nullopt: error says why
  std::string error;
  bool created = false;
};

// Serve: the service reads the file, or makes it when there is none. Show: --show-token reads
// it and never makes one; run by root it may read the file of the service's own user.
enum class TokenFileUse { Serve, Show };

// DIR/qubix24d-tokens read back, or made with two new random tokens when there is none. The file
// is created with mode 0600 (never widened after); one that the group or others may read, or
// that another user owns, is refused, as is one that does not hold both kinds, or whose tokens
// are trivial (a few digits repeated) or the same for both.
TokenFile LoadOrCreateTokens(const std::filesystem::path& dir,
                             TokenFileUse use = TokenFileUse::Serve);

// byteCount random bytes as lower-case hex, from the system's random source.
std::string RandomHex(std::size_t byteCount);

// Equal bytes, in a time that depends on the lengths only.
bool ConstantTimeEquals(std::string_view a, std::string_view b);

// At most `perSecond` changing requests per second per client address (a token bucket holding
// one second's worth), so that one client flooding is refused without slowing the others. Idle
// addresses are forgotten, so memory stays bounded however many addresses come.
class RateLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  explicit RateLimiter(int perSecond = 50, std::size_t maxClients = 4096);

  // True when the request may go; otherwise retryAfterSeconds says when to come back.
  bool take(const std::string& client, Clock::time_point now, int* retryAfterSeconds = nullptr);
  std::size_t clients() const { return buckets_.size(); }

 private:
  struct Bucket {
    double tokens;
    Clock::time_point last;
  };
  void makeRoom(Clock::time_point now);

  double perSecond_;
  std::size_t maxClients_;
  std::unordered_map<std::string, Bucket> buckets_;
};

// The tokens, the open sessions and the decision made for each request.
class AccessControl {
 public:
  using Clock = RateLimiter::Clock;

  // loopbackListener: the service listens on a loopback address only, where the operating
  // system already limits who connects: every request is Control without a token. At most
  // maxSessions sessions of each level are kept: a new one pushes out the one of its own level
  // used least recently, so view sessions never push out control sessions.
  AccessControl(Tokens tokens, bool loopbackListener, bool tls, std::size_t maxSessions = 256,
                std::chrono::steady_clock::duration sessionIdle = kSessionIdle);

  // The level a request carries: its bearer token or its session cookie (Control on a
  // loopback listener). A session used at `now` lives on; one idle too long is gone.
  Access decide(const HttpRequest& request, Clock::time_point now = Clock::now());
  // GET and HEAD need View, everything else Control.
  static bool Permits(Access level, std::string_view method);

  // The full check of one request from a client address: nullopt lets it through with the
  // level in *level; otherwise the answer (401, 403, 429 with Retry-After). POST
  // /api/v1/session passes without a token: it is where a token is exchanged.
  std::optional<HttpResponse> admit(const HttpRequest& request, const std::string& clientAddress,
                                    RateLimiter::Clock::time_point now, Access* level = nullptr);
  // The check of a WebSocket upgrade: View at least, and an Origin that is the service's own.
  std::optional<HttpResponse> admitUpgrade(const HttpRequest& request, Access* level = nullptr,
                                           Clock::time_point now = Clock::now());

  // POST /api/v1/session: a token (JSON {"token": "..."} or a bearer header) for a session
  // cookie: 200 {"access":"view"|"control"} with Set-Cookie, or 401.
  HttpResponse openSession(const HttpRequest& request, Clock::time_point now = Clock::now());
  std::size_t sessions() const { return sessions_.size(); }

 private:
  Access tokenLevel(std::string_view token) const;
  Access sessionLevel(std::string_view value, Clock::time_point now);
  void expireSessions(Clock::time_point now);
  // nullopt when the Host fits the listener (a loopback name on a loopback listener).
  std::optional<HttpResponse> checkHost(const HttpRequest& request) const;
  // nullopt when the Origin (if any) is the service's own scheme://host:port.
  std::optional<HttpResponse> checkOrigin(const HttpRequest& request, bool originRequired) const;

  struct Session {
    std::string value;
    Access level;
    Clock::time_point lastUsed;
  };
  Tokens tokens_;
  bool loopbackListener_;
  bool tls_;
  std::size_t maxSessions_;  // per level
  Clock::duration sessionIdle_;
  std::vector<Session> sessions_;
  RateLimiter limiter_;
};

}  // namespace qubix::service
