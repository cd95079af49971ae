// Dressing on the sample content pack: a player changed through replacePlayer (or place by place
// through loadAttatchedModel) looks in the engine exactly as the same player built at once with
// the final setting. Random pairs of settings, and the cases that once differed.
#include "avatarsystem/attachmodel.h"
#include "avatarsystem/characterinstance.h"
#include "avatarsystem/creatureinstance.h"
#include "avatarsystem/detail/entityfactory.h"
#include "avatarsystem/detail/scenewatch.h"

#include "packcatalog.h"
#include "packsystem.h"
#include "testmeshes.h"

#include <OgreEntity.h>
#include <OgreMaterial.h>
#include <OgreMaterialManager.h>
#include <OgreMesh.h>
#include <OgreMeshManager.h>
#include <OgrePass.h>
#include <OgreSceneManager.h>
#include <OgreSkeleton.h>
#include <OgreSubEntity.h>
#include <OgreSubMesh.h>
#include <OgreTagPoint.h>
#include <OgreTechnique.h>
#include <OgreTextureUnitState.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>

namespace
{

/// Everything of a material that shows: techniques, passes and texture units with their names,
/// colours, blending and textures.
std::string contentOf(const Ogre::MaterialPtr& material)
{
    std::ostringstream out;
    if (!material)
        return "no material";
    for (const Ogre::Technique* technique : material->getTechniques())
    {
        out << "technique " << technique->getName() << ":";
        for (const Ogre::Pass* pass : technique->getPasses())
        {
            const Ogre::ColourValue d = pass->getDiffuse();
            out << " pass " << pass->getName() << " lit " << pass->getLightingEnabled() << " diffuse " << d.r << ","
                << d.g << "," << d.b << "," << d.a << " shininess " << pass->getShininess() << " blend "
                << pass->getSourceBlendFactor() << "/" << pass->getDestBlendFactor() << " depth "
                << pass->getDepthWriteEnabled() << " cull " << pass->getCullingMode() << " reject "
                << pass->getAlphaRejectValue();
            for (const Ogre::TextureUnitState* unit : pass->getTextureUnitStates())
                out << " unit " << unit->getName() << " " << unit->getTextureName() << " filter "
                    << unit->getTextureFiltering(Ogre::FT_MIN) << unit->getTextureFiltering(Ogre::FT_MIP);
        }
        out << ";";
    }
    return out.str();
}

/// A player as the engine shows it: each sub-entity hidden or with its material's content, and
/// the models hanging on the body's bones with their effects.
struct Look
{
    std::map<std::string, std::string> subEntities;
    std::multiset<std::string> carried;
};

Look lookOf(CharacterInstance* player)
{
    Look look;
    Ogre::Entity* body = player->getEntityPtr();
    if (!body)
        return look;
    for (const auto& entry : body->getMesh()->getSubMeshNameMap())
    {
        Ogre::SubEntity* sub = body->getSubEntity(entry.second);
        look.subEntities[entry.first] = sub->isVisible() ? contentOf(sub->getMaterial()) : "hidden";
    }
    for (const CharacterInstance::CarriedModel& carried : player->getCarriedModels())
    {
        Ogre::Entity* model = carried.model->getEntity();
        std::string bone = "nowhere";
        if (model && model->isParentTagPoint())
        {
            auto* tag = static_cast<Ogre::TagPoint*>(model->getParentNode());
            bone = tag->getParentEntity() == body ? tag->getParent()->getName() : "another body";
        }
        look.carried.insert(bone + " " + (model ? model->getMesh()->getName() : "no entity") + " effect " +
                            carried.model->getEffectName());
    }
    return look;
}

/// The first difference between two looks, or empty.
std::string differences(const Look& changed, const Look& fresh)
{
    for (const auto& entry : fresh.subEntities)
    {
        const auto it = changed.subEntities.find(entry.first);
        if (it == changed.subEntities.end() || it->second != entry.second)
            return entry.first + ": changed " + (it == changed.subEntities.end() ? "missing" : it->second) +
                   "\n  built at once " + entry.second;
    }
    if (changed.carried != fresh.carried)
    {
        std::string text = "carried models differ: changed";
        for (const std::string& model : changed.carried)
            text += " [" + model + "]";
        text += ", built at once";
        for (const std::string& model : fresh.carried)
            text += " [" + model + "]";
        return text;
    }
    return "";
}

std::string describe(const PlayerSetting_t& s)
{
    std::ostringstream out;
    out << "gender " << s.gender << " race " << s.race << " hair " << s.hairStyle << "/" << s.hairColor << " face "
        << s.faceType << "/" << s.skinColor << " items";
    std::vector<unsigned*> places = pack::places(const_cast<PlayerSetting_t&>(s));
    for (unsigned* place : places)
        out << " " << *place;
    out << " effects " << s.weaponEffect.shoulderEffect << s.weaponEffect.leftHandEffect
        << s.weaponEffect.rightHandEffect << s.weaponEffect.rightWaistEffect << s.weaponEffect.leftWaistEffect
        << s.weaponEffect.backWeaponEffect;
    return out.str();
}

class Dressing : public PackSystemTest
{
protected:
    /// Names the first pass of every material after its material, so that a copy shows which
    /// template or mesh material it was made from (the pack's templates differ otherwise only in
    /// the texture, which the section textures replace).
    void SetUp() override
    {
        PackSystemTest::SetUp();
        auto it = Ogre::MaterialManager::getSingleton().getResourceIterator();
        for (; it.hasMoreElements(); it.moveNext())
        {
            auto material = Ogre::static_pointer_cast<Ogre::Material>(it.peekNextValue());
            if (material->getNumTechniques() == 0 || material->getTechnique(0)->getNumPasses() == 0)
                continue;
            Ogre::Pass* pass = material->getTechnique(0)->getPass(0);
            m_passNames.emplace_back(material->getName(), pass->getName());
            pass->setName(material->getName());
        }
    }
    void TearDown() override
    {
        PackSystemTest::TearDown();
        // By name: a test may have replaced a material meanwhile.
        for (const auto& entry : m_passNames)
            if (auto material = Ogre::MaterialManager::getSingleton().getByName(entry.first, Ogre::RGN_AUTODETECT))
                material->getTechnique(0)->getPass(0)->setName(entry.second);
    }

    PlayerSetting_t preset(const char* name) { return manager->getPorpertiesFromDB(name); }

    CharacterInstance* build(const PlayerSetting_t& setting)
    {
        return static_cast<CharacterInstance*>(system->createPlayer(setting, nullptr));
    }

    /// A setting from a random preset with random items, colours and effect choices; its gender
    /// is gender (the body of a changed player stays that of its first build).
    PlayerSetting_t randomSetting(std::mt19937& random, unsigned gender)
    {
        auto pick = [&random](std::size_t n) { return static_cast<unsigned>(random() % n); };
        PlayerSetting_t s = preset(pack::kPresets[pick(std::size(pack::kPresets))]);
        s.gender = gender;
        const std::vector<unsigned*> places = pack::places(s);
        for (std::size_t place = 0; place < places.size(); ++place)
        {
            const std::vector<unsigned>& items = pack::itemsByPlace()[place];
            const unsigned roll = pick(4);
            if (roll == 0)
                *places[place] = 0;
            else if (roll == 1)
                *places[place] = items[pick(items.size())];
        }
        s.hairColor = pick(3);
        s.skinColor = pick(3);
        for (unsigned* effect :
             {&s.weaponEffect.shoulderEffect, &s.weaponEffect.leftHandEffect, &s.weaponEffect.rightHandEffect,
              &s.weaponEffect.rightWaistEffect, &s.weaponEffect.leftWaistEffect, &s.weaponEffect.backWeaponEffect})
            *effect = pick(4);
        return s;
    }

    /// The pair of settings of a seed, changed and compared as below; the difference names them.
    std::string changeAndCompare(unsigned seed)
    {
        std::mt19937 random(seed);
        const unsigned gender = random() % 2;
        const PlayerSetting_t a = randomSetting(random, gender);
        const PlayerSetting_t b = randomSetting(random, gender);
        const std::string difference = changeAndCompare(a, b);
        return difference.empty() ? difference : difference + "\n  from " + describe(a) + "\n  to   " + describe(b);
    }

    /// Builds a, changes it to b through replacePlayer, and returns the first difference from b
    /// built at once (empty when none).
    std::string changeAndCompare(const PlayerSetting_t& a, const PlayerSetting_t& b)
    {
        CharacterInstance* changed = build(a);
        if (!changed->getEntityPtr())
            return "the first setting was not built";
        system->replacePlayer(b, changed);
        system->update(0.016f);
        CharacterInstance* fresh = build(b);
        const std::string difference = differences(lookOf(changed), lookOf(fresh));
        system->destroyInstance(changed->getUniqueID());
        system->destroyInstance(fresh->getUniqueID());
        return difference;
    }

private:
    std::vector<std::pair<std::string, std::string>> m_passNames;
};

} // namespace

TEST_F(Dressing, aPlayerChangedThroughReplacePlayerLooksAsOneBuiltAtOnce)
{
    // Each pair by its own seed, so that a failing one can be run again alone.
    for (unsigned seed = 1; seed <= 300; ++seed)
    {
        const std::string difference = changeAndCompare(seed);
        EXPECT_EQ(difference, "") << "seed " << seed;
        if (!difference.empty())
            break;
    }
}

TEST_F(Dressing, theSeedsThatFoundFaultsStayCases)
{
    // 26, 145 and 184: gloves off while the shirt's sleeve dresses the lower arms; 270 and 356:
    // boots off (or for the other gender) while the trousers' leg dresses the lower legs.
    for (unsigned seed : {26u, 145u, 184u, 270u, 356u})
        EXPECT_EQ(changeAndCompare(seed), "") << "seed " << seed;
}

TEST_F(Dressing, modelsLoadedPlaceByPlaceHangAsOnAPlayerBuiltAtOnce)
{
    const int order[] = {SLOT_HEAD,   SLOT_SHOULDER,         SLOT_DOUBLEHAND,  SLOT_LEFT_HAND,   SLOT_RIGHT_HAND,
                         SLOT_SHIELD, SLOT_BACK_LONG_WEAPON, SLOT_BACK_SHIELD, SLOT_RIGHT_WAIST, SLOT_LEFT_WAIST};
    for (unsigned seed = 1; seed <= 60; ++seed)
    {
        std::mt19937 random(seed);
        const unsigned gender = random() % 2;
        const PlayerSetting_t a = randomSetting(random, gender);
        const PlayerSetting_t other = randomSetting(random, gender);
        // a with the other's carried models: what the tool's place-by-place loading makes of a.
        PlayerSetting_t b = a;
        const std::vector<unsigned*> from = pack::places(const_cast<PlayerSetting_t&>(other));
        const std::vector<unsigned*> to = pack::places(b);
        for (int slot : order)
            *to[slot] = *from[slot];

        CharacterInstance* changed = build(a);
        ASSERT_NE(changed->getEntityPtr(), nullptr);
        const std::vector<unsigned*> was = pack::places(const_cast<PlayerSetting_t&>(a));
        const bool twoHandedChanged = a.doublehand != b.doublehand;
        for (int slot : order)
        {
            const bool hand = slot == SLOT_LEFT_HAND || slot == SLOT_RIGHT_HAND;
            if (hand && b.doublehand != 0)
                continue;
            if (*was[slot] == *to[slot] && !(hand && twoHandedChanged))
                continue;
            changed->removeAttachedModel(slot);
            changed->loadAttatchedModel(slot, *to[slot]);
        }
        CharacterInstance* fresh = build(b);
        EXPECT_EQ(lookOf(changed).carried, lookOf(fresh).carried)
            << "seed " << seed << "\n  from " << describe(a) << "\n  to   " << describe(b);
        system->destroyInstance(changed->getUniqueID());
        system->destroyInstance(fresh->getUniqueID());
    }
}

TEST_F(Dressing, glovesOffUnderASleeveAndBootsOffUnderATrouserLegGiveTheSectionBackToTheirCover)
{
    // The cloth shirt's sleeve (TexHand, default template) under leather gloves (sec_leather),
    // the cloth trousers' leg (TexFoot, default template) under leather boots (sec_leather).
    PlayerSetting_t dressed = preset("Villager");
    dressed.gender = 0;
    dressed.shirt = 2001;
    dressed.glove = 4001;
    dressed.pants = 3001;
    dressed.boot = 5001;
    PlayerSetting_t glovesOff = dressed;
    glovesOff.glove = 0;
    EXPECT_EQ(changeAndCompare(dressed, glovesOff), "");
    PlayerSetting_t bootsOff = dressed;
    bootsOff.boot = 0;
    EXPECT_EQ(changeAndCompare(dressed, bootsOff), "");
}

TEST_F(Dressing, sectionsSharingAMeshMaterialTakeTheirTemplatesEachOnItsOwnCopy)
{
    PlayerSetting_t setting = preset("Villager");
    setting.gender = 0;
    setting.shirt = 2001; // the torso on sec_cloth
    setting.glove = 4001; // the lower arms on sec_leather
    CharacterInstance* apart = build(setting);
    const Look expected = lookOf(apart);
    system->destroyInstance(apart->getUniqueID());
    CharacterInstance::clearEntityPools();

    // The lower arms share the torso's mesh material on a body made from now on.
    Ogre::MeshPtr mesh = Ogre::MeshManager::getSingleton().getByName("HumanMale.mesh", Ogre::RGN_AUTODETECT);
    ASSERT_TRUE(mesh);
    Ogre::SubMesh* lowArm = mesh->getSubMesh(CharacterInstance::lowArm_new);
    const std::string own = lowArm->getMaterialName();
    lowArm->setMaterialName(mesh->getSubMesh(CharacterInstance::body_new)->getMaterialName());
    CharacterInstance* sharing = build(setting);
    const Look look = lookOf(sharing);
    Ogre::Entity* body = sharing->getEntityPtr();
    EXPECT_NE(body->getSubEntity(CharacterInstance::body_new)->getMaterial(),
              body->getSubEntity(CharacterInstance::lowArm_new)->getMaterial());
    system->destroyInstance(sharing->getUniqueID());
    CharacterInstance::clearEntityPools();
    lowArm->setMaterialName(own);
    EXPECT_EQ(differences(look, expected), "");
}

TEST_F(Dressing, aMaterialTheHostRemovedIsNotCopiedFromAPooledBody)
{
    system->preBuildEntityBuffer(1);
    Ogre::MaterialManager& materials = Ogre::MaterialManager::getSingleton();
    Ogre::MaterialPtr face = materials.getByName("HumanMale/face", Ogre::RGN_AUTODETECT);
    ASSERT_TRUE(face);
    const std::string group = face->getGroup();
    const float shininess = face->getTechnique(0)->getPass(0)->getShininess();
    // The host removes the face's material (to reload it, say); the pooled body still points at it.
    face->getTechnique(0)->getPass(0)->setShininess(99.0f);
    materials.remove(face);

    CharacterInstance* player = build(preset("Warrior"));
    const Ogre::MaterialPtr copy = player->getEntityPtr()->getSubEntity(CharacterInstance::face_new)->getMaterial();
    const Ogre::MaterialPtr fallback = materials.getByName("c_body", Ogre::RGN_AUTODETECT);
    EXPECT_FLOAT_EQ(copy->getTechnique(0)->getPass(0)->getShininess(),
                    fallback->getTechnique(0)->getPass(0)->getShininess())
        << "made from c_body, as for a material that never existed";
    system->destroyInstance(player->getUniqueID());
    CharacterInstance::clearEntityPools();

    face->getTechnique(0)->getPass(0)->setShininess(shininess);
    face->clone("HumanMale/face", true, group);
}

TEST_F(Dressing, aCreatureRebuiltAfterTheHostDestroyedItsEntityWearsCopiesOfItsOwn)
{
    auto* wolf = static_cast<CreatureInstance*>(system->createCreature(std::string("Grey Wolf")));
    ASSERT_NE(wolf->getEntityPtr(), nullptr);
    HeadlessOgre::sceneManager()->destroyEntity(wolf->getEntityPtr());
    ASSERT_EQ(wolf->getEntityPtr(), nullptr);
    ASSERT_TRUE(wolf->create());
    Ogre::Entity* entity = wolf->getEntityPtr();
    for (unsigned i = 0; i < entity->getNumSubEntities(); ++i)
    {
        Ogre::SubEntity* sub = entity->getSubEntity(i);
        EXPECT_NE(sub->getMaterialName(), sub->getSubMesh()->getMaterialName()) << "sub-entity " << i;
        const std::vector<std::string>& copies = wolf->getClonedMaterials();
        EXPECT_NE(std::find(copies.begin(), copies.end(), sub->getMaterialName()), copies.end());
    }
    const Ogre::MaterialPtr shared =
        Ogre::MaterialManager::getSingleton().getByName(entity->getSubEntity(0)->getSubMesh()->getMaterialName());
    ASSERT_TRUE(shared);
    const std::string sharedBefore = contentOf(shared);
    wolf->setInstanceTransoarency(0.4f, true);
    EXPECT_EQ(contentOf(shared), sharedBefore) << "the material every wolf shares is not touched";
}

TEST_F(Dressing, aPlayerWhoseBodyTheHostDestroyedIsBuiltAgainOnANewOne)
{
    CharacterInstance* warrior = build(preset("Warrior"));
    ASSERT_NE(warrior->getEntityPtr(), nullptr);
    HeadlessOgre::sceneManager()->destroyEntity(warrior->getEntityPtr());
    ASSERT_EQ(warrior->getEntityPtr(), nullptr);

    PlayerSetting_t knight = preset("Knight");
    knight.gender = warrior->getPlayerProperties().gender;
    ASSERT_TRUE(system->replacePlayer(knight, warrior));
    system->update(0.016f);
    EXPECT_EQ(manager->getNumRequests(), 0u) << "built, not retried every frame";
    ASSERT_NE(warrior->getEntityPtr(), nullptr);
    CharacterInstance* fresh = build(knight);
    EXPECT_EQ(differences(lookOf(warrior), lookOf(fresh)), "");
}

TEST_F(Dressing, aModelLoadedOnAPlayerWithoutABodyGoesWhenItsPlaceIsRemoved)
{
    auto* waiting = static_cast<CharacterInstance*>(system->createPlayer(preset("Villager"), new ENTITY_CALLBACK()));
    ASSERT_EQ(waiting->getEntityPtr(), nullptr);
    ASSERT_TRUE(waiting->loadAttatchedModel(SLOT_HEAD, 101));
    ASSERT_EQ(OgreCounts::now().entities, before.entities + 1);
    waiting->removeAttachedModel(SLOT_HEAD);
    EXPECT_TRUE(waiting->getCarriedModels().empty());
    EXPECT_EQ(OgreCounts::now().entities, before.entities);
}

TEST_F(Dressing, settingsReplacedManyTimesBeforeAFrameQueueOneBuildOfTheLast)
{
    CharacterInstance* player = build(preset("Warrior"));
    PlayerSetting_t s = player->getPlayerProperties();
    for (unsigned head : {101u, 102u, 103u, 104u})
    {
        s.head = head;
        system->replacePlayer(s, player);
    }
    EXPECT_EQ(manager->getNumRequests(), 1u);
    system->update(0.016f);
    EXPECT_EQ(manager->getNumRequests(), 0u);
    EXPECT_EQ(player->getAppliedProperties().head, 104u);
}

TEST_F(Dressing, aGenderBeyondOneIsBuiltAsAWomanAndWearsWhatFitsHer)
{
    // The silk blouse fits women only (flag 1).
    PlayerSetting_t s = preset("Priestess");
    s.gender = 2;
    s.shirt = 2003;
    CharacterInstance* player = build(s);
    ASSERT_NE(player->getEntityPtr(), nullptr);
    EXPECT_EQ(player->getEntityPtr()->getMesh()->getName(), "HumanFemale.mesh");
    EXPECT_EQ(player->getSubEntityTexture(CharacterInstance::body_new), "silk_blouse_F.dds");
}

TEST_F(Dressing, theEntityWatchForgetsEveryEntityTheHostDestroysOrClearsWithItsScene)
{
    avatar_detail::SceneWatch& watch = avatar_detail::SceneWatch::instance();
    const std::size_t watched = watch.getNumWatched();
    system->preBuildEntityBuffer(2);
    CharacterInstance* warrior = build(preset("Warrior"));
    IInstance* wolf = system->createCreature(std::string("Grey Wolf"));
    ASSERT_NE(wolf->getEntityPtr(), nullptr);
    ASSERT_GT(watch.getNumWatched(), watched);
    HeadlessOgre::sceneManager()->destroyEntity(wolf->getEntityPtr());
    HeadlessOgre::sceneManager()->destroyEntity(warrior->getEntityPtr());
    HeadlessOgre::sceneManager()->clearScene();
    EXPECT_EQ(watch.getNumWatched(), watched) << "bodies, pooled bodies, models and creatures all forgotten";
}

TEST_F(Dressing, aMeshWhoseSkeletonHasFewerBonesThanItsVerticesUseIsRefusedAsMissing)
{
    TestResources resources;
    Ogre::MeshPtr mesh = resources.mesh("Truncated.mesh", {"c_body"}, {"root", "spine"});
    // What a truncated .skeleton leaves: vertices blended by bone 5 of a skeleton of two bones.
    mesh->getSubMesh(0)->blendIndexToBoneIndexMap = {0, 5};
    ASSERT_EQ(mesh->getSkeleton()->getNumBones(), 2u);
    EXPECT_EQ(avatar_detail::createEntityOrNull(HeadlessOgre::sceneManager(), "truncated", "Truncated.mesh", "a test"),
              nullptr);
    EXPECT_FALSE(HeadlessOgre::sceneManager()->hasEntity("truncated"));
}
