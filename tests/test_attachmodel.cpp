#include "avatarsystem/attachmodel.h"

#include "avatarsystem/avatarsystemmanager.h"
#include "effects/effectmanager.h"

#include "headlessogre.h"
#include "testmeshes.h"

#include <OgreEntity.h>
#include <OgreLog.h>
#include <OgreLogManager.h>
#include <OgreMaterialManager.h>
#include <OgreMesh.h>
#include <OgrePass.h>
#include <OgreSceneManager.h>
#include <OgreSceneNode.h>
#include <OgreStringConverter.h>
#include <OgreSubEntity.h>
#include <OgreSubMesh.h>
#include <OgreTagPoint.h>
#include <OgreTechnique.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
const char* const GLOW = "att_glow";

AvatarSystemManager& manager()
{
    IAvatarSystem::getSingletonPtr();
    return AvatarSystemManager::getSingleton();
}

class CapturingListener final : public Ogre::LogListener
{
public:
    void messageLogged(const Ogre::String& message, Ogre::LogMessageLevel lml, bool, const Ogre::String&,
                       bool&) override
    {
        messages.emplace_back(message, lml);
    }
    std::vector<std::pair<std::string, Ogre::LogMessageLevel>> messages;
};

Ogre::Pass* pass0(Ogre::Entity* entity, unsigned sub)
{
    return entity->getSubEntity(sub)->getMaterial()->getTechnique(0)->getPass(0);
}

/// The bone object hangs on, or an empty text.
std::string boneOf(const Ogre::MovableObject* object, const Ogre::Entity* owner)
{
    if (!object->isAttached() || !object->isParentTagPoint())
        return "";
    auto* tag = static_cast<Ogre::TagPoint*>(object->getParentNode());
    return tag->getParentEntity() == owner ? tag->getParent()->getName() : "other entity";
}

std::string copyNameFor(const AttachModel& model, const std::string& material, const std::string& entity)
{
    return material + entity + Ogre::StringConverter::toString(reinterpret_cast<unsigned long>(&model));
}

class AttachModelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        manager();
        m_scene = manager().getSceneMgr();
        m_res.material("att_blade", 0.1f, 0.2f, 0.3f);
        m_res.material("att_hilt");
        m_res.mesh("att_sword.mesh", {"att_blade", "att_hilt"}, {"root", "Shoulder_1", "weapon_2"});
        m_res.mesh("att_pad.mesh", {"att_blade"}, {"root", "Shoulder_1"});
        m_res.mesh("att_plain.mesh", {"att_blade"}, {"root"});
        m_res.mesh("att_noskeleton.mesh", {"att_blade"});
        m_res.mesh("att_lost.mesh", {"att_missing_material"});
        m_res.mesh("att_body.mesh", {"att_hilt"}, {"root", "Bip01_R_Hand", "Bip01_L_Hand"});
        m_parent = m_scene->createEntity("att_parent", "att_body.mesh");
        EffectManager::getSingletonPtr()->registerEffect(GLOW, EffectTemplate());
        m_effectsBefore = EffectManager::getSingletonPtr()->getNumEffects();
        m_before = OgreCounts::now();
    }

    void TearDown() override
    {
        for (AttachModel& model : m_models)
            model.destroy();
        EXPECT_EQ(m_before, OgreCounts::now());
        EXPECT_EQ(m_effectsBefore, EffectManager::getSingletonPtr()->getNumEffects());
        m_scene->destroyEntity(m_parent);
        manager().release();
        EffectManager::getSingletonPtr()->freeAll();
        EffectManager::getSingletonPtr()->unregisterEffect(GLOW);
    }

    /// A model owned by the fixture, destroyed in TearDown.
    AttachModel& model(std::size_t i) { return m_models[i]; }

    Ogre::SceneManager* m_scene = nullptr;
    TestResources m_res;
    Ogre::Entity* m_parent = nullptr;
    AttachModel m_models[4];
    std::size_t m_effectsBefore = 0;
    OgreCounts m_before;
};

} // namespace

TEST_F(AttachModelTest, createMakesTheEntityAndGivesEveryMaterialItsOwnCopy)
{
    AttachModel& sword = model(0);
    ASSERT_TRUE(sword.create("char7_sword", "att_sword.mesh"));
    Ogre::Entity* entity = sword.getEntity();
    ASSERT_NE(nullptr, entity);
    EXPECT_EQ("char7_sword", entity->getName());
    EXPECT_EQ(53, entity->getRenderQueueGroup());
    EXPECT_FALSE(entity->isAttached());

    // The first copy keeps its name; the second sub-entity's follows the same rule.
    const std::string copy = copyNameFor(sword, "att_blade", "char7_sword");
    const std::string hilt = copyNameFor(sword, "att_hilt", "char7_sword");
    EXPECT_EQ(copy, sword.getMaterialCopyName());
    EXPECT_EQ(copy, entity->getSubEntity(0)->getMaterialName());
    EXPECT_EQ(hilt, entity->getSubEntity(1)->getMaterialName());
    EXPECT_EQ((std::vector<std::string>{copy, hilt}), sword.getMaterialCopies());
    EXPECT_EQ(m_before.materials + 2, OgreCounts::now().materials);
    EXPECT_EQ(Ogre::ColourValue(0.1f, 0.2f, 0.3f), pass0(entity, 0)->getDiffuse());
    EXPECT_EQ(Ogre::ResourceGroupManager::DEFAULT_RESOURCE_GROUP_NAME,
              entity->getSubEntity(0)->getMaterial()->getGroup());

    // A second create keeps the entity instead of losing it in the scene.
    EXPECT_FALSE(sword.create("char7_sword_again", "att_sword.mesh"));
    EXPECT_EQ(entity, sword.getEntity());
    EXPECT_FALSE(HeadlessOgre::sceneManager()->hasEntity("char7_sword_again"));
}

TEST_F(AttachModelTest, createFailureLogsTheGbkLineThrowsNothingAndLeavesNothing)
{
    CapturingListener listener;
    Ogre::Log* log = Ogre::LogManager::getSingleton().getDefaultLog();
    log->addListener(&listener);
    bool made = true;
    {
        SCOPED_TRACE("a mesh that cannot be loaded");
        EXPECT_NO_THROW(made = model(0).create("char7_helm", "no_such_helm.mesh"));
        EXPECT_FALSE(made);
        EXPECT_EQ(nullptr, model(0).getEntity());
    }
    {
        SCOPED_TRACE("an entity name that is taken");
        EXPECT_NO_THROW(made = model(1).create("att_parent", "att_sword.mesh"));
        EXPECT_FALSE(made);
        EXPECT_EQ(nullptr, model(1).getEntity());
        EXPECT_EQ("att_body.mesh", m_scene->getEntity("att_parent")->getMesh()->getName());
    }
    log->removeListener(&listener);

    const std::string prefix = "\xB4\xB4\xBD\xA8\xCD\xE2\xBC\xD3\xC4\xA3\xD0\xCD\xCA\xA7\xB0\xDC\x3A";
    std::vector<std::string> ours;
    for (const auto& entry : listener.messages)
        if (entry.first.compare(0, prefix.size(), prefix) == 0)
        {
            ours.push_back(entry.first);
            EXPECT_EQ(Ogre::LML_NORMAL, entry.second);
        }
    EXPECT_EQ((std::vector<std::string>{prefix + "char7_helmno_such_helm.mesh", prefix + "att_parentatt_sword.mesh"}),
              ours);
    for (const auto& entry : listener.messages)
    {
        const bool ourOwnWords = entry.first.compare(0, 13, "AvatarSystem:") == 0;
        EXPECT_FALSE(ourOwnWords && entry.second >= Ogre::LML_NORMAL)
            << "the GBK line is the one report: " << entry.first;
    }
    EXPECT_EQ(m_before, OgreCounts::now());

    // Everything else is harmless on a model without entity.
    AttachModel& empty = model(0);
    EXPECT_FALSE(empty.attach(m_parent, "Bip01_R_Hand"));
    EXPECT_FALSE(empty.createEffect(GLOW, false));
    empty.setEffectVisible(true);
    empty.setInstanceTransoarency(0.5f);
    empty.setTextureFilter(2);
    empty.destroyEfeect();
    empty.destroy();
    EXPECT_EQ(m_effectsBefore, EffectManager::getSingletonPtr()->getNumEffects());
}

TEST_F(AttachModelTest, meshMaterialMissingFromTheManagerIsCopiedFromCBody)
{
    m_res.material("c_body", 0.9f, 0.8f, 0.7f);
    m_before = OgreCounts::now();
    AttachModel& lost = model(0);
    ASSERT_TRUE(lost.create("char7_lost", "att_lost.mesh"));
    // OGRE 1.12 sub-meshes keep no name for a material they cannot find, so the copy's
    // name begins with the entity name.
    ASSERT_EQ("", lost.getEntity()->getSubEntity(0)->getSubMesh()->getMaterialName());
    const std::string copy = copyNameFor(lost, "", "char7_lost");
    EXPECT_EQ(copy, lost.getEntity()->getSubEntity(0)->getMaterialName());
    EXPECT_EQ(Ogre::ColourValue(0.9f, 0.8f, 0.7f), pass0(lost.getEntity(), 0)->getDiffuse());
}

TEST_F(AttachModelTest, withNeitherTheMeshMaterialNorCBodyNothingIsCopiedOrRemoved)
{
    ASSERT_FALSE(Ogre::MaterialManager::getSingleton().resourceExists("c_body"));
    AttachModel& lost = model(0);
    ASSERT_TRUE(lost.create("char7_lost", "att_lost.mesh"));
    EXPECT_EQ("", lost.getMaterialCopyName());
    EXPECT_EQ(m_before.materials, OgreCounts::now().materials);
    const std::string kept = lost.getEntity()->getSubEntity(0)->getMaterialName();
    lost.destroy();
    EXPECT_TRUE(Ogre::MaterialManager::getSingleton().resourceExists(kept)) << kept << " belongs to others";
}

TEST_F(AttachModelTest, opacityAndFilteringOfOneModelNeverReachAnotherOrTheMeshMaterials)
{
    AttachModel& a = model(0);
    AttachModel& b = model(1);
    ASSERT_TRUE(a.create("char7_sword_l", "att_sword.mesh"));
    ASSERT_TRUE(b.create("char7_sword_r", "att_sword.mesh"));
    for (unsigned sub : {0u, 1u})
        EXPECT_NE(a.getEntity()->getSubEntity(sub)->getMaterialName(),
                  b.getEntity()->getSubEntity(sub)->getMaterialName());
    a.setInstanceTransoarency(0.5f);
    a.setTextureFilter(4);
    const Ogre::MaterialPtr hilt = Ogre::MaterialManager::getSingleton().getByName("att_hilt");
    for (unsigned sub : {0u, 1u})
    {
        SCOPED_TRACE(sub);
        EXPECT_FLOAT_EQ(0.5f, pass0(a.getEntity(), sub)->getDiffuse().a);
        EXPECT_EQ(16u, pass0(a.getEntity(), sub)->getTextureUnitState(0)->getTextureAnisotropy());
        EXPECT_FLOAT_EQ(1.0f, pass0(b.getEntity(), sub)->getDiffuse().a);
        EXPECT_NE(16u, pass0(b.getEntity(), sub)->getTextureUnitState(0)->getTextureAnisotropy());
    }
    EXPECT_EQ(53, b.getEntity()->getRenderQueueGroup());
    EXPECT_FLOAT_EQ(1.0f, hilt->getTechnique(0)->getPass(0)->getDiffuse().a) << "the mesh's own material";
    EXPECT_TRUE(hilt->getTechnique(0)->getPass(0)->getDepthWriteEnabled());

    // Sub-entities of one material share one copy; destroy removes every copy (TearDown counts).
    m_res.mesh("att_twin.mesh", {"att_hilt", "att_hilt", "att_blade"});
    const OgreCounts beforeTwin = OgreCounts::now();
    AttachModel& twin = model(2);
    ASSERT_TRUE(twin.create("char7_twin", "att_twin.mesh"));
    EXPECT_EQ(2u, twin.getMaterialCopies().size());
    EXPECT_EQ(twin.getEntity()->getSubEntity(0)->getMaterial(), twin.getEntity()->getSubEntity(1)->getMaterial());
    twin.destroy();
    EXPECT_EQ(beforeTwin, OgreCounts::now());
    EXPECT_TRUE(twin.getMaterialCopies().empty());
}

TEST_F(AttachModelTest, attachHangsTheModelOnOneBoneAndRefusesEverythingElse)
{
    AttachModel& sword = model(0);
    ASSERT_TRUE(sword.create("char7_sword", "att_sword.mesh"));
    AttachModel& other = model(1);
    ASSERT_TRUE(other.create("char7_other", "att_noskeleton.mesh"));
    bool hung = true;
    {
        SCOPED_TRACE("invalid parents and bones");
        EXPECT_FALSE(sword.attach(nullptr, "Bip01_R_Hand"));
        EXPECT_NO_THROW(hung = sword.attach(m_parent, "no_such_bone"));
        EXPECT_FALSE(hung);
        EXPECT_NO_THROW(hung = sword.attach(other.getEntity(), "Bip01_R_Hand")) << "parent without skeleton";
        EXPECT_FALSE(hung);
        EXPECT_FALSE(sword.attach(sword.getEntity(), "weapon_2")) << "not on itself";
        EXPECT_FALSE(sword.isAttached());
        EXPECT_FALSE(sword.getEntity()->isAttached());
    }
    EXPECT_TRUE(sword.attach(m_parent, "Bip01_R_Hand"));
    EXPECT_TRUE(sword.isAttached());
    EXPECT_EQ("Bip01_R_Hand", boneOf(sword.getEntity(), m_parent));
    const Ogre::Node* tag = sword.getEntity()->getParentNode();
    EXPECT_EQ(Ogre::Quaternion::IDENTITY, tag->getOrientation());
    EXPECT_EQ(Ogre::Vector3::ZERO, tag->getPosition());
    EXPECT_FALSE(sword.attach(m_parent, "Bip01_L_Hand")) << "already hanging";
    EXPECT_EQ("Bip01_R_Hand", boneOf(sword.getEntity(), m_parent));
}

TEST_F(AttachModelTest, effectHangsOnWeapon2BeforeShoulder1AndStarts)
{
    AttachModel& sword = model(0);
    ASSERT_TRUE(sword.create("char7_sword", "att_sword.mesh"));
    ASSERT_TRUE(sword.attach(m_parent, "Bip01_R_Hand"));
    ASSERT_TRUE(sword.createEffect(GLOW, false));
    Effect* effect = sword.getEffect();
    ASSERT_NE(nullptr, effect);
    EXPECT_EQ("weapon_2", boneOf(*effect, sword.getEntity()));
    EXPECT_TRUE(effect->isShown());
    EXPECT_FLOAT_EQ(99999.0f, effect->getParamA());
    EXPECT_FLOAT_EQ(0.0f, effect->getParamB());

    AttachModel& pad = model(1);
    ASSERT_TRUE(pad.create("char7_pad", "att_pad.mesh"));
    ASSERT_TRUE(pad.createEffect(GLOW, true));
    EXPECT_EQ("Shoulder_1", boneOf(*pad.getEffect(), pad.getEntity()));
    EXPECT_FLOAT_EQ(99999.0f, pad.getEffect()->getParamB()) << "a copy's effect";

    // A second effect replaces the first rather than losing it.
    ASSERT_TRUE(pad.createEffect(GLOW, false));
    EXPECT_EQ(m_effectsBefore + 2, EffectManager::getSingletonPtr()->getNumEffects());
}

TEST_F(AttachModelTest, effectWithoutSkeletonBoneOrKindIsRefusedAndWhatWasMadeIsFreedLater)
{
    AttachModel& plain = model(0);
    ASSERT_TRUE(plain.create("char7_plain", "att_plain.mesh"));
    EXPECT_FALSE(plain.createEffect(GLOW, false));
    ASSERT_NE(nullptr, plain.getEffect()) << "kept until destroy";
    EXPECT_FALSE(plain.getEffect()->isShown());
    EXPECT_EQ("", boneOf(*plain.getEffect(), plain.getEntity()));

    AttachModel& bare = model(1);
    ASSERT_TRUE(bare.create("char7_bare", "att_noskeleton.mesh"));
    EXPECT_FALSE(bare.createEffect(GLOW, false));
    EXPECT_NE(nullptr, bare.getEffect());

    AttachModel& sword = model(2);
    ASSERT_TRUE(sword.create("char7_sword", "att_sword.mesh"));
    EXPECT_FALSE(sword.createEffect("no_such_effect", false));
    EXPECT_EQ(nullptr, sword.getEffect());

    EXPECT_EQ(m_effectsBefore + 2, EffectManager::getSingletonPtr()->getNumEffects());
    plain.destroy();
    bare.destroy();
    EXPECT_EQ(m_effectsBefore, EffectManager::getSingletonPtr()->getNumEffects());
}

TEST_F(AttachModelTest, effectIsShownHiddenAndReleasedOnRequest)
{
    AttachModel& sword = model(0);
    ASSERT_TRUE(sword.create("char7_sword", "att_sword.mesh"));
    ASSERT_TRUE(sword.createEffect(GLOW, false));
    Effect* effect = sword.getEffect();
    sword.setEffectVisible(false);
    EXPECT_FALSE(effect->isShown());
    sword.setEffectVisible(true);
    EXPECT_TRUE(effect->isShown());

    const std::string name = effect->getName();
    sword.destroyEfeect();
    EXPECT_EQ(nullptr, sword.getEffect());
    EXPECT_EQ(nullptr, EffectManager::getSingletonPtr()->getEffect(name));
    EXPECT_TRUE(sword.getEntity()->getAttachedObjects().empty());
    sword.destroyEfeect();
    sword.setEffectVisible(true);
}

TEST_F(AttachModelTest, transparencyThresholdsCompareTheFloatWithDoubleConstants)
{
    AttachModel& sword = model(0);
    ASSERT_TRUE(sword.create("char7_sword", "att_sword.mesh"));
    ASSERT_TRUE(sword.createEffect(GLOW, false));
    Ogre::Entity* entity = sword.getEntity();
    Ogre::Pass* pass = pass0(entity, 0);
    pass->setLightingEnabled(false);

    for (float alpha : {1.0f, 0.99f, 0.98f})
    {
        SCOPED_TRACE(alpha);
        sword.setInstanceTransoarency(0.5f);
        sword.setInstanceTransoarency(alpha);
        EXPECT_EQ(53, entity->getRenderQueueGroup());
        EXPECT_TRUE(sword.getEffect()->isShown());
        EXPECT_TRUE(pass->getLightingEnabled());
        EXPECT_EQ(Ogre::SBF_ONE, pass->getSourceBlendFactor());
        EXPECT_EQ(Ogre::SBF_ZERO, pass->getDestBlendFactor());
        EXPECT_EQ(Ogre::ColourValue::White, pass->getDiffuse());
        EXPECT_TRUE(pass->getDepthWriteEnabled());
        EXPECT_EQ(Ogre::CMPF_GREATER, pass->getAlphaRejectFunction());
        EXPECT_EQ(125, pass->getAlphaRejectValue());
    }

    pass->setLightingEnabled(false);
    sword.setInstanceTransoarency(0.979f);
    EXPECT_EQ(90, entity->getRenderQueueGroup());
    EXPECT_FALSE(sword.getEffect()->isShown());
    EXPECT_TRUE(pass->getLightingEnabled());
    EXPECT_EQ(Ogre::SBF_SOURCE_ALPHA, pass->getSourceBlendFactor());
    EXPECT_EQ(Ogre::SBF_ONE_MINUS_SOURCE_ALPHA, pass->getDestBlendFactor());
    EXPECT_FLOAT_EQ(0.979f, pass->getDiffuse().a);
    EXPECT_FALSE(pass->getDepthWriteEnabled());
    EXPECT_EQ(Ogre::CMPF_GREATER, pass->getAlphaRejectFunction());
    EXPECT_EQ(0, pass->getAlphaRejectValue());
    EXPECT_TRUE(entity->getCastShadows());

    sword.setInstanceTransoarency(0.1f);
    EXPECT_TRUE(entity->getCastShadows()) << "float 0.1 is above the double 0.1";
    sword.setInstanceTransoarency(0.099f);
    EXPECT_FALSE(entity->getCastShadows());
    sword.setInstanceTransoarency(1.0f);
    EXPECT_TRUE(entity->getCastShadows());
}

TEST_F(AttachModelTest, textureFilterModesMapToTrilinearOrAnisotropic)
{
    AttachModel& sword = model(0);
    ASSERT_TRUE(sword.create("char7_sword", "att_sword.mesh"));
    Ogre::Entity* entity = sword.getEntity();
    auto unit = [&](unsigned sub) { return pass0(entity, sub)->getTextureUnitState(0); };
    const std::pair<int, unsigned> anisotropic[] = {{1, 2}, {2, 4}, {3, 8}, {4, 16}, {7, 2}, {-1, 2}};
    for (const auto& mode : anisotropic)
    {
        SCOPED_TRACE(mode.first);
        sword.setTextureFilter(mode.first);
        for (unsigned sub : {0u, 1u})
        {
            EXPECT_EQ(Ogre::FO_ANISOTROPIC, unit(sub)->getTextureFiltering(Ogre::FT_MIN));
            EXPECT_EQ(mode.second, unit(sub)->getTextureAnisotropy());
        }
    }
    sword.setTextureFilter(0);
    EXPECT_EQ(Ogre::FO_LINEAR, unit(0)->getTextureFiltering(Ogre::FT_MIN));
    EXPECT_EQ(Ogre::FO_LINEAR, unit(0)->getTextureFiltering(Ogre::FT_MIP));
    EXPECT_EQ(2u, unit(0)->getTextureAnisotropy());
}

TEST_F(AttachModelTest, destroyTakesTheModelOffItsParentAndLeavesNothingBehind)
{
    AttachModel& sword = model(0);
    ASSERT_TRUE(sword.create("char7_sword", "att_sword.mesh"));
    ASSERT_TRUE(sword.attach(m_parent, "Bip01_R_Hand"));
    ASSERT_TRUE(sword.createEffect(GLOW, false));
    const std::string copy = sword.getMaterialCopyName();
    ASSERT_EQ(1u, m_parent->getAttachedObjects().size());

    sword.destroy();
    EXPECT_EQ(nullptr, sword.getEntity());
    EXPECT_EQ(nullptr, sword.getEffect());
    EXPECT_FALSE(sword.isAttached());
    EXPECT_TRUE(m_parent->getAttachedObjects().empty());
    EXPECT_FALSE(Ogre::MaterialManager::getSingleton().resourceExists(copy));
    EXPECT_TRUE(Ogre::MaterialManager::getSingleton().resourceExists("att_blade"));
    EXPECT_EQ(m_before, OgreCounts::now());
    EXPECT_EQ(m_effectsBefore, EffectManager::getSingletonPtr()->getNumEffects());
    sword.destroy();

    // The parent's bone is free for the next model.
    AttachModel& next = model(1);
    ASSERT_TRUE(next.create("char7_sword", "att_sword.mesh"));
    EXPECT_TRUE(next.attach(m_parent, "Bip01_R_Hand"));
}

TEST_F(AttachModelTest, destroyAlsoTakesTheModelOffAHostSceneNode)
{
    AttachModel& sword = model(0);
    ASSERT_TRUE(sword.create("char7_sword", "att_sword.mesh"));
    Ogre::SceneNode* node = m_scene->getRootSceneNode()->createChildSceneNode();
    node->attachObject(sword.getEntity());
    sword.destroy();
    EXPECT_EQ(0u, node->numAttachedObjects());
    m_scene->destroySceneNode(node);
}
