#include "headlessogre.h"

#include "support/headlessengine.h"

#include <Ogre.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace
{
std::unique_ptr<avatar_support::HeadlessEngine> s_engine;
}

void HeadlessOgre::SetUp()
{
    // The log goes to a file: tests capture standard output.
    s_engine = std::make_unique<avatar_support::HeadlessEngine>("tests.log");
    if (m_createSceneManager)
        s_engine->createSceneManager();
}

void HeadlessOgre::TearDown()
{
    s_engine.reset();
}

Ogre::SceneManager* HeadlessOgre::sceneManager()
{
    return s_engine ? s_engine->sceneManager() : nullptr;
}

void HeadlessOgre::destroySceneManager()
{
    if (s_engine)
        s_engine->destroySceneManager();
}

Ogre::SceneManager* HeadlessOgre::createSceneManager()
{
    return s_engine ? s_engine->createSceneManager() : nullptr;
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
    if (Ogre::SceneManager* scene = HeadlessOgre::sceneManager())
    {
        for (const auto& type : {"Entity", "BillboardSet", "ParticleSystem", "ManualObject", "Light"})
        {
            const std::size_t n = scene->getMovableObjects(type).size();
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
