/* A GUI program with the WinMain that the mingw start-up calls: writes the argument text
 * WinMain was handed into the file of its own path plus ".text", so that a test can hold the
 * tool's own reading of the command line against it. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show) {
  char path[MAX_PATH + 8];
  DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  (void)instance;
  (void)previous;
  (void)show;
  if (length == 0 || length >= MAX_PATH) return 2;
  memcpy(path + length, ".text", sizeof(".text"));
  FILE* out = fopen(path, "wb");
  if (out == NULL) return 3;
  fputs(arguments, out);
  return fclose(out) == 0 ? 0 : 4;
}
