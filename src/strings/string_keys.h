// The catalogue of every key the tool looks up in the string table: its built-in default and
// where the text appears. Every lookup in the product takes its key and default from here, and
// the operator tool writes its translation template from the same list, so that a translator's
// list of keys is the list the tool reads.
#pragma once

#include <cstddef>
#include <string>

#include "strings/string_table.h"

namespace repair {

enum class StringUse { kSetting, kWindow, kQuestion, kBox };

struct StringKey {
  const char* key;
  const char* defaultText;
  StringUse use;
  const char* where;  // for the translator: where the text shows, or what the setting does
  // One call site shows the same key with a default of its own: that default and where, or
  // null for both. A file that sets the key changes both places.
  const char* otherDefault = nullptr;
  const char* otherWhere = nullptr;
};

// ---- settings: the operator's, not to be translated ----
inline constexpr StringKey kSysRemotePath{
    "SYS_REMOTEPATH", "", StringUse::kSetting,
    "address of the folder that holds a build's manifest and files; $MAJORVER$ and $MINORVER$ "
    "stand for the build numbers (repair-publish publish prints the line)"};
inline constexpr StringKey kSysLocalVerFName{
    "SYS_LOCALVERFNAME", "buildver.tvf", StringUse::kSetting,
    "name of the sealed version file in the client folder"};
inline constexpr StringKey kSysFileHashFName{"SYS_FILEHASHFNAME", "filehash.tsf",
                                             StringUse::kSetting,
                                             "name of the manifest in the build's remote folder"};
inline constexpr StringKey kSysCaFile{
    "SYS_CAFILE", "", StringUse::kSetting,
    "Linux program only: a PEM file of CA certificates trusted for https besides the system's, "
    "for a server with a certificate of your own CA; a relative path starts at the program's "
    "folder; empty: the system's certificates alone (the Windows program always uses the "
    "Windows certificate store)"};
inline constexpr StringKey kSysRunLog{
    "SYS_RUNLOG", "", StringUse::kSetting,
    "a file name, relative to the program's folder (no drive, no \"..\"), where each run writes "
    "its log for support: the build, the manifest, each file's verdict and bytes fetched, each "
    "failure with its path, URL, system error or HTTP status, and the time of each phase; "
    "overwritten each run, at most 4 MiB; empty: no log"};

inline constexpr StringKey kSysMaxDownloads{
    "SYS_MAXDOWNLOADS", "", StringUse::kSetting,
    "how many files are downloaded at once, each over a connection of its own: 1 to 16; empty: "
    "4. Set 1 for a server that allows a client only one connection (a server that refuses "
    "more, or answers 503 or 429, is also met with fewer at once by itself)"};

// ---- the main window ----
inline constexpr StringKey kSysWindowTitle{"SYS_WINDOWTITLE", "", StringUse::kWindow,
                                           "title of the main window"};
inline constexpr StringKey kStrFileName{"STR_FILENAME", "File name", StringUse::kWindow,
                                        "header of the list's file name column"};
inline constexpr StringKey kStrFileSize{"STR_FILESIZE", "Size", StringUse::kWindow,
                                        "header of the list's size column"};
inline constexpr StringKey kStrProgress{"STR_PROGRESS", "Progress", StringUse::kWindow,
                                        "header of the list's progress column"};
inline constexpr StringKey kStrProgressReady{"STR_PROGRESS_READY", "Ready", StringUse::kWindow,
                                             "status line before the repair starts"};
inline constexpr StringKey kStrProgressCheckVersionInfo{
    "STR_PROGRESS_CHECKVERSIONINFO", "Checking version", StringUse::kWindow,
    "status line while the client's build is read"};
inline constexpr StringKey kStrProgressDownloadHashFile{
    "STR_PROGRESS_DOWNLOADHASHFILE", "Downloading recovery information", StringUse::kWindow,
    "status line while the list of client files is downloaded"};
inline constexpr StringKey kStrProgressCheckFileHash{
    "STR_PROGRESS_CHECKFILEHASH", "Checking file integrity", StringUse::kWindow,
    "status line while the client files are checked"};
inline constexpr StringKey kStrProgressDownloadFile{
    "STR_PROGRESS_DOWNLOADFILE", "Downloading files", StringUse::kWindow,
    "status line while damaged and missing files are downloaded"};
inline constexpr StringKey kStrProgressDownloadPlan{
    "STR_PROGRESS_DOWNLOADPLAN", "$FILES$ files, $SIZE$", StringUse::kWindow,
    "status line while files are downloaded, after its text and a colon: how much the repair "
    "downloads; $FILES$ stands for the number of files, $SIZE$ for their size (\"340 MB\")"};
inline constexpr StringKey kStrProgressRecoverFile{
    "STR_PROGRESS_RECOVERFILE", "Recovering files", StringUse::kWindow,
    "status line while the downloaded files replace the damaged ones"};
inline constexpr StringKey kStrProgressComplete{"STR_PROGRESS_COMPLETE", "Finished",
                                                StringUse::kWindow,
                                                "status line once the repair has ended"};

// ---- questions ----
inline constexpr StringKey kStrConfirmRecovery{
    "STR_CONFIRM_RECOVERY",
    "Recovery of the corrupted client files will commence. Please shut down all running "
    "operations before it begins.\nWould you like to proceed?",
    StringUse::kQuestion,
    "question before anything is downloaded (not asked with /quiet); \\n in the file starts a "
    "new line, after a space"};
inline constexpr StringKey kStrConfirmStop{
    "STR_CONFIRM_STOP", "Stop the file recovery now?", StringUse::kQuestion,
    "Linux terminal window only: question when q is pressed during a repair"};
inline constexpr StringKey kStrConfirm{"STR_CONFIRM", "Confirm", StringUse::kQuestion,
                                       "caption of the questions and of the completion box"};

// ---- message boxes ----
inline constexpr StringKey kStrError{"STR_ERROR", "Error", StringUse::kBox,
                                     "caption of every error box"};
inline constexpr StringKey kStrCompleteRecovery{
    "STR_COMPLETE_RECOVERY", "File recovery is finished.", StringUse::kBox,
    "completion box when files were repaired (not shown with /quiet)"};
inline constexpr StringKey kStrCompleteNotExistFile{
    "STR_COMPLETE_NOTEXISTFILE", "There is no corrupted file.", StringUse::kBox,
    "completion box when no file needed a repair (not shown with /quiet)"};

// The error texts, in the order of their error codes, 1 to 10.
inline constexpr StringKey kErrUnknown{
    "ERR_UNKNOWN",
    "Unknown error has occurred.  Please restart the game.",
    StringUse::kBox,
    "error box when a repair failed without a more particular message (a file could not be "
    "created, read, written or moved)",
    "Unknown error",
    "error box when the repair cannot be started at all"};
inline constexpr StringKey kErrNetworkDisconnected{
    "ERR_NETWORKDISCONNECTED",
    "There is no network connection.  Please check your network connection.", StringUse::kBox,
    "error box when the computer has no network connection"};
inline constexpr StringKey kErrFailNetworkConnection{
    "ERR_FAILNETWORKCONNECTION",
    "Network Connection failed.  Please check your network connection.", StringUse::kBox,
    "error box when no connection to the server can be set up"};
inline constexpr StringKey kErrMemoryAllocation{
    "ERR_MEMORYALLOCATION",
    "There is not enough free memory.  Exit the programs that are not in use to free more "
    "memory space.",
    StringUse::kBox, "error box when the computer runs out of memory"};
inline constexpr StringKey kErrInvalidData{
    "ERR_INVALIDDATA", "Invalid data has been processed.  Exit the program and try again.",
    StringUse::kBox,
    "error box when the version file or downloaded data is damaged, or a download breaks off"};
inline constexpr StringKey kErrNotExistFile{
    "ERR_NOTEXISTFILE", "File cannot be found.  Exit the program and try again.", StringUse::kBox,
    "error box when a file cannot be opened, or the server does not have it"};
inline constexpr StringKey kErrNotExistVersionFile{
    "ERR_NOTEXISTVERSIONFILE",
    "Version information cannot be verified.  Please reinstall the client.", StringUse::kBox,
    "error box when the client's version file is missing or names no valid build"};
inline constexpr StringKey kErrNotExistHashFile{
    "ERR_NOTEXISTHASHFILE",
    "Recovery information cannot be verified.  Exit the program and try again.", StringUse::kBox,
    "error box when the server has no list of files for the build"};
inline constexpr StringKey kErrLinkedFolder{
    "ERR_LINKEDFOLDER",
    "A folder of the client is a link to another place, which the repair does not write "
    "through.  Move the folder back and try again.",
    StringUse::kBox,
    "error box when a folder the repair has to write into is a link or junction to another "
    "place"};

inline constexpr StringKey kErrDiskSpace{
    "ERR_DISKSPACE",
    "There is not enough free disk space for the files to download.  Free some disk space and "
    "try again.",
    StringUse::kBox,
    "error box when the drive of the client folder has too little free space for the files the "
    "repair has to download (nothing has been downloaded or changed)"};

// The error texts by error code: code N is kErrorKeys[N - 1]. The engine's codes show these
// texts and no others.
inline constexpr const StringKey* kErrorKeys[] = {
    &kErrUnknown,      &kErrNetworkDisconnected, &kErrFailNetworkConnection, &kErrMemoryAllocation,
    &kErrInvalidData,  &kErrNotExistFile,        &kErrNotExistVersionFile,   &kErrNotExistHashFile,
    &kErrLinkedFolder, &kErrDiskSpace,
};

// Every key above, in the order a translation template lists them.
inline constexpr const StringKey* kStringKeys[] = {
    &kSysRemotePath,
    &kSysLocalVerFName,
    &kSysFileHashFName,
    &kSysCaFile,
    &kSysRunLog,
    &kSysMaxDownloads,
    &kSysWindowTitle,
    &kStrFileName,
    &kStrFileSize,
    &kStrProgress,
    &kStrProgressReady,
    &kStrProgressCheckVersionInfo,
    &kStrProgressDownloadHashFile,
    &kStrProgressCheckFileHash,
    &kStrProgressDownloadFile,
    &kStrProgressDownloadPlan,
    &kStrProgressRecoverFile,
    &kStrProgressComplete,
    &kStrConfirmRecovery,
    &kStrConfirmStop,
    &kStrConfirm,
    &kStrError,
    &kStrCompleteRecovery,
    &kStrCompleteNotExistFile,
    &kErrUnknown,
    &kErrNetworkDisconnected,
    &kErrFailNetworkConnection,
    &kErrMemoryAllocation,
    &kErrInvalidData,
    &kErrNotExistFile,
    &kErrNotExistVersionFile,
    &kErrNotExistHashFile,
    &kErrLinkedFolder,
    &kErrDiskSpace,
};

// "setting", "window", "question" or "box".
const char* StringUseName(StringUse use);

// The catalogue entry of `key` (an exact, case-sensitive match), or null: the tool never
// reads such a key.
const StringKey* FindStringKey(const char* key);

// LookupText and LookupTextInto with the entry's key and default.
bool LookupText(const StringKey& entry, std::string& text);
bool LookupTextInto(const StringKey& entry, char* buffer);

}  // namespace repair
