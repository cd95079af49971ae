#pragma once

#include "avatarsystem/characterinstance.h"
#include "effects/effectmanager.h"

#include "contentpack.h"
#include "headlessogre.h"

#include <gtest/gtest.h>

/// A test of the system as a host drives it on the content pack: the pack is the current
/// directory, the body pools start empty, and release() at the end must leave OGRE's objects and
/// the effect library as they were.
class PackSystemTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        system = IAvatarSystem::getSingletonPtr();
        manager = &AvatarSystemManager::getSingleton();
        effects = EffectManager::getSingletonPtr();
        // The effects table is read from the directory current at the first look-up.
        effects->reloadTable();
        CharacterInstance::clearEntityPools();
        before = OgreCounts::now();
        effectsBefore = effects->getNumEffects();
    }
    void TearDown() override
    {
        system->release();
        EXPECT_EQ(OgreCounts::now(), before) << "release leaves nothing of the avatars behind";
        EXPECT_EQ(effects->getNumEffects(), effectsBefore) << "every effect an avatar made is freed";
        effects->reloadTable();
    }

    ContentDir content;
    IAvatarSystem* system = nullptr;
    AvatarSystemManager* manager = nullptr;
    EffectManager* effects = nullptr;
    OgreCounts before;
    std::size_t effectsBefore = 0;
};
