// Equipment of player avatars on the sample content pack, as a host sees it through IAvatarSystem
// and IInstance and as the engine holds it: the models on the body's bones, their effects, the
// worn items' geosets and section materials, and what a replaced setting rebuilds.
#include "avatarsystem/attachmodel.h"
#include "avatarsystem/characterinstance.h"
#include "effects/effectmanager.h"

#include "packsystem.h"
#include "contentpack.h"
#include "headlessogre.h"

#include <OgreEntity.h>
#include <OgreMaterial.h>
#include <OgreMaterialManager.h>
#include <OgreMesh.h>
#include <OgrePass.h>
#include <OgreSceneManager.h>
#include <OgreSubEntity.h>
#include <OgreSubMesh.h>
#include <OgreTagPoint.h>
#include <OgreTechnique.h>
#include <OgreTextureUnitState.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace
{

/// Bone name -> mesh of each entity hanging on a bone of body, as the engine holds them.
std::multimap<std::string, std::string> hungOn(Ogre::Entity* body)
{
    std::multimap<std::string, std::string> hung;
    for (Ogre::MovableObject* object : body->getAttachedObjects())
        if (object->getMovableType() == "Entity")
            hung.emplace(object->getParentNode()->getParent()->getName(),
                         static_cast<Ogre::Entity*>(object)->getMesh()->getName());
    return hung;
}

/// The entities hanging on body's bones.
std::set<Ogre::Entity*> entitiesOn(Ogre::Entity* body)
{
    std::set<Ogre::Entity*> entities;
    for (Ogre::MovableObject* object : body->getAttachedObjects())
        if (object->getMovableType() == "Entity")
            entities.insert(static_cast<Ogre::Entity*>(object));
    return entities;
}

/// The kind of the effect hanging on bone of an item entity, or "" when none hangs there.
std::string effectOn(Ogre::Entity* item, const std::string& bone)
{
    for (Ogre::MovableObject* object : item->getAttachedObjects())
        if (object->getParentNode()->getParent()->getName() == bone)
            if (Effect* effect = EffectManager::getSingletonPtr()->getEffect(object->getName()))
                return effect->getKind();
    return "";
}

/// The material object each sub-entity of an entity wears, by sub-mesh name.
/// Marks pass 0 of every sub-entity's material, so that remadeSections() later names the
/// sub-entities whose material was re-templated (it then holds the template's passes) or replaced.
void markSections(Ogre::Entity* entity)
{
    for (unsigned i = 0; i < entity->getNumSubEntities(); ++i)
        entity->getSubEntity(i)->getMaterial()->getTechnique(0)->getPass(0)->setName("kept");
}

std::vector<std::string> remadeSections(Ogre::Entity* entity)
{
    std::vector<std::string> remade;
    for (const auto& entry : entity->getMesh()->getSubMeshNameMap())
        if (entity->getSubEntity(entry.second)->getMaterial()->getTechnique(0)->getPass(0)->getName() != "kept")
            remade.push_back(entry.first);
    std::sort(remade.begin(), remade.end());
    return remade;
}

Ogre::Pass* pass0(Ogre::SubEntity* sub)
{
    return sub->getMaterial()->getTechnique(0)->getPass(0);
}

Ogre::Entity* entityOf(AttachModel* model)
{
    return model ? model->getEntity() : nullptr;
}

class Equipment : public PackSystemTest
{
protected:
    PlayerSetting_t preset(const char* name) { return manager->getPorpertiesFromDB(name); }

    /// A player built at once from a setting.
    CharacterInstance* build(const PlayerSetting_t& setting)
    {
        auto* character = static_cast<CharacterInstance*>(system->createPlayer(setting, nullptr));
        EXPECT_NE(character->getEntityPtr(), nullptr) << setting.Name;
        return character;
    }

    /// Gives a live player a new setting and runs the frame that rebuilds it.
    void replace(CharacterInstance* character, const PlayerSetting_t& setting)
    {
        ASSERT_TRUE(system->replacePlayer(setting, character));
        system->update(0.016f);
        ASSERT_EQ(manager->getNumRequests(), 0u);
    }

    /// Marks a template material with a shininess of its own for the test, so that a section
    /// re-templated from it can be told apart after its texture was put back.
    void mark(const std::string& templ, float shininess)
    {
        Ogre::MaterialPtr material = Ogre::MaterialManager::getSingleton().getByName(templ);
        ASSERT_TRUE(material) << templ;
        marked.emplace_back(material, material->getTechnique(0)->getPass(0)->getShininess());
        material->getTechnique(0)->getPass(0)->setShininess(shininess);
    }
    static float shininess(CharacterInstance* c, const std::string& subEntity)
    {
        return pass0(c->getEntityPtr()->getSubEntity(subEntity))->getShininess();
    }

    ~Equipment() override
    {
        for (auto& template_ : marked)
            template_.first->getTechnique(0)->getPass(0)->setShininess(template_.second);
    }

    /// Runs the fade-in to its end: the opacity is settled at 1.
    static void settle(CharacterInstance* character)
    {
        character->update(false, 2.0f);
        character->update(false, 0.016f);
        ASSERT_TRUE(character->isTransparencySet());
    }

    std::vector<std::pair<Ogre::MaterialPtr, float>> marked; ///< templates and their own shininess
};

} // namespace

TEST_F(Equipment, everyPlaceHangsOnItsBoneUnderItsOwnNameWithTheChosenEffect)
{
    PlayerSetting_t warriorSetting = preset("Warrior");
    warriorSetting.weaponEffect.shoulderEffect = 2;
    warriorSetting.weaponEffect.rightHandEffect = 1;
    warriorSetting.weaponEffect.backWeaponEffect = 3;
    warriorSetting.weaponEffect.rightWaistEffect = 1;
    warriorSetting.weaponEffect.leftWaistEffect = 1; // the pouch's columns are empty
    CharacterInstance* warrior = build(warriorSetting);
    CharacterInstance* archer = build(preset("Archer"));
    Ogre::Entity* body = warrior->getEntityPtr();

    const std::multimap<std::string, std::string> warriorExpected = {
        {"helm", "helm_01_M.mesh"},    {"shoulder_l", "shoulder_01_l.mesh"}, {"shoulder_r", "shoulder_01_r.mesh"},
        {"shield", "shield_01.mesh"},  {"weapon_r", "sword_01.mesh"},        {"back3", "greatsword_01.mesh"},
        {"lumber_l", "pouch_01.mesh"}, {"lumber_r", "scabbard_01.mesh"},
    };
    EXPECT_EQ(hungOn(body), warriorExpected);
    // A helm per gender; a bow (Type 10) on "back1".
    const std::multimap<std::string, std::string> archerExpected = {
        {"helm", "helm_02_F.mesh"},
        {"shoulder_l", "shoulder_02_l.mesh"},
        {"shoulder_r", "shoulder_02_r.mesh"},
        {"weapon_l", "dagger_01.mesh"},
        {"back1", "bow_01.mesh"},
        {"lumber_l", "pouch_01.mesh"},
    };
    EXPECT_EQ(hungOn(archer->getEntityPtr()), archerExpected);

    // Names: player name, item, place, the character's address, then _1 or _2; effects by choice and suffix.
    const std::string address = std::to_string(reinterpret_cast<unsigned long>(warrior));
    struct Carried
    {
        int slot;
        unsigned item;
        const char* suffix;
        const char* effectBone;
        const char* effect;
    };
    const Carried carried[] = {
        {SLOT_HEAD, 101, "_1", "", ""},
        {SLOT_SHOULDER, 201, "_1", "Shoulder_1", "fx_glow_red_l"},
        {SLOT_SHOULDER, 201, "_2", "Shoulder_1", "fx_glow_red_r"},
        {SLOT_RIGHT_HAND, 301, "_1", "weapon_2", "fx_fire"},
        {SLOT_SHIELD, 501, "_1", "", ""},
        {SLOT_BACK_LONG_WEAPON, 901, "_1", "weapon_2", "fx_spark"},
        {SLOT_LEFT_WAIST, 601, "_1", "", ""},
        {SLOT_RIGHT_WAIST, 602, "_1", "weapon_2", "fx_glow_blue"},
    };
    const std::vector<CharacterInstance::CarriedModel> models = warrior->getCarriedModels();
    ASSERT_EQ(models.size(), 8u);
    for (std::size_t i = 0; i < models.size(); ++i)
    {
        SCOPED_TRACE(i);
        const Carried& expected = carried[i];
        Ogre::Entity* item = entityOf(models[i].model);
        EXPECT_EQ(models[i].slot, expected.slot);
        EXPECT_EQ(models[i].itemID, expected.item);
        EXPECT_EQ(item->getName(), "Warrior" + std::to_string(expected.item) + std::to_string(expected.slot) + address +
                                       expected.suffix);
        EXPECT_EQ(item->getParentNode()->getParent()->getName(), models[i].model->getBoneName());
        if (*expected.effect)
        {
            EXPECT_EQ(effectOn(item, expected.effectBone), expected.effect);
            EXPECT_EQ(models[i].model->getEffectName(), expected.effect);
        }
        else
        {
            EXPECT_TRUE(item->getAttachedObjects().empty()) << "no effect";
        }
        EXPECT_EQ(item->getRenderQueueGroup(), 90) << "fading in with the body";
    }
    warrior->update(false, 2.0f);
    for (const auto& model : models)
        EXPECT_EQ(entityOf(model.model)->getRenderQueueGroup(), 53);

    // The item's flag decides who may wear it: 2 fits both genders, 0 only men.
    const std::size_t entities = OgreCounts::now().entities;
    EXPECT_FALSE(archer->loadAttatchedModel(SLOT_RIGHT_HAND, 304)) << "a man's axe";
    EXPECT_EQ(archer->getRightWeapon(), nullptr);
    EXPECT_TRUE(archer->loadAttatchedModel(SLOT_RIGHT_HAND, 301));
    EXPECT_EQ(entityOf(archer->getRightWeapon())->getMesh()->getName(), "sword_01.mesh");
    EXPECT_EQ(OgreCounts::now().entities, entities + 1);
}

TEST_F(Equipment, placesChooseBonesAndEffectsAndBuildNothingForWhatTheyCannotCarry)
{
    CharacterInstance* villager = build(preset("Villager"));
    Ogre::Entity* body = villager->getEntityPtr();
    ASSERT_TRUE(hungOn(body).empty());
    const OgreCounts bare = OgreCounts::now();

    // The back bone by Type and sub-kind; an item of any other Type hangs on the long-weapon bone
    // instead of asking the skeleton for a bone without a name.
    const std::pair<unsigned, const char*> backs[] = {
        {901, "back3"}, {902, "back4"}, {903, "back5"}, {1001, "back1"}, {1201, "back3"}};
    for (const auto& back : backs)
    {
        SCOPED_TRACE(back.first);
        villager->removeAttachedModel(SLOT_BACK_LONG_WEAPON);
        ASSERT_TRUE(villager->loadAttatchedModel(SLOT_BACK_LONG_WEAPON, back.first));
        const auto hung = hungOn(body);
        ASSERT_EQ(hung.size(), 1u);
        EXPECT_EQ(hung.begin()->first, back.second);
        EXPECT_EQ(OgreCounts::now().entities, bare.entities + 1) << "one whole model, nothing half-built";
    }
    villager->removeAttachedModel(SLOT_BACK_LONG_WEAPON);
    EXPECT_EQ(OgreCounts::now(), bare);

    // A two-handed item: ModelFile to the left hand, ModelFile2 to the right, both with the
    // right hand's choice and no suffix.
    villager->setWeaponEffectAllShow(2);
    ASSERT_TRUE(villager->loadAttatchedModel(SLOT_DOUBLEHAND, 401));
    Ogre::Entity* left = entityOf(villager->getLeftWeapon());
    Ogre::Entity* right = entityOf(villager->getRightWeapon());
    EXPECT_EQ(hungOn(body), (std::multimap<std::string, std::string>{{"weapon_l", "twinblade_01_l.mesh"},
                                                                     {"weapon_r", "twinblade_01_r.mesh"}}));
    EXPECT_EQ(effectOn(left, "weapon_2"), "fx_fire");
    EXPECT_EQ(effectOn(right, "weapon_2"), "fx_fire");
    EXPECT_EQ(left->getName().substr(left->getName().size() - 2), "_1");
    EXPECT_EQ(right->getName().substr(right->getName().size() - 2), "_2");
    villager->removeAttachedModel(SLOT_RIGHT_HAND);
    EXPECT_EQ(villager->getRightWeapon(), nullptr) << "a one-handed removal clears its half";
    villager->removeAttachedModel(SLOT_DOUBLEHAND);
    EXPECT_EQ(villager->getLeftWeapon(), nullptr);

    // Choices 0 and 4, and an empty effect column, make no effect.
    for (int choice : {0, 4})
    {
        villager->setWeaponEffectAllShow(choice);
        ASSERT_TRUE(villager->loadAttatchedModel(SLOT_RIGHT_HAND, 301));
        EXPECT_TRUE(entityOf(villager->getRightWeapon())->getAttachedObjects().empty()) << choice;
        villager->removeAttachedModel(SLOT_RIGHT_HAND);
    }
    villager->setWeaponEffectAllShow(3); // the sword's Effect3 is empty
    ASSERT_TRUE(villager->loadAttatchedModel(SLOT_RIGHT_HAND, 301));
    EXPECT_TRUE(entityOf(villager->getRightWeapon())->getAttachedObjects().empty());
    EXPECT_EQ(effects->getNumEffects(), effectsBefore);

    // Loading into a place that still holds a model lets the earlier one go.
    const OgreCounts armed = OgreCounts::now();
    ASSERT_TRUE(villager->loadAttatchedModel(SLOT_RIGHT_HAND, 302));
    EXPECT_EQ(OgreCounts::now().entities, armed.entities);
    EXPECT_EQ(OgreCounts::now().materials, armed.materials - 1) << "the mace has one material, the sword two";
    EXPECT_EQ(hungOn(body), (std::multimap<std::string, std::string>{{"weapon_r", "mace_01.mesh"}}));

    // A formed name another entity already has gets a numbered variant instead of failing.
    villager->removeAttachedModel(SLOT_RIGHT_HAND);
    const std::string formed =
        "Villager3029" + std::to_string(reinterpret_cast<unsigned long>(villager)) + std::string("_1");
    Ogre::Entity* blocker = HeadlessOgre::sceneManager()->createEntity(formed, "mace_01.mesh");
    ASSERT_TRUE(villager->loadAttatchedModel(SLOT_RIGHT_HAND, 302));
    ASSERT_NE(entityOf(villager->getRightWeapon()), nullptr);
    EXPECT_EQ(entityOf(villager->getRightWeapon())->getName(), formed + "#2");
    EXPECT_EQ(hungOn(body).count("weapon_r"), 1u);
    villager->removeAttachedModel(SLOT_RIGHT_HAND);
    HeadlessOgre::sceneManager()->destroyEntity(blocker);

    // Worn-item places, unknown items, item 0 and items for the other gender build nothing.
    EXPECT_TRUE(villager->loadAttatchedModel(SLOT_GLOVE, 301)) << "read, but a glove place carries no model";
    EXPECT_TRUE(villager->loadAttatchedModel(SLOT_BELT, 304));
    EXPECT_FALSE(villager->loadAttatchedModel(SLOT_RIGHT_HAND, 4242));
    EXPECT_FALSE(villager->loadAttatchedModel(SLOT_RIGHT_HAND, 0));
    EXPECT_FALSE(villager->loadAttatchedModel(SLOT_RIGHT_HAND, 303)) << "a woman's dagger";
    EXPECT_EQ(OgreCounts::now(), bare);
}

TEST_F(Equipment, modelsLoadedOnABodilessPlayerGoWithIt)
{
    // Not built yet: the model hangs nowhere, and destroy takes it with the rest.
    IInstance* queued = system->createPlayer(preset("Villager"), new ENTITY_CALLBACK());
    auto* waiting = static_cast<CharacterInstance*>(queued);
    ASSERT_TRUE(waiting->loadAttatchedModel(SLOT_HEAD, 101));
    ASSERT_EQ(waiting->getCarriedModels().size(), 1u);
    EXPECT_EQ(OgreCounts::now().entities, before.entities + 1);
    system->destroyInstance(queued->getUniqueID());
    EXPECT_EQ(OgreCounts::now(), before);
    EXPECT_EQ(effects->getNumEffects(), effectsBefore);

    // Destroyed first: the host's delete takes what was loaded afterwards.
    waiting->setWeaponEffectAllShow(1);
    ASSERT_TRUE(waiting->loadAttatchedModel(SLOT_RIGHT_HAND, 301));
    ASSERT_NE(waiting->getRightWeapon(), nullptr);
    EXPECT_EQ(effects->getNumEffects(), effectsBefore + 1);
    delete waiting;
    EXPECT_EQ(OgreCounts::now(), before);
    EXPECT_EQ(effects->getNumEffects(), effectsBefore);
}

TEST_F(Equipment, wornItemsShowTheirGeosetsCoverTheirSectionsAndAreRetemplatedOnlyWhenChanged)
{
    mark("body_new_M", 7.0f);
    mark("sec_plate", 11.0f);
    mark("out_plate", 12.0f);
    mark("out_leather", 13.0f);

    // The cuirass's geoset wears its template with its TexPath and hides the torso.
    CharacterInstance* warrior = build(preset("Warrior"));
    Ogre::Entity* body = warrior->getEntityPtr();
    Ogre::SubEntity* cuirass = body->getSubEntity("shirt_out_0");
    const std::string cuirassName = cuirass->getMaterialName();
    EXPECT_TRUE(cuirass->isVisible());
    EXPECT_FALSE(body->getSubEntity("body_new_0")->isVisible());
    EXPECT_EQ(cuirassName,
              cuirass->getSubMesh()->getMaterialName() + "Warriortrue" + std::to_string(warrior->getUniqueID()))
        << "the avatar's own name is kept";
    EXPECT_FLOAT_EQ(pass0(cuirass)->getShininess(), 12.0f);
    EXPECT_EQ(warrior->getSubEntityTexture("shirt_out_0"), "plate_cuirass_out.dds");
    // The sabatons hide the lower legs and still dress them with their MatFoot.
    EXPECT_FALSE(body->getSubEntity("lowLeg_new_0")->isVisible());
    EXPECT_FLOAT_EQ(shininess(warrior, "lowLeg_new_0"), 11.0f);

    // The same shirt again: shown again, not made again, the torso still covered.
    const Ogre::Material* cuirassMaterial = cuirass->getMaterial().get();
    replace(warrior, warrior->getPlayerProperties());
    EXPECT_TRUE(cuirass->isVisible());
    EXPECT_EQ(cuirass->getMaterial().get(), cuirassMaterial);
    EXPECT_FALSE(body->getSubEntity("body_new_0")->isVisible());

    // Taking the shirt off: the torso shows again, back on the default template and texture.
    PlayerSetting_t bare = warrior->getPlayerProperties();
    bare.shirt = 0;
    replace(warrior, bare);
    EXPECT_FALSE(cuirass->isVisible());
    EXPECT_TRUE(body->getSubEntity("body_new_0")->isVisible());
    EXPECT_FLOAT_EQ(shininess(warrior, "body_new_0"), 7.0f);
    EXPECT_EQ(warrior->getSubEntityTexture("body_new_0"), "body_new_M.dds");

    // Gloves with a TexHand and no MatHand re-template the lower arms from "body_new_M"; their
    // geoset does not cover the arms.
    CharacterInstance* mage = build(preset("Mage"));
    EXPECT_FLOAT_EQ(shininess(mage, "lowArm_new_0"), 7.0f);
    EXPECT_EQ(mage->getSubEntityTexture("lowArm_new_0"), "bracer_M.dds");
    EXPECT_TRUE(mage->getEntityPtr()->getSubEntity("lowArm_new_0")->isVisible());
    EXPECT_FLOAT_EQ(pass0(mage->getEntityPtr()->getSubEntity("glove_out_0"))->getShininess(), 13.0f);
    EXPECT_EQ(mage->getSubEntityTexture("glove_out_0"), "bracer_out.dds");

    // Flag 0 dresses men only, flag 2 everyone: a woman in riding boots stays barefoot.
    PlayerSetting_t archer = preset("Archer");
    archer.boot = 5003;
    CharacterInstance* unshod = build(archer);
    EXPECT_FALSE(unshod->getEntityPtr()->getSubEntity("boot_out_0")->isVisible());
    EXPECT_EQ(unshod->getSubEntityTexture("lowLeg_new_0"), "lowLeg_new_F.dds");
    archer.boot = 5002;
    CharacterInstance* plated = build(archer);
    EXPECT_TRUE(plated->getEntityPtr()->getSubEntity("boot_out_0")->isVisible());
    EXPECT_EQ(plated->getSubEntityTexture("boot_out_0"), "plate_boot_out.dds");

    // An item that no longer fits is dressed as a bare place: the chain leggings' sec_plate on
    // the upper legs goes back to the default template with the skirt a man cannot wear.
    CharacterInstance* knight = build(preset("Knight"));
    EXPECT_FLOAT_EQ(shininess(knight, "upLeg_new_0"), 11.0f);
    PlayerSetting_t skirted = knight->getPlayerProperties();
    skirted.pants = 3003;
    replace(knight, skirted);
    EXPECT_FALSE(knight->getEntityPtr()->getSubEntity("pants_out_0")->isVisible());
    EXPECT_FLOAT_EQ(shininess(knight, "upLeg_new_0"), 7.0f);
    EXPECT_EQ(knight->getSubEntityTexture("upLeg_new_0"), "upleg_new_M.dds");
}

TEST_F(Equipment, aReplacedSettingRebuildsOnlyThePlacesThatChanged)
{
    CharacterInstance* warrior = build(preset("Warrior"));
    CharacterInstance* villager = build(preset("Villager"));
    Ogre::Entity* body = warrior->getEntityPtr();
    settle(warrior);
    const OgreCounts built = OgreCounts::now();
    const std::set<Ogre::Entity*> carried = entitiesOn(body);
    markSections(body);
    Ogre::Entity* oldHelm = entityOf(warrior->getCarriedModels().front().model);

    // Only the helm: the other models are the same engine objects, no material is copied again.
    PlayerSetting_t helm = warrior->getPlayerProperties();
    helm.head = 103;
    replace(warrior, helm);
    std::set<Ogre::Entity*> now = entitiesOn(body);
    Ogre::Entity* newHelm = entityOf(warrior->getCarriedModels().front().model);
    EXPECT_EQ(newHelm->getMesh()->getName(), "helm_03_M.mesh");
    EXPECT_EQ(now.erase(newHelm), 1u);
    std::set<Ogre::Entity*> others = carried;
    EXPECT_EQ(others.erase(oldHelm), 1u);
    EXPECT_EQ(now, others);
    EXPECT_TRUE(remadeSections(body).empty());
    EXPECT_EQ(OgreCounts::now(), built);
    EXPECT_EQ(newHelm->getRenderQueueGroup(), 53) << "the settled avatar's opacity";

    // Only the shirt: its geoset and its torso are re-templated, nothing else.
    PlayerSetting_t robe = warrior->getPlayerProperties();
    robe.shirt = 2004;
    const std::set<Ogre::Entity*> withNewHelm = entitiesOn(body);
    replace(warrior, robe);
    EXPECT_EQ(entitiesOn(body), withNewHelm);
    EXPECT_EQ(remadeSections(body), (std::vector<std::string>{"body_new_0", "robe_out_0"}));
    EXPECT_EQ(OgreCounts::now(), built);

    // Bare feet and hands are not dressed again by a rebuild that did not touch them.
    markSections(villager->getEntityPtr());
    PlayerSetting_t hooded = villager->getPlayerProperties();
    hooded.head = 102;
    replace(villager, hooded);
    EXPECT_TRUE(remadeSections(villager->getEntityPtr()).empty());

    // Destroyed, only the pooled bodies remain.
    const unsigned warriorId = static_cast<unsigned>(warrior->getUniqueID());
    const unsigned villagerId = static_cast<unsigned>(villager->getUniqueID());
    system->destroyInstance(warriorId);
    system->destroyInstance(villagerId);
    delete warrior;
    delete villager;
    EXPECT_TRUE(body->getAttachedObjects().empty());
    const OgreCounts destroyed = OgreCounts::now();
    EXPECT_EQ(destroyed.entities, before.entities + 2);
    EXPECT_EQ(destroyed.materials, before.materials);
    EXPECT_EQ(effects->getNumEffects(), effectsBefore);
}

TEST_F(Equipment, rebuildsKeepTheHandsTheEffectsAndTheOpacityTheSettingAsksFor)
{
    // From a two-handed weapon back to the one-handed ones the setting still holds.
    CharacterInstance* berserker = build(preset("Berserker"));
    Ogre::Entity* body = berserker->getEntityPtr();
    EXPECT_EQ(hungOn(body).count("weapon_l"), 1u);
    EXPECT_EQ(entityOf(berserker->getLeftWeapon())->getMesh()->getName(), "twinblade_01_l.mesh")
        << "the one-handed places wait while a two-handed weapon is set";
    PlayerSetting_t oneHanded = berserker->getPlayerProperties();
    oneHanded.doublehand = 0;
    replace(berserker, oneHanded);
    ASSERT_NE(berserker->getLeftWeapon(), nullptr);
    ASSERT_NE(berserker->getRightWeapon(), nullptr);
    EXPECT_EQ(entityOf(berserker->getLeftWeapon())->getMesh()->getName(), "dagger_01.mesh");
    EXPECT_EQ(entityOf(berserker->getRightWeapon())->getMesh()->getName(), "mace_01.mesh");
    oneHanded.doublehand = 401;
    replace(berserker, oneHanded);
    EXPECT_EQ(hungOn(body).count("weapon_l") + hungOn(body).count("weapon_r"), 2u);
    EXPECT_EQ(entityOf(berserker->getRightWeapon())->getMesh()->getName(), "twinblade_01_r.mesh");

    // A new effect choice rebuilds the places it governs, and only those.
    CharacterInstance* warrior = build(preset("Warrior"));
    Ogre::Entity* shoulder = entityOf(warrior->getCarriedModels()[1].model);
    EXPECT_TRUE(entityOf(warrior->getRightWeapon())->getAttachedObjects().empty());
    WeaponEffectVisible visible;
    visible.rightHandEffect = 1;
    EXPECT_TRUE(warrior->settingEquipEffect(&visible));
    system->update(0.016f);
    EXPECT_EQ(effectOn(entityOf(warrior->getRightWeapon()), "weapon_2"), "fx_fire");
    EXPECT_EQ(entityOf(warrior->getCarriedModels()[1].model), shoulder);

    // The opacity the host set holds for what a rebuild makes: a new helm and a re-templated torso.
    warrior->update(false, 2.0f);
    system->setInstanceTransoarency(warrior, 0.5f);
    PlayerSetting_t changed = warrior->getPlayerProperties();
    changed.head = 103;
    changed.shirt = 2001;
    replace(warrior, changed);
    Ogre::Entity* helm = entityOf(warrior->getCarriedModels().front().model);
    EXPECT_EQ(helm->getRenderQueueGroup(), 90);
    EXPECT_FLOAT_EQ(pass0(helm->getSubEntity(0))->getDiffuse().a, 0.5f);
    EXPECT_FLOAT_EQ(pass0(warrior->getEntityPtr()->getSubEntity("body_new_0"))->getDiffuse().a, 0.5f);
    EXPECT_FALSE(pass0(warrior->getEntityPtr()->getSubEntity("body_new_0"))->getDepthWriteEnabled());
}

TEST_F(Equipment, opacityAndFilteringReachEveryCarriedModelAndNoOtherAvatarsItems)
{
    CharacterInstance* first = build(preset("Warrior"));
    CharacterInstance* second = build(preset("Warrior"));
    settle(first);
    settle(second);
    // The pack's swords, helms and shields are made of two materials.
    ASSERT_EQ(entityOf(first->getRightWeapon())->getNumSubEntities(), 2u);

    system->setInstanceTransoarency(second, 0.3f);
    system->setTextureFilter(4);
    first->setTextureFilter(1);
    for (const auto& carried : second->getCarriedModels())
    {
        Ogre::Entity* item = entityOf(carried.model);
        SCOPED_TRACE(item->getName());
        EXPECT_EQ(item->getRenderQueueGroup(), 90);
        for (unsigned i = 0; i < item->getNumSubEntities(); ++i)
        {
            EXPECT_FLOAT_EQ(pass0(item->getSubEntity(i))->getDiffuse().a, 0.3f);
            EXPECT_EQ(pass0(item->getSubEntity(i))->getTextureUnitState(0)->getTextureAnisotropy(), 16u);
        }
        if (Effect* effect = carried.model->getEffect())
        {
            EXPECT_FALSE(effect->isShown());
        }
    }
    // The same items on the other avatar, and the items' own materials, keep their look.
    for (const auto& carried : first->getCarriedModels())
    {
        Ogre::Entity* item = entityOf(carried.model);
        SCOPED_TRACE(item->getName());
        EXPECT_EQ(item->getRenderQueueGroup(), 53);
        for (unsigned i = 0; i < item->getNumSubEntities(); ++i)
        {
            Ogre::SubEntity* sub = item->getSubEntity(i);
            EXPECT_FLOAT_EQ(pass0(sub)->getDiffuse().a, 1.0f);
            EXPECT_EQ(pass0(sub)->getTextureUnitState(0)->getTextureAnisotropy(), 2u);
            const Ogre::MaterialPtr own =
                Ogre::MaterialManager::getSingleton().getByName(sub->getSubMesh()->getMaterialName());
            ASSERT_TRUE(own);
            EXPECT_NE(own.get(), sub->getMaterial().get());
            EXPECT_TRUE(own->getTechnique(0)->getPass(0)->getDepthWriteEnabled());
        }
    }
}
