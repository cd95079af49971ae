#include "support/packdescription.h"

namespace pack_description
{

const std::vector<ItemDef>& itemDefs()
{
    static const std::vector<ItemDef> items = {
        {101, "Iron Helm", s_helmType, "helm_01", "", 0, 0, {}, 2, ItemShape::Helm, {}},
        {102, "Leather Hood", s_helmType, "helm_02", "", 1, 0, {}, 2, ItemShape::Helm, {}},
        {103, "Great Helm", s_helmType, "helm_03", "", 11, 11, {}, 2, ItemShape::Helm, {}},
        {104, "Circlet", s_helmType, "helm_04", "", 10, 1, {}, 0, ItemShape::Helm, {}},
        {105, "Tiara", s_helmType, "helm_05", "", 0, 21, {}, 1, ItemShape::Helm, {}},
        {201,
         "Iron Pauldrons",
         2,
         "shoulder_01_l",
         "shoulder_01_r",
         0,
         0,
         {"fx_glow_blue", "fx_glow_red", "fx_spark"},
         2,
         ItemShape::Pauldron,
         {"Shoulder_1"}},
        {202, "Leather Pads", 2, "shoulder_02_l", "shoulder_02_r", 0, 0, {}, 2, ItemShape::Pauldron, {}},
        {301,
         "Short Sword",
         3,
         "sword_01",
         "",
         0,
         0,
         {"fx_fire", "fx_glow_blue", ""},
         2,
         ItemShape::Sword,
         {"weapon_2"}},
        {302, "Mace", 3, "mace_01", "", 0, 0, {}, 2, ItemShape::Mace, {}},
        {303, "Dagger", 3, "dagger_01", "", 0, 0, {"fx_spark", "", ""}, 1, ItemShape::Dagger, {}},
        {401,
         "Twin Blades",
         4,
         "twinblade_01_l",
         "twinblade_01_r",
         0,
         0,
         {"fx_glow_red", "fx_fire", ""},
         2,
         ItemShape::Blade,
         {"weapon_2"}},
        {402, "Oak Staff", 4, "staff_01", "", 0, 0, {"fx_aura", "", ""}, 2, ItemShape::Staff, {"weapon_2"}},
        {501, "Round Shield", 5, "shield_01", "", 0, 0, {}, 2, ItemShape::Shield, {}},
        {601, "Herb Pouch", 6, "pouch_01", "", 0, 0, {}, 2, ItemShape::Pouch, {}},
        {602, "Scabbard", 6, "scabbard_01", "", 0, 0, {"fx_glow_blue", "", ""}, 2, ItemShape::Scabbard, {"weapon_2"}},
        {901,
         "Greatsword",
         9,
         "greatsword_01",
         "",
         0,
         0,
         {"fx_fire", "fx_aura", "fx_spark"},
         2,
         ItemShape::Greatsword,
         {"weapon_2", "Shoulder_1"}},
        {902, "Battle Staff", 9, "battlestaff_01", "", 1, 0, {"fx_aura", "", ""}, 2, ItemShape::Staff, {"Shoulder_1"}},
        {903, "Warhammer", 9, "warhammer_01", "", 2, 0, {}, 2, ItemShape::Hammer, {}},
        {1001, "Longbow", 10, "bow_01", "", 0, 0, {"fx_glow_blue", "", ""}, 2, ItemShape::Bow, {"weapon_2"}},
        {1101, "Tower Shield", 11, "shield_02", "", 0, 0, {}, 2, ItemShape::TowerShield, {}},
        // One item per gender for each place besides the shared ones above.
        {203,
         "Bone Spaulders",
         2,
         "shoulder_03_l",
         "shoulder_03_r",
         0,
         0,
         {"fx_fire", "fx_smoke", ""},
         0,
         ItemShape::Pauldron,
         {"Shoulder_1"}},
        {204, "Silk Mantle", 2, "shoulder_04_l", "", 0, 0, {"", "", "fx_aura"}, 1, ItemShape::Pauldron, {"Shoulder_1"}},
        {304, "War Axe", 3, "axe_01", "", 0, 0, {"", "fx_spark", ""}, 0, ItemShape::Axe, {"weapon_2"}},
        {403,
         "Twin Axes",
         4,
         "twinaxe_01_l",
         "twinaxe_01_r",
         0,
         0,
         {"fx_fire", "", ""},
         0,
         ItemShape::Axe,
         {"weapon_2"}},
        {404,
         "Moon Glaives",
         4,
         "glaive_01_l",
         "glaive_01_r",
         0,
         0,
         {"fx_glow_blue", "fx_aura", ""},
         1,
         ItemShape::Blade,
         {"weapon_2"}},
        {502, "Kite Shield", 5, "shield_03", "", 0, 0, {}, 0, ItemShape::Shield, {}},
        {503, "Buckler", 5, "shield_04", "", 0, 0, {}, 1, ItemShape::Shield, {}},
        {603, "Hunting Knife", 6, "knife_01", "", 0, 0, {"fx_spark", "", ""}, 0, ItemShape::Scabbard, {"weapon_2"}},
        {604, "Fan Case", 6, "pouch_02", "", 0, 0, {}, 1, ItemShape::Pouch, {}},
        {1002, "Short Bow", 10, "bow_02", "", 0, 0, {"", "fx_glow_red", ""}, 1, ItemShape::Bow, {"weapon_2"}},
        {1102, "Pavise", 11, "shield_05", "", 0, 0, {}, 0, ItemShape::TowerShield, {}},
        {1103, "Targe", 11, "shield_06", "", 0, 0, {}, 1, ItemShape::Shield, {}},
        // A back item of neither back-weapon type: the system hangs it on the long-weapon bone.
        {1201, "War Banner", 8, "banner_01", "", 0, 0, {"fx_smoke", "", ""}, 2, ItemShape::Banner, {"weapon_2"}},
    };
    return items;
}

const std::vector<WornDef>& wornDefs()
{
    // Types follow the equipment place: 2 boot, 3 belt, 4 shirt, 5 pants, 8 glove.
    static const std::vector<WornDef> worn = {
        {2001, "Cloth Shirt", 4, "", "", "", "cloth_sleeve", "", "cloth_shirt", "sec_cloth", "", "", "", "", 2, 0},
        {2002, "Plate Cuirass", 4, "plate_cuirass_out.dds", "shirt_out_0", "out_plate", "", "", "plate_body",
         "sec_plate", "", "", "", "", 2, 1},
        {2003, "Silk Blouse", 4, "", "", "", "silk_sleeve", "sec_cloth", "silk_blouse", "", "", "", "", "", 1, 0},
        {2004, "Wizard Robe", 4, "robe_out.dds", "robe_out_0", "out_cloth", "", "", "robe_body", "", "", "", "", "", 0,
         0},
        {3001, "Cloth Trousers", 5, "", "", "", "", "", "", "", "cloth_pants", "sec_cloth", "cloth_pants_leg", "", 2,
         0},
        {3002, "Plate Greaves", 5, "plate_greaves_out.dds", "pants_out_0", "out_plate", "", "", "", "", "plate_legs",
         "sec_plate", "", "", 2, 1},
        {3003, "Skirt", 5, "", "", "", "", "", "", "", "skirt", "", "", "", 1, 0},
        {4001, "Leather Gloves", 8, "", "", "", "leather_glove", "sec_leather", "", "", "", "", "", "", 2, 0},
        {4002, "Gauntlets", 8, "gauntlet_out.dds", "glove_out_0", "out_plate", "plate_hand", "", "", "", "", "", "", "",
         2, 1},
        {5001, "Leather Boots", 2, "", "", "", "", "", "", "", "", "", "leather_boot", "sec_leather", 2, 0},
        {5002, "Plate Sabatons", 2, "plate_boot_out.dds", "boot_out_0", "out_plate", "", "", "", "", "", "",
         "plate_foot", "sec_plate", 2, 1},
        {5003, "Riding Boots", 2, "riding_boot_out.dds", "boot_out_0", "out_leather", "", "", "", "", "", "",
         "riding_boot", "", 0, 0},
        {6001, "Leather Belt", 3, "leather_belt_out.dds", "belt_out_0", "out_leather", "", "", "", "", "", "", "", "",
         2, 0},
        {6002, "Silk Sash", 3, "sash_out.dds", "belt_out_0", "out_cloth", "", "", "", "", "", "", "", "", 1, 0},
        // A belt without a geoset of its own changes nothing on the body.
        {6003, "Rope Belt", 3, "", "", "", "", "", "", "", "", "", "", "", 0, 0},
        {5004, "Sandals", 2, "", "", "", "", "", "", "", "", "", "sandal", "", 1, 0},
        {3004, "Chain Leggings", 5, "chain_legs_out.dds", "pants_out_0", "out_plate", "", "", "", "", "chain_legs",
         "sec_plate", "", "", 0, 0},
        {4003, "Bracers", 8, "bracer_out.dds", "glove_out_0", "out_leather", "bracer", "", "", "", "", "", "", "", 0,
         0},
        {4004, "Lace Gloves", 8, "", "", "", "lace_glove", "sec_cloth", "", "", "", "", "", "", 1, 0},
    };
    return worn;
}

const std::vector<CreatureDef>& creatureDefs()
{
    static const std::vector<CreatureDef> creatures = {
        {1, 1.0f, "Grey Wolf", "wolf", true, {"fx_glow_red", "", "", "", ""}, 1.5f, 6.0f, 0.6f, 0, Rig::Quadruped},
        {2,
         0.8f,
         "Cave Spider",
         "spider",
         true,
         {"fx_glow_blue", "fx_glow_red", "fx_spark", "fx_fire", "fx_smoke"},
         1.0f,
         5.0f,
         0.4f,
         0,
         Rig::Quadruped},
        {5,
         1.0f,
         "Lost Ghost",
         "ghost_missing",
         false,
         {"fx_smoke", "", "", "", ""},
         1.0f,
         1.0f,
         1.0f,
         1,
         Rig::Humanoid},
        {10001,
         1.5f,
         "Stone Golem",
         "golem",
         true,
         {"fx_aura", "", "fx_spark", "", "fx_fire"},
         0.8f,
         3.0f,
         1.8f,
         1,
         Rig::Golem},
        {10002,
         1.1f,
         "Naga Matron",
         s_fallbackMesh,
         true,
         {"fx_glow_blue", "fx_glow_red", "", "", ""},
         1.2f,
         4.0f,
         1.4f,
         0,
         Rig::Naga},
        {29999,
         1.2f,
         "Dragon Whelp",
         "whelp",
         true,
         {"fx_fire", "fx_smoke", "", "", ""},
         2.0f,
         7.0f,
         1.0f,
         0,
         Rig::Quadruped},
    };
    return creatures;
}

const std::vector<CreatureDef>& npcDefs()
{
    static const std::vector<CreatureDef> npcs = {
        {30000, 1.0f, "Blacksmith", "npc_smith", true, {"fx_fire", "", "", "", ""}, 1.4f, 4.5f, 1.6f, 0, Rig::Humanoid},
        {36999,
         1.05f,
         "Guard Captain",
         "npc_guard",
         true,
         {"", "fx_glow_blue", "", "", ""},
         1.5f,
         5.0f,
         1.7f,
         0,
         Rig::Humanoid},
        {39000,
         1.0f,
         "Wandering Merchant",
         "npc_merchant",
         true,
         {"", "", "", "", ""},
         1.2f,
         4.0f,
         1.6f,
         1,
         Rig::Humanoid},
    };
    return npcs;
}

const std::vector<CreatureDef>& objectDefs()
{
    static const std::vector<CreatureDef> objects = {
        {37000,
         1.0f,
         "Treasure Chest",
         "obj_chest",
         true,
         {"fx_spark", "", "", "", ""},
         1.0f,
         1.0f,
         0.5f,
         0,
         Rig::Prop},
        {37500,
         1.0f,
         "Campfire",
         "obj_campfire",
         true,
         {"fx_fire", "fx_smoke", "", "", ""},
         1.0f,
         1.0f,
         0.3f,
         1,
         Rig::Prop},
        {38999, 1.0f, "Signpost", "obj_signpost", true, {"", "", "", "", ""}, 1.0f, 1.0f, 1.2f, 1, Rig::Prop},
    };
    return objects;
}

const std::vector<AnimDef>& animDefs()
{
    static const std::vector<AnimDef> anims = {
        {0, 0, 0, "Stand", 1, "idle loop"},
        {1, 0, 1, "Walk", 1, "walk loop"},
        {2, 0, 1, "Run", 1, "unarmed run"},
        {3, 0, 1, "Main_run", 1, "one-handed run"},
        {4, 0, 1, "Pair_run", 1, "dual-wield run"},
        {5, 0, 1, "Heavy_run", 1, "two-handed run"},
        {6, 0, 1, "Long_run", 1, "polearm run"},
        {7, 0, 1, "Master_run", 1, "fast run"},
        {8, 0, 1, "Bow_run", 1, "bow run"},
        {10, 1, 2, "Attack1", 1, "upper-body swing"},
        {11, 1, 2, "Attack2", 0, "upper-body thrust with quick fades"},
        {12, 0, 2, "Cast", 1, "upper-body casting loop"},
        {13, 1, 1, "Kneel", 1, "lower-body kneel"},
        {20, 1, 0, "Death", 0, "whole-body death"},
        {30, 2, 0, "Pose_Nod", 0, "additive nod"},
        {31, 2, 1, "Pose_Nod", 0, "additive nod that keeps an upper-body overlay"},
    };
    return anims;
}

const std::vector<PresetDef>& presetDefs()
{
    static const std::vector<PresetDef> presets = {
        {"Warrior", 1, 0, 1, 1, 0, 0, 1, 101, 201, 5002, 6001, 2002, 3002, 0, 501, 4002, 0, 301, 901, 0, 601, 602},
        {"Archer", 2, 1, 0, 2, 1, 1, 2, 102, 202, 5001, 6002, 2003, 3003, 0, 0, 4001, 303, 0, 1001, 0, 601, 0},
        {"Mage", 3, 0, 2, 3, 2, 0, 2, 0, 203, 5003, 6003, 2004, 3004, 0, 0, 4003, 304, 302, 902, 0, 603, 602},
        {"Berserker", 1, 1, 0, 3, 0, 1, 1, 103, 0, 5001, 0, 2001, 3001, 401, 0, 0, 303, 302, 903, 1101, 0, 0},
        {"Paladin", 2, 0, 0, 1, 2, 1, 1, 104, 201, 5002, 6001, 2002, 3002, 402, 0, 4002, 0, 0, 0, 1101, 0, 0},
        {"Priestess", 3, 1, 0, 2, 2, 0, 2, 105, 204, 5004, 6002, 2003, 0, 0, 503, 4004, 0, 303, 902, 0, 604, 0},
        {"Villager", 1, 0, 0, 1, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {"Knight", 1, 0, 2, 2, 1, 0, 1, 101, 203, 5002, 6001, 2002, 3004, 0, 502, 4002, 0, 304, 1201, 1102, 603, 0},
        {"Ranger", 2, 1, 0, 1, 0, 1, 1, 102, 202, 5004, 6002, 2001, 3003, 404, 0, 4004, 0, 0, 1002, 1103, 604, 601},
    };
    return presets;
}

const std::vector<std::vector<unsigned>>& itemsByPlace()
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

} // namespace pack_description
