#include "keymap.h"

#include <OgreInput.h>

#include <cstdio>

namespace
{
using namespace OgreBites;
}

const std::vector<KeyBinding>& keyBindings()
{
    using A = ViewerAction;
    static const std::vector<KeyBinding> keys = {
        {'\t', false, A::NextKind, "Tab", "next kind: presets, creatures, NPCs, objects"},
        {'1', false, A::ShowPresets, "1", "presets"},
        {'2', false, A::ShowCreatures, "2", "creatures"},
        {'3', false, A::ShowNpcs, "3", "NPCs"},
        {'4', false, A::ShowObjects, "4", "objects"},
        {SDLK_RIGHT, false, A::NextAvatar, "Right", "next avatar of the kind"},
        {SDLK_LEFT, false, A::PreviousAvatar, "Left", "previous avatar of the kind"},
        {SDLK_DOWN, false, A::NextPlace, "Down", "next equipment place (players)"},
        {SDLK_UP, false, A::PreviousPlace, "Up", "previous equipment place"},
        {'e', false, A::NextItem, "E", "next item that fits the place (empty included)"},
        {'e', true, A::PreviousItem, "Shift+E", "previous item that fits the place"},
        {'a', false, A::NextAnimation, "A", "play the avatar's next animation type"},
        {'a', true, A::PreviousAnimation, "Shift+A", "play the previous animation type"},
        {'s', false, A::HoldStill, "S", "hold the chosen animation still, halfway"},
        {'c', false, A::ClearAnimations, "C", "clear every animation layer"},
        {SDLK_SPACE, false, A::TogglePause, "Space", "pause or resume the animations"},
        {'h', false, A::ToggleHighlight, "H", "highlight on or off"},
        {'o', false, A::NextOpacity, "O", "opacity 1, 0.6, 0.3"},
        {'f', false, A::NextTextureFilter, "F", "texture filter level 0 to 4"},
        {'r', false, A::ReloadTables, "R", "read the tables again and rebuild (F5 too)"},
        {SDLK_F5, false, A::ReloadTables, "F5", "the same"},
        {SDLK_F12, false, A::Screenshot, "F12", "save a screenshot (P too)"},
        {'p', false, A::Screenshot, "P", "the same"},
        {SDLK_F1, false, A::TogglePanel, "F1", "show or hide the panel"},
        {SDLK_HOME, false, A::ResetCamera, "Home", "frame the avatar again, from the first angle"},
        {SDLK_PAGEDOWN, false, A::ScrollDown, "PageDown", "scroll the table findings down"},
        {SDLK_PAGEUP, false, A::ScrollUp, "PageUp", "scroll them up"},
        {SDLK_ESCAPE, false, A::Quit, "Escape", "quit"},
    };
    return keys;
}

bool findAction(int key, bool shift, ViewerAction& action)
{
    for (const KeyBinding& binding : keyBindings())
        if (binding.key == key && binding.shift == shift)
        {
            action = binding.action;
            return true;
        }
    // Keys without a Shift binding do the same with Shift held.
    if (shift)
        return findAction(key, false, action);
    return false;
}

std::string keyHelp()
{
    std::string help;
    char line[160];
    for (const KeyBinding& binding : keyBindings())
    {
        std::snprintf(line, sizeof(line), "  %-9s %s\n", binding.keyName, binding.what);
        help += line;
    }
    help += "  mouse     drag with the left button to orbit, the wheel to come closer or go back\n";
    return help;
}
