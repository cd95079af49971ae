// Animation as a host plays it through IInstance on the sample content pack: layers, fades, ticks,
// speeds and callbacks, and the upper/lower body split checked against poses the engine computes.
#include "avatarsystem/characterinstance.h"
#include "avatarsystem/creatureinstance.h"

#include "packsystem.h"
#include "contentpack.h"
#include "fakeinstance.h"
#include "hostrecorders.h"
#include "headlessogre.h"

#include <OgreAnimation.h>
#include <OgreAnimationState.h>
#include <OgreAnimationTrack.h>
#include <OgreBone.h>
#include <OgreEntity.h>
#include <OgreKeyFrame.h>
#include <OgreManualObject.h>
#include <OgreMesh.h>
#include <OgreMeshManager.h>
#include <OgreSceneManager.h>
#include <OgreSkeletonInstance.h>
#include <OgreSkeletonManager.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

// Rows of the pack's animation table.
const AnimationType kStand = AnimationType(0), kWalk = AnimationType(1), kRun = AnimationType(2),
                    kAttack1 = AnimationType(10), kAttack2 = AnimationType(11), kCast = AnimationType(12),
                    kDeath = AnimationType(20), kNod = AnimationType(30), kNodOverOverlay = AnimationType(31);

AnimationController& controllerOf(IInstance* avatar)
{
    return *static_cast<InstanceBase*>(avatar)->getAnimationController();
}

Ogre::AnimationState* stateOf(IInstance* avatar, const char* name)
{
    return avatar->getEntityPtr()->getAnimationState(name);
}

class Animation : public PackSystemTest
{
protected:
    void SetUp() override
    {
        PackSystemTest::SetUp();
        // A male body: at these speeds every rate is 1, so animation time is frame time.
        hero = system->createPlayer(std::string("Warrior"));
        ASSERT_NE(hero->getEntityPtr(), nullptr);
        hero->setSpeed(6.0f, 2.5f);
    }

    void play(AnimationType type, ANI_BLEND_TYPE blend = BLEND_IMMEDIATE, IActionCallback* callback = nullptr)
    {
        hero->playAnimation(type, blend, 0.0f, callback ? callback : &actions, true);
    }
    void ticks(int count, float seconds)
    {
        for (int i = 0; i < count; ++i)
            hero->update(true, seconds);
    }
    std::pair<float, float> layerWeights(const char* state)
    {
        std::pair<float, float> weights;
        controllerOf(hero).getLayerWeights(stateOf(hero, state), weights.first, weights.second);
        return weights;
    }

    IInstance* hero = nullptr;
    RecordingActions actions;
};

using Events = std::vector<std::string>;

TEST_F(Animation, smoothTakeoverFadesBySixPerSecondAndImmediateOrUnknownBlendsSwitchAtOnce)
{
    AnimationController& ctrl = controllerOf(hero);
    Ogre::AnimationState* stand = stateOf(hero, "Stand");
    Ogre::AnimationState* walk = stateOf(hero, "Walk");
    play(kStand);
    EXPECT_EQ(actions.take(), (Events{"stop 9999", "start 0 loop"}));

    play(kWalk, BLEND_SMOOTH);
    EXPECT_EQ(actions.take(), (Events{"stop 0", "start 1 loop"}));
    EXPECT_FLOAT_EQ(walk->getWeight(), 0.0f);
    EXPECT_FLOAT_EQ(stand->getWeight(), 1.0f);
    for (int tick = 1; tick <= 3; ++tick)
    {
        ticks(1, 0.05f);
        EXPECT_NEAR(walk->getWeight(), 0.3f * tick, 1e-5) << tick;
        EXPECT_NEAR(stand->getWeight(), 1.0f - 0.3f * tick, 1e-5) << tick;
        EXPECT_TRUE(stand->getEnabled());
    }
    ticks(1, 0.05f);
    EXPECT_FLOAT_EQ(walk->getWeight(), 1.0f);
    EXPECT_FALSE(stand->getEnabled()) << "the old loop goes once the new one reaches 1";
    EXPECT_EQ(ctrl.getPreviousState(), nullptr);

    play(kRun, BLEND_IMMEDIATE);
    EXPECT_FALSE(walk->getEnabled());
    EXPECT_FLOAT_EQ(stateOf(hero, "Run")->getWeight(), 1.0f);

    // A blend value the system does not know switches at once: no old state stays enabled untracked.
    play(kWalk, ANI_BLEND_TYPE(1));
    EXPECT_FALSE(stateOf(hero, "Run")->getEnabled());
    EXPECT_FLOAT_EQ(walk->getWeight(), 1.0f);
    EXPECT_EQ(ctrl.getPreviousState(), nullptr);
    actions.take();

    // The same loop again goes on untouched and only takes the new callback.
    ticks(1, 0.05f);
    const float time = walk->getTimePosition();
    RecordingActions other;
    play(kWalk, BLEND_SMOOTH, &other);
    EXPECT_FLOAT_EQ(walk->getTimePosition(), time);
    EXPECT_FLOAT_EQ(ctrl.getMainWeight(), 1.0f);
    EXPECT_TRUE(other.events.empty());
    hero->setActionCallBack(&other);
    play(kStand, BLEND_IMMEDIATE, &other);
    EXPECT_EQ(other.take(), (Events{"stop 1", "start 0 loop"}));
    EXPECT_TRUE(actions.events.empty());

    // Values far outside the enumerators are values all the same: a deferred play keeps such a
    // blend and switches at once; such a kind is simply not in the table.
    hero->playAnimation(kRun, ANI_BLEND_TYPE(-7), 0.0f, &other, false);
    ticks(1, 0.0f);
    EXPECT_FALSE(stand->getEnabled());
    EXPECT_FLOAT_EQ(stateOf(hero, "Run")->getWeight(), 1.0f);
    const AnimationType unknown = AnimationType(0x7fffffff);
    EXPECT_FALSE(hero->hasAnimation(unknown));
    hero->playAnimation(unknown, BLEND_SMOOTH, 0.0f, &other, true);
    EXPECT_EQ(hero->searchAnimation(0), kRun);
}

TEST_F(Animation, aPlayOnceMainEndsAtNinetyNinePercentAndHoldsItsLastFrame)
{
    Ogre::AnimationState* death = stateOf(hero, "Death");
    play(kStand);
    // Death has merge flag 0: its fade runs ten times faster.
    play(kDeath, BLEND_SMOOTH);
    ticks(1, 0.01f);
    EXPECT_NEAR(controllerOf(hero).getMainWeight(), 0.6f, 1e-5);
    EXPECT_NEAR(stateOf(hero, "Stand")->getWeight(), 0.4f, 1e-5);
    actions.take();

    // Length 1.5: the tick that begins at 1.5 (clamped, not wrapped) is the first at 99 %.
    int endedAt = 0;
    for (int tick = 1; tick <= 20 && endedAt == 0; ++tick)
    {
        ticks(1, 0.1f);
        if (!actions.events.empty())
            endedAt = tick;
    }
    EXPECT_EQ(endedAt, 16);
    EXPECT_EQ(actions.take(), (Events{"end 20 part 0", "stop 20"}));
    EXPECT_EQ(hero->searchAnimation(0), ANIM_NONE);
    EXPECT_TRUE(death->getEnabled());
    EXPECT_FLOAT_EQ(death->getTimePosition(), death->getLength());
    ticks(3, 0.1f);
    EXPECT_TRUE(actions.events.empty()) << "an ended animation reports once";

    // Played again it restarts at once, whatever blend was asked for.
    play(kDeath, BLEND_SMOOTH);
    EXPECT_EQ(actions.take(), (Events{"stop 9999", "start 20 once"}));
    EXPECT_FLOAT_EQ(death->getTimePosition(), 0.0f);
    EXPECT_FLOAT_EQ(death->getWeight(), 1.0f);
    EXPECT_EQ(controllerOf(hero).getPreviousState(), nullptr);
}

TEST_F(Animation, anUpperBodyOverlayRisesFadesAfterNinetyPercentAndEndsWithPartTwo)
{
    play(kWalk);
    play(kAttack1);
    EXPECT_EQ(actions.take(), (Events{"stop 9999", "start 1 loop", "start 10 once"}));
    ticks(1, 0.05f);
    EXPECT_EQ(layerWeights("Attack1"), std::make_pair(0.3f, 0.0f));
    EXPECT_NEAR(layerWeights("Walk").first, 0.7f, 1e-6) << "the main loop's upper weight is 1 - the overlay's";
    EXPECT_EQ(layerWeights("Walk").second, 1.0f);
    EXPECT_EQ(hero->searchAnimation(0), ANIM_NONE);
    EXPECT_EQ(hero->searchAnimation(1), kWalk);
    EXPECT_EQ(hero->searchAnimation(2), kAttack1);

    // Length 0.8: rises to 1 by the fourth tick, falls in the tick that begins past 90 %
    // (at 0.75), and ends in the next, which begins at its last frame.
    ticks(14, 0.05f);
    EXPECT_FLOAT_EQ(controllerOf(hero).getOverlayWeight(), 1.0f);
    ticks(1, 0.05f);
    EXPECT_NEAR(controllerOf(hero).getOverlayWeight(), 0.7f, 1e-5);
    EXPECT_TRUE(actions.events.empty());
    ticks(1, 0.05f);
    EXPECT_EQ(actions.take(), (Events{"end 10 part 2", "stop 10"}));
    EXPECT_FALSE(stateOf(hero, "Attack1")->getEnabled());
    EXPECT_EQ(hero->searchAnimation(2), kWalk) << "no overlay: every layer answers the main animation";
    EXPECT_EQ(layerWeights("Walk"), std::make_pair(1.0f, 1.0f));

    // Attack2 has merge flag 0: a ten times faster fade.
    play(kAttack2);
    ticks(1, 0.01f);
    EXPECT_NEAR(controllerOf(hero).getOverlayWeight(), 0.6f, 1e-5);

    // A whole-body animation drops the overlay with a stop.
    actions.take();
    play(kStand);
    EXPECT_EQ(actions.take(), (Events{"stop 11", "stop 1", "start 0 loop"}));
    EXPECT_FALSE(controllerOf(hero).isOverlayActive());
}

TEST_F(Animation, speedRatesTickLimitDeferredPlayAndPause)
{
    struct Case
    {
        AnimationType type;
        const char* state;
        float run, walk, expectedTime;
    };
    // Male reference speeds: run 6, walk 2.5.
    for (const Case& c : {Case{kRun, "Run", 12.0f, 2.5f, 0.2f}, Case{kWalk, "Walk", 6.0f, 5.0f, 0.2f},
                          Case{kStand, "Stand", 12.0f, 5.0f, 0.1f}})
    {
        SCOPED_TRACE(c.state);
        hero->setSpeed(c.run, c.walk);
        play(c.type);
        ticks(1, 0.1f);
        EXPECT_NEAR(stateOf(hero, c.state)->getTimePosition(), c.expectedTime, 1e-5);
    }
    hero->setSpeed(6.0f, 2.5f);

    // Limit 0.1 with frames of 0.04: the third and sixth frames are processed, by their own 0.04.
    play(kWalk);
    Ogre::AnimationState* walk = stateOf(hero, "Walk");
    hero->setTickTimeLimit(0.1f);
    const float expected[] = {0.0f, 0.0f, 0.04f, 0.04f, 0.04f, 0.08f};
    for (float time : expected)
    {
        ticks(1, 0.04f);
        EXPECT_NEAR(walk->getTimePosition(), time, 1e-6);
    }
    hero->setTickTimeLimit(0.0f);
    // Frame times that are not numbers or infinite move nothing and leave later frames working.
    for (float broken : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()})
        ticks(1, broken);
    ticks(1, 0.04f);
    EXPECT_NEAR(walk->getTimePosition(), 0.12f, 1e-6);

    // A deferred play starts at the beginning of the next update, before its step.
    hero->playAnimation(kRun, BLEND_IMMEDIATE, 0.0f, &actions, false);
    EXPECT_EQ(hero->searchAnimation(0), kRun) << "the deferred type is what the host asked for";
    EXPECT_FALSE(stateOf(hero, "Run")->getEnabled());
    ticks(1, 0.05f);
    EXPECT_NEAR(stateOf(hero, "Run")->getTimePosition(), 0.05f, 1e-6);

    // Paused: plays and updates are ignored, a deferred play waits.
    hero->setPause(true);
    play(kStand);
    hero->playAnimation(kWalk, BLEND_IMMEDIATE, 0.0f, &actions, false);
    ticks(2, 0.05f);
    EXPECT_NEAR(stateOf(hero, "Run")->getTimePosition(), 0.05f, 1e-6);
    EXPECT_FALSE(stateOf(hero, "Stand")->getEnabled());
    hero->setPause(false);
    ticks(1, 0.05f);
    EXPECT_EQ(hero->searchAnimation(0), kWalk);
    EXPECT_NEAR(walk->getTimePosition(), 0.05f, 1e-6);
}

TEST_F(Animation, poseStillPoseAndLayersByNumber)
{
    Ogre::SkeletonInstance* skeleton = hero->getEntityPtr()->getSkeleton();
    play(kWalk);
    play(kNod);
    EXPECT_EQ(actions.take(), (Events{"stop 9999", "start 1 loop", "start 30 once"}));
    EXPECT_EQ(hero->searchAnimation(3), kWalk) << "the pose is not a layer searchAnimation reports";
    ticks(1, 0.05f);
    EXPECT_EQ(skeleton->getBlendMode(), Ogre::ANIMBLEND_CUMULATIVE) << "a pose adds to the pose below it";
    EXPECT_NEAR(controllerOf(hero).getPoseWeight(), 0.3f, 1e-6);
    // Length 0.8: ends in the tick that begins at its last frame, with a stop and no end event.
    ticks(15, 0.05f);
    EXPECT_TRUE(actions.events.empty());
    ticks(1, 0.05f);
    EXPECT_EQ(actions.take(), (Events{"stop 30"}));
    EXPECT_EQ(skeleton->getBlendMode(), Ogre::ANIMBLEND_AVERAGE);
    EXPECT_EQ(controllerOf(hero).getPoseState(), nullptr);

    play(kNod);
    ticks(1, 0.05f);
    hero->clearAnimation(3);
    EXPECT_FALSE(stateOf(hero, "Pose_Nod")->getEnabled());
    EXPECT_EQ(skeleton->getBlendMode(), Ogre::ANIMBLEND_AVERAGE);

    // Layers 1 and 2 only exist under an overlay.
    play(kCast);
    ticks(1, 0.05f);
    actions.take();
    EXPECT_EQ(hero->searchAnimation(0), ANIM_NONE);
    EXPECT_EQ(hero->searchAnimation(3), ANIM_NONE);
    hero->clearAnimation(0);
    EXPECT_TRUE(stateOf(hero, "Walk")->getEnabled()) << "layer 0 is not cleared under an overlay";
    hero->clearAnimation(1);
    EXPECT_FALSE(stateOf(hero, "Walk")->getEnabled());
    EXPECT_EQ(hero->searchAnimation(0), kCast) << "the overlay became the main animation";
    EXPECT_EQ(controllerOf(hero).getMainWeight(), 0.0f);
    ticks(1, 0.05f);
    EXPECT_NEAR(controllerOf(hero).getMainWeight(), 0.3f, 1e-6) << "and fades in";
    hero->clearAnimation(2);
    EXPECT_TRUE(stateOf(hero, "Cast")->getEnabled()) << "no overlay to clear";
    hero->clearAnimation(0);
    EXPECT_FALSE(stateOf(hero, "Cast")->getEnabled());
    EXPECT_EQ(hero->searchAnimation(1), ANIM_NONE);
    EXPECT_TRUE(actions.events.empty()) << "clearing reports nothing";

    // A lower-body animation under an upper-body main one keeps that one as the overlay.
    play(kCast);
    play(kWalk);
    EXPECT_EQ(actions.take(), (Events{"stop 9999", "start 12 loop", "start 1 loop"}));
    EXPECT_EQ(hero->searchAnimation(1), kWalk);
    EXPECT_EQ(hero->searchAnimation(2), kCast);
    EXPECT_FLOAT_EQ(controllerOf(hero).getOverlayWeight(), 1.0f);
    hero->clearAnimation(2);
    EXPECT_FALSE(stateOf(hero, "Cast")->getEnabled());

    // A still pose holds its frame through updates, reports nothing and keeps the main type.
    hero->playStatic(kDeath, 0.5f);
    Ogre::AnimationState* death = stateOf(hero, "Death");
    ticks(3, 0.1f);
    EXPECT_NEAR(death->getTimePosition(), 0.5f * 1.5f * 0.99f, 1e-6);
    EXPECT_FALSE(stateOf(hero, "Walk")->getEnabled());
    EXPECT_EQ(hero->searchAnimation(0), kWalk);
    EXPECT_TRUE(actions.events.empty());
    play(kStand);
    ticks(1, 0.1f);
    EXPECT_FALSE(controllerOf(hero).isStaticPose());
    EXPECT_NEAR(stateOf(hero, "Stand")->getTimePosition(), 0.1f, 1e-6) << "the time held still is not made up";
}

TEST_F(Animation, instanceOperationsOfBothKinds)
{
    IInstance* wolf = system->createCreature(std::string("Grey Wolf"));
    ASSERT_NE(wolf->getEntityPtr(), nullptr);
    EXPECT_STREQ(wolf->getAnimName(kWalk), "") << "a creature names no animation";
    EXPECT_STREQ(hero->getAnimName(kWalk), "Walk");
    EXPECT_STREQ(hero->getAnimName(AnimationType(999)), "");
    EXPECT_TRUE(wolf->hasAnimation(kRun));
    EXPECT_FALSE(wolf->hasAnimation(kCast)) << "a quadruped has no Cast";

    // The manual pause starts set on a creature and clear on a character.
    wolf->changePausePropety();
    EXPECT_FALSE(controllerOf(wolf).isPaused());
    hero->changePausePropety();
    EXPECT_TRUE(controllerOf(hero).isPaused());
    hero->changePausePropety();

    // States by index in name order, played at once by name and stepped by hand.
    auto* base = static_cast<InstanceBase*>(hero);
    base->initAnimation();
    const Ogre::AnimationStateMap& states = hero->getEntityPtr()->getAllAnimationStates()->getAnimationStates();
    const int walkIndex = static_cast<int>(std::distance(states.begin(), states.find("Walk")));
    play(kStand);
    hero->setNewAimationState(walkIndex, true);
    EXPECT_EQ(hero->searchAnimation(0), kWalk);
    EXPECT_EQ(controllerOf(hero).getMainWeight(), 0.0f) << "smooth: a cross-fade from Stand";
    hero->setNewAimationState(walkIndex, false);
    hero->setNewAimationState(static_cast<int>(states.size()), false);
    hero->setNewAimationState(-1, false);
    EXPECT_EQ(controllerOf(hero).getMainState(), stateOf(hero, "Walk"));
    hero->setAnimationPlaySpeed(2.0f);
    hero->animationAddTime(0.25f);
    EXPECT_NEAR(stateOf(hero, "Walk")->getTimePosition(), 0.5f, 1e-6);

    // A destroyed avatar forgets the states of the body it gave back to the pool.
    play(kCast);
    play(kNod);
    ticks(2, 0.05f);
    Ogre::Entity* body = hero->getEntityPtr();
    system->destroyInstance(hero->getUniqueID());
    ASSERT_EQ(CharacterInstance::s_maleEntityPool.back(), body);
    for (const auto& entry : states)
    {
        SCOPED_TRACE(entry.first);
        EXPECT_FALSE(entry.second->getEnabled());
        EXPECT_FLOAT_EQ(entry.second->getWeight(), 1.0f);
        EXPECT_FALSE(entry.second->hasBlendMask());
        EXPECT_FLOAT_EQ(entry.second->getTimePosition(), 0.0f);
    }
    EXPECT_EQ(body->getSkeleton()->getBlendMode(), Ogre::ANIMBLEND_AVERAGE);
    IInstance* next = system->createPlayer(std::string("Warrior"));
    ASSERT_EQ(next->getEntityPtr(), body);
    next->playAnimation(kWalk, BLEND_IMMEDIATE, 0.0f, nullptr, true);
    hero->animationAddTime(1.0f);
    hero->setNewAimationState(walkIndex, false);
    EXPECT_FLOAT_EQ(stateOf(next, "Walk")->getTimePosition(), 0.0f) << "the old avatar moves nothing";
    delete static_cast<CharacterInstance*>(hero);
}

TEST_F(Animation, typesFarBeyondTheEnumeratorsAreTypesThatPlayNothing)
{
    // The host passes whatever its table's AnimType column holds, 9999 and beyond.
    play(kWalk);
    for (const unsigned value : {16384u, 37000u, 0xFFFFFFFFu})
    {
        const AnimationType type = static_cast<AnimationType>(value);
        EXPECT_EQ(static_cast<unsigned>(type), value);
        hero->playAnimation(type, BLEND_IMMEDIATE, 0.0f, &actions, true);
        hero->playAnimation(type, BLEND_SMOOTH, 0.0f, &actions, false);
        hero->playStatic(type, 0.5f);
        EXPECT_FALSE(hero->hasAnimation(type));
        EXPECT_STREQ(hero->getAnimName(type), "");
        ticks(1, 0.05f);
        EXPECT_EQ(hero->searchAnimation(0), kWalk) << value;
    }
}

/// A host that chains animations and removes corpses from within its callbacks, and throws on a start.
class ReactingHost final : public IActionCallback
{
public:
    void onAnimationEnd(AnimationType type, int) override
    {
        if (type == kAttack1)
            avatar->playAnimation(kCast, BLEND_SMOOTH, 0.0f, this, true);
        if (type == kDeath)
            IAvatarSystem::getSingletonPtr()->destroyInstance(avatar->getUniqueID());
    }
    void onAnimationState(AnimationType type, bool stopped, bool) override
    {
        if (type == kRun && !stopped)
            throw std::runtime_error("the host's own failure");
    }
    IInstance* avatar = nullptr;
};

TEST_F(Animation, theHostMayPlayOrDestroyFromItsCallbacks)
{
    ReactingHost host;
    host.avatar = hero;
    play(kWalk, BLEND_IMMEDIATE, &host);
    play(kAttack1, BLEND_IMMEDIATE, &host);
    ticks(20, 0.05f);
    EXPECT_EQ(hero->searchAnimation(2), kCast) << "the next overlay, played when the attack ended";
    EXPECT_TRUE(stateOf(hero, "Cast")->getEnabled());

    EXPECT_NO_THROW(play(kRun, BLEND_IMMEDIATE, &host));
    EXPECT_EQ(hero->searchAnimation(1), kRun);

    play(kDeath, BLEND_IMMEDIATE, &host);
    ticks(20, 0.1f);
    EXPECT_EQ(hero->getEntityPtr(), nullptr) << "destroyed when the death ended";
    EXPECT_EQ(manager->getInstance(static_cast<unsigned>(hero->getUniqueID())), nullptr);
    ticks(2, 0.1f);
    delete static_cast<CharacterInstance*>(hero);
}

TEST(AnimationEngine, eachEntityOwnsTheBlendModeOfItsSkeleton)
{
    ContentDir content;
    Ogre::SceneManager* scene = HeadlessOgre::sceneManager();
    Ogre::Entity* one = scene->createEntity("HumanMale.mesh");
    Ogre::Entity* two = scene->createEntity("HumanMale.mesh");
    one->getSkeleton()->setBlendMode(Ogre::ANIMBLEND_CUMULATIVE);
    EXPECT_EQ(two->getSkeleton()->getBlendMode(), Ogre::ANIMBLEND_AVERAGE);
    scene->destroyEntity(one);
    scene->destroyEntity(two);
}

// --- The upper/lower body split against poses the engine computes -----------------------------

/// A state of a reference entity: name, time position, weight.
struct Layer
{
    std::string name;
    float time;
    float weight;
};

/// Each bone's orientation and position relative to its parent.
struct Pose
{
    std::vector<Ogre::Quaternion> orientations;
    std::vector<Ogre::Vector3> positions;
};

Pose poseOf(Ogre::Entity* entity)
{
    Ogre::SkeletonInstance* skeleton = entity->getSkeleton();
    skeleton->setAnimationState(*entity->getAllAnimationStates());
    Pose pose;
    for (Ogre::Bone* bone : skeleton->getBones())
    {
        pose.orientations.push_back(bone->getOrientation());
        pose.positions.push_back(bone->getPosition());
    }
    return pose;
}

/// The pose a fresh entity of the same mesh takes with only these states, enabled in this order, no masks.
Pose referencePose(Ogre::Entity* like, const std::vector<Layer>& layers,
                   Ogre::SkeletonAnimationBlendMode mode = Ogre::ANIMBLEND_AVERAGE)
{
    Ogre::SceneManager* scene = HeadlessOgre::sceneManager();
    Ogre::Entity* reference = scene->createEntity(like->getMesh());
    reference->getSkeleton()->setBlendMode(mode);
    for (const Layer& layer : layers)
    {
        Ogre::AnimationState* state = reference->getAnimationState(layer.name);
        state->setTimePosition(layer.time);
        state->setWeight(layer.weight);
        state->setEnabled(true);
    }
    Pose pose = poseOf(reference);
    scene->destroyEntity(reference);
    return pose;
}

/// Bone handles of the subtree of root (upper) or outside it (lower).
std::vector<unsigned short> bonesOf(Ogre::Entity* entity, const std::string& root, bool upper)
{
    std::vector<unsigned short> handles;
    Ogre::SkeletonInstance* skeleton = entity->getSkeleton();
    for (Ogre::Bone* bone : skeleton->getBones())
    {
        bool inside = false;
        for (Ogre::Node* node = bone; node && !inside; node = node->getParent())
            inside = node->getName() == root;
        if (inside == upper)
            handles.push_back(bone->getHandle());
    }
    return handles;
}

void expectSamePose(const Pose& actual, const Pose& expected, const std::vector<unsigned short>& bones,
                    const char* what)
{
    SCOPED_TRACE(what);
    int moved = 0;
    for (unsigned short b : bones)
    {
        Ogre::Quaternion q = actual.orientations[b], r = expected.orientations[b];
        if (q.Dot(r) < 0)
            r = -r;
        for (int i = 0; i < 4; ++i)
            EXPECT_NEAR(q[i], r[i], 1e-4) << "bone " << b;
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(actual.positions[b][i], expected.positions[b][i], 1e-4) << "bone " << b;
        if (!expected.orientations[b].equals(Ogre::Quaternion::IDENTITY, Ogre::Degree(0.5f)))
            ++moved;
    }
    EXPECT_GT(moved, 0) << "the compared bones move in the reference: the check has teeth";
}

/// The states of entity enabled now, in the order OGRE applies them, with their times.
std::vector<Layer> enabledLayers(Ogre::Entity* entity)
{
    std::vector<Layer> layers;
    for (const Ogre::AnimationState* state : entity->getAllAnimationStates()->getEnabledAnimationStates())
        layers.push_back({state->getAnimationName(), state->getTimePosition(), 0.0f});
    return layers;
}

float timeOf(const std::vector<Layer>& layers, const std::string& name)
{
    for (const Layer& layer : layers)
        if (layer.name == name)
            return layer.time;
    return -1.0f;
}

/// Plays main (a lower-body loop) and overlay (an upper-body loop) through controller on entity
/// and checks every bone against reference entities: mid-fade, at full overlay weight, and with
/// an additive pose on top.
void checkSplit(AnimationController& controller, Ogre::Entity* entity, const std::string& upperRoot, AnimationType main,
                AnimationType overlay, AnimationType poseType)
{
    const std::string mainName = controller.getAnimName(main), overlayName = controller.getAnimName(overlay);
    const std::vector<unsigned short> upper = bonesOf(entity, upperRoot, true),
                                      lower = bonesOf(entity, upperRoot, false);
    ASSERT_FALSE(upper.empty());
    ASSERT_FALSE(lower.empty());

    controller.play(main, BLEND_IMMEDIATE, 0.0f, nullptr);
    controller.update(true, 0.13f);
    controller.play(overlay, BLEND_SMOOTH, 0.0f, nullptr);
    controller.update(true, 0.07f);
    ASSERT_NEAR(controller.getOverlayWeight(), 0.42f, 1e-5);
    std::vector<Layer> now = enabledLayers(entity);
    const float ow = controller.getOverlayWeight();
    Pose pose = poseOf(entity);
    expectSamePose(pose, referencePose(entity, {{mainName, timeOf(now, mainName), 1.0f}}), lower,
                   "mid-fade, lower body: the main animation alone");
    expectSamePose(pose,
                   referencePose(entity, {{mainName, timeOf(now, mainName), 1.0f - ow},
                                          {overlayName, timeOf(now, overlayName), ow}}),
                   upper, "mid-fade, upper body: both states at their weights");

    controller.update(true, 0.2f);
    ASSERT_FLOAT_EQ(controller.getOverlayWeight(), 1.0f);
    now = enabledLayers(entity);
    pose = poseOf(entity);
    expectSamePose(pose, referencePose(entity, {{mainName, timeOf(now, mainName), 1.0f}}), lower,
                   "full overlay, lower body: the main animation alone");
    expectSamePose(pose, referencePose(entity, {{overlayName, timeOf(now, overlayName), 1.0f}}), upper,
                   "full overlay, upper body: the overlay alone");

    if (poseType == ANIM_NONE)
        return;
    controller.play(poseType, BLEND_SMOOTH, 0.0f, nullptr);
    ASSERT_TRUE(controller.isOverlayActive());
    controller.update(true, 0.1f);
    const float pw = controller.getPoseWeight();
    ASSERT_GT(pw, 0.0f);
    now = enabledLayers(entity);
    std::vector<Layer> upperLayers, lowerLayers;
    for (const Layer& layer : now)
    {
        const bool isMain = layer.name == mainName, isOverlay = layer.name == overlayName;
        upperLayers.push_back({layer.name, layer.time, isMain ? 0.0f : isOverlay ? 1.0f : pw});
        lowerLayers.push_back({layer.name, layer.time, isMain ? 1.0f : isOverlay ? 0.0f : pw});
    }
    pose = poseOf(entity);
    expectSamePose(pose, referencePose(entity, lowerLayers, Ogre::ANIMBLEND_CUMULATIVE), lower,
                   "pose on top, lower body");
    expectSamePose(pose, referencePose(entity, upperLayers, Ogre::ANIMBLEND_CUMULATIVE), upper,
                   "pose on top, upper body");
}

TEST_F(Animation, theSplitOnThePackRigMatchesReferencePoses)
{
    Ogre::Entity* entity = hero->getEntityPtr();
    EXPECT_EQ(manager->getUpperBodyRootBone(entity), "spine") << "the default needs no configuration";
    checkSplit(controllerOf(hero), entity, "spine", kWalk, kCast, kNodOverOverlay);
}

/// A humanoid mesh built in code with its own bone names, and animations named as the pack's
/// table names them: "Walk" moves legs, hips and arms, "Cast" the torso and arms, "Pose_Nod" the head.
class CodeRig
{
public:
    struct Bone
    {
        const char* name;
        const char* parent;
    };
    struct Motion
    {
        const char* animation;
        const char* bone;
        float degrees;
    };

    CodeRig(const std::string& name, const std::vector<Bone>& bones, const std::vector<Motion>& motions)
        : m_mesh(name + ".mesh"), m_skeleton(name + ".skeleton")
    {
        const std::string group = Ogre::ResourceGroupManager::DEFAULT_RESOURCE_GROUP_NAME;
        Ogre::SkeletonPtr skeleton = Ogre::SkeletonManager::getSingleton().create(m_skeleton, group, true);
        skeleton->load();
        for (const Bone& bone : bones)
        {
            Ogre::Bone* made = skeleton->createBone(bone.name);
            if (bone.parent)
            {
                skeleton->getBone(bone.parent)->addChild(made);
                made->setPosition(0.1f, 0.2f, 0.0f);
            }
        }
        for (const char* animation : {"Walk", "Cast", "Pose_Nod"})
        {
            Ogre::Animation* anim = skeleton->createAnimation(animation, 1.0f);
            for (const Motion& motion : motions)
            {
                if (std::string(motion.animation) != animation)
                    continue;
                // A skeleton animation's track handle is the handle of the bone it moves.
                Ogre::Bone* bone = skeleton->getBone(motion.bone);
                Ogre::NodeAnimationTrack* t = anim->createNodeTrack(bone->getHandle(), bone);
                t->createNodeKeyFrame(0.0f);
                Ogre::TransformKeyFrame* mid = t->createNodeKeyFrame(0.5f);
                mid->setRotation(
                    Ogre::Quaternion(Ogre::Degree(motion.degrees), Ogre::Vector3(1, 0.3f, 0).normalisedCopy()));
                mid->setTranslate(Ogre::Vector3(0, motion.degrees / 1000.0f, 0));
                t->createNodeKeyFrame(1.0f);
            }
        }
        skeleton->setBindingPose();

        Ogre::SceneManager* scene = HeadlessOgre::sceneManager();
        Ogre::ManualObject* manual = scene->createManualObject();
        manual->begin("BaseWhite", Ogre::RenderOperation::OT_TRIANGLE_LIST);
        manual->position(0, 0, 0);
        manual->position(1, 0, 0);
        manual->position(0, 1, 0);
        manual->triangle(0, 1, 2);
        manual->end();
        manual->convertToMesh(m_mesh, group)->setSkeletonName(m_skeleton);
        scene->destroyManualObject(manual);
        entity = scene->createEntity(m_mesh);
    }
    ~CodeRig()
    {
        // Blend masks are not freed with their entity.
        for (const auto& state : entity->getAllAnimationStates()->getAnimationStates())
            state.second->destroyBlendMask();
        HeadlessOgre::sceneManager()->destroyEntity(entity);
        const std::string group = Ogre::ResourceGroupManager::DEFAULT_RESOURCE_GROUP_NAME;
        Ogre::MeshManager::getSingleton().remove(m_mesh, group);
        Ogre::SkeletonManager::getSingleton().remove(m_skeleton, group);
    }
    const std::string& skeletonName() const { return m_skeleton; }

    Ogre::Entity* entity = nullptr;

private:
    std::string m_mesh;
    std::string m_skeleton;
};

TEST_F(Animation, theSplitOnRigsWithOtherBoneNamesChoosesTheTorsoOrTheHostsBone)
{
    FakeInstance::Log log;
    FakeInstance owner(log);
    {
        SCOPED_TRACE("a two-legged rig whose legs hang from the first spine bone");
        CodeRig rig("BipedRig",
                    {{"Bip01", nullptr},
                     {"Bip01 Pelvis", "Bip01"},
                     {"Bip01 Spine", "Bip01 Pelvis"},
                     {"Bip01 L Thigh", "Bip01 Spine"},
                     {"Bip01 R Thigh", "Bip01 Spine"},
                     {"Bip01 Spine1", "Bip01 Spine"},
                     {"Bip01 Neck", "Bip01 Spine1"},
                     {"Bip01 Head", "Bip01 Neck"},
                     {"Bip01 L UpperArm", "Bip01 Spine1"},
                     {"Bip01 R UpperArm", "Bip01 Spine1"}},
                    {{"Walk", "Bip01 L Thigh", 30},
                     {"Walk", "Bip01 R Thigh", -30},
                     {"Walk", "Bip01 Pelvis", 5},
                     {"Walk", "Bip01 L UpperArm", 20},
                     {"Cast", "Bip01 Spine1", 10},
                     {"Cast", "Bip01 L UpperArm", -100},
                     {"Cast", "Bip01 R UpperArm", -90},
                     {"Pose_Nod", "Bip01 Head", 25}});
        EXPECT_EQ(manager->getUpperBodyRootBone(rig.entity), "Bip01 Spine1");
        AnimationController controller;
        controller.setOwner(&owner);
        controller.setEntity(rig.entity);
        checkSplit(controller, rig.entity, "Bip01 Spine1", kWalk, kCast, kNodOverOverlay);
    }
    {
        SCOPED_TRACE("a rig whose names tell nothing, split where the host says");
        CodeRig rig(
            "OddRig",
            {{"b0", nullptr}, {"b1", "b0"}, {"b2", "b1"}, {"b3", "b1"}, {"b4", "b2"}, {"b5", "b4"}, {"b6", "b4"}},
            {{"Walk", "b3", 40},
             {"Walk", "b1", 8},
             {"Walk", "b5", 15},
             {"Cast", "b5", -80},
             {"Cast", "b6", -70},
             {"Cast", "b2", 12}});
        EXPECT_EQ(manager->getUpperBodyRootBone(rig.entity), "") << "no torso, head or arm by name";
        manager->setUpperBodyRootBone(rig.skeletonName(), "b2");
        EXPECT_EQ(manager->getUpperBodyRootBone(rig.entity), "b2");
        AnimationController controller;
        controller.setOwner(&owner);
        controller.setEntity(rig.entity);
        checkSplit(controller, rig.entity, "b2", kWalk, kCast, ANIM_NONE);
        manager->setUpperBodyRootBone(rig.skeletonName(), "");
        EXPECT_EQ(manager->getUpperBodyRootBone(rig.entity), "");
    }
}

} // namespace
