// The string file's text from the operator's side: the translation template, the check of a
// text before it is sealed, and the listing of what the tool will read from a sealed file.
#pragma once

#include <string>
#include <vector>

#include "publish/sealer.h"
#include "strings/string_keys.h"
#include "strings/string_table.h"

namespace repair::publish {

// Writes `text` as a value of the string file: each line feed as "\n", the space that the
// loader puts before it taken from the text where the text has one. False when the loader
// cannot give `text` back exactly (a line feed without a space before it, a CR, a NUL, a
// backslash followed by 'n', or more than 255 bytes); `encoded` is then the nearest form and
// `why`, when given, says what the file cannot hold.
bool EncodeStringValue(const std::string& text, std::string& encoded, std::string* why = nullptr);

// Every key of the catalogue with its default and a comment line above it saying where the
// text appears, ready to be translated and sealed with 'repair-publish strings'. `notes` gets
// one line for each default that a string file can give only approximately.
std::string StringTemplateText(std::vector<std::string>& notes);

// The catalogue key that `key` was most likely meant to be (the same but for letter case or
// surrounding spaces, or at most two bytes off), or null.
const StringKey* NearestStringKey(const std::string& key);

// What the tool reads from a loaded table: every entry as KEY=value (a line feed shown as
// "\n"), a "; " comment above each key the tool never reads, and at the end, as comments, the
// keys the table leaves to their built-in texts.
std::string StringListing(const StringTable& table);

// Warnings about the lines of a string text that the tool would not read as the operator
// meant them, each "NAME:LINE: ...".
std::vector<std::string> LintStringText(const Bytes& text, const std::string& name);

}  // namespace repair::publish
