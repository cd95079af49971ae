#pragma once

#include <OgrePrerequisites.h>

#include <string>

namespace Ogre
{
class HardwareBufferManagerBase;
}

namespace avatar_support
{

/// The name of the host's scene manager, the one the avatar system finds.
extern const char* const kSceneManagerName;

/// OGRE without a render system, for the programs and tests that build avatars off screen: the
/// engine's log kept off the console, a root, hardware buffers in system memory, textures never
/// loaded, materials ready. One per process at a time (the engine's managers are singletons).
/// Stops in the reverse order, resources first, while the managers they were made with exist.
class HeadlessEngine
{
public:
    /// Starts the engine. The engine's log goes to @p logFile, or nowhere when it is empty.
    /// Throws what the engine throws when it cannot start.
    explicit HeadlessEngine(const std::string& logFile = "");
    ~HeadlessEngine();
    HeadlessEngine(const HeadlessEngine&) = delete;
    HeadlessEngine& operator=(const HeadlessEngine&) = delete;

    Ogre::Root& root() const { return *m_root; }

    /// Adds @p directory to the resource group @p group and initialises the group, so that the
    /// meshes, materials and textures there are found by name.
    void addContentDirectory(const std::string& directory, const std::string& group);

    /// The host's scene manager: made on the first call, or on the first after
    /// destroySceneManager().
    Ogre::SceneManager* createSceneManager();
    /// The scene manager createSceneManager() made, or null.
    Ogre::SceneManager* sceneManager() const { return m_scene; }
    /// Destroys the scene manager with everything in it, as a host may.
    void destroySceneManager();

private:
    Ogre::LogManager* m_log = nullptr;
    Ogre::Root* m_root = nullptr;
    Ogre::HardwareBufferManagerBase* m_buffers = nullptr;
    Ogre::TextureManager* m_textures = nullptr;
    Ogre::SceneManager* m_scene = nullptr;
};

} // namespace avatar_support
