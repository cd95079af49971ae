#pragma once

// The library is built with hidden visibility: only what carries AVATARSYSTEM_API is exported
// from libavatarsystem, the same name in the library and in the host.
#if defined(__GNUC__) || defined(__clang__)
#define AVATARSYSTEM_API __attribute__((visibility("default")))
#else
#define AVATARSYSTEM_API
#endif
