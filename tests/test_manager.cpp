#include "avatarsystem/avatarsystemmanager.h"
#include "avatarsystem/animationdb.h"
#include "avatarsystem/characterinstance.h"

#include "fakeinstance.h"
#include "headlessogre.h"

#include <OgreMesh.h>
#include <OgreMeshManager.h>
#include <OgreResourceGroupManager.h>

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{

AvatarSystemManager& manager()
{
    IAvatarSystem::getSingletonPtr();
    return AvatarSystemManager::getSingleton();
}

class ManagerCore : public ::testing::Test
{
protected:
    void TearDown() override { manager().release(); }

    /// A log that outlives TearDown, where release() disposes of the fakes that write to it.
    FakeInstance::Log& newLog()
    {
        m_logs.emplace_back();
        return m_logs.back();
    }

private:
    std::deque<FakeInstance::Log> m_logs;
};

} // namespace

TEST_F(ManagerCore, singletonIsConstructedOnceAndKeepsTheScene)
{
    IAvatarSystem* first = IAvatarSystem::getSingletonPtr();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(IAvatarSystem::getSingletonPtr(), first);
    EXPECT_EQ(&IAvatarSystem::getSingleton(), first);
    EXPECT_EQ(static_cast<IAvatarSystem*>(AvatarSystemManager::getSingletonPtr()), first);
    EXPECT_EQ(AvatarSystemManager::ms_IAvatarSystemSingleton, first);
    EXPECT_EQ(manager().getSceneMgr(), HeadlessOgre::sceneManager());
    EXPECT_EQ(manager().getTextureFilterType(), 3);
    EXPECT_FLOAT_EQ(manager().getLoadFrameTime(), 20.0f);
    manager().setLoadFrameTime(5.0f);
    EXPECT_FLOAT_EQ(manager().getLoadFrameTime(), 5.0f);
    manager().setEditorModel(true);
    EXPECT_TRUE(manager().isEditorModel());
    manager().setEditorModel(false);
}

TEST_F(ManagerCore, getDBOpensEachTableOnceAndRetriesMissingFiles)
{
    ScopedTempDir dir;
    for (int name : {0, 8, 18, 21, -1})
        EXPECT_EQ(manager().getDB(static_cast<DB_NAME_e>(name)), nullptr) << name;

    EXPECT_EQ(manager().getDB(DB_ANIMATION), nullptr) << "no file yet";
    dir.write("Animation.csv", "//AnimType,PlayType,BlendType,AnimName,IsMerge,expain\n1,0,0,Stand,1,idle\n");
    TextDataBase* table = manager().getDB(DB_ANIMATION);
    ASSERT_NE(table, nullptr) << "a later request tries again";
    EXPECT_EQ(table->getNumRecords(), 1u);
    dir.write("Animation.csv", "1,0,0,Stand,1,idle\n2,0,0,Walk,1,walk\n");
    EXPECT_EQ(manager().getDB(DB_ANIMATION), table) << "kept open, not re-read";
    EXPECT_EQ(manager().getDB(DB_ANIMATION)->getNumRecords(), 1u);

    manager().release();
    TextDataBase* reopened = manager().getDB(DB_ANIMATION);
    ASSERT_NE(reopened, nullptr);
    EXPECT_EQ(reopened->getNumRecords(), 2u) << "release closes the tables; they reopen on demand";
}

TEST_F(ManagerCore, aKeyedTableRewrittenThroughGetDBKeepsItsRows)
{
    ScopedTempDir dir;
    const std::string rows = "1,Helm,1,helm,,0,0,,,,2\n2,Sword,2,sword,,0,0,,,,2\n";
    dir.write("ItemDisplay.csv", rows);
    TextDataBase* items = manager().getDB(DB_ITEM);
    ASSERT_NE(items, nullptr);
    EXPECT_TRUE(items->rewrite());
    EXPECT_EQ(dir.read("ItemDisplay.csv"), rows);
}

TEST_F(ManagerCore, uniqueIdsGrowAndAreNeverReused)
{
    FakeInstance::Log& log = newLog();
    FakeInstance* a = registerFake(log, false);
    FakeInstance* b = registerFake(log, false);
    const unsigned first = static_cast<unsigned>(a->getUniqueID());
    EXPECT_EQ(b->getUniqueID(), first + 1);
    const unsigned long last = b->getUniqueID();
    manager().destroyInstance(last);
    delete b; // destroyInstance leaves the object to whoever still holds it
    manager().release();
    FakeInstance* c = registerFake(log, false);
    EXPECT_EQ(c->getUniqueID(), last + 1);
    EXPECT_EQ(manager().getInstance(first), nullptr);
}

TEST_F(ManagerCore, updateBuildsOneQueuedAvatarPerFrame)
{
    FakeInstance::Log& log = newLog();
    registerFake(log, true);
    registerFake(log, true);
    registerFake(log, true);
    EXPECT_EQ(log.creates, 0);
    for (int frame = 1; frame <= 3; ++frame)
    {
        manager().update(0.016f);
        EXPECT_EQ(log.creates, frame);
    }
    manager().update(0.016f);
    EXPECT_EQ(log.creates, 3);
    EXPECT_EQ(manager().getNumRequests(), 0u);
}

TEST_F(ManagerCore, requestOfAGoneAvatarIsDroppedWithoutBuilding)
{
    FakeInstance::Log& log = newLog();
    FakeInstance* gone = registerFake(log, true);
    manager().destroyInstance(gone->getUniqueID());
    EXPECT_EQ(log.destroys, 1);
    manager().destroyInstance(gone->getUniqueID());
    EXPECT_EQ(log.destroys, 1) << "a second destroy of the same ID does nothing";
    manager().update(0.0f);
    EXPECT_EQ(log.creates, 0);
    EXPECT_EQ(manager().getNumRequests(), 0u);
    delete gone; // destroyInstance leaves the object to whoever still holds it
}

TEST_F(ManagerCore, waitingAndFailingRequestsDoNotBlockTheQueue)
{
    FakeInstance::Log& waitingLog = newLog();
    FakeInstance::Log& failingLog = newLog();
    FakeInstance::Log& goodLog = newLog();
    FakeInstance* waiting = registerFake(waitingLog, true);
    waiting->ready = false;
    registerFake(failingLog, true, false);
    registerFake(goodLog, true);

    manager().update(0.0f);
    EXPECT_EQ(waitingLog.creates, 0);
    EXPECT_EQ(failingLog.creates, 1);
    EXPECT_EQ(goodLog.creates, 0) << "at most one build per frame";
    manager().update(0.0f);
    EXPECT_EQ(goodLog.creates, 1) << "the failed build went to the back";
    manager().update(0.0f);
    EXPECT_EQ(failingLog.creates, 2) << "and is retried";
    EXPECT_EQ(waitingLog.creates, 0);

    waiting->ready = true;
    manager().update(0.0f);
    EXPECT_EQ(waitingLog.creates, 1) << "the waiting request kept its place at the front";
}

TEST_F(ManagerCore, releaseDestroysAndDisposesEverythingIncludingFadedAvatars)
{
    FakeInstance::Log& log = newLog();
    registerFake(log, true);
    FakeInstance* faded = registerFake(log, false);
    manager().fadeOut(faded->getUniqueID());
    EXPECT_EQ(manager().getInstance(static_cast<unsigned>(faded->getUniqueID())), nullptr);
    EXPECT_EQ(log.destroys, 0) << "a faded avatar stays as it is";
    ASSERT_EQ(manager().getFadeList().size(), 1u);

    manager().release();
    EXPECT_EQ(log.destroys, 2);
    EXPECT_EQ(log.disposed, 2);
    EXPECT_EQ(manager().getNumInstances(), 0u);
    EXPECT_EQ(manager().getNumRequests(), 0u);
    EXPECT_TRUE(manager().getFadeList().empty());
}

TEST_F(ManagerCore, aHostThatDeletesNothingLeaksNothingAndMayFreeEarlierOrDeleteItself)
{
    FakeInstance::Log& log = newLog();
    FakeInstance* freed = registerFake(log, false);
    FakeInstance* hostDeleted = registerFake(log, false);
    FakeInstance* left = registerFake(log, false);
    FakeInstance* faded = registerFake(log, false);
    FakeInstance* registered = registerFake(log, false);
    for (FakeInstance* gone : {freed, hostDeleted, left})
        manager().destroyInstance(gone->getUniqueID());
    manager().fadeOut(faded->getUniqueID());
    EXPECT_EQ(log.disposed, 0) << "the host's pointers stay valid";

    EXPECT_TRUE(manager().freeInstance(freed));
    EXPECT_EQ(log.disposed, 1);
    EXPECT_FALSE(manager().freeInstance(freed)) << "freed once";
    EXPECT_FALSE(manager().freeInstance(registered)) << "a registered avatar is not the host's to free";
    EXPECT_FALSE(manager().freeInstance(nullptr));
    delete hostDeleted;
    EXPECT_EQ(manager().getDestroyedList(), std::vector<IInstance*>{left});

    manager().release();
    EXPECT_EQ(log.disposed, 5) << "release frees the destroyed, the faded and the registered, each once";
    EXPECT_EQ(log.destroys, 5);
    EXPECT_TRUE(manager().getDestroyedList().empty());
}

TEST_F(ManagerCore, textureFilterAndTransparencyReachRegisteredAvatars)
{
    FakeInstance::Log& kept = newLog();
    FakeInstance::Log& faded = newLog();
    registerFake(kept, false);
    FakeInstance* gone = registerFake(faded, false);
    manager().fadeOut(gone->getUniqueID());
    manager().setTextureFilter(0);
    EXPECT_EQ(manager().getTextureFilterType(), 0);
    EXPECT_EQ(kept.lastFilter, 0);
    EXPECT_EQ(faded.lastFilter, -100) << "faded avatars are skipped";
    manager().setTextureFilter(3);

    manager().setInstanceTransoarency(nullptr, 0.5f);
    FakeInstance::Log& direct = newLog();
    FakeInstance unregistered(direct);
    manager().setInstanceTransoarency(&unregistered, 0.5f);
    EXPECT_FLOAT_EQ(direct.lastAlpha, 0.5f);
    EXPECT_TRUE(direct.lastFromOutside);
}

TEST_F(ManagerCore, preBuildingWithoutBodyMeshesFillsNoPoolAndLeavesNoEmptyMesh)
{
    Ogre::ResourceGroupManager& groups = Ogre::ResourceGroupManager::getSingleton();
    if (groups.resourceExistsInAnyGroup("HumanMale.mesh") || groups.resourceExistsInAnyGroup("HumanFemale.mesh"))
        GTEST_SKIP() << "another test of this process registered the body meshes";
    const OgreCounts before = OgreCounts::now();
    EXPECT_NO_THROW(manager().preBuildEntityBuffer(3));
    EXPECT_TRUE(CharacterInstance::s_maleEntityPool.empty());
    EXPECT_TRUE(CharacterInstance::s_femaleEntityPool.empty());
    EXPECT_EQ(OgreCounts::now(), before);
    // OGRE would keep an empty, unloaded mesh of each name, which a host's later real mesh could not replace.
    EXPECT_FALSE(Ogre::MeshManager::getSingleton().getByName("HumanMale.mesh", Ogre::RGN_AUTODETECT));
    EXPECT_FALSE(Ogre::MeshManager::getSingleton().getByName("HumanFemale.mesh", Ogre::RGN_AUTODETECT));
}

TEST_F(ManagerCore, aTablePathThatIsADirectoryIsAMissingTable)
{
    ScopedTempDir dir;
    ASSERT_EQ(::mkdir("Creature.csv", 0755), 0);
    EXPECT_EQ(manager().getDB(DB_CREATURE), nullptr);
    EXPECT_NO_THROW(manager().createCreature("Wolf")) << "built from an empty setting, as for a missing row";
    EXPECT_EQ(manager().getHeadImageFromId(5, nullptr), nullptr);
}

TEST_F(ManagerCore, aHeadImageIsCutToTheBufferTheHeaderPromises)
{
    ScopedTempDir dir;
    const std::size_t limit = IAvatarSystem::HeadImageBufferSize;
    std::string row = "5,1,Wolf,wolf.mesh,0,0,0,0,0," + std::string(limit + 40, 'h');
    for (int column = 10; column < 30; ++column)
        row += ",1";
    dir.write("Creature.csv", row + "\n");
    std::vector<char> buffer(limit + 64, '#');
    const char* image = manager().getHeadImageFromId(5, buffer.data());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(std::strlen(image), limit + 40) << "the result is the row's own text";
    EXPECT_EQ(std::string(buffer.data()), std::string(limit - 1, 'h'));
    EXPECT_EQ(std::string(buffer.begin() + limit, buffer.end()), std::string(64, '#')) << "nothing past the limit";
}
