#include "avatarsystem/instancebase.h"

#include <OgreAnimationState.h>
#include <OgreEntity.h>

InstanceBase::InstanceBase(bool startsPaused, float runSpeed, float walkSpeed)
    : m_isPaused(startsPaused), m_speedA(runSpeed), m_speedB(walkSpeed), m_animCtrl(new AnimationController())
{
    m_animCtrl->setOwner(this);
}

InstanceBase::~InstanceBase()
{
    releaseController();
    delete m_entityCallback;
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
        IEntityView* view = m_entityCallback->view;
        switch (m_entityCallback->type)
        {
        case 0:
            view->onInstanceReady(this, 0);
            if (m_entityCallback->observer)
                m_entityCallback->observer->onViewReady(view->getViewKey());
            if (!creature)
                m_entityCallback->type = 3;
            break;
        case 1:
            if (creature)
                view->onCreatureReadyA(this, cameraBias);
            break;
        case 2:
            if (creature)
                view->onCreatureReadyB(this, cameraBias);
            break;
        default:
            break;
        }
        // A creature's record is spent; a character keeps its record, marked told, until destroy.
        if (creature)
        {
            delete m_entityCallback;
            m_entityCallback = nullptr;
        }
    }
    else if (m_isCopy)
    {
        if (m_rtt3DCallback)
        {
            if (creature)
                m_rtt3DCallback->onCreatureCopyCreated();
            else
                m_rtt3DCallback->onPlayerCopyCreated();
        }
        if (m_rttCallback)
            m_rttCallback->onCopyCreated();
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
        m_animCtrl->update(b, seconds);
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
    if (index < 0 || static_cast<std::size_t>(index) >= m_animationList.size())
        return;
    m_currentAnimState = m_animationList[static_cast<std::size_t>(index)];
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
    if (!m_isPaused && m_currentAnimState)
        m_currentAnimState->addTime(seconds * m_animationPlaySpeed);
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
