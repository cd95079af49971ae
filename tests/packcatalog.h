#pragma once

// What the sample content pack holds, as a host driving it needs to know: presets, creatures,
// NPCs and objects by name and ID, animation types and names, and the items of each equipment
// place. Shared by the soak and the interface fuzzer.

#include <vector>

namespace pack
{
const char* const kPresets[] = {"Warrior",   "Archer",   "Mage",   "Berserker", "Paladin",
                                "Priestess", "Villager", "Knight", "Ranger"};
const char* const kCreatureNames[] = {"Grey Wolf",   "Cave Spider", "Lost Ghost",
                                      "Stone Golem", "Naga Matron", "Dragon Whelp"};
const char* const kNpcNames[] = {"Blacksmith", "Guard Captain", "Wandering Merchant"};
const char* const kObjectNames[] = {"Treasure Chest", "Campfire", "Signpost"};
const unsigned kCreatureIds[] = {1, 2, 5, 10001, 10002, 29999};
const unsigned kNpcIds[] = {30000, 36999, 39000};
const unsigned kObjectIds[] = {37000, 37500, 38999};
/// The animation table's types, of every layer: loops, lower and upper body, whole body, poses.
const unsigned kAnimationTypes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 20, 30, 31};
const char* const kAnimationNames[] = {"Stand", "Walk",  "Run",   "Attack1", "Attack2",
                                       "Cast",  "Kneel", "Death", "Pose_Nod"};

/// The items that fit each equipment place, by CharSlots value.
inline const std::vector<std::vector<unsigned>>& itemsByPlace()
{
    static const std::vector<std::vector<unsigned>> items = {
        {101, 102, 103, 104, 105},                // head
        {201, 202, 203, 204},                     // shoulder
        {5001, 5002, 5003, 5004},                 // boot
        {6001, 6002, 6003},                       // belt
        {2001, 2002, 2003, 2004},                 // shirt
        {3001, 3002, 3003, 3004},                 // pants
        {901, 902, 903},                          // doublehand
        {501, 502, 503, 1101, 1102, 1103},        // shield
        {4001, 4002, 4003, 4004},                 // glove
        {301, 302, 303, 304, 401, 402, 403, 404}, // right hand
        {301, 302, 303, 304, 401, 403, 404},      // left hand
        {1001, 1002, 1201, 901, 902, 903, 402},   // back long weapon
        {1101, 1102, 1103, 501},                  // back shield
        {601, 602, 603, 604},                     // right waist
        {601, 602, 603, 604},                     // left waist
    };
    return items;
}

/// The equipment places of a setting, by CharSlots value.
template <class Setting> std::vector<unsigned*> places(Setting& s)
{
    return {&s.head,     &s.shoulder,       &s.boot,       &s.belt,       &s.shirt,
            &s.pants,    &s.doublehand,     &s.shield,     &s.glove,      &s.rightHand,
            &s.leftHand, &s.backLongWeapon, &s.backShield, &s.rightWaist, &s.leftWaist};
}
} // namespace pack
