#pragma once

#include <OgreLog.h>
#include <OgrePrerequisites.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

/// One OGRE root without a render system and the host's "Everwind" scene manager,
/// shared by every test of the binary (the avatar system keeps the scene manager it found).
class HeadlessOgre : public ::testing::Environment
{
public:
    /// createSceneManager false leaves the root without the host's scene manager.
    explicit HeadlessOgre(bool createSceneManager = true) : m_createSceneManager(createSceneManager) {}
    void SetUp() override;
    void TearDown() override;

    static Ogre::SceneManager* sceneManager();
    /// Destroys the host's scene manager with everything in it, as a host may; the next
    /// createSceneManager() makes a new "Everwind".
    static void destroySceneManager();
    static Ogre::SceneManager* createSceneManager();

private:
    bool m_createSceneManager;
};

/// A fresh temporary directory made the current directory for its lifetime
/// (tables are read by bare file name from the current directory).
class ScopedTempDir
{
public:
    ScopedTempDir();
    ~ScopedTempDir();
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;

    const std::string& path() const { return m_path; }
    /// Writes a file in the directory, byte for byte.
    void write(const std::string& name, const std::string& bytes) const;
    /// Reads a whole file of the directory.
    std::string read(const std::string& name) const;

private:
    std::string m_path;
    std::string m_previous;
};

/// Counts of the objects the host sees in OGRE's managers.
struct OgreCounts
{
    std::size_t entities = 0;
    std::size_t materials = 0;
    std::size_t movables = 0;

    static OgreCounts now();
    bool operator==(const OgreCounts& o) const
    {
        return entities == o.entities && materials == o.materials && movables == o.movables;
    }
};
std::ostream& operator<<(std::ostream& os, const OgreCounts& c);

/// Reads OGRE's default log as a host's log listener would, at every level (trivial included)
/// while it lives.
class RecordingLog final : public Ogre::LogListener
{
public:
    RecordingLog();
    ~RecordingLog() override;
    RecordingLog(const RecordingLog&) = delete;
    RecordingLog& operator=(const RecordingLog&) = delete;

    void messageLogged(const Ogre::String& message, Ogre::LogMessageLevel level, bool, const Ogre::String&,
                       bool&) override
    {
        messages.emplace_back(message, level);
    }
    /// How many messages at level contain every one of the texts.
    int count(Ogre::LogMessageLevel level, std::initializer_list<std::string> texts) const;

    std::vector<std::pair<std::string, Ogre::LogMessageLevel>> messages;

private:
    Ogre::Log* m_log;
    Ogre::LoggingLevel m_previousDetail;
};
