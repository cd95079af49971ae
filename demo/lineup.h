#pragma once

#include "host.h"
#include "options.h"

/// Builds the lineup of options.count avatars, drives options.frames frames, captures the moments
/// and, with a window, writes the pictures; prints one line per avatar (in full with --verbose)
/// and the totals. Returns the demo's exit code: 0, 3 when an avatar was not built, 4 when a
/// picture could not be written.
int runLineup(const Options& options, Engine& engine, Ogre::SceneManager* scene);
