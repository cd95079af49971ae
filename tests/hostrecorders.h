#pragma once

#include "avatarsystem/avatarinterface.h"

#include <string>
#include <vector>

/// A host view object that records every notification with the camera bias it carried.
class RecordingView : public IEntityView
{
public:
    struct Call
    {
        std::string kind; ///< "ready", "A" or "B"
        IInstance* instance;
        float cameraBias;
    };
    explicit RecordingView(unsigned key = 11) : m_key(key) {}
    virtual ~RecordingView() = default; // tests derive views that misbehave
    void onInstanceReady(IInstance* instance, int) override { calls.push_back({"ready", instance, 0.0f}); }
    unsigned getViewKey() override { return m_key; }
    void onCreatureReadyA(IInstance* instance, float bias) override { calls.push_back({"A", instance, bias}); }
    void onCreatureReadyB(IInstance* instance, float bias) override { calls.push_back({"B", instance, bias}); }
    std::vector<Call> calls;

private:
    unsigned m_key;
};

/// Both render-to-texture callbacks of a copy, recording the order of their calls.
class RecordingCopyCallbacks final : public IRttObjectCallback, public I3DRttObjectCallback
{
public:
    void onCopyCreated() override { calls.push_back("copy"); }
    void onPlayerCopyCreated() override { calls.push_back("player"); }
    void onCreatureCopyCreated() override { calls.push_back("creature"); }
    std::vector<std::string> calls;
};

/// A host's animation listener that records every event as text: "start 1 loop", "start 10 once",
/// "stop 1", "end 20 part 0".
class RecordingActions final : public IActionCallback
{
public:
    void onAnimationEnd(AnimationType type, int part) override
    {
        events.push_back("end " + std::to_string(type) + " part " + std::to_string(part));
    }
    void onAnimationState(AnimationType type, bool stopped, bool looping) override
    {
        events.push_back((stopped ? "stop " : "start ") + std::to_string(type) +
                         (stopped ? (looping ? " loop?" : "") : (looping ? " loop" : " once")));
    }
    /// The events since the last call, then forgets them.
    std::vector<std::string> take()
    {
        std::vector<std::string> taken;
        taken.swap(events);
        return taken;
    }
    std::vector<std::string> events;
};
