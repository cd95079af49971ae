#include "avatarsystem/attachmodel.h"

#include "avatarsystem/avatarsystemmanager.h"
#include "avatarsystem/detail/effectbinding.h"
#include "avatarsystem/detail/entityfactory.h"
#include "avatarsystem/detail/materialstate.h"
#include "avatarsystem/detail/ogreguard.h"
#include "avatarsystem/detail/scenewatch.h"
#include "effects/effectmanager.h"

#include <OgreEntity.h>
#include <OgreLogManager.h>
#include <OgreMaterialManager.h>
#include <OgrePass.h>
#include <OgreSceneManager.h>
#include <OgreSkeletonInstance.h>
#include <OgreStringConverter.h>
#include <OgreSubEntity.h>
#include <OgreSubMesh.h>
#include <OgreTagPoint.h>
#include <OgreTechnique.h>

#include <algorithm>

namespace
{
// "Creating the attached model failed:" in the GBK code page, as the host's log readers expect.
const char* const kCreateFailedMessage = "\xB4\xB4\xBD\xA8\xCD\xE2\xBC\xD3\xC4\xA3\xD0\xCD\xCA\xA7\xB0\xDC\x3A";
const char* const kFallbackMaterial = "c_body";
const Ogre::uint8 kOpaqueQueueGroup = 53;
const Ogre::uint8 kTranslucentQueueGroup = 90;

Ogre::SceneManager* sceneManager()
{
    AvatarSystemManager* manager = AvatarSystemManager::getSingletonPtr();
    return manager ? manager->getSceneMgr() : nullptr;
}

using avatar_detail::boneOwner;
using avatar_detail::hasBone;
} // namespace

bool AttachModel::create(std::string name, std::string meshFile)
{
    Ogre::SceneManager* scene = sceneManager();
    // A model that holds an entity keeps it: a second create would lose it in the scene.
    if (!scene || m_entity)
        return false;

    m_entity = avatar_detail::createEntityOrNull(scene, name, meshFile, "creating an attached model",
                                                 avatar_detail::MeshFailure::CallerLogs);
    if (!m_entity)
    {
        if (Ogre::LogManager* log = Ogre::LogManager::getSingletonPtr())
            log->logMessage(kCreateFailedMessage + name + meshFile, Ogre::LML_NORMAL);
        return false;
    }
    // The host may destroy the entity with its scene: the model then forgets it.
    avatar_detail::SceneWatch::instance().watch(m_entity,
                                                [this]
                                                {
                                                    m_entity = nullptr;
                                                    m_attached = false;
                                                    m_boneName.clear();
                                                });

    // Every sub-entity wears a copy of its own, so that this model's opacity and filtering never
    // reach the same item on another avatar. The copy of sub-entity 0 is named as it always was;
    // the others follow the same rule with their own material, so names stay distinct.
    m_materialCopies.clear();
    m_copies.clear();
    const std::string owner = name + Ogre::StringConverter::toString(reinterpret_cast<unsigned long>(this));
    Ogre::MaterialManager& materials = Ogre::MaterialManager::getSingleton();
    for (unsigned i = 0; i < m_entity->getNumSubEntities(); ++i)
    {
        Ogre::SubEntity* sub = m_entity->getSubEntity(i);
        const std::string& meshMaterial = sub->getSubMesh()->getMaterialName();
        const std::string copyName = meshMaterial + owner;
        avatar_detail::guarded(
            "copying an attached model's material",
            [&]
            {
                const auto made = std::find(m_materialCopies.begin(), m_materialCopies.end(), copyName);
                if (made != m_materialCopies.end())
                {
                    sub->setMaterial(m_copies[static_cast<std::size_t>(made - m_materialCopies.begin())]);
                    return;
                }
                // A new entity wears its mesh's material already: no look-up for it, as long as the
                // material manager still holds that very material (a host may have removed it).
                const Ogre::MaterialPtr& current = sub->getMaterial();
                Ogre::MaterialPtr source =
                    current && current->getName() == meshMaterial && avatar_detail::isHeld(current)
                        ? current
                        : avatar_detail::findMaterial(meshMaterial, "copying an attached model's material",
                                                      kFallbackMaterial);
                if (!source)
                    source = materials.getByName(kFallbackMaterial, Ogre::RGN_AUTODETECT);
                // With neither material there is nothing to copy: the sub-entity keeps
                // what the mesh gave it.
                if (!source)
                    return;
                Ogre::MaterialPtr copy = materials.getByName(copyName, source->getGroup());
                if (!copy)
                    copy = source->clone(copyName, false, Ogre::BLANKSTRING);
                m_materialCopies.push_back(copyName);
                m_copies.push_back(copy);
                sub->setMaterial(copy);
            });
    }

    m_entity->setRenderQueueGroup(kOpaqueQueueGroup);
    return true;
}

const std::string AttachModel::s_noName;

std::string AttachModel::getMaterialCopyName() const
{
    if (!m_entity || m_entity->getNumSubEntities() == 0)
        return std::string();
    const std::string& current = m_entity->getSubEntity(0)->getMaterialName();
    return std::find(m_materialCopies.begin(), m_materialCopies.end(), current) != m_materialCopies.end()
               ? current
               : std::string();
}

bool AttachModel::attach(Ogre::Entity* parent, std::string boneName)
{
    if (!parent || !m_entity || parent == m_entity)
        return false;
    if (m_entity->isAttached())
        return false;
    // Ask first: attachObjectToBone throws for a parent without skeleton or without the bone.
    if (!hasBone(parent, boneName, "hanging an attached model"))
        return false;
    const bool hung = avatar_detail::guarded(
        "hanging an attached model",
        [&] { parent->attachObjectToBone(boneName, m_entity, Ogre::Quaternion::IDENTITY, Ogre::Vector3::ZERO); });
    if (hung)
    {
        m_attached = true;
        m_boneName = boneName;
    }
    return hung;
}

bool AttachModel::createEffect(std::string effectName, bool isCopy)
{
    if (!m_entity)
        return false;
    // One effect per model: a second call replaces the first instead of losing it.
    destroyEfeect();
    Effect* effect = EffectManager::getSingletonPtr()->addEffect(effectName);
    m_effect = avatar_detail::effectHandle(effect);
    m_effectName = effectName;
    if (!m_entity->hasSkeleton() || !effect)
        return false;

    std::string bone;
    if (hasBone(m_entity, "weapon_2"))
        bone = "weapon_2";
    else if (hasBone(m_entity, "Shoulder_1"))
        bone = "Shoulder_1";
    else
        return avatar_detail::logFailure(
            "hanging an attached model's effect",
            {"bone", "weapon_2",
             "nor is \"Shoulder_1\" on \"" + m_entity->getName() + "\": effect \"" + effectName + "\" not hung"});

    return avatar_detail::hangEffect(m_entity, bone, *effect, isCopy);
}

Effect* AttachModel::getEffect()
{
    return avatar_detail::liveEffect(m_effect);
}

void AttachModel::setEffectVisible(bool visible)
{
    Effect* effect = getEffect();
    if (!m_entity || !effect)
        return;
    if (visible)
        effect->show();
    else
        effect->hide();
}

void AttachModel::destroyEfeect()
{
    avatar_detail::releaseEffect(m_entity, m_effect);
}

void AttachModel::setInstanceTransoarency(float alpha)
{
    if (!m_entity)
        return;
    const bool opaque = avatar_detail::isOpaque(alpha);
    m_entity->setRenderQueueGroup(opaque ? kOpaqueQueueGroup : kTranslucentQueueGroup);
    setEffectVisible(opaque);
    m_entity->setCastShadows(avatar_detail::castsShadow(alpha));
    // Only this model's own copies change: the same item on other avatars keeps its look.
    const avatar_detail::OpacityStyle style{true, false};
    avatar_detail::guarded("setting an attached model's opacity",
                           [&] { avatar_detail::applyOpacity(m_copies, alpha, style); });
}

void AttachModel::setTextureFilter(int mode)
{
    if (!m_entity)
        return;
    const avatar_detail::TextureFilter filter = avatar_detail::textureFilterForLevel(mode);
    avatar_detail::guarded("setting an attached model's texture filter",
                           [&] { avatar_detail::applyTextureFilter(m_copies, filter); });
}

AttachModel::~AttachModel()
{
    // Deleted without destroy(): the watch must not call back into this object.
    if (m_entity)
        avatar_detail::SceneWatch::instance().unwatch(m_entity);
}

void AttachModel::destroy()
{
    if (!m_entity)
    {
        // The host destroyed the entity (with its scene): what is not in the scene still goes.
        destroyEfeect();
        removeMaterialCopies();
        return;
    }

    // Off the parent's bone first, so the parent keeps no pointer to a destroyed entity.
    if (Ogre::Entity* parent = boneOwner(m_entity))
        avatar_detail::guarded("taking an attached model off its bone",
                               [&] { parent->detachObjectFromBone(m_entity); });
    else if (m_entity->isAttached())
        avatar_detail::guarded("taking an attached model off its node", [&] { m_entity->detachFromParent(); });
    m_attached = false;
    m_boneName.clear();

    avatar_detail::guarded("clearing an attached model's bones", [&] { m_entity->detachAllObjectsFromBone(); });
    avatar_detail::releaseEffect(m_entity, m_effect);

    removeMaterialCopies();

    Ogre::SceneManager* scene = sceneManager();
    if (!scene)
        return;
    avatar_detail::destroyOwnEntity(scene, m_entity, "destroying an attached model");
    m_entity = nullptr;
}

void AttachModel::removeMaterialCopies()
{
    avatar_detail::removeMaterials(m_copies, "removing an attached model's material copy");
    m_materialCopies.clear();
}
