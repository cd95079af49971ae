// The animation controller as a hostile host drives it: listeners replaced or deleted from within
// callbacks, the avatar destroyed, deleted or the whole system released from within them, two
// rows naming one animation on different layers, bodies the host destroys itself. Then a seeded
// random host that reads the controller's invariants back through the engine after every step.
#include "avatarsystem/characterinstance.h"

#include "contentpack.h"
#include "headlessogre.h"
#include "packcatalog.h"
#include "packsystem.h"

#include <OgreAnimationState.h>
#include <OgreBone.h>
#include <OgrePass.h>
#include <OgreEntity.h>
#include <OgreSceneManager.h>
#include <OgreSkeletonInstance.h>
#include <OgreTagPoint.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <limits>
#include <malloc.h>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>

namespace
{

const AnimationType kStand = AnimationType(0), kWalk = AnimationType(1), kAttack1 = AnimationType(10),
                    kCast = AnimationType(12), kDeath = AnimationType(20);
// Rows the shared-names table adds: each names an animation another row plays on another layer.
const AnimationType kWholeAttack = AnimationType(40), kLowerCast = AnimationType(41), kUpperWalk = AnimationType(42),
                    kUpperDeath = AnimationType(43), kWholeNod = AnimationType(44);

/// A host's listener that records what it hears and what it does when "deleted": the host lets
/// go of it, but it stays allocated, so that a call reaching it counts instead of corrupting memory.
class Listener final : public IActionCallback
{
public:
    void onAnimationEnd(AnimationType type, int part) override
    {
        hear("end " + std::to_string(type) + " part " + std::to_string(part));
    }
    void onAnimationState(AnimationType type, bool stopped, bool looping) override
    {
        hear((stopped ? "stop " : "start ") + std::to_string(type) + (stopped ? "" : looping ? " loop" : " once"));
    }
    void markDeleted() { m_deleted = true; }
    bool isDeleted() const { return m_deleted; }

    std::vector<std::string> events;
    std::function<void(Listener&, const std::string&)> react;
    /// Calls that reached listeners after their deletion, in the whole process.
    static int s_callsToDeleted;

private:
    void hear(const std::string& event)
    {
        if (m_deleted)
        {
            ++s_callsToDeleted;
            return;
        }
        events.push_back(event);
        if (react)
            react(*this, event);
    }
    bool m_deleted = false;
};
int Listener::s_callsToDeleted = 0;

bool startsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

AnimationController& controllerOf(IInstance* avatar)
{
    return *static_cast<InstanceBase*>(avatar)->getAnimationController();
}

/// What each bone receives from the entity's enabled states other than skip, by the engine's own
/// numbers: state weight times blend-mask entry, divided as the skeleton's blend mode divides.
std::vector<float> boneTotals(Ogre::Entity* entity, const Ogre::AnimationState* skip)
{
    Ogre::SkeletonInstance* skeleton = entity->getSkeleton();
    float sum = 0.0f;
    for (const Ogre::AnimationState* state : entity->getAllAnimationStates()->getEnabledAnimationStates())
        sum += state->getWeight();
    const float factor = skeleton->getBlendMode() == Ogre::ANIMBLEND_AVERAGE && sum > 1.0f ? 1.0f / sum : 1.0f;
    std::vector<float> totals(skeleton->getNumBones(), 0.0f);
    for (const Ogre::AnimationState* state : entity->getAllAnimationStates()->getEnabledAnimationStates())
    {
        if (state == skip)
            continue;
        for (std::size_t b = 0; b < totals.size(); ++b)
            totals[b] += state->getWeight() * factor * (state->hasBlendMask() ? state->getBlendMaskEntry(b) : 1.0f);
    }
    return totals;
}

/// The bones whose total is not 1, by name, or empty.
std::string bonesOffOne(Ogre::Entity* entity, const Ogre::AnimationState* skip)
{
    const std::vector<float> totals = boneTotals(entity, skip);
    std::string off;
    for (std::size_t b = 0; b < totals.size(); ++b)
        if (std::fabs(totals[b] - 1.0f) > 2e-3f)
            off += entity->getSkeleton()->getBone(static_cast<unsigned short>(b))->getName() + "=" +
                   std::to_string(totals[b]) + " ";
    return off;
}

/// The pack's tables in a directory of their own, with rows added to the animation table that
/// name the pack's animations a second time on other layers. The current directory while it lives.
class SharedNamesDir
{
public:
    SharedNamesDir()
    {
        char pattern[] = "/tmp/avatar-shared-names-XXXXXX";
        if (!mkdtemp(pattern))
            throw std::runtime_error("cannot make a directory");
        m_dir = pattern;
        const std::string pack = ContentDir::path();
        DIR* dir = opendir(pack.c_str());
        while (dirent* entry = dir ? readdir(dir) : nullptr)
        {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".csv") == 0 && name != "Animation.csv")
                if (symlink((pack + "/" + name).c_str(), (m_dir + "/" + name).c_str()) == 0)
                    m_files.push_back(name);
        }
        if (dir)
            closedir(dir);
        std::ifstream in(pack + "/Animation.csv");
        std::stringstream table;
        table << in.rdbuf();
        std::string text = table.str();
        if (!text.empty() && text.back() != '\n')
            text += '\n';
        text += "40,1,0,Attack1,1,whole-body swing\n"
                "41,0,1,Cast,1,lower-body cast\n"
                "42,0,2,Walk,1,upper-body walk\n"
                "43,1,2,Death,0,upper-body fall\n"
                "44,1,0,Pose_Nod,1,whole-body nod\n";
        std::ofstream(m_dir + "/Animation.csv") << text;
        m_files.push_back("Animation.csv");
        char cwd[4096];
        m_previous = getcwd(cwd, sizeof(cwd)) ? cwd : ContentDir::path();
        if (chdir(m_dir.c_str()) != 0)
            throw std::runtime_error("cannot enter " + m_dir);
    }
    ~SharedNamesDir()
    {
        if (chdir(m_previous.c_str()) != 0)
            std::abort();
        for (const std::string& file : m_files)
            std::remove((m_dir + "/" + file).c_str());
        rmdir(m_dir.c_str());
    }

private:
    std::string m_dir;
    std::string m_previous;
    std::vector<std::string> m_files;
};

class HostileAnimation : public PackSystemTest
{
protected:
    void SetUp() override
    {
        PackSystemTest::SetUp();
        Listener::s_callsToDeleted = 0;
        hero = system->createPlayer(std::string("Warrior"));
        ASSERT_NE(hero->getEntityPtr(), nullptr);
        hero->setSpeed(6.0f, 2.5f);
    }
    void play(AnimationType type, ANI_BLEND_TYPE blend, IActionCallback* callback = nullptr)
    {
        hero->playAnimation(type, blend, 0.0f, callback, true);
    }
    void ticks(int count, float seconds)
    {
        for (int i = 0; i < count && hero; ++i)
            hero->update(true, seconds);
    }
    Ogre::AnimationState* stateOf(const char* name) { return hero->getEntityPtr()->getAnimationState(name); }

    IInstance* hero = nullptr;
};

TEST_F(HostileAnimation, aListenerReplacedOrClearedFromACallbackOrBeforeADeferredPlayIsNeverCalledAgain)
{
    enum Way
    {
        SET_ANOTHER,
        PLAY_WITH_ANOTHER,
        SET_NONE,
        BEFORE_A_DEFERRED_PLAY
    };
    for (Way way : {SET_ANOTHER, PLAY_WITH_ANOTHER, SET_NONE, BEFORE_A_DEFERRED_PLAY})
    {
        SCOPED_TRACE(way);
        Listener first, second;
        if (way == BEFORE_A_DEFERRED_PLAY)
        {
            hero->playAnimation(kDeath, BLEND_IMMEDIATE, 0.0f, &first, false);
            hero->setActionCallBack(&second);
            first.markDeleted();
            ticks(1, 0.1f);
            EXPECT_EQ(second.events, (std::vector<std::string>{"stop 9999", "start 20 once"}));
        }
        else
        {
            // The host moves on when the death ends: a new listener (or none), the old one deleted.
            first.react = [&](Listener& self, const std::string& event)
            {
                if (!startsWith(event, "end"))
                    return;
                if (way == SET_ANOTHER)
                    hero->setActionCallBack(&second);
                else if (way == PLAY_WITH_ANOTHER)
                    hero->playAnimation(kStand, BLEND_SMOOTH, 0.0f, &second, true);
                else
                    hero->setActionCallBack(nullptr);
                self.markDeleted();
            };
            play(kDeath, BLEND_IMMEDIATE, &first);
            ticks(20, 0.1f);
            EXPECT_EQ(first.events.back(), "end 20 part 0");
            if (way == PLAY_WITH_ANOTHER)
                EXPECT_EQ(second.events, (std::vector<std::string>{"stop 9999", "start 0 loop"}));
            else
                EXPECT_TRUE(second.events.empty());
        }
        EXPECT_EQ(Listener::s_callsToDeleted, 0) << "the stop still queued for the deleted listener";
        hero->setActionCallBack(nullptr);
        Listener::s_callsToDeleted = 0;
    }
}

/// A view that releases the whole system, or destroys and deletes the avatar, when told it is built.
class LeavingView final : public IEntityView
{
public:
    explicit LeavingView(bool releaseAll) : m_releaseAll(releaseAll) {}
    void onInstanceReady(IInstance* instance, int) override
    {
        IAvatarSystem* system = IAvatarSystem::getSingletonPtr();
        if (m_releaseAll)
        {
            system->release();
            return;
        }
        system->destroyInstance(instance->getUniqueID());
        delete static_cast<ManagedInstance*>(instance);
    }
    unsigned getViewKey() override { return 1; }
    void onCreatureReadyA(IInstance*, float) override {}
    void onCreatureReadyB(IInstance*, float) override {}

private:
    bool m_releaseAll;
};

TEST_F(HostileAnimation, releaseOrDeletingTheAvatarFromEveryHostCallbackIsSafeAndTakesFullEffect)
{
    // "The death ended: leave the level", from within the avatar's own update.
    Listener leaving;
    leaving.react = [&](Listener&, const std::string& event)
    {
        if (startsWith(event, "end"))
        {
            system->release();
            hero = nullptr;
        }
    };
    play(kWalk, BLEND_IMMEDIATE, &leaving);
    play(kCast, BLEND_IMMEDIATE, &leaving);
    play(kDeath, BLEND_SMOOTH, &leaving);
    ticks(30, 0.1f);
    EXPECT_EQ(hero, nullptr);
    EXPECT_EQ(manager->getNumInstances(), 0u);
    EXPECT_EQ(OgreCounts::now(), before) << "the release took full effect";

    // The same avatar destroyed and deleted by the host, from the overlay's end.
    hero = system->createPlayer(std::string("Warrior"));
    Listener deleting;
    deleting.react = [&](Listener&, const std::string& event)
    {
        if (!startsWith(event, "end"))
            return;
        system->destroyInstance(hero->getUniqueID());
        delete static_cast<ManagedInstance*>(hero);
        hero = nullptr;
    };
    play(kWalk, BLEND_IMMEDIATE, &deleting);
    play(kAttack1, BLEND_IMMEDIATE, &deleting);
    ticks(30, 0.05f);
    EXPECT_EQ(hero, nullptr);

    // From the view told that a queued player is built, by IAvatarSystem::update.
    for (bool releaseAll : {true, false})
    {
        SCOPED_TRACE(releaseAll ? "release" : "destroy and delete");
        LeavingView view(releaseAll);
        auto* record = new ENTITY_CALLBACK();
        record->view = &view;
        system->createPlayer(manager->getPorpertiesFromDB("Warrior"), record);
        system->update(0.0f);
        EXPECT_EQ(manager->getNumInstances(), 0u);
        EXPECT_EQ(manager->getNumRequests(), 0u);
        system->release();
        EXPECT_EQ(OgreCounts::now(), before);
    }
}

TEST_F(HostileAnimation, aLowerBodyMainPlayedDuringAnUpperBodyFadeKeepsEveryBoneAtFullWeight)
{
    for (ANI_BLEND_TYPE blend : {BLEND_SMOOTH, BLEND_IMMEDIATE})
    {
        SCOPED_TRACE(blend);
        play(kStand, BLEND_IMMEDIATE);
        play(kCast, BLEND_SMOOTH);
        ticks(1, 0.05f);
        play(kWalk, blend);
        ASSERT_TRUE(controllerOf(hero).isOverlayActive());
        for (int frame = 0; frame < 6; ++frame)
        {
            EXPECT_EQ(bonesOffOne(hero->getEntityPtr(), nullptr), "") << "frame " << frame;
            ticks(1, 0.05f);
        }
    }
}

TEST_F(HostileAnimation, theTickLimitIsExceededOnlyOnceMoreTimeThanItHasGathered)
{
    // Limit 0.1, frames of 0.05: the second frame brings exactly 0.1, which is not more.
    play(kWalk, BLEND_IMMEDIATE);
    hero->setTickTimeLimit(0.1f);
    Ogre::AnimationState* walk = stateOf("Walk");
    for (float expected : {0.0f, 0.0f, 0.05f, 0.05f, 0.05f, 0.1f})
    {
        ticks(1, 0.05f);
        EXPECT_NEAR(walk->getTimePosition(), expected, 1e-6);
    }
}

TEST_F(HostileAnimation, undefinedTimeThroughAnimationAddTimeLeavesTheStateWorking)
{
    auto* base = static_cast<InstanceBase*>(hero);
    base->initAnimation();
    const Ogre::AnimationStateMap& states = hero->getEntityPtr()->getAllAnimationStates()->getAnimationStates();
    const int walkIndex = static_cast<int>(std::distance(states.begin(), states.find("Walk")));
    hero->setNewAimationState(walkIndex, false);
    Ogre::AnimationState* walk = stateOf("Walk");
    hero->animationAddTime(0.25f);
    hero->animationAddTime(std::numeric_limits<float>::quiet_NaN());
    hero->animationAddTime(std::numeric_limits<float>::infinity());
    hero->setAnimationPlaySpeed(std::numeric_limits<float>::quiet_NaN());
    hero->animationAddTime(0.1f);
    hero->setAnimationPlaySpeed(1.0f);
    EXPECT_FLOAT_EQ(walk->getTimePosition(), 0.25f);
    ticks(1, 0.1f);
    EXPECT_NEAR(walk->getTimePosition(), 0.35f, 1e-6) << "the walk goes on";
}

TEST_F(HostileAnimation, aNewUpperBodyRootReachesAnAvatarWhoseWeightsAreSteadyAtItsNextFrame)
{
    play(kWalk, BLEND_IMMEDIATE);
    play(kCast, BLEND_IMMEDIATE);
    ticks(10, 0.05f);
    ASSERT_FLOAT_EQ(controllerOf(hero).getOverlayWeight(), 1.0f);
    Ogre::SkeletonInstance* skeleton = hero->getEntityPtr()->getSkeleton();
    const std::string skeletonName = skeleton->getName();
    const unsigned short spine = skeleton->getBone("spine")->getHandle(),
                         chest = skeleton->getBone("chest")->getHandle();
    Ogre::AnimationState* cast = stateOf("Cast");
    ASSERT_GT(cast->getBlendMaskEntry(spine), 0.0f) << "the spine is upper body by default";

    struct RootGuard
    {
        AvatarSystemManager* manager;
        std::string skeleton;
        ~RootGuard() { manager->setUpperBodyRootBone(skeleton, ""); }
    } guard{manager, skeletonName};
    manager->setUpperBodyRootBone(skeletonName, "chest");
    hero->setPause(true);
    ticks(1, 0.05f);
    EXPECT_EQ(cast->getBlendMaskEntry(spine), 0.0f) << "paused: the spine is lower body now";
    EXPECT_GT(cast->getBlendMaskEntry(chest), 0.0f);
    EXPECT_EQ(bonesOffOne(hero->getEntityPtr(), nullptr), "");
}

TEST_F(HostileAnimation, blendMasksGoWithAnEntityTheHostDestroys)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's own leak check judges this";
#endif
    // The engine frees neither masks nor tells anyone before the states go; linear growth per
    // teardown is the leak.
    const auto teardown = [this]
    {
        IInstance* avatar = system->createPlayer(std::string("Warrior"));
        avatar->playAnimation(kWalk, BLEND_IMMEDIATE, 0.0f, nullptr, true);
        avatar->playAnimation(kCast, BLEND_IMMEDIATE, 0.0f, nullptr, true);
        avatar->update(true, 0.05f);
        ASSERT_TRUE(avatar->getEntityPtr()->getAnimationState("Cast")->hasBlendMask());
        manager->getSceneMgr()->destroyEntity(avatar->getEntityPtr());
        system->destroyInstance(avatar->getUniqueID());
        delete static_cast<ManagedInstance*>(avatar);
        // What a rendered frame does: the engine frees the passes of removed materials.
        Ogre::Pass::processPendingPassUpdates();
    };
    for (int i = 0; i < 30; ++i)
        teardown();
    const std::size_t start = mallinfo2().uordblks;
    const int rounds = 300;
    for (int i = 0; i < rounds; ++i)
        teardown();
    const double perTeardown = (static_cast<double>(mallinfo2().uordblks) - static_cast<double>(start)) / rounds;
    EXPECT_LT(perTeardown, 100.0) << "bytes kept per teardown";
}

class SharedNames : public HostileAnimation
{
protected:
    void SetUp() override
    {
        // Entered before the first table is read; the pack stays registered for the meshes.
        shared = std::make_unique<SharedNamesDir>();
        HostileAnimation::SetUp();
    }
    void TearDown() override
    {
        HostileAnimation::TearDown();
        shared.reset();
    }
    std::unique_ptr<SharedNamesDir> shared;
};

TEST_F(SharedNames, aStateThatMovesToAnotherLayerIsThatLayersAndTheOverlayEnds)
{
    Listener actions;
    play(kWholeAttack, BLEND_IMMEDIATE, &actions);
    play(kWalk, BLEND_SMOOTH, &actions);
    ticks(1, 0.05f);
    // The upper-body attack takes the state that still fades out as the previous main animation.
    play(kAttack1, BLEND_IMMEDIATE, &actions);
    Ogre::AnimationState* attack = stateOf("Attack1");
    EXPECT_EQ(controllerOf(hero).getOverlayState(), attack);
    EXPECT_EQ(controllerOf(hero).getPreviousState(), nullptr) << "a state belongs to one layer";
    for (int frame = 0; frame < 40 && attack->getEnabled(); ++frame)
    {
        EXPECT_EQ(bonesOffOne(hero->getEntityPtr(), nullptr), "") << "frame " << frame;
        ticks(1, 0.05f);
    }
    EXPECT_EQ(actions.events.end() - std::find(actions.events.begin(), actions.events.end(), "end 10 part 2"), 2)
        << "the overlay ends, then stops";
    EXPECT_EQ(bonesOffOne(hero->getEntityPtr(), nullptr), "");
}

// --- The random host ----------------------------------------------------------------------------

/// A host that plays, clears, pauses, changes speeds, limits and listeners, destroys, deletes and
/// releases, at random from a seed, some of it from within the callbacks; after every step it
/// reads the controller's invariants back through the engine.
class RandomHost
{
public:
    /// shared: avatars go to the shared detail level and back, and frames begin with the
    /// system's update, so that they join and leave shared poses under every other operation.
    RandomHost(unsigned seed, bool sharedNames, bool shared = false)
        : m_rng(seed), m_system(IAvatarSystem::getSingletonPtr()), m_manager(AvatarSystemManager::getSingleton()),
          m_sharedNames(sharedNames), m_shared(shared)
    {
    }

    /// Runs the steps; the failures found, one line each (the first few).
    std::vector<std::string> run(int steps)
    {
        for (m_step = 0; m_step < steps && m_failures.size() < 10; ++m_step)
        {
            for (Avatar& avatar : m_avatars)
                if (avatar.instance)
                    markEmptyMain(avatar);
            step();
            check();
        }
        settle();
        return m_failures;
    }
    /// How many times an avatar was found sharing a pose after a step.
    int sharedChecks() const { return m_sharedChecks; }

private:
    struct Avatar
    {
        IInstance* instance = nullptr;
        bool character = true;
        std::vector<Listener*> handed;
        // The main layer fades in from nothing (first play, or after clearing layer 1).
        bool allowPartial = true;
    };

    /// A main animation played onto an empty main layer fades in from the bind pose.
    static void markEmptyMain(Avatar& avatar)
    {
        if (!controllerOf(avatar.instance).getMainState())
            avatar.allowPartial = true;
    }
    unsigned pick(unsigned n) { return static_cast<unsigned>(m_rng() % n); }
    template <class T, std::size_t N> T oneOf(const T (&items)[N]) { return items[pick(N)]; }
    template <class T> T oneOf(const std::vector<T>& items) { return items[pick(static_cast<unsigned>(items.size()))]; }

    AnimationType anyType()
    {
        static const unsigned extra[] = {40, 41, 42, 43, 44, 999};
        if (m_sharedNames && pick(3) == 0)
            return static_cast<AnimationType>(oneOf(extra));
        return static_cast<AnimationType>(oneOf(pack::kAnimationTypes));
    }

    Listener* newListener(Avatar& avatar)
    {
        m_listeners.push_back(std::make_unique<Listener>());
        Listener* listener = m_listeners.back().get();
        avatar.handed.push_back(listener);
        const unsigned kind = pick(20);
        IInstance* owner = avatar.instance;
        if (kind < 10)
            return listener;
        // Reactions from within the callbacks, now and then.
        listener->react = [this, owner, kind](Listener& self, const std::string& event)
        {
            Avatar* held = find(owner);
            if (m_quiet || !held || pick(3) != 0)
                return;
            note("  in a callback (" + event + "), reaction " + std::to_string(kind));
            markEmptyMain(*held);
            switch (kind)
            {
            case 10:
            case 11:
                owner->playAnimation(anyType(), pick(2) ? BLEND_SMOOTH : BLEND_IMMEDIATE, 0.0f, &self, pick(2) == 0);
                break;
            case 12:
            case 13:
                replaceListeners(*held, pick(2) ? newListener(*held) : nullptr);
                break;
            case 14:
                owner->clearAnimation(pick(4));
                held->allowPartial = true;
                break;
            case 15:
                if (startsWith(event, "end"))
                    destroyAndDelete(*held);
                break;
            case 16:
                if (startsWith(event, "end") && pick(4) == 0)
                    releaseAll();
                break;
            default:
                owner->setPause(pick(4) == 0);
                break;
            }
        };
        return listener;
    }
    IActionCallback* anyListener(Avatar& avatar)
    {
        const unsigned p = pick(10);
        if (p < 5)
            return newListener(avatar);
        if (p < 8 && !avatar.handed.empty())
            return avatar.handed.back();
        return nullptr;
    }
    /// setActionCallBack: every listener handed to the avatar before is replaced, and deleted.
    void replaceListeners(Avatar& avatar, Listener* next)
    {
        avatar.instance->setActionCallBack(next);
        for (Listener* old : avatar.handed)
            if (old != next)
                old->markDeleted();
        avatar.handed.clear();
        if (next)
            avatar.handed.push_back(next);
    }
    Avatar* find(IInstance* instance)
    {
        for (Avatar& avatar : m_avatars)
            if (avatar.instance && avatar.instance == instance)
                return &avatar;
        return nullptr;
    }
    void forget(Avatar& avatar)
    {
        for (Listener* old : avatar.handed)
            old->markDeleted();
        avatar = Avatar();
    }
    void destroyAndDelete(Avatar& avatar)
    {
        IInstance* instance = avatar.instance;
        forget(avatar);
        m_system->destroyInstance(instance->getUniqueID());
        delete static_cast<ManagedInstance*>(instance);
    }
    void releaseAll()
    {
        for (Avatar& avatar : m_avatars)
            if (avatar.instance)
                forget(avatar);
        m_system->release();
    }

    void step()
    {
        Avatar& avatar = m_avatars[pick(2)];
        if (!avatar.instance)
        {
            avatar.character = pick(3) != 0;
            avatar.instance = avatar.character ? m_system->createPlayer(std::string("Warrior"))
                                               : m_system->createCreature(std::string("Grey Wolf"));
            if (avatar.character)
                avatar.instance->setSpeed(6.0f, 2.5f);
            else
                avatar.instance->changePausePropety();
            return;
        }
        IInstance* instance = avatar.instance;
        static const ANI_BLEND_TYPE blends[] = {BLEND_SMOOTH,    BLEND_SMOOTH,      BLEND_SMOOTH,      BLEND_IMMEDIATE,
                                                BLEND_IMMEDIATE, ANI_BLEND_TYPE(1), ANI_BLEND_TYPE(77)};
        static const float starts[] = {0.0f, 0.0f, 0.0f, 0.5f, 0.98f};
        const unsigned op = pick(100);
        const std::string who = avatar.character ? "player: " : "creature: ";
        if (op < 30)
        {
            const AnimationType type = anyType();
            const ANI_BLEND_TYPE blend = oneOf(blends);
            const float start = oneOf(starts);
            const bool now = pick(4) != 0;
            note(who + "play " + std::to_string(type) + " blend " + std::to_string(blend) + " start " +
                 std::to_string(start) + (now ? " now" : " later"));
            instance->playAnimation(type, blend, start, anyListener(avatar), now);
        }
        else if (op < 34)
        {
            const char* name = oneOf(pack::kAnimationNames);
            note(who + "play " + name);
            instance->playAnimation(name, oneOf(blends), anyListener(avatar));
        }
        else if (op < 37)
        {
            const AnimationType type = anyType();
            note(who + "still pose " + std::to_string(type));
            instance->playStatic(type, oneOf(starts));
        }
        else if (op < 44)
        {
            const unsigned layer = pick(5);
            note(who + "clear " + std::to_string(layer));
            instance->clearAnimation(layer);
            avatar.allowPartial = true;
        }
        else if (op < 47)
            instance->setPause(pick(3) == 0);
        else if (op < 49)
            instance->setAnimationPlaySpeed(oneOf({0.5f, 1.0f, 1.0f, 2.0f, 0.0f}));
        else if (op < 51)
            instance->setTickTimeLimit(oneOf({0.0f, 0.0f, 0.03f, 0.1f}));
        else if (op < 55)
            replaceListeners(avatar, pick(3) ? newListener(avatar) : nullptr);
        else if (op < 57)
            destroyAndDelete(avatar);
        else if (op < 58 && pick(4) == 0)
            releaseAll();
        else if (m_shared && op < 66)
        {
            const bool shared = pick(4) != 0;
            note(who + (shared ? "shared" : "full"));
            m_manager.setDetailLevel(instance,
                                     shared ? AvatarSystemManager::DETAIL_SHARED : AvatarSystemManager::DETAIL_FULL);
        }
        else
        {
            const float dt = oneOf({1.0f / 60.0f, 0.05f, 0.1f, 0.25f});
            note("frames of " + std::to_string(dt));
            for (unsigned frame = 0, frames = 1 + pick(3); frame < frames; ++frame)
            {
                if (m_shared)
                    m_system->update(dt);
                for (Avatar& each : m_avatars)
                    if (each.instance)
                    {
                        markEmptyMain(each);
                        each.instance->update(true, dt);
                    }
            }
        }
    }

    /// Remembers what the host did lately, for the first failure's report.
    void note(const std::string& what)
    {
        m_log.push_back(what);
        if (m_log.size() > 12)
            m_log.pop_front();
    }
    void fail(const std::string& what)
    {
        std::string line = "step " + std::to_string(m_step) + ": " + what;
        if (m_failures.empty())
            for (const std::string& done : m_log)
                line += "\n    after: " + done;
        m_failures.push_back(line);
    }

    void check()
    {
        if (Listener::s_callsToDeleted != 0)
        {
            fail("a deleted listener was called");
            Listener::s_callsToDeleted = 0;
        }
        for (Avatar& avatar : m_avatars)
        {
            if (!avatar.instance || !avatar.instance->getEntityPtr())
                continue;
            const AnimationController& controller = controllerOf(avatar.instance);
            Ogre::Entity* entity = avatar.instance->getEntityPtr();
            Ogre::AnimationState* layers[] = {controller.getMainState(), controller.getPreviousState(),
                                              controller.getOverlayState(), controller.getPoseState()};
            for (int i = 0; i < 4; ++i)
            {
                if (!layers[i])
                    continue;
                if (!layers[i]->getEnabled())
                    fail("layer " + std::to_string(i) + " holds the disabled state " + layers[i]->getAnimationName());
                for (int j = i + 1; j < 4; ++j)
                    if (layers[i] == layers[j])
                        fail("layers " + std::to_string(i) + " and " + std::to_string(j) + " share " +
                             layers[i]->getAnimationName());
            }
            for (const Ogre::AnimationState* state : entity->getAllAnimationStates()->getEnabledAnimationStates())
                if (std::find(std::begin(layers), std::end(layers), state) == std::end(layers))
                    fail("the enabled state " + state->getAnimationName() + " belongs to no layer");
            if (controller.getMainState() && !avatar.allowPartial)
            {
                const std::string off = bonesOffOne(entity, controller.getPoseState());
                if (!off.empty())
                    fail("bones off full weight: " + off + "with main weight " +
                         std::to_string(controller.getMainWeight()) + ", previous " +
                         std::to_string(controller.getPreviousWeight()) + ", overlay " +
                         std::to_string(controller.getOverlayWeight()));
            }
            if (controller.getMainState() && controller.getMainWeight() >= 1.0f)
                avatar.allowPartial = false;
            if (controller.isSharingPose())
            {
                ++m_sharedChecks;
                checkShared(entity);
            }
        }
    }

    /// A member of a shared pose: one enabled state, no masks on the shared set, and every object
    /// on its bones hung on its own bones.
    void checkShared(Ogre::Entity* entity)
    {
        Ogre::AnimationStateSet* states = entity->getAllAnimationStates();
        if (states->getEnabledAnimationStates().size() != 1)
            fail("a shared pose with " + std::to_string(states->getEnabledAnimationStates().size()) +
                 " enabled states");
        for (const auto& entry : states->getAnimationStates())
            if (entry.second->hasBlendMask())
                fail("a shared state with a blend mask: " + entry.first);
        for (Ogre::MovableObject* object : entity->getAttachedObjects())
            if (static_cast<Ogre::TagPoint*>(object->getParentNode())->getParentEntity() != entity)
                fail("an object on a shared bone hangs on another avatar");
    }

    /// No more reactions, no pause, no limit: every play-once overlay and main must reach its end.
    void settle()
    {
        m_quiet = true;
        for (Avatar& avatar : m_avatars)
        {
            if (!avatar.instance || !avatar.instance->getEntityPtr())
                continue;
            avatar.instance->setPause(false);
            avatar.instance->setTickTimeLimit(0.0f);
            avatar.instance->setAnimationPlaySpeed(1.0f);
            for (int frame = 0; frame < 100 && avatar.instance; ++frame)
                avatar.instance->update(true, 0.1f);
            const AnimationController& controller = controllerOf(avatar.instance);
            // A still pose holds every layer until the next play.
            if (controller.isStaticPose())
                continue;
            const Ogre::AnimationState* overlay = controller.getOverlayState();
            if (overlay && !overlay->getLoop())
                fail("the play-once overlay " + overlay->getAnimationName() + " never ends (at " +
                     std::to_string(overlay->getTimePosition()) + " of " + std::to_string(overlay->getLength()) + ")");
            const Ogre::AnimationState* main = controller.getMainState();
            if (main && !main->getLoop() && avatar.instance->getPlayPercent(main->getAnimationName()) < 0.99f)
                fail("the play-once main " + main->getAnimationName() + " never ends");
            if (const Ogre::AnimationState* pose = controller.getPoseState())
                fail("the pose " + pose->getAnimationName() + " never ends (at " +
                     std::to_string(pose->getTimePosition()) + " of " + std::to_string(pose->getLength()) + ")");
        }
        check();
        for (Avatar& avatar : m_avatars)
            if (avatar.instance)
                destroyAndDelete(avatar);
    }

    std::mt19937 m_rng;
    IAvatarSystem* m_system;
    AvatarSystemManager& m_manager;
    bool m_sharedNames;
    bool m_shared;
    bool m_quiet = false;
    int m_sharedChecks = 0;
    int m_step = 0;
    Avatar m_avatars[2];
    std::deque<std::unique_ptr<Listener>> m_listeners;
    std::deque<std::string> m_log;
    std::vector<std::string> m_failures;
};

/// Steps per seed: a few thousand in the normal run; the soak sets more.
int randomSteps()
{
    const char* steps = std::getenv("AVATAR_ANIMATION_STEPS");
    return steps ? std::atoi(steps) : 1500;
}

class RandomAnimationHost : public PackSystemTest
{
protected:
    void runSeeds(bool sharedNames, bool shared = false)
    {
        Listener::s_callsToDeleted = 0;
        // With any one of the listener, shared-state or cross-fade mends undone, these seeds fail
        // within their first thousand steps (a deleted listener called; layers sharing a state and
        // the upper body at weight 0; bones at weight 0 after a lower-body main under a fade).
        // AVATAR_ANIMATION_SEEDS=n tries seeds 1 to n instead, to look for new ones.
        const char* more = std::getenv("AVATAR_ANIMATION_SEEDS");
        const unsigned seeds = more ? static_cast<unsigned>(std::atoi(more)) : 3u;
        for (unsigned seed = 1; seed <= seeds; ++seed)
        {
            SCOPED_TRACE("seed " + std::to_string(seed));
            RandomHost host(seed, sharedNames, shared);
            for (const std::string& failure : host.run(randomSteps()))
                ADD_FAILURE() << failure;
            if (shared)
            {
                EXPECT_GT(host.sharedChecks(), randomSteps() / 20) << "avatars spent steps in shared poses";
            }
        }
    }
};

TEST_F(RandomAnimationHost, theInvariantsHoldOnThePack)
{
    runSeeds(false);
}

TEST_F(RandomAnimationHost, theInvariantsHoldWithAvatarsJoiningAndLeavingSharedPoses)
{
    runSeeds(false, true);
    EXPECT_EQ(manager->getNumSharedPoses(), 0u);
}

TEST_F(RandomAnimationHost, theInvariantsHoldOnATableWithSharedNames)
{
    SharedNamesDir shared;
    runSeeds(true);
    system->release();
}

} // namespace
