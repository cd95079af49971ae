#pragma once

#include <OgrePrerequisites.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace avatar_detail
{

/// Which bones of one skeleton make up the upper body: the subtree of its upper-body root bone.
/// Everything else (hips, legs, the root) is the lower body.
struct BodyPartition
{
    std::string skeletonName;
    /// The upper-body root; empty when the skeleton has no recognisable upper body, and then
    /// every bone counts as upper body.
    std::string rootBone;
    /// By bone handle: 1 for an upper-body bone, 0 for a lower-body bone.
    std::vector<unsigned char> upper;
    /// One bone of each part, to read back what a blend mask holds.
    unsigned short upperProbe = 0;
    unsigned short lowerProbe = 0;
    bool hasLower = false;
};

/// The bone a skeleton's upper body starts at, chosen by name and structure; empty when none fits.
/// Prefers the bone nearest the root whose name says spine, chest or torso and whose subtree
/// holds no leg; failing that, the common ancestor of the head and arm bones when it holds no leg.
std::string findUpperBodyRoot(const Ogre::Skeleton& skeleton);

/// The partition of skeleton with root as its upper-body root (root empty or unknown: no split).
BodyPartition makeBodyPartition(const Ogre::Skeleton& skeleton, const std::string& skeletonName,
                                const std::string& root);

/// Partitions by skeleton name, made once and shared by every avatar of that skeleton. The host
/// may name the upper-body root of a skeleton; the default is findUpperBodyRoot.
class BodySplitRegistry
{
public:
    static BodySplitRegistry& instance();

    /// Names the upper-body root bone of the skeleton of that name; an empty bone restores the
    /// default. A bone the skeleton lacks is ignored there and the default is used.
    void setUpperBodyRoot(const std::string& skeletonName, const std::string& boneName);
    /// The partition of an entity's skeleton, made on the first request after a change.
    std::shared_ptr<const BodyPartition> partition(const Ogre::SkeletonInstance& skeleton);
    /// Drops every made partition (the host may reload skeletons); the named roots stay.
    void forgetPartitions();
    /// Changes whenever partitions made before may be out of date.
    unsigned generation() const { return m_generation; }

private:
    std::map<std::string, std::string> m_roots;
    std::map<std::string, std::shared_ptr<const BodyPartition>> m_partitions;
    unsigned m_generation = 1;
};

/// What one animation state should give the bones of each part of the body.
struct StateWeights
{
    Ogre::AnimationState* state;
    float upper;
    float lower;
};

/// Sets each enabled state's weight and blend mask so that every upper-body bone receives
/// exactly `upper` from it and every lower-body bone exactly `lower`, under the skeleton's
/// current blend mode. In average mode OGRE divides all weights by their sum over the whole
/// skeleton once it exceeds 1; the state weights are then scaled to add up to just below 1 and
/// the masks carry the rest, so no bone is averaged with a state that does not move it.
/// Masks are written only when their values change, or always with rewriteMasks (the partition
/// changed, and a mask of the old split may agree with the new one on the bones it probes).
/// scratch is reused between calls.
void applyStateWeights(const Ogre::SkeletonInstance& skeleton, const BodyPartition& partition,
                       const StateWeights* states, std::size_t count, std::vector<float>& scratch,
                       bool rewriteMasks = false);

/// Disables a state the controller lets go of and restores OGRE's defaults on it (weight 1,
/// every mask entry 1), so that nothing of the layer it served stays behind on it.
void releaseState(Ogre::AnimationState* state);

/// Every animation state of the entity disabled at time 0, weight 1, looping, without mask,
/// and its skeleton back to average blending: a body as OGRE makes it (for pooled bodies).
void resetAnimation(Ogre::Entity* entity);

} // namespace avatar_detail
