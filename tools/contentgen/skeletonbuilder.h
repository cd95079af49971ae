#pragma once

#include <OgreSkeleton.h>
#include <OgreVector.h>

#include <map>
#include <string>
#include <vector>

/// One bone of a rig, placed by its position in model space in the binding pose.
struct BoneDef
{
    std::string name;
    std::string parent; ///< empty for the root bone
    Ogre::Vector3 position;
};

/// Creates the manual skeleton @p name in @p group with @p bones (parents
/// listed before their children) and sets the binding pose. Throws
/// Ogre::Exception on an unknown parent.
Ogre::SkeletonPtr createSkeleton(const std::string& name, const std::string& group, const std::vector<BoneDef>& bones);

/// Handle of bone @p name, or MeshBuilder::s_noBone when the skeleton has none.
int boneHandle(const Ogre::SkeletonPtr& skeleton, const std::string& name);

/// Writes one keyframed animation. Keys are given at fractions of the length;
/// a bone may get a rotation and a translation, merged into one track.
/// Bones the skeleton lacks are ignored, so one recipe serves several rigs.
class AnimationWriter
{
public:
    AnimationWriter(Ogre::Skeleton& skeleton, const std::string& name, float length);

    /// Creates the animation from the keys given so far. Throws
    /// Ogre::Exception when the skeleton already has an animation of that name.
    void commit();

    /// Rotation about @p axis in degrees at each (fraction, degrees) key.
    void rotate(const std::string& bone, const Ogre::Vector3& axis, const std::vector<std::pair<float, float>>& keys);
    /// Translation from the binding position at each (fraction, offset) key.
    void translate(const std::string& bone, const std::vector<std::pair<float, Ogre::Vector3>>& keys);

private:
    struct Key
    {
        Ogre::Quaternion rotation = Ogre::Quaternion::IDENTITY;
        Ogre::Vector3 translation = Ogre::Vector3::ZERO;
    };

    Ogre::Skeleton& m_skeleton;
    std::string m_name;
    float m_length;
    std::map<std::string, std::map<float, Key>> m_tracks;
};
