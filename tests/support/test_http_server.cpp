#include "support/test_http_server.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace repair::test {
namespace {

#ifdef _WIN32
using NativeSocket = SOCKET;
const NativeSocket kNoSocket = INVALID_SOCKET;
constexpr int kSendFlags = 0;
void CloseNative(NativeSocket s) { ::closesocket(s); }
bool LastCallWouldBlock() { return ::WSAGetLastError() == WSAEWOULDBLOCK; }
bool SetNonBlocking(NativeSocket s) {
  u_long on = 1;
  return ::ioctlsocket(s, FIONBIO, &on) == 0;
}
#else
using NativeSocket = int;
const NativeSocket kNoSocket = -1;
constexpr int kSendFlags = MSG_NOSIGNAL;  // a closed peer must not raise SIGPIPE in the test
void CloseNative(NativeSocket s) { ::close(s); }
bool LastCallWouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }
bool SetNonBlocking(NativeSocket s) {
  int flags = ::fcntl(s, F_GETFL, 0);
  return flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}
#endif

constexpr int kPollMs = 50;                     // how soon a waiting thread notices Stop
constexpr std::size_t kMaxRequestHead = 65536;  // a longer request head ends the connection
constexpr std::size_t kSendPiece = 65536;
// A reset discards whatever the peer has not read yet, the head included: it waits this long
// after the last bytes so that the client has read them and meets the reset in its next read.
constexpr int kResetDelayMs = 200;

class Socket {
 public:
  Socket() = default;
  explicit Socket(NativeSocket s) : s_(s) {}
  ~Socket() { reset(); }
  Socket(Socket&& other) noexcept : s_(other.s_) { other.s_ = kNoSocket; }
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      reset();
      s_ = other.s_;
      other.s_ = kNoSocket;
    }
    return *this;
  }
  NativeSocket get() const { return s_; }
  bool valid() const { return s_ != kNoSocket; }
  void reset() {
    if (s_ != kNoSocket) CloseNative(s_);
    s_ = kNoSocket;
  }

 private:
  NativeSocket s_ = kNoSocket;
};

// Winsock must be started once per user of it; nothing to do elsewhere.
class SocketLibrary {
 public:
#ifdef _WIN32
  SocketLibrary() {
    WSADATA data;
    ok_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~SocketLibrary() {
    if (ok_) ::WSACleanup();
  }
#else
  SocketLibrary() : ok_(true) {}
#endif
  SocketLibrary(const SocketLibrary&) = delete;
  SocketLibrary& operator=(const SocketLibrary&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// True when `s` became readable (or writable) within `ms`.
bool WaitFor(NativeSocket s, bool forWrite, int ms) {
#ifdef _WIN32
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval limit{ms / 1000, (ms % 1000) * 1000};
  return ::select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &limit) > 0;
#else
  pollfd entry{s, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
  return ::poll(&entry, 1, ms) > 0;
#endif
}

const char* ReasonPhrase(int code) {
  switch (code) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

std::string StatusLine(int code) {
  return "HTTP/1.1 " + std::to_string(code) + " " + ReasonPhrase(code) + "\r\n";
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string Trim(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// Parses a request head (without its blank line). False when the request line is malformed.
bool ParseRequestHead(const std::string& head, RecordedRequest& request) {
  std::size_t lineEnd = head.find("\r\n");
  std::string line = head.substr(0, lineEnd);
  // The target sits between the first and the last space, so that a raw space inside it
  // is recorded rather than rejected.
  std::size_t first = line.find(' ');
  std::size_t last = line.rfind(' ');
  if (first == std::string::npos || last == first) return false;
  request.method = line.substr(0, first);
  request.target = line.substr(first + 1, last - first - 1);
  request.version = line.substr(last + 1);
  while (lineEnd != std::string::npos) {
    std::size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    std::string field =
        head.substr(start, lineEnd == std::string::npos ? lineEnd : lineEnd - start);
    std::size_t colon = field.find(':');
    if (colon == std::string::npos) continue;
    request.headers.emplace_back(field.substr(0, colon), Trim(field.substr(colon + 1)));
  }
  return true;
}

// The first and last byte a "bytes=N-" or "bytes=N-M" Range asks for, the last one clipped to
// the body; false when the header does not parse (a real server then ignores it).
bool ParseRange(const std::string& value, std::size_t size, std::size_t& first, std::size_t& last) {
  static const char kPrefix[] = "bytes=";
  if (value.compare(0, sizeof kPrefix - 1, kPrefix) != 0) return false;
  std::string range = value.substr(sizeof kPrefix - 1);
  std::size_t dash = range.find('-');
  const std::string digits = "0123456789";
  if (dash == 0 || dash == std::string::npos || range.find_first_not_of(digits) != dash ||
      range.find_first_not_of(digits, dash + 1) != std::string::npos || dash > 15 ||
      range.size() - dash - 1 > 15) {
    return false;
  }
  first = std::stoull(range.substr(0, dash));
  last = dash + 1 < range.size() ? std::stoull(range.substr(dash + 1)) : SIZE_MAX;
  if (last < first) return false;
  last = std::min(last, size == 0 ? 0 : size - 1);
  return true;
}

// Whether an If-Range condition holds: the strong ETag or the exact Last-Modified date.
bool IfRangeHolds(const Resource& resource, const RecordedRequest& request) {
  if (!request.HasHeader("If-Range")) return true;
  std::string condition = request.Header("If-Range");
  bool strong = !resource.etag.empty() && resource.etag.compare(0, 2, "W/") != 0;
  return (strong && condition == resource.etag) ||
         (!resource.lastModified.empty() && condition == resource.lastModified);
}

// The answer of `resource` to `request`; counts a drop off when it plans one.
Response Answer(Resource& resource, const RecordedRequest& request) {
  if (resource.busyAnswers > 0) {
    --resource.busyAnswers;
    return Response::Status(resource.busyStatus);
  }
  std::string headers = "Content-Type: application/octet-stream\r\nAccept-Ranges: bytes\r\n";
  if (!resource.etag.empty()) headers += "ETag: " + resource.etag + "\r\n";
  if (!resource.lastModified.empty()) headers += "Last-Modified: " + resource.lastModified + "\r\n";
  const std::string& body = resource.body;
  std::size_t first = 0;
  std::size_t last = 0;
  bool ranged = resource.ranges && request.HasHeader("Range") &&
                ParseRange(request.Header("Range"), body.size(), first, last) &&
                IfRangeHolds(resource, request);
  Response response;
  if (ranged && first >= body.size()) {
    response.bytes = StatusLine(416) + headers + "Content-Range: bytes */" +
                     std::to_string(body.size()) + "\r\nContent-Length: 0\r\n\r\n";
    return response;
  }
  std::string part = ranged ? body.substr(first, last - first + 1) : body;
  std::string head = ranged ? StatusLine(206) + headers + "Content-Range: bytes " +
                                  std::to_string(first) + "-" + std::to_string(last) + "/" +
                                  std::to_string(body.size()) + "\r\n"
                            : StatusLine(200) + headers;
  head += "Content-Length: " + std::to_string(part.size()) + "\r\n\r\n";
  if (resource.drops > 0) {
    --resource.drops;
    part.resize(std::min(part.size(), resource.dropAfter));
    response.ending = resource.dropEnding;
  }
  response.bytes = head + part;
  response.pieceSize = resource.pieceSize;
  response.pauseMs = resource.pauseMs;
  return response;
}

}  // namespace

Response Response::Ok(std::string body) {
  Response response;
  response.bytes = StatusLine(200) + "Content-Type: application/octet-stream\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\n\r\n" + body;
  return response;
}

Response Response::Status(int code) {
  std::string body = std::to_string(code) + " " + ReasonPhrase(code) + "\n";
  Response response;
  response.bytes = StatusLine(code) +
                   "Content-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
                   "\r\n\r\n" + body;
  return response;
}

Response Response::Redirect(int code, const std::string& location) {
  std::string body = "moved\n";
  Response response;
  response.bytes =
      StatusLine(code) + "Location: " + location +
      "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
      "\r\n\r\n" + body;
  return response;
}

Response Response::Chunked(const std::string& body) {
  std::string encoded;
  // Two chunks, so that a client really has to decode the framing.
  std::size_t half = body.size() / 2;
  for (const std::string& piece : {body.substr(0, half), body.substr(half)}) {
    if (piece.empty()) continue;
    char size[32];
    std::snprintf(size, sizeof size, "%lx\r\n", static_cast<unsigned long>(piece.size()));
    encoded += size + piece + "\r\n";
  }
  encoded += "0\r\n\r\n";
  Response response;
  response.bytes = StatusLine(200) +
                   "Content-Type: application/octet-stream\r\nTransfer-Encoding: chunked\r\n\r\n" +
                   encoded;
  return response;
}

Response Response::Declaring(std::uint64_t declared, std::string body, Ending ending) {
  Response response;
  response.bytes = StatusLine(200) + "Content-Type: application/octet-stream\r\nContent-Length: " +
                   std::to_string(declared) + "\r\n\r\n" + body;
  response.ending = ending;
  return response;
}

Response Response::Slow(std::string body, std::size_t pieceSize, int pauseMs) {
  Response response = Ok(std::move(body));
  response.pieceSize = pieceSize;
  response.pauseMs = pauseMs;
  return response;
}

Response Response::Silent() {
  Response response;
  response.ending = Ending::kStall;
  return response;
}

Response Response::Partial(const std::string& contentRange, std::uint64_t declared,
                           std::string body, Ending ending, const std::string& extraHeaders) {
  Response response;
  response.bytes = StatusLine(206) + "Content-Type: application/octet-stream\r\n" +
                   (contentRange.empty() ? "" : "Content-Range: " + contentRange + "\r\n") +
                   extraHeaders + "Content-Length: " + std::to_string(declared) + "\r\n\r\n" + body;
  response.ending = ending;
  return response;
}

bool RunningUnderWine() {
#ifdef _WIN32
  // Wine's ntdll exports this; Windows' does not.
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

std::string RecordedRequest::Header(const std::string& name) const {
  for (const auto& header : headers) {
    if (EqualsIgnoringCase(header.first, name)) return header.second;
  }
  return {};
}

bool RecordedRequest::HasHeader(const std::string& name) const {
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto& header) { return EqualsIgnoringCase(header.first, name); });
}

struct TestHttpServer::State {
  struct Connection {
    Socket socket;
    std::size_t number = 0;
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  SocketLibrary library;
  Socket listener;
  std::uint16_t port = 0;
  std::atomic<bool> stopping{false};
  std::thread acceptThread;
  std::vector<std::unique_ptr<Connection>> connections;  // touched by the accept thread only

  mutable std::mutex mutex;  // guards what follows
  std::condition_variable wake;
  std::map<std::string, Response> responses;
  std::map<std::string, Resource> resources;
  std::vector<RecordedRequest> requests;
  std::size_t accepted = 0;
  std::size_t connectionLimit = kMaxConnections;
  std::size_t busyLimit = 0;  // 0: never busy
  int busyStatus = 503;
  std::size_t answering = 0;  // responses being sent
  std::size_t mostAnswering = 0;

  // Leaves `listener` invalid when the server cannot listen.
  void Start();
  void AcceptLoop();
  void ReapFinished();
  void ServeConnection(Connection& connection);
  bool ReadRequest(NativeSocket s, std::string& pending, RecordedRequest& request);
  bool SendAll(NativeSocket s, const char* data, std::size_t size);
  bool SendResponse(NativeSocket s, const Response& response);
  // Sleeps up to `ms`; false when the server is stopping.
  bool Pause(int ms);
};

void TestHttpServer::State::Start() {
  if (!library.ok()) return;
  listener = Socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!listener.valid()) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.get(), static_cast<int>(kMaxConnections)) != 0 ||
      ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      !SetNonBlocking(listener.get())) {
    listener.reset();
    return;
  }
  port = ntohs(address.sin_port);
  acceptThread = std::thread([this] { AcceptLoop(); });
}

void TestHttpServer::State::AcceptLoop() {
  while (!stopping) {
    if (!WaitFor(listener.get(), false, kPollMs)) continue;
    Socket client(::accept(listener.get(), nullptr, nullptr));
    if (!client.valid()) continue;
    ReapFinished();
    std::size_t number;
    std::size_t limit;
    {
      std::lock_guard<std::mutex> lock(mutex);
      number = ++accepted;
      limit = connectionLimit;
    }
    if (connections.size() >= limit || !SetNonBlocking(client.get())) continue;
    auto connection = std::make_unique<Connection>();
    connection->socket = std::move(client);
    connection->number = number;
    Connection* raw = connection.get();
    connection->thread = std::thread([this, raw] {
      ServeConnection(*raw);
      raw->finished = true;
    });
    connections.push_back(std::move(connection));
  }
}

void TestHttpServer::State::ReapFinished() {
  for (auto it = connections.begin(); it != connections.end();) {
    if ((*it)->finished) {
      (*it)->thread.join();
      it = connections.erase(it);
    } else {
      ++it;
    }
  }
}

void TestHttpServer::State::ServeConnection(Connection& connection) {
  std::string pending;
  while (!stopping) {
    RecordedRequest request;
    if (!ReadRequest(connection.socket.get(), pending, request)) break;
    request.connection = connection.number;
    Response response;
    {
      std::lock_guard<std::mutex> lock(mutex);
      auto found = responses.find(request.target);
      auto resource = resources.find(request.target);
      if (busyLimit != 0 && answering >= busyLimit) {
        response = Response::Status(busyStatus);
      } else if (found != responses.end()) {
        response = found->second;
      } else if (resource != resources.end()) {
        response = Answer(resource->second, request);
      } else {
        response = Response::Status(404);
      }
      requests.push_back(request);
      mostAnswering = std::max(mostAnswering, ++answering);
    }
    const bool sent = SendResponse(connection.socket.get(), response);
    {
      std::lock_guard<std::mutex> lock(mutex);
      --answering;
    }
    if (!sent) break;
    if (EqualsIgnoringCase(request.Header("Connection"), "close")) break;
  }
  // Closing shuts the socket down for both directions; kReset set its linger beforehand.
  connection.socket.reset();
}

bool TestHttpServer::State::ReadRequest(NativeSocket s, std::string& pending,
                                        RecordedRequest& request) {
  std::size_t end;
  while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
    if (pending.size() > kMaxRequestHead || stopping) return false;
    if (!WaitFor(s, false, kPollMs)) continue;
    char chunk[4096];
    auto got = ::recv(s, chunk, sizeof chunk, 0);
    if (got > 0) {
      pending.append(chunk, static_cast<std::size_t>(got));
    } else if (got == 0 || !LastCallWouldBlock()) {
      return false;
    }
  }
  // GET requests carry no body: whatever follows the blank line is the next request.
  std::string head = pending.substr(0, end);
  pending.erase(0, end + 4);
  return ParseRequestHead(head, request);
}

bool TestHttpServer::State::SendAll(NativeSocket s, const char* data, std::size_t size) {
  while (size > 0) {
    if (stopping) return false;
    int piece = static_cast<int>(std::min(size, kSendPiece));
    auto sent = ::send(s, data, piece, kSendFlags);
    if (sent > 0) {
      data += sent;
      size -= static_cast<std::size_t>(sent);
    } else if (LastCallWouldBlock()) {
      WaitFor(s, true, kPollMs);
    } else {
      return false;
    }
  }
  return true;
}

bool TestHttpServer::State::Pause(int ms) {
  std::unique_lock<std::mutex> lock(mutex);
  return !wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping.load(); });
}

bool TestHttpServer::State::SendResponse(NativeSocket s, const Response& response) {
  const std::string& bytes = response.bytes;
  std::size_t headEnd = bytes.find("\r\n\r\n");
  if (response.pieceSize == 0 || headEnd == std::string::npos) {
    if (!SendAll(s, bytes.data(), bytes.size())) return false;
  } else {
    std::size_t at = response.slowHead ? 0 : headEnd + 4;
    if (!SendAll(s, bytes.data(), at)) return false;
    while (at < bytes.size()) {
      std::size_t piece = std::min(response.pieceSize, bytes.size() - at);
      if (!SendAll(s, bytes.data() + at, piece)) return false;
      at += piece;
      if (at < bytes.size() && !Pause(response.pauseMs)) return false;
    }
  }
  switch (response.ending) {
    case Response::Ending::kKeepAlive: return true;
    case Response::Ending::kClose: return false;
    case Response::Ending::kReset: {
      if (!Pause(kResetDelayMs)) return false;
      linger abort{1, 0};  // closing with a zero linger time sends RST
      ::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
      return false;
    }
    case Response::Ending::kStall: {
      std::unique_lock<std::mutex> lock(mutex);
      wake.wait(lock, [this] { return stopping.load(); });
      return false;
    }
  }
  return false;
}

TestHttpServer::TestHttpServer() : state_(std::make_unique<State>()) { state_->Start(); }

TestHttpServer::~TestHttpServer() { Stop(); }

bool TestHttpServer::ok() const { return state_->listener.valid(); }

std::uint16_t TestHttpServer::port() const { return state_->port; }

std::string TestHttpServer::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(state_->port);
}

std::string TestHttpServer::Url(const std::string& path) const { return BaseUrl() + path; }

void TestHttpServer::Serve(const std::string& target, Response response) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->responses[target] = std::move(response);
}

void TestHttpServer::ServeFile(const std::string& target, const std::vector<std::uint8_t>& bytes) {
  Serve(target, Response::Ok(std::string(bytes.begin(), bytes.end())));
}

void TestHttpServer::ServeFile(const std::string& target, const std::string& bytes) {
  Serve(target, Response::Ok(bytes));
}

void TestHttpServer::ServeResource(const std::string& target, Resource resource) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->resources[target] = std::move(resource);
}

std::vector<RecordedRequest> TestHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->requests;
}

void TestHttpServer::LimitConnections(std::size_t most) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->connectionLimit = most == 0 ? kMaxConnections : std::min(most, kMaxConnections);
}

void TestHttpServer::BusyBeyond(std::size_t most, int status) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->busyLimit = most;
  state_->busyStatus = status;
}

std::size_t TestHttpServer::MostAnswersAtOnce() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->mostAnswering;
}

std::size_t TestHttpServer::ConnectionsAccepted() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->accepted;
}

void TestHttpServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
  }
  state_->wake.notify_all();
  if (state_->acceptThread.joinable()) state_->acceptThread.join();
  for (auto& connection : state_->connections) connection->thread.join();
  state_->connections.clear();
  state_->listener.reset();
}

}  // namespace repair::test
