#pragma once

// What the sample content pack holds, as a host driving it needs to know: presets, creatures,
// NPCs and objects by name and ID, animation types and names, and the items of each equipment
// place, taken from the pack's own description. Shared by the soak, the interface fuzzer and the
// dressing tests.

#include "support/packdescription.h"

#include <algorithm>
#include <vector>

namespace pack
{
namespace detail
{
template <class Def> std::vector<const char*> namesOf(const std::vector<Def>& defs)
{
    std::vector<const char*> names;
    for (const Def& def : defs)
        names.push_back(def.name.c_str());
    return names;
}
template <class Def> std::vector<unsigned> idsOf(const std::vector<Def>& defs)
{
    std::vector<unsigned> ids;
    for (const Def& def : defs)
        ids.push_back(def.id);
    return ids;
}
inline std::vector<unsigned> animationTypes()
{
    std::vector<unsigned> types;
    for (const pack_description::AnimDef& anim : pack_description::animDefs())
        types.push_back(anim.type);
    return types;
}
inline std::vector<const char*> animationNames()
{
    std::vector<const char*> names;
    for (const pack_description::AnimDef& anim : pack_description::animDefs())
        if (std::none_of(names.begin(), names.end(), [&anim](const char* name) { return anim.name == name; }))
            names.push_back(anim.name.c_str());
    return names;
}
} // namespace detail

inline const std::vector<const char*> kPresets = detail::namesOf(pack_description::presetDefs());
inline const std::vector<const char*> kCreatureNames = detail::namesOf(pack_description::creatureDefs());
inline const std::vector<const char*> kNpcNames = detail::namesOf(pack_description::npcDefs());
inline const std::vector<const char*> kObjectNames = detail::namesOf(pack_description::objectDefs());
inline const std::vector<unsigned> kCreatureIds = detail::idsOf(pack_description::creatureDefs());
inline const std::vector<unsigned> kNpcIds = detail::idsOf(pack_description::npcDefs());
inline const std::vector<unsigned> kObjectIds = detail::idsOf(pack_description::objectDefs());
/// The animation table's types, of every layer: loops, lower and upper body, whole body, poses.
inline const std::vector<unsigned> kAnimationTypes = detail::animationTypes();
/// The animation table's names, each once.
inline const std::vector<const char*> kAnimationNames = detail::animationNames();

/// The items that fit each equipment place, by CharSlots value.
inline const std::vector<std::vector<unsigned>>& itemsByPlace()
{
    return pack_description::itemsByPlace();
}

/// The equipment places of a setting, by CharSlots value.
template <class Setting> std::vector<unsigned*> places(Setting& s)
{
    return {&s.head,     &s.shoulder,       &s.boot,       &s.belt,       &s.shirt,
            &s.pants,    &s.doublehand,     &s.shield,     &s.glove,      &s.rightHand,
            &s.leftHand, &s.backLongWeapon, &s.backShield, &s.rightWaist, &s.leftWaist};
}
} // namespace pack
