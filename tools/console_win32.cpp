// vezivadu-console on Windows: loads the real VEZIVADU.dll the way the host
// does and prints the lines that the stand-in BELTOR.dll recorded.
#include <windows.h>

#include <iostream>

#include "tools/console.h"
#include "wine/beltor_standin.h"

namespace {

void PrintRecordedTrace(std::ostream& out) {
    const int count = BeltorCallCount();
    for (int i = 0; i < count; ++i) {
        out << "  [" << BeltorCallCategory(i) << "] " << BeltorCallText(i) << "\n";
    }
    if (BeltorDroppedCount() != 0) {
        out << "  (" << BeltorDroppedCount() << " trace lines lost)\n";
    }
    BeltorClear();
}

}  // namespace

int main() {
    HMODULE module = LoadLibraryA("VEZIVADU.dll");
    if (module == nullptr) {
        std::cerr << "vezivadu-console: cannot load VEZIVADU.dll\n";
        return 2;
    }
    const FARPROC entry = GetProcAddress(module, "VpiMain");
    if (entry == nullptr) {
        std::cerr << "vezivadu-console: VEZIVADU.dll has no VpiMain\n";
        return 2;
    }
    ConsoleHost host{};
    host.vpiMain = reinterpret_cast<VpiMainFunction>(reinterpret_cast<void*>(entry));
    host.flushTrace = &PrintRecordedTrace;
    BeltorClear();
    const int status = RunConsole(host, std::cin, std::cout, true);
    FreeLibrary(module);
    return status;
}
