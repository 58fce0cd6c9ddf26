// link_relay: a slow, distant link between a client and a server that both run on this machine,
// for the WAN benchmark (bench/wan_bench.sh) where the kernel offers no traffic shaping.
//
//   link_relay --listen [HOST:]PORT --upstream [HOST:]PORT [--delay-ms MS] [--rate-mbit MBIT]
//              [--init-window SEGMENTS] [--stats FILE]
//
// Every connection accepted on --listen is relayed to --upstream. Each direction of the link is
// one pacer shared by all connections (--rate-mbit); the connections take turns on it, a chunk
// of at most 16 KiB each, and a byte reaches the far side --delay-ms after it left. A new
// connection's first byte leaves one round trip after the accept (the handshake), and each
// connection keeps at most a TCP-like window of bytes in flight per direction, which starts at
// --init-window segments (default 10, 0: no slow start) and grows by what is acknowledged.
// Bytes are read from a socket only when the pacer can send them now, so a server's response
// waits in its own socket, not here. On SIGTERM or SIGINT it writes the connections accepted
// and the bytes relayed each way to --stats (or standard output) and ends.
// Prints "listening HOST:PORT" once it accepts connections (PORT 0 picks a free port).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "link_shaper.h"

namespace {

using bench::Nanos;

constexpr std::size_t kChunk = 16 * 1024;    // the most one turn on the link sends
constexpr int kSocketBuffer = 32 * 1024;     // both ends' socket buffers: little held there
constexpr std::size_t kSegment = 1448;       // a TCP segment's payload on a 1500-byte path
constexpr std::size_t kMaxWindow = 4 << 20;  // a receive window autotuning reaches

volatile sig_atomic_t g_stop = 0;
void OnStopSignal(int) { g_stop = 1; }

Nanos Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return Nanos{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

// Owns one file descriptor.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

struct Options {
  sockaddr_in listen{};
  sockaddr_in upstream{};
  long delay_ms = 20;
  double rate_mbit = 100;
  long init_window = 10;
  std::string stats;
};

bool ParseLong(const char* text, long low, long high, long* out) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
  *out = value;
  return true;
}

// "[HOST:]PORT", HOST an IPv4 address (default 127.0.0.1).
bool ParseAddress(const std::string& text, sockaddr_in* out) {
  const std::size_t colon = text.rfind(':');
  const std::string host = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
  const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
  long number = 0;
  if (!ParseLong(port.c_str(), 0, 65535, &number)) return false;
  *out = sockaddr_in{};
  out->sin_family = AF_INET;
  out->sin_port = htons(static_cast<std::uint16_t>(number));
  return inet_pton(AF_INET, host.c_str(), &out->sin_addr) == 1;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  bool have_listen = false, have_upstream = false;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    bool ok = true;
    if (name == "--listen") {
      ok = have_listen = ParseAddress(value, &options->listen);
    } else if (name == "--upstream") {
      ok = have_upstream = ParseAddress(value, &options->upstream) && options->upstream.sin_port;
    } else if (name == "--delay-ms") {
      ok = ParseLong(value, 0, 10'000, &options->delay_ms);
    } else if (name == "--rate-mbit") {
      char* end = nullptr;
      options->rate_mbit = std::strtod(value, &end);
      ok = end != value && *end == '\0' && options->rate_mbit >= 0.01 &&
           options->rate_mbit <= 100'000;
    } else if (name == "--init-window") {
      ok = ParseLong(value, 0, 100'000, &options->init_window);
    } else if (name == "--stats") {
      options->stats = value;
    } else {
      ok = false;
    }
    if (!ok) return false;
  }
  return have_listen && have_upstream;
}

void SetBuffers(int fd) {
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBuffer, sizeof kSocketBuffer);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// A piece of one direction's stream on the link, or its end (`eof`).
struct Chunk {
  Nanos due;  // when it reaches the far side
  std::vector<char> bytes;
  std::size_t written = 0;
  bool eof = false;
};

// One direction of one connection.
struct Flow {
  explicit Flow(const bench::Window& w) : window(w) {}
  bench::Window window;
  std::deque<Chunk> line;                          // in the link, or arrived and not yet written
  std::deque<std::pair<Nanos, std::size_t>> acks;  // when, and how many bytes
  bool readable = false;                           // the source has data (or its end) to read
  bool source_ended = false;
  bool done = false;  // the end was passed on to the destination
};

struct Connection {
  Connection(Fd c, Fd u, Nanos ready, const bench::Window& w)
      : client(std::move(c)), upstream(std::move(u)), ready_at(ready), up(w), down(w) {}
  Fd client, upstream;
  Nanos ready_at;  // the handshake's round trip is over
  Flow up;         // client to upstream
  Flow down;       // upstream to client
  bool broken = false;
};

class Relay {
 public:
  Relay(const Options& options, Fd listener)
      : options_(options),
        listener_(std::move(listener)),
        delay_(Nanos{options.delay_ms} * 1'000'000),
        pacers_{bench::Pacer(static_cast<std::uint64_t>(options.rate_mbit * 1e6), delay_),
                bench::Pacer(static_cast<std::uint64_t>(options.rate_mbit * 1e6), delay_)},
        window_(options.init_window > 0 ? options.init_window * kSegment : kMaxWindow, kMaxWindow) {
  }

  void Run() {
    sigset_t during_wait;
    sigemptyset(&during_wait);
    std::vector<pollfd> fds;
    while (!g_stop) {
      const Nanos now = Now();
      for (auto& c : connections_) {
        Deliver(*c, c->up, c->upstream.get(), now);
        Deliver(*c, c->down, c->client.get(), now);
      }
      Transmit(0, now);
      Transmit(1, now);
      Reap();

      fds.assign(1, pollfd{listener_.get(), POLLIN, 0});
      Nanos wake = now + 1'000'000'000;
      for (auto& c : connections_) {
        fds.push_back(Want(*c, c->up, c->down, 0, now, &wake, c->client.get()));
        fds.push_back(Want(*c, c->down, c->up, 1, now, &wake, c->upstream.get()));
      }
      const Nanos wait = std::max<Nanos>(wake - now, 0);
      const timespec timeout{static_cast<time_t>(wait / 1'000'000'000),
                             static_cast<long>(wait % 1'000'000'000)};
      if (ppoll(fds.data(), fds.size(), &timeout, &during_wait) < 0) continue;  // a signal
      // Only the connections polled have results: one accepted now is polled next time round.
      const std::size_t polled = connections_.size();
      if (fds[0].revents & POLLIN) Accept(Now());
      for (std::size_t i = 0; i < polled; ++i) {
        Connection& c = *connections_[i];
        // A readable or hung-up socket is the source of one flow; errors show when it is read.
        if (fds[1 + 2 * i].revents & (POLLIN | POLLHUP | POLLERR)) c.up.readable = true;
        if (fds[2 + 2 * i].revents & (POLLIN | POLLHUP | POLLERR)) c.down.readable = true;
      }
    }
  }

  void WriteStats() const {
    FILE* out = options_.stats.empty() ? stdout : std::fopen(options_.stats.c_str(), "w");
    if (out == nullptr) {
      std::perror(options_.stats.c_str());
      return;
    }
    std::fprintf(out, "connections %llu\nbytes_to_upstream %llu\nbytes_to_client %llu\n",
                 static_cast<unsigned long long>(accepted_),
                 static_cast<unsigned long long>(bytes_[0]),
                 static_cast<unsigned long long>(bytes_[1]));
    if (out != stdout) std::fclose(out);
  }

 private:
  // Writes what has reached the far side of `flow` into `destination`, as far as it takes it.
  void Deliver(Connection& c, Flow& flow, int destination, Nanos now) {
    while (!flow.acks.empty() && flow.acks.front().first <= now) {
      flow.window.OnAcked(flow.acks.front().second);
      flow.acks.pop_front();
    }
    while (!c.broken && !flow.line.empty() && flow.line.front().due <= now) {
      Chunk& chunk = flow.line.front();
      if (chunk.eof) {
        shutdown(destination, SHUT_WR);
        flow.done = true;
        flow.line.pop_front();
        continue;
      }
      const ssize_t n = send(destination, chunk.bytes.data() + chunk.written,
                             chunk.bytes.size() - chunk.written, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) c.broken = true;
        return;
      }
      chunk.written += static_cast<std::size_t>(n);
      if (chunk.written < chunk.bytes.size()) return;
      flow.acks.emplace_back(now + delay_, chunk.bytes.size());
      flow.line.pop_front();
    }
  }

  Flow& FlowOf(Connection& c, int direction) { return direction == 0 ? c.up : c.down; }
  int SourceOf(const Connection& c, int direction) {
    return direction == 0 ? c.client.get() : c.upstream.get();
  }

  bool MaySend(Connection& c, Flow& flow, Nanos now) {
    return !c.broken && now >= c.ready_at && !flow.source_ended && flow.window.Room() > 0;
  }

  // Gives the link of `direction` to the connections with data, in turn, while it is free.
  void Transmit(int direction, Nanos now) {
    bench::Pacer& pacer = pacers_[direction];
    std::vector<char>& buffer = buffer_;
    while (pacer.FreeAt(now)) {
      const int count = static_cast<int>(connections_.size());
      const int next = bench::NextInTurn(count, last_[direction], [&](int i) {
        Connection& c = *connections_[i];
        Flow& flow = FlowOf(c, direction);
        return flow.readable && MaySend(c, flow, now);
      });
      if (next < 0) return;
      last_[direction] = next;
      Connection& c = *connections_[next];
      Flow& flow = FlowOf(c, direction);
      const std::size_t want = std::min(kChunk, flow.window.Room());
      const ssize_t n = recv(SourceOf(c, direction), buffer.data(), want, MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          flow.readable = false;
        } else if (errno != EINTR) {
          c.broken = true;
        }
        continue;
      }
      if (n == 0) {
        flow.source_ended = true;
        flow.line.push_back(Chunk{std::max(pacer.free_at(), now) + delay_, {}, 0, true});
        continue;
      }
      const std::size_t got = static_cast<std::size_t>(n);
      flow.line.push_back(Chunk{pacer.Send(now, got), {buffer.begin(), buffer.begin() + n}});
      flow.window.OnSent(got);
      bytes_[direction] += got;
      if (got < want) flow.readable = false;  // drained; the next poll says when there is more
    }
  }

  // The poll entry of `flow`'s source socket, folded with what `reverse` (the flow into the same
  // socket) waits for; lowers `wake` to the next time something is due.
  pollfd Want(Connection& c, Flow& flow, Flow& reverse, int direction, Nanos now, Nanos* wake,
              int fd) {
    short events = 0;
    if (MaySend(c, flow, now)) {
      // Whether a source has data is asked even while the link is busy, so that it has its
      // turn when the link falls free; one known to have data waits for the link.
      if (!flow.readable) {
        events |= POLLIN;
      } else {
        *wake = std::min(*wake, pacers_[direction].free_at());
      }
    }
    if (!c.broken && now < c.ready_at) *wake = std::min(*wake, c.ready_at);
    if (!reverse.line.empty()) {
      if (reverse.line.front().due <= now) {
        events |= POLLOUT;  // arrived, and the socket took no more of it
      } else {
        *wake = std::min(*wake, reverse.line.front().due);
      }
    }
    if (!flow.acks.empty()) *wake = std::min(*wake, flow.acks.front().first);
    // A socket nothing is wanted of stays out of the poll: its hang-up would wake it in vain.
    return pollfd{events != 0 ? fd : -1, events, 0};
  }

  void Accept(Nanos now) {
    for (;;) {
      Fd client(accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
      if (client.get() < 0) return;
      ++accepted_;
      Fd upstream(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
      if (upstream.get() < 0) continue;
      SetBuffers(upstream.get());
      // A loopback connect completes at once; the link's handshake is the hold below.
      if (connect(upstream.get(), reinterpret_cast<const sockaddr*>(&options_.upstream),
                  sizeof options_.upstream) != 0 ||
          !SetNonBlocking(upstream.get())) {
        continue;
      }
      connections_.push_back(std::make_unique<Connection>(std::move(client), std::move(upstream),
                                                          now + 2 * delay_, window_));
    }
  }

  // Closes the connections that broke or whose both directions ended.
  void Reap() {
    connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                      [](const std::unique_ptr<Connection>& c) {
                                        return c->broken || (c->up.done && c->down.done);
                                      }),
                       connections_.end());
  }

  Options options_;
  Fd listener_;
  Nanos delay_;
  bench::Pacer pacers_[2];
  bench::Window window_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::vector<char> buffer_ = std::vector<char>(kChunk);
  int last_[2] = {-1, -1};
  unsigned long long accepted_ = 0;
  unsigned long long bytes_[2] = {0, 0};
};

Fd Listen(const Options& options) {
  Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) return fd;
  const int on = 1;
  setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  SetBuffers(fd.get());  // accepted sockets inherit them
  if (bind(fd.get(), reinterpret_cast<const sockaddr*>(&options.listen), sizeof options.listen) !=
          0 ||
      listen(fd.get(), 128) != 0) {
    return Fd();
  }
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: link_relay --listen [HOST:]PORT --upstream [HOST:]PORT [--delay-ms MS]\n"
                 "                  [--rate-mbit MBIT] [--init-window SEGMENTS] [--stats FILE]\n");
    return 2;
  }
  // The stop signals are taken only while the loop waits, so none is lost between two waits.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  sigprocmask(SIG_BLOCK, &stop_signals, nullptr);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Fd listener = Listen(options);
  if (listener.get() < 0) {
    std::perror("link_relay: listen");
    return 1;
  }
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  getsockname(listener.get(), reinterpret_cast<sockaddr*>(&bound), &length);
  char host[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &bound.sin_addr, host, sizeof host);
  std::printf("listening %s:%u\n", host, static_cast<unsigned>(ntohs(bound.sin_port)));
  std::fflush(stdout);

  Relay relay(options, std::move(listener));
  relay.Run();
  relay.WriteStats();
  return 0;
}
