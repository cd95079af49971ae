#include "avatarsystem/animationcontroller.h"

#include "avatarsystem/animationdb.h"
#include "avatarsystem/avatarsystemmanager.h"
#include "avatarsystem/detail/bodysplit.h"
#include "avatarsystem/detail/ogreguard.h"
#include "avatarsystem/detail/posesharing.h"

#include <OgreAnimationState.h>
#include <OgreEntity.h>
#include <OgreSkeletonInstance.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{

const float s_fadeSpeed = 6.0f;
const float s_endPercent = 0.99f;
const float s_poseFadeOut = 0.8f;
const float s_overlayFadeOut = 0.9f;
const float s_startScale = 0.99f;
const float s_quickFade = 10.0f;
const unsigned s_lastSearchedType = 1004;
// AvatarSystemManager::DetailLevel.
const int s_detailFull = 0, s_detailShared = 1, s_detailByDistance = 2;

const char* const s_runAnimations[] = {"Run", "Main_run", "Pair_run", "Heavy_run", "Long_run", "Master_run", "Bow_run"};

/// The fraction of a state's length played, as getPlayPercent answers it for the state's name.
float percentOf(const Ogre::AnimationState* state)
{
    if (!state->getEnabled())
        return -1.0f;
    return static_cast<float>(static_cast<double>(state->getTimePosition()) /
                              (static_cast<double>(state->getLength()) + 0.00001));
}

/// f, or 0 when f is infinite or not a number (the host's times and fractions reach OGRE's time
/// positions, which would stay undefined for good).
float finiteOrZero(float f)
{
    return std::isfinite(f) ? f : 0.0f;
}

void positionState(Ogre::AnimationState* state, float start)
{
    state->setTimePosition(finiteOrZero(start * state->getLength() * s_startScale));
}

} // namespace

AnimationController::AnimationController()
{
    m_main.weight = 1.0f;
}

AnimationController::~AnimationController()
{
    // A pooled body must come back with a skeleton of its own.
    letGoOfSharedPose();
}

const AnimationDB* AnimationController::animationTable() const
{
    // A table that cannot be opened is noted for the avatar that asked.
    const avatar_detail::FailureSubject subject(m_owner);
    AvatarSystemManager* manager = AvatarSystemManager::getSingletonPtr();
    return manager ? static_cast<const AnimationDB*>(manager->getDB(DB_ANIMATION)) : nullptr;
}

void AnimationController::setEntity(Ogre::Entity* entity)
{
    if (entity != m_entity)
    {
        // The entity let go of keeps a skeleton of its own.
        letGoOfSharedPose();
        // The masks stay with the entity let go of, which the library resets or destroys itself.
        m_masks.clear();
        forgetLayers();
        m_partition.reset();
    }
    m_entity = entity;
}

void AnimationController::entityDestroyed()
{
    // The engine deleted the states without their masks: they are ours to free. Allocated by
    // AnimationState::createBlendMask, they go the way AnimationState::destroyBlendMask sends them.
    for (const auto& masked : m_masks)
    {
        auto* mask = const_cast<Ogre::AnimationState::BoneBlendMask*>(masked.second);
        OGRE_DELETE_T(mask, BoneBlendMask, Ogre::MEMCATEGORY_ANIMATION);
    }
    m_masks.clear();
    if (m_group)
    {
        avatar_detail::PoseSharing::instance().forget(m_group, m_entity, this);
        m_group = nullptr;
        ++m_statesGeneration;
    }
    forgetLayers();
    m_partition.reset();
    m_entity = nullptr;
}

void AnimationController::forgetLayers()
{
    m_main = m_prev = m_overlay = m_pose = Layer();
    m_phaseDebt = 0.0f;
    m_main.weight = 1.0f;
    m_staticPose = false;
    m_mainPart = BODY_WHOLE;
    m_rateState = nullptr;
}

void AnimationController::setPause(bool paused)
{
    if (paused && m_group)
        leaveSharedPose();
    m_paused = paused;
}

void AnimationController::setPlaySpeed(float speed)
{
    m_playSpeed = speed;
    ratesChanged();
}

void AnimationController::setCallback(IActionCallback* callback)
{
    m_callback = callback;
    if (m_pendingPlay)
        m_pendingCallback = callback;
}

void AnimationController::playLater(AnimationType type, ANI_BLEND_TYPE blend, float start, IActionCallback* callback)
{
    m_pendingType = type;
    m_pendingBlend = blend;
    m_pendingStart = start;
    m_pendingCallback = callback;
    m_pendingPlay = true;
}

const char* AnimationController::getAnimName(AnimationType type)
{
    const AnimationDB* table = animationTable();
    const Record* row = table ? table->getByType(static_cast<unsigned>(type)) : nullptr;
    const char* name = row ? row->getString(AnimationDB::AnimName) : nullptr;
    return name ? name : "";
}

bool AnimationController::hasState(const std::string& name) const
{
    return m_entity && m_entity->hasSkeleton() && m_entity->getAllAnimationStates() &&
           m_entity->getAllAnimationStates()->hasAnimationState(name);
}

Ogre::AnimationState* AnimationController::findState(const char* name) const
{
    if (!name || !*name || !hasState(name))
        return nullptr;
    return m_entity->getAllAnimationStates()->getAnimationState(name);
}

bool AnimationController::hasAnimation(AnimationType type)
{
    const char* name = getAnimName(type);
    return name[0] != '\0' && hasState(name);
}

float AnimationController::getPlayPercent(const std::string& name) const
{
    if (!hasState(name))
        return -1.0f;
    return percentOf(m_entity->getAllAnimationStates()->getAnimationState(name));
}

void AnimationController::resetAllStates(bool enabled)
{
    if (m_group)
        leaveSharedPose();
    if (!m_entity || !m_entity->hasSkeleton() || !m_entity->getAllAnimationStates())
        return;
    for (const auto& entry : m_entity->getAllAnimationStates()->getAnimationStates())
    {
        entry.second->setTimePosition(0.0f);
        entry.second->setEnabled(enabled);
    }
}

// --- Events ---------------------------------------------------------------------------------

void AnimationController::notifyStart(AnimationType type, bool looping)
{
    if (m_callback)
        m_events.push_back({m_callback, type, false, false, looping, 0});
}

void AnimationController::notifyStop(AnimationType type)
{
    if (m_callback)
        m_events.push_back({m_callback, type, false, true, false, 0});
}

void AnimationController::notifyEnd(AnimationType type, EndPart part)
{
    if (m_callback)
        m_events.push_back({m_callback, type, true, false, false, part});
}

AnimationController::Operation::Operation(AnimationController& controller) : m_controller(controller)
{
    ++controller.m_running;
    ++controller.m_queueing;
}

AnimationController::Operation::~Operation()
{
    AnimationController& c = m_controller;
    if (--c.m_queueing == 0)
        c.deliverEvents();
    if (--c.m_running == 0 && c.m_retired)
        delete &c;
}

void AnimationController::deliverEvents()
{
    // Events of a play the host starts from a callback are delivered by that play, inside the callback.
    std::vector<Event> batch;
    batch.swap(m_events);
    // The avatar may be gone when the host returns: failures meanwhile are not put down to it.
    const avatar_detail::FailureSubject noAvatar(nullptr);
    for (const Event& event : batch)
    {
        // A listener the host replaced or cleared meanwhile may be deleted already.
        if (m_retired || event.target != m_callback)
            continue;
        avatar_detail::guarded("calling the host's animation callback",
                               [&event]
                               {
                                   if (event.end)
                                       event.target->onAnimationEnd(event.type, event.part);
                                   else
                                       event.target->onAnimationState(event.type, event.stopped, event.looping);
                               });
    }
}

bool AnimationController::retireWhenIdle()
{
    if (m_running == 0)
        return false;
    m_retired = true;
    letGoOfSharedPose();
    m_owner = nullptr;
    m_entity = nullptr;
    m_masks.clear();
    forgetLayers();
    return true;
}

// --- Layers ---------------------------------------------------------------------------------

AnimationController::StepResult AnimationController::stepLayer(Layer& layer, float step, float fadeOutAt)
{
    // Read before this tick's step: a play-once layer ends in the tick that begins at 99 %.
    const float p = layer.playOnce ? percentOf(layer.state) : 0.0f;
    if (layer.playOnce && p >= s_endPercent)
        return STEP_ENDED;
    layer.state->addTime(step);
    const float fade = step * s_fadeSpeed * layer.fadeRate;
    if (p <= fadeOutAt)
        layer.weight = std::min(1.0f, layer.weight + fade);
    else
        layer.weight = std::max(0.0f, layer.weight - fade);
    return STEP_PLAYING;
}

void AnimationController::takeState(Layer& layer, Ogre::AnimationState* state, AnimationType type, float start,
                                    bool looping)
{
    // Two rows may name the same animation on different layers: the state moves, and the layer it
    // leaves ends as if replaced (the one fading out simply finishes its fade).
    if (&layer != &m_prev && m_prev.holds(state))
    {
        m_prev.state = nullptr;
        m_prev.weight = 0.0f;
        m_main.weight = 1.0f;
    }
    for (Layer* other : {&m_main, &m_overlay, &m_pose})
    {
        if (other == &layer || !other->holds(state))
            continue;
        const AnimationType lost = other->type;
        other->state = nullptr;
        other->type = ANIM_NONE;
        other->weight = 0.0f;
        if (other == &m_main)
            dropPrevious(); // nothing left to fade into
        if (other == &m_pose)
            m_entity->getSkeleton()->setBlendMode(Ogre::ANIMBLEND_AVERAGE);
        if (lost != ANIM_NONE)
            notifyStop(lost);
    }
    if (&layer == &m_main)
        m_phaseDebt = 0.0f; // a new main plays from where the host said
    layer.state = state;
    layer.type = type;
    positionState(state, start);
    state->setEnabled(true);
    state->setLoop(looping);
}

void AnimationController::releaseLayer(Layer& layer)
{
    Ogre::AnimationState* state = layer.state;
    layer.state = nullptr;
    layer.type = ANIM_NONE;
    layer.weight = 0.0f;
    if (state && !m_main.holds(state) && !m_prev.holds(state) && !m_overlay.holds(state) && !m_pose.holds(state))
        avatar_detail::releaseState(state);
}

void AnimationController::dropPrevious()
{
    releaseLayer(m_prev);
    m_main.weight = 1.0f;
}

void AnimationController::dropOverlay()
{
    if (!m_overlay.state)
        return;
    notifyStop(m_overlay.type);
    releaseLayer(m_overlay);
}

// --- Playing --------------------------------------------------------------------------------

void AnimationController::play(AnimationType type, ANI_BLEND_TYPE blend, float start, IActionCallback* callback)
{
    if (m_paused || !m_entity)
        return;
    Operation operation(*this);
    const AnimationDB* table = animationTable();
    const Record* row = table ? table->getByType(static_cast<unsigned>(type)) : nullptr;
    if (!row)
        return;
    setCallback(callback);
    const char* name = row->getString(AnimationDB::AnimName);
    Ogre::AnimationState* state = findState(name);
    if (!state)
        return;

    const BodyPart part = static_cast<BodyPart>(row->getInt(AnimationDB::BlendType));
    const PlayType playType = static_cast<PlayType>(row->getInt(AnimationDB::PlayType));
    const bool playsMain = playType == PLAY_LOOP || playType == PLAY_ONCE;
    const bool looping = playType == PLAY_LOOP;
    const bool quickFade = playType == PLAY_ONCE && row->getInt(AnimationDB::IsMerge) == 0;
    if (m_group)
    {
        // The loop the group shows, played again on the main layer, changes nothing.
        const bool crossesParts =
            (part == BODY_UPPER && m_mainPart == BODY_LOWER) || (part == BODY_LOWER && m_mainPart == BODY_UPPER);
        if (playType == PLAY_LOOP && !crossesParts && m_main.state->getAnimationName() == name)
        {
            m_mainPart = part;
            return;
        }
        leaveSharedPose();
        state = findState(name);
        if (!state)
            return;
    }
    const bool leavesStillPose = m_staticPose;
    m_staticPose = false;
    // Playing the main animation again restarts it; a blend the system does not know switches
    // at once too, so that no old state is left enabled outside every layer.
    if ((m_main.state && m_main.state->getAnimationName() == name) || blend != BLEND_SMOOTH)
        blend = BLEND_IMMEDIATE;
    m_overlay.fadeRate = 1.0f;
    m_main.fadeRate = 1.0f;

    if (part == BODY_UPPER && m_mainPart == BODY_LOWER && m_main.state)
    {
        // An upper-body animation over a lower-body main one.
        if (!playsMain)
            return;
        dropOverlay();
        takeState(m_overlay, state, type, start, looping);
        notifyStart(type, looping);
        m_overlay.playOnce = !looping;
        m_overlay.weight = 0.0f;
        m_overlay.fadeRate = quickFade ? s_quickFade : 1.0f;
    }
    else if (part == BODY_LOWER && m_mainPart == BODY_UPPER && m_main.state)
    {
        // A lower-body animation under an upper-body main one, which goes on as the overlay.
        if (!playsMain)
            return;
        dropOverlay();
        if (leavesStillPose)
        {
            // A frame held still is no animation to play on over the new one: it goes.
            const AnimationType held = m_main.type;
            releaseLayer(m_main);
            if (held != ANIM_NONE)
                notifyStop(held);
        }
        else
        {
            m_overlay.state = m_main.state;
            m_overlay.type = m_main.type;
            m_overlay.weight = m_main.weight;
            m_overlay.playOnce = m_main.playOnce;
            m_main.state = nullptr;
            m_main.type = ANIM_NONE;
        }
        // The lower body takes the new main from where the main and previous weights left it:
        // a cross-fade in progress goes on (smooth), else the new main plays at full weight.
        if (blend != BLEND_SMOOTH || !m_prev.state)
            dropPrevious();
        takeState(m_main, state, type, start, looping);
        notifyStart(type, looping);
        m_main.playOnce = !looping;
        m_mainPart = part;
        if (quickFade)
            m_main.fadeRate = s_quickFade;
    }
    else
    {
        if (part == BODY_WHOLE)
            dropOverlay();
        if (playType == PLAY_LOOP)
        {
            // The same loop goes on as it is.
            if (!m_main.state || m_main.state->getAnimationName() != name)
                replaceMain(type, blend, state, start, true);
        }
        else if (playType == PLAY_ONCE)
        {
            replaceMain(type, blend, state, start, false);
            if (quickFade)
                m_main.fadeRate = s_quickFade;
        }
        else if (playType == PLAY_POSE && !m_pose.state)
        {
            takeState(m_pose, state, type, start, false);
            notifyStart(type, false);
            m_pose.playOnce = true;
            m_pose.weight = 0.0f;
        }
        if (playsMain)
            m_mainPart = part;
    }
    applyWeights();
}

void AnimationController::replaceMain(AnimationType type, ANI_BLEND_TYPE blend, Ogre::AnimationState* state,
                                      float start, bool looping)
{
    notifyStop(m_main.type);
    releaseLayer(m_prev);
    Ogre::AnimationState* old = m_main.state;
    m_main.state = nullptr;
    m_main.type = ANIM_NONE;
    if (blend == BLEND_SMOOTH)
    {
        // Fades out from here (never the new state itself: playing the main one again is immediate).
        m_prev.state = old;
        m_prev.weight = 1.0f;
        m_main.weight = 0.0f;
    }
    else
    {
        if (old && old != state && !m_overlay.holds(old) && !m_pose.holds(old))
            avatar_detail::releaseState(old);
        m_prev.weight = 0.0f;
        m_main.weight = 1.0f;
    }
    takeState(m_main, state, type, start, looping);
    notifyStart(type, looping);
    m_main.playOnce = !looping;
}

void AnimationController::playByName(const char* name, ANI_BLEND_TYPE blend, IActionCallback* callback)
{
    if (m_paused || !m_entity || !name)
        return;
    const AnimationDB* table = animationTable();
    if (!table)
        return;
    for (unsigned type = 0; type <= s_lastSearchedType; ++type)
    {
        const Record* row = table->getByType(type);
        const char* rowName = row ? row->getString(AnimationDB::AnimName) : nullptr;
        if (rowName && std::strcmp(rowName, name) == 0)
        {
            play(static_cast<AnimationType>(type), blend, 0.0f, callback);
            return;
        }
    }
}

void AnimationController::playStatic(AnimationType type, float position)
{
    if (m_paused || !m_entity)
        return;
    Operation operation(*this);
    const AnimationDB* table = animationTable();
    const Record* row = table ? table->getByType(static_cast<unsigned>(type)) : nullptr;
    Ogre::AnimationState* state = row ? findState(row->getString(AnimationDB::AnimName)) : nullptr;
    if (state && m_group)
    {
        leaveSharedPose();
        state = findState(row->getString(AnimationDB::AnimName));
    }
    if (!state)
        return;
    releaseLayer(m_prev);
    Ogre::AnimationState* old = m_main.state;
    const AnimationType mainType = m_main.type;
    m_main.state = nullptr;
    if (old && old != state && !m_overlay.holds(old) && !m_pose.holds(old))
        avatar_detail::releaseState(old);
    // The main type stays what the host played last.
    takeState(m_main, state, mainType, position, false);
    m_main.weight = 1.0f;
    m_staticPose = true;
    applyWeights();
}

// --- The frame ------------------------------------------------------------------------------

float AnimationController::mainRate()
{
    float runRate = 1.0f, walkRate = 1.0f;
    m_owner->getSpeedRate(runRate, walkRate);
    if (m_main.state != m_rateState)
    {
        m_rateState = m_main.state;
        m_rateKind = RATE_NONE;
        if (m_main.state)
        {
            const std::string& name = m_main.state->getAnimationName();
            if (name == "Walk")
                m_rateKind = RATE_WALK;
            for (const char* run : s_runAnimations)
                if (name == run)
                    m_rateKind = RATE_RUN;
        }
    }
    const float rate = m_rateKind == RATE_RUN ? runRate : m_rateKind == RATE_WALK ? walkRate : 1.0f;
    // A speed the host or a table made infinite or undefined would leave every state at NaN.
    return std::isfinite(rate) ? rate : 1.0f;
}

void AnimationController::update(bool, float seconds)
{
    // A shared avatar's whole frame: its group moves on, once a frame for all its members.
    if (m_group && !m_pendingPlay)
    {
        if (!m_owner)
            return;
        if (m_detail == s_detailShared || wantsSharedPose(true))
        {
            m_group->advance(this, seconds);
            return;
        }
        // Come near the viewpoint: this frame is its own.
        leaveSharedPoseInFrame(seconds);
    }
    if (!m_owner)
        return;
    Operation operation(*this);
    // A new body split reaches every avatar at its next frame, paused or between ticks.
    if (m_partition && m_partitionGeneration != avatar_detail::BodySplitRegistry::instance().generation())
        applyWeights();
    if (m_paused)
        return;
    if (m_pendingPlay && m_pendingType != ANIM_NONE)
    {
        // Cleared first: a play the host defers from one of this play's callbacks is kept.
        m_pendingPlay = false;
        if (m_group)
        {
            // The group takes this frame's step now: a play that leaves it plays on from where
            // the group stood before it, and this frame's step follows in the avatar's own states.
            m_group->advance(this, seconds);
            m_leaveRewind = finiteOrZero(seconds) * mainPace();
        }
        play(m_pendingType, m_pendingBlend, m_pendingStart, m_pendingCallback);
        const bool stayed = m_group != nullptr;
        m_leaveRewind = 0.0f;
        if (stayed)
            return;
    }
    if (!m_group && m_detail != s_detailFull && !m_keepOwnPose && canSharePose() && wantsSharedPose(false))
        joinSharedPose(finiteOrZero(seconds));
    m_keepOwnPose = false;
    if (m_group)
    {
        m_group->advance(this, seconds);
        return;
    }
    // An undefined frame time would leave the gathered time undefined, and the avatar still, for good.
    m_tickAccum += finiteOrZero(seconds);
    if (!(m_tickAccum > m_tickTimeLimit))
        return;
    m_step += finiteOrZero(finiteOrZero(seconds) * m_playSpeed * mainRate());
    m_tickAccum = 0.0f;
    if (!m_entity || m_staticPose || !(m_main.state || m_overlay.state || m_pose.state))
    {
        // Nothing moves: time gathered here must not push whatever plays next past its start
        // (a play-once animation begun after a long still pose would end at once).
        m_step = 0.0f;
        return;
    }
    if (m_pose.state)
        advancePose(m_step);
    if (m_overlay.state)
        advanceOverlay(m_step);
    if (m_main.state)
        advanceMain(m_step);
    m_step = 0.0f;
    applyWeights();
}

void AnimationController::advancePose(float step)
{
    m_entity->getSkeleton()->setBlendMode(Ogre::ANIMBLEND_CUMULATIVE);
    if (stepLayer(m_pose, step, s_poseFadeOut) == STEP_PLAYING)
        return;
    // A pose ends with a stop and no end event.
    notifyStop(m_pose.type);
    releaseLayer(m_pose);
    m_entity->getSkeleton()->setBlendMode(Ogre::ANIMBLEND_AVERAGE);
}

void AnimationController::advanceOverlay(float step)
{
    if (stepLayer(m_overlay, step, s_overlayFadeOut) == STEP_PLAYING)
        return;
    const AnimationType ended = m_overlay.type;
    releaseLayer(m_overlay);
    if (ended != ANIM_NONE)
    {
        notifyEnd(ended, END_OVERLAY);
        notifyStop(ended);
    }
}

void AnimationController::advanceMain(float step)
{
    if (stepLayer(m_main, step, 1.0f) == STEP_PLAYING)
    {
        if (!m_prev.state)
            return;
        m_prev.state->addTime(step);
        if (m_main.weight < 1.0f)
            m_prev.weight = 1.0f - m_main.weight;
        else
            dropPrevious();
        return;
    }
    dropPrevious();
    // Holds its last frame.
    m_main.state->setTimePosition(m_main.state->getLength());
    const AnimationType ended = m_main.type;
    m_main.type = ANIM_NONE;
    if (ended != ANIM_NONE)
    {
        notifyEnd(ended, m_overlay.state ? END_MAIN_UNDER_OVERLAY : END_MAIN);
        notifyStop(ended);
    }
}

// --- Weights --------------------------------------------------------------------------------

void AnimationController::getLayerWeights(const Ogre::AnimationState* state, float& upper, float& lower) const
{
    upper = lower = 0.0f;
    for (const Layer* layer : {&m_main, &m_prev, &m_overlay, &m_pose})
        if (layer->holds(state))
        {
            upper = layer->upper;
            lower = layer->lower;
        }
}

void AnimationController::applyWeights()
{
    // Under an overlay the main and previous layers leave the upper body the overlay's share.
    const float upperShare = m_overlay.state ? 1.0f - m_overlay.weight : 1.0f;
    for (Layer* layer : {&m_main, &m_prev})
    {
        layer->upper = upperShare * layer->weight;
        layer->lower = layer->weight;
    }
    // A still pose holds the whole body, but for the upper-body share an overlay keeps.
    if (m_staticPose)
    {
        m_main.upper = upperShare;
        m_main.lower = 1.0f;
    }
    m_overlay.upper = m_overlay.weight;
    m_overlay.lower = 0.0f;
    m_pose.upper = m_pose.lower = m_pose.weight;

    if (!m_entity || !m_entity->hasSkeleton())
        return;
    avatar_detail::StateWeights layers[4];
    std::size_t count = 0;
    for (const Layer* layer : {&m_pose, &m_overlay, &m_prev, &m_main})
        if (layer->state)
            layers[count++] = {layer->state, layer->upper, layer->lower};
    if (count == 0)
        return;
    Ogre::SkeletonInstance* skeleton = m_entity->getSkeleton();
    avatar_detail::BodySplitRegistry& registry = avatar_detail::BodySplitRegistry::instance();
    bool rewrite = false;
    if (!m_partition || m_partitionGeneration != registry.generation())
    {
        // Masks written for another split may agree with the new one on the bones probed.
        rewrite = m_partition != nullptr;
        m_partition = registry.partition(*skeleton);
        m_partitionGeneration = registry.generation();
    }
    avatar_detail::applyStateWeights(*skeleton, *m_partition, layers, count, m_maskScratch, rewrite);
    for (std::size_t i = 0; i < count; ++i)
    {
        Ogre::AnimationState* state = layers[i].state;
        if (!state->hasBlendMask())
            continue;
        const auto known =
            std::find_if(m_masks.begin(), m_masks.end(), [state](const auto& m) { return m.first == state; });
        if (known == m_masks.end())
            m_masks.emplace_back(state, state->getBlendMask());
        else
            known->second = state->getBlendMask();
    }
}

// --- Layers by number -----------------------------------------------------------------------

AnimationType AnimationController::searchAnimation(unsigned layer) const
{
    const AnimationType current = m_pendingPlay ? m_pendingType : m_main.type;
    if (!m_overlay.state || layer == LAYER_MAIN)
        return current;
    if (layer == LAYER_OVERLAY)
        return m_overlay.type;
    return ANIM_NONE;
}

void AnimationController::clearAnimation(unsigned layer)
{
    if (m_group && layer == LAYER_WHOLE_BODY)
        leaveSharedPose();
    switch (layer)
    {
    case LAYER_WHOLE_BODY:
        if (m_overlay.state || !m_main.state)
            return;
        // The one fading out goes too: it would otherwise stay enabled with nothing to fade into.
        releaseLayer(m_prev);
        releaseLayer(m_main);
        break;
    case LAYER_MAIN:
    {
        if (!m_overlay.state || !m_main.state)
            return;
        Layer former = m_overlay;
        m_overlay.state = nullptr;
        m_overlay.type = ANIM_NONE;
        m_overlay.weight = 0.0f;
        releaseLayer(m_main);
        // The former overlay fades in from 0 as the main animation, over whatever fades out.
        m_phaseDebt = 0.0f;
        m_main.state = former.state;
        m_main.type = former.type;
        m_main.weight = 0.0f;
        m_main.playOnce = former.playOnce;
        break;
    }
    case LAYER_OVERLAY:
        if (!m_overlay.state)
            return;
        releaseLayer(m_overlay);
        break;
    case LAYER_POSE:
        if (!m_pose.state)
            return;
        releaseLayer(m_pose);
        if (m_entity && m_entity->hasSkeleton())
            m_entity->getSkeleton()->setBlendMode(Ogre::ANIMBLEND_AVERAGE);
        break;
    default:
        return;
    }
    applyWeights();
}

// --- Shared pose ----------------------------------------------------------------------------

void AnimationController::setDetailLevel(int level)
{
    if (level != s_detailFull && level != s_detailShared && level != s_detailByDistance)
        return;
    m_detail = level;
    if (level == s_detailFull && m_group)
        leaveSharedPose();
}

bool AnimationController::wantsSharedPose(bool sharing) const
{
    return m_detail == s_detailShared ||
           (m_detail == s_detailByDistance && avatar_detail::PoseSharing::instance().isFar(m_entity, sharing));
}

void AnimationController::letGoOfSharedPose()
{
    if (!m_group)
        return;
    avatar_detail::PoseSharing::instance().leave(m_group, m_entity, this);
    m_group = nullptr;
    ++m_statesGeneration;
}

void AnimationController::leaveSharedPoseInFrame(float seconds)
{
    m_group->advance(this, seconds);
    m_leaveRewind = finiteOrZero(seconds) * mainPace();
    leaveSharedPose();
    m_leaveRewind = 0.0f;
}

float AnimationController::mainPace()
{
    return m_playSpeed * mainRate();
}

void AnimationController::ratesChanged()
{
    if (m_group && m_owner && mainPace() != m_group->rate())
        leaveSharedPose();
}

void AnimationController::keepOwnPose()
{
    m_keepOwnPose = true;
    if (m_group)
        leaveSharedPose();
}

bool AnimationController::canSharePose() const
{
    return m_entity && m_main.state && m_main.type != ANIM_NONE && !m_main.playOnce && m_main.weight >= 1.0f &&
           !m_prev.state && !m_overlay.state && !m_pose.state && !m_staticPose && !m_paused && !m_pendingPlay &&
           m_main.state->getLoop() && m_main.state->getEnabled();
}

void AnimationController::joinSharedPose(float seconds)
{
    const float pace = mainPace();
    float debt = m_phaseDebt;
    avatar_detail::PoseGroup* group =
        avatar_detail::PoseSharing::instance().join(m_entity, m_main.state, pace, seconds * pace, debt);
    if (!group)
    {
        // Refused by the engine after the masks were freed: those still there are counted again,
        // and the layers write theirs anew.
        m_masks.clear();
        for (const auto& entry : m_entity->getAllAnimationStates()->getAnimationStates())
            if (entry.second->hasBlendMask())
                m_masks.emplace_back(entry.second, entry.second->getBlendMask());
        applyWeights();
        return;
    }
    // Every mask on the entity's states went with the join; the states themselves, unless the
    // entity started the group.
    m_masks.clear();
    m_phaseDebt = debt;
    m_group = group;
    ++m_statesGeneration;
    m_main.state = group->state();
    m_main.weight = 1.0f;
    m_main.upper = m_main.lower = 1.0f;
    m_rateState = nullptr;
    m_tickAccum = 0.0f;
    m_step = 0.0f;
}

void AnimationController::leaveSharedPose()
{
    avatar_detail::PoseGroup* group = m_group;
    m_group = nullptr;
    ++m_statesGeneration;
    const float length = group->state()->getLength();
    float time = group->state()->getTimePosition() - m_leaveRewind;
    if (time < 0.0f)
        time = length > 0.0f ? std::fmod(time, length) + length : 0.0f;
    const std::string name = group->state()->getAnimationName();
    avatar_detail::PoseSharing::instance().leave(group, m_entity, this);
    m_rateState = nullptr;
    m_tickAccum = 0.0f;
    m_step = 0.0f;
    // The main loop plays on from the group's phase, in the entity's own state.
    Ogre::AnimationState* own = findState(name.c_str());
    m_main.state = own;
    if (!own)
    {
        forgetLayers();
        return;
    }
    own->setEnabled(true);
    own->setLoop(true);
    own->setTimePosition(time);
    m_main.weight = 1.0f;
    applyWeights();
}
