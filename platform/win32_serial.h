// The seam between the module and the platform's serial port calls.
//
// The module is written against this subset of the Win32 serial API. On
// Windows the declarations are the system's own; elsewhere they are declared
// here from the documented layouts and meanings, and the build links exactly
// one implementation of them: platform/posix (termios) for real devices and
// pseudo-terminals, or testing/fake_serial (a scripted device on a virtual
// clock) for unit tests.
#pragma once

#include <cstdint>

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#else

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using BOOL = int;
using HANDLE = void*;
using LPCSTR = const char*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;

struct SECURITY_ATTRIBUTES;
struct OVERLAPPED;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// Comparable with a handle; never a handle that an open hands out.
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

constexpr BYTE NOPARITY = 0;
constexpr BYTE ODDPARITY = 1;
constexpr BYTE EVENPARITY = 2;
constexpr BYTE MARKPARITY = 3;
constexpr BYTE SPACEPARITY = 4;

constexpr BYTE ONESTOPBIT = 0;
constexpr BYTE ONE5STOPBITS = 1;
constexpr BYTE TWOSTOPBITS = 2;

constexpr DWORD DTR_CONTROL_DISABLE = 0;
constexpr DWORD DTR_CONTROL_ENABLE = 1;
constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;

constexpr DWORD RTS_CONTROL_DISABLE = 0;
constexpr DWORD RTS_CONTROL_ENABLE = 1;
constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_TOGGLE = 3;

// Device control block: 28 bytes, the flag bits packed into one 32-bit word.
struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};

// Time-outs of a port, in milliseconds.
struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};

// Port status as reported by ClearCommError.
struct COMSTAT {
    DWORD fCtsHold : 1;
    DWORD fDsrHold : 1;
    DWORD fRlsdHold : 1;
    DWORD fXoffHold : 1;
    DWORD fXoffSent : 1;
    DWORD fEof : 1;
    DWORD fTxim : 1;
    DWORD fReserved : 25;
    DWORD cbInQue;
    DWORD cbOutQue;
};

static_assert(sizeof(DCB) == 28, "DCB is 28 bytes");
static_assert(sizeof(COMMTIMEOUTS) == 20, "COMMTIMEOUTS is five words");
static_assert(sizeof(COMSTAT) == 12, "COMSTAT is three words");

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);
BOOL GetCommState(HANDLE handle, DCB* dcb);
BOOL SetCommState(HANDLE handle, DCB* dcb);
BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts);
BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts);
BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue);
BOOL ClearCommError(HANDLE handle, LPDWORD errors, COMSTAT* stat);
BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, OVERLAPPED* overlapped);
BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               OVERLAPPED* overlapped);
BOOL SetCommBreak(HANDLE handle);
BOOL ClearCommBreak(HANDLE handle);
void Sleep(DWORD milliseconds);

#endif

// Windows opens COM1 to COM9 by their plain names but COM10 and above only
// through the device namespace prefix; other platforms take names as given.
#if defined(_WIN32)
constexpr bool kPlatformNeedsComPrefixAbove9 = true;
#else
constexpr bool kPlatformNeedsComPrefixAbove9 = false;
#endif

// A handle as the 32-bit number that the trace shows.
inline std::uint32_t HandleNumber(HANDLE handle) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(handle));
}
