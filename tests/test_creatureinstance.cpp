#include "avatarsystem/creatureinstance.h"

#include "avatarsystem/detail/materialname.h"
#include "effects/effectmanager.h"

#include "headlessogre.h"
#include "testmeshes.h"

#include <OgreAnimationState.h>
#include <OgreEntity.h>
#include <OgreMaterialManager.h>
#include <OgreMesh.h>
#include <OgreMeshManager.h>
#include <OgrePass.h>
#include <OgreSceneManager.h>
#include <OgreSubEntity.h>
#include <OgreTagPoint.h>
#include <OgreTechnique.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{
const char* const GLOW = "crt_glow";

AvatarSystemManager& manager()
{
    IAvatarSystem::getSingletonPtr();
    return AvatarSystemManager::getSingleton();
}

std::string join(const std::vector<std::string>& fields)
{
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i)
        line += (i ? "," : "") + fields[i];
    return line + "\n";
}

struct Row
{
    unsigned id = 0;
    std::string scale = "1";
    std::string mesh;
    std::vector<std::string> effects = {"", "", "", "", ""};
    std::string walk = "2";
    std::string run = "4";
    std::string bias = "0";
    std::string trans = "0";
};

// Creature and NPC layout: ID, Scale, Name, FileName, Effect1-5, HeadImage, WalkSpeed, RunSpeed,
// sixteen attack columns, CameraBias, BeTransObject.
std::string creatureLine(const Row& r)
{
    std::vector<std::string> f = {std::to_string(r.id), r.scale, "name" + std::to_string(r.id), r.mesh};
    f.insert(f.end(), r.effects.begin(), r.effects.end());
    f.insert(f.end(), {"head.png", r.walk, r.run});
    for (int i = 0; i < 16; ++i)
        f.push_back("0");
    f.insert(f.end(), {r.bias, r.trans});
    return join(f);
}

// Object layout: ID, Scale, Name, FileName, Effect1-5, HeadImage, CameraBias, BeTransObject.
std::string objectLine(const Row& r)
{
    std::vector<std::string> f = {std::to_string(r.id), r.scale, "name" + std::to_string(r.id), r.mesh};
    f.insert(f.end(), r.effects.begin(), r.effects.end());
    f.insert(f.end(), {"head.png", r.bias, r.trans});
    return join(f);
}

const unsigned kBoundaryIds[] = {1, 29999, 30000, 36999, 37000, 38999, 39000};

class RecordingView final : public IEntityView
{
public:
    explicit RecordingView(std::vector<std::string>& log) : m_log(log) {}
    void onInstanceReady(IInstance* instance, int zero) override
    {
        m_log.push_back("ready " + std::to_string(zero));
        last = instance;
    }
    unsigned getViewKey() override
    {
        m_log.push_back("key");
        return 77;
    }
    void onCreatureReadyA(IInstance* instance, float cameraBias) override
    {
        m_log.push_back("A");
        last = instance;
        bias = cameraBias;
    }
    void onCreatureReadyB(IInstance* instance, float cameraBias) override
    {
        m_log.push_back("B");
        last = instance;
        bias = cameraBias;
    }
    IInstance* last = nullptr;
    float bias = -1.0f;

private:
    std::vector<std::string>& m_log;
};

class RecordingObserver final : public IEntityViewObserver
{
public:
    explicit RecordingObserver(std::vector<std::string>& log) : m_log(log) {}
    void onViewReady(unsigned viewKey) override { m_log.push_back("observer " + std::to_string(viewKey)); }

private:
    std::vector<std::string>& m_log;
};

class RecordingRtt final : public IRttObjectCallback, public I3DRttObjectCallback
{
public:
    explicit RecordingRtt(std::vector<std::string>& log) : m_log(log) {}
    void onCopyCreated() override { m_log.push_back("copy"); }
    void onPlayerCopyCreated() override { m_log.push_back("player copy 3d"); }
    void onCreatureCopyCreated() override { m_log.push_back("creature copy 3d"); }

private:
    std::vector<std::string>& m_log;
};

Ogre::Pass* pass0(const std::string& material)
{
    Ogre::MaterialPtr m = Ogre::MaterialManager::getSingleton().getByName(material);
    return m ? m->getTechnique(0)->getPass(0) : nullptr;
}

Ogre::Pass* pass0(Ogre::Entity* entity, unsigned sub)
{
    return entity->getSubEntity(sub)->getMaterial()->getTechnique(0)->getPass(0);
}

/// The bone an effect hangs on, or an empty text.
std::string boneOf(Effect* effect, Ogre::Entity* entity)
{
    Ogre::MovableObject* object = *effect;
    if (!object->isAttached() || !object->isParentTagPoint())
        return "";
    auto* tag = static_cast<Ogre::TagPoint*>(object->getParentNode());
    if (tag->getParentEntity() != entity)
        return "other entity";
    return tag->getParent()->getName();
}

class CreatureInstanceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        manager();
        writeTables();
        m_res.material("crt_skin", 0.2f, 0.3f, 0.4f);
        m_res.material("crt_cloth");
        m_res.material("col", 0.6f, 0.6f, 0.6f);
        m_res.material("tbl_mat");
        const std::vector<std::string> bones = {"root", "effect_1", "effect_2", "effect_3", "effect_4", "effect_5"};
        m_res.mesh("crt_body.mesh", {"crt_skin", "crt_cloth", "col"}, bones, {"Walk", "Attack", "Stand"});
        m_res.mesh("crt_fewbones.mesh", {"crt_skin"}, {"root", "effect_1"});
        m_res.mesh("tbl_creature.mesh", {"tbl_mat"});
        m_res.mesh("tbl_npc.mesh", {"tbl_mat"});
        m_res.mesh("tbl_object.mesh", {"tbl_mat"});
        EffectManager::getSingletonPtr()->registerEffect(GLOW, EffectTemplate());
        m_effectsBefore = EffectManager::getSingletonPtr()->getNumEffects();
    }

    void TearDown() override
    {
        manager().release();
        EXPECT_EQ(m_effectsBefore, EffectManager::getSingletonPtr()->getNumEffects());
        EffectManager::getSingletonPtr()->freeAll();
        EffectManager::getSingletonPtr()->unregisterEffect(GLOW);
    }

    void writeTables()
    {
        std::string creatures = "//ID,Scale,Name,FileName,...\n", npcs, objects;
        for (unsigned id : kBoundaryIds)
        {
            Row r;
            r.id = id;
            r.scale = "1.5", r.mesh = "tbl_creature.mesh", r.walk = "2", r.run = "4", r.bias = "0.25";
            creatures += creatureLine(r);
            r.scale = "2.5", r.mesh = "tbl_npc.mesh", r.walk = "3", r.run = "5", r.bias = "0.5";
            npcs += creatureLine(r);
            // Columns 10 and 11 are the creatures' WalkSpeed and RunSpeed: an object must not read them so.
            r.scale = "3.5", r.mesh = "tbl_object.mesh", r.bias = "0.75", r.trans = "1";
            objects += objectLine(r);
        }
        Row body;
        body.id = 100, body.mesh = "crt_body.mesh", body.bias = "1.25";
        body.effects = {GLOW, GLOW, "", GLOW, GLOW};
        creatures += creatureLine(body);
        body.id = 101, body.trans = "1";
        creatures += creatureLine(body);
        Row few;
        few.id = 102, few.mesh = "crt_fewbones.mesh", few.effects = {GLOW, GLOW, "", "", "no_such_effect"};
        creatures += creatureLine(few);
        Row missing;
        missing.id = 103, missing.mesh = "missing.mesh";
        creatures += creatureLine(missing);
        Row longNames;
        longNames.id = 104, longNames.mesh = "crt_long.mesh";
        creatures += creatureLine(longNames);
        Row object;
        object.id = 37500, object.mesh = "crt_body.mesh", object.bias = "0.75";
        objects += objectLine(object);
        m_dir.write("Creature.csv", creatures);
        m_dir.write("Npc.csv", npcs);
        m_dir.write("Object.csv", objects);
    }

    /// A configured creature registered with the manager (which disposes of it in release()).
    CreatureInstance* make(unsigned id, unsigned uniqueID, ENTITY_CALLBACK* callback = nullptr)
    {
        auto* creature = new CreatureInstance();
        CreatureSetting_t setting;
        setting.ID = id;
        std::strcpy(setting.Name, "Goblin");
        creature->setProperties(setting);
        creature->setEntityViewPtr(callback);
        creature->setUniqueID(uniqueID);
        manager().registerInstance(uniqueID, creature);
        return creature;
    }

    ScopedTempDir m_dir;
    TestResources m_res;
    std::size_t m_effectsBefore = 0;
};

} // namespace

TEST_F(CreatureInstanceTest, newInstanceHasItsDocumentedDefaults)
{
    CreatureInstance* c = make(100, 900);
    EXPECT_EQ("Goblin", c->getName());
    EXPECT_EQ(900u, c->getUniqueID());
    EXPECT_EQ(INSTANCE_CREATURE, c->getInstanceType());
    EXPECT_EQ(nullptr, c->getEntityPtr());
    EXPECT_FLOAT_EQ(1.0f, c->getScale());
    EXPECT_FLOAT_EQ(0.0f, c->getTransparency());
    EXPECT_FALSE(c->isTransparencySet());
    EXPECT_FALSE(c->isBeTransObject());
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(nullptr, c->getEffect(k));
    ASSERT_NE(nullptr, c->getAnimationController());
    EXPECT_EQ(c, c->getAnimationController()->getOwner());
    EXPECT_EQ(nullptr, c->getRightWeapon());
    EXPECT_EQ(nullptr, c->getLeftWeapon());
    EXPECT_TRUE(c->settingEquipEffect(nullptr));
    float run = 0, walk = 0;
    c->getSpeedRate(run, walk);
    EXPECT_FLOAT_EQ(8.0f, run);
    EXPECT_FLOAT_EQ(2.0f, walk);
}

TEST_F(CreatureInstanceTest, tableIsChosenByIdRangeAndEachLayoutIsReadFromItsOwnColumns)
{
    struct Case
    {
        unsigned id;
        const char* mesh;
        float scale, runRate, walkRate;
        bool trans;
    };
    // setSpeed's defaults 8 and 2 over (base speed x scale); objects keep base speeds 1.
    const Case cases[] = {
        {1, "tbl_creature.mesh", 1.5f, 8.0f / 6.0f, 2.0f / 3.0f, false},
        {29999, "tbl_creature.mesh", 1.5f, 8.0f / 6.0f, 2.0f / 3.0f, false},
        {30000, "tbl_npc.mesh", 2.5f, 8.0f / 12.5f, 2.0f / 7.5f, false},
        {36999, "tbl_npc.mesh", 2.5f, 8.0f / 12.5f, 2.0f / 7.5f, false},
        {37000, "tbl_object.mesh", 3.5f, 8.0f / 3.5f, 2.0f / 3.5f, true},
        {38999, "tbl_object.mesh", 3.5f, 8.0f / 3.5f, 2.0f / 3.5f, true},
        {39000, "tbl_npc.mesh", 2.5f, 8.0f / 12.5f, 2.0f / 7.5f, false},
    };
    unsigned uniqueID = 200;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.id);
        CreatureInstance* creature = make(c.id, ++uniqueID);
        ASSERT_TRUE(creature->create());
        ASSERT_NE(nullptr, creature->getEntityPtr());
        EXPECT_EQ(c.mesh, creature->getEntityPtr()->getMesh()->getName());
        EXPECT_FLOAT_EQ(c.scale, creature->getScale());
        EXPECT_EQ(c.trans, creature->isBeTransObject());
        float run = 0, walk = 0;
        creature->getSpeedRate(run, walk);
        EXPECT_FLOAT_EQ(c.runRate, run);
        EXPECT_FLOAT_EQ(c.walkRate, walk);
    }
}

TEST_F(CreatureInstanceTest, createRefusesEveryBadInputWithoutThrowingOrLeavingAnything)
{
    Ogre::SceneManager* scene = manager().getSceneMgr();
    const OgreCounts before = OgreCounts::now();
    {
        SCOPED_TRACE("ID 0");
        CreatureInstance* c = make(0, 300);
        EXPECT_FALSE(c->create());
        EXPECT_EQ(nullptr, c->getEntityPtr());
    }
    {
        SCOPED_TRACE("no row for the ID");
        EXPECT_FALSE(make(5, 301)->create());
        EXPECT_FALSE(make(31000, 302)->create());
    }
    {
        SCOPED_TRACE("neither the row's mesh nor the substitute mesh can be loaded");
        CreatureInstance* c = make(103, 303);
        bool built = true;
        EXPECT_NO_THROW(built = c->create());
        EXPECT_FALSE(built);
        EXPECT_FALSE(scene->hasEntity("303_Creature"));
        EXPECT_FALSE(Ogre::MeshManager::getSingleton().resourceExists("missing.mesh"))
            << "no empty mesh left to shadow one made later";
        EXPECT_FALSE(Ogre::MeshManager::getSingleton().resourceExists("G_jiaoren_women.mesh"));
    }
    EXPECT_EQ(before, OgreCounts::now());
    {
        SCOPED_TRACE("the host already has an entity of the creature's name");
        Ogre::Entity* hosts = scene->createEntity("304_Creature", "tbl_npc.mesh");
        CreatureInstance* c = make(100, 304);
        bool built = true;
        EXPECT_NO_THROW(built = c->create());
        EXPECT_FALSE(built);
        EXPECT_EQ(nullptr, c->getEntityPtr());
        EXPECT_EQ(hosts, scene->getEntity("304_Creature"));
        EXPECT_EQ("tbl_npc.mesh", hosts->getMesh()->getName());
        EXPECT_TRUE(c->destroy());
        EXPECT_TRUE(scene->hasEntity("304_Creature")) << "destroy must not touch the host's entity";
        scene->destroyEntity(hosts);
    }
    {
        SCOPED_TRACE("the tables are missing");
        manager().release();
        std::remove("Npc.csv");
        EXPECT_FALSE(make(30000, 305)->create());
    }
    EXPECT_EQ(before, OgreCounts::now());
}

TEST_F(CreatureInstanceTest, unloadableMeshFallsBackToTheSubstituteUnderTheSameName)
{
    m_res.mesh("G_jiaoren_women.mesh", {"crt_skin"});
    CreatureInstance* c = make(103, 1234);
    ASSERT_TRUE(c->create());
    ASSERT_NE(nullptr, c->getEntityPtr());
    EXPECT_EQ("1234_Creature", c->getEntityPtr()->getName());
    EXPECT_EQ("G_jiaoren_women.mesh", c->getEntityPtr()->getMesh()->getName());
}

TEST_F(CreatureInstanceTest, entityAndMaterialCopiesAreNamedFromTheUniqueIdAndColStaysShared)
{
    CreatureInstance* c = make(100, 7);
    ASSERT_TRUE(c->create());
    Ogre::Entity* entity = c->getEntityPtr();
    ASSERT_NE(nullptr, entity);
    EXPECT_EQ("7_Creature", entity->getName());
    EXPECT_EQ(nullptr, entity->getParentNode()) << "the host places the entity";
    EXPECT_EQ(54, entity->getRenderQueueGroup());

    const std::vector<std::string> copies = {"crt_skin_7_0", "crt_cloth_7_1"};
    EXPECT_EQ(copies, c->getClonedMaterials());
    EXPECT_EQ("crt_skin_7_0", entity->getSubEntity(0)->getMaterialName());
    EXPECT_EQ("crt_cloth_7_1", entity->getSubEntity(1)->getMaterialName());
    EXPECT_EQ("col", entity->getSubEntity(2)->getMaterialName());
    Ogre::MaterialPtr copy = Ogre::MaterialManager::getSingleton().getByName("crt_skin_7_0");
    ASSERT_TRUE(copy);
    EXPECT_EQ(Ogre::ResourceGroupManager::DEFAULT_RESOURCE_GROUP_NAME, copy->getGroup());
    EXPECT_EQ(Ogre::ColourValue(0.2f, 0.3f, 0.4f), copy->getTechnique(0)->getPass(0)->getDiffuse())
        << "a creature that ignores opacity keeps its copies as cloned";
}

TEST_F(CreatureInstanceTest, uniqueIdIsPrintedAsASignedNumberInCopyNames)
{
    CreatureInstance* c = make(100, 4294967295u);
    ASSERT_TRUE(c->create());
    EXPECT_EQ("4294967295_Creature", c->getEntityPtr()->getName());
    EXPECT_EQ("crt_skin_-1_0", c->getClonedMaterials().at(0));
}

TEST_F(CreatureInstanceTest, materialOfTheCopyNameThatTheHostOwnsIsNeitherReusedNorRemoved)
{
    m_res.material("crt_cloth_8_1");
    CreatureInstance* c = make(100, 8);
    ASSERT_TRUE(c->create());
    EXPECT_EQ(std::vector<std::string>{"crt_skin_8_0"}, c->getClonedMaterials());
    EXPECT_EQ("crt_cloth", c->getEntityPtr()->getSubEntity(1)->getMaterialName());
    c->destroy();
    EXPECT_TRUE(Ogre::MaterialManager::getSingleton().resourceExists("crt_cloth_8_1"));
}

TEST(CreatureMaterialNames, longNamesAreCutToTheLimitWithAHashThatKeepsThemApart)
{
    using avatar_detail::instanceMaterialName;
    EXPECT_EQ("Orc_body_1234_2", instanceMaterialName("Orc_body", 1234, 2));

    // "_7_0" is 4 characters: a 250-character material just fits, 251 does not.
    const std::string fits(250, 'm');
    EXPECT_EQ(fits + "_7_0", instanceMaterialName(fits, 7, 0));

    const std::string tooLong = std::string(251, 'm');
    const std::string cut = instanceMaterialName(tooLong, 7, 0);
    EXPECT_EQ(254u, cut.size());
    EXPECT_EQ(0u, cut.find(std::string(200, 'm')));
    EXPECT_EQ("_7_0", cut.substr(cut.size() - 4));
    EXPECT_EQ(cut, instanceMaterialName(tooLong, 7, 0)) << "stable";

    // Same prefix, different ends: names a plain cut would merge.
    const std::string a = std::string(300, 'x') + "a";
    const std::string b = std::string(300, 'x') + "b";
    EXPECT_NE(instanceMaterialName(a, 7, 0), instanceMaterialName(b, 7, 0));
    EXPECT_LE(instanceMaterialName(a, 4294967295u, 65535).size(), 254u);
    EXPECT_NE(instanceMaterialName(a, 7, 0), instanceMaterialName(a, 7, 1));
}

TEST_F(CreatureInstanceTest, longMaterialNamesGetDistinctCopiesThatDestroyRemoves)
{
    const std::string a = std::string(300, 'x') + "a";
    const std::string b = std::string(300, 'x') + "b";
    m_res.material(a);
    m_res.material(b);
    m_res.mesh("crt_long.mesh", {a, b});
    const OgreCounts before = OgreCounts::now();

    CreatureInstance* c = make(104, 9);
    ASSERT_TRUE(c->create());
    const std::vector<std::string> copies = c->getClonedMaterials();
    ASSERT_EQ(2u, copies.size());
    EXPECT_NE(copies[0], copies[1]);
    for (const std::string& name : copies)
    {
        EXPECT_LE(name.size(), 254u);
        EXPECT_TRUE(Ogre::MaterialManager::getSingleton().resourceExists(name));
    }
    c->destroy();
    EXPECT_EQ(before, OgreCounts::now());
}

TEST_F(CreatureInstanceTest, effectsHangOnTheirBonesStartedAndAnEmptyNameLeavesItsSlotEmpty)
{
    CreatureInstance* c = make(100, 10);
    ASSERT_TRUE(c->create());
    Ogre::Entity* entity = c->getEntityPtr();
    const char* bones[] = {"effect_1", "effect_2", nullptr, "effect_4", "effect_5"};
    for (int k = 0; k < 5; ++k)
    {
        SCOPED_TRACE(k);
        Effect* effect = c->getEffect(k);
        if (!bones[k])
        {
            EXPECT_EQ(nullptr, effect);
            continue;
        }
        ASSERT_NE(nullptr, effect);
        EXPECT_EQ(bones[k], boneOf(effect, entity));
        EXPECT_TRUE(effect->isShown());
        EXPECT_FLOAT_EQ(99999.0f, effect->getParamA());
        EXPECT_FLOAT_EQ(0.0f, effect->getParamB()) << "only copies get the second setting";
    }

    std::vector<std::string> log;
    RecordingRtt rtt(log);
    CreatureInstance* copy = make(100, 11);
    copy->setInstanceBeCopy(&rtt, &rtt);
    ASSERT_TRUE(copy->create());
    for (int k : {0, 1, 3, 4})
        EXPECT_FLOAT_EQ(99999.0f, copy->getEffect(k)->getParamB()) << k;
}

TEST_F(CreatureInstanceTest, effectWithoutItsBoneIsHeldUnstartedAndAnUnknownKindIsLeftOut)
{
    CreatureInstance* c = make(102, 12);
    ASSERT_TRUE(c->create());
    Ogre::Entity* entity = c->getEntityPtr();
    ASSERT_NE(nullptr, c->getEffect(0));
    EXPECT_EQ("effect_1", boneOf(c->getEffect(0), entity));
    EXPECT_TRUE(c->getEffect(0)->isShown());

    Effect* held = c->getEffect(1);
    ASSERT_NE(nullptr, held);
    EXPECT_EQ("", boneOf(held, entity));
    EXPECT_FALSE(held->isShown());
    EXPECT_FLOAT_EQ(0.0f, held->getParamA());
    EXPECT_EQ(nullptr, c->getEffect(4)) << "no_such_effect";
    EXPECT_EQ(m_effectsBefore + 2, EffectManager::getSingletonPtr()->getNumEffects());

    c->destroy();
    EXPECT_EQ(m_effectsBefore, EffectManager::getSingletonPtr()->getNumEffects()) << "held effects are freed too";
}

TEST_F(CreatureInstanceTest, absorbedFailuresAreLoggedOnceAtTheNormalLevelNamingWhatAndForWhom)
{
    RecordingLog log;
    m_res.mesh("G_jiaoren_women.mesh", {"crt_skin"});
    ASSERT_TRUE(make(103, 13)->create()) << "the substitute stands in for the missing mesh";
    EXPECT_EQ(1, log.count(Ogre::LML_NORMAL, {"mesh \"missing.mesh\"", "creature \"Goblin\" (ID 13)"}));
    // An ID of its own: the same failure of another test's avatar was noted already.
    ASSERT_TRUE(make(102, 14)->create()) << "the effect without its bone is held";
    EXPECT_EQ(1, log.count(Ogre::LML_NORMAL, {"bone \"effect_2\"", "\"14_Creature\"", "(ID 14)"}));

    // A queued build is retried every frame: its missing table is noted once at the normal level.
    ASSERT_EQ(0, std::remove("Object.csv"));
    CreatureSetting_t setting;
    setting.ID = 37500;
    std::strcpy(setting.Name, "Crate");
    IInstance* crate = manager().createCreature(setting, new ENTITY_CALLBACK());
    for (int frame = 0; frame < 3; ++frame)
        manager().update(0.016f);
    EXPECT_EQ(nullptr, crate->getEntityPtr());
    const std::string forCrate = "creature \"Crate\" (ID " + std::to_string(crate->getUniqueID()) + ")";
    EXPECT_EQ(1, log.count(Ogre::LML_NORMAL, {"table \"Object.csv\"", forCrate}));
    EXPECT_EQ(2, log.count(Ogre::LML_TRIVIAL, {"table \"Object.csv\"", forCrate}));
    EXPECT_EQ(3, log.count(Ogre::LML_NORMAL, {"AvatarSystem: "})) << "nothing else is shown";
}

TEST_F(CreatureInstanceTest, refreshingEffectsReleasesTheEarlierOnesOfTheSlotsItRefills)
{
    CreatureInstance* c = make(100, 14);
    ASSERT_TRUE(c->create());
    EffectManager* effects = EffectManager::getSingletonPtr();
    const std::size_t live = effects->getNumEffects();
    Effect* kept = c->getEffect(3);
    ASSERT_NE(nullptr, c->getEffect(0));
    const std::string replaced = c->getEffect(0)->getName();

    // Slot 1 is refilled, slot 4 keeps its effect because its new name is empty.
    c->refreshAttachEffects(c->getEffect(1)->getKind(), "", "", "", "");
    EXPECT_EQ(live, effects->getNumEffects()) << "the replaced effect was freed, not left alive";
    EXPECT_EQ(nullptr, effects->getEffect(replaced));
    EXPECT_EQ(kept, c->getEffect(3));
    EXPECT_EQ("effect_1", boneOf(c->getEffect(0), c->getEntityPtr()));
    c->destroy();
    EXPECT_EQ(m_effectsBefore, effects->getNumEffects());
}

TEST_F(CreatureInstanceTest, destroyLeavesNothingInTheSceneOrMaterialManagers)
{
    const OgreCounts before = OgreCounts::now();
    CreatureInstance* c = make(100, 13);
    ASSERT_TRUE(c->create());
    c->setHighLight(true);
    c->initAnimation();
    EXPECT_FALSE(before == OgreCounts::now());

    EXPECT_TRUE(c->destroy());
    EXPECT_EQ(before, OgreCounts::now());
    EXPECT_EQ(m_effectsBefore, EffectManager::getSingletonPtr()->getNumEffects());
    EXPECT_EQ(nullptr, c->getEntityPtr());
    EXPECT_EQ(nullptr, c->getAnimationController());
    EXPECT_TRUE(c->getClonedMaterials().empty());
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(nullptr, c->getEffect(k));
    EXPECT_TRUE(Ogre::MaterialManager::getSingleton().resourceExists("col")) << "the shared material stays";
    EXPECT_FALSE(Ogre::MaterialManager::getSingleton().resourceExists("crt_skin_13_0"));

    // Everything forwards safely without a controller, and a second destroy is harmless.
    EXPECT_TRUE(c->destroy());
    EXPECT_FLOAT_EQ(-1.0f, c->getPlayPercent("Walk"));
    EXPECT_EQ(ANIM_NONE, c->searchAnimation(0));
    EXPECT_FALSE(c->hasAnimation(static_cast<AnimationType>(1)));
    c->playAnimation(static_cast<AnimationType>(1), BLEND_SMOOTH, 0.0f, nullptr, true);
    c->update(true, 0.1f);
    c->updateControlledEntity();
    c->setVisible(false);
    c->setTextureFilter(3);
    EXPECT_EQ(before, OgreCounts::now());
}

TEST_F(CreatureInstanceTest, destroyWithoutCreateOnlyReleasesTheController)
{
    const OgreCounts before = OgreCounts::now();
    CreatureInstance* c = make(100, 14);
    EXPECT_TRUE(c->destroy());
    EXPECT_EQ(nullptr, c->getAnimationController());
    EXPECT_EQ(before, OgreCounts::now());
}

TEST_F(CreatureInstanceTest, viewIsNotifiedByTypeAndTheRecordIsDeletedAfterwards)
{
    {
        SCOPED_TRACE("type 0 with an observer: view, its key, then the observer");
        std::vector<std::string> log;
        RecordingView view(log);
        RecordingObserver observer(log);
        auto* record = new ENTITY_CALLBACK{0, &view, &observer};
        CreatureInstance* c = make(100, 20, record);
        ASSERT_TRUE(c->create());
        EXPECT_EQ((std::vector<std::string>{"ready 0", "key", "observer 77"}), log);
        EXPECT_EQ(c, view.last);
        EXPECT_EQ(nullptr, c->getEntityViewPtr());
    }
    {
        SCOPED_TRACE("type 0 without an observer");
        std::vector<std::string> log;
        RecordingView view(log);
        CreatureInstance* c = make(100, 21, new ENTITY_CALLBACK{0, &view, nullptr});
        ASSERT_TRUE(c->create());
        EXPECT_EQ(std::vector<std::string>{"ready 0"}, log);
    }
    {
        SCOPED_TRACE("type 1 gets the creature row's camera bias");
        std::vector<std::string> log;
        RecordingView view(log);
        CreatureInstance* c = make(100, 22, new ENTITY_CALLBACK{1, &view, nullptr});
        ASSERT_TRUE(c->create());
        EXPECT_EQ(std::vector<std::string>{"A"}, log);
        EXPECT_EQ(c, view.last);
        EXPECT_FLOAT_EQ(1.25f, view.bias);
        EXPECT_EQ(nullptr, c->getEntityViewPtr());
    }
    {
        SCOPED_TRACE("type 2 gets the object row's camera bias from its own column");
        std::vector<std::string> log;
        RecordingView view(log);
        CreatureInstance* c = make(37500, 23, new ENTITY_CALLBACK{2, &view, nullptr});
        ASSERT_TRUE(c->create());
        EXPECT_EQ(std::vector<std::string>{"B"}, log);
        EXPECT_FLOAT_EQ(0.75f, view.bias);
    }
    {
        SCOPED_TRACE("another type: no call, the record is still deleted");
        std::vector<std::string> log;
        RecordingView view(log);
        RecordingRtt rtt(log);
        CreatureInstance* c = make(100, 24, new ENTITY_CALLBACK{3, &view, nullptr});
        c->setInstanceBeCopy(&rtt, &rtt);
        ASSERT_TRUE(c->create());
        EXPECT_TRUE(log.empty()) << "a copy with a view is told through the view only";
        EXPECT_EQ(nullptr, c->getEntityViewPtr());
    }
    {
        SCOPED_TRACE("a failed create keeps the record and notifies nobody");
        std::vector<std::string> log;
        RecordingView view(log);
        auto* record = new ENTITY_CALLBACK{1, &view, nullptr};
        CreatureInstance* c = make(5, 25, record);
        EXPECT_FALSE(c->create());
        EXPECT_TRUE(log.empty());
        EXPECT_EQ(record, c->getEntityViewPtr());
    }
}

TEST_F(CreatureInstanceTest, withoutAViewACopyTellsItsRenderToTextureCallbacksInstead)
{
    {
        SCOPED_TRACE("a record without view is kept, not called");
        std::vector<std::string> log;
        RecordingRtt rtt(log);
        RecordingObserver observer(log);
        auto* record = new ENTITY_CALLBACK{0, nullptr, &observer};
        CreatureInstance* c = make(100, 30, record);
        c->setInstanceBeCopy(&rtt, &rtt);
        ASSERT_TRUE(c->create());
        EXPECT_EQ((std::vector<std::string>{"creature copy 3d", "copy"}), log);
        EXPECT_EQ(record, c->getEntityViewPtr());
    }
    {
        SCOPED_TRACE("no record at all");
        std::vector<std::string> log;
        RecordingRtt rtt(log);
        CreatureInstance* c = make(100, 31);
        c->setInstanceBeCopy(&rtt, &rtt);
        ASSERT_TRUE(c->create());
        EXPECT_EQ((std::vector<std::string>{"creature copy 3d", "copy"}), log);
    }
    {
        SCOPED_TRACE("either callback may be missing");
        std::vector<std::string> log;
        RecordingRtt rtt(log);
        CreatureInstance* c = make(100, 32);
        c->setInstanceBeCopy(nullptr, &rtt);
        ASSERT_TRUE(c->create());
        EXPECT_EQ(std::vector<std::string>{"creature copy 3d"}, log);
        CreatureInstance* d = make(100, 33);
        d->setInstanceBeCopy(nullptr, nullptr);
        EXPECT_TRUE(d->create());
    }
    {
        SCOPED_TRACE("not a copy: the viewless record is simply kept");
        auto* record = new ENTITY_CALLBACK{1, nullptr, nullptr};
        CreatureInstance* c = make(100, 34, record);
        ASSERT_TRUE(c->create());
        EXPECT_EQ(record, c->getEntityViewPtr());
    }
}

TEST_F(CreatureInstanceTest, translucentCreatureBlendsHidesItsEffectsAndDropsShadowsBelowATenth)
{
    Ogre::MaterialManager::getSingleton().getByName("crt_skin")->setLightingEnabled(false);
    CreatureInstance* c = make(101, 40);
    ASSERT_TRUE(c->create());
    ASSERT_TRUE(c->isBeTransObject());
    Ogre::Entity* entity = c->getEntityPtr();

    // create starts the fade-in at opacity 0.
    EXPECT_FLOAT_EQ(0.0f, c->getTransparency());
    EXPECT_FALSE(c->isTransparencySet());
    EXPECT_EQ(90, entity->getRenderQueueGroup());
    EXPECT_FALSE(entity->getCastShadows());
    Ogre::Pass* skin = pass0(entity, 0);
    EXPECT_EQ(Ogre::SBF_SOURCE_ALPHA, skin->getSourceBlendFactor());
    EXPECT_EQ(Ogre::SBF_ONE_MINUS_SOURCE_ALPHA, skin->getDestBlendFactor());
    EXPECT_FALSE(skin->getDepthWriteEnabled());
    EXPECT_EQ(Ogre::CMPF_GREATER, skin->getAlphaRejectFunction());
    EXPECT_EQ(0, skin->getAlphaRejectValue());
    EXPECT_FLOAT_EQ(0.0f, skin->getDiffuse().a);
    EXPECT_FALSE(skin->getLightingEnabled()) << "the translucent case leaves lighting alone";
    EXPECT_FALSE(c->getEffect(0)->isShown());

    c->setInstanceTransoarency(0.97f, true);
    EXPECT_EQ(90, entity->getRenderQueueGroup());
    EXPECT_FLOAT_EQ(0.97f, skin->getDiffuse().a);
    EXPECT_FLOAT_EQ(0.97f, pass0("col")->getDiffuse().a) << "the shared material changes with it";

    c->setInstanceTransoarency(0.98f, true);
    EXPECT_EQ(54, entity->getRenderQueueGroup()) << "float 0.98 is above the double 0.98";
    EXPECT_EQ(Ogre::SBF_ONE, skin->getSourceBlendFactor());
    EXPECT_EQ(Ogre::SBF_ZERO, skin->getDestBlendFactor());
    EXPECT_TRUE(skin->getDepthWriteEnabled());
    EXPECT_EQ(125, skin->getAlphaRejectValue());
    EXPECT_EQ(Ogre::ColourValue::White, skin->getDiffuse());
    EXPECT_TRUE(skin->getLightingEnabled());
    EXPECT_EQ(Ogre::CULL_NONE, skin->getCullingMode());
    for (int k : {0, 1, 3, 4})
        EXPECT_TRUE(c->getEffect(k)->isShown()) << k;

    c->setInstanceTransoarency(0.05f, true);
    EXPECT_FALSE(entity->getCastShadows());
    c->setInstanceTransoarency(1.0f, true);
    EXPECT_FALSE(entity->getCastShadows()) << "opaque does not switch shadows back on";
    c->setInstanceTransoarency(0.1f, true);
    EXPECT_TRUE(entity->getCastShadows()) << "float 0.1 is above the double 0.1";
    c->setInstanceTransoarency(1.0f, true);
    EXPECT_TRUE(entity->getCastShadows()) << "nor off";

    // Effects hidden by hand come back with the opaque state.
    c->showEffect(false);
    c->setInstanceTransoarency(1.0f, true);
    EXPECT_TRUE(c->getEffect(0)->isShown());
}

TEST_F(CreatureInstanceTest, creatureThatIgnoresOpacityKeepsItsLookButStillTracksTheValue)
{
    CreatureInstance* c = make(100, 41);
    ASSERT_TRUE(c->create());
    ASSERT_FALSE(c->isBeTransObject());
    Ogre::Entity* entity = c->getEntityPtr();
    c->setInstanceTransoarency(0.3f, true);
    EXPECT_FLOAT_EQ(0.3f, c->getTransparency());
    EXPECT_TRUE(c->isTransparencySet());
    EXPECT_EQ(54, entity->getRenderQueueGroup());
    EXPECT_EQ(Ogre::ColourValue(0.2f, 0.3f, 0.4f), pass0(entity, 0)->getDiffuse());
    EXPECT_TRUE(pass0(entity, 0)->getDepthWriteEnabled());
    EXPECT_EQ(Ogre::ColourValue(0.6f, 0.6f, 0.6f), pass0("col")->getDiffuse());
    EXPECT_TRUE(c->getEffect(0)->isShown());
}

TEST_F(CreatureInstanceTest, fadeInRunsTwoSecondsThroughUpdateAndThenSettles)
{
    for (unsigned id : {101u, 100u})
    {
        SCOPED_TRACE(id);
        CreatureInstance* c = make(id, 50 + id);
        const bool looks = id == 101;
        c->update(true, 0.5f);
        EXPECT_FLOAT_EQ(0.0f, c->getTransparency()) << "nothing happens before there is an entity";
        ASSERT_TRUE(c->create());
        Ogre::Entity* entity = c->getEntityPtr();
        for (int step = 1; step <= 3; ++step)
        {
            c->update(true, 0.5f);
            EXPECT_FLOAT_EQ(0.25f * step, c->getTransparency());
            EXPECT_FALSE(c->isTransparencySet());
            EXPECT_EQ(looks ? 90 : 54, entity->getRenderQueueGroup());
        }
        if (looks)
        {
            EXPECT_FLOAT_EQ(0.75f, pass0(entity, 0)->getDiffuse().a);
        }
        c->update(true, 0.5f);
        EXPECT_FLOAT_EQ(1.0f, c->getTransparency());
        EXPECT_FALSE(c->isTransparencySet()) << "the step reaching 1 draws opaque; the next one settles";
        EXPECT_EQ(54, entity->getRenderQueueGroup());
        c->update(true, 0.5f);
        EXPECT_TRUE(c->isTransparencySet());
        EXPECT_FLOAT_EQ(1.0f, c->getTransparency());
        c->update(true, 5.0f);
        EXPECT_FLOAT_EQ(1.0f, c->getTransparency());
    }
    {
        SCOPED_TRACE("an opacity from outside ends the fade and is kept");
        CreatureInstance* c = make(101, 60);
        ASSERT_TRUE(c->create());
        c->update(true, 0.5f);
        c->setInstanceTransoarency(0.4f, true);
        c->update(true, 0.5f);
        c->update(true, 0.5f);
        EXPECT_FLOAT_EQ(0.4f, c->getTransparency());
        EXPECT_EQ(90, c->getEntityPtr()->getRenderQueueGroup());
        SCOPED_TRACE("and a value set with false restarts it from there");
        c->setInstanceTransoarency(0.9f, false);
        c->update(true, 0.1f);
        EXPECT_FLOAT_EQ(0.95f, c->getTransparency());
    }
}

TEST_F(CreatureInstanceTest, highlightAddsOneWhiteUnitToEachCopyAndRemovesItAgain)
{
    CreatureInstance* c = make(100, 70);
    ASSERT_TRUE(c->create());
    const std::size_t colUnits = pass0("col")->getNumTextureUnitStates();
    c->setHighLight(true);
    c->setHighLight(true);
    for (const std::string& name : c->getClonedMaterials())
    {
        SCOPED_TRACE(name);
        Ogre::Pass* pass = pass0(name);
        ASSERT_EQ(2u, pass->getNumTextureUnitStates());
        Ogre::TextureUnitState* unit = pass->getTextureUnitState("white.bmp");
        ASSERT_NE(nullptr, unit);
        EXPECT_EQ("white.bmp", unit->getTextureName());
        EXPECT_EQ(0u, unit->getTextureCoordSet());
        EXPECT_TRUE(unit->getTextureAddressingMode().u == Ogre::TextureUnitState::TAM_WRAP);
        const Ogre::LayerBlendModeEx& blend = unit->getColourBlendMode();
        EXPECT_EQ(Ogre::LBX_MODULATE_X2, blend.operation);
        EXPECT_EQ(Ogre::LBS_TEXTURE, blend.source1);
        EXPECT_EQ(Ogre::LBS_CURRENT, blend.source2);
    }
    EXPECT_EQ(colUnits, pass0("col")->getNumTextureUnitStates()) << "the shared material is never highlighted";

    c->setHighLight(false);
    for (const std::string& name : c->getClonedMaterials())
    {
        EXPECT_EQ(nullptr, pass0(name)->getTextureUnitState("white.bmp")) << name;
        EXPECT_EQ(1u, pass0(name)->getNumTextureUnitStates()) << name;
    }
    c->setHighLight(false);
    EXPECT_EQ(1u, pass0(c->getClonedMaterials().front())->getNumTextureUnitStates());
}

TEST_F(CreatureInstanceTest, textureFilterLevelsMapToTrilinearOrAnisotropic)
{
    CreatureInstance* c = make(100, 80);
    ASSERT_TRUE(c->create());
    Ogre::Entity* entity = c->getEntityPtr();
    auto unit = [&](unsigned sub) { return pass0(entity, sub)->getTextureUnitState(0); };

    const std::pair<int, unsigned> anisotropic[] = {{1, 2}, {2, 4}, {3, 8}, {4, 16}, {7, 2}, {-1, 2}};
    for (const auto& level : anisotropic)
    {
        SCOPED_TRACE(level.first);
        c->setTextureFilter(level.first);
        for (unsigned sub : {0u, 2u})
        {
            EXPECT_EQ(Ogre::FO_ANISOTROPIC, unit(sub)->getTextureFiltering(Ogre::FT_MIN));
            EXPECT_EQ(Ogre::FO_ANISOTROPIC, unit(sub)->getTextureFiltering(Ogre::FT_MAG));
            EXPECT_EQ(level.second, unit(sub)->getTextureAnisotropy());
        }
    }
    c->setTextureFilter(4);
    c->setTextureFilter(0);
    EXPECT_EQ(Ogre::FO_LINEAR, unit(0)->getTextureFiltering(Ogre::FT_MIN));
    EXPECT_EQ(Ogre::FO_LINEAR, unit(0)->getTextureFiltering(Ogre::FT_MIP));
    EXPECT_EQ(16u, unit(0)->getTextureAnisotropy()) << "trilinear leaves the anisotropy as it was";
}

TEST_F(CreatureInstanceTest, visibilityAndControllerBindingFollowTheEntity)
{
    CreatureInstance* c = make(100, 90);
    ASSERT_TRUE(c->create());
    Ogre::Entity* entity = c->getEntityPtr();
    AnimationController* controller = c->getAnimationController();
    EXPECT_EQ(entity, controller->getEntity());
    EXPECT_FALSE(controller->isPaused());

    c->setVisible(false);
    EXPECT_FALSE(entity->getVisible());
    EXPECT_TRUE(c->getEffect(0)->isShown()) << "effects are not touched";
    c->setVisible(true);
    EXPECT_TRUE(entity->getVisible());

    controller->setEntity(nullptr);
    c->updateControlledEntity();
    EXPECT_EQ(entity, controller->getEntity());
}

TEST_F(CreatureInstanceTest, manualAnimationStepsTheChosenStateOnlyWhileUnpaused)
{
    CreatureInstance* c = make(100, 95);
    ASSERT_TRUE(c->create());
    c->initAnimation();
    c->initAnimation(); // refills rather than appends

    // States come in the order of the entity's state set, by name.
    Ogre::AnimationStateSet* states = c->getEntityPtr()->getAllAnimationStates();
    ASSERT_NE(nullptr, states);
    Ogre::AnimationState* walk = states->getAnimationState("Walk");
    c->setNewAimationState(3, false);
    c->setNewAimationState(-1, false);
    c->changePausePropety(); // creatures start paused: this unpauses
    EXPECT_FALSE(c->getAnimationController()->isPaused());
    c->animationAddTime(0.1f);
    EXPECT_FLOAT_EQ(0.0f, walk->getTimePosition()) << "no state chosen by an index out of range";

    c->setNewAimationState(2, false);
    c->setAnimationPlaySpeed(2.0f);
    c->animationAddTime(0.2f);
    EXPECT_FLOAT_EQ(0.4f, walk->getTimePosition());
    EXPECT_FLOAT_EQ(0.0f, states->getAnimationState("Attack")->getTimePosition());

    c->changePausePropety();
    EXPECT_TRUE(c->getAnimationController()->isPaused());
    c->animationAddTime(0.2f);
    EXPECT_FLOAT_EQ(0.4f, walk->getTimePosition());

    EXPECT_STREQ("", c->getAnimName(static_cast<AnimationType>(1)));
    c->setSpeed(16.0f, 6.0f);
    float run = 0, walkRate = 0;
    c->getSpeedRate(run, walkRate);
    EXPECT_FLOAT_EQ(16.0f / 4.0f, run);
    EXPECT_FLOAT_EQ(6.0f / 2.0f, walkRate);
}

// OGRE behaviours the creature code relies on.
TEST(CreatureOgreAssumptions, engineBehavesAsTheCreatureCodeExpects)
{
    TestResources res;
    Ogre::MaterialPtr m = res.material("crt_pin");
    EXPECT_EQ(nullptr, m->getTechnique(0)->getPass(0)->getTextureUnitState("white.bmp"))
        << "looking up a unit by an unknown name answers null";
    EXPECT_GT(static_cast<double>(0.98f), 0.98);
    EXPECT_GT(static_cast<double>(0.1f), 0.1);
    Ogre::MaterialPtr copy = m->clone("crt_pin_copy", false, Ogre::BLANKSTRING);
    EXPECT_EQ(m->getGroup(), copy->getGroup());
    Ogre::MaterialManager::getSingleton().remove("crt_pin_copy");
    EXPECT_FALSE(Ogre::MaterialManager::getSingleton().resourceExists("crt_pin_copy"));
}
