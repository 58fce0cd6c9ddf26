// Names in a Windows code page, read here for the operator's tools: iconv converts them, and a
// UTF-8 locale's simple case mapping upper-cases them.
#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <cerrno>
#include <string>

#include "platform/paths.h"

namespace repair::platform {
namespace {

class Converter {
 public:
  explicit Converter(CodePage codePage) {
    for (const char* prefix : {"CP", "WINDOWS-"}) {
      const std::string name = prefix + std::to_string(codePage);
      handle_ = iconv_open("UTF-16LE", name.c_str());
      if (handle_ != kNone) return;
    }
  }
  ~Converter() {
    if (handle_ != kNone) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return handle_ != kNone; }

  // False when a byte sequence has no character in the code page, or ends inside one.
  bool Convert(std::string_view bytes, std::u16string& units) {
    std::string in(bytes);
    std::string out(in.size() * 4 + 4, '\0');
    char* inPointer = in.data();
    std::size_t inLeft = in.size();
    char* outPointer = out.data();
    std::size_t outLeft = out.size();
    if (iconv(handle_, &inPointer, &inLeft, &outPointer, &outLeft) ==
            static_cast<std::size_t>(-1) ||
        inLeft != 0) {
      return false;
    }
    const std::size_t produced = out.size() - outLeft;
    units.clear();
    for (std::size_t i = 0; i + 1 < produced; i += 2) {
      units += static_cast<char16_t>(static_cast<unsigned char>(out[i]) |
                                     static_cast<unsigned char>(out[i + 1]) << 8);
    }
    return true;
  }

 private:
  static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
  iconv_t handle_ = kNone;
};

// A UTF-8 locale's character classes, whatever the process's own locale is; null when none is
// installed.
locale_t CaseLocale() {
  static const locale_t locale = [] {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      if (locale_t l = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr))) return l;
    }
    return static_cast<locale_t>(nullptr);
  }();
  return locale;
}

bool IsSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

}  // namespace

CodePage HostCodePage() { return kBytesOnly; }

bool IsLeadByte(CodePage codePage, unsigned char byte) { return KnownLeadByte(codePage, byte); }

bool CodePageKnown(CodePage codePage) {
  return codePage != kBytesOnly && CaseLocale() != nullptr && Converter(codePage).ok();
}

bool UpcaseInCodePage(std::string_view bytes, CodePage codePage, std::u16string& units) {
  units.clear();
  const locale_t locale = CaseLocale();
  if (codePage == kBytesOnly || locale == nullptr) return false;
  Converter converter(codePage);
  if (!converter.ok() || !converter.Convert(bytes, units)) {
    units.clear();
    return false;
  }
  for (char16_t& unit : units) {
    if (IsSurrogate(unit)) continue;
    const wint_t upper = towupper_l(unit, locale);
    if (upper <= 0xFFFF && !IsSurrogate(static_cast<char16_t>(upper))) {
      unit = static_cast<char16_t>(upper);
    }
  }
  return true;
}

}  // namespace repair::platform
