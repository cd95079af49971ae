#pragma once

// The effect library is built with hidden visibility: only what carries AVATAREFFECTS_API is
// exported from libavatareffects.
#if defined(__GNUC__) || defined(__clang__)
#define AVATAREFFECTS_API __attribute__((visibility("default")))
#else
#define AVATAREFFECTS_API
#endif
