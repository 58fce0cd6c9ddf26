// Fuzzes the record kept beside a part file, which a later run reads back from disk. A record
// that parses must be exactly the text FormatPartRecord writes for what was parsed, and its
// validator must be one the resumed request can send. The input is read two ways: as a record
// file, and as the fields of a record to format (size, MD5, validator), whose text must parse
// back to the same fields whenever its validator is one a part may keep.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/file_download.h"
#include "platform/http_head.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool Keepable(const std::string& validator) {
  if (validator.empty() || validator.size() > 255) return false;
  for (char c : validator) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E) return false;
  }
  return true;
}

bool SameRecord(const repair::PartRecord& a, const repair::PartRecord& b) {
  return a.size == b.size && std::memcmp(a.md5, b.md5, sizeof a.md5) == 0 &&
         a.validator == b.validator;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  repair::PartRecord parsed;
  parsed.size = 7;
  if (repair::ParsePartRecord(text, parsed)) {
    Check(repair::FormatPartRecord(parsed) == text);
    Check(Keepable(parsed.validator));
    repair::platform::HttpRequest request;
    request.url = "http://127.0.0.1/client/data.pak";
    request.resumeFrom = 1;
    request.ifRange = parsed.validator;
    std::string range;
    std::string ifRange;
    Check(repair::platform::BuildRequestHeaders(request, range, ifRange));
  } else {
    Check(SameRecord(parsed, repair::PartRecord()));
  }

  // 4 bytes of size, 16 of MD5, the rest the validator.
  if (size < 20) return 0;
  repair::PartRecord record;
  std::memcpy(&record.size, data, 4);
  std::memcpy(record.md5, data + 4, 16);
  record.validator.assign(reinterpret_cast<const char*>(data + 20), size - 20);
  repair::PartRecord back;
  const bool ok = repair::ParsePartRecord(repair::FormatPartRecord(record), back);
  Check(ok == Keepable(record.validator));
  if (ok) Check(SameRecord(back, record));
  return 0;
}
