#pragma once

// GENPLOT_API marks the library's interface; everything else is hidden.
// GENPLOT_BUILDING is defined while the library itself is compiled; GENPLOT_SHARED is
// defined for consumers of the shared build (the CMake target and pkg-config set it).
#if defined(_WIN32)
#if defined(GENPLOT_BUILDING)
#define GENPLOT_API __declspec(dllexport)
#elif defined(GENPLOT_SHARED)
#define GENPLOT_API __declspec(dllimport)
#else
#define GENPLOT_API
#endif
#else
#define GENPLOT_API __attribute__((visibility("default")))
#endif
