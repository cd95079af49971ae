#pragma once

#include "avatarsystem/avatarsystemmanager.h"

#include <string>

/// A stand-in avatar that records what the manager asks of it.
class FakeInstance : public ManagedInstance
{
public:
    struct Log
    {
        int creates = 0;
        int destroys = 0;
        int disposed = 0;
        int lastFilter = -100;
        float lastAlpha = -1.0f;
        bool lastFromOutside = false;
    };

    explicit FakeInstance(Log& log, bool createSucceeds = true) : m_log(log), m_createSucceeds(createSucceeds) {}
    ~FakeInstance() override { ++m_log.disposed; }

    bool ready = true;
    bool isReadyToBuild() const override { return ready; }

    bool create() override
    {
        ++m_log.creates;
        return m_createSucceeds;
    }
    bool destroy() override
    {
        ++m_log.destroys;
        return true;
    }
    void update(bool, float) override {}
    void updateControlledEntity() override {}
    void setVisible(bool) override {}
    void setHighLight(bool) override {}
    void setTextureFilter(int level) override { m_log.lastFilter = level; }
    void setUniqueID(unsigned long id) override { m_id = id; }
    void setInstanceTransoarency(float alpha, bool fromOutside) override
    {
        m_log.lastAlpha = alpha;
        m_log.lastFromOutside = fromOutside;
    }
    void setEntityViewPtr(ENTITY_CALLBACK*) override {}
    void setInstanceBeCopy(IRttObjectCallback*, I3DRttObjectCallback*) override {}
    const std::string& getName() override { return m_name; }
    float getScale() override { return 1.0f; }
    unsigned long getUniqueID() override { return m_id; }
    Ogre::Entity* getEntityPtr() override { return nullptr; }
    INSTANCE_TYPE_e getInstanceType() override { return INSTANCE_CREATURE; }
    AttachModel* getRightWeapon() override { return nullptr; }
    AttachModel* getLeftWeapon() override { return nullptr; }
    void playStatic(AnimationType, float) override {}
    void playAnimation(AnimationType, ANI_BLEND_TYPE, float, IActionCallback*, bool) override {}
    void playAnimation(const char*, ANI_BLEND_TYPE, IActionCallback*) override {}
    void setSpeed(float, float) override {}
    void setPause(bool) override {}
    void setTickTimeLimit(float) override {}
    void setNewAimationState(int, bool) override {}
    void setAnimationPlaySpeed(float) override {}
    void setAnimationMerge(bool) override {}
    float getPlayPercent(const std::string&) override { return -1.0f; }
    void getSpeedRate(float& a, float& b) override { a = b = 1.0f; }
    const char* getAnimName(AnimationType) override { return ""; }
    void setActionCallBack(IActionCallback*) override {}
    void changePausePropety() override {}
    void animationAddTime(float) override {}
    bool hasAnimation(AnimationType) override { return false; }
    void clearAnimation(unsigned) override {}
    AnimationType searchAnimation(unsigned) override { return ANIM_NONE; }
    bool settingEquipEffect(const WeaponEffectVisible*) override { return true; }

private:
    Log& m_log;
    bool m_createSucceeds;
    unsigned long m_id = 0;
    std::string m_name;
};

/// Registers a fake under the next unique ID, queued or not, as the creating operations do.
inline FakeInstance* registerFake(FakeInstance::Log& log, bool queued, bool createSucceeds = true)
{
    IAvatarSystem::getSingletonPtr();
    AvatarSystemManager& manager = AvatarSystemManager::getSingleton();
    auto* fake = new FakeInstance(log, createSucceeds);
    const unsigned id = manager.takeUniqueID();
    fake->setUniqueID(id);
    manager.registerInstance(id, fake);
    if (queued)
        manager.queueBuild(id, AvatarSystemManager::KIND_CREATURE);
    return fake;
}
