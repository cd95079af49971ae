#include "avatarsystem/characterinstance.h"

#include "avatarsystem/attachmodel.h"
#include "avatarsystem/detail/bodysplit.h"
#include "avatarsystem/detail/contentrules.h"
#include "avatarsystem/detail/entityfactory.h"
#include "avatarsystem/detail/materialstate.h"
#include "avatarsystem/detail/ogreguard.h"
#include "avatarsystem/detail/scenewatch.h"
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

const char* const s_fallbackMaterial = "c_body";
// The template a section goes back to when no item dresses it.
const std::string s_defaultTemplate = "body_new_M";
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
    return avatar_rules::itemFitsGender(row.getUInt(column), gender);
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

/// The index of one of an entity's sub-entities.
std::size_t subEntityIndex(Ogre::Entity* entity, Ogre::SubEntity* sub)
{
    for (unsigned i = 0; i < entity->getNumSubEntities(); ++i)
        if (entity->getSubEntity(i) == sub)
            return i;
    return entity->getNumSubEntities();
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

/// The item ID a setting holds for an equipment place; 0 for any other value.
unsigned itemInPlace(const PlayerSetting_t& s, int slot)
{
    switch (slot)
    {
    case SLOT_HEAD:
        return s.head;
    case SLOT_SHOULDER:
        return s.shoulder;
    case SLOT_BOOT:
        return s.boot;
    case SLOT_BELT:
        return s.belt;
    case SLOT_SHIRT:
        return s.shirt;
    case SLOT_PANTS:
        return s.pants;
    case SLOT_DOUBLEHAND:
        return s.doublehand;
    case SLOT_SHIELD:
        return s.shield;
    case SLOT_GLOVE:
        return s.glove;
    case SLOT_RIGHT_HAND:
        return s.rightHand;
    case SLOT_LEFT_HAND:
        return s.leftHand;
    case SLOT_BACK_LONG_WEAPON:
        return s.backLongWeapon;
    case SLOT_BACK_SHIELD:
        return s.backShield;
    case SLOT_RIGHT_WAIST:
        return s.rightWaist;
    case SLOT_LEFT_WAIST:
        return s.leftWaist;
    default:
        return 0;
    }
}

/// The WeaponEffectVisible value that chooses a place's effect; null for places without effect.
const unsigned WeaponEffectVisible::*effectChoice(int slot)
{
    switch (slot)
    {
    case SLOT_SHOULDER:
        return &WeaponEffectVisible::shoulderEffect;
    case SLOT_DOUBLEHAND:
    case SLOT_RIGHT_HAND:
        return &WeaponEffectVisible::rightHandEffect;
    case SLOT_LEFT_HAND:
        return &WeaponEffectVisible::leftHandEffect;
    case SLOT_BACK_LONG_WEAPON:
        return &WeaponEffectVisible::backWeaponEffect;
    case SLOT_RIGHT_WAIST:
        return &WeaponEffectVisible::rightWaistEffect;
    case SLOT_LEFT_WAIST:
        return &WeaponEffectVisible::leftWaistEffect;
    default:
        return nullptr;
    }
}

bool isFemaleBody(Ogre::Entity* entity, unsigned gender)
{
    // The mesh decides: the entity goes back to the pool it can serve, whatever gender a rebuild set.
    if (entity->getMesh())
    {
        const std::string& mesh = entity->getMesh()->getName();
        if (mesh == avatar_rules::kFemaleBody)
            return true;
        if (mesh == avatar_rules::kMaleBody)
            return false;
    }
    return avatar_rules::hasFemaleBody(gender);
}

} // namespace

// A character's manual animation starts unpaused; its movement speeds start at 6 and 2.
CharacterInstance::CharacterInstance() : InstanceBase(false, 6.0f, 2.0f) {}

CharacterInstance::~CharacterInstance()
{
    // Models loaded after destroy (a host tool may load a place on a body-less avatar) go too.
    for (AttachModel* CharacterInstance::*member : s_attachmentMembers)
        releaseAttachment(this->*member);
}

void CharacterInstance::setProperties(const PlayerSetting_t& setting)
{
    m_properties = setting;
    m_name.assign(setting.Name, strnlen(setting.Name, sizeof(setting.Name)));
}

bool CharacterInstance::create()
{
    if (isDestroyed())
        return false;
    const avatar_detail::FailureSubject subject(this);
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
    // A settled opacity holds for what a rebuild made too: re-templated sections and newly hung
    // models would otherwise show their templates' own blending.
    if (!m_transparencySet)
        setInstanceTransoarency(0.0f, false);
    else
        setInstanceTransoarency(m_transparency, true);

    // Settled before the host hears of it: it may destroy or delete the avatar from there.
    const bool first = !m_isCreated;
    const bool freshBody = m_freshBody;
    m_freshBody = false;
    m_appliedProperties = m_properties;
    m_isCreated = true;
    if (first)
    {
        if (m_animCtrl)
        {
            m_animCtrl->setEntity(m_entity);
            m_animCtrl->setPause(false);
        }
        notifyHostOfFirstBuild(0.0f);
    }
    else if (freshBody && m_animCtrl)
    {
        // A body the host destroyed was replaced: the controller plays on the new one.
        m_animCtrl->setEntity(m_entity);
    }
    return true;
}

bool CharacterInstance::destroy()
{
    releaseController();
    markDestroyed();
    Ogre::SceneManager* scene = sceneManager();
    Ogre::Entity* entity = m_entity;
    if (entity)
        avatar_detail::SceneWatch::instance().unwatch(entity);
    // The attachments take their own entities off our bones (or only forget them when the host
    // destroyed them); whatever else hangs there goes next.
    for (AttachModel* CharacterInstance::*member : s_attachmentMembers)
        releaseAttachment(this->*member);
    Ogre::MaterialManager& materials = Ogre::MaterialManager::getSingleton();
    if (scene && entity)
    {
        avatar_detail::guarded("detaching a character",
                               [entity]
                               {
                                   entity->detachAllObjectsFromBone();
                                   if (entity->isAttached())
                                       entity->detachFromParent();
                               });
        // Pooled bodies keep no reference to our copies: back to the mesh's own materials where they exist.
        avatar_detail::guarded(
            "releasing a character's materials",
            [&]
            {
                for (unsigned i = 0; i < entity->getNumSubEntities(); ++i)
                {
                    Ogre::SubEntity* sub = entity->getSubEntity(i);
                    Ogre::MaterialPtr own = i < m_meshMaterials.size() ? m_meshMaterials[i] : Ogre::MaterialPtr();
                    if (!own || !avatar_detail::isHeld(own))
                        own = materials.getByName(sub->getSubMesh()->getMaterialName(), Ogre::RGN_AUTODETECT);
                    if (own)
                        sub->setMaterial(own);
                }
            });
        returnToPool(entity, isFemaleBody(entity, m_properties.gender));
    }
    m_entity = nullptr;
    // The copies live in the material manager, not in the scene: they go even when the host's
    // scene took the body with it.
    avatar_detail::removeMaterials(m_copies, "removing a material copy");
    m_materialCopies.clear();
    m_meshMaterials.clear();
    m_dressedWith.clear();
    delete m_entityCallback;
    m_entityCallback = nullptr;
    return true;
}

void CharacterInstance::returnToPool(Ogre::Entity* entity, bool female)
{
    const std::vector<Ogre::Entity*>& pool = female ? s_femaleEntityPool : s_maleEntityPool;
    if (pool.size() >= kMaxPooledEntities)
        avatar_detail::destroyOwnEntity(entity->_getManager(), entity, "destroying a character entity");
    else
        addToPool(entity, female);
}

void CharacterInstance::addToPool(Ogre::Entity* entity, bool female)
{
    std::vector<Ogre::Entity*>& pool = female ? s_femaleEntityPool : s_maleEntityPool;
    // The next avatar takes the body as OGRE made it: no state, weight, mask or blend mode of ours.
    avatar_detail::guarded("resetting a body's animation", [entity] { avatar_detail::resetAnimation(entity); });
    pool.push_back(entity);
    // A host that clears its scene takes the pooled bodies with it: the pool lets them go.
    avatar_detail::SceneWatch::instance().watch(entity,
                                                [entity, &pool]
                                                {
                                                    const auto it = std::find(pool.begin(), pool.end(), entity);
                                                    if (it != pool.end())
                                                        pool.erase(it);
                                                });
}

void CharacterInstance::clearEntityPools()
{
    for (std::vector<Ogre::Entity*>* pool : {&s_maleEntityPool, &s_femaleEntityPool})
    {
        const std::vector<Ogre::Entity*> entities = std::move(*pool);
        pool->clear();
        for (Ogre::Entity* entity : entities)
            avatar_detail::destroyOwnEntity(entity->_getManager(), entity, "destroying a pooled entity");
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
    if (m_isCreated && m_entity)
        return;
    // Built before, but the host destroyed the body (with its scene, or by itself): the avatar is
    // built again on a new one, as a creature is, rather than never again.
    if (m_isCreated)
        forgetLostBody();
    acquireEntity();
}

void CharacterInstance::forgetLostBody()
{
    for (AttachModel* CharacterInstance::*member : s_attachmentMembers)
        releaseAttachment(this->*member);
    avatar_detail::removeMaterials(m_copies, "removing a material copy");
    m_materialCopies.clear();
    m_meshMaterials.clear();
    m_dressedWith.clear();
    m_needMaterialClone = true;
    m_freshBody = true;
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

    const bool male = !avatar_rules::hasFemaleBody(m_properties.gender);
    const char* mesh = avatar_rules::bodyMesh(m_properties.gender);
    std::vector<Ogre::Entity*>& pool = male ? s_maleEntityPool : s_femaleEntityPool;
    m_baseSpeedA = male ? 6.0f : 6.2f;
    m_baseSpeedB = male ? 2.5f : 2.3f;

    Ogre::Entity* entity = nullptr;
    if (pool.empty())
    {
        // The formed name is kept whenever it is free; two names can form the same text
        // ("Ann1" with ID 7 and "Ann" with ID 17), and then a numbered variant is used.
        const std::string name = avatar_detail::freeEntityName(*scene, m_name + std::to_string(m_uniqueID) + "_Player");
        entity = avatar_detail::createEntityOrNull(scene, name, mesh, "creating a character entity");
        if (!entity)
            return false;
    }
    else
    {
        entity = pool.back();
        pool.pop_back();
        avatar_detail::SceneWatch::instance().unwatch(entity);
        entity->setVisible(true);
        // Whatever the body's last avatar played or weighted is gone: every state disabled at
        // time 0 (what the controller's resetAllStates(false) would do again), weights, masks and
        // blend mode as OGRE makes them.
        avatar_detail::resetAnimation(entity);
        if (m_animCtrl)
            m_animCtrl->setEntity(entity);
    }
    m_entity = entity;
    watchEntity();
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
    const std::string suffix = m_name + "true" + std::to_string(m_uniqueID);
    m_meshMaterials.assign(m_entity->getNumSubEntities(), Ogre::MaterialPtr());
    m_dressedWith.assign(m_entity->getNumSubEntities(), std::string());
    // Sub-entities that share a mesh material share its copy, as they shared the original; one
    // that is dressed differently gets a copy of its own then.
    std::map<std::string, Ogre::MaterialPtr> made;
    for (unsigned i = 0; i < m_entity->getNumSubEntities(); ++i)
    {
        Ogre::SubEntity* sub = m_entity->getSubEntity(i);
        const std::string& source = sub->getSubMesh()->getMaterialName();
        avatar_detail::guarded("copying a character material",
                               [&]
                               {
                                   Ogre::MaterialPtr original = meshSource(sub, i);
                                   Ogre::MaterialPtr& copy = made[source];
                                   if (!copy)
                                   {
                                       // Neither the mesh's material nor the fallback exists: the sub-entity keeps what
                                       // it has.
                                       if (!original)
                                           return;
                                       const std::string name = freeMaterialName(source + suffix);
                                       copy = original->clone(name);
                                       m_materialCopies.push_back(name);
                                       m_copies.push_back(copy);
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
                               Ogre::TextureUnitState* unit = firstTextureUnit(sub->getMaterial());
                               if (!unit || unit->getTextureName() == texture)
                                   return;
                               // A copy shared with another section is not this section's to re-texture.
                               unit = firstTextureUnit(exclusiveCopy(sub));
                               if (unit)
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

bool CharacterInstance::retemplateSubEntity(const std::string& subEntityName, const std::string& templateName,
                                            const std::string& texture)
{
    Ogre::SubEntity* sub = findSubEntity(m_entity, subEntityName);
    if (!sub)
        return false;
    bool done = false;
    avatar_detail::guarded("re-templating a section",
                           [&]
                           {
                               const Ogre::MaterialPtr templ =
                                   avatar_detail::findMaterial(templateName, "re-templating a section");
                               if (!templ || !sub->getMaterial())
                                   return;
                               // Loaded once, the template hands its copies its compiled techniques:
                               // otherwise every copy is compiled again when the section takes it.
                               if (!templ->isLoaded())
                                   templ->load();
                               // The copy takes the template's details under its own name and handle:
                               // removing it and cloning anew would cost the engine a scan of every
                               // material of its group, which grows with the crowd.
                               Ogre::MaterialPtr copy = exclusiveCopy(sub);
                               templ->copyDetailsTo(copy);
                               if (!texture.empty())
                                   if (Ogre::TextureUnitState* unit = firstTextureUnit(copy))
                                       unit->setTextureName(texture, Ogre::TEX_TYPE_2D);
                               sub->setMaterial(copy);
                               done = true;
                           });
    if (done)
    {
        const std::size_t index = subEntityIndex(m_entity, sub);
        if (index >= m_dressedWith.size())
            m_dressedWith.resize(index + 1);
        m_dressedWith[index] = templateName + '\n' + texture;
    }
    return done;
}

Ogre::MaterialPtr CharacterInstance::exclusiveCopy(Ogre::SubEntity* sub)
{
    const Ogre::MaterialPtr current = sub->getMaterial();
    const bool own = std::find(m_copies.begin(), m_copies.end(), current) != m_copies.end();
    bool shared = false;
    for (unsigned i = 0; own && !shared && i < m_entity->getNumSubEntities(); ++i)
        shared = m_entity->getSubEntity(i) != sub && m_entity->getSubEntity(i)->getMaterial() == current;
    if (own && !shared)
        return current;
    // A shared material is never changed: the sub-entity gets a copy of its own, named as the
    // first copy of its mesh material with the next free number.
    const std::string name =
        freeMaterialName(sub->getSubMesh()->getMaterialName() + m_name + "true" + std::to_string(m_uniqueID));
    Ogre::MaterialPtr copy = current->clone(name);
    m_materialCopies.push_back(name);
    m_copies.push_back(copy);
    sub->setMaterial(copy);
    return copy;
}

Ogre::MaterialPtr CharacterInstance::meshSource(Ogre::SubEntity* sub, unsigned index)
{
    const std::string& source = sub->getSubMesh()->getMaterialName();
    // A new or pooled body wears its mesh's materials: no look-up by name for them, as long as
    // the material manager still holds that very material (a host may have removed it).
    const Ogre::MaterialPtr& current = sub->getMaterial();
    Ogre::MaterialPtr original =
        current && current->getName() == source && avatar_detail::isHeld(current)
            ? current
            : avatar_detail::findMaterial(source, "copying a character material", s_fallbackMaterial);
    if (original && original->getName() == source && index < m_meshMaterials.size())
        m_meshMaterials[index] = original;
    if (!original)
        original = Ogre::MaterialManager::getSingleton().getByName(s_fallbackMaterial, Ogre::RGN_AUTODETECT);
    return original;
}

void CharacterInstance::restoreMeshCopy(unsigned index)
{
    if (!m_entity || index >= m_entity->getNumSubEntities())
        return;
    Ogre::SubEntity* sub = m_entity->getSubEntity(index);
    avatar_detail::guarded("dressing a section",
                           [&]
                           {
                               const Ogre::MaterialPtr source = meshSource(sub, index);
                               if (!source || !sub->getMaterial())
                                   return;
                               Ogre::MaterialPtr copy = exclusiveCopy(sub);
                               source->copyDetailsTo(copy);
                               sub->setMaterial(copy);
                           });
    if (index < m_dressedWith.size())
        m_dressedWith[index].clear();
}

AttachModel* CharacterInstance::*const CharacterInstance::s_attachmentMembers[10] = {
    &CharacterInstance::m_helm,        &CharacterInstance::m_shoulderL,  &CharacterInstance::m_shoulderR,
    &CharacterInstance::m_rightWeapon, &CharacterInstance::m_leftWeapon, &CharacterInstance::m_shield,
    &CharacterInstance::m_backWeapon,  &CharacterInstance::m_backShield, &CharacterInstance::m_waistL,
    &CharacterInstance::m_waistR};

bool CharacterInstance::placeChanged(int slot) const
{
    if (!m_isCreated || m_freshBody)
        return true;
    if (itemInPlace(m_properties, slot) != itemInPlace(m_appliedProperties, slot))
        return true;
    // A new effect choice shows only when its place is built again.
    const unsigned WeaponEffectVisible::*choice = effectChoice(slot);
    return choice && m_properties.weaponEffect.*choice != m_appliedProperties.weaponEffect.*choice;
}

void CharacterInstance::equip()
{
    const PlayerSetting_t& s = m_properties;
    // Taking the two-handed weapon off empties both hands, so the one-handed places are built
    // again whatever their own items did.
    const bool twoHandedChanged = placeChanged(SLOT_DOUBLEHAND);
    std::vector<int> places = {SLOT_HEAD, SLOT_SHOULDER, SLOT_DOUBLEHAND};
    if (s.doublehand == 0)
    {
        places.push_back(SLOT_LEFT_HAND);
        places.push_back(SLOT_RIGHT_HAND);
    }
    for (int slot : {SLOT_SHIELD, SLOT_BACK_LONG_WEAPON, SLOT_BACK_SHIELD, SLOT_RIGHT_WAIST, SLOT_LEFT_WAIST})
        places.push_back(slot);
    for (int slot : places)
    {
        const bool hand = slot == SLOT_LEFT_HAND || slot == SLOT_RIGHT_HAND;
        if (!placeChanged(slot) && !(hand && twoHandedChanged))
            continue;
        removeAttachedModel(slot);
        loadAttatchedModel(slot, itemInPlace(s, slot));
    }

    // The worn items are planned as a build from scratch would dress them, and only what differs
    // from what the body wears now is re-templated.
    if (!table<EWWearingDB>(DB_WEARING))
        return;
    DressPlan plan;
    for (CharSlots place : {SLOT_BELT, SLOT_GLOVE, SLOT_SHIRT, SLOT_PANTS, SLOT_BOOT})
        planPlace(itemInPlace(s, place), place, plan);
    dress(plan, true);
}

void CharacterInstance::planBare(CharSlots place, DressPlan& plan)
{
    const Dress bare{s_defaultTemplate, std::string()};
    switch (place)
    {
    case SLOT_BOOT:
        if (m_lowLegByFoot && !m_lowLegTexture.empty())
            plan[lowLeg_new] = bare;
        break;
    case SLOT_SHIRT:
        if (!m_bodyTexture.empty())
            plan[body_new] = bare;
        break;
    case SLOT_PANTS:
        if (!m_upLegTexture.empty())
            plan[upLeg_new] = bare;
        break;
    case SLOT_GLOVE:
        if (m_lowArmByHand && !m_lowArmTexture.empty())
            plan[lowArm_new] = bare;
        break;
    default:
        break;
    }
}

void CharacterInstance::addEquipment(unsigned itemID, CharSlots place)
{
    if (!table<EWWearingDB>(DB_WEARING))
        return;
    DressPlan plan;
    planPlace(itemID, place, plan);
    dress(plan, false);
}

void CharacterInstance::planPlace(unsigned itemID, CharSlots place, DressPlan& plan)
{
    const auto* worn = table<EWWearingDB>(DB_WEARING);
    if (!worn)
        return;
    const Record& row = itemID == 0 ? s_emptyRecord : worn->getByID(itemID);
    // An item the table lacks, or one for the other gender, dresses the place as if it were bare,
    // as it already did for the textures.
    if (!row.isValid() || !fitsGender(row, EWWearingDB::Flag, m_properties.gender))
    {
        planBare(place, plan);
        return;
    }

    const std::string outModel = text(row, EWWearingDB::outModel);
    if (place == SLOT_BELT)
    {
        if (outModel.empty())
            return;
        showSubEntity(outModel, true);
        if (!m_beltOutTexture.empty())
            plan[outModel] = Dress{text(row, EWWearingDB::material), m_beltOutTexture};
        return;
    }

    struct Section
    {
        const std::string* name;
        const std::string* texture;
        unsigned templateColumn;
        bool dressed; // whether this place dresses the section
    };
    const bool covered = !outModel.empty() && row.getUInt(EWWearingDB::HideBody) == 1;
    // The place's sections in the order they are dressed; the first is the one the item may cover.
    const std::string* outTexture = nullptr;
    Section sections[2] = {};
    std::size_t count = 0;
    switch (place)
    {
    case SLOT_BOOT:
        outTexture = &m_bootOutTexture;
        sections[count++] = {&lowLeg_new, &m_lowLegTexture, EWWearingDB::MatFoot, m_lowLegByFoot};
        break;
    case SLOT_SHIRT:
        outTexture = &m_shirtOutTexture;
        sections[count++] = {&body_new, &m_bodyTexture, EWWearingDB::MatBody, !covered};
        sections[count++] = {&lowArm_new, &m_lowArmTexture, EWWearingDB::MatHand, !m_lowArmByHand};
        break;
    case SLOT_PANTS:
        outTexture = &m_pantsOutTexture;
        sections[count++] = {&upLeg_new, &m_upLegTexture, EWWearingDB::MatPants, !covered};
        sections[count++] = {&lowLeg_new, &m_lowLegTexture, EWWearingDB::MatFoot, !m_lowLegByFoot};
        break;
    case SLOT_GLOVE:
        outTexture = &m_gloveOutTexture;
        sections[count++] = {&lowArm_new, &m_lowArmTexture, EWWearingDB::MatHand, m_lowArmByHand};
        break;
    default:
        return;
    }

    if (!outModel.empty())
    {
        showSubEntity(outModel, true);
        // The item covers the place's first section, which is hidden.
        if (covered)
            showSubEntity(*sections[0].name, false);
        if (!outTexture->empty())
            plan[outModel] = Dress{text(row, EWWearingDB::material), *outTexture};
    }
    for (std::size_t i = 0; i < count; ++i)
    {
        const Section& section = sections[i];
        if (!section.dressed || section.texture->empty())
            continue;
        const std::string templ = text(row, section.templateColumn);
        plan[*section.name] = Dress{templ.empty() ? s_defaultTemplate : templ, std::string()};
    }
}

void CharacterInstance::dress(const DressPlan& plan, bool everything)
{
    if (!m_entity || !m_entity->getMesh())
        return;
    m_dressedWith.resize(m_entity->getNumSubEntities());
    for (const auto& entry : m_entity->getMesh()->getSubMeshNameMap())
    {
        const unsigned index = entry.second;
        if (index >= m_dressedWith.size())
            continue;
        const auto wanted = plan.find(entry.first);
        // A hidden sub-entity no place asks for is left as it is: it shows nothing, and is
        // dressed anew when a place shows it again.
        if (wanted == plan.end() && (!everything || !m_entity->getSubEntity(index)->isVisible()))
            continue;
        const std::string key =
            wanted == plan.end() ? std::string() : wanted->second.templateName + '\n' + wanted->second.texture;
        if (key == m_dressedWith[index])
            continue;
        // A template that does not exist leaves the sub-entity as a build from scratch leaves it:
        // in its mesh material's copy.
        if (wanted == plan.end() ||
            !retemplateSubEntity(entry.first, wanted->second.templateName, wanted->second.texture))
            restoreMeshCopy(index);
    }
}

bool CharacterInstance::loadAttatchedModel(int slot, unsigned int itemID)
{
    Ogre::SceneManager* scene = sceneManager();
    const auto* items = table<EWItemDB>(DB_ITEM);
    if (!scene || !items || itemID == 0)
        return false;
    // A copy: the table may be edited or closed while the avatar lives.
    const Record item = items->getByID(itemID);
    if (!item.isValid() || !fitsGender(item, EWItemDB::flag, m_properties.gender))
        return false;

    const std::string stem = m_name + std::to_string(item.getUInt(EWItemDB::ItemID)) + std::to_string(slot) +
                             std::to_string(reinterpret_cast<unsigned long>(this));
    const std::string model = text(item, EWItemDB::ModelFile);
    const std::string model2 = text(item, EWItemDB::ModelFile2);
    std::string path;
    if (!model.empty())
        path = slot == SLOT_HEAD ? avatar_rules::helmMesh(model, m_properties.gender) : model + ".mesh";
    const std::string path2 = model2.empty() ? std::string() : model2 + ".mesh";
    const unsigned type = item.getUInt(EWItemDB::Type);

    std::string effect;
    if (const unsigned WeaponEffectVisible::*choice = effectChoice(slot))
    {
        const unsigned value = m_properties.weaponEffect.*choice;
        if (value >= 1 && value <= 3)
            effect = text(item, EWItemDB::Effect1 + value - 1);
    }

    // Builds one model into member i; a model that cannot be made stays there, unattached,
    // until the place is removed.
    auto build = [&](std::size_t i, const std::string& meshFile, const std::string& bone, const char* nameSuffix,
                     const char* effectSuffix)
    {
        if (meshFile.empty())
            return;
        AttachModel*& member = this->*s_attachmentMembers[i];
        releaseAttachment(member);
        member = new AttachModel();
        m_carried[i] = {slot, itemID};
        // The formed name is kept whenever it is free: two items can form the same text
        // (item 12 in place 10 and item 121 in place 0), and then a numbered variant is used.
        if (!member->create(avatar_detail::freeEntityName(*scene, stem + nameSuffix), meshFile))
            return;
        member->attach(m_entity, bone);
        if (!effect.empty())
            member->createEffect(effect + effectSuffix, m_isCopy);
    };

    switch (slot)
    {
    case SLOT_HEAD:
        build(0, path, helm, "_1", "");
        break;
    case SLOT_SHOULDER:
        build(1, path, shoulder_l, "_1", "_l");
        build(2, path2, shoulder_r, "_2", "_r");
        break;
    case SLOT_DOUBLEHAND:
        build(4, path, weapon_l, "_1", "");
        build(3, path2, weapon_r, "_2", "");
        break;
    case SLOT_SHIELD:
        build(5, path, shield, "_1", "");
        break;
    case SLOT_RIGHT_HAND:
        build(3, path, weapon_r, "_1", "");
        break;
    case SLOT_LEFT_HAND:
        build(4, path, weapon_l, "_1", "");
        break;
    case SLOT_BACK_LONG_WEAPON:
        build(6, path, backBone(type, item.getUInt(EWItemDB::HideHair)), "_1", "");
        break;
    case SLOT_BACK_SHIELD:
        build(7, path, backShieldBinder, "_1", "");
        break;
    case SLOT_RIGHT_WAIST:
        build(9, path, waist_r, "_1", "");
        break;
    case SLOT_LEFT_WAIST:
        build(8, path, waist_l, "_1", "");
        break;
    default:
        break;
    }
    return true;
}

const std::string& CharacterInstance::backBone(unsigned type, unsigned kind)
{
    if (type == 10)
        return backGongBinder;
    if (type == 9 && kind == 1)
        return backFazhangBinder;
    if (type == 9 && kind == 2)
        return backShuangshouchuiBinder;
    // Long weapons, and back items of any other type: the bone of the place's own kind, rather
    // than an empty name the skeleton cannot resolve.
    return backLongBinder;
}

void CharacterInstance::releaseAttachment(AttachModel*& member)
{
    if (AttachModel* model = member)
    {
        avatar_detail::guarded("removing an attachment", [model] { model->destroy(); });
        delete model;
        member = nullptr;
    }
}

void CharacterInstance::removeAttachedModel(int slot)
{
    // Also without a body (not built yet, or destroyed): a model a tool loaded there goes now,
    // not only at destroy.
    switch (slot)
    {
    case SLOT_HEAD:
        releaseAttachment(m_helm);
        break;
    case SLOT_SHOULDER:
        releaseAttachment(m_shoulderL);
        releaseAttachment(m_shoulderR);
        break;
    case SLOT_DOUBLEHAND:
        releaseAttachment(m_rightWeapon);
        releaseAttachment(m_leftWeapon);
        break;
    case SLOT_SHIELD:
        releaseAttachment(m_shield);
        break;
    case SLOT_RIGHT_HAND:
        releaseAttachment(m_rightWeapon);
        break;
    case SLOT_LEFT_HAND:
        releaseAttachment(m_leftWeapon);
        break;
    case SLOT_BACK_LONG_WEAPON:
        releaseAttachment(m_backWeapon);
        break;
    case SLOT_BACK_SHIELD:
        releaseAttachment(m_backShield);
        break;
    case SLOT_RIGHT_WAIST:
        releaseAttachment(m_waistR);
        break;
    case SLOT_LEFT_WAIST:
        releaseAttachment(m_waistL);
        break;
    default:
        break;
    }
}

std::vector<CharacterInstance::CarriedModel> CharacterInstance::getCarriedModels() const
{
    std::vector<CarriedModel> carried;
    for (std::size_t i = 0; i < 10; ++i)
        if (AttachModel* model = this->*s_attachmentMembers[i])
            carried.push_back({m_carried[i].first, m_carried[i].second, model});
    return carried;
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
    std::array<AttachModel*, 10> models{};
    for (std::size_t i = 0; i < models.size(); ++i)
        models[i] = this->*s_attachmentMembers[i];
    return models;
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
                               avatar_detail::applyOpacity(m_copies, alpha, style);
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
                           [&] { avatar_detail::applyTextureFilter(m_copies, filter); });
    for (AttachModel* model : attachments())
        if (model)
            model->setTextureFilter(level);
}

void CharacterInstance::setHighLight(bool /*on*/)
{
    // Characters are not highlighted.
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
