// Names that a client on Windows would take for one file, found wherever the operator's tool
// runs: letter case is folded for ASCII letters always, and beyond ASCII when the code page the
// players' systems read names in is known.
#pragma once

#include <string>
#include <vector>

#include "platform/paths.h"

namespace repair::publish {

// The code page of names when the operator names none: the one the tool reads names in on
// Windows; none elsewhere, where names are bytes whose code page is the players' to choose.
platform::CodePage DefaultNameCodePage();

// Reads a --code-page value: a decimal code page that this system can convert names from.
// False, with `error` saying why, otherwise.
bool ParseCodePage(const std::string& text, platform::CodePage& codePage, std::string& error);

// One warning per name of `names` (manifest names, backslash-separated) that a Windows file
// system takes for an earlier name's file, or for a folder an earlier name lies in, or the other
// way round. Each warning names both names, as PrintableName shows them.
std::vector<std::string> WindowsNameCollisions(const std::vector<std::string>& names,
                                               platform::CodePage codePage);

// The block index names of a release against its files: a message for the first of
// `indexNames` that a Windows file system takes for one of `names` (every name the release
// lists or writes), or for a folder one of them lies in, letter case folded as for
// WindowsNameCollisions. Empty when there is none.
std::string BlockIndexCollision(const std::vector<std::string>& names,
                                const std::vector<std::string>& indexNames,
                                platform::CodePage codePage);

}  // namespace repair::publish
