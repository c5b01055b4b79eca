// The host console: plays the host for a field engineer. It reads commands
// (one per line), builds the host's records as the host does, calls VpiMain
// and prints the result and every trace line the module wrote.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "host/records.h"
#include "platform/compiler.h"

using VpiMainFunction = std::uint32_t(VPI_STDCALL*)(const VpiRequest* request);

struct ConsoleHost {
    VpiMainFunction vpiMain;
    // Prints the trace lines written since the last call (the native console
    // prints them as they come and leaves this null).
    void (*flushTrace)(std::ostream& out);
};

// Runs commands from `in` until end of input or "quit". Returns 0 when every
// command was understood, 1 otherwise.
int RunConsole(const ConsoleHost& host, std::istream& in, std::ostream& out, bool echoCommands);
