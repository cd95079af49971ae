// Per-frame cost of the avatar system for hundreds of avatars, on the generated sample pack:
// the host's update of every avatar (settled and while fading in), the system's update over a
// queue of waiting requests, and building an avatar (a body from the pool, or a creature).

#include "avatarsystem/characterinstance.h"
#include "avatarsystem/creatureinstance.h"

#include <Ogre.h>
#include <OgreDefaultHardwareBufferManager.h>

#include <benchmark/benchmark.h>

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
        log = new Ogre::LogManager();
        log->createLog("bench_avatars.log", true, false, true);
        root = new Ogre::Root("", "", "");
        buffers = new Ogre::DefaultHardwareBufferManager();
        textures = new Ogre::DefaultTextureManager();
        Ogre::MaterialManager::getSingleton().initialise();
        Ogre::ResourceGroupManager::getSingleton().addResourceLocation(AVATARSYSTEM_CONTENT_DIR, "FileSystem",
                                                                       "Content");
        Ogre::ResourceGroupManager::getSingleton().initialiseResourceGroup("Content");
        scene = root->createSceneManager(Ogre::DefaultSceneManagerFactory::FACTORY_TYPE_NAME, "Everwind");
        if (chdir(AVATARSYSTEM_CONTENT_DIR) != 0)
            std::abort();
        system = IAvatarSystem::getSingletonPtr();
        manager = &AvatarSystemManager::getSingleton();
    }

    Ogre::LogManager* log;
    Ogre::Root* root;
    Ogre::HardwareBufferManagerBase* buffers;
    Ogre::TextureManager* textures;
    Ogre::SceneManager* scene;
    IAvatarSystem* system;
    AvatarSystemManager* manager;
};

World& world()
{
    static World w;
    return w;
}

/// n avatars, half players of both genders and half creatures, built at once.
std::vector<IInstance*> makeCrowd(int n)
{
    World& w = world();
    const char* presets[] = {"Warrior", "Archer", "Mage", "Berserker"};
    const char* creatures[] = {"Grey Wolf", "Cave Spider", "Stone Golem", "Dragon Whelp"};
    std::vector<IInstance*> crowd;
    for (int i = 0; i < n; ++i)
    {
        if (i % 2 == 0)
        {
            PlayerSetting_t setting = w.manager->getPorpertiesFromDB(presets[(i / 2) % 4]);
            setting.renderObj = true;
            crowd.push_back(w.system->createPlayer(setting, nullptr));
        }
        else
            crowd.push_back(w.system->createCreature(std::string(creatures[(i / 2) % 4])));
    }
    return crowd;
}

void frame(const std::vector<IInstance*>& crowd, float dt)
{
    world().system->update(dt);
    for (IInstance* instance : crowd)
        instance->update(true, dt);
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

void BM_SystemUpdateOverWaitingRequests(benchmark::State& state)
{
    World& w = world();
    // Players whose setting says not to render yet wait in the queue; every frame looks past them.
    PlayerSetting_t hidden = w.manager->getPorpertiesFromDB("Warrior");
    hidden.renderObj = false;
    for (int i = 0; i < state.range(0); ++i)
        w.system->createPlayer(hidden, new ENTITY_CALLBACK());
    for (auto _ : state)
        w.system->update(1.0f / 60.0f);
    state.SetItemsProcessed(state.iterations() * state.range(0));
    w.system->release();
}
BENCHMARK(BM_SystemUpdateOverWaitingRequests)->Arg(10)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_BuildAndDestroyPlayerFromThePool(benchmark::State& state)
{
    World& w = world();
    w.system->preBuildEntityBuffer(1);
    PlayerSetting_t setting = w.manager->getPorpertiesFromDB("Warrior");
    setting.renderObj = true;
    for (auto _ : state)
    {
        IInstance* player = w.system->createPlayer(setting, nullptr);
        w.system->destroyInstance(player->getUniqueID());
        delete static_cast<CharacterInstance*>(player);
    }
    w.system->release();
    CharacterInstance::clearEntityPools();
}
BENCHMARK(BM_BuildAndDestroyPlayerFromThePool)->Unit(benchmark::kMicrosecond);

void BM_BuildAndDestroyCreature(benchmark::State& state)
{
    World& w = world();
    for (auto _ : state)
    {
        IInstance* creature = w.system->createCreature(std::string("Cave Spider"));
        w.system->destroyInstance(creature->getUniqueID());
        delete static_cast<CreatureInstance*>(creature);
    }
    w.system->release();
}
BENCHMARK(BM_BuildAndDestroyCreature)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
