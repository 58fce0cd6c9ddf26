#include "platform/posix/fd_io.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace repair::platform {

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 100);
        continue;
      }
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const std::string& text) { return WriteAll(fd, text.data(), text.size()); }

bool MakePipe(FileDescriptor& readEnd, FileDescriptor& writeEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  readEnd.Reset(fds[0]);
  writeEnd.Reset(fds[1]);
  return true;
}

void PokePipe(int writeFd, unsigned char byte) {
  if (writeFd < 0) return;
  ssize_t ignored = ::write(writeFd, &byte, 1);
  (void)ignored;
}

void Drain(int fd) {
  char sink[64];
  while (::read(fd, sink, sizeof(sink)) > 0) {
  }
}

long ReadAvailable(int fd, char* buffer, std::size_t capacity) {
  const ssize_t n = ::read(fd, buffer, capacity);
  if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
  return n <= 0 ? -1 : static_cast<long>(n);
}

WaitedRead ReadByteOrSignal(int inputFd, int signalFd, char& byte) {
  for (;;) {
    pollfd fds[2] = {{inputFd, POLLIN, 0}, {signalFd, POLLIN, 0}};
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return WaitedRead::kEnd;
    }
    if (fds[1].revents & POLLIN) return WaitedRead::kSignal;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
      const ssize_t n = ::read(inputFd, &byte, 1);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      return n == 1 ? WaitedRead::kByte : WaitedRead::kEnd;
    }
  }
}

}  // namespace repair::platform
