#include "avatarsystem/detail/posesharing.h"

#include "avatarsystem/detail/ogreguard.h"

#include <OgreAnimationState.h>
#include <OgreEntity.h>
#include <OgreMesh.h>
#include <OgreSceneNode.h>
#include <OgreSkeletonInstance.h>
#include <OgreTagPoint.h>

#include <algorithm>
#include <cmath>

namespace avatar_detail
{
namespace
{

/// An object hung on one of an entity's bones, with what is needed to hang it again.
struct BoneObject
{
    Ogre::MovableObject* object;
    std::string bone;
    Ogre::Quaternion orientation;
    Ogre::Vector3 position;
    Ogre::Vector3 scale;
    bool inheritOrientation;
    bool inheritScale;
    bool inheritEntityOrientation;
    bool inheritEntityScale;
};

/// Takes every object off entity's bones: their tag points belong to the skeleton instance the
/// engine is about to delete or leave behind.
std::vector<BoneObject> takeBoneObjects(Ogre::Entity* entity)
{
    std::vector<BoneObject> taken;
    guarded("taking objects off bones to share a pose",
            [&]
            {
                const Ogre::Entity::ChildObjectList objects = entity->getAttachedObjects();
                for (Ogre::MovableObject* object : objects)
                {
                    auto* tag = static_cast<Ogre::TagPoint*>(object->getParentNode());
                    if (!tag || !tag->getParent())
                        continue;
                    taken.push_back({object, tag->getParent()->getName(), tag->getOrientation(), tag->getPosition(),
                                     tag->getScale(), tag->getInheritOrientation(), tag->getInheritScale(),
                                     tag->getInheritParentEntityOrientation(), tag->getInheritParentEntityScale()});
                    entity->detachObjectFromBone(object);
                }
            });
    return taken;
}

/// Hangs the objects again on the same bones of entity's skeleton instance as it is now.
void restoreBoneObjects(Ogre::Entity* entity, const std::vector<BoneObject>& objects)
{
    for (const BoneObject& o : objects)
        guarded("hanging an object on a bone again",
                [&]
                {
                    Ogre::TagPoint* tag = entity->attachObjectToBone(o.bone, o.object, o.orientation, o.position);
                    tag->setScale(o.scale);
                    tag->setInheritOrientation(o.inheritOrientation);
                    tag->setInheritScale(o.inheritScale);
                    tag->setInheritParentEntityOrientation(o.inheritEntityOrientation);
                    tag->setInheritParentEntityScale(o.inheritEntityScale);
                });
}

/// Frees every blend mask on the entity's states (the engine frees none when it deletes a set).
void freeMasks(Ogre::Entity* entity)
{
    if (Ogre::AnimationStateSet* states = entity->getAllAnimationStates())
        for (const auto& entry : states->getAnimationStates())
            entry.second->destroyBlendMask();
}

/// t within [0, length).
float wrapTime(float t, float length)
{
    if (!(length > 0.0f))
        return 0.0f;
    t = std::fmod(t, length);
    return t < 0.0f ? t + length : t;
}

} // namespace

unsigned long PoseSharing::s_frame = 1;

float PoseGroup::rate() const
{
    return m_family->m_rate;
}

void PoseFamily::step(const void* driver, float seconds)
{
    m_frame = PoseSharing::frame();
    m_driver = driver;
    const float dt = seconds * m_rate;
    if (!std::isfinite(dt))
        return;
    m_clock = wrapTime(m_clock + dt, m_length);
    for (const auto& group : m_groups)
        if (group)
            group->m_state->setTimePosition(wrapTime(m_clock + group->m_offset, m_length));
}

PoseSharing& PoseSharing::instance()
{
    static PoseSharing sharing;
    return sharing;
}

void PoseSharing::setBuckets(unsigned buckets)
{
    m_buckets = std::min(64u, std::max(1u, buckets));
}

PoseGroup* PoseSharing::join(Ogre::Entity* entity, Ogre::AnimationState* state, float rate, float step, float& debt)
{
    if (!entity || !state || !entity->hasSkeleton() || entity->sharesSkeletonInstance() || !std::isfinite(rate))
        return nullptr;
    if (!std::isfinite(debt))
        debt = 0.0f;
    const Ogre::Skeleton* skeleton = entity->getMesh()->getSkeleton().get();
    if (!skeleton)
        return nullptr;
    const std::string& name = state->getAnimationName();
    auto familyIt = std::find_if(m_families.begin(), m_families.end(),
                                 [&](const std::unique_ptr<PoseFamily>& f)
                                 { return f->m_skeleton == skeleton && f->m_rate == rate && f->m_animation == name; });
    PoseFamily* family = familyIt != m_families.end() ? familyIt->get() : nullptr;
    std::unique_ptr<PoseFamily> made;
    if (!family)
    {
        made.reset(new PoseFamily());
        made->m_skeleton = skeleton;
        made->m_animation = name;
        made->m_rate = rate;
        made->m_length = state->getLength();
        made->m_clock = wrapTime(state->getTimePosition() + debt, made->m_length);
        made->m_frame = s_frame;
        made->m_groups.resize(m_buckets);
        family = made.get();
    }
    // The bucket nearest to the avatar's own phase at the end of this frame.
    const bool movesOnThisFrame = family->m_frame != s_frame || !family->m_driver;
    const float own = state->getTimePosition() + debt + (movesOnThisFrame || !std::isfinite(step) ? 0.0f : step);
    const std::size_t buckets = family->m_groups.size();
    const float width = family->m_length / static_cast<float>(buckets);
    std::size_t bucket = 0;
    if (width > 0.0f)
    {
        const float ahead = wrapTime(own - family->m_clock, family->m_length);
        bucket = static_cast<std::size_t>(std::lround(ahead / width)) % buckets;
    }
    // Whatever the avatar's phase is moved by is owed to it at its next join.
    const float shown = family->m_clock + width * static_cast<float>(bucket);
    debt = wrapTime(own - shown + 0.5f * family->m_length, family->m_length) - 0.5f * family->m_length;
    std::unique_ptr<PoseGroup>& slot = family->m_groups[bucket];
    PoseGroup* group = slot.get();
    if (!group)
    {
        // The avatar's own state set becomes the group's: one enabled state at full weight.
        const bool ready = guarded("starting a shared pose",
                                   [&]
                                   {
                                       freeMasks(entity);
                                       for (const auto& entry : entity->getAllAnimationStates()->getAnimationStates())
                                           if (entry.second != state)
                                               entry.second->setEnabled(false);
                                       state->setEnabled(true);
                                       state->setLoop(true);
                                       state->setWeight(1.0f);
                                       entity->getSkeleton()->setBlendMode(Ogre::ANIMBLEND_AVERAGE);
                                   });
        if (!ready)
            return nullptr;
        slot.reset(new PoseGroup());
        group = slot.get();
        group->m_family = family;
        group->m_bucket = static_cast<unsigned>(bucket);
        group->m_offset = width * static_cast<float>(bucket);
        group->m_state = state;
        state->setTimePosition(wrapTime(family->m_clock + group->m_offset, family->m_length));
    }
    else
    {
        // The engine deletes the avatar's own instance, states and tag points.
        guarded("freeing blend masks before sharing a pose", [&] { freeMasks(entity); });
        const std::vector<BoneObject> objects = takeBoneObjects(entity);
        const bool shared =
            guarded("sharing a pose", [&] { entity->shareSkeletonInstanceWith(group->m_members.front()); });
        restoreBoneObjects(entity, objects);
        if (!shared)
            return nullptr;
    }
    group->m_members.push_back(entity);
    if (made)
        m_families.push_back(std::move(made));
    return group;
}

void PoseSharing::leave(PoseGroup* group, Ogre::Entity* entity, const void* driver)
{
    if (!group || !entity)
        return;
    if (entity->sharesSkeletonInstance())
    {
        // Its tag points belong to the shared instance: they come along to its new one.
        const std::vector<BoneObject> objects = takeBoneObjects(entity);
        guarded("leaving a shared pose", [&] { entity->stopSharingSkeletonInstance(); });
        restoreBoneObjects(entity, objects);
    }
    remove(group, entity, driver);
}

void PoseSharing::forget(PoseGroup* group, Ogre::Entity* entity, const void* driver)
{
    if (group)
        remove(group, entity, driver);
}

void PoseSharing::remove(PoseGroup* group, Ogre::Entity* entity, const void* driver)
{
    std::vector<Ogre::Entity*>& members = group->m_members;
    members.erase(std::remove(members.begin(), members.end(), entity), members.end());
    PoseFamily* family = group->m_family;
    if (family->m_driver == driver)
        family->m_driver = nullptr;
    if (!members.empty())
        return;
    family->m_groups[group->m_bucket].reset();
    if (std::any_of(family->m_groups.begin(), family->m_groups.end(), [](const auto& g) { return g != nullptr; }))
        return;
    m_families.erase(std::find_if(m_families.begin(), m_families.end(),
                                  [family](const std::unique_ptr<PoseFamily>& f) { return f.get() == family; }));
}

void PoseSharing::setViewpoint(const Ogre::Vector3& eye, float sharedBeyond)
{
    m_eye[0] = eye.x;
    m_eye[1] = eye.y;
    m_eye[2] = eye.z;
    const bool valid = std::isfinite(sharedBeyond) && sharedBeyond > 0.0f && eye.isNaN() == false;
    m_join2 = valid ? sharedBeyond * sharedBeyond : -1.0f;
    m_stay2 = valid ? 0.81f * sharedBeyond * sharedBeyond : -1.0f;
}

bool PoseSharing::isFar(const Ogre::Entity* entity, bool sharing) const
{
    const float limit = sharing ? m_stay2 : m_join2;
    const Ogre::SceneNode* node = entity ? entity->getParentSceneNode() : nullptr;
    if (limit < 0.0f || !node)
        return false;
    const Ogre::Vector3& at = node->_getDerivedPosition();
    const float dx = at.x - m_eye[0], dy = at.y - m_eye[1], dz = at.z - m_eye[2];
    return dx * dx + dy * dy + dz * dz > limit;
}

std::size_t PoseSharing::numGroups() const
{
    std::size_t n = 0;
    for (const auto& family : m_families)
        for (const auto& group : family->m_groups)
            n += group ? 1 : 0;
    return n;
}

} // namespace avatar_detail
