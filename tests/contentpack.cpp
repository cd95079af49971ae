#include "contentpack.h"

#include <OgreResourceGroupManager.h>

#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

#ifndef AVATARSYSTEM_CONTENT_DIR
#error "the tests need the generated content pack"
#endif

namespace
{
bool s_registered = false;
}

const char* ContentDir::path()
{
    return AVATARSYSTEM_CONTENT_DIR;
}

ContentDir::ContentDir()
{
    char cwd[4096];
    if (getcwd(cwd, sizeof(cwd)))
        m_previous = cwd;
    if (!s_registered)
    {
        Ogre::ResourceGroupManager& groups = Ogre::ResourceGroupManager::getSingleton();
        if (!groups.resourceGroupExists("Content"))
        {
            groups.addResourceLocation(path(), "FileSystem", "Content");
            groups.initialiseResourceGroup("Content");
        }
        s_registered = true;
    }
    if (chdir(path()) != 0)
        throw std::runtime_error("cannot enter the content pack");
}

ContentDir::~ContentDir()
{
    if (!m_previous.empty() && chdir(m_previous.c_str()) != 0)
        std::abort();
}
