// The system's side of start-up on Windows. A party starts the program by a double click, from a
// shortcut or from a console in another folder, so the data is looked for beside the .exe: the
// working directory becomes the program's folder. Messages go to the standard output the program
// was given (a redirection or a pipe); a program started from a console without one writes to
// that console, and one started by a click has nowhere to write, which is no fault: messages are
// best effort.
#include <cstdio>
#include <vector>

#include <windows.h>

#include "runtime/runtime.h"

namespace {

// Long paths: a folder deep in a party's archive tree may pass MAX_PATH.
const DWORD POLUN_ENIMMAISPITUUS = 32768;

bool on_kahva(DWORD mika) {
    HANDLE kahva = GetStdHandle(mika);
    return kahva != nullptr && kahva != INVALID_HANDLE_VALUE;
}

void siirry_ohjelman_kansioon() {
    std::vector<wchar_t> polku(POLUN_ENIMMAISPITUUS);
    const DWORD pituus = GetModuleFileNameW(nullptr, polku.data(), POLUN_ENIMMAISPITUUS);
    if (pituus == 0 || pituus >= POLUN_ENIMMAISPITUUS)
        return; // the loaders then say which file they could not find
    for (DWORD i = pituus; i-- > 0;)
        if (polku[i] == L'\\' || polku[i] == L'/') {
            polku[i + 1] = L'\0';
            SetCurrentDirectoryW(polku.data());
            return;
        }
}

} // namespace

void alusta_jarjestelma() {
    // A crash ends the program at once, as a signal does elsewhere, instead of leaving a frozen
    // full-screen window under the system's error dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    if (!on_kahva(STD_OUTPUT_HANDLE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        freopen("CONOUT$", "w", stdout);
        setvbuf(stdout, nullptr, _IONBF, 0);
    }
    siirry_ohjelman_kansioon();
}
