// Per-frame cost of the avatar system for hundreds of avatars, on the generated sample pack:
// the host's update of every avatar (settled, fading in, animated against a floor of direct engine
// calls, and crowds whose background avatars share their animation), the system's update over a
// queue of waiting requests, and building an avatar (a body from the pool, or a creature).

#include "avatarsystem/characterinstance.h"
#include "avatarsystem/creatureinstance.h"

#include "support/headlessengine.h"
#include "support/packdescription.h"

#include "buildfloor.h"

#include <Ogre.h>
#include <OgreTagPoint.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <malloc.h>
#include <memory>
#include <unordered_map>

#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace
{

/// One headless engine and the system for the whole run, with the pack as the current directory.
struct World
{
    World()
    {
        engine.addContentDirectory(AVATARSYSTEM_CONTENT_DIR, "Content");
        scene = engine.createSceneManager();
        if (chdir(AVATARSYSTEM_CONTENT_DIR) != 0)
            std::abort();
        system = IAvatarSystem::getSingletonPtr();
        manager = &AvatarSystemManager::getSingleton();
    }

    avatar_support::HeadlessEngine engine;
    Ogre::SceneManager* scene;
    IAvatarSystem* system;
    AvatarSystemManager* manager;
};

World& world()
{
    // Never destroyed: the system, made while the world starts, would outlive the engine.
    static World* w = new World();
    return *w;
}

/// The four presets the crowds are built from: the pack's first four (both genders among them).
const std::vector<const char*>& crowdPresets()
{
    static const std::vector<const char*> names = []
    {
        std::vector<const char*> first;
        for (const pack_description::PresetDef& preset : pack_description::presetDefs())
            if (first.size() < 4)
                first.push_back(preset.name.c_str());
        return first;
    }();
    return names;
}

/// The four creatures the crowds are built from: the pack's first four whose meshes it has.
const std::vector<const char*>& crowdCreatures()
{
    static const std::vector<const char*> names = []
    {
        std::vector<const char*> first;
        for (const pack_description::CreatureDef& creature : pack_description::creatureDefs())
            if (creature.generated && first.size() < 4)
                first.push_back(creature.name.c_str());
        return first;
    }();
    return names;
}

/// n avatars, half players of both genders and half creatures, built at once.
std::vector<IInstance*> makeCrowd(int n)
{
    World& w = world();
    const std::vector<const char*>& presets = crowdPresets();
    const std::vector<const char*>& creatures = crowdCreatures();
    std::vector<IInstance*> crowd;
    for (int i = 0; i < n; ++i)
    {
        if (i % 2 == 0)
        {
            crowd.push_back(w.system->createPlayer(w.manager->getPorpertiesFromDB(presets[(i / 2) % 4]), nullptr));
        }
        else
            crowd.push_back(w.system->createCreature(std::string(creatures[(i / 2) % 4])));
    }
    return crowd;
}

/// What a frame of the engine does with materials whose passes changed or went: the renderer
/// does it on every frame; headless, a host calls it itself.
void endFrame()
{
    Ogre::Pass::processPendingPassUpdates();
}

void frame(const std::vector<IInstance*>& crowd, float dt)
{
    world().system->update(dt);
    for (IInstance* instance : crowd)
        instance->update(true, dt);
    endFrame();
}

void BM_FrameSettledAvatars(benchmark::State& state)
{
    const std::vector<IInstance*> crowd = makeCrowd(static_cast<int>(state.range(0)));
    for (int i = 0; i < 70; ++i) // past the two-second fade-in
        frame(crowd, 1.0f / 30.0f);
    for (auto _ : state)
        frame(crowd, 1.0f / 60.0f);
    state.SetItemsProcessed(state.iterations() * state.range(0));
    world().system->release();
}
BENCHMARK(BM_FrameSettledAvatars)->Arg(100)->Arg(400)->Unit(benchmark::kMicrosecond);

void BM_FrameFadingAvatars(benchmark::State& state)
{
    const std::vector<IInstance*> crowd = makeCrowd(static_cast<int>(state.range(0)));
    for (auto _ : state)
    {
        // Each frame of a fade-in writes the opacity into every material copy of every avatar.
        state.PauseTiming();
        for (IInstance* instance : crowd)
            instance->setInstanceTransoarency(0.2f, false);
        state.ResumeTiming();
        frame(crowd, 1.0f / 60.0f);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    world().system->release();
}
BENCHMARK(BM_FrameFadingAvatars)->Arg(100)->Arg(400)->Unit(benchmark::kMicrosecond);

// --- Animated crowds ------------------------------------------------------------------------
//
// Every avatar walks (a lower-body loop) with an upper-body attack over it that the host plays
// again whenever it ends, started at staggered frames so that in any frame some overlays fade in,
// some hold and some fade out. A frame is the host's: the system's update, every avatar's update,
// and the engine's skeletal update of every entity (the pose and the skinning the renderer would
// do). The floor drives the same entities' states with the same weights and masks directly.

const AnimationType kWalk = AnimationType(1), kAttack = AnimationType(10);
const float kFrame = 1.0f / 60.0f;

/// The engine's skeletal update as an entity runs it before it is drawn: when its animation
/// states changed since it was last drawn, the skeleton's pose from the enabled states and the
/// bone matrices for skinning. Entities that share a skeleton instance share its state set and
/// the engine's count of the frame their bones were last computed in, so a group's pose is
/// computed once a frame, by its first member drawn.
struct SkeletalUpdate
{
    explicit SkeletalUpdate(const std::vector<IInstance*>& crowd)
    {
        for (IInstance* instance : crowd)
            entities.push_back({instance->getEntityPtr(), nullptr, ~0ul});
        matrices.resize(256);
    }
    void run()
    {
        ++frameNumber;
        for (Drawn& drawn : entities)
        {
            Ogre::AnimationStateSet* states = drawn.entity->getAllAnimationStates();
            const unsigned long dirty = states->getDirtyFrameNumber();
            if (states == drawn.states && dirty == drawn.dirty)
                continue;
            drawn.states = states;
            drawn.dirty = dirty;
            Ogre::SkeletonInstance* skeleton = drawn.entity->getSkeleton();
            if (drawn.entity->sharesSkeletonInstance())
            {
                unsigned long& computed = sharedComputed[skeleton];
                if (computed == frameNumber)
                    continue;
                computed = frameNumber;
            }
            skeleton->setAnimationState(*states);
            skeleton->_getBoneMatrices(matrices.data());
            ++poses;
        }
    }

    struct Drawn
    {
        Ogre::Entity* entity;
        Ogre::AnimationStateSet* states; ///< the set the entity was last drawn with
        unsigned long dirty;
    };
    std::vector<Drawn> entities;
    /// The frame each shared skeleton instance's bones were last computed in.
    std::unordered_map<const Ogre::SkeletonInstance*, unsigned long> sharedComputed;
    unsigned long frameNumber = 0;
    unsigned long poses = 0; ///< skeletal updates run
    std::vector<Ogre::Affine3> matrices;
};

/// Starts the attack on the overlaid avatars, staggered over the crowd's next 48 frames, so that
/// in any later frame some fade in, some hold and some fade out.
void staggerAttacks(const std::vector<IInstance*>& crowd, const std::vector<IInstance*>& overlaid)
{
    for (int f = 0; f < 48; ++f)
    {
        for (std::size_t i = static_cast<std::size_t>(f); i < overlaid.size(); i += 48)
            overlaid[i]->playAnimation(kAttack, BLEND_SMOOTH, 0.0f, nullptr, true);
        frame(crowd, kFrame);
    }
}

/// The host plays the attack again once it has ended.
void replayEndedAttacks(const std::vector<IInstance*>& overlaid)
{
    for (IInstance* instance : overlaid)
        if (instance->searchAnimation(2) != kAttack)
            instance->playAnimation(kAttack, BLEND_SMOOTH, 0.0f, nullptr, true);
}

/// A crowd past its fade-in, walking, with overlays staggered over the first 48 frames.
std::vector<IInstance*> makeWalkingCrowd(int n, float tickLimit)
{
    std::vector<IInstance*> crowd = makeCrowd(n);
    for (int i = 0; i < 70; ++i)
        frame(crowd, 1.0f / 30.0f);
    for (IInstance* instance : crowd)
    {
        instance->setTickTimeLimit(tickLimit);
        instance->playAnimation(kWalk, BLEND_IMMEDIATE, 0.0f, nullptr, true);
    }
    staggerAttacks(crowd, crowd);
    return crowd;
}

void animatedFrames(benchmark::State& state, float tickLimit)
{
    const std::vector<IInstance*> crowd = makeWalkingCrowd(static_cast<int>(state.range(0)), tickLimit);
    SkeletalUpdate skeletal(crowd);
    for (auto _ : state)
    {
        frame(crowd, kFrame);
        replayEndedAttacks(crowd);
        skeletal.run();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    world().system->release();
}

void BM_FrameAnimatedAvatars(benchmark::State& state)
{
    animatedFrames(state, 0.0f);
}
BENCHMARK(BM_FrameAnimatedAvatars)->Arg(100)->Arg(400)->Arg(1000)->Unit(benchmark::kMicrosecond);

/// The same crowd with a tick limit of 0.1 s: each avatar's animation advances about every sixth frame.
void BM_FrameAnimatedAvatarsThinned(benchmark::State& state)
{
    animatedFrames(state, 0.1f);
}
BENCHMARK(BM_FrameAnimatedAvatarsThinned)->Arg(100)->Arg(400)->Arg(1000)->Unit(benchmark::kMicrosecond);

/// The floor: the same entities, their walk and attack states advanced, weighted and masked with
/// direct engine calls (the attack's mask set once, the walk's rewritten while the attack fades),
/// in cumulative mode so that no weight needs scaling, and the same skeletal update.
void BM_FrameAnimatedFloor(benchmark::State& state)
{
    const std::vector<IInstance*> crowd = makeWalkingCrowd(static_cast<int>(state.range(0)), 0.0f);
    struct Driven
    {
        Ogre::Entity* entity;
        Ogre::AnimationState* walk;
        Ogre::AnimationState* attack;
        std::vector<unsigned char> upper;
        std::vector<float> mask;
        float weight;
    };
    std::vector<Driven> driven;
    for (IInstance* instance : crowd)
    {
        Ogre::Entity* entity = instance->getEntityPtr();
        // The controllers stop here: the floor owns the states from now on.
        instance->setPause(true);
        AnimationController* controller = static_cast<InstanceBase*>(instance)->getAnimationController();
        Driven d{entity, controller->getMainState(), entity->getAnimationState("Attack1"), {}, {}, 0.0f};
        Ogre::SkeletonInstance* skeleton = entity->getSkeleton();
        skeleton->setBlendMode(Ogre::ANIMBLEND_CUMULATIVE);
        const std::string root = world().manager->getUpperBodyRootBone(entity);
        for (Ogre::Bone* bone : skeleton->getBones())
        {
            bool upper = root.empty();
            for (Ogre::Node* node = bone; node && !upper; node = node->getParent())
                upper = node->getName() == root;
            d.upper.push_back(upper ? 1 : 0);
        }
        d.mask.resize(d.upper.size());
        d.walk->setWeight(1.0f);
        d.attack->setEnabled(true);
        d.attack->setLoop(false);
        d.attack->destroyBlendMask();
        d.attack->createBlendMask(d.upper.size(), 0.0f);
        for (std::size_t b = 0; b < d.upper.size(); ++b)
            d.attack->setBlendMaskEntry(b, d.upper[b] ? 1.0f : 0.0f);
        d.weight = controller->getOverlayWeight();
        driven.push_back(std::move(d));
    }
    SkeletalUpdate skeletal(crowd);
    for (auto _ : state)
    {
        for (Driven& d : driven)
        {
            const float played = d.attack->getTimePosition() / d.attack->getLength();
            if (played >= 0.99f)
            {
                d.attack->setTimePosition(0.0f);
                d.weight = 0.0f;
            }
            d.walk->addTime(kFrame);
            d.attack->addTime(kFrame);
            const float fade = kFrame * 6.0f;
            const float weight = played <= 0.9f ? std::min(1.0f, d.weight + fade) : std::max(0.0f, d.weight - fade);
            if (weight != d.weight || !d.walk->hasBlendMask())
            {
                d.weight = weight;
                d.attack->setWeight(weight);
                if (!d.walk->hasBlendMask())
                    d.walk->createBlendMask(d.upper.size(), 1.0f);
                for (std::size_t b = 0; b < d.upper.size(); ++b)
                    d.mask[b] = d.upper[b] ? 1.0f - weight : 1.0f;
                d.walk->_setBlendMaskData(d.mask.data());
            }
        }
        skeletal.run();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    world().system->release();
}
BENCHMARK(BM_FrameAnimatedFloor)->Arg(100)->Arg(400)->Arg(1000)->Unit(benchmark::kMicrosecond);

// --- Shared animation -------------------------------------------------------------------------
//
// Background avatars at the shared detail level walk or stand (a plain loop, half each, started
// at phases spread over the loop, so that they fall into every phase bucket); each group of them
// shows one pose, advanced once a frame. In the mixed crowd a tenth of the avatars, players and
// creatures alike, stay at full detail and walk with the attack over it as above. The frame is
// the host's frame as above; the skeletal update runs once per skeleton instance.

const AnimationType kStand = AnimationType(0);

struct SharedCrowd
{
    std::vector<IInstance*> all;
    std::vector<IInstance*> full; ///< the avatars at full detail, playing the attack
};

/// n avatars past their fade-in, `full` of them at full detail and the others shared, with the
/// phase buckets set to `buckets` for the groups they form.
SharedCrowd makeSharedCrowd(int n, int full, unsigned buckets)
{
    AvatarSystemManager* manager = world().manager;
    manager->setSharedPhaseBuckets(buckets);
    SharedCrowd crowd;
    crowd.all = makeCrowd(n);
    for (int i = 0; i < 70; ++i)
        frame(crowd.all, 1.0f / 30.0f);
    // Players and creatures alternate: pairs of neighbours stay at full detail.
    const int stride = full > 0 ? n / full : 0;
    int shared = 0;
    for (int i = 0; i < n; ++i)
    {
        IInstance* instance = crowd.all[static_cast<std::size_t>(i)];
        if (stride > 0 && (i / 2) % stride == 0)
        {
            crowd.full.push_back(instance);
            instance->playAnimation(kWalk, BLEND_IMMEDIATE, 0.0f, nullptr, true);
            continue;
        }
        const float phase = static_cast<float>(shared) * 0.618034f;
        instance->playAnimation(shared / 2 % 2 ? kStand : kWalk, BLEND_IMMEDIATE, phase - static_cast<int>(phase),
                                nullptr, true);
        manager->setDetailLevel(instance, AvatarSystemManager::DETAIL_SHARED);
        ++shared;
    }
    // The shared avatars join their groups in these frames.
    staggerAttacks(crowd.all, crowd.full);
    return crowd;
}

void sharedFrames(benchmark::State& state, int n, int full, unsigned buckets)
{
    AvatarSystemManager* manager = world().manager;
    const unsigned defaultBuckets = manager->getSharedPhaseBuckets();
    const SharedCrowd crowd = makeSharedCrowd(n, full, buckets);
    SkeletalUpdate skeletal(crowd.all);
    // The frame's two parts, apart: the library's (the host's calls) and the engine's skeletal update.
    using Clock = std::chrono::steady_clock;
    Clock::duration library{}, engine{};
    for (auto _ : state)
    {
        const Clock::time_point start = Clock::now();
        frame(crowd.all, kFrame);
        replayEndedAttacks(crowd.full);
        const Clock::time_point middle = Clock::now();
        skeletal.run();
        engine += Clock::now() - middle;
        library += middle - start;
    }
    state.SetItemsProcessed(state.iterations() * n);
    const auto perFrame = [&state](Clock::duration total)
    {
        return std::chrono::duration<double, std::micro>(total).count() /
               static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
    };
    // The objects carried on bones whose tag points the shared skeleton instances move each frame.
    std::unordered_map<const Ogre::SkeletonInstance*, int> tagPoints;
    for (IInstance* instance : crowd.all)
    {
        Ogre::SkeletonInstance* skeleton = instance->getEntityPtr()->getSkeleton();
        if (!instance->getEntityPtr()->sharesSkeletonInstance() || tagPoints.count(skeleton))
            continue;
        int& count = tagPoints[skeleton];
        for (Ogre::Bone* bone : skeleton->getBones())
            for (Ogre::Node* child : bone->getChildren())
                count += dynamic_cast<Ogre::TagPoint*>(child) ? 1 : 0;
    }
    int carried = 0;
    for (const auto& entry : tagPoints)
        carried += entry.second;
    state.counters["shared_tag_points"] = carried;
    state.counters["library_us"] = perFrame(library);
    state.counters["skeletal_us"] = perFrame(engine);
    const long sharing = std::count_if(crowd.all.begin(), crowd.all.end(),
                                       [manager](IInstance* instance) { return manager->isSharingPose(instance); });
    state.counters["sharing"] = static_cast<double>(sharing);
    state.counters["shared_poses"] = static_cast<double>(manager->getNumSharedPoses());
    state.counters["poses_a_frame"] = static_cast<double>(skeletal.poses) /
                                      static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
    world().system->release();
    manager->setSharedPhaseBuckets(defaultBuckets);
}

/// 1,000 avatars: 900 shared, walking or standing; 100 at full detail with the attack over the walk.
void BM_FrameMixedCrowd(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    sharedFrames(state, n, n / 10, 4);
}
BENCHMARK(BM_FrameMixedCrowd)->Arg(1000)->Unit(benchmark::kMicrosecond);

/// Every avatar shared, walking or standing.
void BM_FrameSharedCrowd(benchmark::State& state)
{
    sharedFrames(state, static_cast<int>(state.range(0)), 0, 4);
}
BENCHMARK(BM_FrameSharedCrowd)->Arg(100)->Arg(400)->Arg(1000)->Unit(benchmark::kMicrosecond);

/// 1,000 shared avatars with 1 to 64 phase buckets per skeleton and animation: the cost of the
/// number of groups.
void BM_FrameSharedCrowdByBuckets(benchmark::State& state)
{
    sharedFrames(state, 1000, 0, static_cast<unsigned>(state.range(0)));
}
BENCHMARK(BM_FrameSharedCrowdByBuckets)->Arg(1)->Arg(4)->Arg(16)->Arg(64)->Unit(benchmark::kMicrosecond);

/// What an avatar's leaving and joining its group cost: a dressed and armed player among ten shared
/// walkers leaves (the host plays the attack over its walk), its attack is cleared, and it joins
/// again at its next update. The walkers' frames are outside the timing.
void BM_SharedLeaveAndJoin(benchmark::State& state)
{
    AvatarSystemManager* manager = world().manager;
    std::vector<IInstance*> crowd;
    for (int i = 0; i < 10; ++i)
        crowd.push_back(world().system->createPlayer(world().manager->getPorpertiesFromDB(crowdPresets()[0]), nullptr));
    for (int i = 0; i < 70; ++i)
        frame(crowd, 1.0f / 30.0f);
    for (IInstance* instance : crowd)
    {
        instance->playAnimation(kWalk, BLEND_IMMEDIATE, 0.0f, nullptr, true);
        manager->setDetailLevel(instance, AvatarSystemManager::DETAIL_SHARED);
    }
    frame(crowd, kFrame);
    IInstance* mover = crowd.front();
    for (auto _ : state)
    {
        mover->playAnimation(kAttack, BLEND_SMOOTH, 0.0f, nullptr, true);
        mover->clearAnimation(2);
        mover->update(true, kFrame);
        state.PauseTiming();
        if (!manager->isSharingPose(mover))
            state.SkipWithError("the avatar did not join again");
        frame(crowd, kFrame);
        state.ResumeTiming();
    }
    world().system->release();
}
BENCHMARK(BM_SharedLeaveAndJoin)->Unit(benchmark::kMicrosecond);

void BM_SystemUpdateOverWaitingRequests(benchmark::State& state)
{
    World& w = world();
    // Players whose setting says not to render yet wait in the queue; every frame looks past them.
    PlayerSetting_t hidden = w.manager->getPorpertiesFromDB(crowdPresets()[0]);
    hidden.renderObj = false;
    for (int i = 0; i < state.range(0); ++i)
        w.system->createPlayer(hidden, new ENTITY_CALLBACK());
    for (auto _ : state)
        w.system->update(1.0f / 60.0f);
    state.SetItemsProcessed(state.iterations() * state.range(0));
    w.system->release();
}
BENCHMARK(BM_SystemUpdateOverWaitingRequests)->Arg(10)->Arg(1000)->Unit(benchmark::kMicrosecond);

// --- Building against its floor ---------------------------------------------------------------
//
// The floor makes what one build of the same avatar left in the engine (recorded from a real
// build: visibility, material copies, textures, carried models on their bones, effects) with
// direct engine calls, and takes it down again. Each iteration ends as a frame would, by letting
// the engine delete the passes of removed materials.

BuildRecipe recordBuild(bool player, const char* name)
{
    World& w = world();
    IInstance* avatar = player ? w.system->createPlayer(w.manager->getPorpertiesFromDB(name), nullptr)
                               : w.system->createCreature(std::string(name));
    BuildRecipe recipe = BuildRecipe::record(*avatar);
    w.system->release();
    return recipe;
}

void BM_BuildAndDestroyPlayerFromThePool(benchmark::State& state)
{
    World& w = world();
    w.system->preBuildEntityBuffer(1);
    const PlayerSetting_t setting = w.manager->getPorpertiesFromDB(crowdPresets()[0]);
    for (auto _ : state)
    {
        IInstance* player = w.system->createPlayer(setting, nullptr);
        w.system->destroyInstance(player->getUniqueID());
        delete static_cast<CharacterInstance*>(player);
        endFrame();
    }
    w.system->release();
}
BENCHMARK(BM_BuildAndDestroyPlayerFromThePool)->Unit(benchmark::kMicrosecond);

void BM_BuildAndDestroyPlayerFloor(benchmark::State& state)
{
    World& w = world();
    BuildRecipe recipe = recordBuild(true, crowdPresets()[0]);
    Ogre::Entity* body = w.scene->createEntity(recipe.mesh);
    for (auto _ : state)
    {
        {
            FloorBuild build(*w.scene, recipe, body);
        }
        endFrame();
    }
    w.scene->destroyEntity(body);
    recipe.forget();
}
BENCHMARK(BM_BuildAndDestroyPlayerFloor)->Unit(benchmark::kMicrosecond);

void BM_BuildAndDestroyCreature(benchmark::State& state)
{
    World& w = world();
    for (auto _ : state)
    {
        IInstance* creature = w.system->createCreature(std::string(crowdCreatures()[0]));
        w.system->destroyInstance(creature->getUniqueID());
        delete static_cast<CreatureInstance*>(creature);
        endFrame();
    }
    w.system->release();
}
BENCHMARK(BM_BuildAndDestroyCreature)->Unit(benchmark::kMicrosecond);

void BM_BuildAndDestroyCreatureFloor(benchmark::State& state)
{
    World& w = world();
    BuildRecipe recipe = recordBuild(false, crowdCreatures()[0]);
    for (auto _ : state)
    {
        {
            FloorBuild build(*w.scene, recipe);
        }
        endFrame();
    }
    recipe.forget();
}
BENCHMARK(BM_BuildAndDestroyCreatureFloor)->Unit(benchmark::kMicrosecond);

/// Heap bytes in use (glibc's own count: steadier than the resident set for a delta).
double heapInUse()
{
    return static_cast<double>(mallinfo2().uordblks);
}

/// Memory an avatar holds: a crowd of dressed, armed players and creatures built through the
/// system, against the same engine objects made from recipes with direct calls.
void BM_MemoryPerAvatar(benchmark::State& state)
{
    World& w = world();
    const int n = static_cast<int>(state.range(0));
    const std::vector<const char*>& presets = crowdPresets();
    const std::vector<const char*>& creatures = crowdCreatures();
    std::vector<BuildRecipe> recipes;
    for (int k = 0; k < 4; ++k)
    {
        recipes.push_back(recordBuild(true, presets[k]));
        recipes.push_back(recordBuild(false, creatures[k]));
    }
    double library = 0.0, floor = 0.0;
    for (auto _ : state)
    {
        endFrame();
        double before = heapInUse();
        std::vector<IInstance*> crowd = makeCrowd(n);
        library = (heapInUse() - before) / n;
        w.system->release();
        CharacterInstance::clearEntityPools();
        endFrame();

        before = heapInUse();
        {
            std::vector<std::unique_ptr<FloorBuild>> made;
            for (int i = 0; i < n; ++i)
                made.emplace_back(new FloorBuild(*w.scene, recipes[static_cast<std::size_t>((i / 2) % 4 * 2 + i % 2)]));
            floor = (heapInUse() - before) / n;
        }
        endFrame();
    }
    for (BuildRecipe& recipe : recipes)
        recipe.forget();
    state.counters["library_bytes"] = library;
    state.counters["floor_bytes"] = floor;
    state.counters["ratio"] = floor > 0.0 ? library / floor : 0.0;
}
BENCHMARK(BM_MemoryPerAvatar)->Arg(400)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
