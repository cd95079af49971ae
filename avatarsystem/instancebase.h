#pragma once

#include "avatarsystem/avatarsystemmanager.h"

#include <string>
#include <vector>

/// What every avatar shares, whatever its kind: the animation controller it owns and the
/// IInstance animation operations that forward to it, manual stepping of a chosen animation
/// state, the movement speeds, and the fade-in that update() runs after the controller.
class InstanceBase : public ManagedInstance
{
public:
    InstanceBase(const InstanceBase&) = delete;
    InstanceBase& operator=(const InstanceBase&) = delete;

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
    AnimationController* getAnimationController() { return m_animCtrl; }
    float getTransparency() const { return m_transparency; }
    bool isTransparencySet() const { return m_transparencySet; }

protected:
    /// startsPaused: the manual pause flag; runSpeed, walkSpeed: the movement speeds until setSpeed.
    InstanceBase(bool startsPaused, float runSpeed, float walkSpeed);
    ~InstanceBase() override;
    /// Unbinds and frees the controller and forgets the entity's animation states (destroy does
    /// it; the destructor catches what is left).
    void releaseController();

    bool m_isPaused;
    bool m_transparencySet = false;
    float m_animationPlaySpeed = 1.0f;
    float m_speedA;
    float m_speedB;
    float m_transparency = 0.0f;
    Ogre::AnimationState* m_currentAnimState = nullptr;
    AnimationController* m_animCtrl = nullptr;
    std::vector<Ogre::AnimationState*> m_animationList;
};
