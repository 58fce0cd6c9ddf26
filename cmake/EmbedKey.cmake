# cmake -DINPUT=key.der -DOUTPUT=out.cpp -P EmbedKey.cmake
# Writes the key's bytes as the array behind BuiltinKey(). Refuses a key of the wrong size:
# the tool only accepts the 202-byte PKCS#8 form with explicit brainpoolP160r1 parameters.
file(SIZE "${INPUT}" key_size)
if(NOT key_size EQUAL 202)
  message(FATAL_ERROR "${INPUT} is ${key_size} bytes; the embedded key must be the 202-byte PKCS#8 DER form (repair-publish keygen makes one)")
endif()
file(READ "${INPUT}" key_hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," key_bytes "${key_hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n    " key_bytes "${key_bytes}")
file(WRITE "${OUTPUT}.tmp" "// Generated from ${INPUT}; do not edit.
#include \"codec/builtin_key.h\"

namespace repair {
namespace {
const std::uint8_t kKey[kBuiltinKeySize] = {
    ${key_bytes}
};
}  // namespace

const std::uint8_t* BuiltinKey() { return kKey; }
std::uint32_t BuiltinKeyLength() { return kBuiltinKeySize; }

}  // namespace repair
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
