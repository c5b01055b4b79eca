// vezivadu-console on a POSIX build: the module linked in, real serial
// devices and pseudo-terminals through termios.
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <iostream>

#include "host/log_sink.h"
#include "host/vpi_main.h"
#include "tools/console.h"

namespace {

int VPI_CDECL PrintTrace(unsigned int category, const char* format, ...) {
    char text[1024];
    va_list values;
    va_start(values, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::vsnprintf(text, sizeof text, format, values);
#pragma GCC diagnostic pop
    va_end(values);
    std::cout << "  [" << category << "] " << text << "\n";
    return 0;
}

}  // namespace

int main() {
    SetHostLogSink(&PrintTrace);
    const ConsoleHost host{&VpiMain, nullptr};
    const bool interactive = isatty(STDIN_FILENO) != 0;
    if (interactive) {
        std::cout << "vezivadu console: type help for the commands\n";
    }
    return RunConsole(host, std::cin, std::cout, !interactive);
}
