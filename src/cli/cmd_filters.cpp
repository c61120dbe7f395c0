// Filter commands: biquad (one parametric band), filterblock (one filter block), response
// (the combined magnitude at the response graph's columns).
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstdio>
#include <string>

#include "cli/Command.h"
#include "cli/JsonOut.h"
#include "filters/CoefficientWord.h"
#include "filters/FilterBlock.h"
#include "filters/ParametricBand.h"
#include "filters/Response.h"
#include "protocol/Commands.h"

namespace qubix::cli {
namespace {

using namespace qubix::filters;

// Inputs are 32-bit floats; keep them where a float still means something.
constexpr double kMaxFreqHz = 1e6;
constexpr double kMaxAbsGainDb = 200.0;
constexpr double kMaxQ = 1e4;
constexpr int kMaxSampleRateHz = 10'000'000;

QCommandLineOption ValueOption(const char* name, const char* valueName, const char* help) {
  return QCommandLineOption(QString::fromLatin1(name), QString::fromUtf8(help),
                            QString::fromLatin1(valueName));
}

std::string Number(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.12g", v);
  return text;
}

QJsonObject CoefficientsJson(const BiquadCoefficients& c) {
  QJsonArray words;
  for (std::uint32_t word : BandWords(c)) words.append(JsonText(WordText(word)));
  return QJsonObject{{"b0", JsonNumber(c.b0)}, {"b1", JsonNumber(c.b1)}, {"b2", JsonNumber(c.b2)},
                     {"a1", JsonNumber(c.a1)}, {"a2", JsonNumber(c.a2)}, {"words", words}};
}

std::string CoefficientLines(const BiquadCoefficients& c, const char* indent) {
  std::string s;
  const std::pair<const char*, double> rows[] = {
      {"b0", c.b0}, {"b1", c.b1}, {"b2", c.b2}, {"a1", c.a1}, {"a2", c.a2}};
  for (const auto& [name, v] : rows) s += std::string(indent) + name + " = " + Number(v) + "\n";
  s += std::string(indent) + "words (b2 b0 b1 a2 a1) =";
  for (std::uint32_t word : BandWords(c)) s += " " + WordText(word);
  return s + "\n";
}

// ---- biquad ---------------------------------------------------------------------------------

void AddBiquadOptions(QCommandLineParser& p) {
  p.addOption(ValueOption("freq", "HZ", "Centre frequency in Hz."));
  p.addOption(ValueOption("gain", "DB", "Gain in dB (negative cuts)."));
  p.addOption(ValueOption("q", "Q", "Quality factor."));
  p.addOption(ValueOption("sr", "HZ", "Sample rate in Hz (default 48000)."));
  p.addOption(ValueOption("band", "N", "Equaliser band 1 … 10: also print its live frames."));
}

int RunBiquad(Invocation& inv) {
  inv.rejectPositional();
  const double freq = inv.requireDouble(QStringLiteral("freq"), 0.0, kMaxFreqHz);
  const double gain = inv.requireDouble(QStringLiteral("gain"), -kMaxAbsGainDb, kMaxAbsGainDb);
  const double q = inv.requireDouble(QStringLiteral("q"), 0.0, kMaxQ);
  const int sr = inv.optionalInt(QStringLiteral("sr"), 1, kMaxSampleRateHz).value_or(48000);
  const std::optional<int> band = inv.optionalInt(QStringLiteral("band"), 1, kBandCount);

  ParametricBand calc;
  const int code =
      calc.FBCalc(static_cast<float>(freq), static_cast<float>(gain), static_cast<float>(q), sr);
  const BiquadCoefficients& c = calc.Coefficients();

  // A band that failed is never sent, so it has no frames.
  std::vector<std::pair<std::int32_t, std::string>> frames;
  if (band && code == kFilterOk) {
    const std::int32_t address = BandAddress(*band);
    for (std::int32_t a : {address, MirrorAddress(address)})
      frames.emplace_back(a, protocol::frames::BandCoefficients(a, SendingOrder(c)));
  }

  if (inv.json) {
    QJsonObject o = CoefficientsJson(c);
    o.insert("code", code);
    if (band) {
      QJsonArray list;
      for (const auto& f : frames) list.append(JsonText(f.second));
      o.insert("frames", list);
    }
    inv.print(JsonLine(QJsonDocument(o)));
  } else {
    std::string s = CoefficientLines(c, "");
    s += "code = " + std::to_string(code) +
         (code == kFilterOk ? " (ok)\n" : " (does not fit the DSP)\n");
    for (const auto& [address, frame] : frames)
      s += "frame @" + std::to_string(address) + " = " + frame + "\n";
    inv.print(s);
  }
  return code == kFilterOk ? kExitOk : kExitFailure;
}

// ---- filterblock ----------------------------------------------------------------------------

void AddFilterBlockOptions(QCommandLineParser& p) {
  p.addOption(ValueOption("model", "NAME", "Model, e.g. FBMButt_LPF, FBMPara, FBMGeneric."));
  p.addOption(ValueOption("slope", "NAME", "Slope FBSlope06 … FBSlope48 (default FBSlope06)."));
  p.addOption(ValueOption("freq", "HZ", "Frequency in whole Hz (default 1000)."));
  p.addOption(ValueOption("gain", "DB", "Gain in whole dB (default 0)."));
  p.addOption(ValueOption("q", "Q", "Q of the parametric model (default 0.5)."));
  p.addOption(ValueOption("shelf", "S", "Shelf slope S (default 0.5)."));
  p.addOption(ValueOption("apb", "HZ", "All-pass bandwidth in Hz (default 0)."));
  p.addOption(ValueOption("sr", "HZ", "Sample rate in Hz (default 48000)."));
  p.addOption(ValueOption("section", "B0,B1,B2,A1,A2", "Host section of FBMGeneric."));
}

QString NameList(bool models) {
  QStringList names;
  const int count = models ? kFBModelCount : kFBSlopeCount;
  for (int i = 0; i < count; ++i) {
    const auto n = models ? ModelName(static_cast<FBModel>(i)) : SlopeName(static_cast<FBSlope>(i));
    names << QString::fromLatin1(n.data(), static_cast<qsizetype>(n.size()));
  }
  return names.join(u' ');
}

std::vector<double> ParseNumberList(const QString& text, int count, const char* what) {
  const QStringList parts = text.split(u',');
  std::vector<double> values;
  for (const QString& part : parts) {
    const auto v = ParseDouble(part);
    if (!v) break;
    values.push_back(*v);
  }
  if (parts.size() != count || static_cast<int>(values.size()) != count)
    throw UsageError(std::string(what) + ": '" + text.toStdString() + "' is not " +
                     std::to_string(count) + " comma-separated numbers");
  return values;
}

int RunFilterBlock(Invocation& inv) {
  inv.rejectPositional();
  if (!inv.isSet(QStringLiteral("model"))) throw UsageError("--model is required");
  const QString modelText = inv.value(QStringLiteral("model"));
  const auto model = ModelFromName(modelText.toStdString());
  if (!model)
    throw UsageError(("--model: unknown model '" + modelText + "' (one of " + NameList(true) + ")")
                         .toStdString());
  std::optional<FBSlope> slope;
  if (inv.isSet(QStringLiteral("slope"))) {
    const QString slopeText = inv.value(QStringLiteral("slope"));
    slope = SlopeFromName(slopeText.toStdString());
    if (!slope)
      throw UsageError(
          ("--slope: unknown slope '" + slopeText + "' (one of " + NameList(false) + ")")
              .toStdString());
  }

  FilterBlock block;
  block.SetFBActive(true);
  block.SetFilterBlockModel(*model);
  if (slope) block.SetFilterBlockSlope(*slope);
  if (auto v = inv.optionalInt(QStringLiteral("freq"), 0, static_cast<int>(kMaxFreqHz)))
    block.SetFilterBlockFreq(*v);
  if (auto v = inv.optionalInt(QStringLiteral("gain"), -static_cast<int>(kMaxAbsGainDb),
                               static_cast<int>(kMaxAbsGainDb)))
    block.SetFilterBlockGain(*v);
  if (auto v = inv.optionalDouble(QStringLiteral("q"), 0.0, kMaxQ))
    block.SetFilterBlockQF(static_cast<float>(*v));
  if (auto v = inv.optionalDouble(QStringLiteral("shelf"), 0.0, kMaxQ))
    block.SetFilterBlockShelfS(static_cast<float>(*v));
  if (auto v = inv.optionalDouble(QStringLiteral("apb"), 0.0, kMaxFreqHz))
    block.SetFilterBlockAPB(static_cast<float>(*v));
  if (auto v = inv.optionalInt(QStringLiteral("sr"), 1, kMaxSampleRateHz))
    block.SetFilterBlockSR(*v);
  if (inv.isSet(QStringLiteral("section"))) {
    if (*model != FBMGeneric) throw UsageError("--section is only for FBMGeneric");
    const auto v = ParseNumberList(inv.value(QStringLiteral("section")), 5, "--section");
    block.SetSection(0, {v[0], v[1], v[2], v[3], v[4]});
  }

  const int code = block.FBCalc();
  const int sections = block.SectionCount();
  const std::string modelName(ModelName(block.FilterBlockModel()));
  const std::string slopeName(SlopeName(block.FilterBlockSlope()));

  if (inv.json) {
    QJsonArray list;
    for (int i = 0; i < sections; ++i) list.append(CoefficientsJson(block.Section(i)));
    const QJsonObject o{{"model", JsonText(modelName)},
                        {"slope", JsonText(slopeName)},
                        {"code", code},
                        {"sectionCount", sections},
                        {"sections", list}};
    inv.print(JsonLine(QJsonDocument(o)));
  } else {
    std::string s = "model = " + modelName + "\nslope = " + slopeName +
                    "\ncode = " + std::to_string(code) + (code == 0 ? " (ok)" : " (failed)") +
                    "\nSectionCount = " + std::to_string(sections) + "\n";
    for (int i = 0; i < sections; ++i) {
      s += "section " + std::to_string(i) + ":\n";
      s += CoefficientLines(block.Section(i), "  ");
    }
    inv.print(s);
  }
  return code == 0 ? kExitOk : kExitFailure;
}

// ---- response -------------------------------------------------------------------------------

void AddResponseOptions(QCommandLineParser& p) {
  p.addOption(ValueOption("band", "HZ,DB,Q", "One parametric band (repeat up to ten times)."));
  p.addOption(QCommandLineOption(
      QStringLiteral("quantized"),
      QStringLiteral("From the 24-bit words the DSP is sent, not the doubles.")));
  p.addOption(QCommandLineOption(
      QStringLiteral("compare"),
      QStringLiteral("Print only the largest difference in dB between the two.")));
}

int RunResponse(Invocation& inv) {
  inv.rejectPositional();
  const QStringList bands = inv.values(QStringLiteral("band"));
  if (bands.size() > kResponseBands)
    throw UsageError("--band: at most " + std::to_string(kResponseBands) + " bands");

  BandCoefficientTable table;
  for (qsizetype j = 0; j < bands.size(); ++j) {
    const auto v = ParseNumberList(bands[j], 3, "--band");
    if (v[0] < 0 || v[0] > kMaxFreqHz || std::fabs(v[1]) > kMaxAbsGainDb || v[2] < 0 ||
        v[2] > kMaxQ)
      throw UsageError("--band: '" + bands[j].toStdString() + "' is out of range");
    ParametricBand calc;
    const int code = calc.FBCalc(static_cast<float>(v[0]), static_cast<float>(v[1]),
                                 static_cast<float>(v[2]), 48000);
    // As in the editor, a band that does not fit keeps the flat set.
    if (code == kFilterOk)
      table.SetBand(static_cast<int>(j), calc.Coefficients());
    else
      inv.printError(QStringLiteral("band %1 (%2) does not fit the DSP (code %3); left flat")
                         .arg(j + 1)
                         .arg(bands[j])
                         .arg(code));
  }

  ResponseArray response;
  ComputeResponse(inv.isSet(QStringLiteral("quantized")) ? QuantizedTable(table) : table, response);
  if (inv.isSet(QStringLiteral("compare"))) {
    ResponseArray exact, quantized;
    ComputeResponse(table, exact);
    ComputeResponse(QuantizedTable(table), quantized);
    const ResponseDifference d = LargestDifferenceDb(exact, quantized);
    if (inv.json) {
      const QJsonObject o{{QStringLiteral("largestDifferenceDb"), d.db},
                          {QStringLiteral("x"), d.column},
                          {QStringLiteral("freq"), ColumnFrequencyHz(d.column)}};
      inv.print(JsonLine(QJsonDocument(o)));
    } else {
      char line[96];
      std::snprintf(line, sizeof line, "largest difference %.6f dB at x %d (%.2f Hz)\n", d.db,
                    d.column, ColumnFrequencyHz(d.column));
      inv.print(std::string(line));
    }
    return kExitOk;
  }
  if (inv.json) {
    QJsonArray columns;
    for (int k = 0; k < kResponseColumns; ++k) {
      columns.append(QJsonObject{{"x", k + 1},
                                 {"freq", JsonNumber(ColumnFrequencyHz(k + 1))},
                                 {"mag", JsonNumber(response[k])},
                                 {"db", JsonNumber(20.0 * std::log10(response[k]))}});
    }
    inv.print(JsonLine(QJsonDocument(columns)));
  } else {
    std::string s = "x\tfreq_hz\tmag\tdb\n";
    for (int k = 0; k < kResponseColumns; ++k) {
      char line[96];
      std::snprintf(line, sizeof line, "%d\t%.2f\t%.9f\t%.4f\n", k + 1, ColumnFrequencyHz(k + 1),
                    response[k], 20.0 * std::log10(response[k]));
      s += line;
    }
    inv.print(s);
  }
  return kExitOk;
}

const RegisterCommand kBiquad{{QStringLiteral("biquad"),
                               QStringLiteral("Coefficients and DSP words of one parametric band."),
                               AddBiquadOptions, RunBiquad}};
const RegisterCommand kFilterBlock{
    {QStringLiteral("filterblock"),
     QStringLiteral("Sections of one filter block (crossover, shelf, ...)."), AddFilterBlockOptions,
     RunFilterBlock}};
const RegisterCommand kResponse{
    {QStringLiteral("response"),
     QStringLiteral("Combined magnitude of up to ten bands at the graph columns "
                    "(--quantized: as the DSP runs them; --compare)."),
     AddResponseOptions, RunResponse}};

}  // namespace
}  // namespace qubix::cli
