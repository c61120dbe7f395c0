// The limits a change is checked against are stated three times: by the editor (what the API
// checks), by the OpenAPI document and by the page's controls. They must say the same.
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>

#include "SchemaCheck.h"
#include "editor/ShowSnapshot.h"
#include "support/CaseNames.h"

namespace qubix::test {
namespace {

struct LimitCase {
  const char* name;
  editor::Limit limit;
  const char* machine;  // the value's schema under Machine, "/"-separated
  const char* change;   // and under MachineChange
  const char* page;     // the page's limits entry
};

const LimitCase kLimits[] = {
    {"InputGain", editor::kInputGainLimit, "inputGain/a", "inputGain/a", "inputGain"},
    {"Attenuation", editor::kAttenuationLimit, "attenuation/ch34", "attenuation/ch34",
     "attenuation"},
    {"Delay", editor::kDelayLimit, "delay/ch12", "delay/ch12", "delay"},
    {"AmpLevel", editor::kAmpLevelLimit, "ampLevel", "ampLevel", "ampLevel"},
    {"BandFrequency", editor::kBandFreqLimit, "bands/frequency", "bands/frequency", "frequency"},
    {"BandGain", editor::kBandGainLimit, "bands/gain", "bands/gain", "gain"},
    {"BandQ", editor::kBandQLimit, "bands/q", "bands/q", "q"},
};

// The schema at a "/"-separated path of properties (an array's items stepped through).
QJsonObject At(const OpenApi& api, const char* schema, const std::string& path) {
  QJsonObject s = api.doc()["components"]["schemas"][schema].toObject();
  for (const QString& key : QString::fromStdString(path).split('/')) {
    s = s.value("properties").toObject().value(key).toObject();
    if (s.contains("$ref"))
      s = api.doc()["components"]["schemas"][s.value("$ref").toString().section('/', -1)]
              .toObject();
    if (s.contains("items")) s = s.value("items").toObject();
    if (s.contains("$ref"))
      s = api.doc()["components"]["schemas"][s.value("$ref").toString().section('/', -1)]
              .toObject();
  }
  return s;
}

// The page's `name: { min: …, max: …, step: …, … }` entries.
struct PageLimit {
  double min = 0, max = 0, step = 0;
  bool found = false;
};
PageLimit Page(const char* name) {
  QFile f(QStringLiteral(QUBIX_SOURCE_DIR "/src/service/web/controls.js"));
  f.open(QIODevice::ReadOnly);
  const QString text = QString::fromUtf8(f.readAll());
  const QRegularExpression entry(
      QStringLiteral(
          R"(\b%1:\s*\{\s*min:\s*(-?[\d.]+),\s*max:\s*(-?[\d.]+),\s*step:\s*([\d.]+)[^}]*\})")
          .arg(QLatin1String(name)));
  const auto m = entry.match(text);
  if (!m.hasMatch()) return {};
  return {m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3).toDouble(), true};
}

class Limits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(Limits, TheEditorTheDocumentAndThePageAgree) {
  static OpenApi api;
  const LimitCase& c = GetParam();
  for (const auto& [schema, path] :
       {std::pair{"Machine", c.machine}, {"MachineChange", c.change}}) {
    const QJsonObject s = At(api, schema, path);
    ASSERT_TRUE(s.contains("minimum")) << schema << " " << path;
    EXPECT_EQ(s.value("minimum").toDouble(), c.limit.min) << schema << " " << path;
    EXPECT_EQ(s.value("maximum").toDouble(), c.limit.max) << schema << " " << path;
  }
  // A change in steps states them; a value taken at any resolution states none.
  const QJsonObject change = At(api, "MachineChange", c.change);
  if (c.limit.step > 0 && c.limit.step != 1) {
    EXPECT_EQ(change.value("multipleOf").toDouble(), c.limit.step);
  } else if (c.limit.step == 1) {
    EXPECT_EQ(change.value("type").toString(), "integer");
  } else {
    EXPECT_FALSE(change.contains("multipleOf"));
  }
  const PageLimit page = Page(c.page);
  ASSERT_TRUE(page.found) << c.page;
  EXPECT_EQ(page.min, c.limit.min);
  EXPECT_EQ(page.max, c.limit.max);
  if (c.limit.step > 0) {
    EXPECT_EQ(page.step, c.limit.step);
  }
}
INSTANTIATE_TEST_SUITE_P(Fields, Limits, ::testing::ValuesIn(kLimits), ByNameField());

}  // namespace
}  // namespace qubix::test
