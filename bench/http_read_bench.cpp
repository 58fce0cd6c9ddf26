// The HTTP client's read speed over loopback: one large body from the in-process test server,
// fetched a few times through HttpGet into a sink that only counts. Prints figures, asserts
// nothing.   http_read_bench [MIB [ROUNDS [URL]]]   (default 200 MiB, 3 rounds)
// With a URL it fetches that instead (a body of MIB MiB from another server), so that the
// client is measured apart from the test server, which shares the process and the machine.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/http_client.h"
#include "support/test_http_server.h"

namespace {

using repair::platform::HttpResponseHead;

class CountingSink final : public repair::platform::HttpSink {
 public:
  bool Begin(const HttpResponseHead&) override { return true; }
  bool Data(const std::uint8_t* bytes, std::uint32_t count) override {
    checksum_ += bytes[0] + bytes[count - 1];  // touch the piece, as a writer would
    received += count;
    ++pieces;
    if (count > largest) largest = count;
    return true;
  }
  std::uint64_t received = 0;
  std::uint64_t pieces = 0;
  std::uint32_t largest = 0;

 private:
  unsigned checksum_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  repair::test::TestHttpServer server;
  if (!server.ok() || mib == 0 || mib > 2048) return 1;
  std::string body(mib << 20, '\0');
  for (std::size_t i = 0; i < body.size(); i += 4096) body[i] = static_cast<char>(i >> 12);
  server.ServeFile("/body", body);
  const std::string url = argc > 3 ? argv[3] : server.Url("/body");
  for (int round = 0; round < rounds; ++round) {
    CountingSink sink;
    repair::platform::HttpRequest request;
    request.url = url.c_str();
    auto start = std::chrono::steady_clock::now();
    repair::platform::HttpResult result = repair::platform::HttpGet(request, sink);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "round %d: %s, %zu MiB in %.3f s = %.0f MiB/s; %llu pieces, mean %.0f KiB, "
        "largest %u KiB\n",
        round + 1, result == repair::platform::HttpResult::kOk ? "ok" : "FAILED", mib, seconds,
        mib / seconds, static_cast<unsigned long long>(sink.pieces),
        sink.pieces ? sink.received / 1024.0 / sink.pieces : 0.0, sink.largest / 1024);
  }
  return 0;
}
