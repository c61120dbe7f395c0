#include "service/osc/OscAddress.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>

namespace qubix::service::osc {

namespace {

// What a route's one argument must be.
enum class ArgKind {
  None,     // no argument
  Number,   // a number: f, d, i or h
  Integer,  // a whole number: i or h, or f/d holding a whole number
  Switch,   // on or off: T, F, or a whole number 0/1
};

// What the address's variable segments held.
struct Capture {
  std::string_view bus;
  std::string_view machine;
  int index = 0;          // the "{lo-hi}" segment
  std::string_view word;  // the "{x|y}" segment
};

// A route is relative to /qubix24/{bus}/{machine}/ (or to /qubix24/{bus}/ when busLevel).
// Pattern segments: a literal, "{lo-hi}" (a number in that range) or "{x|y}" (one of the words).
// The request: PATCH of the machine when suffix is null, else POST to the machine's (or the
// bus's) path + suffix. In the body, $v stands for the value, $i for the "{lo-hi}" number, $w
// for the "{x|y}" word, $o for the output's pair and $d for the delay's pair.
struct Route {
  bool busLevel;
  std::string_view pattern;
  ArgKind arg;
  const char* suffix;
  std::string_view body;
  std::string_view help;
};

// Outputs 1 and 2 share one attenuation, as do 3 and 4; delay 1 is Ch1/Ch2, 2 is Ch3/Ch4.
constexpr std::array<Route, 12> kRoutes{{
    {false, "mute/{1-4}", ArgKind::Switch, nullptr, R"({"mute":{"$i":$v}})",
     "mute output N (1 on, 0 off)"},
    {false, "input/{a|b}/gain", ArgKind::Number, nullptr, R"({"inputGain":{"$w":$v}})",
     "input gain in dB (-48 ... 12, steps of 0.5)"},
    {false, "output/{1-4}/attenuation", ArgKind::Number, nullptr, R"({"attenuation":{"$o":$v}})",
     "output attenuation in dB (-32 ... 0, steps of 0.5); 1 and 2 share one, as do 3 and 4"},
    {false, "delay/{1-2}", ArgKind::Number, nullptr, R"({"delay":{"$d":$v}})",
     "delay of Ch1/Ch2 (1) or Ch3/Ch4 (2) (0 ... 310)"},
    {false, "band/{1-10}/gain", ArgKind::Number, nullptr, R"({"bands":[{"band":$i,"gain":$v}]})",
     "band gain in dB (-12 ... 12)"},
    {false, "band/{1-10}/frequency", ArgKind::Number, nullptr,
     R"({"bands":[{"band":$i,"frequency":$v}]})", "band frequency in Hz (10 ... 18000)"},
    {false, "band/{1-10}/q", ArgKind::Number, nullptr, R"({"bands":[{"band":$i,"q":$v}]})",
     "band Q (0.2 ... 50)"},
    {false, "flat", ArgKind::Switch, nullptr, R"({"flat":$v})", "Flat (1) or EQ (0)"},
    {false, "hardware-preset", ArgKind::Integer, "/hardware-preset", R"({"number":$v})",
     "change the hardware preset (0 ... 7)"},
    {false, "user-preset/recall", ArgKind::Integer, "/user-preset/recall", R"({"location":$v})",
     "recall user preset location (0 ... 7)"},
    {false, "user-preset/store", ArgKind::Integer, "/user-preset/store", R"({"location":$v})",
     "store into user preset location (0 ... 7)"},
    {true, "refresh", ArgKind::None, "/refresh", "", "read every machine of the bus again"},
}};

std::string Fill(std::string_view body, const Capture& c, std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] != '$' || i + 1 == body.size()) {
      out += body[i];
      continue;
    }
    switch (body[++i]) {
      case 'v':
        out += value;
        break;
      case 'i':
        out += std::to_string(c.index);
        break;
      case 'w':
        out += c.word;
        break;
      case 'o':
        out += c.index <= 2 ? "ch12" : "ch34";
        break;
      case 'd':
        out += c.index == 1 ? "ch12" : "ch34";
        break;
    }
  }
  return out;
}

OscTranslation Build(const Route& route, const Capture& c, std::string_view value) {
  OscTranslation out;
  out.kind = OscTranslation::Kind::Request;
  const std::string bus = "/api/v1/buses/" + std::string(c.bus);
  out.path = route.busLevel ? bus : bus + "/machines/" + std::string(c.machine);
  out.method = route.suffix ? "POST" : "PATCH";
  if (route.suffix) out.path += route.suffix;
  out.body = Fill(route.body, c, value);
  return out;
}

std::vector<std::string_view> Split(std::string_view text) {
  // "a//b" and "a/" keep their empty segments, so that no route matches them.
  std::vector<std::string_view> parts;
  while (true) {
    const auto slash = text.find('/');
    parts.push_back(text.substr(0, slash));
    if (slash == std::string_view::npos) return parts;
    text.remove_prefix(slash + 1);
  }
}

// A bus name, machine identifier or slot number: what may stand in a path segment unescaped.
bool IsName(std::string_view s) {
  if (s.empty() || s.size() > 64) return false;
  for (char ch : s) {
    const bool ok = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                    (ch >= '0' && ch <= '9') || ch == '_' || ch == '-' || ch == '.';
    if (!ok) return false;
  }
  return s != "." && s != "..";
}

std::optional<int> WholeNumber(std::string_view s) {
  int value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return value;
}

bool MatchSegment(std::string_view pattern, std::string_view segment, Capture& capture) {
  if (pattern.size() < 2 || pattern.front() != '{') return pattern == segment;
  const auto inner = pattern.substr(1, pattern.size() - 2);
  if (const auto dash = inner.find('-'); dash != std::string_view::npos) {
    const auto lo = WholeNumber(inner.substr(0, dash));
    const auto hi = WholeNumber(inner.substr(dash + 1));
    const auto n = WholeNumber(segment);
    if (!n || segment.front() == '+' || *n < *lo || *n > *hi) return false;
    capture.index = *n;
    return true;
  }
  std::string_view rest = inner;
  while (true) {
    const auto bar = rest.find('|');
    if (rest.substr(0, bar) == segment) {
      capture.word = segment;
      return true;
    }
    if (bar == std::string_view::npos) return false;
    rest.remove_prefix(bar + 1);
  }
}

bool MatchRoute(const Route& route, const std::vector<std::string_view>& tail, Capture& capture) {
  const auto pattern = Split(route.pattern);
  if (pattern.size() != tail.size()) return false;
  for (std::size_t i = 0; i < tail.size(); ++i)
    if (!MatchSegment(pattern[i], tail[i], capture)) return false;
  return true;
}

std::string_view ArgName(ArgKind kind) {
  switch (kind) {
    case ArgKind::None:
      return "-";
    case ArgKind::Number:
      return "f";
    case ArgKind::Integer:
    case ArgKind::Switch:
      return "i";
  }
  return "-";
}

// The shortest text that reads back as the same number; a float argument as the float it is.
std::string NumberText(const OscArg& arg) {
  std::array<char, 32> buffer{};
  const auto [end, ec] =
      arg.type == 'f' ? std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                      static_cast<float>(arg.number))
                      : std::to_chars(buffer.data(), buffer.data() + buffer.size(), arg.number);
  (void)ec;
  return std::string(buffer.data(), end);
}

bool IsNumeric(char type) { return type == 'i' || type == 'h' || type == 'f' || type == 'd'; }

OscTranslation Error(std::string message) {
  OscTranslation out;
  out.kind = OscTranslation::Kind::Error;
  out.error = std::move(message);
  return out;
}

// The argument as JSON text, or the reason it cannot be used for this kind.
std::optional<std::string> ValueText(ArgKind kind, const std::vector<OscArg>& args,
                                     std::string& error) {
  if (kind == ArgKind::None) {
    if (!args.empty()) {
      error = "wrong type: expects no argument";
      return std::nullopt;
    }
    return std::string();
  }
  const auto expected = std::string("wrong type: expects one argument of type ") +
                        std::string(ArgName(kind)) +
                        (kind == ArgKind::Switch ? " (0 or 1) or T/F" : "");
  if (args.size() != 1) {
    error = expected;
    return std::nullopt;
  }
  const OscArg& arg = args.front();
  if (kind == ArgKind::Switch && (arg.type == 'T' || arg.type == 'F'))
    return std::string(arg.type == 'T' ? "true" : "false");
  if (!IsNumeric(arg.type)) {
    error = expected;
    return std::nullopt;
  }
  if (!std::isfinite(arg.number)) {
    error = "out of range: " + NumberText(arg) + " is not a number";
    return std::nullopt;
  }
  if (kind == ArgKind::Number) return NumberText(arg);
  if (arg.number != std::floor(arg.number) || std::fabs(arg.number) > 1e9) {
    error = expected + ", not " + NumberText(arg);
    return std::nullopt;
  }
  const auto whole = static_cast<long long>(arg.number);
  if (kind == ArgKind::Integer) return std::to_string(whole);
  if (whole != 0 && whole != 1) {
    error = "out of range: " + std::to_string(whole) + " is neither 0 nor 1";
    return std::nullopt;
  }
  return std::string(whole == 1 ? "true" : "false");
}

// /qubix24/subscribe and /qubix24/unsubscribe: no argument, or a port (i) and/or a form (s,
// "slot" or "id"), each once.
OscTranslation Subscription(std::string_view address, const std::vector<OscArg>& args) {
  OscTranslation out;
  out.kind = address == kSubscribeAddress ? OscTranslation::Kind::Subscribe
                                          : OscTranslation::Kind::Unsubscribe;
  const std::string expected =
      "wrong type: expects nothing, a port (i 1 ... 65535) and/or a form (s slot or id)";
  if (args.size() > 2) return Error(expected);
  for (const OscArg& arg : args) {
    if ((arg.type == 'i' || arg.type == 'h') && out.port == 0) {
      if (arg.number < 1 || arg.number > 65535) return Error(expected);
      out.port = static_cast<int>(arg.number);
    } else if ((arg.type == 's' || arg.type == 'S') && out.form.empty() &&
               (arg.text == "slot" || arg.text == "id")) {
      out.form = arg.text;
    } else {
      return Error(expected);
    }
  }
  return out;
}

// Pattern matching over the pair (pattern position, address position), each pair tried at most
// once: the work is bounded by the product of the two lengths.
class PatternMatcher {
 public:
  PatternMatcher(std::string_view pattern, std::string_view text)
      : p_(pattern), t_(text), failed_((pattern.size() + 1) * (text.size() + 1), false) {}

  bool at(std::size_t p, std::size_t t) {
    const std::size_t key = p * (t_.size() + 1) + t;
    if (failed_[key]) return false;
    if (step(p, t)) return true;
    failed_[key] = true;
    return false;
  }

 private:
  bool inPart(std::size_t t) const { return t < t_.size() && t_[t] != '/'; }

  bool step(std::size_t p, std::size_t t) {
    if (p == p_.size()) return t == t_.size();
    switch (p_[p]) {
      case '*':
        return at(p + 1, t) || (inPart(t) && at(p, t + 1));
      case '?':
        return inPart(t) && at(p + 1, t + 1);
      case '[': {
        const std::size_t close = p_.find(']', p + 1);
        if (close == std::string_view::npos || !inPart(t)) return false;
        std::string_view list = p_.substr(p + 1, close - p - 1);
        const bool negate = !list.empty() && list.front() == '!';
        if (negate) list.remove_prefix(1);
        bool in = false;
        for (std::size_t i = 0; i < list.size(); ++i) {
          if (i + 2 < list.size() && list[i + 1] == '-') {
            in = in || (t_[t] >= list[i] && t_[t] <= list[i + 2]);
            i += 2;
          } else {
            in = in || t_[t] == list[i];
          }
        }
        return in != negate && at(close + 1, t + 1);
      }
      case '{': {
        const std::size_t close = p_.find('}', p + 1);
        if (close == std::string_view::npos) return false;
        std::string_view rest = p_.substr(p + 1, close - p - 1);
        while (true) {
          const std::size_t comma = rest.find(',');
          const std::string_view alt = rest.substr(0, comma);
          if (alt.find('/') == std::string_view::npos && t_.substr(t, alt.size()) == alt &&
              at(close + 1, t + alt.size()))
            return true;
          if (comma == std::string_view::npos) return false;
          rest.remove_prefix(comma + 1);
        }
      }
      default:
        return t < t_.size() && t_[t] == p_[p] && at(p + 1, t + 1);
    }
  }

  std::string_view p_, t_;
  std::vector<bool> failed_;
};

// Every concrete address a route stands for, relative as its pattern is.
void RouteTails(const std::vector<std::string_view>& segments, std::size_t i, std::string prefix,
                std::vector<std::string>& out) {
  if (i == segments.size()) {
    out.push_back(std::move(prefix));
    return;
  }
  const std::string_view seg = segments[i];
  std::vector<std::string> choices;
  if (seg.size() >= 2 && seg.front() == '{') {
    const auto inner = seg.substr(1, seg.size() - 2);
    if (const auto dash = inner.find('-'); dash != std::string_view::npos) {
      for (int n = *WholeNumber(inner.substr(0, dash)); n <= *WholeNumber(inner.substr(dash + 1));
           ++n)
        choices.push_back(std::to_string(n));
    } else {
      std::string_view rest = inner;
      while (true) {
        const auto bar = rest.find('|');
        choices.emplace_back(rest.substr(0, bar));
        if (bar == std::string_view::npos) break;
        rest.remove_prefix(bar + 1);
      }
    }
  } else {
    choices.emplace_back(seg);
  }
  if (i > 0) prefix += '/';
  for (const std::string& c : choices) RouteTails(segments, i + 1, prefix + c, out);
}

}  // namespace

OscTranslation TranslateOsc(std::string_view address, const std::vector<OscArg>& args) {
  if (address == kSubscribeAddress || address == kUnsubscribeAddress)
    return Subscription(address, args);
  if (address == kConnectAddress) {
    if (args.size() != 1 || (args[0].type != 's' && args[0].type != 'S'))
      return Error("wrong type: expects one argument of type s (the passcode)");
    OscTranslation out;
    out.kind = OscTranslation::Kind::Connect;
    out.passcode = args[0].text;
    return out;
  }
  const std::string unknown = "unknown address " + std::string(address);
  const std::string root = std::string(kRoot) + "/";
  if (address.substr(0, root.size()) != root) return Error(unknown);
  const auto segments = Split(address.substr(root.size()));
  if (segments.size() < 2 || !IsName(segments[0])) return Error(unknown);
  Capture capture;
  capture.bus = segments[0];
  for (const Route& route : kRoutes) {
    const std::size_t skip = route.busLevel ? 1 : 2;
    if (segments.size() <= skip) continue;
    if (!route.busLevel) {
      if (!IsName(segments[1])) continue;
      capture.machine = segments[1];
    }
    const std::vector<std::string_view> tail(segments.begin() + static_cast<long>(skip),
                                             segments.end());
    if (!MatchRoute(route, tail, capture)) continue;
    std::string error;
    const auto value = ValueText(route.arg, args, error);
    if (!value) return Error(error);
    return Build(route, capture, *value);
  }
  return Error(unknown);
}

bool IsOscPattern(std::string_view address) {
  return address.find_first_of("*?[]{}") != std::string_view::npos;
}

bool MatchOscPattern(std::string_view pattern, std::string_view address) {
  if (pattern.size() > kMaxPatternLength || address.size() > kMaxPatternLength) return false;
  return PatternMatcher(pattern, address).at(0, 0);
}

OscExpansion ExpandOscPattern(std::string_view pattern, const std::vector<OscSpaceBus>& space,
                              std::size_t max) {
  OscExpansion out;
  if (pattern.size() > kMaxPatternLength) {
    out.error = "pattern longer than " + std::to_string(kMaxPatternLength) + " characters";
    return out;
  }
  auto add = [&](const std::string& address) {
    if (!MatchOscPattern(pattern, address)) return false;
    out.addresses.push_back(address);
    return true;
  };
  for (const OscSpaceBus& bus : space) {
    const std::string at = std::string(kRoot) + "/" + bus.name + "/";
    for (const Route& route : kRoutes) {
      std::vector<std::string> tails;
      RouteTails(Split(route.pattern), 0, "", tails);
      if (route.busLevel) {
        for (const std::string& tail : tails) add(at + tail);
      } else {
        for (const OscSpaceMachine& m : bus.machines) {
          const std::string bySlot = at + std::to_string(m.slot) + '/';
          const std::string byId = at + m.id + '/';
          for (const std::string& tail : tails)
            if (!add(bySlot + tail)) add(byId + tail);
        }
      }
      if (out.addresses.size() > max) {
        out.addresses.clear();
        out.error = "pattern " + std::string(pattern) + " matches more than " +
                    std::to_string(max) + " addresses";
        return out;
      }
    }
  }
  if (out.addresses.empty()) out.error = "no address matches " + std::string(pattern);
  return out;
}

namespace {
// Seconds from 1900 (the time tags' epoch) to 1970.
constexpr std::int64_t kNtpToUnix = 2208988800LL;
}  // namespace

BundleTiming TimeBundle(std::uint64_t timeTag, std::chrono::system_clock::time_point now,
                        std::chrono::seconds limit) {
  using namespace std::chrono;
  BundleTiming out;
  if (timeTag == 1) return out;
  const auto seconds = static_cast<std::int64_t>(timeTag >> 32);
  const auto fraction = static_cast<std::int64_t>(timeTag & 0xffffffffU);
  const microseconds when{(seconds - kNtpToUnix) * 1000000 + ((fraction * 1000000) >> 32)};
  const auto wait = when - duration_cast<microseconds>(now.time_since_epoch());
  if (wait <= microseconds::zero()) return out;
  if (wait > limit) {
    out.kind = BundleTiming::Kind::TooFar;
    out.wait = duration_cast<milliseconds>(wait);
    return out;
  }
  out.kind = BundleTiming::Kind::Later;
  out.wait = ceil<milliseconds>(wait);
  return out;
}

std::uint64_t TimeTagOf(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto us = duration_cast<microseconds>(when.time_since_epoch()).count();
  const auto seconds = static_cast<std::uint64_t>(us / 1000000 + kNtpToUnix) & 0xffffffffU;
  const auto fraction = (static_cast<std::uint64_t>(us % 1000000) << 32) / 1000000;
  return (seconds << 32) | fraction;
}

std::optional<MachineForm> MachineFormOf(std::string_view address) {
  const std::string root = std::string(kRoot) + "/";
  if (address.substr(0, root.size()) != root) return std::nullopt;
  const auto segments = Split(address.substr(root.size()));
  if (segments.size() < 3 || !IsName(segments[1])) return std::nullopt;
  const std::string_view m = segments[1];
  if (m.size() == 1 && m[0] >= '1' && m[0] <= '8') return MachineForm::Slot;
  return MachineForm::Identifier;
}

std::string WithMachine(std::string_view address, std::string_view machine) {
  const std::size_t bus = address.find('/', kRoot.size() + 1);
  if (bus == std::string_view::npos) return std::string(address);
  const std::size_t end = address.find('/', bus + 1);
  if (end == std::string_view::npos) return std::string(address);
  return std::string(address.substr(0, bus + 1)) + std::string(machine) +
         std::string(address.substr(end));
}

std::string OscHelpText() {
  std::string text =
      "OSC addresses (UDP). {bus} is a bus name, {machine} an identifier or a slot number 1-8.\n"
      "Each message becomes the API request shown; errors come back to the sender as\n"
      "/qubix24/error s s (the address, the reason) and nothing reaches the bus.\n\n";
  auto line = [&text](std::string address, std::string_view arg, std::string_view help) {
    address.resize(std::max<std::size_t>(address.size(), 46), ' ');
    text += "  " + address + " " + std::string(arg) + "  " + std::string(help) + "\n";
  };
  for (const Route& route : kRoutes) {
    const std::string prefix = route.busLevel ? "/qubix24/{bus}/" : "/qubix24/{bus}/{machine}/";
    line(prefix + std::string(route.pattern), ArgName(route.arg), route.help);
  }
  line(std::string(kSubscribeAddress), "[i] [s]",
       "send the changes as OSC messages (the same events as the WebSocket)");
  line(std::string(kUnsubscribeAddress), "[i]", "stop sending changes");
  line(std::string(kConnectAddress), "s", "the passcode (--osc-passcode), once");
  text +=
      "\nSubscribing sends this sender (or port i on its host) the whole state once, then\n"
      "only what changes. A machine is named as the subscriber names it in its messages\n"
      "(slot number or identifier; s slot or s id chooses). A subscription ends after " +
      std::to_string(kSubscriptionLife.count()) +
      " s\nunless /qubix24/subscribe comes again; renewing sends no state.\n"
      "\nPatterns (* ? [1-4] [!1-4] {a,b}) stand for every address they match, each machine\n"
      "once; more than " +
      std::to_string(kMaxPatternTargets) +
      " matches are refused.\n"
      "\nA bundle runs at its time tag: at once for 1 (immediately) or a time already past,\n"
      "later for a time up to " +
      std::to_string(kMaxBundleWait.count()) + " s ahead; further ahead, or beyond " +
      std::to_string(kMaxPendingBundles) +
      " bundles waiting,\nit is refused with /qubix24/error.\n"
      "\nWith --osc-passcode, a sender first sends /qubix24/connect s PASSCODE; its address\n"
      "and port are then admitted until " +
      std::to_string(kAdmissionIdle.count()) +
      " s pass without a message from them. Anything else\n"
      "from a sender not admitted gets one /qubix24/error and nothing more.\n";
  return text;
}

}  // namespace qubix::service::osc
