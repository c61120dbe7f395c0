#include "service/http/HttpMessage.h"

#include <algorithm>
#include <cstdio>

namespace qubix::service {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

// A character of a token (method, header name): RFC 9110 tchar.
bool IsTokenChar(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool IsToken(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
    return IsTokenChar(static_cast<unsigned char>(c));
  });
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The comma-separated elements of a header value, trimmed, empty ones left out.
template <typename F>
void ForEachElement(std::string_view value, F&& f) {
  while (!value.empty()) {
    const auto comma = value.find(',');
    const auto element = Trim(value.substr(0, comma));
    if (!element.empty()) f(element);
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
}

// Header names and values as this server writes them: nothing that could end a line.
std::string HeaderSafe(std::string_view s, bool name) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (name ? IsTokenChar(static_cast<unsigned char>(c)) : (c != '\r' && c != '\n' && c != '\0'))
      out.push_back(c);
    else if (!name)
      out.push_back(' ');
  }
  return out;
}

}  // namespace

const std::string* HttpRequest::header(std::string_view lowerName) const {
  for (const auto& [name, value] : headers)
    if (name == lowerName) return &value;
  return nullptr;
}

std::string_view ReasonPhrase(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 101:
      return "Switching Protocols";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 204:
      return "No Content";
    case 304:
      return "Not Modified";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 411:
      return "Length Required";
    case 413:
      return "Content Too Large";
    case 415:
      return "Unsupported Media Type";
    case 417:
      return "Expectation Failed";
    case 422:
      return "Unprocessable Content";
    case 426:
      return "Upgrade Required";
    case 429:
      return "Too Many Requests";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "Unknown";
  }
}

std::string JsonString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      switch (c) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        case '\b':
          out += "\\b";
          break;
        case '\f':
          out += "\\f";
          break;
        default:
          if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
          } else {
            out.push_back(static_cast<char>(c));
          }
      }
      ++i;
      continue;
    }
    // A UTF-8 sequence: its length from the lead byte, the range of the second byte from the
    // lead (no overlong forms, no surrogates, nothing above U+10FFFF).
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    }
    bool valid = len != 0 && i + len <= n && p[i + 1] >= lo && p[i + 1] <= hi;
    for (std::size_t k = 2; valid && k < len; ++k) valid = p[i + k] >= 0x80 && p[i + k] <= 0xBF;
    if (valid) {
      out.append(text.substr(i, len));
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  out.push_back('"');
  return out;
}

std::string SerializeResponse(const HttpResponse& response, bool keepAlive) {
  return SerializeResponse(response, keepAlive, false);
}

std::string SerializeResponse(const HttpResponse& response, bool keepAlive, bool omitBody) {
  const bool noBody = response.status < 200 || response.status == 204 || response.status == 304;
  std::string out = "HTTP/1.1 " + std::to_string(response.status) + " ";
  out += ReasonPhrase(response.status);
  out += "\r\n";
  if (!noBody) {
    if (!response.contentType.empty())
      out += "Content-Type: " + HeaderSafe(response.contentType, false) + "\r\n";
    out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  }
  out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  out += "X-Content-Type-Options: nosniff\r\n";
  for (const auto& [name, value] : response.headers)
    out += HeaderSafe(name, true) + ": " + HeaderSafe(value, false) + "\r\n";
  out += "\r\n";
  if (!noBody && !omitBody) out += response.body;
  return out;
}

HttpResponse ErrorResponse(int status, std::string_view code, std::string_view message) {
  HttpResponse response;
  response.status = status;
  response.body = "{\"error\":" + JsonString(code) + ",\"message\":" + JsonString(message) + "}";
  return response;
}

HttpRequestParser::HttpRequestParser(std::size_t maxHeaderBytes, std::size_t maxBodyBytes)
    : maxHeaderBytes_(maxHeaderBytes), maxBodyBytes_(maxBodyBytes) {}

void HttpRequestParser::reset() {
  status_ = Status::NeedMore;
  headDone_ = false;
  expectContinue_ = false;
  head_.clear();
  scanFrom_ = 0;
  bodyRemaining_ = 0;
  request_ = {};
  failure_ = {};
}

HttpRequest HttpRequestParser::take() {
  HttpRequest out = std::move(request_);
  reset();
  return out;
}

void HttpRequestParser::fail(int status, std::string code, std::string message) {
  status_ = Status::Error;
  failure_ = {status, std::move(code), std::move(message)};
}

std::size_t HttpRequestParser::feed(std::string_view data) {
  if (status_ != Status::NeedMore) return 0;
  std::size_t used = 0;
  while (!headDone_ && used < data.size()) {
    // Empty lines before a request line are skipped (a client may end a body with one).
    if (head_.empty() || head_ == "\r") {
      const char c = data[used];
      if (c == '\n') {
        head_.clear();
        ++used;
        continue;
      }
      if (c == '\r' && head_.empty()) {
        head_.push_back(c);
        ++used;
        continue;
      }
    }
    const std::size_t old = head_.size();
    const std::size_t n = std::min(maxHeaderBytes_ + 1 - old, data.size() - used);
    head_.append(data.substr(used, n));
    // The head ends with an empty line: "\n\n" or "\n\r\n".
    std::size_t end = std::string::npos;
    for (std::size_t pos = head_.find('\n', scanFrom_); pos != std::string::npos;
         pos = head_.find('\n', pos + 1)) {
      scanFrom_ = pos;
      if (pos + 1 < head_.size() && head_[pos + 1] == '\n') {
        end = pos + 2;
      } else if (pos + 2 < head_.size() && head_[pos + 1] == '\r' && head_[pos + 2] == '\n') {
        end = pos + 3;
      } else if (pos + 2 >= head_.size()) {
        break;  // the end may still be coming
      }
      if (end != std::string::npos) break;
      scanFrom_ = pos + 1;
    }
    if (end == std::string::npos) {
      used += n;
      if (head_.size() > maxHeaderBytes_)
        fail(431, "headers_too_large",
             "the request line and headers exceed " + std::to_string(maxHeaderBytes_) + " bytes");
      return used;
    }
    if (end > maxHeaderBytes_) {
      fail(431, "headers_too_large",
           "the request line and headers exceed " + std::to_string(maxHeaderBytes_) + " bytes");
      return used + n;
    }
    used += end - old;
    head_.resize(end);
    headDone_ = true;
    parseHead();
    if (status_ != Status::NeedMore) return used;
  }
  if (headDone_ && status_ == Status::NeedMore) {
    const std::size_t n = std::min(bodyRemaining_, data.size() - used);
    request_.body.append(data.substr(used, n));
    bodyRemaining_ -= n;
    used += n;
    if (bodyRemaining_ == 0) status_ = Status::Complete;
  }
  return used;
}

void HttpRequestParser::parseHead() {
  std::string_view head = head_;
  if (head.find('\0') != std::string_view::npos)
    return fail(400, "bad_request", "the request contains a NUL byte");
  std::vector<std::string_view> lines;
  while (!head.empty()) {
    const auto nl = head.find('\n');
    auto line = head.substr(0, nl);
    head.remove_prefix(nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\r') != std::string_view::npos)
      return fail(400, "bad_request", "a line ends with a bare CR");
    lines.push_back(line);
  }
  // The last line is the empty one that ends the head.
  lines.pop_back();
  if (lines.empty()) return fail(400, "bad_request", "the request line is missing");

  // Request line: METHOD SP TARGET SP HTTP/x.y
  const std::string_view requestLine = lines.front();
  const auto sp1 = requestLine.find(' ');
  const auto sp2 = sp1 == std::string_view::npos ? sp1 : requestLine.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || requestLine.find(' ', sp2 + 1) != std::string_view::npos)
    return fail(400, "bad_request", "the request line is not METHOD TARGET VERSION");
  const auto method = requestLine.substr(0, sp1);
  const auto target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
  const auto version = requestLine.substr(sp2 + 1);
  if (!IsToken(method)) return fail(400, "bad_request", "the method is not a token");
  if (version.size() != 8 || version.substr(0, 5) != "HTTP/" || version[6] != '.' ||
      version[5] < '0' || version[5] > '9' || version[7] < '0' || version[7] > '9')
    return fail(400, "bad_request", "the version is not HTTP/x.y");
  if (version != "HTTP/1.1" && version != "HTTP/1.0")
    return fail(505, "version_not_supported", "only HTTP/1.0 and HTTP/1.1 are served");
  const bool http11 = version == "HTTP/1.1";
  if (target.empty() || target.front() != '/')
    return fail(400, "bad_request", "the target is not a path beginning with /");
  for (char c : target)
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
      return fail(400, "bad_request", "the target holds a character that must be escaped");
  request_.method = std::string(method);
  request_.target = std::string(target);
  const auto question = target.find('?');
  const auto rawPath = target.substr(0, question);
  request_.query =
      question == std::string_view::npos ? "" : std::string(target.substr(question + 1));
  request_.path.clear();
  for (std::size_t i = 0; i < rawPath.size(); ++i) {
    if (rawPath[i] != '%') {
      request_.path.push_back(rawPath[i]);
      continue;
    }
    const int h = i + 2 < rawPath.size() ? HexValue(rawPath[i + 1]) : -1;
    const int l = h < 0 ? -1 : HexValue(rawPath[i + 2]);
    if (l < 0) return fail(400, "bad_request", "the path holds a % not followed by two hex digits");
    if (h == 0 && l == 0) return fail(400, "bad_request", "the path holds an escaped NUL");
    request_.path.push_back(static_cast<char>(h * 16 + l));
    i += 2;
  }

  // Header fields.
  bool closeAsked = false, keepAliveAsked = false;
  bool haveLength = false, haveTransferEncoding = false;
  std::size_t contentLength = 0;
  bool chunked = false;
  int hosts = 0;
  for (std::size_t k = 1; k < lines.size(); ++k) {
    const std::string_view line = lines[k];
    if (line.front() == ' ' || line.front() == '\t')
      return fail(400, "bad_request", "a header is folded onto a second line");
    const auto colon = line.find(':');
    if (colon == std::string_view::npos)
      return fail(400, "bad_request", "a header line has no colon");
    const auto name = line.substr(0, colon);
    if (!IsToken(name)) return fail(400, "bad_request", "a header name is not a token");
    const auto value = Trim(line.substr(colon + 1));
    for (char c : value)
      if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F)
        return fail(400, "bad_request", "a header value holds a control character");
    std::string lower = LowerCopy(name);
    if (lower == "content-length") {
      if (value.empty() ||
          !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return fail(400, "bad_request", "Content-Length is not a number");
      // More digits than any allowed size could have: too large, whatever the number.
      std::size_t n = value.size() > 15 ? maxBodyBytes_ + 1 : std::stoull(std::string(value));
      if (haveLength && n != contentLength)
        return fail(400, "bad_request", "two different Content-Length headers");
      haveLength = true;
      contentLength = n;
    } else if (lower == "transfer-encoding") {
      haveTransferEncoding = true;
      // Chunked counts only as the last coding applied.
      ForEachElement(value,
                     [&](std::string_view coding) { chunked = EqualsNoCase(coding, "chunked"); });
    } else if (lower == "connection") {
      ForEachElement(value, [&](std::string_view option) {
        if (EqualsNoCase(option, "close")) closeAsked = true;
        if (EqualsNoCase(option, "keep-alive")) keepAliveAsked = true;
      });
    } else if (lower == "host") {
      ++hosts;
    } else if (lower == "expect") {
      if (!EqualsNoCase(value, "100-continue"))
        return fail(417, "expectation_failed", "only Expect: 100-continue is understood");
      expectContinue_ = true;
    }
    request_.headers.emplace_back(std::move(lower), std::string(value));
  }
  if (http11 && hosts != 1)
    return fail(400, "bad_request", "an HTTP/1.1 request needs exactly one Host header");
  if (hosts > 1) return fail(400, "bad_request", "more than one Host header");
  if (haveTransferEncoding) {
    if (haveLength)
      return fail(400, "bad_request", "both Content-Length and Transfer-Encoding are given");
    if (chunked)
      return fail(411, "length_required", "send the body with a Content-Length, not chunked");
    return fail(501, "not_implemented", "the transfer coding is not supported");
  }
  if (contentLength > maxBodyBytes_)
    return fail(413, "body_too_large",
                "the body exceeds " + std::to_string(maxBodyBytes_) + " bytes");
  request_.keepAlive = http11 ? !closeAsked : (keepAliveAsked && !closeAsked);
  bodyRemaining_ = contentLength;
  if (bodyRemaining_ == 0) status_ = Status::Complete;
}

}  // namespace qubix::service
