// The few calls of the operator tool whose behaviour differs between the systems it runs on:
// how file names become the bytes a manifest stores, what counts as a link, and the standard
// streams. One backend each, chosen at build time: posix/host_files.cpp and
// win32/host_files.cpp. Nothing else in tools/ asks which system it runs on.
#pragma once

#include <filesystem>
#include <string>

namespace repair::publish {

// Makes file names convert the way the repair tool reads them: on Windows in the system's ANSI
// code page (selected for LC_CTYPE); elsewhere there is nothing to select. Call once at start-up,
// before any name is read.
void UseHostNameEncoding();

// True where a name is the bytes the file system holds (POSIX): a backslash is then an ordinary
// name byte, and non-ASCII names carry no code page the tool on Windows would share. False on
// Windows, where names are converted into the ANSI code page.
bool NamesAreFileSystemBytes();

// A file or folder name as the tool will see it: on Windows in the ANSI code page, elsewhere
// the bytes the file system holds. False when the code page cannot hold one of its characters.
bool NarrowName(const std::filesystem::path& name, std::string& out);

// `path` with each character NarrowName could not convert shown as '?'; for messages only.
std::string LossyNarrowName(const std::filesystem::path& path);

// True for a symbolic link, and on Windows for any reparse point (a junction too). `status`
// is the entry's symlink_status().
bool IsLink(const std::filesystem::path& path, const std::filesystem::file_status& status);

// True when standard error is a terminal.
bool StderrIsTerminal();

// Makes standard output pass every byte through unchanged (binary files written to "-").
void UseBinaryStandardOutput();

}  // namespace repair::publish
