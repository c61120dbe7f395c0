// The API's route table: the same paths and methods as its OpenAPI document, and the answers
// of the dispatch itself (unknown path, method, bus, access) before any bus is asked.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>

#include "SchemaCheck.h"
#include "service/Api.h"
#include "support/CaseNames.h"

namespace qubix::test {
namespace {

using Operations = std::set<std::string>;  // "METHOD /pattern"

std::string Listed(const Operations& operations) {
  std::string out;
  for (const auto& o : operations) out += "\n  " + o;
  return out.empty() ? " none" : out;
}

TEST(ServiceRoutes, TableAndDocumentNameTheSameOperations) {
  Operations routed, documented;
  for (const service::ApiRoute& r : service::Api::routes())
    EXPECT_TRUE(routed.insert(r.method + " " + r.pattern).second)
        << "routed twice: " << r.method << " " << r.pattern;
  const OpenApi api;
  const QJsonObject paths = api.doc().value("paths").toObject();
  for (auto path = paths.begin(); path != paths.end(); ++path) {
    const QJsonObject item = path.value().toObject();
    for (const char* method : {"get", "put", "post", "delete", "patch", "head", "options"})
      if (item.contains(QLatin1String(method)))
        documented.insert(QString::fromLatin1(method).toUpper().toStdString() + " " +
                          path.key().toStdString());
  }
  ASSERT_FALSE(documented.empty());
  Operations onlyRouted, onlyDocumented;
  std::set_difference(routed.begin(), routed.end(), documented.begin(), documented.end(),
                      std::inserter(onlyRouted, onlyRouted.end()));
  std::set_difference(documented.begin(), documented.end(), routed.begin(), routed.end(),
                      std::inserter(onlyDocumented, onlyDocumented.end()));
  EXPECT_TRUE(onlyRouted.empty()) << "routed, not documented:" << Listed(onlyRouted);
  EXPECT_TRUE(onlyDocumented.empty()) << "documented, not routed:" << Listed(onlyDocumented);
}

struct DispatchCase {
  const char* name;
  service::Access access;
  const char* method;
  const char* path;
  int status;
  const char* body;   // the whole body, or "" when not compared
  const char* allow;  // the Allow header, "" for none
};

using A = service::Access;
const DispatchCase kDispatch[] = {
    {"OutsideTheApi", A::None, "GET", "/elsewhere", 404,
     R"({"error":"not_found","message":"no such resource: /elsewhere"})", ""},
    {"NoToken", A::None, "GET", "/api/v1/nowhere", 401,
     R"({"error":"unauthorized","message":"a token is needed"})", ""},
    {"ViewWrites", A::View, "DELETE", "/api/v1/nowhere", 403,
     R"({"error":"forbidden","message":"this token may only read"})", ""},
    {"NoSuchPath", A::Control, "GET", "/api/v1/nowhere", 404,
     R"({"error":"not_found","message":"no such resource: /api/v1/nowhere"})", ""},
    {"PathTooLong", A::Control, "GET", "/api/v1/openapi.json/extra", 404,
     R"({"error":"not_found","message":"no such resource: /api/v1/openapi.json/extra"})", ""},
    {"ListAnswersHead", A::View, "HEAD", "/api/v1/buses", 200, R"({"buses":[],"tls":false})", ""},
    {"ListTakesNoDelete", A::Control, "DELETE", "/api/v1/buses", 405,
     R"({"error":"method_not_allowed","message":"DELETE is not allowed on /api/v1/buses"})",
     "GET, HEAD"},
    {"SessionOnlyPost", A::Control, "GET", "/api/v1/session", 405, "", "POST"},
    {"UnknownBusBeforePath", A::Control, "GET", "/api/v1/buses/b2/elsewhere", 404,
     R"({"error":"not_found","message":"no bus named b2"})", ""},
    {"UnknownBusBeforeMethod", A::Control, "DELETE", "/api/v1/buses/b2/machines/1/eq", 404,
     R"({"error":"not_found","message":"no bus named b2"})", ""},
};

class ServiceDispatch : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(ServiceDispatch, AnswersBeforeAnyBus) {
  const DispatchCase& c = GetParam();
  service::Api api({}, {});
  service::HttpRequest request;
  request.method = c.method;
  request.path = c.path;
  int answers = 0;
  service::HttpResponse r;
  api.handle(request, c.access, [&](service::HttpResponse response) {
    ++answers;
    r = std::move(response);
  });
  ASSERT_EQ(answers, 1);
  EXPECT_EQ(r.status, c.status) << r.body;
  if (*c.body) {
    EXPECT_EQ(r.body, c.body);
  }
  std::string allow;
  for (const auto& [name, value] : r.headers)
    if (name == "Allow") allow = value;
  EXPECT_EQ(allow, c.allow);
}
INSTANTIATE_TEST_SUITE_P(Requests, ServiceDispatch, ::testing::ValuesIn(kDispatch), ByNameField());

}  // namespace
}  // namespace qubix::test
