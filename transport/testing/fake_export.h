#pragma once

// How the stand-in sockets library exports its functions: under the plain
// names the binding asks for. On 32-bit Windows the library's functions use
// the system's calling convention (the build strips the "@8" that convention
// adds to exported names).
#if defined(_WIN32)
#define FAKE_EXPORT __declspec(dllexport)
#define FAKE_WS_API __stdcall
#else
#define FAKE_EXPORT __attribute__((visibility("default")))
#define FAKE_WS_API
#endif
