#pragma once

#include "avatarsystem/instancebase.h"

#include <OgreMaterial.h>

#include <array>
#include <map>
#include <string>
#include <utility>
#include <vector>

/// A player avatar: one entity of the shared body mesh of its gender whose sub-entities are
/// shown, hidden and re-textured from its setting, plus the models hung on its bones.
class AVATARSYSTEM_API CharacterInstance : public InstanceBase
{
public:
    /// What getInstanceType answers for every player avatar.
    static const INSTANCE_TYPE_e s_instanceType = INSTANCE_CHARACTER;

    /// @name Body sub-entities
    //@{
    /// Names of the sub-entities both body meshes must have: the body, lower arms, lower legs,
    /// upper legs, face and hair sections that the setting and the worn items re-texture.
    static const std::string body_new, lowArm_new, lowLeg_new, upLeg_new, face_new, hair;
    //@}
    /// @name Attachment bones
    //@{
    /// Names of the body skeleton's bones the carried models hang on: helm, shoulders, hands,
    /// shield arm, the back places by kind of item, and both waists.
    static const std::string helm, shoulder_l, shoulder_r, weapon_l, weapon_r, shield, backGongBinder, backShieldBinder,
        backLongBinder, backFazhangBinder, backShuangshouchuiBinder, waist_l, waist_r;
    //@}

    /// @name Body pools
    //@{
    /// Ready-made body entities by gender (male, female), shared by all characters: a new player
    /// takes one instead of loading a body, and destroy gives it back. The library owns them.
    static std::vector<Ogre::Entity*> s_maleEntityPool;
    static std::vector<Ogre::Entity*> s_femaleEntityPool;
    //@}
    /// The most bodies a pool keeps; bodies given back beyond it are destroyed.
    static const std::size_t kMaxPooledEntities = 100;
    /// Destroys every pooled entity through its scene manager and empties both pools
    /// (for the host at shutdown, before its scene manager goes).
    static void clearEntityPools();
    /// Appends a body the library made to the pool of its gender, reset to how OGRE makes it.
    /// A pooled body the host destroys (clearing its scene) leaves the pool.
    static void addToPool(Ogre::Entity* entity, bool female);
    /// As addToPool, but a pool that holds kMaxPooledEntities already destroys the body instead.
    static void returnToPool(Ogre::Entity* entity, bool female);

    CharacterInstance();
    ~CharacterInstance() override;
    CharacterInstance(const CharacterInstance&) = delete;
    CharacterInstance& operator=(const CharacterInstance&) = delete;

    // IInstance
    bool create() override;
    bool destroy() override;
    void setHighLight(bool on) override;
    void setTextureFilter(int level) override;
    void setInstanceTransoarency(float alpha, bool fromOutside) override;
    INSTANCE_TYPE_e getInstanceType() override { return s_instanceType; }
    AttachModel* getRightWeapon() override { return m_rightWeapon; }
    AttachModel* getLeftWeapon() override { return m_leftWeapon; }
    void getSpeedRate(float& runRate, float& walkRate) override;
    const char* getAnimName(AnimationType type) override;
    bool settingEquipEffect(const WeaponEffectVisible* visible) override;

    /// A queued build waits while the setting's renderObj is clear.
    bool isReadyToBuild() const override { return m_properties.renderObj; }

    /// Copies the whole setting and takes the name from it; the next create() builds it.
    void setProperties(const PlayerSetting_t& setting);
    /// The setting the next build dresses (the last one given, built or not).
    const PlayerSetting_t& getPlayerProperties() const { return m_properties; }
    /// The setting of the last build, against which a rebuild finds the places that changed.
    const PlayerSetting_t& getAppliedProperties() const { return m_appliedProperties; }
    /// The setting's renderObj: whether a queued build may run now.
    bool isRenderObj() const { return m_properties.renderObj; }
    /// True once a build has succeeded; later builds are rebuilds.
    bool isCreated() const { return m_isCreated; }

    /// Item texture name for this avatar's gender: base + "_M.dds" or "_F.dds"; empty for an empty base.
    std::string makeItemTexture(int kind, const char* base) const;
    /// The TexPath of a worn item, or empty.
    std::string getOutModelTextureName(unsigned itemID) const;
    /// Gives sub-entity subEntityName a fresh copy of templateName under its own material name,
    /// optionally with texture on the first texture unit. A copy the sub-entity shares with
    /// another one is left to the other: the sub-entity gets a copy of its own. False, changing
    /// nothing, when the sub-entity or the template does not exist.
    bool retemplateSubEntity(const std::string& subEntityName, const std::string& templateName,
                             const std::string& texture = std::string());

    /// Builds the attachment(s) of one place from an item and hangs them on their bones, with the
    /// effect the setting's WeaponEffectVisible chooses. False, building nothing, when there is no
    /// scene manager or item table, the ID is 0 or unknown, or the item does not fit the gender;
    /// true otherwise (also for places that carry no model). A model the place's member still
    /// holds is released first.
    bool loadAttatchedModel(int slot, unsigned int itemID);
    /// Destroys and deletes the attachment(s) of one place.
    void removeAttachedModel(int slot);
    /// Sets all seven weapon-effect values; the attachments follow at the next rebuild.
    void setWeaponEffectAllShow(int value);

    /// One model this avatar carries: the place and item it was loaded for.
    struct CarriedModel
    {
        int slot;           ///< the place (a CharSlots value) it was loaded for
        unsigned itemID;    ///< the item it was loaded from
        AttachModel* model; ///< the model, owned by the avatar
    };
    /// The attached models in member order (helm, shoulders, right and left weapon, shield, back
    /// weapon, back shield, left and right waist).
    std::vector<CarriedModel> getCarriedModels() const;

    /// The number of sub-entities of the body, as the last build found it (0 before it).
    unsigned getSubEntityCount() const { return m_subEntityCount; }
    /// Whether the lower arms show the hand texture (bare, or the gloves') rather than the
    /// shirt's sleeve texture.
    bool isLowArmByHand() const { return m_lowArmByHand; }
    /// Whether the lower legs show the foot texture (bare, or the boots') rather than the
    /// trousers' leg texture.
    bool isLowLegByFoot() const { return m_lowLegByFoot; }
    /// Names of the material copies made for this avatar.
    const std::vector<std::string>& getMaterialCopies() const { return m_materialCopies; }
    /// The texture of the first texture unit of a sub-entity's material, or empty.
    std::string getSubEntityTexture(const std::string& subEntityName) const;

protected:
    /// @cond INTERNAL
    void getResourceInfo();
    void showObject();
    /// Dresses all fifteen places; only the places whose item (or effect choice) changed since
    /// the last build are rebuilt.
    void equip();
    /// Dresses one worn-item place with an item; 0, an unknown item or one for the other gender
    /// leave it bare. Nothing for the attached-model places.
    void addEquipment(unsigned itemID, CharSlots place);
    /// What the worn-item places ask of the sub-entities, by sub-entity name: a template and the
    /// texture that comes with it. A sub-entity no place asks for wears its mesh material's copy.
    struct Dress
    {
        std::string templateName;
        std::string texture;
    };
    using DressPlan = std::map<std::string, Dress>;
    void setTexture();
    /// @endcond

private:
    /// The build steps of create(); may throw, create() does not.
    bool build();
    /// The ten attachment members, and the models they hold, in member order.
    static AttachModel* CharacterInstance::*const s_attachmentMembers[10];
    std::array<AttachModel*, 10> attachments() const;
    /// Whether a place differs from the last build: its item, or the effect value choosing its
    /// effect; everything counts as changed on the first build.
    bool placeChanged(int slot) const;
    /// Shows an item's geoset (hiding the section it covers) and notes what the place asks of the
    /// sub-entities, as a build from scratch dresses it.
    void planPlace(unsigned itemID, CharSlots place, DressPlan& plan);
    /// A worn-item place left bare: its sections go back to the default template where needed.
    void planBare(CharSlots place, DressPlan& plan);
    /// Brings the sub-entities the plan names (with everything: every named sub-entity) to what
    /// the plan asks, touching only those that differ from what they wear now: a rebuild then
    /// looks exactly as a build from scratch of the same setting.
    void dress(const DressPlan& plan, bool everything);
    /// Gives a sub-entity back a copy of its mesh's material (of "c_body" when the material
    /// manager no longer holds it).
    void restoreMeshCopy(unsigned index);
    /// The sub-entity's material, made its own first when another sub-entity shares it.
    Ogre::MaterialPtr exclusiveCopy(Ogre::SubEntity* sub);
    /// The source of a sub-entity's first copy: its mesh material while the material manager
    /// holds it, else "c_body"; null when neither exists.
    Ogre::MaterialPtr meshSource(Ogre::SubEntity* sub, unsigned index);
    /// A body the host destroyed: its copies go, and the next build dresses a new one from scratch.
    void forgetLostBody();
    /// Destroys and deletes the model a member holds; the member becomes null.
    void releaseAttachment(AttachModel*& member);
    /// The bone a back weapon hangs on, by the item's Type and sub-kind (its HideHair column).
    static const std::string& backBone(unsigned type, unsigned kind);
    bool acquireEntity();
    void copyMaterials();
    void setSubEntityTexture(const std::string& subEntityName, const std::string& texture);
    void showSubEntity(const std::string& name, bool visible);

    bool m_isCreated = false;
    bool m_needMaterialClone = true;
    /// The body is new since the last build (the host destroyed the last one): every place is
    /// built again.
    bool m_freshBody = false;
    bool m_lowArmByHand = true;
    bool m_lowLegByFoot = true;
    unsigned m_subEntityCount = 0;
    AttachModel* m_helm = nullptr;
    AttachModel* m_shoulderL = nullptr;
    AttachModel* m_shoulderR = nullptr;
    AttachModel* m_rightWeapon = nullptr;
    AttachModel* m_leftWeapon = nullptr;
    AttachModel* m_shield = nullptr;
    AttachModel* m_backWeapon = nullptr;
    AttachModel* m_backShield = nullptr;
    AttachModel* m_waistL = nullptr;
    AttachModel* m_waistR = nullptr;
    /// The place and item each attachment member was loaded for, by member index.
    std::array<std::pair<int, unsigned>, 10> m_carried{};
    std::string m_hairTexture;
    std::string m_lowArmTexture, m_bodyTexture, m_faceTexture, m_upLegTexture, m_lowLegTexture, m_defaultHairTexture;
    std::string m_gloveOutTexture, m_bootOutTexture, m_pantsOutTexture, m_shirtOutTexture, m_beltOutTexture;
    PlayerSetting_t m_properties;
    PlayerSetting_t m_appliedProperties;
    /// The names the material copies were made under (kept for destroy).
    std::vector<std::string> m_materialCopies;
    /// The same copies, each once, for the per-frame opacity and filtering and for destroy.
    std::vector<Ogre::MaterialPtr> m_copies;
    /// The mesh's own material of each sub-entity, which a pooled body wears again.
    std::vector<Ogre::MaterialPtr> m_meshMaterials;
    /// What each sub-entity's copy was last dressed with, by index: empty for its mesh material,
    /// else the template and texture (as dress() compares them).
    std::vector<std::string> m_dressedWith;
};
