#pragma once

#include <string>

/// Writes the sample content pack into @p directory (which must exist):
/// body, item, creature, NPC and object meshes with their skeletons, the
/// material scripts, the textures and the twelve tables. Needs a running
/// Ogre::Root with buffer, texture and material managers. Returns false and
/// sets @p error on the first problem; the pack is then incomplete.
bool writeContentPack(const std::string& directory, std::string& error);
