// The download address of a client file on the remote folder.
#pragma once

namespace repair {

// Writes "<remotePath>/<name>" into `out` (kPathBufferSize bytes), with the name's
// backslashes turned into slashes and the bytes a URL cannot carry percent-encoded
// (space, control bytes, 0x7F, bytes from 0x80 up, '%', '#', '?', '"'), so that
// `data\my file.dat` becomes `<remotePath>/data/my%20file.dat`. The remote path is used as
// given: the operator writes it as a URL. Returns false, leaving `out` empty, when the
// result does not fit in 259 characters or an argument is null.
bool BuildFileUrl(char* out, const char* remotePath, const char* name);

}  // namespace repair
