#pragma once

// The demo host's script: which animations each avatar of the lineup plays and when, given only
// through IInstance as a game client gives them, and what each avatar reports back.

#include <avatarsystem/avatarinterface.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

/// The name of an animation type's skeletal animation ("Walk"), or an empty text for an unknown type.
using AnimationNamer = std::function<std::string(AnimationType)>;

/// The host's receiver of one avatar's animation events: it keeps them in the order they came.
class EventRecorder final : public IActionCallback
{
public:
    struct Event
    {
        enum Kind
        {
            Start,
            Stop,
            End
        } kind;
        AnimationType type;
        bool looping; ///< Start only
        int part;     ///< End only: 0 main, 1 main under an overlay, 2 overlay
    };

    void onAnimationEnd(AnimationType type, int part) override;
    void onAnimationState(AnimationType type, bool stopped, bool looping) override;

    const std::vector<Event>& events() const { return m_events; }
    /// The events as short texts ("start Walk(1) loop", "end Attack1(10) part 2", "stop Walk(1)"),
    /// a run of equal events as one text with its count ("... x3").
    std::vector<std::string> describe(const AnimationNamer& name) const;

private:
    std::vector<Event> m_events;
};

/// What an avatar does in the demo.
enum class Role
{
    Walker,  ///< walks, swings an upper-body attack over its legs now and then
    Runner,  ///< runs, casts over its legs, now and then a thrust
    Nodder,  ///< walks and nods (an additive pose)
    Prowler, ///< a creature walking or running with attacks over its legs
    Idler,   ///< stands and nods now and then
    Kneeler, ///< stands, then kneels once and stays down
    Prop,    ///< an object's idle loop
    Dying    ///< stands, then plays its death once and holds the last frame
};

const char* roleName(Role role);

/// The lineup's actors. Times are seconds on the demo's clock, which starts at the first frame.
class Choreography
{
public:
    /// Adds an avatar with its role; @p variant varies the role between avatars sharing it.
    /// @p runSpeed and @p walkSpeed are the movement speeds the host gives it (setSpeed); with both
    /// 0 the avatar keeps its own.
    void add(IInstance* instance, Role role, int variant, float runSpeed, float walkSpeed);

    /// The captured moments begin at @p time: the one-off acts (a death, a kneel) come shortly
    /// after it so that the pictures show them; before this call they wait.
    void startShow(float time) { m_showStart = time; }

    /// Gives every avatar whose entity exists what is due in (@p before, @p now]; an avatar seen
    /// with an entity for the first time gets its callback, its speeds and its base loop, played
    /// deferred so that it starts at the beginning of its next update. Only the actors [@p first,
    /// @p last) in the order added, when given.
    void advance(float before, float now, std::size_t first = 0, std::size_t last = SIZE_MAX);

    struct Actor
    {
        IInstance* instance = nullptr;
        Role role = Role::Prop;
        EventRecorder recorder;
        float runSpeed = 0.0f, walkSpeed = 0.0f;
        bool started = false;
        bool finished = false; ///< after a play that must stay the last one (a death)

        struct Cue
        {
            float at;     ///< first time
            float period; ///< 0: once
            AnimationType type;
            bool last;     ///< nothing is played after it
            bool fromShow; ///< @p at counts from the start of the show
        };
        AnimationType base = ANIM_NONE;
        float baseStart = 0.0f; ///< start fraction of the base loop, so that the avatars are out of step
        std::vector<Cue> cues;
    };

    /// One per added avatar, in the order added; the recorders stay where they are.
    const std::deque<Actor>& actors() const { return m_actors; }

    /// What an avatar plays now, from its layers: "Walk(1) 35%, overlay Attack1(10) 60%", or
    /// "none" with the last animation that ended and holds its final frame.
    static std::string current(const Actor& actor, const AnimationNamer& name);

private:
    float m_showStart = -1.0f; ///< negative until the show starts
    std::deque<Actor> m_actors;
};
