#pragma once

// What the sample content pack holds, as data: its items, worn items, creatures, NPCs, objects,
// animations and character presets. The generator writes the pack from it; the tests, the demo
// and the benchmarks take their facts about the pack from it instead of typing them again.

#include <string>
#include <vector>

namespace pack_description
{

// Items hung on bones.

enum class ItemShape
{
    Helm,
    Pauldron,
    Sword,
    Mace,
    Dagger,
    Blade,
    Staff,
    Shield,
    Pouch,
    Scabbard,
    Greatsword,
    Hammer,
    Bow,
    TowerShield,
    Axe,
    Banner
};

struct ItemDef
{
    unsigned id;
    std::string name;
    unsigned type;
    std::string model;
    std::string model2;
    unsigned hideHair; // for back weapons of type 9: the kind that chooses the back bone
    unsigned hideHead;
    std::string effects[3];
    unsigned flag;
    ItemShape shape;
    std::vector<std::string> effectBones;
};

constexpr unsigned s_helmType = 1;

const std::vector<ItemDef>& itemDefs();

// Worn items: textures and geosets of the body.

struct WornDef
{
    unsigned id;
    std::string name;
    unsigned type;
    std::string texPath, outModel, material;
    std::string texHand, matHand, texBody, matBody, texPants, matPants, texFoot, matFoot;
    unsigned flag;
    unsigned hideBody;
};

const std::vector<WornDef>& wornDefs();

// Creatures, NPCs and objects.

enum class Rig
{
    Humanoid,
    Golem,
    Naga,
    Quadruped,
    Prop
};

struct CreatureDef
{
    unsigned id;
    float scale;
    std::string name;
    std::string meshBase;
    bool generated; // false: the row names a mesh the pack lacks, so the fallback mesh is used
    std::string effects[5];
    float walkSpeed, runSpeed, cameraBias;
    unsigned beTransObject;
    Rig rig;
};

/// The mesh (without ".mesh") that stands in for a creature mesh the pack lacks.
const char* const s_fallbackMesh = "G_jiaoren_women";

const std::vector<CreatureDef>& creatureDefs();

const std::vector<CreatureDef>& npcDefs();

const std::vector<CreatureDef>& objectDefs();

// Animation table rows: type, play type (0 loop, 1 once, 2 pose), body layer (0 whole, 1 lower, 2 upper), merge.

struct AnimDef
{
    unsigned type, playType, blendType;
    std::string name;
    unsigned merge;
    std::string remark;
};

const std::vector<AnimDef>& animDefs();

// Character presets.

struct PresetDef
{
    std::string name;
    unsigned race, gender, facialHairStyle, hairStyle, hairColor, skinColor, faceType;
    unsigned head, shoulder, boot, belt, shirt, pants, doublehand, shield, glove, leftHand, rightHand;
    unsigned backLongWeapon, backShield, leftWaist, rightWaist;
};

const std::vector<PresetDef>& presetDefs();

/// The items a host may offer for each equipment place, by CharSlots value (the empty place
/// not included).
const std::vector<std::vector<unsigned>>& itemsByPlace();

} // namespace pack_description
