#pragma once

#include "avatarsystem/avatarinterface.h"

#include <OgrePrerequisites.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

class AnimationDB;

namespace avatar_detail
{
struct BodyPartition;
class PoseGroup;
} // namespace avatar_detail

/// Drives the skeletal animations of one avatar's entity in four layers: a main animation, the
/// previous main animation while it fades out, an upper-body overlay and an additive pose.
/// Owned by its avatar; does not own the OGRE objects it points to, except the blend masks it
/// puts on the entity's states, which it frees when the entity is destroyed under it.
///
/// Each layer weights its state separately for the upper body and the lower body. The upper body
/// is the subtree of the skeleton's upper-body root bone (AvatarSystemManager::setUpperBodyRootBone
/// names it; by default the spine or chest bone nearest the root that holds no leg); every other
/// bone is lower body. The weights reach OGRE as a state weight and a per-bone blend mask each, so
/// every bone receives exactly its part's weight whatever the skeleton's blend mode.
///
/// Invariants, after every call that returns to the host:
/// - A state belongs to at most one layer; a state a play moves to another layer leaves its old
///   layer, and letting go of a layer never disables a state another layer holds.
/// - The enabled states the controller set are exactly those of its layers; a state it lets go
///   of is disabled, at weight 1 with an all-ones mask.
/// - Apart from the pose, which adds on top, each bone's weights add up to 1 while the main layer
///   plays: during a cross-fade the main and previous weights add up to 1, and under an overlay
///   the upper body shares between the overlay and the main layer. Less than 1 only where nothing
///   was playing to fade from: after clearAnimation of layer 0 (nothing plays), while the former
///   overlay fades in from 0 after clearAnimation of layer 1, while a main animation played
///   smoothly onto an empty main layer fades in from the bind pose, and while an overlay plays over
///   an empty main layer (a row that names the main animation on the upper body took its state).
/// - Events go to the listener that was set when they arose, and only while it is still the one
///   set: a listener the host replaced (play, deferred play, setCallback) or cleared is never
///   called again. A deferred play's listener counts as replaced by a later setCallback or play.
/// - The host's IActionCallback hears of starts, stops and ends once the play or update that
///   caused them has finished its changes, in the order they arose; from within them it may play,
///   clear, change or delete listeners, destroy the avatar or release the whole system. An
///   exception it throws is logged and goes no further.
/// - Every play-once main or overlay started reaches its end event while the avatar is updated
///   unpaused and not held in a still pose, unless it is replaced, dropped by a whole-body play,
///   cleared, or its state moves to another layer (with a stop event).
///
/// Shared pose: at the shared detail level (AvatarSystemManager::setDetailLevel), an avatar whose
/// animation is a plain looping main (faded in, no previous, overlay or pose layer, no still pose,
/// not paused, no deferred play waiting) shows the pose of a group of avatars of its skeleton that
/// play the same animation at the same pace, at a phase within half a phase bucket of its own. Its
/// entity then shares the group's skeleton instance and states: the controller writes nothing into
/// them, and the first member updated in a frame advances the group. Whatever needs more than
/// the group's pose (a play that changes anything, a still pose, clearing the main layer, pause, a
/// new pace, manual stepping, the full level) first gives the entity its own skeleton back, at the
/// group's phase, and the avatar joins again at a later update once it is back to a plain loop.
/// Events, getPlayPercent and searchAnimation answer the same at both levels, within the phase
/// difference of a bucket.
///
/// Looping: a main animation loops in OGRE's sense when its row plays in a loop. Play-once
/// overlays and poses do not loop: they stop at their last frame, so they always reach the 99 %
/// at which they end (a wrapping state could jump past it and never end). Looping overlays loop.
class AVATARSYSTEM_API AnimationController
{
public:
    /// Column PlayType of the animation table.
    enum PlayType : int
    {
        PLAY_LOOP = 0, ///< loops until replaced
        PLAY_ONCE = 1, ///< plays once, ends at 99 % with onAnimationEnd, holds its last frame as main
        PLAY_POSE = 2  ///< an additive pose over everything else, ended at 99 %
    };
    /// Column BlendType of the animation table: the part of the body an animation plays on.
    enum BodyPart : int
    {
        BODY_WHOLE = 0, ///< the whole body: replaces the main animation and drops any overlay
        BODY_LOWER = 1, ///< the legs: the main layer, under which an upper-body overlay may play
        BODY_UPPER = 2  ///< the upper body: an overlay over a lower-body main, else the main layer
    };
    /// The layer numbers of searchAnimation and clearAnimation.
    enum LayerNumber : int
    {
        LAYER_WHOLE_BODY = 0, ///< the main animation when no overlay plays
        LAYER_MAIN = 1,       ///< the main (lower-body) animation
        LAYER_OVERLAY = 2,    ///< the upper-body overlay
        LAYER_POSE = 3        ///< the additive pose
    };
    /// The "part" argument of IActionCallback::onAnimationEnd.
    enum EndPart : int
    {
        END_MAIN = 0,               ///< the main animation ended, no overlay playing
        END_MAIN_UNDER_OVERLAY = 1, ///< the main animation ended while an overlay plays
        END_OVERLAY = 2             ///< the upper-body overlay ended
    };

    AnimationController();
    ~AnimationController();
    AnimationController(const AnimationController&) = delete;
    AnimationController& operator=(const AnimationController&) = delete;

    /// The avatar the controller asks for its movement speeds; without one update does nothing.
    void setOwner(IInstance* owner) { m_owner = owner; }
    /// Unbinds the owner (its destroy does it): update does nothing from then on.
    void clearOwner() { m_owner = nullptr; }
    /// The owner, or null.
    IInstance* getOwner() const { return m_owner; }
    /// Binds the entity whose animation states are played. Binding a different entity forgets
    /// the layers, whose states belong to the entity bound before.
    void setEntity(Ogre::Entity* entity);
    /// The bound entity is being destroyed by someone else: frees the blend masks the controller
    /// put on its states (the engine does not) and lets go of it.
    void entityDestroyed();
    /// The bound entity, or null.
    Ogre::Entity* getEntity() const { return m_entity; }
    /// A paused controller ignores plays and updates; a deferred play waits for the unpause.
    void setPause(bool paused);
    /// Whether the controller is paused.
    bool isPaused() const { return m_paused; }
    /// Stores the merge flag; no behaviour depends on it.
    void setMerge(bool merge) { m_merge = merge; }
    /// A factor on the pace of every layer (1 normal).
    void setPlaySpeed(float speed);
    /// Replaces the listener, the deferred play's too; the one replaced hears nothing more.
    void setCallback(IActionCallback* callback);
    /// A tick is processed once more time than this has gathered; an undefined limit counts as 0.
    void setTickTimeLimit(float seconds) { m_tickTimeLimit = seconds == seconds ? seconds : 0.0f; }

    /// Starts the animation of the type now, taking over from the main animation by blend
    /// (BLEND_SMOOTH cross-fades, BLEND_IMMEDIATE and any other value switch at once).
    /// Does nothing while paused, without an entity, or when the type has no row or state.
    void play(AnimationType type, ANI_BLEND_TYPE blend, float start, IActionCallback* callback);
    /// Stores a play for the beginning of the next update that is not paused; a second call overwrites it.
    void playLater(AnimationType type, ANI_BLEND_TYPE blend, float start, IActionCallback* callback);
    /// Plays the lowest type from 0 to 1004 whose animation has that name (from its start).
    void playByName(const char* name, ANI_BLEND_TYPE blend, IActionCallback* callback);
    /// Holds the type's animation still at position (0 start, 1 end) until the next play.
    void playStatic(AnimationType type, float position);
    /// Advances one frame: the deferred play, then, once more time than the tick limit has
    /// gathered, the pose, overlay and main layers by this frame's time (the bool is not used).
    void update(bool b, float seconds);

    /// The type's animation name, or an empty text when the table or row is missing.
    const char* getAnimName(AnimationType type);
    /// True when the entity has a skeleton, an animation state set and a state of that name.
    bool hasState(const std::string& name) const;
    /// True when the type has a row and the entity a state of its name.
    bool hasAnimation(AnimationType type);
    /// The fraction of the named state's length played; -1 when it is missing or disabled.
    float getPlayPercent(const std::string& name) const;
    /// Every animation state of the entity back to time 0, enabled as given.
    void resetAllStates(bool enabled);
    /// The type playing on a layer (LayerNumber): the main type (the deferred one while a
    /// deferred play waits) for every layer when no overlay plays; under an overlay, layer 1 the
    /// main type, layer 2 the overlay's, any other ANIM_NONE. The pose is never reported.
    AnimationType searchAnimation(unsigned layer) const;
    /// Stops a layer without callbacks: 0 the main animation and the one fading out (no overlay
    /// active), 1 the main animation under an overlay (the overlay becomes the main one, fading in
    /// from 0), 2 the overlay, 3 the pose.
    void clearAnimation(unsigned layer);

    /// @name Layers as they stand
    /// For hosts' tools and tests: the layers' states (null when empty, owned by the entity).
    //@{
    /// The state of the main, previous (fading out), overlay and pose layers, or null.
    Ogre::AnimationState* getMainState() const { return m_main.state; }
    Ogre::AnimationState* getPreviousState() const { return m_prev.state; }
    Ogre::AnimationState* getOverlayState() const { return m_overlay.state; }
    Ogre::AnimationState* getPoseState() const { return m_pose.state; }
    //@}
    /// @name Fade levels
    //@{
    /// The fade level, 0 to 1, of the main, previous, overlay and pose layers.
    float getMainWeight() const { return m_main.weight; }
    float getPreviousWeight() const { return m_prev.weight; }
    float getOverlayWeight() const { return m_overlay.weight; }
    float getPoseWeight() const { return m_pose.weight; }
    //@}
    /// Whether an upper-body overlay plays.
    bool isOverlayActive() const { return m_overlay.state != nullptr; }
    /// Whether a still pose (playStatic) holds until the next play.
    bool isStaticPose() const { return m_staticPose; }
    /// The weight state gives the upper-body and the lower-body bones now (0 when it is no layer's).
    void getLayerWeights(const Ogre::AnimationState* state, float& upper, float& lower) const;

    /// The detail level, an AvatarSystemManager::DetailLevel: at full detail the avatar leaves
    /// its group at once; shared, it joins one at its next update that finds it playing a plain
    /// loop; automatic, it does so while it stands beyond the viewpoint's distance, and leaves at
    /// its first update within nine tenths of it. Other values are ignored.
    void setDetailLevel(int level);
    /// The detail level last set (an AvatarSystemManager::DetailLevel).
    int getDetailLevel() const { return m_detail; }
    /// Whether the entity shows a group's pose now.
    bool isSharingPose() const { return m_group != nullptr; }
    /// Counts the changes of the entity's animation state set that a shared pose makes (joining
    /// or leaving): state pointers taken from the entity before a change are invalid after it.
    unsigned getStatesGeneration() const { return m_statesGeneration; }
    /// The owner's movement speeds changed: a shared avatar whose pace no longer is its group's leaves it.
    void ratesChanged();
    /// The owner steps a state of its own by hand: the entity gets its own skeleton back and keeps
    /// it at least until the update after the next.
    void keepOwnPose();

    /// For the owner letting go while a call of this controller is still running (the host
    /// destroyed the avatar from a callback): false when none runs, and the owner deletes it;
    /// otherwise the controller lets go of its entity and deletes itself when that call returns.
    bool retireWhenIdle();

private:
    /// One layer: the state it plays, what it plays and how it is weighted. Empty: no state,
    /// type ANIM_NONE.
    struct Layer
    {
        Ogre::AnimationState* state = nullptr;
        AnimationType type = ANIM_NONE;
        /// The fade level, 0 to 1.
        float weight = 0.0f;
        /// What the upper-body and the lower-body bones receive from the state.
        float upper = 0.0f;
        float lower = 0.0f;
        /// Fade speed factor (10 for a quick-fading play-once row).
        float fadeRate = 1.0f;
        bool playOnce = false;
        bool holds(const Ogre::AnimationState* s) const { return state && state == s; }
    };
    /// What one tick did to a layer.
    enum StepResult
    {
        STEP_PLAYING,
        STEP_ENDED
    };
    /// A host notification waiting for the end of the operation that raised it.
    struct Event
    {
        IActionCallback* target;
        AnimationType type;
        bool end;
        bool stopped;
        bool looping;
        int part;
    };
    /// Marks a play or update in progress: its events are delivered when the outermost one ends.
    class Operation
    {
    public:
        explicit Operation(AnimationController& controller);
        ~Operation();
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;

    private:
        AnimationController& m_controller;
    };
    enum RateKind
    {
        RATE_NONE,
        RATE_RUN,
        RATE_WALK
    };

    void deliverEvents();
    void notifyStart(AnimationType type, bool looping);
    void notifyStop(AnimationType type);
    void notifyEnd(AnimationType type, EndPart part);
    /// The animation table, or null when it cannot be opened.
    const AnimationDB* animationTable() const;
    /// The entity's state of that name, or null.
    Ogre::AnimationState* findState(const char* name) const;

    /// The one step of every layer in a tick: the end check of a play-once layer (at 99 %), then
    /// the advance by step and the fade, up to 1, or down to 0 once past fadeOutAt.
    StepResult stepLayer(Layer& layer, float step, float fadeOutAt);
    /// Puts state into layer, taking it from whichever other layer held it first.
    void takeState(Layer& layer, Ogre::AnimationState* state, AnimationType type, float start, bool looping);
    /// Empties layer, disabling its state unless another layer holds it (no event).
    void releaseLayer(Layer& layer);
    /// Empties the previous layer: the main one plays at full weight.
    void dropPrevious();
    /// Stops and empties the overlay.
    void dropOverlay();
    void replaceMain(AnimationType type, ANI_BLEND_TYPE blend, Ogre::AnimationState* state, float start, bool looping);
    void advancePose(float step);
    void advanceOverlay(float step);
    void advanceMain(float step);
    /// The speed factor of the main animation: the run or walk rate by its name.
    float mainRate();
    /// Works out every layer's part weights from the fade levels and writes them into the
    /// states (per body part) and their blend masks.
    void applyWeights();
    /// Forgets every layer without touching its state (the states belong to an entity let go of).
    void forgetLayers();
    /// Whether the layers are a plain loop that a group's pose can show.
    bool canSharePose() const;
    /// The pace of the main layer: the play speed times the run or walk rate.
    float mainPace();
    /// Joins the group nearest to where this frame of seconds takes the main loop.
    void joinSharedPose(float seconds);
    /// Takes the entity's own skeleton back and plays the main loop on from the group's phase.
    void leaveSharedPose();
    /// Gives the entity its own skeleton back without playing anything on it (it is let go of).
    void letGoOfSharedPose();
    /// As leaveSharedPose, at the start of an update whose step the avatar's own states take.
    void leaveSharedPoseInFrame(float seconds);
    /// Whether the level lets the avatar show a group's pose now (sharing: it shows one).
    bool wantsSharedPose(bool sharing) const;

    Layer m_main;
    Layer m_prev;
    Layer m_overlay;
    Layer m_pose;
    bool m_paused = false;
    bool m_merge = false;
    bool m_staticPose = false;
    bool m_pendingPlay = false;
    float m_playSpeed = 1.0f;
    float m_pendingStart = 0.0f;
    float m_tickAccum = 0.0f;
    float m_tickTimeLimit = 0.0f;
    float m_step = 0.0f;
    Ogre::Entity* m_entity = nullptr;
    IInstance* m_owner = nullptr;
    IActionCallback* m_callback = nullptr;
    IActionCallback* m_pendingCallback = nullptr;
    AnimationType m_pendingType = ANIM_NONE;
    ANI_BLEND_TYPE m_pendingBlend = BLEND_SMOOTH;
    BodyPart m_mainPart = BODY_WHOLE;

    // Which movement speed scales the main animation, worked out once per main state.
    const Ogre::AnimationState* m_rateState = nullptr;
    RateKind m_rateKind = RATE_NONE;
    // The body split of the bound entity's skeleton, fetched when first needed.
    std::shared_ptr<const avatar_detail::BodyPartition> m_partition;
    unsigned m_partitionGeneration = 0;
    bool m_partitionChanged = false;
    std::vector<float> m_maskScratch;
    // The blend masks this controller put on the bound entity's states, as it last saw them.
    std::vector<std::pair<Ogre::AnimationState*, const std::vector<float>*>> m_masks;
    std::vector<Event> m_events;
    // The group whose pose the entity shows, or null.
    avatar_detail::PoseGroup* m_group = nullptr;
    int m_detail = 0;
    bool m_keepOwnPose = false;
    // What a leave inside an update takes back from the group's time: the group's step of this
    // frame, which the avatar's own states take after the play that made it leave.
    float m_leaveRewind = 0.0f;
    // How far the main loop's own phase is ahead of its state's time: what joining groups moved
    // it by, made good at the next join, so that it never strays more than half a bucket.
    float m_phaseDebt = 0.0f;
    unsigned m_statesGeneration = 0;
    int m_running = 0;
    int m_queueing = 0;
    bool m_retired = false;
};
