// libFuzzer target: arbitrary bytes as a host's calls on the sample content pack (fuzz/hostinput.h).
// One headless engine serves the whole process; every input must leave the world as it found it.
//   AVATAR_CONTENT_DIR=build/content  (the pack; defaults to the one this build generated)

#include "fuzz/hostinput.h"
#include "avatarsystem/detail/contentrules.h"

#include <Ogre.h>
#include <OgreDefaultHardwareBufferManager.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace
{
Ogre::SceneManager* s_scene = nullptr;
std::string s_content;
std::string s_startDir;

void enter(const std::string& dir)
{
    if (chdir(dir.c_str()) != 0)
    {
        std::fprintf(stderr, "fuzz_hostinterface: cannot enter %s\n", dir.c_str());
        std::abort();
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* content = std::getenv("AVATAR_CONTENT_DIR");
    s_content = content ? content : AVATARSYSTEM_CONTENT_DIR;
    char cwd[4096];
    s_startDir = getcwd(cwd, sizeof(cwd)) ? cwd : ".";
    // The engine lives as long as the process; its log goes nowhere.
    auto* log = new Ogre::LogManager();
    log->createLog("fuzz_hostinterface.log", true, false, true);
    auto* root = new Ogre::Root("", "", "");
    new Ogre::DefaultHardwareBufferManager();
    new Ogre::DefaultTextureManager();
    Ogre::MaterialManager::getSingleton().initialise();
    s_scene =
        root->createSceneManager(Ogre::DefaultSceneManagerFactory::FACTORY_TYPE_NAME, avatar_rules::kSceneManagerName);
    Ogre::ResourceGroupManager& groups = Ogre::ResourceGroupManager::getSingleton();
    groups.addResourceLocation(s_content, "FileSystem", "Content");
    groups.initialiseResourceGroup("Content");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The tables are read by bare file name from the current directory; the fuzzer's own paths
    // are relative to the directory it started in.
    enter(s_content);
    const std::vector<std::string> problems = hostfuzz::runHostInput(data, size, s_scene);
    enter(s_startDir);
    for (const std::string& problem : problems)
        std::fprintf(stderr, "fuzz_hostinterface: %s\n", problem.c_str());
    if (!problems.empty())
        __builtin_trap();
    return 0;
}
