// Load and unload notifications of vek.dll.
#include <windows.h>

#include "os/windows/win_platform.h"

namespace vek {
void LibraryUnload();
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        // The driver files ship beside the DLL, so its own path is the first
        // place to look for them.
        vek::os::win::SetModule(instance);
        DisableThreadLibraryCalls(instance);
        break;
    case DLL_PROCESS_DETACH:
        // An application that never called VEK_API_Uninit must not leave the
        // driver service behind when it was the last user: on FreeLibrary the
        // service goes. At process exit (reserved non-null) only the device
        // handle is let go; the next start reuses the running service.
        if (reserved != nullptr) vek::os::win::SetProcessExiting();
        vek::LibraryUnload();
        break;
    default:
        break;
    }
    return TRUE;
}
