// Fuzzes the string file's text parser, then looks every key up into a 256-byte field as the
// window and the run context do. Every entry must respect the field limits: keys of 1 to 255
// bytes without line breaks or "=", values of at most 255 bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "strings/string_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  repair::StringTable& table = repair::GlobalStringTable();
  table.Clear();
  repair::ParseStringText(reinterpret_cast<const char*>(data), size, table);

  // Exactly the field size, on the heap, so that a write past it is caught.
  std::unique_ptr<char[]> field(new char[repair::kStringFieldSize]);
  for (const auto& [key, value] : table.entries()) {
    if (key.empty() || key.size() >= repair::kStringFieldSize ||
        value.size() >= repair::kStringFieldSize) {
      std::abort();
    }
    if (key.find_first_of(std::string("\r\n=\0", 4)) != std::string::npos) std::abort();
    if (!repair::LookupTextInto(key.c_str(), field.get(), "") ||
        std::strlen(field.get()) > value.size()) {
      std::abort();
    }
  }
  table.Clear();
  return 0;
}
