#include "support/headlessengine.h"
#include "avatarsystem/detail/contentrules.h"

#include <OgreDefaultHardwareBufferManager.h>
#include <OgreLogManager.h>
#include <OgreMaterialManager.h>
#include <OgreResourceGroupManager.h>
#include <OgreRoot.h>
#include <OgreSceneManager.h>
#include <OgreTextureManager.h>

namespace avatar_support
{

const char* const kSceneManagerName = avatar_rules::kSceneManagerName;

HeadlessEngine::HeadlessEngine(const std::string& logFile)
{
    // A log of our own before the root keeps the engine off the console (programs print their
    // own reports, tests capture standard output); the root then uses it.
    m_log = new Ogre::LogManager();
    const bool noFile = logFile.empty();
    m_log->createLog(noFile ? "headless.log" : logFile, true, false, noFile);
    m_root = new Ogre::Root("", "", "");
    m_buffers = new Ogre::DefaultHardwareBufferManager();
    m_textures = new Ogre::DefaultTextureManager();
    Ogre::MaterialManager::getSingleton().initialise();
}

HeadlessEngine::~HeadlessEngine()
{
    // Resources are unloaded while the buffer and texture managers they were made with still
    // exist; the managers go before the root, the log last.
    m_root->shutdown();
    delete m_textures;
    delete m_buffers;
    delete m_root;
    delete m_log;
}

void HeadlessEngine::addContentDirectory(const std::string& directory, const std::string& group)
{
    Ogre::ResourceGroupManager& groups = Ogre::ResourceGroupManager::getSingleton();
    groups.addResourceLocation(directory, "FileSystem", group);
    groups.initialiseResourceGroup(group);
}

Ogre::SceneManager* HeadlessEngine::createSceneManager()
{
    if (!m_scene)
        m_scene = m_root->createSceneManager(Ogre::DefaultSceneManagerFactory::FACTORY_TYPE_NAME, kSceneManagerName);
    return m_scene;
}

void HeadlessEngine::destroySceneManager()
{
    if (m_scene)
        m_root->destroySceneManager(m_scene);
    m_scene = nullptr;
}

} // namespace avatar_support
