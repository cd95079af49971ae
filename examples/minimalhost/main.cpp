// A minimal game-client host of the avatar system: copy this file to start your own.
//
//   minimalhost CONTENT_DIR              headless: no render system, no window (servers, tools, CI)
//   minimalhost CONTENT_DIR --window     a GL window (needs a display: a desktop or Xvfb)
//
// CONTENT_DIR holds the twelve tables and the meshes, materials and textures they name (the
// sample pack: `avatar-contentgen DIR`). The library reads the tables by bare file name from the
// current directory, so the host changes into it.
#include <avatarsystem/avatarinterface.h>
#include <avatarsystem/avatarsystemmanager.h>

#include <OgreDefaultHardwareBufferManager.h>
#include <OgreEntity.h>
#include <OgreLogManager.h>
#include <OgreMaterialManager.h>
#include <OgrePass.h>
#include <OgreRenderWindow.h>
#include <OgreResourceGroupManager.h>
#include <OgreRoot.h>
#include <OgreSceneManager.h>
#include <OgreSceneNode.h>
#include <OgreTextureManager.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace
{

/// Hears the events of one avatar's animations. The host owns it; once it is replaced
/// (setActionCallBack, or a play with another listener) the library never calls it again.
class Listener : public IActionCallback
{
public:
    void onAnimationEnd(AnimationType type, int part) override
    {
        std::printf("  animation %u ended (part %d)\n", static_cast<unsigned>(type), part);
        ended = true;
    }
    void onAnimationState(AnimationType type, bool stopped, bool looping) override
    {
        std::printf("  animation %u %s%s\n", static_cast<unsigned>(type), stopped ? "stopped" : "started",
                    looping ? " (loop)" : "");
    }
    bool ended = false;
};

/// The host's view object: told when a queued avatar has been built, so it can be placed.
class View : public IEntityView
{
public:
    explicit View(Ogre::SceneManager* scene) : m_scene(scene) {}
    void onInstanceReady(IInstance* instance, int) override
    {
        // Built: hang the entity in the host's scene graph. The avatar owns the entity.
        m_scene->getRootSceneNode()->createChildSceneNode()->attachObject(instance->getEntityPtr());
        std::printf("  %s is ready\n", instance->getName().c_str());
    }
    unsigned getViewKey() override { return 0; }
    void onCreatureReadyA(IInstance*, float) override {}
    void onCreatureReadyB(IInstance*, float) override {}

private:
    Ogre::SceneManager* m_scene;
};

/// One frame of the host: the system's update (at most one queued build), then every avatar's.
void frame(IAvatarSystem* avatars, IInstance* const* held, int count, float dt, bool headless)
{
    avatars->update(dt);
    for (int i = 0; i < count; ++i)
        held[i]->update(true, dt);
    // Rendering a frame frees the passes of removed materials; a host that never renders must
    // do that itself, or every destroyed avatar's materials stay in memory.
    if (headless)
        Ogre::Pass::processPendingPassUpdates();
    else
        Ogre::Root::getSingleton().renderOneFrame(dt);
}

void placeAtOnce(Ogre::SceneManager* scene, IInstance* avatar)
{
    if (avatar && avatar->getEntityPtr())
        scene->getRootSceneNode()->createChildSceneNode()->attachObject(avatar->getEntityPtr());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || chdir(argv[1]) != 0)
    {
        std::fprintf(stderr, "usage: %s CONTENT_DIR [--window]\n", argv[0]);
        return 2;
    }
    const bool headless = !(argc > 2 && std::strcmp(argv[2], "--window") == 0);

    // 1. OGRE. Headless: no render system; hardware buffers in system memory, textures never
    //    loaded. With a window: the GL render system plugin and a window.
    auto log = std::make_unique<Ogre::LogManager>();
    log->createLog("minimalhost.log", true, false, false);
    auto root = std::make_unique<Ogre::Root>("", "", "");
    std::unique_ptr<Ogre::DefaultHardwareBufferManager> buffers;
    std::unique_ptr<Ogre::DefaultTextureManager> textures;
    if (headless)
    {
        buffers = std::make_unique<Ogre::DefaultHardwareBufferManager>();
        textures = std::make_unique<Ogre::DefaultTextureManager>();
        Ogre::MaterialManager::getSingleton().initialise();
    }
    else
    {
        root->loadPlugin(OGRE_PLUGIN_DIR "/RenderSystem_GL");
        root->setRenderSystem(root->getAvailableRenderers().front());
        root->initialise(false);
        root->createRenderWindow("avatars", 320, 240, false);
    }

    // 2. The scene manager the library looks for: a generic one named "Everwind". Create it
    //    before the system is first asked for.
    Ogre::SceneManager* scene =
        root->createSceneManager(Ogre::DefaultSceneManagerFactory::FACTORY_TYPE_NAME, "Everwind");
    if (!headless)
    {
        Ogre::Camera* camera = scene->createCamera("camera");
        Ogre::SceneNode* eye = scene->getRootSceneNode()->createChildSceneNode(Ogre::Vector3(0, 1, 6));
        eye->attachObject(camera);
        camera->setNearClipDistance(0.1f);
        root->getRenderTarget("avatars")->addViewport(camera);
        scene->setAmbientLight(Ogre::ColourValue::White);
    }

    // 3. Resources: meshes, materials and textures, from any resource group.
    Ogre::ResourceGroupManager::getSingleton().addResourceLocation(".", "FileSystem", "Avatars");
    Ogre::ResourceGroupManager::getSingleton().initialiseResourceGroup("Avatars");

    // 4. The system. It owns every avatar it hands out.
    IAvatarSystem* avatars = IAvatarSystem::getSingletonPtr();
    avatars->preBuildEntityBuffer(1); // optional: bodies loaded before play

    // 5. Avatars: by preset name (built at once), by creature ID, and through the queue with a
    //    view (built by a later update; the record becomes the avatar's).
    IInstance* warrior = avatars->createPlayer(std::string("Warrior"));
    IInstance* wolf = avatars->createCreature(std::string("Grey Wolf"));
    placeAtOnce(scene, warrior);
    placeAtOnce(scene, wolf);
    View view(scene);
    auto* record = new ENTITY_CALLBACK;
    record->view = &view;
    PlayerSetting_t setting = AvatarSystemManager::getSingleton().getPorpertiesFromDB("Warrior");
    std::strcpy(setting.Name, "Queued");
    setting.renderObj = true; // a queued player is built only while this is true
    IInstance* queued = avatars->createPlayer(setting, record);
    if (!warrior || !wolf || !queued || !warrior->getEntityPtr())
    {
        std::fprintf(stderr, "the sample content is missing\n");
        return 1;
    }

    // 6. Animations with a listener: walk (a loop), and a swing over the legs.
    Listener listener;
    warrior->playAnimation(static_cast<AnimationType>(1), BLEND_SMOOTH, 0.0f, &listener, true);
    warrior->playAnimation(static_cast<AnimationType>(10), BLEND_SMOOTH, 0.0f, &listener, true);

    IInstance* held[] = {warrior, wolf, queued};
    for (int i = 0; i < 90 && !listener.ended; ++i)
        frame(avatars, held, 3, 1.0f / 30.0f, headless);

    // 7. Re-dressing: a new setting shows at the next update, not at once.
    PlayerSetting_t redressed = AvatarSystemManager::getSingleton().getPorpertiesFromDB("Warrior");
    redressed.head = 0;
    avatars->replacePlayer(redressed, warrior);
    frame(avatars, held, 3, 1.0f / 30.0f, headless);

    // 8. Leaving: before the listener goes, take it off the avatar; destroying takes the
    //    avatar's OGRE objects out at once; the object is freed at release (or by freeInstance).
    warrior->setActionCallBack(nullptr);
    avatars->destroyInstance(wolf->getUniqueID());
    frame(avatars, held, 1, 1.0f / 30.0f, headless);

    // 9. Shutdown: release the system (every avatar, table and pooled body leaves OGRE), then the
    //    host's scene, then OGRE itself, resources while their managers still exist.
    avatars->release();
    root->destroySceneManager(scene);
    root->shutdown();
    textures.reset();
    buffers.reset();
    root.reset();
    log.reset();
    std::puts("minimal host ok");
    return 0;
}
