#include "avatarsystem/creatureinstance.h"

#include "avatarsystem/creaturedb.h"
#include "avatarsystem/detail/bodysplit.h"
#include "avatarsystem/detail/effectbinding.h"
#include "avatarsystem/detail/entityfactory.h"
#include "avatarsystem/detail/materialname.h"
#include "avatarsystem/detail/materialstate.h"
#include "avatarsystem/detail/ogreguard.h"
#include "avatarsystem/detail/contentrules.h"
#include "avatarsystem/detail/scenewatch.h"
#include "effects/effectmanager.h"

#include <OgreAnimationState.h>
#include <OgreEntity.h>
#include <OgreMaterialManager.h>
#include <OgrePass.h>
#include <OgreSceneManager.h>
#include <OgreSubEntity.h>
#include <OgreTechnique.h>

#include <cstring>

namespace
{
const char* const kFallbackMesh = "G_jiaoren_women.mesh";
const char* const kSharedMaterial = "col";
const char* const kHighlightTexture = "white.bmp";
const Ogre::uint8 kOpaqueQueueGroup = 54;
const Ogre::uint8 kTranslucentQueueGroup = 90;

/// What create() reads from a creature, NPC or object row.
struct CreatureRow
{
    std::string meshFile;
    float scale = 1.0f;
    float runSpeed = 1.0f;
    float walkSpeed = 1.0f;
    float cameraBias = 0.0f;
    bool beTransObject = false;
    std::string effects[5];
};

std::string fieldText(const Record& row, unsigned column)
{
    const char* text = row.getString(column);
    return text ? std::string(text) : std::string();
}

/// Reads the row of id from the table its range selects. False when there is no table or no row.
bool readCreatureRow(unsigned id, CreatureRow& out)
{
    AvatarSystemManager* manager = AvatarSystemManager::getSingletonPtr();
    if (!manager || id == 0)
        return false;
    const DB_NAME_e name = avatar_rules::creatureTableOf(id);
    const bool isObject = name == DB_OBJECT;
    TextDataBase* table = manager->getDB(name);
    if (!table)
        return false;

    // A copy: the table may be edited or closed while the avatar lives.
    const Record row =
        isObject ? static_cast<ObjectDB*>(table)->getByID(id) : static_cast<CreatureLayoutDB*>(table)->getByID(id);
    if (!row.isValid())
        return false;

    // Both layouts share columns 1 to 8; the rest differ.
    out.meshFile = fieldText(row, CreatureLayoutDB::FileName);
    out.scale = row.getFloat(CreatureLayoutDB::Scale);
    for (unsigned k = 0; k < 5; ++k)
        out.effects[k] = fieldText(row, CreatureLayoutDB::Effect1 + k);
    if (isObject)
    {
        out.cameraBias = row.getFloat(ObjectDB::CameraBias);
        out.beTransObject = row.getUInt(ObjectDB::BeTransObject) != 0;
    }
    else
    {
        out.runSpeed = row.getFloat(CreatureLayoutDB::RunSpeed);
        out.walkSpeed = row.getFloat(CreatureLayoutDB::WalkSpeed);
        out.cameraBias = row.getFloat(CreatureLayoutDB::CameraBias);
        out.beTransObject = row.getUInt(CreatureLayoutDB::BeTransObject) != 0;
    }
    return true;
}

Ogre::SceneManager* sceneManager()
{
    AvatarSystemManager* manager = AvatarSystemManager::getSingletonPtr();
    return manager ? manager->getSceneMgr() : nullptr;
}

/// Technique 0 of a material when it has a pass 0, else null.
Ogre::Technique* firstTechnique(const Ogre::MaterialPtr& material)
{
    if (!material || material->getNumTechniques() == 0)
        return nullptr;
    Ogre::Technique* technique = material->getTechnique(0);
    return technique->getNumPasses() > 0 ? technique : nullptr;
}
} // namespace

// A creature's manual animation starts paused; its movement speeds start at 8 and 2.
CreatureInstance::CreatureInstance() : InstanceBase(true, 8.0f, 2.0f) {}

CreatureInstance::~CreatureInstance() = default;

void CreatureInstance::setProperties(const CreatureSetting_t& setting)
{
    m_properties = setting;
    m_name.assign(m_properties.Name, strnlen(m_properties.Name, sizeof(m_properties.Name)));
}

bool CreatureInstance::create()
{
    const avatar_detail::FailureSubject subject(this);
    // Built already: a second build would lose the entity it holds.
    if (m_entity)
        return true;
    if (isDestroyed())
        return false;
    Ogre::SceneManager* scene = sceneManager();
    CreatureRow row;
    if (m_properties.ID == 0 || !scene || !readCreatureRow(m_properties.ID, row))
        return false;

    // Rebuilt after the host destroyed the entity: the copies made for it are ours and go, so
    // that the new entity gets copies of its own again instead of wearing the shared materials.
    removeCopies();
    m_scale = row.scale;
    m_baseSpeedA = row.runSpeed;
    m_baseSpeedB = row.walkSpeed;
    m_beTransObject = row.beTransObject;

    // The manager hands out 32-bit IDs; names show them as such.
    const unsigned id = static_cast<unsigned>(m_uniqueID);
    const std::string entityName = std::to_string(id) + "_Creature";
    m_entity = avatar_detail::createEntityOrNull(scene, entityName, row.meshFile, "creating a creature entity");
    if (!m_entity)
        m_entity = avatar_detail::createEntityOrNull(scene, entityName, kFallbackMesh, "creating a creature entity");
    if (!m_entity)
        return false;
    watchEntity();

    refreshAttachEffects(row.effects[0], row.effects[1], row.effects[2], row.effects[3], row.effects[4]);
    m_entity->setRenderQueueGroup(kOpaqueQueueGroup);

    Ogre::MaterialManager& materials = Ogre::MaterialManager::getSingleton();
    for (unsigned i = 0; i < m_entity->getNumSubEntities(); ++i)
    {
        Ogre::SubEntity* sub = m_entity->getSubEntity(i);
        const Ogre::MaterialPtr source = sub->getMaterial();
        if (!source || source->getName() == kSharedMaterial)
            continue;
        const std::string copyName = avatar_detail::instanceMaterialName(source->getName(), id, i);
        // A material of that name that we did not make is not ours to change or remove:
        // the sub-entity then keeps its shared material.
        if (materials.resourceExists(copyName, Ogre::RGN_AUTODETECT))
            continue;
        avatar_detail::guarded("copying a creature material",
                               [&]
                               {
                                   source->clone(copyName, false, Ogre::BLANKSTRING);
                                   m_clonedMaterials.push_back(copyName);
                                   sub->setMaterialName(copyName, source->getGroup());
                               });
    }

    if (!m_transparencySet)
        setInstanceTransoarency(0.0f, false);

    if (m_animCtrl)
    {
        m_animCtrl->setEntity(m_entity);
        m_animCtrl->setPause(false);
    }

    notifyHostOfFirstBuild(row.cameraBias);
    return true;
}

void CreatureInstance::refreshAttachEffects(std::string e1, std::string e2, std::string e3, std::string e4,
                                            std::string e5)
{
    const std::string* names[5] = {&e1, &e2, &e3, &e4, &e5};
    EffectManager* effects = EffectManager::getSingletonPtr();
    for (int k = 0; k < 5; ++k)
    {
        if (names[k]->empty())
            continue;
        // A slot refreshed again lets its earlier effect go instead of leaving it alive on the bone.
        avatar_detail::releaseEffect(m_entity, m_effects[k]);
        Effect* made = effects->addEffect(*names[k]);
        m_effects[k] = avatar_detail::effectHandle(made);
        if (made)
            avatar_detail::hangEffect(m_entity, "effect_" + std::to_string(k + 1), *made, m_isCopy);
    }
}

Effect* CreatureInstance::getEffect(int index) const
{
    return index >= 0 && index < 5 ? avatar_detail::liveEffect(m_effects[index]) : nullptr;
}

void CreatureInstance::showEffect(bool show)
{
    for (const std::string& handle : m_effects)
    {
        Effect* effect = avatar_detail::liveEffect(handle);
        if (!effect)
            continue;
        if (show)
            effect->show();
        else
            effect->hide();
    }
}

bool CreatureInstance::destroy()
{
    releaseController();
    markDestroyed();

    Ogre::SceneManager* scene = sceneManager();
    // Effects are the effect library's: freed whether or not the host's scene took the entity.
    for (std::string& effect : m_effects)
        avatar_detail::releaseEffect(scene ? m_entity : nullptr, effect);
    if (scene && m_entity)
    {
        avatar_detail::guarded("taking objects off a creature's bones", [&] { m_entity->detachAllObjectsFromBone(); });
        avatar_detail::destroyOwnEntity(scene, m_entity, "destroying a creature entity");
    }
    else if (m_entity)
    {
        avatar_detail::SceneWatch::instance().unwatch(m_entity);
    }
    m_entity = nullptr;

    m_animationList.clear();
    m_currentAnimState = nullptr;

    removeCopies();
    return true;
}

void CreatureInstance::removeCopies()
{
    Ogre::MaterialManager& materials = Ogre::MaterialManager::getSingleton();
    for (const std::string& name : m_clonedMaterials)
        avatar_detail::guarded("removing a creature material copy",
                               [&]
                               {
                                   // Ask first: removing an unknown name dereferences a null resource.
                                   if (materials.resourceExists(name, Ogre::RGN_AUTODETECT))
                                       materials.remove(name, Ogre::RGN_AUTODETECT);
                               });
    m_clonedMaterials.clear();
}

void CreatureInstance::setInstanceTransoarency(float alpha, bool fromOutside)
{
    m_transparencySet = fromOutside;
    m_transparency = alpha;
    if (!m_entity || !m_beTransObject)
        return;

    const bool opaque = avatar_detail::isOpaque(alpha);
    // Creatures draw both faces when opaque and leave lighting alone when see-through. Every
    // material changes, the uncopied shared "col" included.
    const avatar_detail::OpacityStyle style{false, true};
    avatar_detail::guarded("setting creature opacity", [&] { avatar_detail::applyOpacity(*m_entity, alpha, style); });
    if (opaque)
    {
        showEffect(true);
        m_entity->setRenderQueueGroup(kOpaqueQueueGroup);
    }
    else
    {
        showEffect(false);
        m_entity->setRenderQueueGroup(kTranslucentQueueGroup);
        m_entity->setCastShadows(avatar_detail::castsShadow(alpha));
    }
}

void CreatureInstance::setHighLight(bool on)
{
    Ogre::MaterialManager* materials = Ogre::MaterialManager::getSingletonPtr();
    if (!materials)
        return;
    for (const std::string& name : m_clonedMaterials)
    {
        avatar_detail::guarded(
            "highlighting a creature",
            [&]
            {
                Ogre::Technique* technique = firstTechnique(materials->getByName(name, Ogre::RGN_AUTODETECT));
                if (!technique)
                    return;
                Ogre::Pass* pass = technique->getPass(0);
                if (on)
                {
                    Ogre::TextureUnitState* unit = pass->getTextureUnitState(kHighlightTexture);
                    if (!unit)
                    {
                        unit = pass->createTextureUnitState(kHighlightTexture, 0);
                        unit->setName(kHighlightTexture);
                    }
                    unit->setTextureAddressingMode(Ogre::TextureUnitState::TAM_WRAP);
                    unit->setColourOperationEx(Ogre::LBX_MODULATE_X2, Ogre::LBS_TEXTURE, Ogre::LBS_CURRENT,
                                               Ogre::ColourValue::White, Ogre::ColourValue::White, 0.0f);
                }
                else
                {
                    while (Ogre::TextureUnitState* unit = pass->getTextureUnitState(kHighlightTexture))
                        pass->removeTextureUnitState(pass->getTextureUnitStateIndex(unit));
                }
            });
    }
}

void CreatureInstance::setTextureFilter(int level)
{
    if (!m_entity)
        return;
    const avatar_detail::TextureFilter filter = avatar_detail::textureFilterForLevel(level);
    avatar_detail::guarded("setting a creature's texture filter",
                           [&] { avatar_detail::applyTextureFilter(*m_entity, filter); });
}

void CreatureInstance::getSpeedRate(float& runRate, float& walkRate)
{
    // A row without speeds (or with scale 0) would divide by zero: such a creature plays at normal pace.
    const float runBase = m_baseSpeedA * m_scale;
    const float walkBase = m_baseSpeedB * m_scale;
    runRate = runBase != 0.0f ? m_speedA / runBase : 1.0f;
    walkRate = walkBase != 0.0f ? m_speedB / walkBase : 1.0f;
}

const char* CreatureInstance::getAnimName(AnimationType)
{
    return "";
}
