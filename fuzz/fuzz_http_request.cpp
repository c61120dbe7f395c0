// The service's request parser: the first byte gives the size of the pieces the rest arrives in.
// Fed in pieces or at once, the same requests come out; the parser never takes more than it is
// given or more than its limits, refuses only with the statuses it documents, and what it
// decoded is written as valid JSON.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "service/http/HttpMessage.h"

using namespace qubix;
using service::HttpRequestParser;

namespace {

// Small limits, so that the fuzzer reaches them.
constexpr std::size_t kHead = 512, kBody = 256;

// What a stream parses into: each request's method, path, query and body, then the refusal.
std::vector<std::string> Parse(std::string_view stream, std::size_t piece) {
  std::vector<std::string> out;
  HttpRequestParser parser(kHead, kBody);
  std::string pending;  // taken from the stream, not yet taken by the parser
  std::size_t pos = 0;
  for (int guard = 0; guard < 100000; ++guard) {
    if (pending.empty() && pos >= stream.size()) break;
    const auto n = std::min(piece, stream.size() - pos);
    pending.append(stream.substr(pos, n));
    pos += n;
    const auto used = parser.feed(pending);
    if (used > pending.size()) fuzz::Broken("took more than it was given");
    pending.erase(0, used);
    if (parser.status() == HttpRequestParser::Status::NeedMore && !pending.empty())
      fuzz::Broken("left bytes while needing more");
    if (parser.status() == HttpRequestParser::Status::Error) {
      const int s = parser.failure().status;
      if (s != 400 && s != 411 && s != 413 && s != 417 && s != 431 && s != 501 && s != 505)
        fuzz::Broken("refused with an undocumented status");
      out.push_back("error " + std::to_string(s));
      const auto body =
          service::ErrorResponse(s, parser.failure().code, parser.failure().message).body;
      for (unsigned char c : body)
        if (c < 0x20) fuzz::Broken("a control character in a JSON error");
      return out;
    }
    if (parser.status() == HttpRequestParser::Status::Complete) {
      const auto r = parser.take();
      if (r.body.size() > kBody) fuzz::Broken("a body over the limit");
      for (unsigned char c : service::JsonString(r.path))
        if (c < 0x20) fuzz::Broken("a control character in a JSON string");
      out.push_back(r.method + " " + r.path + "?" + r.query + " " + r.body +
                    (r.keepAlive ? " keep" : " close"));
    } else if (n == 0) {
      break;  // the stream ended inside a request
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = std::size_t{data[0]} + 1;
  const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (Parse(stream, piece) != Parse(stream, stream.size() + 1))
    fuzz::Broken("pieces and the whole stream parse differently");
  return 0;
}
