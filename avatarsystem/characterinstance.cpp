#include "avatarsystem/characterinstance.h"

#include "avatarsystem/attachmodel.h"
#include "avatarsystem/detail/bodysplit.h"
#include "avatarsystem/detail/materialstate.h"
#include "avatarsystem/detail/ogreguard.h"
#include "avatarsystem/ewchardb.h"

#include <OgreAnimationState.h>
#include <OgreEntity.h>
#include <OgreMaterialManager.h>
#include <OgreMesh.h>
#include <OgrePass.h>
#include <OgreSceneManager.h>
#include <OgreSubEntity.h>
#include <OgreSubMesh.h>
#include <OgreTechnique.h>
#include <OgreTextureUnitState.h>

#include <algorithm>
#include <cstring>
#include <map>

const INSTANCE_TYPE_e CharacterInstance::s_instanceType;
const std::size_t CharacterInstance::kMaxPooledEntities;

const std::string CharacterInstance::body_new = "body_new_0";
const std::string CharacterInstance::lowArm_new = "lowArm_new_0";
const std::string CharacterInstance::lowLeg_new = "lowLeg_new_0";
const std::string CharacterInstance::upLeg_new = "upLeg_new_0";
const std::string CharacterInstance::face_new = "face_new_0";
const std::string CharacterInstance::hair = "hair_0_0";

const std::string CharacterInstance::helm = "helm";
const std::string CharacterInstance::shoulder_l = "shoulder_l";
const std::string CharacterInstance::shoulder_r = "shoulder_r";
const std::string CharacterInstance::weapon_l = "weapon_l";
const std::string CharacterInstance::weapon_r = "weapon_r";
const std::string CharacterInstance::shield = "shield";
const std::string CharacterInstance::backGongBinder = "back1";
const std::string CharacterInstance::backShieldBinder = "back2";
const std::string CharacterInstance::backLongBinder = "back3";
const std::string CharacterInstance::backFazhangBinder = "back4";
const std::string CharacterInstance::backShuangshouchuiBinder = "back5";
const std::string CharacterInstance::waist_l = "lumber_l";
const std::string CharacterInstance::waist_r = "lumber_r";

std::vector<Ogre::Entity*> CharacterInstance::s_maleEntityPool;
std::vector<Ogre::Entity*> CharacterInstance::s_femaleEntityPool;

namespace
{

const char* const s_maleMesh = "HumanMale.mesh";
const char* const s_femaleMesh = "HumanFemale.mesh";
const char* const s_fallbackMaterial = "c_body";
const Ogre::uint8 s_opaqueQueue = 53;
const Ogre::uint8 s_translucentQueue = 90;

AvatarSystemManager* manager()
{
    return AvatarSystemManager::getSingletonPtr();
}

Ogre::SceneManager* sceneManager()
{
    AvatarSystemManager* m = manager();
    return m ? m->getSceneMgr() : nullptr;
}

template <class Table> const Table* table(DB_NAME_e name)
{
    AvatarSystemManager* m = manager();
    return m ? static_cast<const Table*>(m->getDB(name)) : nullptr;
}

std::string text(const Record& row, unsigned column)
{
    const char* value = row.getString(column);
    return value ? std::string(value) : std::string();
}

bool fitsGender(const Record& row, unsigned column, unsigned gender)
{
    const unsigned flag = row.getUInt(column);
    return flag == gender || flag == 2;
}

// Ask the mesh first: Entity::getSubEntity(name) throws ItemIdentityException for unknown names.
Ogre::SubEntity* findSubEntity(Ogre::Entity* entity, const std::string& name)
{
    if (!entity || !entity->getMesh())
        return nullptr;
    const Ogre::Mesh::SubMeshNameMap& names = entity->getMesh()->getSubMeshNameMap();
    const auto it = names.find(name);
    if (it == names.end() || it->second >= entity->getNumSubEntities())
        return nullptr;
    return entity->getSubEntity(it->second);
}

/// The first texture unit of the first pass of the first technique, or null.
Ogre::TextureUnitState* firstTextureUnit(const Ogre::MaterialPtr& material)
{
    if (!material || material->getNumTechniques() == 0)
        return nullptr;
    Ogre::Technique* technique = material->getTechnique(0);
    if (technique->getNumPasses() == 0)
        return nullptr;
    Ogre::Pass* pass = technique->getPass(0);
    return pass->getNumTextureUnitStates() == 0 ? nullptr : pass->getTextureUnitState(0);
}

/// name itself when no entity has it, else name#2, name#3... whichever is free first.
std::string freeEntityName(Ogre::SceneManager& scene, const std::string& name)
{
    std::string candidate = name;
    for (unsigned n = 2; scene.hasEntity(candidate); ++n)
        candidate = name + "#" + std::to_string(n);
    return candidate;
}

/// name itself when no material has it (in any group), else name#2, name#3... whichever is free first.
std::string freeMaterialName(const std::string& name)
{
    Ogre::MaterialManager& materials = Ogre::MaterialManager::getSingleton();
    std::string candidate = name;
    // The group must be named: without it the engine looks in the default group only.
    for (unsigned n = 2; materials.resourceExists(candidate, Ogre::RGN_AUTODETECT); ++n)
        candidate = name + "#" + std::to_string(n);
    return candidate;
}

bool isFemaleBody(Ogre::Entity* entity, unsigned gender)
{
    // The mesh decides: the entity goes back to the pool it can serve, whatever gender a rebuild set.
    if (entity->getMesh())
    {
        const std::string& mesh = entity->getMesh()->getName();
        if (mesh == s_femaleMesh)
            return true;
        if (mesh == s_maleMesh)
            return false;
    }
    return gender != 0;
}

} // namespace

// A character's manual animation starts unpaused; its movement speeds start at 6 and 2.
CharacterInstance::CharacterInstance() : InstanceBase(false, 6.0f, 2.0f) {}

CharacterInstance::~CharacterInstance()
{
    // The OGRE objects need the scene and go in destroy(); the callback record is ours either way,
    // so that an instance deleted without destroy() leaks no memory of its own.
    delete m_entityCallback;
}

void CharacterInstance::setProperties(const PlayerSetting_t& setting)
{
    m_properties = setting;
    m_name.assign(setting.Name, strnlen(setting.Name, sizeof(setting.Name)));
}

bool CharacterInstance::create()
{
    bool built = false;
    avatar_detail::guarded("building a character", [this, &built] { built = build(); });
    return built;
}

bool CharacterInstance::build()
{
    getResourceInfo();
    if (!m_entity)
        return false;
    showObject();
    equip();
    setTexture();
    AvatarSystemManager* m = manager();
    setTextureFilter(m ? m->getTextureFilterType() : 3);
    if (!m_transparencySet)
        setInstanceTransoarency(0.0f, false);

    if (!m_isCreated)
    {
        if (m_animCtrl)
        {
            m_animCtrl->setEntity(m_entity);
            m_animCtrl->setPause(false);
        }
        if (m_entityCallback && m_entityCallback->view)
        {
            if (m_entityCallback->type == 0)
            {
                IEntityView* view = m_entityCallback->view;
                view->onInstanceReady(this, 0);
                if (m_entityCallback->observer)
                    m_entityCallback->observer->onViewReady(view->getViewKey());
                m_entityCallback->type = 3;
            }
        }
        else if (m_isCopy)
        {
            if (m_rtt3DCallback)
                m_rtt3DCallback->onPlayerCopyCreated();
            if (m_rttCallback)
                m_rttCallback->onCopyCreated();
        }
    }
    m_appliedProperties = m_properties;
    m_isCreated = true;
    return true;
}

bool CharacterInstance::destroy()
{
    releaseController();
    Ogre::SceneManager* scene = sceneManager();
    if (scene && m_entity)
    {
        // The attachments take their own entities off our bones; whatever else hangs there goes next.
        for (AttachModel** slot : {&m_helm, &m_shoulderL, &m_shoulderR, &m_rightWeapon, &m_leftWeapon, &m_shield,
                                   &m_backWeapon, &m_backShield, &m_waistL, &m_waistR})
        {
            if (*slot)
            {
                AttachModel* model = *slot;
                avatar_detail::guarded("destroying an attachment", [model] { model->destroy(); });
                delete model;
                *slot = nullptr;
            }
        }
        Ogre::Entity* entity = m_entity;
        avatar_detail::guarded("detaching a character",
                               [entity]
                               {
                                   entity->detachAllObjectsFromBone();
                                   if (entity->isAttached())
                                       entity->detachFromParent();
                               });

        // Pooled bodies keep no reference to our copies: back to the mesh's own materials where they exist.
        Ogre::MaterialManager& materials = Ogre::MaterialManager::getSingleton();
        avatar_detail::guarded("releasing a character's materials",
                               [&]
                               {
                                   for (unsigned i = 0; i < entity->getNumSubEntities(); ++i)
                                   {
                                       Ogre::SubEntity* sub = entity->getSubEntity(i);
                                       const Ogre::MaterialPtr own = materials.getByName(
                                           sub->getSubMesh()->getMaterialName(), Ogre::RGN_AUTODETECT);
                                       if (own)
                                           sub->setMaterial(own);
                                   }
                               });
        for (const std::string& name : m_materialCopies)
            avatar_detail::guarded("removing a material copy",
                                   [&]
                                   {
                                       if (Ogre::MaterialPtr copy = materials.getByName(name, Ogre::RGN_AUTODETECT))
                                           materials.remove(copy);
                                   });
        m_materialCopies.clear();

        // The next avatar takes the body as OGRE made it: no state, weight, mask or blend mode of
        // ours. The engine does not free blend masks with their entity either.
        avatar_detail::guarded("resetting a body's animation", [entity] { avatar_detail::resetAnimation(entity); });
        std::vector<Ogre::Entity*>& pool =
            isFemaleBody(entity, m_properties.gender) ? s_femaleEntityPool : s_maleEntityPool;
        if (pool.size() < kMaxPooledEntities)
            pool.push_back(entity);
        else
            avatar_detail::guarded("destroying a character entity", [&] { scene->destroyEntity(entity); });
        m_entity = nullptr;
    }
    delete m_entityCallback;
    m_entityCallback = nullptr;
    return true;
}

void CharacterInstance::clearEntityPools()
{
    for (std::vector<Ogre::Entity*>* pool : {&s_maleEntityPool, &s_femaleEntityPool})
    {
        for (Ogre::Entity* entity : *pool)
            avatar_detail::guarded("destroying a pooled entity",
                                   [entity]
                                   {
                                       if (Ogre::SceneManager* scene = entity->_getManager())
                                           scene->destroyEntity(entity);
                                   });
        pool->clear();
    }
}

void CharacterInstance::getResourceInfo()
{
    AvatarSystemManager* m = manager();
    if (!m || !m->getSceneMgr())
        return;
    const PlayerSetting_t& s = m_properties;
    if (!m_isCreated)
        m_appliedProperties = s;

    if (const auto* sections = table<EWCharSectionsDB>(DB_CHAR_SECTIONS))
    {
        const char* g = s.gender == 0 ? "M" : "F";
        m_defaultHairTexture = std::string("hair_") + g + ".dds";
        m_lowArmTexture = std::string("lowarm_new_") + g + ".dds";
        m_bodyTexture = std::string("body_new_") + g + ".dds";
        m_upLegTexture = std::string("upleg_new_") + g + ".dds";
        m_lowLegTexture = std::string("lowLeg_new_") + g + ".dds";
        m_faceTexture = std::string("Face_1_") + g + ".dds";

        const Record& face =
            sections->getByParams(s.race, s.gender, EWCharSectionsDB::FaceType, s.faceType, s.skinColor);
        if (face.isValid())
            m_faceTexture = text(face, EWCharSectionsDB::Tex1);
        const Record& hairRow =
            sections->getByParams(s.race, s.gender, EWCharSectionsDB::HairType, s.hairStyle, s.hairColor);
        if (hairRow.isValid())
            m_hairTexture = text(hairRow, EWCharSectionsDB::Tex1);
    }

    m_lowArmByHand = true;
    m_lowLegByFoot = true;
    if (const auto* worn = table<EWWearingDB>(DB_WEARING))
    {
        auto item = [&](unsigned id) -> const Record&
        {
            const Record& row = worn->getByID(id);
            return row.isValid() && fitsGender(row, EWWearingDB::Flag, s.gender) ? row : s_emptyRecord;
        };
        auto tex = [&](const Record& row, unsigned column)
        { return makeItemTexture(static_cast<int>(column), row.getString(column)); };
        const Record& shirt = item(s.shirt);
        if (shirt.isValid())
        {
            const std::string body = tex(shirt, EWWearingDB::TexBody);
            if (!body.empty())
                m_bodyTexture = body;
            const std::string hand = tex(shirt, EWWearingDB::TexHand);
            if (!hand.empty())
            {
                m_lowArmTexture = hand;
                m_lowArmByHand = false;
            }
        }
        const Record& pants = item(s.pants);
        if (pants.isValid())
        {
            const std::string upLeg = tex(pants, EWWearingDB::TexPants);
            if (!upLeg.empty())
                m_upLegTexture = upLeg;
            const std::string lowLeg = tex(pants, EWWearingDB::TexFoot);
            if (!lowLeg.empty())
            {
                m_lowLegTexture = lowLeg;
                m_lowLegByFoot = false;
            }
        }
        const Record& glove = item(s.glove);
        if (glove.isValid())
        {
            const std::string hand = tex(glove, EWWearingDB::TexHand);
            if (!hand.empty())
            {
                m_lowArmTexture = hand;
                m_lowArmByHand = true;
            }
        }
        const Record& boot = item(s.boot);
        if (boot.isValid())
        {
            const std::string foot = tex(boot, EWWearingDB::TexFoot);
            if (!foot.empty())
            {
                m_lowLegTexture = foot;
                m_lowLegByFoot = true;
            }
        }
        m_beltOutTexture = getOutModelTextureName(s.belt);
        m_gloveOutTexture = getOutModelTextureName(s.glove);
        m_shirtOutTexture = getOutModelTextureName(s.shirt);
        m_pantsOutTexture = getOutModelTextureName(s.pants);
        m_bootOutTexture = getOutModelTextureName(s.boot);
    }

    if (!table<EWItemDB>(DB_ITEM))
        return;
    if (m_isCreated)
        return;
    acquireEntity();
}

bool CharacterInstance::acquireEntity()
{
    // Held already when an earlier build stopped part-way: never take a second body.
    if (m_entity)
        return true;
    Ogre::SceneManager* scene = sceneManager();
    const auto* races = table<EWCharRacesDB>(DB_CHAR_RACES);
    if (!scene || !races)
        return false;
    const Record& race = races->getById(m_properties.race);
    if (!race.isValid() || text(race, EWCharRacesDB::Name).empty())
        return false;

    const bool male = m_properties.gender == 0;
    const char* mesh = male ? s_maleMesh : s_femaleMesh;
    std::vector<Ogre::Entity*>& pool = male ? s_maleEntityPool : s_femaleEntityPool;
    m_baseSpeedA = male ? 6.0f : 6.2f;
    m_baseSpeedB = male ? 2.5f : 2.3f;

    Ogre::Entity* entity = nullptr;
    if (pool.empty())
    {
        // The formed name is kept whenever it is free; two names can form the same text
        // ("Ann1" with ID 7 and "Ann" with ID 17), and then a numbered variant is used.
        const std::string name = freeEntityName(*scene, m_name + std::to_string(m_uniqueID) + "_Player");
        if (!avatar_detail::guarded("creating a character entity", [&] { entity = scene->createEntity(name, mesh); }))
            return false;
    }
    else
    {
        entity = pool.back();
        pool.pop_back();
        entity->setVisible(true);
        // Whatever the body's last avatar played or weighted is gone.
        avatar_detail::resetAnimation(entity);
        if (m_animCtrl)
        {
            m_animCtrl->setEntity(entity);
            m_animCtrl->resetAllStates(false);
        }
    }
    m_entity = entity;
    m_entity->setRenderQueueGroup(s_opaqueQueue);
    return true;
}

void CharacterInstance::showObject()
{
    if (!m_entity)
        return;
    const PlayerSetting_t& s = m_properties;
    m_subEntityCount = static_cast<unsigned>(m_entity->getNumSubEntities());
    for (unsigned i = 0; i < m_subEntityCount; ++i)
        m_entity->getSubEntity(i)->setVisible(false);
    for (const std::string* name : {&body_new, &lowArm_new, &lowLeg_new, &upLeg_new, &face_new})
        showSubEntity(*name, true);

    if (m_needMaterialClone)
    {
        copyMaterials();
        m_needMaterialClone = false;
    }

    bool showStyledHair = true;
    bool showHairPiece = false;
    if (s.head != 0)
    {
        if (const auto* items = table<EWItemDB>(DB_ITEM))
        {
            const Record& headItem = items->getByID(s.head);
            if (headItem.isValid())
            {
                // Only the last decimal digit of each column counts.
                showStyledHair = headItem.getUInt(EWItemDB::HideHair) % 10 == 0;
                showHairPiece = headItem.getUInt(EWItemDB::HideHead) % 10 == 0;
            }
        }
    }

    const auto* hairGeo = table<EWCharHairGeoDB>(DB_CHAR_HAIR_GEO);
    const auto* sections = table<EWCharSectionsDB>(DB_CHAR_SECTIONS);
    if (showStyledHair && hairGeo && sections)
    {
        const Record& style =
            sections->getByParams(s.race, s.gender, EWCharSectionsDB::HairType, s.hairStyle, s.hairColor);
        if (style.isValid())
        {
            const Record& geoset =
                hairGeo->getByParams(s.race, s.gender, static_cast<unsigned>(style.getInt(EWCharSectionsDB::Section)));
            const std::string submesh = geoset.isValid() ? text(geoset, EWCharHairGeoDB::Submesh1) : std::string();
            if (!submesh.empty())
            {
                showSubEntity(submesh, true);
                if (!m_hairTexture.empty())
                    setSubEntityTexture(submesh, m_hairTexture);
            }
        }
    }
    showSubEntity(hair, showHairPiece);
}

void CharacterInstance::copyMaterials()
{
    Ogre::MaterialManager& materials = Ogre::MaterialManager::getSingleton();
    const std::string suffix = m_name + "true" + std::to_string(m_uniqueID);
    // Sub-entities that share a mesh material share its copy, as they shared the original.
    std::map<std::string, Ogre::MaterialPtr> made;
    for (unsigned i = 0; i < m_entity->getNumSubEntities(); ++i)
    {
        Ogre::SubEntity* sub = m_entity->getSubEntity(i);
        const std::string source = sub->getSubMesh()->getMaterialName();
        avatar_detail::guarded("copying a character material",
                               [&]
                               {
                                   Ogre::MaterialPtr& copy = made[source];
                                   if (!copy)
                                   {
                                       Ogre::MaterialPtr original = materials.getByName(source, Ogre::RGN_AUTODETECT);
                                       if (!original)
                                           original = materials.getByName(s_fallbackMaterial, Ogre::RGN_AUTODETECT);
                                       // Neither the mesh's material nor the fallback exists: the sub-entity keeps what
                                       // it has.
                                       if (!original)
                                           return;
                                       const std::string name = freeMaterialName(source + suffix);
                                       copy = original->clone(name);
                                       m_materialCopies.push_back(name);
                                   }
                                   sub->setMaterial(copy);
                               });
    }
}

void CharacterInstance::showSubEntity(const std::string& name, bool visible)
{
    if (Ogre::SubEntity* sub = findSubEntity(m_entity, name))
        sub->setVisible(visible);
}

void CharacterInstance::setSubEntityTexture(const std::string& subEntityName, const std::string& texture)
{
    Ogre::SubEntity* sub = findSubEntity(m_entity, subEntityName);
    if (!sub || texture.empty())
        return;
    avatar_detail::guarded("setting a section texture",
                           [&]
                           {
                               if (Ogre::TextureUnitState* unit = firstTextureUnit(sub->getMaterial()))
                                   unit->setTextureName(texture, Ogre::TEX_TYPE_2D);
                           });
}

std::string CharacterInstance::getSubEntityTexture(const std::string& subEntityName) const
{
    Ogre::SubEntity* sub = findSubEntity(m_entity, subEntityName);
    const Ogre::TextureUnitState* unit = sub ? firstTextureUnit(sub->getMaterial()) : nullptr;
    return unit ? unit->getTextureName() : std::string();
}

void CharacterInstance::setTexture()
{
    setSubEntityTexture(body_new, m_bodyTexture);
    setSubEntityTexture(lowArm_new, m_lowArmTexture);
    setSubEntityTexture(face_new, m_faceTexture);
    setSubEntityTexture(upLeg_new, m_upLegTexture);
    setSubEntityTexture(lowLeg_new, m_lowLegTexture);
    setSubEntityTexture(hair, m_defaultHairTexture);
}

std::string CharacterInstance::makeItemTexture(int /*kind*/, const char* base) const
{
    if (!base || !*base)
        return std::string();
    return std::string(base) + (m_properties.gender == 0 ? "_M.dds" : "_F.dds");
}

std::string CharacterInstance::getOutModelTextureName(unsigned itemID) const
{
    const auto* worn = table<EWWearingDB>(DB_WEARING);
    if (!worn)
        return std::string();
    const Record& row = worn->getByID(itemID);
    return row.isValid() ? text(row, EWWearingDB::TexPath) : std::string();
}

void CharacterInstance::retemplateSubEntity(const std::string& subEntityName, const std::string& templateName,
                                            const std::string& texture)
{
    Ogre::SubEntity* sub = findSubEntity(m_entity, subEntityName);
    if (!sub)
        return;
    avatar_detail::guarded("re-templating a section",
                           [&]
                           {
                               Ogre::MaterialManager& materials = Ogre::MaterialManager::getSingleton();
                               const Ogre::MaterialPtr templ = materials.getByName(templateName, Ogre::RGN_AUTODETECT);
                               const Ogre::MaterialPtr current = sub->getMaterial();
                               if (!templ || !current)
                                   return;
                               std::string name = current->getName();
                               const bool own = std::find(m_materialCopies.begin(), m_materialCopies.end(), name) !=
                                                m_materialCopies.end();
                               if (own)
                               {
                                   materials.remove(current);
                               }
                               else
                               {
                                   // A shared material is never replaced: the section gets a copy of its own first.
                                   name = freeMaterialName(sub->getSubMesh()->getMaterialName() + m_name + "true" +
                                                           std::to_string(m_uniqueID));
                                   m_materialCopies.push_back(name);
                               }
                               Ogre::MaterialPtr copy = templ->clone(name);
                               if (!texture.empty())
                                   if (Ogre::TextureUnitState* unit = firstTextureUnit(copy))
                                       unit->setTextureName(texture, Ogre::TEX_TYPE_2D);
                               sub->setMaterial(copy);
                           });
}

void CharacterInstance::equip()
{
    // Attached models and worn items are dressed by the equipment work, not implemented yet:
    // until then a build shows the bare body with its section textures.
}

void CharacterInstance::addEquipment(unsigned /*itemID*/, CharSlots /*place*/)
{
    // Not implemented yet: worn items are put on with the equipment work.
}

bool CharacterInstance::loadAttatchedModel(int /*slot*/, unsigned int /*itemID*/)
{
    // Not implemented yet: attachments are built with the equipment work.
    return false;
}

void CharacterInstance::removeAttachedModel(int slot)
{
    if (!m_entity || !sceneManager())
        return;
    std::vector<AttachModel**> members;
    switch (slot)
    {
    case SLOT_HEAD:
        members = {&m_helm};
        break;
    case SLOT_SHOULDER:
        members = {&m_shoulderL, &m_shoulderR};
        break;
    case SLOT_DOUBLEHAND:
        members = {&m_rightWeapon, &m_leftWeapon};
        break;
    case SLOT_SHIELD:
        members = {&m_shield};
        break;
    case SLOT_RIGHT_HAND:
        members = {&m_rightWeapon};
        break;
    case SLOT_LEFT_HAND:
        members = {&m_leftWeapon};
        break;
    case SLOT_BACK_LONG_WEAPON:
        members = {&m_backWeapon};
        break;
    case SLOT_BACK_SHIELD:
        members = {&m_backShield};
        break;
    case SLOT_RIGHT_WAIST:
        members = {&m_waistR};
        break;
    case SLOT_LEFT_WAIST:
        members = {&m_waistL};
        break;
    default:
        break;
    }
    for (AttachModel** member : members)
    {
        if (AttachModel* model = *member)
        {
            avatar_detail::guarded("removing an attachment", [model] { model->destroy(); });
            delete model;
            *member = nullptr;
        }
    }
}

bool CharacterInstance::settingEquipEffect(const WeaponEffectVisible* visible)
{
    if (!visible)
        return true;
    m_properties.weaponEffect = *visible;
    IAvatarSystem::getSingletonPtr()->replacePlayer(m_properties, this);
    return true;
}

void CharacterInstance::setWeaponEffectAllShow(int value)
{
    const unsigned v = static_cast<unsigned>(value);
    m_properties.weaponEffect = WeaponEffectVisible{v, v, v, v, v, v, v};
}

std::array<AttachModel*, 10> CharacterInstance::attachments() const
{
    return {m_helm,   m_shoulderL,  m_shoulderR,  m_rightWeapon, m_leftWeapon,
            m_shield, m_backWeapon, m_backShield, m_waistL,      m_waistR};
}

bool CharacterInstance::isOwnMaterial(const Ogre::MaterialPtr& material) const
{
    return material &&
           std::find(m_materialCopies.begin(), m_materialCopies.end(), material->getName()) != m_materialCopies.end();
}

void CharacterInstance::setInstanceTransoarency(float alpha, bool fromOutside)
{
    m_transparencySet = fromOutside;
    m_transparency = alpha;
    if (!m_entity)
        return;
    const bool opaque = avatar_detail::isOpaque(alpha);
    // Characters switch lighting on in both looks and keep their culling.
    const avatar_detail::OpacityStyle style{true, false};
    avatar_detail::guarded("setting a character's opacity",
                           [&]
                           {
                               // Only our own copies change: a material shared with other entities stays as it is.
                               for (unsigned i = 0; i < m_entity->getNumSubEntities(); ++i)
                               {
                                   const Ogre::MaterialPtr& material = m_entity->getSubEntity(i)->getMaterial();
                                   if (isOwnMaterial(material))
                                       avatar_detail::applyOpacity(material, alpha, style);
                               }
                               m_entity->setRenderQueueGroup(opaque ? s_opaqueQueue : s_translucentQueue);
                           });
    for (AttachModel* model : attachments())
        if (model)
            model->setInstanceTransoarency(alpha);
}

void CharacterInstance::setTextureFilter(int level)
{
    if (!m_entity)
        return;
    const avatar_detail::TextureFilter filter = avatar_detail::textureFilterForLevel(level);
    avatar_detail::guarded("setting a character's texture filter",
                           [&]
                           {
                               for (unsigned i = 0; i < m_entity->getNumSubEntities(); ++i)
                               {
                                   const Ogre::MaterialPtr& material = m_entity->getSubEntity(i)->getMaterial();
                                   if (isOwnMaterial(material))
                                       avatar_detail::applyTextureFilter(material, filter);
                               }
                           });
    for (AttachModel* model : attachments())
        if (model)
            model->setTextureFilter(level);
}

void CharacterInstance::setVisible(bool visible)
{
    if (m_entity)
        m_entity->setVisible(visible);
}

void CharacterInstance::setHighLight(bool /*on*/)
{
    // Characters are not highlighted.
}

void CharacterInstance::setInstanceBeCopy(IRttObjectCallback* rtt, I3DRttObjectCallback* rtt3D)
{
    m_isCopy = true;
    m_rttCallback = rtt;
    m_rtt3DCallback = rtt3D;
}

void CharacterInstance::getSpeedRate(float& runRate, float& walkRate)
{
    runRate = m_speedA / m_baseSpeedA;
    walkRate = m_speedB / m_baseSpeedB;
}

const char* CharacterInstance::getAnimName(AnimationType type)
{
    return m_animCtrl ? m_animCtrl->getAnimName(type) : "";
}
