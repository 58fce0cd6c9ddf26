// Bounded printf-style formatting into the system's fixed character buffers.
#pragma once

#include <cstddef>
#include <string>

namespace repair {

constexpr std::size_t kPathBufferSize = 260;  // every local path and URL: at most 259 characters
constexpr std::size_t kTextBufferSize = 512;  // list view cell texts

// Formats into a caller's buffer of kPathBufferSize bytes. Returns true when the whole result
// fits; otherwise the buffer holds an empty string and the result is false, so that a cut path
// can never be used by mistake.
bool FormatPath(char* buffer, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// As FormatPath, into a buffer of kTextBufferSize bytes.
bool FormatText(char* buffer, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Replaces every occurrence of `token` in `text`, left to right. The search resumes after the
// inserted text, so a replacement that contains the token cannot loop; an empty token changes
// nothing.
void ReplaceAll(std::string& text, const std::string& token, const std::string& replacement);

// Copies source with its terminator into a buffer of `capacity` bytes. Returns false, leaving
// an empty string, when it does not fit.
bool CopyBounded(char* buffer, std::size_t capacity, const char* source);

}  // namespace repair
