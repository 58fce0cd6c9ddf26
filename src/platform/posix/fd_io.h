// Reading and writing descriptors the way a poll() loop needs them: whole writes to a
// descriptor that may be non-blocking, pipes that wake the loop, and reads that give way to
// a signal.
#pragma once

#include <cstddef>
#include <string>

#include "platform/posix/file_descriptor.h"

namespace repair::platform {

// Writes all `size` bytes, waiting while a non-blocking descriptor is full and going on after
// an interrupted call. False on any other error (the bytes not written are lost).
bool WriteAll(int fd, const char* data, std::size_t size);
bool WriteAll(int fd, const std::string& text);

// A pipe with both ends close-on-exec and non-blocking. False when none can be made.
bool MakePipe(FileDescriptor& readEnd, FileDescriptor& writeEnd);

// Writes one byte without waiting: a full pipe is readable already, so a lost byte wakes
// the reader all the same. Safe in a signal handler.
void PokePipe(int writeFd, unsigned char byte);

// Reads and drops all that waits in a non-blocking descriptor.
void Drain(int fd);

// Reads what waits in `fd`, up to `capacity` bytes: how many were read; 0 when nothing was
// there yet (an interrupted or a would-block read); -1 at the end of input or on an error.
long ReadAvailable(int fd, char* buffer, std::size_t capacity);

enum class WaitedRead { kByte, kEnd, kSignal };

// Reads one byte of `inputFd`, waiting as long as it takes, but gives way as soon as
// `signalFd` is readable (kSignal; nothing is read from it). kEnd: end of input or an error.
WaitedRead ReadByteOrSignal(int inputFd, int signalFd, char& byte);

}  // namespace repair::platform
