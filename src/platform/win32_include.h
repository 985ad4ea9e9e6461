#pragma once
// The one place in vdksvc that includes <windows.h>. Only the real platform
// (win32_platform.cc, win32_system.cc, win32_dword_slot.h) and the Windows-only
// test programs include this header; the logic reaches Windows through
// platform.h and compiles anywhere.

// mingw-w64 headers may define an older target; the service and toolhelp calls we
// use are all available from Windows 7 on, so ask for that explicitly.
#ifdef _WIN32_WINNT
#undef _WIN32_WINNT
#endif
#define _WIN32_WINNT 0x0601  // Windows 7

// vdksvc calls the ANSI variants only. With UNICODE defined, <tlhelp32.h> would
// turn PROCESSENTRY32 and Process32First into their wide forms behind our back.
#ifdef UNICODE
#undef UNICODE
#endif
#ifdef _UNICODE
#undef _UNICODE
#endif

// Keep out the parts of <windows.h> nobody here uses (winsock, OLE, ...).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// <windows.h> defines min() and max() macros, which break std::min and std::max.
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>
// <tlhelp32.h> needs the types from <windows.h>, so it must come after it.
#include <tlhelp32.h>
