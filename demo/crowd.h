#pragma once

#include "host.h"
#include "options.h"

/// Builds a crowd of options.crowd avatars (players of both genders from the presets, creatures,
/// NPCs and objects) through the per-frame queue, animates them as the lineup does, stands them
/// in a grid and, with a window, renders them into options.output. Prints the build throughput
/// through the queue, the frame cost percentiles of the library's work and of the engine's, and
/// the memory and engine objects per avatar. Returns the demo's exit code: 0, 3 when an avatar was
/// not built, 4 when the picture could not be written.
int runCrowd(const Options& options, Engine& engine, Ogre::SceneManager* scene);
