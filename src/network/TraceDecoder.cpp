#include "network/TraceDecoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "filters/CoefficientWord.h"
#include "filters/EqBands.h"
#include "link/Link.h"
#include "link/TraceFormat.h"
#include "network/HfpFile.h"
#include "network/Slots.h"
#include "protocol/Bus.h"
#include "protocol/Hex.h"
#include "protocol/NumberText.h"
#include "protocol/WireCodes.h"

namespace qubix::network {

namespace {

namespace param = protocol::param;
namespace calls = link::trace::calls;

using protocol::ShortNumber;

std::string Hex(std::string_view bytes) {
  std::string text;
  for (char c : bytes) text += protocol::ByteToHex(static_cast<std::uint8_t>(c));
  return text;
}

// Printable frames as they stand, anything else as hex.
std::string Shown(std::string_view bytes) {
  for (char c : bytes)
    if (c < 0x20 || c > 0x7e) return "0x" + Hex(bytes);
  return "\"" + std::string(bytes) + "\"";
}

std::string GainText(int code) { return ShortNumber(protocol::codes::GainDb(code)) + " dB"; }
std::string AttenuationText(int code) {
  return ShortNumber(protocol::codes::AttenuationDb(code)) + " dB";
}
std::string LevelText(int code) {
  return code == protocol::codes::kMuted ? std::string("muted")
                                         : ShortNumber(protocol::codes::LevelDb(code)) + " dB";
}

std::string ParameterName(int n) {
  static const char* const kLevels[] = {"input A", "input B", "Ch1", "Ch2", "Ch3", "Ch4"};
  if (n >= param::kFirstLevel && n < param::kFirstLevel + 6)
    return std::string("level ") + kLevels[n - param::kFirstLevel];
  if (n >= param::kFirstChannelOn && n < param::kFirstChannelOn + 4)
    return "Ch" + std::to_string(n - param::kFirstChannelOn + 1) + " on";
  switch (n) {
    case param::kStatus:
      return "input indicators";
    case param::kGainA:
      return "gain A";
    case param::kGainB:
      return "gain B";
    case param::kOutAttn12:
      return "attenuation Ch1/Ch2";
    case param::kOutAttn34:
      return "attenuation Ch3/Ch4";
    case param::kDelay12:
      return "delay Ch1/Ch2";
    case param::kDelay34:
      return "delay Ch3/Ch4";
    case param::kUserPreset:
      return "user preset";
    case param::kHardwarePreset:
      return "hardware preset";
    case param::kAmpLevel:
      return "amplifier level";
    case param::kExtraPresent:
      return "Extra preset present";
    case param::kExtraName:
      return "Extra preset name";
    default:
      return "parameter " + std::to_string(n);
  }
}

std::string ParameterValue(int n, int v) {
  if (n >= param::kFirstChannelOn && n < param::kFirstChannelOn + 4) return v == 0 ? "off" : "on";
  switch (n) {
    case param::kStatus: {
      static const char* const kInputs[] = {"no input", "input B", "input A", "inputs A and B"};
      return std::to_string(v) + (v >= 0 && v <= 3 ? std::string(" (") + kInputs[v] + ")" : "");
    }
    case param::kGainA:
    case param::kGainB:
      return std::to_string(v) + " (" + GainText(v) + ")";
    case param::kOutAttn12:
    case param::kOutAttn34:
      return std::to_string(v) + " (" + AttenuationText(v) + ")";
    case param::kDelay12:
    case param::kDelay34:
      return std::to_string(v) + " ms";
    case param::kAmpLevel:
      return std::to_string(v) + " (" + LevelText(v) + ")";
    case param::kExtraPresent:
      return v == 0 ? "no" : "yes";
    default:
      return std::to_string(v);
  }
}

// b2, b0, b1, a2, a1 from five 24-bit words, shown in the usual order.
std::string Coefficients(const std::string& payload, std::size_t from) {
  std::array<double, 5> c{};
  for (std::size_t i = 0; i < 5; ++i) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(payload.data() + from + 3 * i);
    c[i] =
        filters::WordToCoefficient((std::uint32_t{b[0]} << 16) | (std::uint32_t{b[1]} << 8) | b[2]);
  }
  char text[160];
  std::snprintf(text, sizeof text, "b0 %.6f b1 %.6f b2 %.6f a1 %.6f a2 %.6f", c[1], c[2], c[0],
                c[4], c[3]);
  return text;
}

std::string BandAt(int address) {
  for (int band = 1; band <= filters::kBandCount; ++band) {
    if (address == filters::BandAddress(band)) return "band " + std::to_string(band);
    if (address == filters::BandAddress(band) + filters::kMirrorAddressOffset)
      return "band " + std::to_string(band) + " mirror";
  }
  return "address " + std::to_string(address);
}

int U8(const std::string& p, std::size_t i) { return static_cast<std::uint8_t>(p[i]); }
int U16(const std::string& p, std::size_t i) { return (U8(p, i) << 8) | U8(p, i + 1); }

using Kind = DecodedLine::Kind;

// A frame the program sends, understood; of kind Unknown when it is none of them.
struct Frame {
  Kind kind = Kind::Unknown;
  std::string text;
  char letter = 0;
  int parameter = -1;           // "I"
  std::size_t replyLength = 1;  // what the machine answers
};

Frame Understand(const std::string& bytes) {
  Frame f;
  if (bytes == "e") return {Kind::Attention, "attention \"e\"", 'e'};
  if (bytes == "R") return {Kind::Release, "release \"R\"", 'R'};
  if (bytes.size() < 3 || (bytes.size() - 1) % 2 != 0) return f;
  std::string payload;
  if (!HexToBytes(bytes.substr(1), payload)) return f;
  // The program writes lower-case hex only; a processor takes nothing else for a digit.
  if (Hex(payload) != bytes.substr(1)) return f;
  f.letter = bytes[0];
  if (f.letter == 'H') {
    if (payload.size() != protocol::PayloadLength(f.letter) + 1) return {};
    protocol::Identifier id{};
    for (std::size_t i = 0; i < 6; ++i) id[i] = static_cast<std::uint8_t>(payload[i]);
    if (protocol::SelectFrame(id) != bytes) return {};
    f.kind = Kind::Select;
    f.text = "select " + protocol::IdentifierText(id);
    return f;
  }
  unsigned sum = 0;
  for (char c : payload) sum += static_cast<std::uint8_t>(c);
  if ((sum & 0xff) != 0 || payload.size() != protocol::PayloadLength(f.letter) + 1) return {};
  payload.pop_back();
  const std::string& p = payload;
  f.kind = Kind::Command;
  switch (f.letter) {
    case 'I':
      f.kind = Kind::Query;
      f.parameter = U8(p, 0);
      f.replyLength = static_cast<std::uint32_t>(f.parameter == param::kExtraName
                                                     ? protocol::kTextReplyLength
                                                     : protocol::kQueryReplyLength);
      f.text = "query " + std::to_string(f.parameter) + " " + ParameterName(f.parameter);
      return f;
    case 'n':
      f.text = "amplifier level " + std::to_string(U8(p, 0)) + " (" + LevelText(U8(p, 0)) + ")";
      return f;
    case 'g':
      f.text = "channel level Ch" + std::to_string((U8(p, 0) - 1) * 2 + U8(p, 1) + 1) + " " +
               std::to_string(U8(p, 2)) + " (" + LevelText(U8(p, 2)) + ")";
      return f;
    case 'L':
      f.text = "delays Ch1/Ch2 " + std::to_string(U16(p, 0)) + " ms, Ch3/Ch4 " +
               std::to_string(U16(p, 2)) + " ms";
      return f;
    case 'V':
      f.text = "output attenuation Ch1/Ch2 " + AttenuationText(U8(p, 0)) + ", Ch3/Ch4 " +
               AttenuationText(U8(p, 1));
      return f;
    case 'G':
      // Input B comes first in this frame.
      f.text = "input gains A " + GainText(U8(p, 1)) + ", B " + GainText(U8(p, 0));
      return f;
    case 'Q':
      f.text = BandAt(U16(p, 0)) + " at " + std::to_string(U16(p, 0)) + ": " + Coefficients(p, 2);
      return f;
    case 'U': {
      const std::string where = " into user location " + std::to_string(U8(p, 0));
      if (U8(p, 1) < filters::kBandCount) {
        f.text = "store band " + std::to_string(U8(p, 1) + 1) + where + ": " + Coefficients(p, 2);
      } else {
        f.text = "store settings" + where + ": gains A " + GainText(U8(p, 2)) + ", B " +
                 GainText(U8(p, 3)) + ", attenuation Ch1/Ch2 " + AttenuationText(U8(p, 4)) +
                 ", Ch3/Ch4 " + AttenuationText(U8(p, 5)) + ", delays Ch1/Ch2 " +
                 std::to_string(U16(p, 6)) + " ms, Ch3/Ch4 " + std::to_string(U16(p, 8)) +
                 " ms, amplifier level " + LevelText(U8(p, 10));
      }
      return f;
    }
    case 'u':
      f.text = "recall user location " + std::to_string(U8(p, 0));
      return f;
    case 'T':
      switch (U8(p, 0)) {
        case 0:
          f.text = "save as power-on setting";
          return f;
        case 1:
          f.text = "begin access";
          return f;
        case 2:
          f.text = "end access";
          return f;
        default:
          return {};
      }
    case 'r':
      f.text = "hardware preset " + std::to_string(U8(p, 0));
      return f;
    case 'J':
      f.text = "begin Extra preset upload of " + std::to_string(2 * U16(p, 0)) + " bytes";
      return f;
    default:
      return {};
  }
}

std::string QueryAnswer(const Frame& f, const std::string& reply) {
  if (reply.back() != 'O') return "answered " + Shown(reply) + " without \"O\"";
  if (f.parameter == param::kExtraName) {
    std::string name;
    for (std::size_t k = 0; k < protocol::kTextLength; ++k) {
      const std::size_t at = protocol::kTextFirstByte + 2 * k;
      const auto b = protocol::HexPairToByte(reply[at], reply[at + 1]);
      if (!b) return "a name that is not hex";
      name.push_back(static_cast<char>(*b));
    }
    return "\"" + name + "\"";
  }
  const auto value = protocol::HexQuadToWord(std::string_view(reply).substr(0, 4));
  const auto check = protocol::HexPairToByte(reply[4], reply[5]);
  if (!value || !check) return "answered " + Shown(reply) + ", not a number";
  std::string text = ParameterValue(f.parameter, *value);
  if (((*value >> 8) + (*value & 0xff) + *check) % 256 != 0) text += " (checksum wrong)";
  return text;
}

constexpr std::uint32_t kDrainRead = link::kDrainReadSize;

class Decoder {
 public:
  std::vector<DecodedLine> run(const std::vector<TraceRecord>& records) {
    for (const auto& r : records) {
      slices_.see(r);
      switch (r.kind) {
        case TraceRecord::Kind::Start:
          emit(r.t, Kind::Link, "trace of the " + r.name + " adapter");
          break;
        case TraceRecord::Kind::Call:
          onCall(r);
          break;
        case TraceRecord::Kind::Tx:
          onTx(r);
          break;
        case TraceRecord::Kind::Rx:
          onRx(r);
          break;
      }
    }
    finish();
    return std::move(lines_);
  }

 private:
  struct Exchange {
    double t = 0.0, lastRead = 0.0;
    std::string bytes, reply;
    Frame frame;
    bool read = false;
  };
  // A read that waits in slices (the program's window does) is a time-out of one slice set
  // before each driver read, every read after the first asking for what the ones before left
  // wanted: one read of the first one's count, which tells a drain from an answer.
  class SliceFolding {
   public:
    void see(const TraceRecord& r) {
      const bool slice = r.kind == TraceRecord::Kind::Call && r.name == calls::kTimeouts &&
                         r.readMs >= 0 && r.readMs <= link::Link::kWaitSliceMs;
      if (r.kind == TraceRecord::Kind::Rx) {
        const bool continues = sliceSet_ && r.want == left_;
        if (!continues) want_ = r.want;
        left_ = r.status == 0 ? r.want - std::min<std::uint32_t>(r.want, r.bytes.size()) : 0;
        sliceSet_ = false;
      } else if (slice && left_ > 0 && !sliceSet_) {
        sliceSet_ = true;
      } else {
        left_ = 0;
        sliceSet_ = false;
      }
    }
    // The count the read that the last seen record belongs to asked for.
    std::uint32_t want() const { return want_; }

   private:
    std::uint32_t want_ = 0, left_ = 0;
    bool sliceSet_ = false;
  };

  struct Upload {
    double t = 0.0;
    std::string sent, echoes, readBack;
    std::optional<char> final;
  };

  void emit(double t, Kind kind, std::string text, bool timeout = false) {
    lines_.push_back({t, kind, std::move(text), timeout});
  }

  // A fault or stray bytes while an exchange (or the upload) is still open belong after it:
  // its line is told once it is over, and it began first.
  void note(double t, Kind kind, std::string text) {
    if (exchange_ || upload_)
      held_.push_back({t, kind, std::move(text), false});
    else
      emit(t, kind, std::move(text));
  }
  void tellHeld() {
    lines_.insert(lines_.end(), std::make_move_iterator(held_.begin()),
                  std::make_move_iterator(held_.end()));
    held_.clear();
  }

  void onCall(const TraceRecord& r) {
    const bool failed = r.status != link::kOk && r.status != link::kNotSupported;
    // Nothing more arrives for an exchange once the device is opened or closed again.
    if (r.name == calls::kOpen || r.name == calls::kClose) finish();
    if (r.name == calls::kOpen)
      emit(r.t, Kind::Link, failed ? "the adapter could not be opened" : "adapter opened");
    else if (r.name == calls::kClose)
      emit(r.t, Kind::Link, "adapter closed");
    else if (failed)
      note(r.t, Kind::Fault,
           "the driver call \"" + r.name + "\" failed (status " + std::to_string(r.status) + ")");
  }

  void onTx(const TraceRecord& r) {
    finishExchange();
    if (upload_ && r.bytes.size() == 1 && upload_->sent.size() < kHfpPayloadSize && r.status == 0) {
      upload_->sent += r.bytes;
      return;
    }
    finish();
    if (r.status != 0) {
      const Frame f = Understand(r.bytes);
      emit(r.t, Kind::Fault,
           "write failed: " + (f.kind == Kind::Unknown ? Shown(r.bytes) : f.text));
      return;
    }
    exchange_ = Exchange{r.t, r.t, r.bytes, "", Understand(r.bytes), false};
  }

  void onRx(const TraceRecord& r) {
    if (r.status != 0) {
      note(r.t, Kind::Fault, "read failed (status " + std::to_string(r.status) + ")");
      return;
    }
    std::string bytes = r.bytes;
    if (upload_) {
      take(bytes, upload_->echoes, upload_->sent.size());
      if (upload_->echoes.size() == kHfpPayloadSize) {
        take(bytes, upload_->readBack, kHfpPayloadSize);
        if (upload_->readBack.size() == kHfpPayloadSize && !upload_->final && !bytes.empty()) {
          upload_->final = bytes[0];
          bytes.erase(0, 1);
        }
      }
    } else if (exchange_) {
      // Sixteen bytes is what a drain of the input asks for (in its first slice), never an
      // answer's length: such a read takes what is waiting but does not wait for the answer.
      if (slices_.want() != kDrainRead) {
        exchange_->read = true;
        exchange_->lastRead = r.t;
      }
      take(bytes, exchange_->reply, exchange_->frame.replyLength);
    }
    if (!bytes.empty()) note(r.t, Kind::Stray, "stray bytes " + Shown(bytes));
  }

  static void take(std::string& from, std::string& into, std::size_t upTo) {
    const std::size_t n = std::min(from.size(), upTo - std::min(upTo, into.size()));
    into += from.substr(0, n);
    from.erase(0, n);
  }

  void finish() {
    finishExchange();
    if (upload_) finishUpload();
  }

  void finishExchange() {
    if (!exchange_) return;
    Exchange x = std::move(*exchange_);
    exchange_.reset();
    tell(x);
    if (!upload_) tellHeld();
  }

  void tell(const Exchange& x) {
    const Frame& f = x.frame;
    if (f.kind == Kind::Unknown) {
      emit(x.t, Kind::Unknown,
           "unknown frame " + Shown(x.bytes) +
               (x.reply.empty() ? "" : ", answered " + Shown(x.reply)));
      return;
    }
    // The Extra preset upload is told as one line once it is over.
    if (f.letter == 'J' && x.reply == "O") {
      upload_ = Upload{x.t, "", "", "", std::nullopt};
      return;
    }
    if (!x.read) {
      emit(x.t, f.kind, f.text);
      return;
    }
    if (x.reply.size() < f.replyLength) {
      char waited[64];
      std::snprintf(waited, sizeof waited, "%.0f ms", x.lastRead - x.t);
      const std::string got = x.reply.empty()
                                  ? std::string("no answer")
                                  : std::to_string(x.reply.size()) + " of " +
                                        std::to_string(f.replyLength) + " bytes " + Shown(x.reply);
      emit(x.t, f.kind, f.text + ": " + got + ", time-out after " + waited, true);
      return;
    }
    if (f.kind == Kind::Query) {
      emit(x.t, f.kind, f.text + ": " + QueryAnswer(f, x.reply));
      return;
    }
    emit(x.t, f.kind,
         f.text + (x.reply == "O" ? ": acknowledged" : ": answered " + Shown(x.reply)));
  }

  void finishUpload() {
    Upload u = std::move(*upload_);
    upload_.reset();
    std::string name;
    for (std::size_t i = 0; i < kExtraNameLength && i < u.sent.size(); ++i) {
      const auto c =
          static_cast<std::uint8_t>(static_cast<std::uint8_t>(u.sent[i]) - EncodeUploadByte(0));
      name.push_back(c >= 0x20 && c < 0x7f ? static_cast<char>(c) : ' ');
    }
    std::size_t echoed = 0;
    for (std::size_t i = 0; i < u.echoes.size(); ++i) echoed += u.echoes[i] == u.sent[i];
    const std::string total = std::to_string(kHfpPayloadSize);
    std::string text = "Extra preset upload \"" + name + "\": " + std::to_string(u.sent.size()) +
                       " of " + total + " bytes sent, " + std::to_string(echoed) + " echoed";
    if (echoed != u.echoes.size())
      text += ", " + std::to_string(u.echoes.size() - echoed) + " echoes wrong";
    const bool readBackOk = u.readBack.size() == kHfpPayloadSize && u.readBack == u.sent;
    text += ", read-back " + std::to_string(u.readBack.size()) + " of " + total + " bytes" +
            (readBackOk           ? " matching"
             : u.readBack.empty() ? ""
                                  : " not matching");
    text += u.final == 'O' ? ", committed" : ", not committed";
    const bool complete = u.sent.size() == kHfpPayloadSize && echoed == kHfpPayloadSize &&
                          readBackOk && u.final == 'O';
    emit(u.t, Kind::Upload, text, !complete && !u.final);
    tellHeld();
  }

  std::vector<DecodedLine> lines_;
  std::optional<Exchange> exchange_;
  std::optional<Upload> upload_;
  std::vector<DecodedLine> held_;  // see note()
  SliceFolding slices_;
};

}  // namespace

std::string_view KindName(DecodedLine::Kind kind) {
  switch (kind) {
    case Kind::Link:
      return "link";
    case Kind::Select:
      return "select";
    case Kind::Attention:
      return "attention";
    case Kind::Release:
      return "release";
    case Kind::Query:
      return "query";
    case Kind::Command:
      return "command";
    case Kind::Upload:
      return "upload";
    case Kind::Stray:
      return "stray";
    case Kind::Fault:
      return "fault";
    case Kind::Unknown:
      break;
  }
  return "unknown";
}

std::vector<DecodedLine> DecodeTrace(const std::vector<TraceRecord>& records) {
  return Decoder{}.run(records);
}

std::string FormatDecodedLine(const DecodedLine& line) {
  char time[32];
  std::snprintf(time, sizeof time, "%10.3f  ", line.t);
  return time + line.text;
}

}  // namespace qubix::network
