#include <effects/effectmanager.h>
#include "avatarsystem/detail/contentrules.h"

#include <OgreBillboard.h>
#include <OgreBillboardSet.h>
#include <OgreEntity.h>
#include <OgreManualObject.h>
#include <OgreMesh.h>
#include <OgreMeshManager.h>
#include <OgreParticleSystem.h>
#include <OgreParticleSystemManager.h>
#include <OgreRoot.h>
#include <OgreSceneManager.h>
#include <OgreSceneNode.h>
#include <OgreSkeleton.h>
#include <OgreSkeletonManager.h>
#include <OgreTagPoint.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>

namespace
{
const char* const GLOW = "fxtest_glow";

class EffectManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_manager = EffectManager::getSingletonPtr();
        m_manager->setSceneManager(nullptr);
        m_sceneManager = Ogre::Root::getSingleton().getSceneManager(avatar_rules::kSceneManagerName);
        m_billboardsBefore = countOf(Ogre::BillboardSetFactory::FACTORY_TYPE_NAME);

        EffectTemplate glow;
        glow.size = 2.5f;
        glow.colour = Ogre::ColourValue::Red;
        m_manager->registerEffect(GLOW, glow);
    }

    void TearDown() override
    {
        m_manager->freeAll();
        m_manager->unregisterEffect(GLOW);
        m_manager->setSceneManager(nullptr);
        EXPECT_EQ(m_billboardsBefore, countOf(Ogre::BillboardSetFactory::FACTORY_TYPE_NAME));
    }

    std::size_t countOf(const Ogre::String& type) const { return m_sceneManager->getMovableObjects(type).size(); }

    EffectManager* m_manager = nullptr;
    Ogre::SceneManager* m_sceneManager = nullptr;
    std::size_t m_billboardsBefore = 0;
};

TEST_F(EffectManagerTest, singletonFindsTheSceneManagerNamedEverwindUnlessOneIsSet)
{
    ASSERT_NE(nullptr, m_manager);
    EXPECT_EQ(m_manager, EffectManager::getSingletonPtr());
    EXPECT_EQ(m_sceneManager, m_manager->getSceneManager());

    Ogre::Root& root = Ogre::Root::getSingleton();
    Ogre::SceneManager* other =
        root.createSceneManager(Ogre::DefaultSceneManagerFactory::FACTORY_TYPE_NAME, "fxtest_other");
    m_manager->setSceneManager(other);
    Effect* effect = m_manager->addEffect(GLOW);
    ASSERT_NE(nullptr, effect);
    EXPECT_TRUE(other->hasBillboardSet(effect->getName()));
    EXPECT_FALSE(m_sceneManager->hasBillboardSet(effect->getName()));

    // The effect remembers where it was made, so it is freed there even after a switch back.
    m_manager->setSceneManager(nullptr);
    EXPECT_EQ(m_sceneManager, m_manager->getSceneManager());
    const std::string name = effect->getName();
    m_manager->freeEffect(name, false);
    EXPECT_FALSE(other->hasBillboardSet(name));
    root.destroySceneManager(other);
}

TEST_F(EffectManagerTest, addEffectReturnsNullForNamesItCannotMake)
{
    const std::size_t live = m_manager->getNumEffects();
    {
        EXPECT_EQ(nullptr, m_manager->addEffect(""));
    }
    {
        EXPECT_EQ(nullptr, m_manager->addEffect("fxtest_no_such_kind"));
        EXPECT_FALSE(m_manager->hasKind("fxtest_no_such_kind"));
    }
    {
        // The side suffix falls back only for "_l" and "_r", and never to an empty kind.
        EXPECT_EQ(nullptr, m_manager->addEffect(std::string(GLOW) + "_x"));
        EXPECT_EQ(nullptr, m_manager->addEffect("_l"));
    }
    {
        m_manager->unregisterEffect(GLOW);
        EXPECT_EQ(nullptr, m_manager->addEffect(GLOW));
    }
    EXPECT_EQ(live, m_manager->getNumEffects());
    EXPECT_EQ(m_billboardsBefore, countOf(Ogre::BillboardSetFactory::FACTORY_TYPE_NAME));
}

TEST_F(EffectManagerTest, registeredKindMakesAHiddenBillboardSizedFromItsTemplate)
{
    Effect* effect = m_manager->addEffect(GLOW);
    ASSERT_NE(nullptr, effect);
    EXPECT_EQ(m_billboardsBefore + 1, countOf(Ogre::BillboardSetFactory::FACTORY_TYPE_NAME));
    ASSERT_TRUE(m_sceneManager->hasBillboardSet(effect->getName()));

    Ogre::BillboardSet* set = m_sceneManager->getBillboardSet(effect->getName());
    EXPECT_EQ(set, effect->getMovableObject());
    EXPECT_EQ(set, static_cast<Ogre::MovableObject*>(*effect));
    EXPECT_EQ(GLOW, effect->getKind());
    EXPECT_FALSE(effect->isShown());
    ASSERT_EQ(1u, set->getNumBillboards());
    EXPECT_FLOAT_EQ(2.5f, set->getDefaultWidth());
    EXPECT_FLOAT_EQ(2.5f, set->getDefaultHeight());
    EXPECT_EQ(Ogre::ColourValue::Red, set->getBillboard(0)->getColour());
    EXPECT_EQ(effect, m_manager->getEffect(effect->getName()));

    // A size of 0 or less means 1.
    EffectTemplate flat;
    flat.size = 0.0f;
    m_manager->registerEffect("fxtest_flat", flat);
    Effect* unsized = m_manager->addEffect("fxtest_flat");
    ASSERT_NE(nullptr, unsized);
    EXPECT_FLOAT_EQ(1.0f, unsized->getSize());
    EXPECT_FLOAT_EQ(1.0f, m_sceneManager->getBillboardSet(unsized->getName())->getDefaultWidth());
    m_manager->unregisterEffect("fxtest_flat");
}

TEST_F(EffectManagerTest, effectsOfOneKindHaveTheirOwnNamesAndAreFreedOneByOne)
{
    Effect* first = m_manager->addEffect(GLOW);
    Effect* second = m_manager->addEffect(GLOW);
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    EXPECT_NE(first->getName(), second->getName());
    EXPECT_NE(first->getMovableObject(), second->getMovableObject());
    EXPECT_EQ(2u, m_manager->getNumEffects(GLOW));

    const std::string firstName = first->getName();
    const std::string secondName = second->getName();
    m_manager->freeEffect(firstName, false);
    EXPECT_FALSE(m_sceneManager->hasBillboardSet(firstName));
    EXPECT_EQ(nullptr, m_manager->getEffect(firstName));
    EXPECT_TRUE(m_sceneManager->hasBillboardSet(secondName));
    EXPECT_EQ(second, m_manager->getEffect(secondName));
    EXPECT_EQ(1u, m_manager->getNumEffects(GLOW));

    // A later effect never takes the name of a live one.
    Effect* third = m_manager->addEffect(GLOW);
    ASSERT_NE(nullptr, third);
    EXPECT_NE(secondName, third->getName());
}

TEST_F(EffectManagerTest, freeEffectIgnoresNamesItDoesNotHold)
{
    Effect* effect = m_manager->addEffect(GLOW);
    ASSERT_NE(nullptr, effect);
    const std::string name = effect->getName();
    const std::size_t live = m_manager->getNumEffects();
    {
        m_manager->freeEffect("", false);
        m_manager->freeEffect("fxtest_never_made#1", false);
        // The kind is not the name of a live effect.
        m_manager->freeEffect(GLOW, false);
        EXPECT_EQ(live, m_manager->getNumEffects());
        EXPECT_TRUE(m_sceneManager->hasBillboardSet(name));
    }
    {
        m_manager->freeEffect(name, false);
        m_manager->freeEffect(name, false);
        EXPECT_EQ(live - 1, m_manager->getNumEffects());
        EXPECT_FALSE(m_sceneManager->hasBillboardSet(name));
    }
}

TEST_F(EffectManagerTest, effectNamesSkipObjectsTheHostAlreadyNamed)
{
    Effect* effect = m_manager->addEffect(GLOW);
    ASSERT_NE(nullptr, effect);
    const std::string& name = effect->getName();
    const unsigned long number = std::strtoul(name.c_str() + name.rfind('#') + 1, nullptr, 10);
    const std::string taken = std::string(GLOW) + "#" + std::to_string(number + 1);
    Ogre::BillboardSet* hostSet = m_sceneManager->createBillboardSet(taken);

    Effect* next = m_manager->addEffect(GLOW);
    ASSERT_NE(nullptr, next);
    EXPECT_NE(taken, next->getName());
    EXPECT_EQ(hostSet, m_sceneManager->getBillboardSet(taken));
    m_sceneManager->destroyBillboardSet(hostSet);
}

TEST_F(EffectManagerTest, showAndHideSwitchTheObjectsVisibility)
{
    Effect* effect = m_manager->addEffect(GLOW);
    ASSERT_NE(nullptr, effect);
    Ogre::MovableObject* object = *effect;
    EXPECT_FALSE(object->getVisible());
    effect->show();
    EXPECT_TRUE(object->getVisible());
    EXPECT_TRUE(effect->isShown());
    effect->hide();
    EXPECT_FALSE(object->getVisible());
    EXPECT_FALSE(effect->isShown());
}

TEST_F(EffectManagerTest, freeingAnEffectOnASceneNodeDetachesIt)
{
    Ogre::SceneNode* node = m_sceneManager->getRootSceneNode()->createChildSceneNode();
    Effect* effect = m_manager->addEffect(GLOW);
    ASSERT_NE(nullptr, effect);
    node->attachObject(*effect);
    ASSERT_EQ(1u, node->getAttachedObjects().size());

    m_manager->freeEffect(effect->getName(), false);
    EXPECT_TRUE(node->getAttachedObjects().empty());
    m_sceneManager->destroySceneNode(node);
}

// A one-triangle mesh whose skeleton has the bones effects hang on.
class EffectOnBoneTest : public EffectManagerTest
{
protected:
    void SetUp() override
    {
        EffectManagerTest::SetUp();
        const Ogre::String group = Ogre::ResourceGroupManager::DEFAULT_RESOURCE_GROUP_NAME;
        m_skeleton = Ogre::SkeletonManager::getSingleton().create("fxtest.skeleton", group, true);
        m_skeleton->load();
        m_skeleton->createBone("effect_1");
        m_skeleton->createBone("weapon_2");

        Ogre::ManualObject* manual = m_sceneManager->createManualObject("fxtest_manual");
        manual->begin("BaseWhite", Ogre::RenderOperation::OT_TRIANGLE_LIST);
        manual->position(0, 0, 0);
        manual->position(1, 0, 0);
        manual->position(0, 1, 0);
        manual->triangle(0, 1, 2);
        manual->end();
        m_mesh = manual->convertToMesh("fxtest_bones.mesh", group);
        m_sceneManager->destroyManualObject(manual);
        m_mesh->setSkeletonName("fxtest.skeleton");
        m_entity = m_sceneManager->createEntity("fxtest_entity", "fxtest_bones.mesh");
    }

    void TearDown() override
    {
        m_sceneManager->destroyEntity(m_entity);
        Ogre::MeshManager::getSingleton().remove(m_mesh);
        m_mesh.reset();
        Ogre::SkeletonManager::getSingleton().remove(m_skeleton);
        m_skeleton.reset();
        EffectManagerTest::TearDown();
    }

    Ogre::SkeletonPtr m_skeleton;
    Ogre::MeshPtr m_mesh;
    Ogre::Entity* m_entity = nullptr;
};

TEST_F(EffectOnBoneTest, effectHangsOnABoneAndIsReleasedInTheCallersOrder)
{
    ASSERT_TRUE(m_entity->hasSkeleton());
    Effect* effect = m_manager->addEffect(GLOW);
    ASSERT_NE(nullptr, effect);
    m_entity->attachObjectToBone("effect_1", *effect, Ogre::Quaternion::IDENTITY, Ogre::Vector3::ZERO);
    effect->show();
    effect->setParamA(99999.0f);
    effect->setParamB(99999.0f);

    Ogre::MovableObject* object = *effect;
    ASSERT_TRUE(object->isAttached());
    ASSERT_TRUE(object->isParentTagPoint());
    EXPECT_EQ(m_entity, static_cast<Ogre::TagPoint*>(object->getParentNode())->getParentEntity());
    EXPECT_TRUE(effect->isShown());
    EXPECT_FLOAT_EQ(99999.0f, effect->getParamA());
    EXPECT_FLOAT_EQ(99999.0f, effect->getParamB());

    m_entity->detachObjectFromBone(object);
    const std::string name = effect->getName();
    m_manager->freeEffect(name, false);
    EXPECT_FALSE(m_sceneManager->hasBillboardSet(name));
    EXPECT_TRUE(m_entity->getAttachedObjects().empty());
}

TEST_F(EffectOnBoneTest, freeingAnEffectStillOnABoneTakesItOff)
{
    Effect* first = m_manager->addEffect(GLOW);
    Effect* second = m_manager->addEffect(GLOW);
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    m_entity->attachObjectToBone("effect_1", *first);
    m_entity->attachObjectToBone("weapon_2", *second);
    ASSERT_EQ(2u, m_entity->getAttachedObjects().size());

    m_manager->freeEffect(first->getName(), false);
    ASSERT_EQ(1u, m_entity->getAttachedObjects().size());
    EXPECT_EQ(second->getMovableObject(), m_entity->getAttachedObjects().front());

    m_manager->freeAll();
    EXPECT_TRUE(m_entity->getAttachedObjects().empty());
    EXPECT_EQ(0u, m_manager->getNumEffects());
}

// Pins the OGRE behaviour the release order relies on: destroying an entity takes its
// bone children off, so an effect freed afterwards has no dangling parent.
TEST_F(EffectOnBoneTest, effectOutlivingItsEntityIsFreedCleanly)
{
    Effect* effect = m_manager->addEffect(GLOW);
    ASSERT_NE(nullptr, effect);
    m_entity->attachObjectToBone("effect_1", *effect);
    m_sceneManager->destroyEntity(m_entity);
    m_entity = m_sceneManager->createEntity("fxtest_entity", "fxtest_bones.mesh");

    EXPECT_FALSE(effect->getMovableObject()->isAttached());
    const std::string name = effect->getName();
    m_manager->freeEffect(name, false);
    EXPECT_FALSE(m_sceneManager->hasBillboardSet(name));
}

TEST_F(EffectManagerTest, particleTemplateKindMakesAParticleSystemThatEmitsOnlyWhenShown)
{
    const Ogre::String group = Ogre::ResourceGroupManager::DEFAULT_RESOURCE_GROUP_NAME;
    Ogre::ParticleSystemManager& particles = Ogre::ParticleSystemManager::getSingleton();
    // A root that was never initialised has no billboard particle renderer yet; register it
    // as Root::initialise does.
    bool hasBillboardRenderer = false;
    for (auto factories = particles.getRendererFactoryIterator(); factories.hasMoreElements(); factories.moveNext())
        hasBillboardRenderer = hasBillboardRenderer || factories.peekNextKey() == "billboard";
    if (!hasBillboardRenderer)
        particles._initialise();
    particles.createTemplate("fxtest/sparks", group);
    EffectTemplate sparks;
    sparks.particleTemplate = "fxtest/sparks";
    sparks.speed = 2.0f;
    m_manager->registerEffect("fxtest_sparks", sparks);
    const Ogre::String& type = Ogre::ParticleSystemFactory::FACTORY_TYPE_NAME;
    const std::size_t systemsBefore = countOf(type);

    Effect* effect = m_manager->addEffect("fxtest_sparks");
    ASSERT_NE(nullptr, effect);
    ASSERT_TRUE(m_sceneManager->hasParticleSystem(effect->getName()));
    Ogre::ParticleSystem* system = m_sceneManager->getParticleSystem(effect->getName());
    EXPECT_EQ(system, effect->getMovableObject());
    EXPECT_FLOAT_EQ(2.0f, system->getSpeedFactor());
    EXPECT_FALSE(system->getEmitting());
    effect->show();
    EXPECT_TRUE(system->getEmitting());
    EXPECT_TRUE(effect->isShown());
    effect->hide();
    EXPECT_FALSE(system->getEmitting());

    m_manager->freeEffect(effect->getName(), false);
    EXPECT_EQ(systemsBefore, countOf(type));

    // A template that is not registered with OGRE falls back to a billboard.
    particles.removeTemplate("fxtest/sparks");
    Effect* fallback = m_manager->addEffect("fxtest_sparks");
    ASSERT_NE(nullptr, fallback);
    EXPECT_TRUE(m_sceneManager->hasBillboardSet(fallback->getName()));
    m_manager->unregisterEffect("fxtest_sparks");
}

TEST_F(EffectManagerTest, effectsWhoseSceneManagerWentAwayAreForgottenWithoutTouchingIt)
{
    Ogre::Root& root = Ogre::Root::getSingleton();
    Ogre::SceneManager* temporary =
        root.createSceneManager(Ogre::DefaultSceneManagerFactory::FACTORY_TYPE_NAME, "fxtest_temporary");
    m_manager->setSceneManager(temporary);
    Effect* cleared = m_manager->addEffect(GLOW);
    Effect* destroyed = m_manager->addEffect(GLOW);
    ASSERT_NE(nullptr, cleared);
    ASSERT_NE(nullptr, destroyed);
    const std::string clearedName = cleared->getName();
    const std::string destroyedName = destroyed->getName();
    {
        // clearScene destroys the billboard set behind our back.
        temporary->clearScene();
        m_manager->freeEffect(clearedName, false);
        EXPECT_EQ(nullptr, m_manager->getEffect(clearedName));
    }
    {
        m_manager->setSceneManager(nullptr);
        root.destroySceneManager(temporary);
        m_manager->freeEffect(destroyedName, false);
        EXPECT_EQ(nullptr, m_manager->getEffect(destroyedName));
    }
}

// Kinds the host did not register come from the effects table in the current directory.
class EffectTableTest : public EffectManagerTest
{
protected:
    void SetUp() override
    {
        EffectManagerTest::SetUp();
        m_previous = std::filesystem::current_path();
        char pattern[] = "/tmp/fxtest_tableXXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        m_directory = pattern;
        std::filesystem::current_path(m_directory);
        m_manager->reloadTable();
    }

    void TearDown() override
    {
        std::filesystem::current_path(m_previous);
        std::filesystem::remove_all(m_directory);
        m_manager->reloadTable();
        EffectManagerTest::TearDown();
    }

    void writeTable(const std::string& text)
    {
        std::ofstream(EffectManager::TABLE_FILE, std::ios::binary) << text;
        m_manager->reloadTable();
    }

    std::filesystem::path m_previous;
    std::filesystem::path m_directory;
};

TEST_F(EffectTableTest, tableRowsAreFoundByNameAndById)
{
    writeTable("//effectID,effectName,effectTemplatName,effectSize,effectSpeed\n"
               "// a second remark line\n"
               "3,fxtest_fire,,2.5,1.5\n"
               "7,fxtest_ice,NoSuchTemplate,0,\n");

    Effect* fire = m_manager->addEffect("fxtest_fire");
    ASSERT_NE(nullptr, fire);
    EXPECT_FLOAT_EQ(2.5f, fire->getSize());
    EXPECT_FLOAT_EQ(1.5f, fire->getSpeed());
    EXPECT_FLOAT_EQ(2.5f, m_sceneManager->getBillboardSet(fire->getName())->getDefaultWidth());

    // Creature rows name their effects by ID.
    Effect* byId = m_manager->addEffect("3");
    ASSERT_NE(nullptr, byId);
    EXPECT_FLOAT_EQ(2.5f, byId->getSize());

    // Empty size and speed take their defaults; an unknown template draws a billboard.
    Effect* ice = m_manager->addEffect("fxtest_ice");
    ASSERT_NE(nullptr, ice);
    EXPECT_FLOAT_EQ(1.0f, ice->getSize());
    EXPECT_FLOAT_EQ(1.0f, ice->getSpeed());
    EXPECT_TRUE(m_sceneManager->hasBillboardSet(ice->getName()));

    // Items give their left and right models the kind with a side suffix.
    Effect* left = m_manager->addEffect("fxtest_fire_l");
    Effect* right = m_manager->addEffect("fxtest_fire_r");
    ASSERT_NE(nullptr, left);
    ASSERT_NE(nullptr, right);
    EXPECT_EQ("fxtest_fire_l", left->getKind());
    EXPECT_FLOAT_EQ(2.5f, right->getSize());

    EXPECT_EQ(nullptr, m_manager->addEffect("4"));
}

TEST_F(EffectTableTest, readerSkipsCommentsAndBadRowsAndStopsAtAShortLine)
{
    writeTable("//effectID,effectName,effectTemplatName,effectSize,effectSpeed\r\n"
               "1,fxtest_first,,1,1\r\n"
               "2,fxtest_short_row,,1\r\n"
               "3,fxtest_long_row,,1,1,1\r\n"
               "4,fxtest_with//slash,,1,1\r\n"
               "5,fxtest_last,,3,1\r\n"
               "\r\n"
               "6,fxtest_after_end,,1,1\r\n");

    EXPECT_TRUE(m_manager->hasKind("fxtest_first"));
    EXPECT_TRUE(m_manager->hasKind("fxtest_last"));
    EXPECT_FALSE(m_manager->hasKind("fxtest_short_row"));
    EXPECT_FALSE(m_manager->hasKind("fxtest_long_row"));
    EXPECT_FALSE(m_manager->hasKind("4"));
    EXPECT_FALSE(m_manager->hasKind("fxtest_after_end"));
    EXPECT_FALSE(m_manager->hasKind("6"));

    writeTable("1,fxtest_first,,1,1\nx\n2,fxtest_after_one_byte,,1,1\n");
    EXPECT_TRUE(m_manager->hasKind("fxtest_first"));
    EXPECT_FALSE(m_manager->hasKind("fxtest_after_one_byte"));
}

TEST_F(EffectTableTest, registeredKindsShadowTheTableAndAMissingFileGivesNoKinds)
{
    writeTable("1," + std::string(GLOW) + ",,9,1\n2,fxtest_table_only,,1,1\n");
    Effect* glow = m_manager->addEffect(GLOW);
    ASSERT_NE(nullptr, glow);
    EXPECT_FLOAT_EQ(2.5f, glow->getSize());
    EXPECT_TRUE(m_manager->hasKind("fxtest_table_only"));

    std::filesystem::remove(EffectManager::TABLE_FILE);
    m_manager->reloadTable();
    EXPECT_FALSE(m_manager->hasKind("fxtest_table_only"));
    EXPECT_EQ(nullptr, m_manager->addEffect("fxtest_table_only"));
    EXPECT_NE(nullptr, m_manager->addEffect(GLOW));
}

// The table is read by the tables' own reader, which takes only a regular file: a FIFO of that
// name (nobody writing to it) gives no rows instead of blocking the first look-up for ever.
TEST_F(EffectTableTest, aTableThatIsNoRegularFileGivesNoRowsWithoutWaiting)
{
    ASSERT_EQ(0, ::mkfifo(EffectManager::TABLE_FILE, 0600));
    m_manager->reloadTable();
    EXPECT_FALSE(m_manager->hasKind("fxtest_fire"));
    EXPECT_EQ(nullptr, m_manager->addEffect("1"));
    EXPECT_NE(nullptr, m_manager->addEffect(GLOW));
}
} // namespace
