#pragma once

#include <string>
#include <vector>

/// What a key asks the viewer to do.
enum class ViewerAction
{
    NextKind,
    ShowPresets,
    ShowCreatures,
    ShowNpcs,
    ShowObjects,
    NextAvatar,
    PreviousAvatar,
    NextPlace,
    PreviousPlace,
    NextItem,
    PreviousItem,
    NextAnimation,
    PreviousAnimation,
    HoldStill,
    ClearAnimations,
    TogglePause,
    ToggleHighlight,
    NextOpacity,
    NextTextureFilter,
    ReloadTables,
    Screenshot,
    TogglePanel,
    ResetCamera,
    ScrollDown,
    ScrollUp,
    Quit
};

/// One key of the viewer. Keys are the engine's input key codes (letters lower case, as SDL
/// reports them); shift true binds the key pressed with Shift.
struct KeyBinding
{
    int key;
    bool shift;
    ViewerAction action;
    const char* keyName; ///< as a person types it, e.g. "Shift+E"
    const char* what;
};

/// Every key, in the order the help lists them.
const std::vector<KeyBinding>& keyBindings();

/// The action of a key with Shift held or not; false when the key does nothing.
bool findAction(int key, bool shift, ViewerAction& action);

/// The key list as the help prints it: one line per key, the mouse last.
std::string keyHelp();
