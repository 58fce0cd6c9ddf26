// A byte buffer from the C library's allocator, released on every path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace repair {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

class HeapBuffer {
 public:
  HeapBuffer() = default;

  // Returns false, leaving the buffer empty, when the memory cannot be obtained.
  // A size of 0 allocates one byte so that data() is never null after success.
  bool Allocate(std::size_t size) {
    data_.reset(static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size)));
    size_ = data_ ? size : 0;
    return data_ != nullptr;
  }
  void Reset() {
    data_.reset();
    size_ = 0;
  }

  std::uint8_t* data() { return data_.get(); }
  const std::uint8_t* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

 private:
  std::unique_ptr<std::uint8_t, FreeDeleter> data_;
  std::size_t size_ = 0;
};

}  // namespace repair
