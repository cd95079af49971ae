#include "headlessogre.h"

#include <Ogre.h>
#include <OgreDefaultHardwareBufferManager.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace
{
Ogre::SceneManager* s_sceneManager = nullptr;
}

void HeadlessOgre::SetUp()
{
    // A log of our own keeps OGRE quiet on the console (tests capture standard output).
    m_log = new Ogre::LogManager();
    m_log->createLog("tests.log", true, false, false);
    m_root = new Ogre::Root("", "", "tests.log");
    m_buffers = new Ogre::DefaultHardwareBufferManager();
    m_textures = new Ogre::DefaultTextureManager();
    Ogre::MaterialManager::getSingleton().initialise();
    if (m_createSceneManager)
        s_sceneManager = m_root->createSceneManager(Ogre::DefaultSceneManagerFactory::FACTORY_TYPE_NAME, "Everwind");
}

void HeadlessOgre::TearDown()
{
    // Resources go while the buffer and texture managers they were made with still exist.
    m_root->shutdown();
    delete m_textures;
    delete m_buffers;
    delete m_root;
    delete m_log;
    s_sceneManager = nullptr;
}

Ogre::SceneManager* HeadlessOgre::sceneManager()
{
    return s_sceneManager;
}

ScopedTempDir::ScopedTempDir()
{
    char cwd[4096];
    if (getcwd(cwd, sizeof(cwd)))
        m_previous = cwd;
    char pattern[] = "/tmp/avatartest.XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made)
        throw std::runtime_error("cannot make a temporary directory");
    m_path = made;
    if (chdir(m_path.c_str()) != 0)
        throw std::runtime_error("cannot enter the temporary directory");
}

ScopedTempDir::~ScopedTempDir()
{
    if (!m_previous.empty() && chdir(m_previous.c_str()) != 0)
        std::abort();
    const std::string command = "rm -rf '" + m_path + "'";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", m_path.c_str());
}

void ScopedTempDir::write(const std::string& name, const std::string& bytes) const
{
    std::ofstream out(m_path + "/" + name, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string ScopedTempDir::read(const std::string& name) const
{
    std::ifstream in(m_path + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

OgreCounts OgreCounts::now()
{
    OgreCounts counts;
    if (s_sceneManager)
    {
        for (const auto& type : {"Entity", "BillboardSet", "ParticleSystem", "ManualObject", "Light"})
        {
            const std::size_t n = s_sceneManager->getMovableObjects(type).size();
            counts.movables += n;
            if (std::string(type) == "Entity")
                counts.entities = n;
        }
    }
    auto it = Ogre::MaterialManager::getSingleton().getResourceIterator();
    for (; it.hasMoreElements(); it.moveNext())
        ++counts.materials;
    return counts;
}

std::ostream& operator<<(std::ostream& os, const OgreCounts& c)
{
    return os << "{entities " << c.entities << ", materials " << c.materials << ", movables " << c.movables << "}";
}

RecordingLog::RecordingLog() : m_log(Ogre::LogManager::getSingleton().getDefaultLog())
{
    m_previousDetail = m_log->getLogDetail();
    m_log->setLogDetail(Ogre::LL_BOREME);
    m_log->addListener(this);
}

RecordingLog::~RecordingLog()
{
    m_log->removeListener(this);
    m_log->setLogDetail(m_previousDetail);
}

int RecordingLog::count(Ogre::LogMessageLevel level, std::initializer_list<std::string> texts) const
{
    int n = 0;
    for (const auto& entry : messages)
    {
        bool all = entry.second == level;
        for (const std::string& text : texts)
            all = all && entry.first.find(text) != std::string::npos;
        n += all ? 1 : 0;
    }
    return n;
}
