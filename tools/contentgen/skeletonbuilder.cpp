#include "skeletonbuilder.h"

#include "meshbuilder.h"

#include <OgreAnimation.h>
#include <OgreBone.h>
#include <OgreKeyFrame.h>
#include <OgreSkeletonManager.h>

#include <unordered_map>

Ogre::SkeletonPtr createSkeleton(const std::string& name, const std::string& group, const std::vector<BoneDef>& bones)
{
    Ogre::SkeletonPtr skeleton =
        Ogre::static_pointer_cast<Ogre::Skeleton>(Ogre::SkeletonManager::getSingleton().create(name, group, true));
    skeleton->load();

    std::unordered_map<std::string, Ogre::Vector3> positions;
    for (const BoneDef& def : bones)
    {
        Ogre::Bone* bone = skeleton->createBone(def.name);
        Ogre::Vector3 parentPosition = Ogre::Vector3::ZERO;
        if (!def.parent.empty())
        {
            // getBone() throws for unknown names, which is the report we want for a broken rig.
            skeleton->getBone(def.parent)->addChild(bone);
            parentPosition = positions.at(def.parent);
        }
        bone->setPosition(def.position - parentPosition);
        positions[def.name] = def.position;
    }
    skeleton->setBindingPose();
    return skeleton;
}

int boneHandle(const Ogre::SkeletonPtr& skeleton, const std::string& name)
{
    if (!skeleton || !skeleton->hasBone(name))
        return MeshBuilder::s_noBone;
    return skeleton->getBone(name)->getHandle();
}

AnimationWriter::AnimationWriter(Ogre::Skeleton& skeleton, const std::string& name, float length)
    : m_skeleton(skeleton), m_name(name), m_length(length)
{
}

void AnimationWriter::rotate(const std::string& bone, const Ogre::Vector3& axis,
                             const std::vector<std::pair<float, float>>& keys)
{
    if (!m_skeleton.hasBone(bone))
        return;
    for (const auto& key : keys)
    {
        Key& k = m_tracks[bone][key.first];
        k.rotation = k.rotation * Ogre::Quaternion(Ogre::Degree(key.second), axis);
    }
}

void AnimationWriter::translate(const std::string& bone, const std::vector<std::pair<float, Ogre::Vector3>>& keys)
{
    if (!m_skeleton.hasBone(bone))
        return;
    for (const auto& key : keys)
        m_tracks[bone][key.first].translation += key.second;
}

void AnimationWriter::commit()
{
    Ogre::Animation* animation = m_skeleton.createAnimation(m_name, m_length);
    animation->setInterpolationMode(Ogre::Animation::IM_LINEAR);
    for (const auto& track : m_tracks)
    {
        Ogre::Bone* bone = m_skeleton.getBone(track.first);
        Ogre::NodeAnimationTrack* nodeTrack = animation->createNodeTrack(bone->getHandle(), bone);
        for (const auto& key : track.second)
        {
            Ogre::TransformKeyFrame* frame = nodeTrack->createNodeKeyFrame(key.first * m_length);
            frame->setRotation(key.second.rotation);
            frame->setTranslate(key.second.translation);
        }
    }
}
