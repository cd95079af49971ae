#pragma once

#include "avatarsystem/avatarsystemmanager.h"

#include <string>
#include <vector>

/// What every avatar shares, whatever its kind: its name, entity, unique ID, scale, the host's
/// creation record and copy callbacks and the first-build notification they receive, the
/// animation controller it owns and the IInstance animation operations that forward to it,
/// manual stepping of a chosen animation state, the movement speeds, and the fade-in that
/// update() runs after the controller.
class AVATARSYSTEM_API InstanceBase : public ManagedInstance
{
public:
    InstanceBase(const InstanceBase&) = delete;
    InstanceBase& operator=(const InstanceBase&) = delete;

    void setUniqueID(unsigned long uniqueID) override { m_uniqueID = uniqueID; }
    unsigned long getUniqueID() override { return m_uniqueID; }
    const std::string& getName() override { return m_name; }
    float getScale() override { return m_scale; }
    Ogre::Entity* getEntityPtr() override { return m_entity; }
    /// Takes ownership of the host's creation record; a different record held before is deleted.
    void setEntityViewPtr(ENTITY_CALLBACK* callback) override;
    /// Marks the avatar as a render-to-texture copy; its first build tells rtt3D, then rtt (either may be null).
    void setInstanceBeCopy(IRttObjectCallback* rtt, I3DRttObjectCallback* rtt3D) override;
    /// Shows or hides the entity; bone attachments and effects are not touched.
    void setVisible(bool visible) override;

    /// Advances the controller, then one fade-in step; nothing without an entity.
    void update(bool b, float seconds) override;
    /// Binds the controller to the current entity again.
    void updateControlledEntity() override;
    void playStatic(AnimationType type, float position) override;
    /// now: at once; otherwise at the beginning of the controller's next update.
    void playAnimation(AnimationType type, ANI_BLEND_TYPE blend, float start, IActionCallback* callback,
                       bool now) override;
    void playAnimation(const char* name, ANI_BLEND_TYPE blend, IActionCallback* callback) override;
    void setSpeed(float runSpeed, float walkSpeed) override;
    /// Pauses the controller (the manual pause flag is not changed).
    void setPause(bool paused) override;
    void setTickTimeLimit(float seconds) override;
    /// Chooses state index of the entity's list (initAnimation) and plays it by name.
    void setNewAimationState(int index, bool smooth) override;
    void setAnimationPlaySpeed(float factor) override;
    void setAnimationMerge(bool merge) override;
    float getPlayPercent(const std::string& animationName) override;
    void setActionCallBack(IActionCallback* callback) override;
    /// Toggles the manual pause flag and pauses or unpauses the controller with it.
    void changePausePropety() override;
    /// Steps the chosen state by seconds times the play speed unless manually paused.
    void animationAddTime(float seconds) override;
    bool hasAnimation(AnimationType type) override;
    void clearAnimation(unsigned layer) override;
    AnimationType searchAnimation(unsigned layer) override;

    /// Lists the entity's animation states in the order of its animation state set.
    void initAnimation();
    /// The avatar's animation controller (owned by the avatar; null after destroy), for tools
    /// and tests that read its layers.
    AnimationController* getAnimationController() { return m_animCtrl; }
    /// The opacity last applied (during the fade-in, how far it has come).
    float getTransparency() const { return m_transparency; }
    /// Whether the opacity was set from outside (or the fade-in has ended): update() no longer fades.
    bool isTransparencySet() const { return m_transparencySet; }

protected:
    /// @cond INTERNAL
    /// startsPaused: the manual pause flag; runSpeed, walkSpeed: the movement speeds until setSpeed.
    InstanceBase(bool startsPaused, float runSpeed, float walkSpeed);
    /// Deletes the creation record still held (the OGRE objects go in destroy()).
    ~InstanceBase() override;
    /// Unbinds and frees the controller and forgets the entity's animation states (destroy does
    /// it; the destructor catches what is left).
    void releaseController();
    /// Refuses builds from now on: a destroyed avatar is unregistered, and a build would leave
    /// OGRE objects that nothing destroys.
    void markDestroyed() { m_destroyed = true; }
    bool isDestroyed() const { return m_destroyed; }
    /// Lists the entity's states again when a shared pose was joined or left since they were listed.
    void refreshStates();
    /// Watches m_entity: when anyone but the avatar destroys it (the host clearing its scene or
    /// destroying its scene manager), the avatar forgets it and its animation states.
    void watchEntity();
    /// Tells the host that the first build is done. With a creation record that has a view:
    /// type 0 calls the view's onInstanceReady, then the observer's onViewReady with the view's
    /// key; a creature also answers type 1 (onCreatureReadyA) and type 2 (onCreatureReadyB) with
    /// cameraBias and then deletes the record, while a character marks it told (type 3) and keeps
    /// it. Without a view, a render-to-texture copy tells its kind's copy callback, then rtt.
    /// The record is marked told (or deleted) before the host is called, and an exception the
    /// host's objects throw is logged and goes no further: the build stands, and the host hears
    /// of it at most once.
    void notifyHostOfFirstBuild(float cameraBias);

    bool m_isCopy = false;
    bool m_destroyed = false;
    bool m_isPaused;
    bool m_transparencySet = false;
    float m_animationPlaySpeed = 1.0f;
    float m_speedA;
    float m_speedB;
    float m_transparency = 0.0f;
    float m_scale = 1.0f;
    float m_baseSpeedA = 1.0f;
    float m_baseSpeedB = 1.0f;
    std::string m_name;
    Ogre::Entity* m_entity = nullptr;
    unsigned long m_uniqueID = 0;
    ENTITY_CALLBACK* m_entityCallback = nullptr;
    IRttObjectCallback* m_rttCallback = nullptr;
    I3DRttObjectCallback* m_rtt3DCallback = nullptr;
    Ogre::AnimationState* m_currentAnimState = nullptr;
    std::string m_currentAnimName;
    unsigned m_statesSeen = 0;
    AnimationController* m_animCtrl = nullptr;
    std::vector<Ogre::AnimationState*> m_animationList;

private:
    /// One call of this avatar that reaches the host and is still running; the destructor marks
    /// them all, so that each returns at once when the host deleted the avatar meanwhile.
    struct RunningCall
    {
        bool deleted;
        RunningCall* outer;
    };
    RunningCall* m_runningCalls = nullptr;
    /// @endcond
};
