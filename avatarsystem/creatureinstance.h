#pragma once

#include "avatarsystem/instancebase.h"

#include <string>
#include <vector>

class Effect;

/// A creature, NPC or object avatar: one entity from the mesh its table row names, its own
/// material copies, up to five effects on the bones "effect_1" to "effect_5".
class AVATARSYSTEM_API CreatureInstance : public InstanceBase
{
public:
    /// What getInstanceType answers for every creature, NPC and object avatar.
    static const INSTANCE_TYPE_e s_instanceType = INSTANCE_CREATURE;

    CreatureInstance();
    ~CreatureInstance() override;
    CreatureInstance(const CreatureInstance&) = delete;
    CreatureInstance& operator=(const CreatureInstance&) = delete;

    // IInstance
    bool create() override;
    bool destroy() override;
    void setHighLight(bool on) override;
    void setTextureFilter(int level) override;
    void setInstanceTransoarency(float alpha, bool fromOutside) override;
    INSTANCE_TYPE_e getInstanceType() override { return s_instanceType; }
    AttachModel* getRightWeapon() override { return nullptr; }
    AttachModel* getLeftWeapon() override { return nullptr; }
    void getSpeedRate(float& runRate, float& walkRate) override;
    const char* getAnimName(AnimationType type) override;
    bool settingEquipEffect(const WeaponEffectVisible*) override { return true; }

    /// Copies the whole setting; the name is taken from it.
    void setProperties(const CreatureSetting_t& setting);
    /// The setting the avatar was given (its ID chooses the table row it is built from).
    CreatureSetting_t& getProperties() { return m_properties; }
    /// The scale getScale answers; the build takes it from the row's Scale column.
    void setScale(float scale) { m_scale = scale; }
    /// Makes effects 1-5 from their names (empty names skipped) and hangs them on "effect_1"-"effect_5".
    void refreshAttachEffects(std::string e1, std::string e2, std::string e3, std::string e4, std::string e5);
    /// Shows or hides every effect the creature carries (a translucent creature hides them).
    void showEffect(bool show);

    /// The creation record still held: null once create() has notified the view and deleted it.
    ENTITY_CALLBACK* getEntityViewPtr() const { return m_entityCallback; }
    /// Names of the material copies made for this creature (a shared "col" material is not copied).
    const std::vector<std::string>& getClonedMaterials() const { return m_clonedMaterials; }
    /// The live effect of slot index (0-4), or null (none made, or freed by the effect library).
    Effect* getEffect(int index) const;
    /// Whether the row lets the creature turn translucent (its BeTransObject column); when not,
    /// setInstanceTransoarency leaves its look alone.
    bool isBeTransObject() const { return m_beTransObject; }

private:
    /// Removes the material copies made for this creature's entity (destroyed, or lost to the host).
    void removeCopies();
    bool m_beTransObject = false;
    /// The effects by the names the effect library knows them by (empty: none).
    std::string m_effects[5];
    CreatureSetting_t m_properties;
    std::vector<std::string> m_clonedMaterials;
};
