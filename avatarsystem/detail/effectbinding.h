#pragma once

#include <OgrePrerequisites.h>

#include <string>

class Effect;

namespace avatar_detail
{

/// Effects are held by the name the effect library knows them by, so that an effect the library
/// freed (by name or with all the others) is noticed instead of used after it was freed.
/// Effect names are never reused within a process.

/// The live effect called name, or null when there is none (an empty name, or freed).
Effect* liveEffect(const std::string& name);
/// The name to hold an effect by: the effect's own, or empty for null.
std::string effectHandle(const Effect* effect);

/// True when entity has a skeleton with a bone of that name (never throws, unlike Skeleton::getBone).
bool hasBone(const Ogre::Entity* entity, const std::string& bone);
/// As hasBone, for a bone something must hang on: a missing one is noted in the log as what was
/// asked for, where.
bool hasBone(const Ogre::Entity* entity, const std::string& bone, const char* where);

/// The entity whose bone object hangs on; null when it hangs on a scene node or nowhere.
Ogre::Entity* boneOwner(const Ogre::MovableObject* object);

/// The name of the bone object hangs on, or an empty text when it hangs on no bone.
std::string boneName(const Ogre::MovableObject* object);

/// Hangs effect on bone of owner with no offset and no rotation, then shows it and sets its
/// first parameter to 99999 (and, for a render-to-texture copy, its second). Returns false,
/// leaving the effect unhung and hidden, when owner lacks the bone or the engine refuses.
bool hangEffect(Ogre::Entity* owner, const std::string& bone, Effect& effect, bool isCopy);

/// Takes the effect held by handle off the bone of owner it hangs on (if any), frees it through
/// the effect library and empties handle. An effect the library freed already is only forgotten.
void releaseEffect(Ogre::Entity* owner, std::string& handle);

} // namespace avatar_detail
