#include "avatarsystem/instancebase.h"

#include "avatarsystem/detail/ogreguard.h"
#include "avatarsystem/detail/scenewatch.h"

#include <OgreAnimationState.h>
#include <OgreEntity.h>

#include <cmath>

InstanceBase::InstanceBase(bool startsPaused, float runSpeed, float walkSpeed)
    : m_isPaused(startsPaused), m_speedA(runSpeed), m_speedB(walkSpeed), m_animCtrl(new AnimationController())
{
    m_animCtrl->setOwner(this);
}

InstanceBase::~InstanceBase()
{
    // Deleted from a host callback inside one of its own calls: those calls must not go on.
    for (RunningCall* call = m_runningCalls; call; call = call->outer)
        call->deleted = true;
    // Deleted without destroy(): the watch must not call back into this object.
    if (m_entity)
        avatar_detail::SceneWatch::instance().unwatch(m_entity);
    releaseController();
    delete m_entityCallback;
}

void InstanceBase::watchEntity()
{
    avatar_detail::SceneWatch::instance().watch(m_entity,
                                                [this]
                                                {
                                                    m_entity = nullptr;
                                                    m_animationList.clear();
                                                    m_currentAnimState = nullptr;
                                                    if (m_animCtrl)
                                                        m_animCtrl->entityDestroyed();
                                                });
}

void InstanceBase::setEntityViewPtr(ENTITY_CALLBACK* callback)
{
    // The record held so far is ours too: replaced, it would be lost.
    if (callback != m_entityCallback)
        delete m_entityCallback;
    m_entityCallback = callback;
}

void InstanceBase::setInstanceBeCopy(IRttObjectCallback* rtt, I3DRttObjectCallback* rtt3D)
{
    m_isCopy = true;
    m_rttCallback = rtt;
    m_rtt3DCallback = rtt3D;
}

void InstanceBase::setVisible(bool visible)
{
    if (m_entity)
        m_entity->setVisible(visible);
}

void InstanceBase::notifyHostOfFirstBuild(float cameraBias)
{
    const bool creature = getInstanceType() == INSTANCE_CREATURE;
    if (m_entityCallback && m_entityCallback->view)
    {
        // Marked told first, so that a host object that throws is not called again for this build.
        const ENTITY_CALLBACK record = *m_entityCallback;
        if (creature)
        {
            // A creature's record is spent; a character keeps its record, marked told, until destroy.
            delete m_entityCallback;
            m_entityCallback = nullptr;
        }
        else if (record.type == 0)
        {
            m_entityCallback->type = 3;
        }
        // The host may destroy or delete the avatar from here: failures meanwhile are not put down to it.
        const avatar_detail::FailureSubject noAvatar(nullptr);
        // Each host call stands alone: a view that throws does not keep the observer uninformed.
        const char* const where = "telling the host an avatar is built";
        IEntityView* view = record.view;
        switch (record.type)
        {
        case 0:
            avatar_detail::guarded(where, [&] { view->onInstanceReady(this, 0); });
            if (record.observer)
                avatar_detail::guarded(where, [&] { record.observer->onViewReady(view->getViewKey()); });
            break;
        case 1:
            if (creature)
                avatar_detail::guarded(where, [&] { view->onCreatureReadyA(this, cameraBias); });
            break;
        case 2:
            if (creature)
                avatar_detail::guarded(where, [&] { view->onCreatureReadyB(this, cameraBias); });
            break;
        default:
            break;
        }
    }
    else if (m_isCopy)
    {
        // Read first: the host may delete the avatar from the first callback.
        IRttObjectCallback* const rtt = m_rttCallback;
        I3DRttObjectCallback* const rtt3D = m_rtt3DCallback;
        const avatar_detail::FailureSubject noAvatar(nullptr);
        const char* const where = "telling the host a copy is built";
        if (rtt3D)
            avatar_detail::guarded(where,
                                   [&]
                                   {
                                       if (creature)
                                           rtt3D->onCreatureCopyCreated();
                                       else
                                           rtt3D->onPlayerCopyCreated();
                                   });
        if (rtt)
            avatar_detail::guarded(where, [&] { rtt->onCopyCreated(); });
    }
}

void InstanceBase::releaseController()
{
    // The states belong to an entity that is about to go (or back to a pool, to another avatar).
    m_animationList.clear();
    m_currentAnimState = nullptr;
    if (!m_animCtrl)
        return;
    m_animCtrl->clearOwner();
    // Destroyed from one of its own callbacks: it deletes itself once that call returns.
    if (!m_animCtrl->retireWhenIdle())
        delete m_animCtrl;
    m_animCtrl = nullptr;
}

void InstanceBase::update(bool b, float seconds)
{
    if (!getEntityPtr())
        return;
    if (m_animCtrl)
    {
        // The controller calls the host, which may destroy or even delete this avatar.
        RunningCall call{false, m_runningCalls};
        m_runningCalls = &call;
        m_animCtrl->update(b, seconds);
        if (call.deleted)
            return;
        m_runningCalls = call.outer;
        if (!getEntityPtr())
            return;
    }
    if (m_transparencySet)
        return;
    // The fade-in: two seconds from invisible to opaque, then settled at exactly 1.
    if (m_transparency < 1.0f)
    {
        m_transparency += seconds / 2.0f;
        setInstanceTransoarency(m_transparency, false);
    }
    else
    {
        m_transparency = 1.0f;
        setInstanceTransoarency(1.0f, true);
    }
}

void InstanceBase::updateControlledEntity()
{
    if (m_animCtrl && getEntityPtr())
        m_animCtrl->setEntity(getEntityPtr());
}

void InstanceBase::initAnimation()
{
    Ogre::Entity* entity = getEntityPtr();
    if (!entity)
        return;
    m_animationList.clear();
    if (Ogre::AnimationStateSet* states = entity->getAllAnimationStates())
        for (const auto& entry : states->getAnimationStates())
            m_animationList.push_back(entry.second);
}

void InstanceBase::playStatic(AnimationType type, float position)
{
    if (m_animCtrl)
        m_animCtrl->playStatic(type, position);
}

void InstanceBase::playAnimation(AnimationType type, ANI_BLEND_TYPE blend, float start, IActionCallback* callback,
                                 bool now)
{
    if (!m_animCtrl)
        return;
    if (now)
        m_animCtrl->play(type, blend, start, callback);
    else
        m_animCtrl->playLater(type, blend, start, callback);
}

void InstanceBase::playAnimation(const char* name, ANI_BLEND_TYPE blend, IActionCallback* callback)
{
    if (m_animCtrl && name)
        m_animCtrl->playByName(name, blend, callback);
}

void InstanceBase::setSpeed(float runSpeed, float walkSpeed)
{
    m_speedA = runSpeed;
    m_speedB = walkSpeed;
    if (m_animCtrl)
        m_animCtrl->ratesChanged();
}

void InstanceBase::setPause(bool paused)
{
    if (m_animCtrl)
        m_animCtrl->setPause(paused);
}

void InstanceBase::setTickTimeLimit(float seconds)
{
    if (m_animCtrl)
        m_animCtrl->setTickTimeLimit(seconds);
}

void InstanceBase::setNewAimationState(int index, bool smooth)
{
    refreshStates();
    if (index < 0 || static_cast<std::size_t>(index) >= m_animationList.size())
        return;
    m_currentAnimState = m_animationList[static_cast<std::size_t>(index)];
    m_currentAnimName = m_currentAnimState->getAnimationName();
    playAnimation(m_currentAnimState->getAnimationName().c_str(), smooth ? BLEND_SMOOTH : BLEND_IMMEDIATE, nullptr);
}

void InstanceBase::setAnimationPlaySpeed(float factor)
{
    m_animationPlaySpeed = factor;
    if (m_animCtrl)
        m_animCtrl->setPlaySpeed(factor);
}

void InstanceBase::setAnimationMerge(bool merge)
{
    if (m_animCtrl)
        m_animCtrl->setMerge(merge);
}

float InstanceBase::getPlayPercent(const std::string& animationName)
{
    return m_animCtrl ? m_animCtrl->getPlayPercent(animationName) : -1.0f;
}

void InstanceBase::setActionCallBack(IActionCallback* callback)
{
    if (m_animCtrl)
        m_animCtrl->setCallback(callback);
}

void InstanceBase::changePausePropety()
{
    m_isPaused = !m_isPaused;
    setPause(m_isPaused);
}

void InstanceBase::animationAddTime(float seconds)
{
    // An undefined time would leave the state's time undefined, and the animation frozen, for good.
    const float step = seconds * m_animationPlaySpeed;
    if (m_isPaused || !m_currentAnimState || !std::isfinite(step))
        return;
    // A state stepped by hand is the avatar's own: no group shows it.
    if (m_animCtrl)
        m_animCtrl->keepOwnPose();
    refreshStates();
    if (m_currentAnimState)
        m_currentAnimState->addTime(step);
}

void InstanceBase::refreshStates()
{
    // Joining or leaving a shared pose replaces the entity's state set: the states listed go with it.
    if (!m_animCtrl || m_statesSeen == m_animCtrl->getStatesGeneration())
        return;
    m_statesSeen = m_animCtrl->getStatesGeneration();
    if (!m_animationList.empty())
        initAnimation();
    if (m_currentAnimState)
    {
        Ogre::Entity* entity = getEntityPtr();
        m_currentAnimState = entity && entity->hasAnimationState(m_currentAnimName)
                                 ? entity->getAnimationState(m_currentAnimName)
                                 : nullptr;
    }
}

bool InstanceBase::hasAnimation(AnimationType type)
{
    return m_animCtrl && m_animCtrl->hasAnimation(type);
}

void InstanceBase::clearAnimation(unsigned layer)
{
    if (m_animCtrl)
        m_animCtrl->clearAnimation(layer);
}

AnimationType InstanceBase::searchAnimation(unsigned layer)
{
    return m_animCtrl ? m_animCtrl->searchAnimation(layer) : ANIM_NONE;
}
