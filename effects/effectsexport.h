#pragma once

// The effect library is built with hidden visibility: only the classes marked AVATAREFFECTS_API
// are exported from libavatareffects.
#if defined(__GNUC__) || defined(__clang__)
#define AVATAREFFECTS_API [[gnu::visibility("default")]]
#else
#define AVATAREFFECTS_API
#endif
