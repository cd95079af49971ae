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
    void onInstanceReady(IInstance* instance, int) override { calls.push_back({"ready", instance, 0.0f}); }
    unsigned getViewKey() override { return m_key; }
    void onCreatureReadyA(IInstance* instance, float bias) override { calls.push_back({"A", instance, bias}); }
    void onCreatureReadyB(IInstance* instance, float bias) override { calls.push_back({"B", instance, bias}); }
    std::vector<Call> calls;

private:
    unsigned m_key;
};

/// Both render-to-texture callbacks of a copy, recording the order of their calls.
class RecordingCopyCallbacks : public IRttObjectCallback, public I3DRttObjectCallback
{
public:
    void onCopyCreated() override { calls.push_back("copy"); }
    void onPlayerCopyCreated() override { calls.push_back("player"); }
    void onCreatureCopyCreated() override { calls.push_back("creature"); }
    std::vector<std::string> calls;
};
