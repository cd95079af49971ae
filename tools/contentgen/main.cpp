// avatar-contentgen <outdir>: writes the sample content pack into outdir.

#include "contentpack.h"

#include <OgreDefaultHardwareBufferManager.h>
#include <OgreLogManager.h>
#include <OgreMaterialManager.h>
#include <OgreRoot.h>
#include <OgreTextureManager.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace
{
// Runs OGRE without a render system: buffers live in system memory, textures are never loaded.
class HeadlessOgre
{
public:
    explicit HeadlessOgre(const std::string& logFile)
    {
        // Keep the engine's log out of the build output; the log file still gets it.
        auto* logs = new Ogre::LogManager();
        logs->createLog(logFile, true, false, false);
        m_logs.reset(logs);
        m_root = std::make_unique<Ogre::Root>("", "", "");
        m_buffers = std::make_unique<Ogre::DefaultHardwareBufferManager>();
        m_textures = std::make_unique<Ogre::DefaultTextureManager>();
        Ogre::MaterialManager::getSingleton().initialise();
    }

    ~HeadlessOgre()
    {
        // Textures go before the root, whose resource groups they are registered with;
        // buffers go after it, since the root's meshes still hold them.
        Ogre::MaterialManager::getSingleton().removeAll();
        m_textures.reset();
        m_root.reset();
        m_buffers.reset();
        m_logs.reset();
    }

    HeadlessOgre(const HeadlessOgre&) = delete;
    HeadlessOgre& operator=(const HeadlessOgre&) = delete;

private:
    std::unique_ptr<Ogre::LogManager> m_logs;
    std::unique_ptr<Ogre::Root> m_root;
    std::unique_ptr<Ogre::DefaultHardwareBufferManager> m_buffers;
    std::unique_ptr<Ogre::DefaultTextureManager> m_textures;
};
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s <outdir>\n", argv[0]);
        return 2;
    }
    const std::string directory = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec)
    {
        std::fprintf(stderr, "avatar-contentgen: cannot create %s: %s\n", directory.c_str(), ec.message().c_str());
        return 1;
    }

    std::string error;
    bool ok = false;
    {
        HeadlessOgre ogre(directory + "/contentgen.log");
        ok = writeContentPack(directory, error);
    }
    if (!ok)
    {
        std::fprintf(stderr, "avatar-contentgen: %s\n", error.c_str());
        return 1;
    }
    std::printf("avatar-contentgen: content pack written to %s\n", directory.c_str());
    return 0;
}
