// The one place for compiler- and ABI-specific spellings.
//
// Module code names these macros instead of keywords that only some
// compilers know, so that the same sources build with g++ natively, with
// MinGW for the DLL, and with MSVC.
#pragma once

#if defined(_WIN32)
// Win32 standard convention: the callee removes its arguments.
#define VPI_STDCALL __stdcall
// The default convention for variadic functions: the caller removes them.
#define VPI_CDECL __cdecl
#else
// Other targets have a single C calling convention.
#define VPI_STDCALL
#define VPI_CDECL
#endif
