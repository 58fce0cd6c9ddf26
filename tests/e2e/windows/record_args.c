/* Stands in for the chained program: writes the arguments it was started with, one a line,
 * into the file of its own path plus ".args", then a closing "--end--" line, so that a test
 * can tell a complete record from one still being written. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
  char path[MAX_PATH + 8];
  DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 2;
  memcpy(path + length, ".args", sizeof(".args"));
  FILE* out = fopen(path, "wb"); /* plain LF lines for the shell */
  if (out == NULL) return 3;
  for (int i = 1; i < argc; ++i) fprintf(out, "%s\n", argv[i]);
  fputs("--end--\n", out);
  return fclose(out) == 0 ? 0 : 4;
}
