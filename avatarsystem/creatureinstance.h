#pragma once

#include "avatarsystem/instancebase.h"

#include <string>
#include <vector>

class Effect;

/// A creature, NPC or object avatar: one entity from the mesh its table row names, its own
/// material copies, up to five effects on the bones "effect_1" to "effect_5".
class CreatureInstance : public InstanceBase
{
public:
    static const INSTANCE_TYPE_e s_instanceType = INSTANCE_CREATURE;

    CreatureInstance();
    ~CreatureInstance() override;
    CreatureInstance(const CreatureInstance&) = delete;
    CreatureInstance& operator=(const CreatureInstance&) = delete;

    // IInstance
    bool create() override;
    bool destroy() override;
    void setVisible(bool visible) override;
    void setHighLight(bool on) override;
    void setTextureFilter(int level) override;
    void setUniqueID(unsigned long uniqueID) override;
    void setInstanceTransoarency(float alpha, bool fromOutside) override;
    void setEntityViewPtr(ENTITY_CALLBACK* callback) override;
    void setInstanceBeCopy(IRttObjectCallback* rtt, I3DRttObjectCallback* rtt3D) override;
    const std::string& getName() override { return m_name; }
    float getScale() override { return m_scale; }
    unsigned long getUniqueID() override { return m_uniqueID; }
    Ogre::Entity* getEntityPtr() override { return m_entity; }
    INSTANCE_TYPE_e getInstanceType() override { return s_instanceType; }
    AttachModel* getRightWeapon() override { return nullptr; }
    AttachModel* getLeftWeapon() override { return nullptr; }
    void getSpeedRate(float& runRate, float& walkRate) override;
    const char* getAnimName(AnimationType type) override;
    bool settingEquipEffect(const WeaponEffectVisible*) override { return true; }

    /// Copies the whole setting; the name is taken from it.
    void setProperties(const CreatureSetting_t& setting);
    CreatureSetting_t& getProperties() { return m_properties; }
    void setScale(float scale) { m_scale = scale; }
    /// Makes effects 1-5 from their names (empty names skipped) and hangs them on "effect_1"-"effect_5".
    void refreshAttachEffects(std::string e1, std::string e2, std::string e3, std::string e4, std::string e5);
    void showEffect(bool show);

    /// The creation record still held: null once create() has notified the view and deleted it.
    ENTITY_CALLBACK* getEntityViewPtr() const { return m_entityCallback; }
    const std::vector<std::string>& getClonedMaterials() const { return m_clonedMaterials; }
    Effect* getEffect(int index) const { return index >= 0 && index < 5 ? m_effects[index] : nullptr; }
    bool isBeTransObject() const { return m_beTransObject; }

private:
    /// Writes the opaque or see-through settings into technique 0 of every sub-entity material.
    void applyMaterialOpacity(float alpha);
    /// Takes an effect off this avatar's bone and frees it; the slot becomes null.
    void releaseEffect(Effect*& effect);

    bool m_isCopy = false;
    bool m_beTransObject = false;
    float m_scale = 1.0f;
    float m_baseSpeedA = 1.0f;
    float m_baseSpeedB = 1.0f;
    unsigned m_uniqueID = 0;
    std::string m_name;
    Ogre::Entity* m_entity = nullptr;
    Effect* m_effects[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
    ENTITY_CALLBACK* m_entityCallback = nullptr;
    CreatureSetting_t m_properties;
    IRttObjectCallback* m_rttCallback = nullptr;
    I3DRttObjectCallback* m_rtt3DCallback = nullptr;
    std::vector<std::string> m_clonedMaterials;
};
