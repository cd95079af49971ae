// The system as a host drives it: through IAvatarSystem, on the sample content pack.
#include "avatarsystem/characterinstance.h"
#include "avatarsystem/creaturedb.h"
#include "avatarsystem/creatureinstance.h"

#include "contentpack.h"
#include "hostrecorders.h"
#include "headlessogre.h"

#include <OgreEntity.h>
#include <OgreMaterial.h>
#include <OgreMesh.h>
#include <OgrePass.h>
#include <OgreSubEntity.h>
#include <OgreTechnique.h>
#include <OgreTextureUnitState.h>
#include <OgreSceneManager.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

class AvatarSystem : public ::testing::Test
{
protected:
    void SetUp() override
    {
        system = IAvatarSystem::getSingletonPtr();
        manager = &AvatarSystemManager::getSingleton();
        CharacterInstance::clearEntityPools();
        before = OgreCounts::now();
    }
    void TearDown() override
    {
        system->release();
        CharacterInstance::clearEntityPools();
        // The pack lives in a resource group of its own, as a host's may: copies there must go too.
        EXPECT_EQ(OgreCounts::now(), before) << "release leaves nothing of the avatars behind";
    }

    ENTITY_CALLBACK* callbackFor(IEntityView* view)
    {
        auto* callback = new ENTITY_CALLBACK();
        callback->view = view;
        return callback;
    }

    PlayerSetting_t preset(const char* name) { return manager->getPorpertiesFromDB(name); }

    ContentDir content;
    IAvatarSystem* system = nullptr;
    AvatarSystemManager* manager = nullptr;
    OgreCounts before;
};

} // namespace

TEST_F(AvatarSystem, playersAreBuiltAtOnceWithoutCallbackAndQueuedWithOne)
{
    IInstance* now = system->createPlayer(preset("Warrior"), nullptr);
    ASSERT_NE(now, nullptr);
    EXPECT_NE(now->getEntityPtr(), nullptr) << "built in the creating call";
    EXPECT_EQ(now->getEntityPtr()->getName(), "Warrior" + std::to_string(now->getUniqueID()) + "_Player");

    RecordingView view;
    IInstance* later = system->createPlayer(preset("Archer"), callbackFor(&view));
    ASSERT_NE(later, nullptr);
    EXPECT_EQ(later->getUniqueID(), now->getUniqueID() + 1);
    EXPECT_EQ(later->getEntityPtr(), nullptr);
    EXPECT_EQ(manager->getInstance(static_cast<unsigned>(later->getUniqueID())), later);
    system->update(0.016f);
    EXPECT_NE(later->getEntityPtr(), nullptr);
    ASSERT_EQ(view.calls.size(), 1u);
    EXPECT_EQ(view.calls[0].instance, later);
}

TEST_F(AvatarSystem, createdByNameAndIdFromTheirTables)
{
    IInstance* warrior = system->createPlayer(std::string("Warrior"));
    ASSERT_NE(warrior, nullptr);
    EXPECT_EQ(warrior->getName(), "Warrior");
    EXPECT_NE(warrior->getEntityPtr(), nullptr);

    IInstance* golem = system->createCreature(std::string("Stone Golem"));
    ASSERT_NE(golem, nullptr);
    EXPECT_EQ(static_cast<CreatureInstance*>(golem)->getProperties().ID, 10001u);
    EXPECT_NE(golem->getEntityPtr(), nullptr);

    IInstance* smith = manager->createNpc("Blacksmith");
    ASSERT_NE(smith, nullptr);
    EXPECT_EQ(static_cast<CreatureInstance*>(smith)->getProperties().ID, 30000u);
    IInstance* chest = manager->createObject("Treasure Chest");
    ASSERT_NE(chest, nullptr);
    EXPECT_EQ(static_cast<CreatureInstance*>(chest)->getProperties().ID, 37000u);
    EXPECT_NE(chest->getEntityPtr(), nullptr);

    RecordingView view;
    IInstance* byId = system->createCreature(10001ul, callbackFor(&view));
    EXPECT_EQ(byId->getEntityPtr(), nullptr);
    system->update(0.0f);
    EXPECT_NE(byId->getEntityPtr(), nullptr);
}

TEST_F(AvatarSystem, unknownNamesAndForeignIdsRegisterAnAvatarThatCannotBeBuilt)
{
    IInstance* nobody = system->createCreature(std::string("Nobody At All"));
    ASSERT_NE(nobody, nullptr);
    EXPECT_EQ(static_cast<CreatureInstance*>(nobody)->getProperties().ID, 0u);
    EXPECT_EQ(nobody->getEntityPtr(), nullptr);
    EXPECT_EQ(manager->getInstance(static_cast<unsigned>(nobody->getUniqueID())), nobody);

    // Creatures by ID look in the creature table only: an NPC ID finds no row there.
    RecordingView view;
    IInstance* npcById = system->createCreature(30000ul, callbackFor(&view));
    EXPECT_EQ(static_cast<CreatureInstance*>(npcById)->getProperties().ID, 0u);
    IInstance* copy = system->cloneCreature(37000ul, nullptr, nullptr);
    EXPECT_EQ(static_cast<CreatureInstance*>(copy)->getProperties().ID, 0u);
}

TEST_F(AvatarSystem, twoQueuedCreaturesAreBuiltOnePerFrame)
{
    RecordingView view;
    IInstance* first = system->createCreature(1ul, callbackFor(&view));
    IInstance* second = system->createCreature(2ul, callbackFor(&view));
    system->update(0.016f);
    EXPECT_NE(first->getEntityPtr(), nullptr);
    EXPECT_EQ(second->getEntityPtr(), nullptr);
    system->update(0.016f);
    EXPECT_NE(second->getEntityPtr(), nullptr);
}

TEST_F(AvatarSystem, aPlayerWaitingForRenderObjDoesNotHoldUpTheQueue)
{
    RecordingView view;
    PlayerSetting_t hidden = preset("Mage");
    hidden.renderObj = false;
    IInstance* waiting = system->createPlayer(hidden, callbackFor(&view));
    IInstance* creature = system->createCreature(1ul, callbackFor(&view));
    system->update(0.016f);
    EXPECT_EQ(waiting->getEntityPtr(), nullptr);
    EXPECT_NE(creature->getEntityPtr(), nullptr);
    hidden.renderObj = true;
    EXPECT_TRUE(system->replacePlayer(hidden, waiting));
    system->update(0.016f);
    EXPECT_NE(waiting->getEntityPtr(), nullptr);
}

TEST_F(AvatarSystem, aCreationRecordGivenAgainReplacesTheOneHeld)
{
    // The replaced record is the avatar's to free (the sanitizer build's leak check sees it).
    RecordingView first, second;
    IInstance* wolf = system->createCreature(1ul, callbackFor(&first));
    wolf->setEntityViewPtr(callbackFor(&second));
    IInstance* hero = system->createPlayer(preset("Warrior"), callbackFor(&first));
    ENTITY_CALLBACK* record = callbackFor(&second);
    hero->setEntityViewPtr(record);
    hero->setEntityViewPtr(record);
    system->update(0.016f);
    system->update(0.016f);
    EXPECT_TRUE(first.calls.empty());
    ASSERT_EQ(second.calls.size(), 2u);
    EXPECT_EQ(second.calls[0].instance, wolf);
    EXPECT_EQ(second.calls[1].instance, hero);
}

TEST_F(AvatarSystem, replacePlayerRebuildsLaterAndRefusesCreatures)
{
    IInstance* player = system->createPlayer(preset("Warrior"), nullptr);
    IInstance* creature = system->createCreature(std::string("Grey Wolf"));
    EXPECT_FALSE(system->replacePlayer(preset("Archer"), creature));
    EXPECT_FALSE(system->replacePlayer(preset("Archer"), nullptr));

    PlayerSetting_t changed = preset("Warrior");
    changed.hairColor = 2;
    ASSERT_TRUE(system->replacePlayer(changed, player));
    auto* character = static_cast<CharacterInstance*>(player);
    EXPECT_EQ(character->getPlayerProperties().hairColor, 2u);
    EXPECT_NE(character->getAppliedProperties().hairColor, 2u) << "not rebuilt before the next update";
    system->update(0.016f);
    EXPECT_EQ(character->getAppliedProperties().hairColor, 2u);
}

TEST_F(AvatarSystem, clonePlayerCopiesTheSettingUnderANewNameAndTellsTheCallbacksInOrder)
{
    IInstance* source = system->createPlayer(preset("Archer"), nullptr);
    RecordingCopyCallbacks callbacks;
    IInstance* copy = system->clonePlayer("Mirror", source, &callbacks, &callbacks);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->getName(), "Mirror");
    PlayerSetting_t expected = static_cast<CharacterInstance*>(source)->getPlayerProperties();
    PlayerSetting_t actual = static_cast<CharacterInstance*>(copy)->getPlayerProperties();
    std::memset(expected.Name, 0, sizeof(expected.Name));
    std::memset(actual.Name, 0, sizeof(actual.Name));
    EXPECT_EQ(std::memcmp(&expected, &actual, sizeof(PlayerSetting_t)), 0);
    EXPECT_EQ(copy->getEntityPtr(), nullptr) << "copies are built by the per-frame loader";
    system->update(0.016f);
    EXPECT_NE(copy->getEntityPtr(), nullptr);
    EXPECT_EQ(callbacks.calls, (std::vector<std::string>{"player", "copy"}));

    // replaceClonePlayer brings the copy up to date but keeps its own name.
    PlayerSetting_t changed = preset("Archer");
    changed.hairColor = 0;
    system->replacePlayer(changed, source);
    system->update(0.016f);
    system->replaceClonePlayer(source, copy);
    system->update(0.016f);
    EXPECT_EQ(copy->getName(), "Mirror");
    EXPECT_EQ(static_cast<CharacterInstance*>(copy)->getAppliedProperties().hairColor, 0u);
}

TEST_F(AvatarSystem, clonePlayerRejectsWhatIsOutsideTheContract)
{
    IInstance* source = system->createPlayer(preset("Archer"), nullptr);
    IInstance* creature = system->createCreature(std::string("Grey Wolf"));
    const unsigned last = manager->getLastUniqueID();
    EXPECT_EQ(system->clonePlayer("x", creature, nullptr, nullptr), nullptr);
    EXPECT_EQ(system->clonePlayer("x", nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(manager->getLastUniqueID(), last) << "a refused copy takes no unique ID";

    const std::string longName(400, 'n');
    IInstance* copy = system->clonePlayer(longName.c_str(), source, nullptr, nullptr);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->getName(), std::string(255, 'n')) << "cut to the field, never overflowed";
    system->replaceClonePlayer(creature, copy);
    system->replaceClonePlayer(source, creature);
    EXPECT_EQ(creature->getName(), "Grey Wolf");
}

TEST_F(AvatarSystem, destroyAndFadeOutTakeAvatarsOutOfTheRegistry)
{
    IInstance* gone = system->createCreature(std::string("Grey Wolf"));
    IInstance* fading = system->createCreature(std::string("Cave Spider"));
    const unsigned goneId = static_cast<unsigned>(gone->getUniqueID());
    const unsigned fadingId = static_cast<unsigned>(fading->getUniqueID());
    const std::string fadingEntity = fading->getEntityPtr()->getName();

    system->destroyInstance(goneId);
    EXPECT_EQ(manager->getInstance(goneId), nullptr);
    EXPECT_EQ(gone->getEntityPtr(), nullptr);
    system->destroyInstance(goneId);
    delete static_cast<CreatureInstance*>(gone); // the host held the last pointer

    system->fadeOut(fadingId);
    EXPECT_EQ(manager->getInstance(fadingId), nullptr);
    EXPECT_TRUE(HeadlessOgre::sceneManager()->hasEntity(fadingEntity)) << "still visible after fadeOut";
    system->fadeOut(fadingId);
    EXPECT_EQ(manager->getFadeList().size(), 1u);
    // TearDown's release() must take the faded avatar with it.
}

TEST_F(AvatarSystem, settingsFromTables)
{
    const PlayerSetting_t warrior = manager->getPorpertiesFromDB("Warrior");
    EXPECT_STREQ(warrior.Name, "Warrior");
    EXPECT_EQ(warrior.race, 1u);
    EXPECT_EQ(warrior.gender, 0u);
    EXPECT_EQ(warrior.head, 101u);
    EXPECT_EQ(warrior.boot, 5002u);
    EXPECT_EQ(warrior.rightHand, 301u);
    EXPECT_EQ(warrior.leftWaist, 601u);
    EXPECT_EQ(warrior.rightWaist, 602u);
    EXPECT_TRUE(warrior.renderObj) << "a preset is ready to show";
    const PlayerSetting_t absent = manager->getPorpertiesFromDB("warrior");
    EXPECT_EQ(absent.Name[0], '\0');
    EXPECT_FALSE(absent.renderObj);

    EXPECT_EQ(manager->getCreatureFromDB(4242ul).ID, 0u);
    const CreatureSetting_t wolf = manager->getCreatureFromDB(1ul);
    EXPECT_STREQ(wolf.Name, "Grey Wolf");
    EXPECT_EQ(wolf.ID, 1u);
    EXPECT_EQ(manager->getNpcFromDB("Wandering Merchant").ID, 39000u);
    EXPECT_EQ(manager->getObjectFromDB("Signpost").ID, 38999u);
}

TEST_F(AvatarSystem, meshFilesAndHeadImagesByIdRange)
{
    EXPECT_EQ(system->getMeshFileFromId(5), "") << "creature IDs below 10000 have no mesh answer";
    EXPECT_EQ(system->getMeshFileFromId(10001), "golem.mesh");
    EXPECT_EQ(system->getMeshFileFromId(29999), "whelp.mesh");
    EXPECT_EQ(system->getMeshFileFromId(37000), "obj_chest.mesh");
    EXPECT_EQ(system->getMeshFileFromId(36999), "npc_guard.mesh");
    EXPECT_EQ(system->getMeshFileFromId(39000), "npc_merchant.mesh");
    EXPECT_EQ(system->getMeshFileFromId(12345), "");

    char buffer[64];
    std::strcpy(buffer, "untouched");
    EXPECT_EQ(system->getHeadImageFromId(4242, buffer), nullptr);
    EXPECT_STREQ(buffer, "untouched");
    const char* image = system->getHeadImageFromId(1, buffer);
    ASSERT_NE(image, nullptr);
    EXPECT_STREQ(image, "head_wolf.dds");
    EXPECT_STREQ(buffer, "head_wolf.dds");
    EXPECT_STREQ(system->getHeadImageFromId(30000, nullptr), "head_npc_smith.dds");
}

TEST_F(AvatarSystem, rowsShortenedThroughTheTableAnswerAsMissingFields)
{
    auto* creatures = static_cast<CreatureDB*>(manager->getDB(DB_CREATURE));
    ASSERT_NE(creatures, nullptr);
    Record idOnly;
    idOnly.record_push_back("10001");
    ASSERT_TRUE(creatures->insteadRecord(idOnly, 10001));
    Record upToTheMesh;
    for (const char* field : {"1", "1", "Grey Wolf", "wolf.mesh"})
        upToTheMesh.record_push_back(field);
    ASSERT_TRUE(creatures->insteadRecord(upToTheMesh, 1));

    EXPECT_EQ(system->getMeshFileFromId(10001), "");
    char buffer[64];
    std::strcpy(buffer, "untouched");
    EXPECT_EQ(system->getHeadImageFromId(10001, buffer), nullptr);
    EXPECT_EQ(system->getHeadImageFromId(1, buffer), nullptr);
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(system->getMeshFileFromId(1), "") << "IDs below 10000 still have no mesh answer";
}

TEST_F(AvatarSystem, preBuildingBodiesFillsThePoolsAndMayBeRepeated)
{
    Ogre::SceneManager* scene = HeadlessOgre::sceneManager();
    system->preBuildEntityBuffer(0);
    system->preBuildEntityBuffer(-3);
    EXPECT_TRUE(CharacterInstance::s_maleEntityPool.empty());

    system->preBuildEntityBuffer(2);
    ASSERT_EQ(CharacterInstance::s_maleEntityPool.size(), 2u);
    ASSERT_EQ(CharacterInstance::s_femaleEntityPool.size(), 2u);
    EXPECT_EQ(CharacterInstance::s_maleEntityPool[0]->getName(), "pre_load_man_0");
    EXPECT_EQ(CharacterInstance::s_maleEntityPool[1]->getName(), "pre_load_man_1");
    EXPECT_EQ(CharacterInstance::s_femaleEntityPool[1]->getName(), "pre_load_woman_1");
    EXPECT_EQ(CharacterInstance::s_femaleEntityPool[0]->getMesh()->getName(), "HumanFemale.mesh");

    system->preBuildEntityBuffer(2);
    EXPECT_EQ(CharacterInstance::s_maleEntityPool.size(), 4u);
    EXPECT_TRUE(scene->hasEntity("pre_load_man_3"));

    // A player takes a pooled body under its old name.
    IInstance* player = system->createPlayer(preset("Warrior"), nullptr);
    ASSERT_NE(player->getEntityPtr(), nullptr);
    EXPECT_EQ(player->getEntityPtr()->getName(), "pre_load_man_3");
    EXPECT_EQ(CharacterInstance::s_maleEntityPool.size(), 3u);
}

TEST_F(AvatarSystem, textureFilterReachesEveryRegisteredAvatar)
{
    IInstance* wolf = system->createCreature(std::string("Grey Wolf"));
    IInstance* warrior = system->createPlayer(preset("Warrior"), nullptr);
    auto firstUnit = [](IInstance* instance)
    {
        return instance->getEntityPtr()
            ->getSubEntity(0)
            ->getMaterial()
            ->getTechnique(0)
            ->getPass(0)
            ->getTextureUnitState(0);
    };
    system->setTextureFilter(0);
    EXPECT_EQ(manager->getTextureFilterType(), 0);
    for (IInstance* instance : {wolf, warrior})
        EXPECT_EQ(firstUnit(instance)->getTextureFiltering(Ogre::FT_MIP), Ogre::FO_LINEAR) << instance->getName();
    system->setTextureFilter(3);
    EXPECT_EQ(manager->getTextureFilterType(), 3);
    for (IInstance* instance : {wolf, warrior})
    {
        EXPECT_EQ(firstUnit(instance)->getTextureFiltering(Ogre::FT_MIN), Ogre::FO_ANISOTROPIC) << instance->getName();
        EXPECT_EQ(firstUnit(instance)->getTextureAnisotropy(), 8u) << instance->getName();
    }
}
