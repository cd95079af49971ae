#include "choreography.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace
{

// The sample pack's animation types (its "Animation.csv").
const AnimationType kStand = static_cast<AnimationType>(0);
const AnimationType kWalk = static_cast<AnimationType>(1);
const AnimationType kRun = static_cast<AnimationType>(2);
const AnimationType kAttack1 = static_cast<AnimationType>(10);
const AnimationType kAttack2 = static_cast<AnimationType>(11);
const AnimationType kCast = static_cast<AnimationType>(12);
const AnimationType kKneel = static_cast<AnimationType>(13);
const AnimationType kDeath = static_cast<AnimationType>(20);
const AnimationType kNod = static_cast<AnimationType>(30);
const int kRunKinds = 7; // Run and its six styles, types 2 to 8

std::string label(AnimationType type, const AnimationNamer& name)
{
    if (type == ANIM_NONE)
        return "none";
    const std::string text = name(type);
    return (text.empty() ? std::string("type") : text) + "(" + std::to_string(static_cast<int>(type)) + ")";
}

/// How many times a cue first due at @p at and repeated every @p period has come due by @p time.
long timesDue(float time, float at, float period)
{
    if (time < at)
        return 0;
    return period > 0.0f ? static_cast<long>(std::floor((time - at) / period)) + 1 : 1;
}

std::string percent(IInstance* instance, AnimationType type, const AnimationNamer& name)
{
    const float played = instance->getPlayPercent(name(type));
    if (played < 0.0f)
        return "";
    char text[16];
    std::snprintf(text, sizeof(text), " %.0f%%", played * 100.0f);
    return text;
}

} // namespace

void EventRecorder::onAnimationEnd(AnimationType type, int part)
{
    m_events.push_back(Event{Event::End, type, false, part});
}

void EventRecorder::onAnimationState(AnimationType type, bool stopped, bool looping)
{
    m_events.push_back(Event{stopped ? Event::Stop : Event::Start, type, looping, 0});
}

std::vector<std::string> EventRecorder::describe(const AnimationNamer& name) const
{
    std::vector<std::string> texts;
    std::string previous;
    int repeats = 0;
    auto flush = [&]()
    {
        if (!previous.empty())
            texts.push_back(repeats > 1 ? previous + " x" + std::to_string(repeats) : previous);
    };
    for (const Event& event : m_events)
    {
        std::string text;
        switch (event.kind)
        {
        case Event::Start:
            text = "start " + label(event.type, name) + (event.looping ? " loop" : " once");
            break;
        case Event::Stop:
            text = "stop " + label(event.type, name);
            break;
        case Event::End:
            text = "end " + label(event.type, name) + " part " + std::to_string(event.part);
            break;
        }
        if (text == previous)
        {
            ++repeats;
            continue;
        }
        flush();
        previous = text;
        repeats = 1;
    }
    flush();
    return texts;
}

const char* roleName(Role role)
{
    switch (role)
    {
    case Role::Walker:
        return "walks, swings over its legs";
    case Role::Runner:
        return "runs, casts and thrusts over its legs";
    case Role::Nodder:
        return "walks and nods";
    case Role::Prowler:
        return "prowls and attacks";
    case Role::Idler:
        return "stands and nods";
    case Role::Kneeler:
        return "stands, then kneels";
    case Role::Prop:
        return "idles";
    case Role::Dying:
        return "stands, then dies";
    }
    return "";
}

void Choreography::add(IInstance* instance, Role role, int variant, float runSpeed, float walkSpeed)
{
    m_actors.emplace_back();
    Actor& actor = m_actors.back();
    actor.instance = instance;
    actor.role = role;
    actor.runSpeed = runSpeed;
    actor.walkSpeed = walkSpeed;
    actor.baseStart = std::fmod(0.37f * static_cast<float>(m_actors.size()), 1.0f);
    const float v = static_cast<float>(variant);
    switch (role)
    {
    case Role::Walker:
        actor.base = kWalk;
        actor.cues = {{0.6f + 0.35f * v, 1.6f, kAttack1, false, false}};
        break;
    case Role::Runner:
        actor.base = static_cast<AnimationType>(kRun + variant % kRunKinds);
        actor.cues = {{0.4f + 0.2f * v, 2.4f, kCast, false, false}, {1.6f + 0.2f * v, 2.4f, kAttack2, false, false}};
        break;
    case Role::Nodder:
        actor.base = kWalk;
        actor.cues = {{0.3f + 0.25f * v, 1.2f, kNod, false, false}};
        break;
    case Role::Prowler:
        actor.base = variant % 2 ? kWalk : kRun;
        actor.cues = {{0.8f + 0.3f * v, 2.0f, variant % 2 ? kAttack1 : kAttack2, false, false}};
        break;
    case Role::Idler:
        actor.base = kStand;
        actor.cues = {{0.5f + 0.4f * v, 1.5f, kNod, false, false}};
        break;
    case Role::Kneeler:
        actor.base = kStand;
        actor.cues = {{0.5f, 0.0f, kKneel, true, true}};
        break;
    case Role::Prop:
        actor.base = kStand;
        break;
    case Role::Dying:
        actor.base = kStand;
        actor.cues = {{0.3f, 0.0f, kDeath, true, true}};
        break;
    }
}

void Choreography::advance(float before, float now, std::size_t first, std::size_t last)
{
    for (std::size_t i = first; i < std::min(last, m_actors.size()); ++i)
    {
        Actor& actor = m_actors[i];
        IInstance* instance = actor.instance;
        if (!instance || !instance->getEntityPtr() || actor.finished)
            continue;
        if (!actor.started)
        {
            actor.started = true;
            instance->setActionCallBack(&actor.recorder);
            if (actor.runSpeed > 0.0f || actor.walkSpeed > 0.0f)
                instance->setSpeed(actor.runSpeed, actor.walkSpeed);
            instance->playAnimation(actor.base, BLEND_SMOOTH, actor.baseStart, &actor.recorder, false);
            continue;
        }
        for (const Actor::Cue& cue : actor.cues)
        {
            if (cue.fromShow && m_showStart < 0.0f)
                continue;
            const float at = cue.fromShow ? m_showStart + cue.at : cue.at;
            if (timesDue(now, at, cue.period) == timesDue(before, at, cue.period))
                continue;
            instance->playAnimation(cue.type, BLEND_SMOOTH, 0.0f, &actor.recorder, true);
            if (cue.last)
            {
                actor.finished = true;
                break;
            }
        }
    }
}

std::string Choreography::current(const Actor& actor, const AnimationNamer& name)
{
    IInstance* instance = actor.instance;
    if (!instance || !instance->getEntityPtr())
        return "(not built)";
    // Without an overlay every layer answers the main animation; with one, layer 0 answers none.
    const AnimationType whole = instance->searchAnimation(0);
    const AnimationType main = instance->searchAnimation(1);
    const bool overlaid = whole != main;
    std::string text;
    if (main != ANIM_NONE)
        text = label(main, name) + percent(instance, main, name);
    else
    {
        text = "none";
        const auto& events = actor.recorder.events();
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->kind == EventRecorder::Event::End && it->part != 2)
            {
                text += " (" + label(it->type, name) + " ended, its last frame held)";
                break;
            }
    }
    if (overlaid)
    {
        const AnimationType overlay = instance->searchAnimation(2);
        text += ", overlay " + label(overlay, name) + percent(instance, overlay, name);
    }
    return text;
}
