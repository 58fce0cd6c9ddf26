// Starting another program the way the shell does, with OLE initialised around it (a shell
// extension that handles the launch may need it).
#pragma once

namespace repair::platform {

// OLE for this thread; the results are not examined.
void InitializeShell();
void ShutdownShell();

// Opens `path` with `parameters` (null for none) through ShellExecuteEx with the "open" verb,
// in this process's current folder, and does not wait for it. No window owns the launch, no
// error dialog is shown and failures are not reported.
void ShellLaunch(const char* path, const char* parameters);

}  // namespace repair::platform
