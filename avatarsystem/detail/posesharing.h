#pragma once

#include <OgrePrerequisites.h>

#include <memory>
#include <string>
#include <vector>

namespace avatar_detail
{

class PoseFamily;

/// One shared pose: the entities that show it share one skeleton instance and one animation state
/// set through the engine (Entity::shareSkeletonInstanceWith), so the engine computes the pose and
/// the bone matrices once a frame for all of them, and the group's one looping state is advanced
/// once a frame whatever the number of members.
///
/// Why the engine's sharing and not a copy of the group's pose into each member: a copied pose
/// still leaves every member its own skeleton to derive and its own bone matrices to build, which
/// is most of the engine's per-avatar cost, and the entity would recompute its pose from its own
/// states over the copy. Sharing costs something only when an avatar joins or leaves: the engine
/// deletes the joining entity's own skeleton instance, its states and the tag points on it (so the
/// objects on its bones are taken off before and hung on again after, on its own bones of the
/// shared instance), and gives a leaving entity a new instance with fresh states.
///
/// Invariants, after every call that returns to the host:
/// - The members of a group are live entities of one skeleton, and they share exactly one skeleton
///   instance and state set: those of the group's state.
/// - In a group's state set, only the group's state is enabled, at weight 1, looping, and no state
///   has a blend mask (a set the engine deletes never holds a mask it would not free).
/// - Every object hung on a member's bones hangs on that member's own bones (tag points whose
///   parent entity is the member).
class PoseGroup
{
public:
    /// The state every member shows (owned by the shared state set).
    Ogre::AnimationState* state() const { return m_state; }
    /// The speed factor the family plays at.
    float rate() const;
    /// Advances the group's family by seconds times its rate once a frame: at the first member
    /// update after the system's frame began, or when the member that advanced it last is updated
    /// again (a host that updates avatars without the system's update).
    inline void advance(const void* driver, float seconds);

private:
    friend class PoseSharing;
    friend class PoseFamily;
    PoseFamily* m_family = nullptr;
    unsigned m_bucket = 0;
    /// The group's phase ahead of the family's clock, in seconds.
    float m_offset = 0.0f;
    Ogre::AnimationState* m_state = nullptr;
    std::vector<Ogre::Entity*> m_members;
};

/// The groups of one skeleton, animation and rate: one per phase bucket, all advanced together
/// from one clock, bucket k that many bucket widths ahead of it.
class PoseFamily
{
public:
    /// Moves the clock on by seconds times the rate and every group's state with it.
    void step(const void* driver, float seconds);

private:
    friend class PoseSharing;
    friend class PoseGroup;
    const Ogre::Skeleton* m_skeleton = nullptr;
    std::string m_animation;
    float m_rate = 1.0f;
    float m_length = 0.0f;
    float m_clock = 0.0f;
    unsigned long m_frame = 0;
    const void* m_driver = nullptr;
    std::vector<std::unique_ptr<PoseGroup>> m_groups;
};

/// The registry of shared poses of the process.
class PoseSharing
{
public:
    static PoseSharing& instance();

    /// A new frame of the host begins (the system's update).
    void beginFrame() { ++s_frame; }
    static unsigned long frame() { return s_frame; }
    /// Phase buckets per family (clamped to 1..64); families made from now on use it.
    void setBuckets(unsigned buckets);
    unsigned buckets() const { return m_buckets; }

    /// Makes entity show the pose of the group of its skeleton, state's animation and rate whose
    /// phase is nearest to where state will be at the end of this frame (moving it there, at most
    /// half a bucket): step is what the frame adds to state, unless the group has not moved on in
    /// this frame yet (its next advance brings it). state is the entity's own enabled looping state.
    /// debt: how far the avatar's own phase is ahead of its state's time (what earlier joins moved
    /// it by); on return, how far it is ahead of the group's, at most half a bucket either way. The entity's other
    /// states are disabled and every blend mask on its states is freed first. Null, with the entity keeping its own
    /// skeleton instance, when the engine refuses.
    PoseGroup* join(Ogre::Entity* entity, Ogre::AnimationState* state, float rate, float step, float& debt);
    /// Takes a live entity out of its group: it gets its own skeleton instance and states from the
    /// engine (the last member keeps the group's), its bone objects moved along. The caller reads
    /// the group's time first and plays on from it.
    void leave(PoseGroup* group, Ogre::Entity* entity, const void* driver);
    /// The engine destroyed entity (it already left the shared set): the group forgets it.
    void forget(PoseGroup* group, Ogre::Entity* entity, const void* driver);

    /// Where the host's camera is, and the distance beyond which avatars chosen by distance share
    /// a pose (none while it is not a positive number).
    void setViewpoint(const Ogre::Vector3& eye, float sharedBeyond);
    /// Whether entity's scene node stands beyond the viewpoint's distance; for an entity sharing a
    /// pose already, beyond nine tenths of it (so that one standing at the distance does not join
    /// and leave in turn). False for an entity in no scene node or without a viewpoint.
    bool isFar(const Ogre::Entity* entity, bool sharing) const;

    /// The number of groups (distinct shared poses).
    std::size_t numGroups() const;

private:
    PoseSharing() = default;
    /// Takes entity out of the group's list and drops the group and its family when empty.
    void remove(PoseGroup* group, Ogre::Entity* entity, const void* driver);

    static unsigned long s_frame;
    float m_eye[3] = {0.0f, 0.0f, 0.0f};
    float m_join2 = -1.0f;
    float m_stay2 = -1.0f;
    std::vector<std::unique_ptr<PoseFamily>> m_families;
    unsigned m_buckets = 4;
};

inline void PoseGroup::advance(const void* driver, float seconds)
{
    PoseFamily& family = *m_family;
    if (family.m_frame != PoseSharing::frame() || family.m_driver == driver || !family.m_driver)
        family.step(driver, seconds);
}

} // namespace avatar_detail
