#include "service/http/Access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "files/RegularFile.h"

namespace qubix::service {

namespace {

constexpr std::size_t kTokenBytes = 32;  // 256 bits
constexpr std::size_t kMaxTokenFileBytes = 4096;

bool IsHexToken(std::string_view s) {
  return s.size() == 2 * kTokenBytes && std::all_of(s.begin(), s.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

// A token made of a few digits repeated ("0000…", "abab…") is guessed, not drawn: 64 random hex
// digits use fewer than 8 different ones with a chance below 1 in 10^18.
bool IsTrivialToken(std::string_view s) {
  bool seen[256] = {};
  int different = 0;
  for (const char c : s)
    if (!seen[static_cast<unsigned char>(c)]) {
      seen[static_cast<unsigned char>(c)] = true;
      ++different;
    }
  return different < 8;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// "Bearer TOKEN" (the scheme in any case), or empty.
std::string_view BearerToken(const HttpRequest& request) {
  const std::string* value = request.header("authorization");
  if (value == nullptr || value->size() < 7 || Lower(value->substr(0, 7)) != "bearer ") return {};
  return Trim(std::string_view(*value).substr(7));
}

// The value of the session cookie among the Cookie headers, or empty.
std::string_view SessionCookie(const HttpRequest& request) {
  for (const auto& [name, value] : request.headers) {
    if (name != "cookie") continue;
    std::string_view rest = value;
    while (!rest.empty()) {
      const auto semi = rest.find(';');
      const auto pair = Trim(rest.substr(0, semi));
      const auto eq = pair.find('=');
      if (eq != std::string_view::npos && pair.substr(0, eq) == kSessionCookie)
        return pair.substr(eq + 1);
      if (semi == std::string_view::npos) break;
      rest.remove_prefix(semi + 1);
    }
  }
  return {};
}

// The string member "token" of a JSON object made of string members only (what a session
// request sends); nullopt when the body is not such an object.
std::optional<std::string> JsonToken(std::string_view body) {
  std::size_t i = 0;
  auto space = [&] {
    while (i < body.size() && std::strchr(" \t\r\n", body[i]) != nullptr && body[i] != '\0') ++i;
  };
  auto string = [&]() -> std::optional<std::string> {
    if (i >= body.size() || body[i] != '"') return std::nullopt;
    std::string out;
    for (++i; i < body.size(); ++i) {
      const char c = body[i];
      if (c == '"') {
        ++i;
        return out;
      }
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c == '\\') {
        if (++i >= body.size()) return std::nullopt;
        const char e = body[i];
        if (e != '"' && e != '\\' && e != '/') return std::nullopt;  // tokens need no others
        out.push_back(e);
      } else {
        out.push_back(c);
      }
    }
    return std::nullopt;
  };
  std::optional<std::string> token;
  space();
  if (i >= body.size() || body[i++] != '{') return std::nullopt;
  space();
  if (i < body.size() && body[i] == '}') return std::nullopt;
  for (;;) {
    space();
    auto key = string();
    space();
    if (!key || i >= body.size() || body[i++] != ':') return std::nullopt;
    space();
    auto value = string();
    if (!value) return std::nullopt;
    if (*key == "token") token = std::move(value);
    space();
    if (i < body.size() && body[i] == ',') {
      ++i;
      continue;
    }
    if (i < body.size() && body[i] == '}') {
      ++i;
      space();
      return i == body.size() ? token : std::nullopt;
    }
    return std::nullopt;
  }
}

bool IsLoopbackHost(std::string_view host) {
  // Host as sent: name or address, then an optional port.
  std::string h = Lower(host);
  if (!h.empty() && h.front() == '[') {
    const auto close = h.find(']');
    return close != std::string::npos && h.substr(0, close + 1) == "[::1]";
  }
  h = h.substr(0, h.find(':'));
  if (h == "localhost") return true;
  return h.rfind("127.", 0) == 0 &&
         std::all_of(h.begin(), h.end(), [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

// A read that runs on a bus: a machine or what is below it (its cached state aside, each asks
// the processor), and the show snapshot. Such a GET changes what the bus does, so a page of
// another site may not start it either.
bool RunsOnTheBus(const HttpRequest& request) {
  if (request.method != "GET" && request.method != "HEAD") return false;
  std::vector<std::string_view> seg;
  std::string_view rest = request.path;
  while (!rest.empty()) {
    const auto slash = rest.find('/');
    if (slash != 0) seg.push_back(rest.substr(0, slash));
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  if (seg.size() < 5 || seg[0] != "api" || seg[1] != "v1" || seg[2] != "buses") return false;
  return (seg.size() == 5 && seg[4] == "snapshot") || (seg.size() >= 6 && seg[4] == "machines");
}

// A fetch a browser makes for a page of another site says so, whether or not it sends an
// Origin (an image or a script of that page sends none).
bool CrossSiteFetch(const HttpRequest& request) {
  const std::string* site = request.header("sec-fetch-site");
  return site != nullptr && Lower(*site) != "same-origin" && Lower(*site) != "none";
}

HttpResponse Unauthorized(std::string_view message) {
  auto response = ErrorResponse(401, "unauthorized", message);
  response.headers.emplace_back("WWW-Authenticate", "Bearer");
  return response;
}

std::string SystemError(const std::filesystem::path& path, std::string_view what) {
  return path.string() + ": " + std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

std::string RandomHex(std::size_t byteCount) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::random_device source;  // the system's random source (getrandom or /dev/urandom)
  std::string out;
  out.reserve(byteCount * 2);
  for (std::size_t i = 0; i < byteCount; i += 4) {
    auto word = static_cast<std::uint32_t>(source());
    for (std::size_t k = 0; k < 4 && i + k < byteCount; ++k, word >>= 8) {
      out.push_back(kDigits[(word >> 4) & 0xF]);
      out.push_back(kDigits[word & 0xF]);
    }
  }
  return out;
}

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

TokenFile LoadOrCreateTokens(const std::filesystem::path& dir, TokenFileUse use) {
  TokenFile result;
  const auto path = dir / kTokenFileName;
  // Never held by a named pipe in its place: the kind of file is checked below.
  int fd = files::OpenWithoutWaiting(path, O_NOFOLLOW);
  if (fd < 0 && errno == ENOENT && use == TokenFileUse::Show) {
    result.error = path.string() +
                   ": there is no token file; the service makes it when it first starts with this "
                   "data directory";
    return result;
  }
  if (fd < 0 && errno == ENOENT) {
    // Made with its final mode: never readable by anyone else, not even for a moment.
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      result.error = SystemError(path, "cannot create the token file");
      return result;
    }
    Tokens tokens{RandomHex(kTokenBytes), RandomHex(kTokenBytes)};
    const std::string text = "view " + tokens.view + "\ncontrol " + tokens.control + "\n";
    const bool written =
        ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
        ::fsync(fd) == 0;
    const int writeErrno = errno;
    ::close(fd);
    if (!written) {
      errno = writeErrno;
      result.error = SystemError(path, "cannot write the token file");
      ::unlink(path.c_str());
      return result;
    }
    result.tokens = std::move(tokens);
    result.created = true;
    return result;
  }
  if (fd < 0) {
    result.error = SystemError(path, "cannot open the token file");
    return result;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    result.error = SystemError(path, "cannot read the token file");
    ::close(fd);
    return result;
  }
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  if (!S_ISREG(st.st_mode)) {
    result.error = path.string() + ": the token file is not a regular file";
  } else if (st.st_uid != ::geteuid() && !(use == TokenFileUse::Show && ::geteuid() == 0)) {
    result.error = path.string() + ": the token file belongs to another user";
  } else if ((st.st_mode & 077) != 0) {
    result.error = path.string() + ": the token file may be read by others (mode " + mode +
                   "); make it private (chmod 600) or remove it to make new tokens";
  } else if (static_cast<std::size_t>(st.st_size) > kMaxTokenFileBytes) {
    result.error = path.string() + ": the token file is too large to be one";
  }
  if (!result.error.empty()) {
    ::close(fd);
    return result;
  }
  std::string text(kMaxTokenFileBytes, '\0');
  const ssize_t n = ::read(fd, text.data(), text.size());
  ::close(fd);
  if (n < 0) {
    result.error = SystemError(path, "cannot read the token file");
    return result;
  }
  text.resize(static_cast<std::size_t>(n));
  Tokens tokens;
  std::string_view rest = text;
  while (!rest.empty()) {
    const auto nl = rest.find('\n');
    auto line = Trim(rest.substr(0, nl));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
    const auto sp = line.find(' ');
    if (line.empty() || sp == std::string_view::npos) continue;
    const auto kind = line.substr(0, sp);
    const auto value = Trim(line.substr(sp + 1));
    if (!IsHexToken(value)) continue;
    if (kind == "view") tokens.view = value;
    if (kind == "control") tokens.control = value;
  }
  if (tokens.view.empty() || tokens.control.empty()) {
    result.error = path.string() +
                   ": the token file does not hold a view and a control token of 64 hex digits";
    return result;
  }
  if (IsTrivialToken(tokens.view) || IsTrivialToken(tokens.control) ||
      tokens.view == tokens.control) {
    result.error = path.string() +
                   ": the token file holds a token anyone could guess (a few digits repeated, or "
                   "one token for both kinds); remove the file to make new random tokens";
    return result;
  }
  result.tokens = std::move(tokens);
  return result;
}

RateLimiter::RateLimiter(int perSecond, std::size_t maxClients)
    : perSecond_(perSecond), maxClients_(std::max<std::size_t>(maxClients, 1)) {}

void RateLimiter::makeRoom(Clock::time_point now) {
  // A bucket refilled to the brim holds nothing worth keeping.
  for (auto it = buckets_.begin(); it != buckets_.end();) {
    const double idle = std::chrono::duration<double>(now - it->second.last).count();
    if (it->second.tokens + idle * perSecond_ >= perSecond_)
      it = buckets_.erase(it);
    else
      ++it;
  }
  // Still full: every address is busy; the one quiet for longest goes.
  if (buckets_.size() >= maxClients_) {
    auto oldest = std::min_element(buckets_.begin(), buckets_.end(),
                                   [](auto& a, auto& b) { return a.second.last < b.second.last; });
    buckets_.erase(oldest);
  }
}

bool RateLimiter::take(const std::string& client, Clock::time_point now, int* retryAfterSeconds) {
  auto it = buckets_.find(client);
  if (it == buckets_.end()) {
    if (buckets_.size() >= maxClients_) makeRoom(now);
    it = buckets_.emplace(client, Bucket{perSecond_, now}).first;
  }
  Bucket& b = it->second;
  const double elapsed = std::max(0.0, std::chrono::duration<double>(now - b.last).count());
  b.tokens = std::min(perSecond_, b.tokens + elapsed * perSecond_);
  b.last = std::max(b.last, now);
  if (b.tokens >= 1.0) {
    b.tokens -= 1.0;
    return true;
  }
  if (retryAfterSeconds != nullptr) *retryAfterSeconds = 1;
  return false;
}

AccessControl::AccessControl(Tokens tokens, bool loopbackListener, bool tls,
                             std::size_t maxSessions, Clock::duration sessionIdle)
    : tokens_(std::move(tokens)),
      loopbackListener_(loopbackListener),
      tls_(tls),
      maxSessions_(std::max<std::size_t>(maxSessions, 1)),
      sessionIdle_(sessionIdle) {}

bool AccessControl::Permits(Access level, std::string_view method) {
  if (level == Access::Control) return true;
  return level == Access::View && (method == "GET" || method == "HEAD");
}

Access AccessControl::tokenLevel(std::string_view token) const {
  // Both compared every time: how long it takes says nothing about which one matched.
  const bool control = !tokens_.control.empty() && ConstantTimeEquals(token, tokens_.control);
  const bool view = !tokens_.view.empty() && ConstantTimeEquals(token, tokens_.view);
  return control ? Access::Control : view ? Access::View : Access::None;
}

void AccessControl::expireSessions(Clock::time_point now) {
  std::erase_if(sessions_, [&](const Session& s) { return now - s.lastUsed > sessionIdle_; });
}

Access AccessControl::sessionLevel(std::string_view value, Clock::time_point now) {
  expireSessions(now);
  Session* found = nullptr;
  for (auto& s : sessions_)  // every one compared: the time says nothing about which matched
    if (ConstantTimeEquals(value, s.value)) found = &s;
  if (found == nullptr) return Access::None;
  found->lastUsed = std::max(found->lastUsed, now);
  return found->level;
}

Access AccessControl::decide(const HttpRequest& request, Clock::time_point now) {
  if (loopbackListener_) return Access::Control;
  if (auto token = BearerToken(request); !token.empty()) return tokenLevel(token);
  if (auto cookie = SessionCookie(request); !cookie.empty()) return sessionLevel(cookie, now);
  return Access::None;
}

std::optional<HttpResponse> AccessControl::checkHost(const HttpRequest& request) const {
  // On a loopback listener a page elsewhere may reach the service through a name it controls
  // (DNS rebinding): only loopback names are answered there.
  const std::string* host = request.header("host");
  if (loopbackListener_ && host != nullptr && !IsLoopbackHost(*host))
    return ErrorResponse(403, "forbidden", "the Host header does not name this computer");
  return std::nullopt;
}

std::optional<HttpResponse> AccessControl::checkOrigin(const HttpRequest& request,
                                                       bool originRequired) const {
  const std::string* origin = request.header("origin");
  if (origin == nullptr) {
    if (originRequired) return ErrorResponse(403, "forbidden", "an Origin header is required");
    return std::nullopt;
  }
  const std::string* host = request.header("host");
  const std::string own = std::string(tls_ ? "https://" : "http://") + (host ? *host : "");
  if (host == nullptr || Lower(*origin) != Lower(own))
    return ErrorResponse(403, "forbidden", "requests from another site's pages are refused");
  return std::nullopt;
}

std::optional<HttpResponse> AccessControl::admit(const HttpRequest& request,
                                                 const std::string& clientAddress,
                                                 RateLimiter::Clock::time_point now,
                                                 Access* level) {
  if (level != nullptr) *level = Access::None;
  if (auto refusal = checkHost(request)) return refusal;
  if (request.method != "GET" && request.method != "HEAD") {
    int retryAfter = 1;
    if (!limiter_.take(clientAddress, now, &retryAfter)) {
      auto response = ErrorResponse(429, "rate_limited", "too many changing requests; slow down");
      response.headers.emplace_back("Retry-After", std::to_string(retryAfter));
      return response;
    }
    // A browser says where a page came from: a page of another site must not change anything.
    if (auto refusal = checkOrigin(request, false)) return refusal;
  } else if (RunsOnTheBus(request)) {
    if (auto refusal = checkOrigin(request, false)) return refusal;
    if (CrossSiteFetch(request))
      return ErrorResponse(403, "forbidden", "requests from another site's pages are refused");
  }
  const Access granted = decide(request, now);
  if (level != nullptr) *level = granted;
  if (request.method == "POST" && request.path == "/api/v1/session") return std::nullopt;
  if (granted == Access::None) return Unauthorized("a token is required");
  if (!Permits(granted, request.method))
    return ErrorResponse(403, "forbidden", "a view token may only read");
  return std::nullopt;
}

std::optional<HttpResponse> AccessControl::admitUpgrade(const HttpRequest& request, Access* level,
                                                        Clock::time_point now) {
  if (level != nullptr) *level = Access::None;
  if (auto refusal = checkHost(request)) return refusal;
  const Access granted = decide(request, now);
  if (level != nullptr) *level = granted;
  if (granted == Access::None) return Unauthorized("a token or a session is required");
  // A cookie is sent by the browser whatever page asks: then the page must be the service's.
  const bool byCookie = !loopbackListener_ && BearerToken(request).empty();
  return checkOrigin(request, byCookie);
}

HttpResponse AccessControl::openSession(const HttpRequest& request, Clock::time_point now) {
  std::string token(BearerToken(request));
  if (token.empty()) {
    auto fromBody = JsonToken(request.body);
    if (!fromBody)
      return ErrorResponse(400, "bad_json", "send {\"token\": \"...\"} or a bearer token");
    token = std::move(*fromBody);
  }
  const Access level = tokenLevel(token);
  if (level == Access::None) return Unauthorized("the token is not valid");
  expireSessions(now);
  // Full for this level: the one of the same level used least recently goes.
  std::vector<Session>::iterator leastUsed = sessions_.end();
  std::size_t ofLevel = 0;
  for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
    if (it->level != level) continue;
    ++ofLevel;
    if (leastUsed == sessions_.end() || it->lastUsed < leastUsed->lastUsed) leastUsed = it;
  }
  if (ofLevel >= maxSessions_) sessions_.erase(leastUsed);
  sessions_.push_back({RandomHex(kTokenBytes), level, now});
  HttpResponse response;
  response.body = level == Access::Control ? R"({"access":"control"})" : R"({"access":"view"})";
  std::string cookie = std::string(kSessionCookie) + "=" + sessions_.back().value +
                       "; HttpOnly; SameSite=Strict; Path=/";
  if (tls_) cookie += "; Secure";
  response.headers.emplace_back("Set-Cookie", std::move(cookie));
  response.headers.emplace_back("Cache-Control", "no-store");
  return response;
}

}  // namespace qubix::service
