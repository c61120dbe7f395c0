// Writes the fuzz targets' seed corpora: small valid and slightly damaged files made with the
// project's own writers, JPEG pictures compressed from generated pixels, and the bytes of a real
// session on the simulated bus in both directions. Usage: qubix_fuzz_seeds CORPUS_DIR
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "JpegEncode.h"
#include "editor/UserPresetFile.h"
#include "link/TracingAdapter.h"
#include "media/AviReader.h"
#include "network/EqFile.h"
#include "network/HardwarePreset.h"
#include "network/HfpFile.h"
#include "network/MachineList.h"
#include "network/Station.h"
#include "sim/SimAdapter.h"
#include "support/PresetRig.h"
#include "support/RecordingFrontend.h"

using namespace qubix;
namespace fs = std::filesystem;

namespace {

fs::path corpus;

template <typename Bytes>
void Seed(const std::string& target, const std::string& name, const Bytes& bytes) {
  fs::create_directories(corpus / target);
  std::ofstream out(corpus / target / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s/%s\n", target.c_str(), name.c_str());
    std::exit(1);
  }
}

template <typename Bytes>
std::vector<std::uint8_t> Prefix(const Bytes& bytes, std::size_t n) {
  return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(n, bytes.size()))};
}

// width × height pixels of a diagonal colour ramp.
media::RgbImage Ramp(int width, int height) {
  media::RgbImage image{width, height, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      image.rgb.push_back(static_cast<std::uint8_t>(x * 255 / width));
      image.rgb.push_back(static_cast<std::uint8_t>(y * 255 / height));
      image.rgb.push_back(static_cast<std::uint8_t>((x + y) * 127 / (width + height)));
    }
  return image;
}

std::vector<std::uint8_t> Jpeg(const media::RgbImage& image, bool gray, bool progressive) {
  return fuzz::CompressJpeg(image, gray, progressive);
}

// A one-stream Motion-JPEG clip of the given frames: only the chunks the reader looks at.
std::vector<std::uint8_t> MjpegAvi(const std::vector<std::vector<std::uint8_t>>& frames, int width,
                                   int height) {
  auto le32 = [](std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
  };
  auto chunk = [&](const char* id, const std::string& body) {
    std::string out(id, 4);
    le32(out, static_cast<std::uint32_t>(body.size()));
    out += body;
    if (body.size() & 1u) out.push_back('\0');
    return out;
  };
  auto list = [&](const char* type, const std::string& body) { return chunk("LIST", type + body); };
  std::string avih;
  le32(avih, 100000);
  avih.resize(40, '\0');
  std::string strh = "vidsMJPG";
  strh.resize(48, '\0');
  std::string strf;
  le32(strf, 40);
  le32(strf, static_cast<std::uint32_t>(width));
  le32(strf, static_cast<std::uint32_t>(height));
  strf += std::string("\1\0\x18\0MJPG", 8);
  strf.resize(40, '\0');
  std::string movi;
  for (const auto& f : frames) movi += chunk("00dc", std::string(f.begin(), f.end()));
  const std::string body =
      "AVI " +
      list("hdrl", chunk("avih", avih) + list("strl", chunk("strh", strh) + chunk("strf", strf))) +
      list("movi", movi);
  const std::string riff = chunk("RIFF", body);
  return {riff.begin(), riff.end()};
}

network::HfpImage ExtraImage() {
  network::HfpImage image{};
  const std::string name = "FUZZ SEED PRESET  ";
  std::copy(name.begin(), name.end(), image.begin() + network::kHfpPayloadOffset);
  for (std::size_t i = network::kHfpPayloadOffset + name.size(); i < network::kHfpSummedBytes; ++i)
    image[i] = static_cast<std::uint8_t>(i * 7);
  network::SealHfpImage(image);
  return image;
}

// Keeps what each write made readable, in the bus replies target's script form: per write, a
// length byte and the bytes read before the next write. The simulator counts the writes.
struct ScriptRecorder {
  explicit ScriptRecorder(test::TamperingAdapter& adapter, const sim::SimAdapter& sim) {
    adapter.onRead = [this, &sim](std::uint8_t* buffer, std::uint32_t& got, std::uint32_t,
                                  const std::string&) {
      replies.resize(
          std::max<std::size_t>(replies.size(), static_cast<std::size_t>(sim.calls().write)));
      if (!replies.empty()) replies.back().append(reinterpret_cast<const char*>(buffer), got);
    };
  }
  std::string script() const {
    std::string out;
    for (const auto& reply : replies) {
      out.push_back(static_cast<char>(std::min<std::size_t>(reply.size(), 255)));
      out += reply.substr(0, 255);
    }
    return out;
  }
  std::vector<std::string> replies;
};

// A refresh of two listed machines, a hardware preset change and an Extra preset upload on the
// simulated bus: what the PC sent and what the machines answered to the first two.
void SessionSeeds() {
  const fs::path dir = fs::temp_directory_path() / "qubix-fuzz-seeds";
  fs::remove_all(dir);
  fs::create_directories(dir);
  auto* sim = new sim::SimAdapter(sim::makeDemoBus());
  auto* adapter = new test::TamperingAdapter(sim);
  test::RecordingFrontend frontend;
  network::Station station(std::unique_ptr<link::Adapter>(adapter), frontend, dir);
  network::MachineList list;
  list.setEntry(0, "H000000010001");
  list.setEntry(1, "H000000010005");
  list.count = 2;
  std::string error;
  network::WriteMachineListFile(station.machineListPath(), list, error);
  station.Connect();
  sim->bus().clearTranscript();
  sim->resetCalls();
  ScriptRecorder recorder(*adapter, *sim);
  network::TickCounter ticks([sim] { return sim->nowMs(); });
  network::HardwarePresets presets(station.link, station.bus, station.commands, frontend,
                                   station.network, ticks);
  const int preset = 5;
  if (station.network.RefreshMachines() != network::RefreshOutcome::Done ||
      presets.ApplyHardwarePreset(0, preset) != network::PresetChangeOutcome::Done) {
    std::fprintf(stderr, "the simulated session failed\n");
    std::exit(1);
  }
  std::string replies(1, static_cast<char>(preset));
  replies += recorder.script();
  Seed("bus_replies", "refresh-and-preset-change", replies);
  Seed("bus_replies", "refresh-cut-short", Prefix(replies, replies.size() / 3));
  Seed("sim_frames", "refresh-and-preset-change", sim->bus().pcBytes());

  const auto image = ExtraImage();
  std::ofstream(dir / "seed.hfp", std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), image.size());
  sim->bus().clearTranscript();
  if (presets.UploadExtraPresetFile(0, (dir / "seed.hfp").string()) !=
      network::UploadOutcome::Done) {
    std::fprintf(stderr, "the simulated upload failed\n");
    std::exit(1);
  }
  Seed("sim_frames", "upload", sim->bus().pcBytes());
  adapter->onRead = nullptr;
  fs::remove_all(dir);
}

// Traces as --trace writes them, read back as text: what `run` did on the simulated bus with two
// listed machines, reads in slices (as the window makes them) when sliced.
std::string TraceOf(bool sliced,
                    const std::function<void(network::Station&, sim::SimAdapter&)>& run) {
  const fs::path dir = fs::temp_directory_path() / "qubix-fuzz-trace-seeds";
  fs::remove_all(dir);
  fs::create_directories(dir);
  auto sim = std::make_unique<sim::SimAdapter>(sim::makeDemoBus());
  sim::SimAdapter& bus = *sim;
  std::string error;
  auto tracing = link::TracingAdapter::open(std::move(sim), (dir / "bus.jsonl").string(), error,
                                            [&bus] { return bus.nowMs(); });
  if (!tracing) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::exit(1);
  }
  {
    test::RecordingFrontend frontend;
    network::Station station(std::move(tracing), frontend, dir);
    if (sliced) station.link.whileWaiting = [] {};
    network::MachineList list;
    list.setEntry(0, "H000000010001");
    list.setEntry(1, "H000000010005");
    list.count = 2;
    network::WriteMachineListFile(station.machineListPath(), list, error);
    station.Connect();
    run(station, bus);
    station.link.CloseAdapter();
  }
  std::ifstream in(dir / "bus.jsonl", std::ios::binary);
  std::string text{std::istreambuf_iterator<char>(in), {}};
  fs::remove_all(dir);
  return text;
}

std::string FirstLines(const std::string& text, int count) {
  std::size_t end = 0;
  for (int i = 0; i < count && end != std::string::npos; ++i) end = text.find('\n', end + 1);
  return text.substr(0, end == std::string::npos ? text.size() : end + 1);
}

void TraceSeeds() {
  const std::string session = TraceOf(false, [](network::Station& station, sim::SimAdapter& sim) {
    station.network.RefreshMachines();
    network::TickCounter ticks([&sim] { return sim.nowMs(); });
    network::HardwarePresets presets(station.link, station.bus, station.commands, station.frontend,
                                     station.network, ticks);
    presets.ApplyHardwarePreset(0, 5);
  });
  Seed("trace", "refresh-and-preset-change", session);
  Seed("trace", "cut-mid-line", session.substr(0, session.size() / 2));
  // The second machine's first answers, each read in slices as it comes late.
  Seed("trace", "window-late-answers",
       FirstLines(TraceOf(true,
                          [](network::Station& station, sim::SimAdapter& sim) {
                            sim.bus().find("H000000010005")->faults.lateMs = 300;
                            station.network.RefreshMachines();
                          }),
                  120));
  const fs::path hfp = fs::temp_directory_path() / "qubix-fuzz-trace-seed.hfp";
  const auto image = ExtraImage();
  std::ofstream(hfp, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), image.size());
  const std::string upload =
      TraceOf(false, [&hfp](network::Station& station, sim::SimAdapter& sim) {
        station.network.RefreshMachines();
        network::TickCounter ticks([&sim] { return sim.nowMs(); });
        network::HardwarePresets presets(station.link, station.bus, station.commands,
                                         station.frontend, station.network, ticks);
        presets.UploadExtraPresetFile(0, hfp.string());
      });
  fs::remove(hfp);
  // The refresh, the "J" frame that begins the upload and the first few bytes of it.
  const auto begin = upload.find("\"hex\":\"4a");
  if (begin == std::string::npos) {
    std::fprintf(stderr, "the traced upload did not begin\n");
    std::exit(1);
  }
  const auto linesBefore = std::count(upload.begin(), upload.begin() + begin, '\n');
  Seed("trace", "upload-begun", FirstLines(upload, static_cast<int>(linesBefore) + 40));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  corpus = argv[1];

  network::MachineList list;
  list.setEntry(0, "H000000010001");
  list.setEntry(1, "H000000010002");
  list.setEntry(2, "H000000010005");
  list.count = 3;
  Seed("maclist", "three-machines", network::EncodeMachineList(list));
  for (int i = 3; i < network::kListEntries; ++i)
    list.setEntry(i, "H00000001000" + std::to_string(i));
  list.count = network::kListEntries;
  Seed("maclist", "full", network::EncodeMachineList(list));
  Seed("maclist", "short", Prefix(network::EncodeMachineList(list), 40));

  std::string names, crlf;
  const auto defaults = network::DefaultHardwarePresetNames();
  for (const auto& name : defaults) names += name + "\n";
  for (int k = 0; k < 3; ++k) crlf += defaults[static_cast<std::size_t>(k)] + "\r\n";
  Seed("hwpresetlist", "defaults", names);
  Seed("hwpresetlist", "crlf-three-lines", crlf);

  auto eq = network::DefaultEqRecord();
  Seed("eqfile", "defaults", network::EncodeEqRecord(eq));
  eq.flatFlag = 1;
  for (int i = 0; i < network::kEqBandCount; ++i) {
    eq.gainDb[i] = static_cast<float>(i) - 5.5f;
    eq.savedGainDb[i] = 12.0f - static_cast<float>(i);
  }
  Seed("eqfile", "flat-with-stash", network::EncodeEqRecord(eq));
  Seed("eqfile", "short", Prefix(network::EncodeEqRecord(eq), 61));

  editor::UserPresetRecord vup;
  vup.inputGainA = -20;
  vup.inputGainB = 24;
  vup.knob12 = 64;
  vup.knob34 = 10;
  vup.muted = {0, 1, 0, 1};
  vup.delay12 = 310;
  vup.delay34 = 7;
  vup.flatMode = 1;
  for (std::size_t b = 0; b < editor::kPresetBands; ++b) {
    vup.freqHz[b] = 10 + static_cast<std::int32_t>(b) * 1999;
    vup.gainDb[b] = -12.0f + static_cast<float>(b) * 2.5f;
    vup.flatGainStash[b] = 1.5f;
    vup.q[b] = 0.2f + static_cast<float>(b) * 5.0f;
  }
  vup.ampLevelCode = 255;
  Seed("vup", "every-field-set", editor::EncodeUserPreset(vup));
  Seed("vup", "short", Prefix(editor::EncodeUserPreset(vup), 100));

  const auto hfp = ExtraImage();
  Seed("hfp", "named-preset", hfp);
  Seed("hfp", "one-byte-short", Prefix(hfp, hfp.size() - 1));

  const auto ramp = Ramp(16, 8);
  Seed("jpeg", "baseline-rgb", Jpeg(ramp, false, false));
  Seed("jpeg", "grayscale", Jpeg(ramp, true, false));
  Seed("jpeg", "progressive", Jpeg(Ramp(9, 7), false, true));
  Seed("jpeg", "truncated", Prefix(Jpeg(ramp, false, false), 200));
  // Recipes of the target's own pictures: flags (1 grey, 2 progressive), width and height less
  // one, quality less one, bytes kept (16 bits), byte changed (16 bits) and its xor, pixels.
  const auto recipe = [](std::initializer_list<std::uint8_t> head) {
    std::vector<std::uint8_t> bytes(head);
    for (int i = 0; i < 48; ++i) bytes.push_back(static_cast<std::uint8_t>(i * 37));
    return bytes;
  };
  Seed("jpeg", "recipe-colour", recipe({0, 15, 7, 74, 0, 0, 0, 0, 0}));
  Seed("jpeg", "recipe-grey-progressive-cut", recipe({3, 8, 6, 89, 0x90, 0x01, 0, 0, 0}));
  Seed("jpeg", "recipe-byte-changed", recipe({0, 11, 11, 49, 0, 0, 0xa0, 0, 0x5a}));

  const auto avi = media::WriteUncompressedAvi({Ramp(4, 3), Ramp(4, 3)}, 100000);
  Seed("avi", "two-frames", avi);
  Seed("avi", "truncated", Prefix(avi, avi.size() - 20));
  Seed("avi", "motion-jpeg", MjpegAvi({Jpeg(ramp, false, false), Jpeg(ramp, true, false)}, 16, 8));

  SessionSeeds();
  TraceSeeds();

  // Requests to the service: the first byte is the size less one of the pieces they come in.
  const std::string host = "Host: 127.0.0.1:8424\r\n";
  Seed("http_request", "pipelined-get-and-patch",
       "\x06GET /api/v1/buses HTTP/1.1\r\n" + host + "\r\nPATCH /api/v1/buses/main/machines/1 " +
           "HTTP/1.1\r\n" + host +
           "Content-Length: 31\r\n\r\n{\"bands\":[{\"band\":4,\"gain\":6}]}");
  Seed("http_request", "lf-only-close",
       std::string(1, '\0') + "GET /a%20b?x=1 HTTP/1.1\nHost: q\nConnection: close\n\n");
  Seed("http_request", "chunked-refused",
       "\x10POST /api/v1/session HTTP/1.1\r\n" + host +
           "Transfer-Encoding: chunked\r\n\r\n5\r\nhello");
  Seed("http_request", "length-one-short",
       "\xffPOST / HTTP/1.0\r\nContent-Length: 4\r\n\r\nhelloGET / HTTP/1.1\r\n" + host + "\r\n");
  return 0;
}
