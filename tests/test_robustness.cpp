// What a host may do that the system must survive: queued copies of presets, host objects that
// throw, a scene cleared or destroyed under the avatars, effects freed by the effect library,
// and a destroyed avatar built again.
#include "avatarsystem/attachmodel.h"
#include "avatarsystem/characterinstance.h"
#include "avatarsystem/creatureinstance.h"
#include "effects/effectmanager.h"

#include "packsystem.h"
#include "contentpack.h"
#include "hostrecorders.h"
#include "headlessogre.h"

#include <OgreEntity.h>
#include <OgreSceneManager.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace
{

class Robustness : public PackSystemTest
{
protected:
    ENTITY_CALLBACK* callbackFor(IEntityView* view, int type = 0)
    {
        auto* callback = new ENTITY_CALLBACK();
        callback->type = type;
        callback->view = view;
        return callback;
    }
    void frames(int count)
    {
        for (int i = 0; i < count; ++i)
            system->update(0.05f);
    }

    std::size_t effectsBefore = 0;
};

/// A host view whose every notification throws after recording it.
class ThrowingView final : public RecordingView
{
public:
    void onInstanceReady(IInstance* instance, int zero) override
    {
        RecordingView::onInstanceReady(instance, zero);
        throw std::runtime_error("host view failed");
    }
    void onCreatureReadyA(IInstance* instance, float bias) override
    {
        RecordingView::onCreatureReadyA(instance, bias);
        throw std::runtime_error("host view failed");
    }
};

} // namespace

TEST_F(Robustness, copiesReplacementsAndEffectChangesOfPresetsAreBuilt)
{
    IInstance* warrior = system->createPlayer(std::string("Warrior"));
    ASSERT_NE(warrior->getEntityPtr(), nullptr);

    RecordingCopyCallbacks copyCallbacks;
    IInstance* copy = system->clonePlayer("Mirror", warrior, &copyCallbacks, &copyCallbacks);
    frames(1);
    EXPECT_NE(copy->getEntityPtr(), nullptr);
    EXPECT_EQ(copyCallbacks.calls, (std::vector<std::string>{"player", "copy"}));

    // Another preset's setting on the live avatar, then an effect change: both rebuild.
    ASSERT_TRUE(system->replacePlayer(manager->getPorpertiesFromDB("Archer"), warrior));
    frames(1);
    EXPECT_EQ(static_cast<CharacterInstance*>(warrior)->getAppliedProperties().head,
              manager->getPorpertiesFromDB("Archer").head);
    const WeaponEffectVisible all{1, 1, 1, 1, 1, 1, 1};
    warrior->settingEquipEffect(&all);
    frames(1);
    EXPECT_EQ(manager->getNumRequests(), 0u) << "nothing waits in the queue";
    EXPECT_EQ(static_cast<CharacterInstance*>(warrior)->getAppliedProperties().weaponEffect.leftHandEffect, 1u);
}

TEST_F(Robustness, aHostObjectThatThrowsHearsOfTheBuildOnceAndTheBuildStands)
{
    ThrowingView view;
    IInstance* player = system->createPlayer(manager->getPorpertiesFromDB("Warrior"), callbackFor(&view));
    IInstance* creature = system->createCreature(1ul, callbackFor(&view, 1));
    frames(5);
    ASSERT_EQ(view.calls.size(), 2u) << "each avatar is announced once, not on every frame";
    EXPECT_EQ(view.calls[0].instance, player);
    EXPECT_EQ(view.calls[1].instance, creature);
    EXPECT_NE(player->getEntityPtr(), nullptr);
    EXPECT_NE(creature->getEntityPtr(), nullptr);
    EXPECT_EQ(manager->getNumRequests(), 0u);
    // A creature built at once, its view throwing from inside the host's own call.
    EXPECT_NO_THROW(system->createCreature(manager->getCreatureFromDB(2ul), nullptr));
}

TEST_F(Robustness, aDestroyedAvatarIsNeverBuiltAgain)
{
    RecordingView view;
    IInstance* player = system->createPlayer(manager->getPorpertiesFromDB("Warrior"), callbackFor(&view));
    IInstance* creature = system->createCreature(1ul, callbackFor(&view));
    system->destroyInstance(player->getUniqueID());
    system->destroyInstance(creature->getUniqueID());
    EXPECT_FALSE(player->create());
    EXPECT_FALSE(creature->create());
    frames(2);
    EXPECT_EQ(player->getEntityPtr(), nullptr);
    EXPECT_EQ(creature->getEntityPtr(), nullptr);
    EXPECT_TRUE(view.calls.empty());
    EXPECT_EQ(OgreCounts::now(), before);

    // Built, destroyed, then asked again: a creature is not rebuilt either.
    IInstance* built = system->createCreature(std::string("Grey Wolf"));
    ASSERT_NE(built->getEntityPtr(), nullptr);
    system->destroyInstance(built->getUniqueID());
    EXPECT_FALSE(built->create());
    EXPECT_EQ(OgreCounts::now(), before);
    delete static_cast<CharacterInstance*>(player);
    delete static_cast<CreatureInstance*>(creature);
    delete static_cast<CreatureInstance*>(built);
}

TEST_F(Robustness, effectsFreedByTheEffectLibraryAreNoticed)
{
    auto* whelp = static_cast<CreatureInstance*>(system->createCreature(std::string("Dragon Whelp")));
    PlayerSetting_t archer = manager->getPorpertiesFromDB("Archer");
    archer.weaponEffect = WeaponEffectVisible{1, 1, 1, 1, 1, 1, 1};
    auto* player = static_cast<CharacterInstance*>(system->createPlayer(archer, nullptr));
    ASSERT_NE(whelp->getEffect(0), nullptr);
    ASSERT_NE(player->getLeftWeapon(), nullptr);
    ASSERT_NE(player->getLeftWeapon()->getEffect(), nullptr);

    effects->freeAll();
    EXPECT_EQ(whelp->getEffect(0), nullptr);
    EXPECT_EQ(player->getLeftWeapon()->getEffect(), nullptr);
    // Opacity shows and hides the effects; filtering, rebuilds and destroy touch them too.
    whelp->setInstanceTransoarency(0.5f, true);
    whelp->setInstanceTransoarency(1.0f, true);
    player->setInstanceTransoarency(0.5f, true);
    player->getLeftWeapon()->setEffectVisible(true);
    system->replacePlayer(manager->getPorpertiesFromDB("Warrior"), player);
    frames(1);
    system->destroyInstance(whelp->getUniqueID());
    system->destroyInstance(player->getUniqueID());
    delete whelp;
    delete player;
}

TEST_F(Robustness, aClearedSceneTakesThePooledBodiesAndTheAvatarsLetGo)
{
    Ogre::SceneManager* scene = HeadlessOgre::sceneManager();
    system->preBuildEntityBuffer(2);
    IInstance* player = system->createPlayer(std::string("Warrior"));
    IInstance* creature = system->createCreature(std::string("Dragon Whelp"));
    player->playAnimation(AnimationType(1), BLEND_IMMEDIATE, 0.0f, nullptr, true);
    ASSERT_EQ(CharacterInstance::s_maleEntityPool.size(), 1u);

    scene->clearScene();
    EXPECT_TRUE(CharacterInstance::s_maleEntityPool.empty());
    EXPECT_TRUE(CharacterInstance::s_femaleEntityPool.empty());
    EXPECT_EQ(player->getEntityPtr(), nullptr);
    EXPECT_EQ(creature->getEntityPtr(), nullptr);
    player->update(true, 0.1f);
    player->setInstanceTransoarency(0.5f, true);
    creature->setHighLight(true);

    // The system goes on: new avatars are built, the old ones go without touching freed objects.
    IInstance* again = system->createPlayer(std::string("Warrior"));
    EXPECT_NE(again->getEntityPtr(), nullptr);
    system->destroyInstance(player->getUniqueID());
    system->destroyInstance(creature->getUniqueID());
    system->release();
    EXPECT_TRUE(CharacterInstance::s_maleEntityPool.empty()) << "release empties the pools";
    EXPECT_EQ(OgreCounts::now(), before) << "no material copy outlives its avatar";
}

TEST_F(Robustness, aDestroyedSceneManagerIsForgottenAndANewOneServes)
{
    system->preBuildEntityBuffer(1);
    IInstance* player = system->createPlayer(std::string("Archer"));
    IInstance* creature = system->createCreature(std::string("Dragon Whelp"));
    ASSERT_NE(player->getEntityPtr(), nullptr);

    HeadlessOgre::destroySceneManager();
    EXPECT_EQ(manager->getSceneMgr(), nullptr);
    EXPECT_EQ(player->getEntityPtr(), nullptr);
    EXPECT_EQ(creature->getEntityPtr(), nullptr);
    EXPECT_TRUE(CharacterInstance::s_maleEntityPool.empty());
    EXPECT_EQ(system->createPlayer(std::string("Warrior")), nullptr) << "no scene, no avatar";

    Ogre::SceneManager* fresh = HeadlessOgre::createSceneManager();
    EXPECT_EQ(manager->getSceneMgr(), fresh);
    IInstance* next = system->createPlayer(std::string("Warrior"));
    ASSERT_NE(next->getEntityPtr(), nullptr);
    EXPECT_EQ(next->getEntityPtr()->_getManager(), fresh);
    system->destroyInstance(player->getUniqueID());
    system->release();
}
