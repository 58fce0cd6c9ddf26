# Third-party code comes from Debian's packages and is only called, never copied.

# The LZMA SDK's C sources, as Debian's lzma-dev installs them.
set(LZMA_SDK_DIR "/usr/include/lzma" CACHE PATH "Folder holding the LZMA SDK's C sources")
if(NOT EXISTS "${LZMA_SDK_DIR}/LzmaDec.c")
  message(FATAL_ERROR "LZMA SDK sources not found in ${LZMA_SDK_DIR}: install lzma-dev (scripts/setup.sh)")
endif()
add_library(lzma_sdk_dec STATIC "${LZMA_SDK_DIR}/LzmaDec.c")
target_include_directories(lzma_sdk_dec SYSTEM PUBLIC "${LZMA_SDK_DIR}")
# The encoder is only for the operator tool; single-threaded, since the SDK ships no LzFindMt.
add_library(lzma_sdk_enc STATIC "${LZMA_SDK_DIR}/LzmaEnc.c" "${LZMA_SDK_DIR}/LzFind.c")
target_include_directories(lzma_sdk_enc SYSTEM PUBLIC "${LZMA_SDK_DIR}")
target_compile_definitions(lzma_sdk_enc PRIVATE _7ZIP_ST)
foreach(t lzma_sdk_dec lzma_sdk_enc)
  set_target_properties(${t} PROPERTIES POSITION_INDEPENDENT_CODE ON C_VISIBILITY_PRESET default)
  target_compile_options(${t} PRIVATE -w)
endforeach()

# Crypto++: Debian's libcrypto++-dev natively; for mingw, the static library that
# scripts/setup.sh --windows builds from Debian's source package (CRYPTOPP_PREFIX).
add_library(cryptopp INTERFACE)
if(WIN32)
  if(NOT CRYPTOPP_PREFIX OR NOT EXISTS "${CRYPTOPP_PREFIX}/lib/libcryptopp.a")
    message(FATAL_ERROR "Set CRYPTOPP_PREFIX to the mingw build of Crypto++ (scripts/setup.sh --windows prints it)")
  endif()
  target_include_directories(cryptopp SYSTEM INTERFACE "${CRYPTOPP_PREFIX}/include")
  target_link_libraries(cryptopp INTERFACE "${CRYPTOPP_PREFIX}/lib/libcryptopp.a")
else()
  find_path(CRYPTOPP_INCLUDE_DIR cryptopp/eccrypto.h REQUIRED)
  find_library(CRYPTOPP_LIBRARY NAMES crypto++ cryptopp REQUIRED)
  target_include_directories(cryptopp SYSTEM INTERFACE "${CRYPTOPP_INCLUDE_DIR}")
  target_link_libraries(cryptopp INTERFACE "${CRYPTOPP_LIBRARY}")
endif()

find_package(Threads REQUIRED)

# libcurl takes WinINet's place in the Linux build.
if(NOT WIN32)
  find_package(CURL REQUIRED)
endif()
