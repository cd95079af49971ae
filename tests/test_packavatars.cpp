// Creature, NPC and object avatars and attached item models built from the sample content pack:
// the rows of its tables, its meshes, skeletons and materials, as a host would use them.
#include "avatarsystem/attachmodel.h"
#include "avatarsystem/creatureinstance.h"
#include "effects/effectmanager.h"

#include "packsystem.h"
#include "contentpack.h"
#include "hostrecorders.h"
#include "headlessogre.h"

#include <OgreBone.h>
#include <OgreEntity.h>
#include <OgreMaterial.h>
#include <OgreMaterialManager.h>
#include <OgreMesh.h>
#include <OgreMeshManager.h>
#include <OgrePass.h>
#include <OgreSceneManager.h>
#include <OgreSkeletonInstance.h>
#include <OgreSubEntity.h>
#include <OgreSubMesh.h>
#include <OgreTagPoint.h>
#include <OgreTechnique.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{
const Ogre::uint8 kOpaqueGroup = 54;
const Ogre::uint8 kFadingGroup = 90;

/// The bone of owner that object hangs on; "" when it hangs nowhere, "other entity" when elsewhere.
std::string boneOf(const Ogre::MovableObject* object, const Ogre::Entity* owner)
{
    if (!object || !object->isAttached() || !object->isParentTagPoint())
        return "";
    auto* tag = static_cast<Ogre::TagPoint*>(object->getParentNode());
    return tag->getParentEntity() == owner ? tag->getParent()->getName() : "other entity";
}

bool meshManagerHas(const std::string& name)
{
    auto it = Ogre::MeshManager::getSingleton().getResourceIterator();
    for (; it.hasMoreElements(); it.moveNext())
        if (it.peekNextValue()->getName() == name)
            return true;
    return false;
}

bool materialExists(const std::string& name)
{
    return Ogre::MaterialManager::getSingleton().resourceExists(name, Ogre::RGN_AUTODETECT);
}

CreatureSetting_t settingFor(unsigned id)
{
    CreatureSetting_t setting;
    setting.ID = id;
    return setting;
}

class PackAvatars : public PackSystemTest
{
protected:
    CreatureInstance* build(unsigned id)
    {
        return static_cast<CreatureInstance*>(system->createCreature(settingFor(id), nullptr));
    }

    ENTITY_CALLBACK* callbackFor(IEntityView* view, int type)
    {
        auto* callback = new ENTITY_CALLBACK();
        callback->type = type;
        callback->view = view;
        return callback;
    }
};

} // namespace

// --- Creatures, NPCs and objects -------------------------------------------------------------

TEST_F(PackAvatars, theIdAlonePicksTheTableAtTheRangeBoundaries)
{
    struct Row
    {
        unsigned id;
        const char* mesh;
        float scale;
        bool fadesIn; // BeTransObject: starts see-through, in the translucent queue
    };
    const Row rows[] = {
        {29999, "whelp.mesh", 1.2f, false},       // last creature
        {30000, "npc_smith.mesh", 1.0f, false},   // first NPC
        {36999, "npc_guard.mesh", 1.05f, false},  // last NPC below the objects
        {37000, "obj_chest.mesh", 1.0f, false},   // first object
        {38999, "obj_signpost.mesh", 1.0f, true}, // last object
        {39000, "npc_merchant.mesh", 1.0f, true}, // first NPC above the objects
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.id);
        CreatureInstance* avatar = build(row.id);
        ASSERT_NE(avatar, nullptr);
        Ogre::Entity* entity = avatar->getEntityPtr();
        ASSERT_NE(entity, nullptr) << "the row was found in its table";
        EXPECT_EQ(entity->getMesh()->getName(), row.mesh);
        EXPECT_EQ(entity->getName(), std::to_string(avatar->getUniqueID()) + "_Creature");
        EXPECT_FLOAT_EQ(avatar->getScale(), row.scale);
        EXPECT_EQ(avatar->isBeTransObject(), row.fadesIn);
        EXPECT_EQ(entity->getRenderQueueGroup(), row.fadesIn ? kFadingGroup : kOpaqueGroup);

        // Two seconds of fade-in bring every avatar to the opaque queue.
        avatar->update(false, 2.0f);
        EXPECT_EQ(entity->getRenderQueueGroup(), kOpaqueGroup);
    }

    // IDs inside a range without a row there, and NPC-range IDs the NPC table lacks, build nothing.
    for (unsigned id : {30001u, 37001u, 38000u, 39001u})
    {
        CreatureInstance* avatar = build(id);
        ASSERT_NE(avatar, nullptr);
        EXPECT_EQ(avatar->getEntityPtr(), nullptr) << id;
        EXPECT_TRUE(avatar->getClonedMaterials().empty()) << id;
    }
}

TEST_F(PackAvatars, aRowNamingAMeshThePackLacksGetsTheFallbackBody)
{
    ASSERT_FALSE(meshManagerHas("ghost_missing.mesh"));
    for (int round = 0; round < 2; ++round)
    {
        SCOPED_TRACE(round);
        CreatureInstance* ghost = build(5);
        Ogre::Entity* entity = ghost->getEntityPtr();
        ASSERT_NE(entity, nullptr);
        EXPECT_EQ(entity->getMesh()->getName(), "G_jiaoren_women.mesh");
        EXPECT_EQ(entity->getName(), std::to_string(ghost->getUniqueID()) + "_Creature");
        EXPECT_FALSE(meshManagerHas("ghost_missing.mesh")) << "no empty mesh is left to shadow a real one";

        // The row's effect still finds its bone on the fallback body.
        Effect* smoke = ghost->getEffect(0);
        ASSERT_NE(smoke, nullptr);
        EXPECT_EQ(smoke->getKind(), "fx_smoke");
        EXPECT_EQ(boneOf(*smoke, entity), "effect_1");
        for (unsigned i = 0; i < entity->getNumSubEntities(); ++i)
            EXPECT_EQ(entity->getSubEntity(i)->getMaterialName(),
                      entity->getSubEntity(i)->getSubMesh()->getMaterialName() + "_" +
                          std::to_string(ghost->getUniqueID()) + "_" + std::to_string(i));
    }
}

TEST_F(PackAvatars, everySubEntityGetsAnInstanceCopyExceptTheSharedCrystal)
{
    CreatureInstance* first = build(10001);
    CreatureInstance* second = build(10001);
    ASSERT_NE(first->getEntityPtr(), nullptr);
    ASSERT_NE(second->getEntityPtr(), nullptr);

    for (CreatureInstance* golem : {first, second})
    {
        Ogre::Entity* entity = golem->getEntityPtr();
        const std::string id = std::to_string(golem->getUniqueID());
        unsigned shared = 0;
        std::vector<std::string> expected;
        for (unsigned i = 0; i < entity->getNumSubEntities(); ++i)
        {
            Ogre::SubEntity* sub = entity->getSubEntity(i);
            const std::string source = sub->getSubMesh()->getMaterialName();
            if (source == "col")
            {
                ++shared;
                EXPECT_EQ(sub->getMaterialName(), "col");
                continue;
            }
            const std::string copy = source + "_" + id + "_" + std::to_string(i);
            expected.push_back(copy);
            EXPECT_EQ(sub->getMaterialName(), copy);
            Ogre::MaterialPtr sourceMaterial = Ogre::MaterialManager::getSingleton().getByName(source, "Content");
            ASSERT_TRUE(sourceMaterial) << source;
            EXPECT_NE(sub->getMaterial().get(), sourceMaterial.get());
            EXPECT_EQ(sub->getMaterial()->getGroup(), "Content");
        }
        EXPECT_EQ(shared, 1u) << "the golem mesh has its crystal in the shared material";
        EXPECT_EQ(golem->getClonedMaterials(), expected);
    }

    // The copies are really per instance: fading one golem in leaves the other see-through.
    Ogre::Pass* firstBody = first->getEntityPtr()->getSubEntity(0)->getMaterial()->getTechnique(0)->getPass(0);
    Ogre::Pass* secondBody = second->getEntityPtr()->getSubEntity(0)->getMaterial()->getTechnique(0)->getPass(0);
    ASSERT_NE(first->getEntityPtr()->getSubEntity(0)->getMaterialName(), "col");
    EXPECT_FALSE(firstBody->getDepthWriteEnabled());
    first->update(false, 2.0f);
    EXPECT_TRUE(firstBody->getDepthWriteEnabled());
    EXPECT_FALSE(secondBody->getDepthWriteEnabled());
}

TEST_F(PackAvatars, rowEffectsHangOnTheirEffectBonesStarted)
{
    const std::size_t live = effects->getNumEffects();
    CreatureInstance* spider = build(2);
    Ogre::Entity* entity = spider->getEntityPtr();
    ASSERT_NE(entity, nullptr);
    const char* kinds[5] = {"fx_glow_blue", "fx_glow_red", "fx_spark", "fx_fire", "fx_smoke"};
    EXPECT_EQ(effects->getNumEffects(), live + 5);
    for (int k = 0; k < 5; ++k)
    {
        SCOPED_TRACE(k);
        Effect* effect = spider->getEffect(k);
        ASSERT_NE(effect, nullptr);
        EXPECT_EQ(effect->getKind(), kinds[k]);
        EXPECT_EQ(boneOf(*effect, entity), "effect_" + std::to_string(k + 1));
        EXPECT_TRUE(effect->isShown());
        EXPECT_EQ(effect->getParamA(), 99999.0f);
        EXPECT_EQ(effect->getParamB(), 0.0f) << "not a copy";
    }

    // The golem's row leaves Effect2 and Effect4 empty; it fades in, so its effects wait hidden.
    CreatureInstance* golem = build(10001);
    ASSERT_NE(golem->getEntityPtr(), nullptr);
    EXPECT_EQ(golem->getEffect(1), nullptr);
    EXPECT_EQ(golem->getEffect(3), nullptr);
    const std::pair<int, const char*> golemEffects[] = {{0, "fx_aura"}, {2, "fx_spark"}, {4, "fx_fire"}};
    for (const auto& slot : golemEffects)
    {
        Effect* effect = golem->getEffect(slot.first);
        ASSERT_NE(effect, nullptr) << slot.first;
        EXPECT_EQ(effect->getKind(), slot.second);
        EXPECT_EQ(boneOf(*effect, golem->getEntityPtr()), "effect_" + std::to_string(slot.first + 1));
        EXPECT_FALSE(effect->isShown()) << "hidden while the golem is see-through";
    }
    golem->update(false, 2.0f);
    for (const auto& slot : golemEffects)
        EXPECT_TRUE(golem->getEffect(slot.first)->isShown()) << slot.first;
}

TEST_F(PackAvatars, queuedAvatarsTellTheViewTheirRowsCameraBias)
{
    RecordingView view;
    IInstance* golem = system->createCreature(10001ul, callbackFor(&view, 1));
    IInstance* spider = system->createCreature(2ul, callbackFor(&view, 2));
    // NPCs and objects come through the setting: their CameraBias sits in other columns.
    IInstance* guard = system->createCreature(settingFor(36999), callbackFor(&view, 2));
    IInstance* campfire = system->createCreature(settingFor(37500), callbackFor(&view, 1));
    IInstance* signpost = system->createCreature(settingFor(38999), callbackFor(&view, 2));
    EXPECT_TRUE(view.calls.empty()) << "nothing is built before the frame";
    EXPECT_EQ(golem->getEntityPtr(), nullptr);

    for (int frame = 0; frame < 5; ++frame)
        system->update(0.016f);

    ASSERT_EQ(view.calls.size(), 5u);
    const RecordingView::Call expected[] = {
        {"A", golem, 1.8f}, {"B", spider, 0.4f}, {"B", guard, 1.7f}, {"A", campfire, 0.3f}, {"B", signpost, 1.2f},
    };
    for (std::size_t i = 0; i < 5; ++i)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(view.calls[i].kind, expected[i].kind);
        EXPECT_EQ(view.calls[i].instance, expected[i].instance);
        EXPECT_EQ(view.calls[i].cameraBias, expected[i].cameraBias) << "exactly the row's float";
        EXPECT_NE(expected[i].instance->getEntityPtr(), nullptr);
        EXPECT_EQ(static_cast<CreatureInstance*>(expected[i].instance)->getEntityViewPtr(), nullptr)
            << "the record is spent after notifying";
    }
}

TEST_F(PackAvatars, aCreatureCopyTellsTheCopyCallbacksAndMarksItsEffects)
{
    RecordingCopyCallbacks callbacks;
    IInstance* copy = system->cloneCreature(2ul, &callbacks, &callbacks);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->getEntityPtr(), nullptr);
    system->update(0.016f);
    ASSERT_NE(copy->getEntityPtr(), nullptr);
    EXPECT_EQ(copy->getEntityPtr()->getMesh()->getName(), "spider.mesh");
    EXPECT_EQ(callbacks.calls, (std::vector<std::string>{"creature", "copy"}));
    for (int k = 0; k < 5; ++k)
    {
        Effect* effect = static_cast<CreatureInstance*>(copy)->getEffect(k);
        ASSERT_NE(effect, nullptr) << k;
        EXPECT_EQ(effect->getParamB(), 99999.0f) << k;
    }
}

TEST_F(PackAvatars, destroyLeavesNothingTheAvatarsMadeInTheScene)
{
    std::vector<CreatureInstance*> avatars = {build(2), build(10001), build(5), build(37500), build(39000)};
    std::vector<std::string> entityNames;
    std::vector<std::string> copies;
    for (CreatureInstance* avatar : avatars)
    {
        ASSERT_NE(avatar->getEntityPtr(), nullptr);
        entityNames.push_back(avatar->getEntityPtr()->getName());
        copies.insert(copies.end(), avatar->getClonedMaterials().begin(), avatar->getClonedMaterials().end());
    }
    ASSERT_FALSE(copies.empty());
    EXPECT_FALSE(OgreCounts::now() == before) << "the avatars are in the scene";

    Ogre::SceneManager* scene = HeadlessOgre::sceneManager();
    for (CreatureInstance* avatar : avatars)
    {
        system->destroyInstance(avatar->getUniqueID());
        EXPECT_EQ(avatar->getEntityPtr(), nullptr);
        for (int k = 0; k < 5; ++k)
            EXPECT_EQ(avatar->getEffect(k), nullptr);
        EXPECT_TRUE(avatar->getClonedMaterials().empty());
        EXPECT_TRUE(avatar->destroy()) << "a second destroy is harmless";
        delete avatar; // the host held the last pointer
    }
    EXPECT_EQ(OgreCounts::now(), before);
    EXPECT_EQ(effects->getNumEffects(), effectsBefore);
    for (const std::string& name : entityNames)
        EXPECT_FALSE(scene->hasEntity(name)) << name;
    for (const std::string& name : copies)
        EXPECT_FALSE(materialExists(name)) << name;

    // A queued avatar released before its frame came leaves nothing either (checked by TearDown).
    RecordingView view;
    system->createCreature(2ul, callbackFor(&view, 1));
    EXPECT_TRUE(view.calls.empty());
}

TEST_F(PackAvatars, aTakenEntityNameLeavesTheAvatarUnbuiltWithoutThrowing)
{
    Ogre::SceneManager* scene = HeadlessOgre::sceneManager();
    const unsigned next = manager->getLastUniqueID() + 1;
    const std::string taken = std::to_string(next) + "_Creature";
    Ogre::Entity* blocker = scene->createEntity(taken, "wolf.mesh");
    const OgreCounts withBlocker = OgreCounts::now();
    const std::size_t live = effects->getNumEffects();

    CreatureInstance* whelp = nullptr;
    EXPECT_NO_THROW(whelp = build(29999));
    ASSERT_NE(whelp, nullptr);
    ASSERT_EQ(whelp->getUniqueID(), next);
    EXPECT_EQ(whelp->getEntityPtr(), nullptr);
    EXPECT_EQ(scene->getEntity(taken), blocker);
    EXPECT_EQ(blocker->getMesh()->getName(), "wolf.mesh") << "the other entity is not touched";
    EXPECT_EQ(OgreCounts::now(), withBlocker);
    EXPECT_EQ(effects->getNumEffects(), live);
    EXPECT_NO_THROW(system->destroyInstance(next));
    delete whelp;

    scene->destroyEntity(blocker);
}

// --- Item models hung on a pack body ------------------------------------------------------

namespace
{
class PackAttachModels : public PackAvatars
{
protected:
    void SetUp() override
    {
        PackAvatars::SetUp();
        body = HeadlessOgre::sceneManager()->createEntity("pack_attach_body", "HumanMale.mesh");
        withBody = OgreCounts::now();
    }
    void TearDown() override
    {
        for (auto& model : models)
            model->destroy();
        models.clear();
        EXPECT_EQ(body->getAttachedObjects().size(), 0u);
        HeadlessOgre::sceneManager()->destroyEntity(body);
        PackAvatars::TearDown();
    }

    AttachModel* model(const std::string& name, const std::string& mesh)
    {
        models.push_back(std::make_unique<AttachModel>());
        AttachModel* created = models.back().get();
        EXPECT_TRUE(created->create(name, mesh)) << mesh;
        return created;
    }

    Ogre::Entity* body = nullptr;
    OgreCounts withBody;
    std::vector<std::unique_ptr<AttachModel>> models;
};
} // namespace

TEST_F(PackAttachModels, aSwordInTheRightHandCarriesItsEffectOnWeapon2)
{
    AttachModel* sword = model("pack_sword", "sword_01.mesh");
    Ogre::Entity* entity = sword->getEntity();
    ASSERT_NE(entity, nullptr);
    EXPECT_EQ(entity->getName(), "pack_sword");

    // Sub-entity 0 wears a copy of the pack's item material, not the material itself.
    const std::string& copy = sword->getMaterialCopyName();
    EXPECT_EQ(copy.compare(0, std::strlen("item/sword_01pack_sword"), "item/sword_01pack_sword"), 0) << copy;
    EXPECT_EQ(entity->getSubEntity(0)->getMaterialName(), copy);
    EXPECT_TRUE(materialExists(copy));

    ASSERT_TRUE(sword->attach(body, "weapon_r"));
    EXPECT_TRUE(sword->isAttached());
    EXPECT_EQ(boneOf(entity, body), "weapon_r");

    ASSERT_TRUE(sword->createEffect("fx_spark", false));
    Effect* spark = sword->getEffect();
    ASSERT_NE(spark, nullptr);
    EXPECT_EQ(spark->getKind(), "fx_spark");
    EXPECT_EQ(boneOf(*spark, entity), "weapon_2");
    EXPECT_TRUE(spark->isShown());
    EXPECT_EQ(spark->getParamA(), 99999.0f);
    EXPECT_EQ(spark->getParamB(), 0.0f);

    // A body bone the pack's skeleton lacks is refused without an exception.
    AttachModel* spare = model("pack_sword_2", "sword_01.mesh");
    EXPECT_FALSE(spare->attach(body, "weapon_2"));
    EXPECT_FALSE(spare->isAttached());
}

TEST_F(PackAttachModels, thePauldronsOfItem201CarryTheirEffectsOnShoulder1)
{
    // Item 201 "Iron Pauldrons": ModelFile shoulder_01_l, ModelFile2 shoulder_01_r, Effect1 fx_glow_blue.
    AttachModel* left = model("pack_shoulder_l", "shoulder_01_l.mesh");
    AttachModel* right = model("pack_shoulder_r", "shoulder_01_r.mesh");
    ASSERT_TRUE(left->attach(body, "shoulder_l"));
    ASSERT_TRUE(right->attach(body, "shoulder_r"));
    EXPECT_EQ(boneOf(left->getEntity(), body), "shoulder_l");
    EXPECT_EQ(boneOf(right->getEntity(), body), "shoulder_r");
    EXPECT_NE(left->getMaterialCopyName(), right->getMaterialCopyName());

    ASSERT_TRUE(left->createEffect("fx_glow_blue", false));
    ASSERT_TRUE(right->createEffect("fx_glow_blue", true));
    EXPECT_NE(left->getEffect()->getName(), right->getEffect()->getName());
    EXPECT_EQ(boneOf(*left->getEffect(), left->getEntity()), "Shoulder_1");
    EXPECT_EQ(boneOf(*right->getEffect(), right->getEntity()), "Shoulder_1");
    EXPECT_EQ(left->getEffect()->getParamB(), 0.0f);
    EXPECT_EQ(right->getEffect()->getParamB(), 99999.0f) << "a copy's effect is marked";
}

TEST_F(PackAttachModels, theGreatswordWithBothEffectBonesChoosesWeapon2)
{
    AttachModel* greatsword = model("pack_greatsword", "greatsword_01.mesh");
    Ogre::Entity* entity = greatsword->getEntity();
    ASSERT_NE(entity, nullptr);
    ASSERT_TRUE(entity->hasSkeleton());
    ASSERT_TRUE(entity->getSkeleton()->hasBone("weapon_2"));
    ASSERT_TRUE(entity->getSkeleton()->hasBone("Shoulder_1"));
    ASSERT_TRUE(greatsword->attach(body, "back1"));

    ASSERT_TRUE(greatsword->createEffect("fx_fire", false));
    EXPECT_EQ(boneOf(*greatsword->getEffect(), entity), "weapon_2");

    // Asking again replaces the effect instead of piling a second one on the bone.
    const std::size_t live = effects->getNumEffects();
    ASSERT_TRUE(greatsword->createEffect("fx_aura", false));
    EXPECT_EQ(effects->getNumEffects(), live);
    EXPECT_EQ(greatsword->getEffect()->getKind(), "fx_aura");
    EXPECT_EQ(boneOf(*greatsword->getEffect(), entity), "weapon_2");
}

TEST_F(PackAttachModels, aModelWithoutEffectBonesKeepsItsEffectUnhungAndHidden)
{
    // The mace has no skeleton; a body mesh has one, but neither "weapon_2" nor "Shoulder_1".
    AttachModel* mace = model("pack_mace", "mace_01.mesh");
    AttachModel* doll = model("pack_doll", "HumanMale.mesh");
    ASSERT_FALSE(mace->getEntity()->hasSkeleton());
    ASSERT_TRUE(doll->getEntity()->hasSkeleton());
    ASSERT_TRUE(mace->attach(body, "weapon_l"));

    for (AttachModel* bare : {mace, doll})
    {
        EXPECT_FALSE(bare->createEffect("fx_fire", false));
        Effect* effect = bare->getEffect();
        ASSERT_NE(effect, nullptr) << "the effect made is kept until destroy";
        Ogre::MovableObject* object = *effect;
        EXPECT_FALSE(object->isAttached());
        EXPECT_FALSE(effect->isShown());
    }

    // A kind neither registered nor in the effects table makes nothing.
    AttachModel* sword = model("pack_sword", "sword_01.mesh");
    EXPECT_FALSE(sword->createEffect("fx_not_in_the_pack", false));
    EXPECT_EQ(sword->getEffect(), nullptr);
    EXPECT_EQ(sword->getEntity()->getAttachedObjects().size(), 0u);
}

TEST_F(PackAttachModels, failedCreatesThrowNothingAndLeaveNothing)
{
    AttachModel missing;
    EXPECT_FALSE(missing.create("pack_missing", "no_such_item.mesh"));
    EXPECT_EQ(missing.getEntity(), nullptr);
    EXPECT_FALSE(meshManagerHas("no_such_item.mesh"));

    AttachModel* first = model("pack_twice", "sword_01.mesh");
    AttachModel second;
    EXPECT_FALSE(second.create("pack_twice", "mace_01.mesh")) << "the name is taken";
    EXPECT_EQ(second.getEntity(), nullptr);
    EXPECT_TRUE(second.getMaterialCopyName().empty());
    EXPECT_EQ(HeadlessOgre::sceneManager()->getEntity("pack_twice"), first->getEntity());
    missing.destroy();
    second.destroy();
}

TEST_F(PackAttachModels, destroyTakesEachModelOffTheBodyAndLeavesNothing)
{
    struct Hung
    {
        const char* mesh;
        const char* bone;
        const char* effect;
    };
    const Hung hung[] = {
        {"sword_01.mesh", "weapon_r", "fx_spark"},
        {"shoulder_01_l.mesh", "shoulder_l", "fx_glow_blue"},
        {"shoulder_01_r.mesh", "shoulder_r", "fx_glow_red"},
        {"greatsword_01.mesh", "back1", "fx_fire"},
        {"mace_01.mesh", "weapon_l", "fx_aura"},
    };
    std::vector<std::string> copies;
    std::vector<std::string> names;
    for (const Hung& item : hung)
    {
        AttachModel* m = model(std::string("pack_") + item.mesh, item.mesh);
        ASSERT_TRUE(m->attach(body, item.bone)) << item.mesh;
        m->createEffect(item.effect, false);
        ASSERT_NE(m->getEffect(), nullptr) << item.mesh;
        copies.push_back(m->getMaterialCopyName());
        names.push_back(m->getEntity()->getName());
    }
    EXPECT_EQ(body->getAttachedObjects().size(), 5u);
    EXPECT_EQ(effects->getNumEffects(), effectsBefore + 5);

    for (auto& m : models)
    {
        m->destroy();
        EXPECT_EQ(m->getEntity(), nullptr);
        EXPECT_EQ(m->getEffect(), nullptr);
        EXPECT_FALSE(m->isAttached());
        m->destroy();
    }
    EXPECT_EQ(body->getAttachedObjects().size(), 0u) << "the body keeps no pointer to a destroyed model";
    EXPECT_EQ(OgreCounts::now(), withBody);
    EXPECT_EQ(effects->getNumEffects(), effectsBefore);
    for (const std::string& copy : copies)
        EXPECT_FALSE(materialExists(copy)) << copy;
    for (const std::string& name : names)
        EXPECT_FALSE(HeadlessOgre::sceneManager()->hasEntity(name)) << name;

    // The body can take a new model on a bone a destroyed one held.
    AttachModel* again = model("pack_sword_again", "sword_01.mesh");
    EXPECT_TRUE(again->attach(body, "weapon_r"));
}
