#include "avatarsystem/detail/effectbinding.h"

#include "avatarsystem/detail/ogreguard.h"
#include "effects/effectmanager.h"

#include <OgreBone.h>
#include <OgreEntity.h>
#include <OgreSkeletonInstance.h>
#include <OgreTagPoint.h>

namespace avatar_detail
{

Effect* liveEffect(const std::string& name)
{
    return name.empty() ? nullptr : EffectManager::getSingletonPtr()->getEffect(name);
}

std::string effectHandle(const Effect* effect)
{
    return effect ? effect->getName() : std::string();
}

bool hasBone(const Ogre::Entity* entity, const std::string& bone)
{
    return entity && !bone.empty() && entity->hasSkeleton() && entity->getSkeleton()->hasBone(bone);
}

bool hasBone(const Ogre::Entity* entity, const std::string& bone, const char* where)
{
    if (!entity || hasBone(entity, bone))
        return entity != nullptr;
    return logFailure(
        where,
        Missing{"bone", bone, (entity->hasSkeleton() ? "on \"" : "no skeleton on \"") + entity->getName() + "\""});
}

Ogre::Entity* boneOwner(const Ogre::MovableObject* object)
{
    if (!object || !object->isAttached() || !object->isParentTagPoint())
        return nullptr;
    return static_cast<Ogre::TagPoint*>(object->getParentNode())->getParentEntity();
}

std::string boneName(const Ogre::MovableObject* object)
{
    if (!boneOwner(object))
        return std::string();
    // A tag point hangs under the bone it was made for.
    const Ogre::Node* bone = object->getParentNode()->getParent();
    return bone ? bone->getName() : std::string();
}

bool hangEffect(Ogre::Entity* owner, const std::string& bone, Effect& effect, bool isCopy)
{
    // Ask first: attachObjectToBone throws for a bone the skeleton lacks.
    if (!hasBone(owner, bone, "hanging an effect") || !effect.getMovableObject())
        return false;
    const bool hung =
        guarded("hanging an effect",
                [&] { owner->attachObjectToBone(bone, effect, Ogre::Quaternion::IDENTITY, Ogre::Vector3::ZERO); });
    if (!hung)
        return false;
    effect.show();
    effect.setParamA(99999.0f);
    if (isCopy)
        effect.setParamB(99999.0f);
    return true;
}

void releaseEffect(Ogre::Entity* owner, std::string& handle)
{
    Effect* effect = liveEffect(handle);
    handle.clear();
    if (!effect)
        return;
    Ogre::MovableObject* object = *effect;
    // Only the owner's own bones: detachObjectFromBone throws for objects hung elsewhere.
    if (object && owner && boneOwner(object) == owner)
        guarded("taking an effect off its bone", [&] { owner->detachObjectFromBone(object); });
    EffectManager::getSingletonPtr()->freeEffect(effect->getName(), false);
}

} // namespace avatar_detail
