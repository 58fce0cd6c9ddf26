// HttpGet over https against a real nginx with certificates of a CA made for the test. Run by
// tests/platform/https_test.sh, which makes the CAs and certificates, starts the server and
// names them in the environment:
//   REPAIR_TEST_HTTPS_URL         a resource served with a certificate for 127.0.0.1
//   REPAIR_TEST_HTTPS_WRONG_NAME  the same resource, served with a certificate of the same CA
//                                 for another host name
//   REPAIR_TEST_HTTPS_SIZE        the resource's size; its body is kBodyLine over and over
//   REPAIR_TEST_CA_FILE           the test CA's certificate (PEM)
//   REPAIR_TEST_OTHER_CA_FILE     a CA that signed neither certificate
//   REPAIR_TEST_CA_DIR            a folder (a CA file that is no file)
//   REPAIR_TEST_SYSTEM_TRUSTS_CA  1 when the system's store trusts the test CA (Windows under
//                                 Wine, once the script has added it there)
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/http_client.h"
#include "platform/http_client_test_hooks.h"
#if !defined(_WIN32)
#include "support/test_http_server.h"
#endif

namespace repair::platform {
namespace {

constexpr char kBodyLine[] = "tls test body 0123456789\n";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

class BodySink final : public HttpSink {
 public:
  bool Begin(const HttpResponseHead&) override { return true; }
  bool Data(const std::uint8_t* bytes, std::uint32_t count) override {
    body.append(reinterpret_cast<const char*>(bytes), count);
    return true;
  }
  std::string body;
};

std::string ExpectedBody(std::size_t size) {
  std::string body;
  while (body.size() < size) body += kBodyLine;
  body.resize(size);
  return body;
}

class HttpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("REPAIR_TEST_HTTPS_URL").empty()) {
      GTEST_SKIP() << "no test server: run through tests/platform/https_test.sh";
    }
    ForceNetworkState(-1);
    SetHttpTimeouts(0, 0);
  }

  static HttpResult Get(const std::string& url, const std::string& caFile, BodySink& sink) {
    HttpRequest request;
    request.url = url.c_str();
    request.caFile = caFile;
    return HttpGet(request, sink);
  }
};

TEST_F(HttpsTest, TheServerIsTrustedOnlyThroughItsCaAndForItsOwnName) {
  const std::string url = Env("REPAIR_TEST_HTTPS_URL");
  const std::string wrongName = Env("REPAIR_TEST_HTTPS_WRONG_NAME");
  const std::string ca = Env("REPAIR_TEST_CA_FILE");
  const bool systemTrusts = Env("REPAIR_TEST_SYSTEM_TRUSTS_CA") == "1";
  struct Case {
    const char* what;
    const std::string& url;
    std::string caFile;
    bool acceptedWithCaFile;  // by the Linux client, which reads caFile
  };
  const Case cases[] = {
      {"the test CA named", url, ca, true},
      {"the system's store alone", url, "", false},
      {"another CA named", url, Env("REPAIR_TEST_OTHER_CA_FILE"), false},
      {"a CA file that does not exist", url, ca + ".missing", false},
      {"a CA file that is a folder", url, Env("REPAIR_TEST_CA_DIR"), false},
      {"a certificate for another name", wrongName, ca, false},
  };
  for (const Case& c : cases) {
#if defined(_WIN32)
    // The Windows store decides alone; the host name is checked all the same.
    const bool accepted = systemTrusts && &c.url == &url;
#else
    const bool accepted = c.acceptedWithCaFile || (systemTrusts && c.caFile.empty());
#endif
    BodySink sink;
    const HttpResult result = Get(c.url, c.caFile, sink);
    EXPECT_EQ(result, accepted ? HttpResult::kOk : HttpResult::kOpenFailed) << c.what;
    if (accepted && result == HttpResult::kOk) {
      const std::string expected =
          ExpectedBody(static_cast<std::size_t>(std::atoll(Env("REPAIR_TEST_HTTPS_SIZE").c_str())));
      EXPECT_TRUE(sink.body == expected) << c.what << ": a body of " << sink.body.size()
                                         << " bytes, not the " << expected.size() << " served";
    } else {
      EXPECT_TRUE(sink.body.empty()) << c.what;
    }
  }
}

#if !defined(_WIN32)
// The CA file is checked before anything is sent, whatever the scheme: a wrong setting shows
// on the first request, not only once the server moves to https.
TEST_F(HttpsTest, AMissingCaFileFailsEvenAPlainRequestWithoutSendingIt) {
  test::TestHttpServer server;
  ASSERT_TRUE(server.ok());
  server.ServeResource("/plain", test::Resource{"body", "", ""});
  const std::string url = server.Url("/plain");
  BodySink sink;
  EXPECT_EQ(Get(url, Env("REPAIR_TEST_CA_FILE") + ".missing", sink), HttpResult::kOpenFailed);
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_EQ(Get(url, Env("REPAIR_TEST_CA_FILE"), sink), HttpResult::kOk);
}
#endif

}  // namespace
}  // namespace repair::platform
