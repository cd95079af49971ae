#include "avatarsystem/detail/bodysplit.h"

#include "avatarsystem/detail/ogreguard.h"

#include <OgreAnimationState.h>
#include <OgreBone.h>
#include <OgreEntity.h>
#include <OgreSkeletonInstance.h>

#include <algorithm>
#include <cctype>

namespace avatar_detail
{

namespace
{

const char* const s_torsoWords[] = {"spine", "chest", "torso", "thorax", "upperbody", "upper_body"};
const char* const s_legWords[] = {"thigh", "leg", "calf", "knee", "shin", "foot", "feet", "toe", "ankle"};
const char* const s_headWords[] = {"head", "neck"};
const char* const s_armWords[] = {"clavicle", "arm", "hand"};

template <std::size_t N> bool nameHas(const std::string& lowered, const char* const (&words)[N])
{
    for (const char* word : words)
        if (lowered.find(word) != std::string::npos)
            return true;
    return false;
}

/// The parent's handle of every bone by handle; -1 for a root bone.
std::vector<int> parentsOf(const Ogre::Skeleton& skeleton)
{
    const unsigned short count = skeleton.getNumBones();
    std::vector<int> parents(count, -1);
    for (unsigned short h = 0; h < count; ++h)
        if (const Ogre::Node* parent = skeleton.getBone(h)->getParent())
            parents[h] = static_cast<const Ogre::Bone*>(parent)->getHandle();
    return parents;
}

int depthOf(const std::vector<int>& parents, int bone)
{
    int depth = 0;
    for (int b = parents[static_cast<std::size_t>(bone)]; b >= 0; b = parents[static_cast<std::size_t>(b)])
        ++depth;
    return depth;
}

bool isInSubtree(const std::vector<int>& parents, int bone, int root)
{
    for (int b = bone; b >= 0; b = parents[static_cast<std::size_t>(b)])
        if (b == root)
            return true;
    return false;
}

} // namespace

std::string findUpperBodyRoot(const Ogre::Skeleton& skeleton)
{
    const unsigned short count = skeleton.getNumBones();
    const std::vector<int> parents = parentsOf(skeleton);
    std::vector<std::string> names(count);
    for (unsigned short h = 0; h < count; ++h)
    {
        names[h] = skeleton.getBone(h)->getName();
        std::transform(names[h].begin(), names[h].end(), names[h].begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    // A bone whose subtree holds a leg is hips or a spine the legs hang from: never the upper body.
    std::vector<bool> holdsLeg(count, false);
    for (unsigned short h = 0; h < count; ++h)
        if (nameHas(names[h], s_legWords))
            for (int b = h; b >= 0 && !holdsLeg[static_cast<std::size_t>(b)]; b = parents[static_cast<std::size_t>(b)])
                holdsLeg[static_cast<std::size_t>(b)] = true;

    int best = -1;
    for (unsigned short h = 0; h < count; ++h)
    {
        if (parents[h] < 0 || holdsLeg[h] || !nameHas(names[h], s_torsoWords))
            continue;
        if (best < 0 || depthOf(parents, h) < depthOf(parents, best))
            best = h;
    }
    if (best >= 0)
        return skeleton.getBone(static_cast<unsigned short>(best))->getName();

    // No torso by name: the nearest bone above both the head and the arms.
    std::vector<int> upperBones;
    bool head = false, arm = false;
    for (unsigned short h = 0; h < count; ++h)
    {
        const bool isHead = nameHas(names[h], s_headWords);
        const bool isArm = nameHas(names[h], s_armWords);
        if (isHead || isArm)
            upperBones.push_back(h);
        head = head || isHead;
        arm = arm || isArm;
    }
    if (!head || !arm)
        return std::string();
    int common = upperBones.front();
    for (int bone : upperBones)
        while (common >= 0 && !isInSubtree(parents, bone, common))
            common = parents[static_cast<std::size_t>(common)];
    if (common < 0 || parents[static_cast<std::size_t>(common)] < 0 || holdsLeg[static_cast<std::size_t>(common)])
        return std::string();
    return skeleton.getBone(static_cast<unsigned short>(common))->getName();
}

BodyPartition makeBodyPartition(const Ogre::Skeleton& skeleton, const std::string& skeletonName,
                                const std::string& root)
{
    BodyPartition partition;
    partition.skeletonName = skeletonName;
    const unsigned short count = skeleton.getNumBones();
    const bool split = !root.empty() && skeleton.hasBone(root);
    partition.upper.assign(count, split ? 0 : 1);
    if (!split)
        return partition;
    partition.rootBone = root;
    const std::vector<int> parents = parentsOf(skeleton);
    const int rootHandle = skeleton.getBone(root)->getHandle();
    bool upperFound = false;
    for (unsigned short h = 0; h < count; ++h)
    {
        if (isInSubtree(parents, h, rootHandle))
        {
            partition.upper[h] = 1;
            if (!upperFound)
                partition.upperProbe = h;
            upperFound = true;
        }
        else if (!partition.hasLower)
        {
            partition.lowerProbe = h;
            partition.hasLower = true;
        }
    }
    return partition;
}

BodySplitRegistry& BodySplitRegistry::instance()
{
    static BodySplitRegistry registry;
    return registry;
}

void BodySplitRegistry::setUpperBodyRoot(const std::string& skeletonName, const std::string& boneName)
{
    if (boneName.empty())
        m_roots.erase(skeletonName);
    else
        m_roots[skeletonName] = boneName;
    m_partitions.erase(skeletonName);
    ++m_generation;
}

std::shared_ptr<const BodyPartition> BodySplitRegistry::partition(const Ogre::SkeletonInstance& skeleton)
{
    // The instance answers with its master skeleton's name (the engine's resource name of an
    // instance is not the skeleton's).
    const std::string& name = skeleton.getName();
    std::shared_ptr<const BodyPartition>& made = m_partitions[name];
    // Same name, other bones: the skeleton was reloaded with a different rig.
    if (made && made->upper.size() == skeleton.getNumBones())
        return made;
    const auto named = m_roots.find(name);
    const bool useNamed = named != m_roots.end() && skeleton.hasBone(named->second);
    if (named != m_roots.end() && !useNamed)
        logFailure("splitting a skeleton", {"bone", named->second, "in \"" + name + "\"; its default bone is used"});
    made = std::make_shared<const BodyPartition>(
        makeBodyPartition(skeleton, name, useNamed ? named->second : findUpperBodyRoot(skeleton)));
    return made;
}

void BodySplitRegistry::forgetPartitions()
{
    m_partitions.clear();
    ++m_generation;
}

namespace
{

/// Gives state a mask whose upper-body entries are upperEntry and lower-body entries lowerEntry.
void writeMask(Ogre::AnimationState* state, const BodyPartition& partition, float upperEntry, float lowerEntry,
               std::vector<float>& scratch, bool rewrite)
{
    const std::size_t bones = partition.upper.size();
    if (!partition.hasLower)
        lowerEntry = upperEntry;
    if (!state->hasBlendMask())
    {
        if (upperEntry == 1.0f && lowerEntry == 1.0f)
            return;
        state->createBlendMask(bones, 1.0f);
    }
    const Ogre::AnimationState::BoneBlendMask& mask = *state->getBlendMask();
    if (!rewrite && mask.size() == bones && bones > 0 && mask[partition.upperProbe] == upperEntry &&
        mask[partition.lowerProbe] == (partition.upper[partition.lowerProbe] ? upperEntry : lowerEntry))
        return;
    if (mask.size() != bones)
    {
        state->destroyBlendMask();
        state->createBlendMask(bones, 1.0f);
    }
    scratch.resize(bones);
    for (std::size_t b = 0; b < bones; ++b)
        scratch[b] = partition.upper[b] ? upperEntry : lowerEntry;
    state->_setBlendMaskData(scratch.data());
}

} // namespace

void applyStateWeights(const Ogre::SkeletonInstance& skeleton, const BodyPartition& partition,
                       const StateWeights* states, std::size_t count, std::vector<float>& scratch, bool rewriteMasks)
{
    float total = 0.0f;
    for (std::size_t i = 0; i < count; ++i)
        if (states[i].state->getEnabled())
            total += std::max(states[i].upper, states[i].lower);
    float scale = 1.0f;
    // Just below 1, so that OGRE's own division (only past a sum of 1) stays out of it.
    if (skeleton.getBlendMode() == Ogre::ANIMBLEND_AVERAGE && total > 1.0f)
        scale = (1.0f - 1e-6f) / total;

    for (std::size_t i = 0; i < count; ++i)
    {
        Ogre::AnimationState* state = states[i].state;
        if (!state->getEnabled())
            continue;
        const float weight = std::max(states[i].upper, states[i].lower) * scale;
        if (state->getWeight() != weight)
            state->setWeight(weight);
        // A state of weight 0 moves no bone whatever its mask says.
        if (weight > 0.0f)
            writeMask(state, partition, states[i].upper / weight, states[i].lower / weight, scratch, rewriteMasks);
    }
}

void releaseState(Ogre::AnimationState* state)
{
    if (!state)
        return;
    state->setEnabled(false);
    state->setWeight(1.0f);
    if (state->hasBlendMask())
    {
        const Ogre::AnimationState::BoneBlendMask& mask = *state->getBlendMask();
        if (std::any_of(mask.begin(), mask.end(), [](float entry) { return entry != 1.0f; }))
        {
            const std::vector<float> ones(mask.size(), 1.0f);
            state->_setBlendMaskData(ones.data());
        }
    }
}

void resetAnimation(Ogre::Entity* entity)
{
    if (!entity || !entity->hasSkeleton())
        return;
    if (Ogre::AnimationStateSet* states = entity->getAllAnimationStates())
        for (const auto& entry : states->getAnimationStates())
        {
            Ogre::AnimationState* state = entry.second;
            state->setEnabled(false);
            state->setTimePosition(0.0f);
            state->setWeight(1.0f);
            state->setLoop(true);
            state->destroyBlendMask();
        }
    entity->getSkeleton()->setBlendMode(Ogre::ANIMBLEND_AVERAGE);
}

} // namespace avatar_detail
