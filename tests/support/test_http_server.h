// An HTTP/1.1 server inside the test process, on 127.0.0.1 at a port the system picks, that
// answers each path with a scripted response and can misbehave on purpose: wrong or missing
// lengths, dropped connections, slow or stalled bodies, bad ranges. It can also serve a file
// the way a real server does, with validators and ranges. It records every request it reads.
// Works with BSD sockets natively and with Winsock in the Windows build (tests under Wine).
//
//   TestHttpServer server;
//   server.ServeFile("/data/a.dat", bytes);
//   server.Serve("/gone", Response::Status(404));
//   server.ServeResource("/data/b.dat", {bytes, "\"v1\""});  // ETag, ranges, If-Range
//   FetchUrl(server.Url("/data/a.dat").c_str(), ...);
//   server.Requests()[0].Header("User-Agent");
//
// A path that has no response gets 404. Connections stay open between requests (keep-alive)
// unless the response ends them. At most kMaxConnections are served at once; further ones
// are closed at once. The destructor stops the server, ending stalls and pauses at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace repair::test {

// What the server sends for one request, and what it does afterwards.
struct Response {
  enum class Ending {
    kKeepAlive,  // wait for the next request on the same connection
    kClose,      // close the connection normally (FIN)
    kReset,      // abort the connection (RST)
    kStall,      // keep the connection open and send nothing more until the server stops
  };

  std::string bytes;  // status line, headers, blank line and body, sent as they are
  Ending ending = Ending::kKeepAlive;
  // Slow delivery: after the head, the body goes out `pieceSize` bytes at a time with
  // `pauseMs` between pieces (0: all at once); with `slowHead`, the head goes out so too.
  std::size_t pieceSize = 0;
  int pauseMs = 0;
  bool slowHead = false;

  // 200 with a correct Content-Length.
  static Response Ok(std::string body);
  // Any status with a short text body and a correct Content-Length (404, 500, ...).
  static Response Status(int code);
  // 301 or 302 to `location`.
  static Response Redirect(int code, const std::string& location);
  // 200 with Transfer-Encoding: chunked and no Content-Length.
  static Response Chunked(const std::string& body);
  // 200 that declares `declared` bytes but sends `body`, then ends as `ending`: a short body
  // (fewer bytes, kClose), a connection dropped mid-body (kReset), a longer body than
  // declared (kClose), a stall mid-body (kStall), or Content-Length 0.
  static Response Declaring(std::uint64_t declared, std::string body, Ending ending);
  // 200 with a correct Content-Length whose body arrives in pieces with pauses.
  static Response Slow(std::string body, std::size_t pieceSize, int pauseMs);
  // Reads the request and never answers.
  static Response Silent();
  // 206 with the Content-Range value `contentRange` as given (none when empty), a
  // Content-Length of `declared` and `body`, then `ending`: for ranges that do not start where
  // asked, totals that differ, spans that disagree with the length, longer bodies than
  // announced. `extraHeaders` are further header lines, each ended by CR LF.
  static Response Partial(const std::string& contentRange, std::uint64_t declared, std::string body,
                          Ending ending = Ending::kKeepAlive, const std::string& extraHeaders = "");
};

// A file served the way a real server serves one. Every answer carries the validators that
// are set and "Accept-Ranges: bytes". A request with "Range: bytes=N-" or "bytes=N-M" gets
// 206 with "Content-Range: bytes N-M/SIZE", unless it has an If-Range that is neither the
// ETag (a weak one never matches) nor the Last-Modified date, which gets 200 with the whole
// body; a range that starts at or past the end gets 416; a Range that does not parse is
// ignored. With `ranges` off every answer is 200 with the whole body.
struct Resource {
  std::string body;
  std::string etag;          // sent as ETag when not empty, exactly as given (quotes included)
  std::string lastModified;  // sent as Last-Modified when not empty
  bool ranges = true;
  // The next `drops` answers (200 or 206) end after `dropAfter` of their body bytes, as
  // `dropEnding` (kClose, kReset or kStall); later ones are whole.
  std::size_t drops = 0;
  std::size_t dropAfter = 0;
  Response::Ending dropEnding = Response::Ending::kReset;
  // Bodies go out `pieceSize` bytes at a time with `pauseMs` between pieces (0: at once).
  std::size_t pieceSize = 0;
  int pauseMs = 0;
  // The next `busyAnswers` requests are answered with `busyStatus` (503 or 429) and their
  // connection kept, as by a host at its limit.
  std::size_t busyAnswers = 0;
  int busyStatus = 503;
};

struct RecordedRequest {
  std::string method;
  std::string target;  // exactly as sent, without decoding
  std::string version;
  std::vector<std::pair<std::string, std::string>> headers;  // in order, names as sent
  std::size_t connection = 0;  // 1-based number of the connection it came on

  // The first header of that name (case-insensitive); empty when absent.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
};

// True when the test program runs under Wine, whose WinINet differs from Windows' in ways a
// test must allow for; always false outside the Windows build.
bool RunningUnderWine();

class TestHttpServer {
 public:
  static constexpr std::size_t kMaxConnections = 16;

  // Starts listening; ok() tells whether that worked.
  TestHttpServer();
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  bool ok() const;
  std::uint16_t port() const;
  // "http://127.0.0.1:<port>" with no trailing slash.
  std::string BaseUrl() const;
  // BaseUrl() + path; path starts with '/'.
  std::string Url(const std::string& path) const;

  // Sets the response for a request target (compared byte for byte with the request line's).
  void Serve(const std::string& target, Response response);
  void ServeFile(const std::string& target, const std::vector<std::uint8_t>& bytes);
  void ServeFile(const std::string& target, const std::string& bytes);
  // Serves `resource` at `target`; a scripted response for the same target comes first.
  void ServeResource(const std::string& target, Resource resource);

  // A server that limits its clients: with `most` connections open, a further one is closed
  // as soon as it is accepted, before anything is read (0: back to kMaxConnections).
  void LimitConnections(std::size_t most);
  // A server that is busy: with `most` responses being sent, a further request is answered
  // with `status` (503 or 429) and its connection kept (0: no such answer).
  void BusyBeyond(std::size_t most, int status);
  // The most responses that were being sent at once so far.
  std::size_t MostAnswersAtOnce() const;

  std::vector<RecordedRequest> Requests() const;
  std::size_t ConnectionsAccepted() const;

  // Stops accepting, ends every connection and joins the threads. Idempotent.
  void Stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace repair::test
