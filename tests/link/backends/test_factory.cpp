// Every --link form: which backend it gives, or the clear message when it cannot.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "compose/LinkFactory.h"
#include "link/Link.h"
#include "link/backends/ftdi/FtdiAdapter.h"
#include "link/backends/serial/SerialAdapter.h"
#include "support/CaseNames.h"
#include "support/RecordingFrontend.h"

namespace qubix::test {
namespace {

using compose::makeAdapter;

struct Form {
  const char* name;
  std::string uri;
  std::string backend;  // "" when no adapter is expected
  std::string error;    // the start of the message when none
};

class FactoryForms : public ::testing::TestWithParam<Form> {
 protected:
  // "d2xx:" alone must not find a library that happens to be installed.
  void SetUp() override { ::setenv("QUBIX_D2XX_LIBRARY", "/nonexistent/libftd2xx.so", 1); }
  void TearDown() override { ::unsetenv("QUBIX_D2XX_LIBRARY"); }
};

TEST_P(FactoryForms, GivesTheBackendOrSaysWhy) {
  const Form& form = GetParam();
  std::string error;
  auto adapter = makeAdapter(form.uri, error);
  if (form.backend.empty()) {
    EXPECT_EQ(adapter, nullptr);
    EXPECT_EQ(error.substr(0, form.error.size()), form.error) << error;
  } else {
    ASSERT_NE(adapter, nullptr) << error;
    EXPECT_EQ(adapter->backendName(), form.backend);
    EXPECT_EQ(error, "");
  }
}

const bool kSerial = link::backends::SerialAdapter::compiledIn();
const bool kFtdi = link::backends::FtdiAdapter::compiledIn();

INSTANTIATE_TEST_SUITE_P(
    Links, FactoryForms,
    ::testing::Values(
        Form{"sim", "sim:", "sim", ""}, Form{"empty", "", "auto", ""},
        Form{"none", "none:", "none", ""},
        Form{"serial_default", "serial:", kSerial ? "serial" : "",
             "the serial adapter is not available: "},
        Form{"serial_device", "serial:/dev/ttyUSB1", kSerial ? "serial" : "",
             "the serial adapter is not available: "},
        Form{"ftdi_default", "ftdi:", kFtdi ? "ftdi" : "", "the ftdi adapter is not available: "},
        Form{"ftdi_description", "ftdi:Velmoria USBNet", kFtdi ? "ftdi" : "",
             "the ftdi adapter is not available: "},
        Form{"d2xx_default", "d2xx:", "",
             "the d2xx adapter is not available: cannot load /nonexistent/libftd2xx.so"},
        Form{"d2xx_missing", "d2xx:/no/such/libftd2xx.so", "",
             "the d2xx adapter is not available: cannot load /no/such/libftd2xx.so"},
        Form{"d2xx_partial", std::string("d2xx:") + QUBIX_PARTIAL_LIB, "",
             "the d2xx adapter is not available: " QUBIX_PARTIAL_LIB " lacks FT_GetDeviceInfo"},
        Form{"d2xx_standin", std::string("d2xx:") + QUBIX_STANDIN_LIB, "d2xx", ""},
        Form{"unknown_scheme", "usb:", "", "unknown link \"usb:\""}),
    qubix::test::ByNameField{});

// A device that does not exist is looked for at every connect; the reason is on the tool tip.
TEST(FactoryConnect, MissingSerialDeviceLeavesTheReasonOnTheStatusDetail) {
  if (!link::backends::SerialAdapter::compiledIn()) GTEST_SKIP() << "built without libserialport";
  std::string error;
  auto adapter = makeAdapter("serial:/dev/ttyQUBIXnone", error);
  ASSERT_NE(adapter, nullptr) << error;
  test::RecordingFrontend frontend;
  link::Link link(std::move(adapter), frontend);
  link.Connect();
  EXPECT_FALSE(link.state().Connected);
  EXPECT_EQ(frontend.statusText, "NoDevice");  // the status texts stay as they are
  EXPECT_NE(frontend.statusDetail.find("/dev/ttyQUBIXnone"), std::string::npos)
      << frontend.statusDetail;
}

TEST(FactoryConnect, FtdiWithoutAChipSaysSo) {
  if (!link::backends::FtdiAdapter::compiledIn()) GTEST_SKIP() << "built without libftdi1";
  std::string error;
  auto adapter = makeAdapter("ftdi:No Such Adapter Here", error);
  ASSERT_NE(adapter, nullptr) << error;
  test::RecordingFrontend frontend;
  link::Link link(std::move(adapter), frontend);
  link.Connect();
  EXPECT_FALSE(link.state().Connected);
  // Either the USB cannot be looked at here ("NoDevice") or it has no such chip ("NoOpenDvc").
  EXPECT_TRUE(frontend.statusText == "NoDevice" || frontend.statusText == "NoOpenDvc")
      << frontend.statusText;
  EXPECT_EQ(frontend.statusDetail.rfind("ftdi: ", 0), 0u) << frontend.statusDetail;
}

}  // namespace
}  // namespace qubix::test
