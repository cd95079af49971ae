#pragma once

// The library is built with hidden visibility: only the classes, functions, variables and
// namespaces marked AVATARSYSTEM_API are exported from libavatarsystem.
#if defined(__GNUC__) || defined(__clang__)
#define AVATARSYSTEM_API [[gnu::visibility("default")]]
#else
#define AVATARSYSTEM_API
#endif
