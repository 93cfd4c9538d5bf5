// The DLL's entry, apart from the library's code: the command-line tool links
// that code into its own program, where no DllMain belongs.
#include <windows.h>

#include "library/library_lifetime.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // A non-null reserved means the process is ending rather than a FreeLibrary.
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr) qmx::LibraryAtProcessExit();
  return TRUE;
}
