// Runs in its own process whose OGRE root has no "Everwind" scene manager.
#include "avatarsystem/avatarsystemmanager.h"

#include <gtest/gtest.h>

TEST(WithoutSceneManager, theSystemExistsButCreatesNothing)
{
    IAvatarSystem* system = IAvatarSystem::getSingletonPtr();
    ASSERT_NE(system, nullptr);
    AvatarSystemManager& manager = AvatarSystemManager::getSingleton();
    EXPECT_EQ(manager.getSceneMgr(), nullptr);
    PlayerSetting_t player;
    EXPECT_EQ(system->createPlayer(player, nullptr), nullptr);
    EXPECT_EQ(system->createCreature(CreatureSetting_t(), nullptr), nullptr);
    EXPECT_EQ(manager.getLastUniqueID(), 0u) << "no unique ID is consumed";
    system->update(0.1f);
    system->release();
}
