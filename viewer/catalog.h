#pragma once

#include <avatarsystem/avatarinterface.h>

#include <string>
#include <vector>

class AnimationDB;
class CreatureDB;
class EWBaseInfoDB;
class EWItemDB;
class EWWearingDB;
class NpcDB;
class ObjectDB;

/// The kinds of avatar the viewer steps through, in the order Tab visits them.
enum class AvatarKind
{
    Preset,
    Creature,
    Npc,
    Object
};
constexpr int kAvatarKinds = 4;

/// "preset", "creature", "NPC" or "object".
const char* kindName(AvatarKind kind);

/// One avatar the tables offer: a preset of the base-info table, or a creature, NPC or object row.
struct AvatarEntry
{
    AvatarKind kind = AvatarKind::Preset;
    unsigned id = 0;
    std::string name;
};

/// One equipment place of a player, as a PlayerSetting_t field.
struct EquipmentPlace
{
    CharSlots slot;
    const char* label;
    unsigned PlayerSetting_t::*field;
    unsigned presetColumn; ///< the base-info table's column for the place
    bool worn;             ///< a worn item (worn-item table); otherwise a model on a bone (item table)
};

/// The fifteen places in slot order.
const std::vector<EquipmentPlace>& equipmentPlaces();

/// One animation row: its type, name and what the controller does with it.
struct AnimationEntry
{
    AnimationType type = ANIM_NONE;
    std::string name;
    std::string layer; ///< "loop, whole body", "once, upper body", "pose, lower body", ...
};

/// An item that can go into a place.
struct ItemEntry
{
    unsigned id = 0;
    std::string name;
};

/// What the viewer offers, read from the open tables (null tables offer nothing).
///
/// Items fit a place by type and gender. Worn items carry their place in Type (2 boot, 3 belt,
/// 4 shirt, 5 trousers, 8 gloves). Item types go to places as the sample content lays them out:
/// 1 helm, 2 shoulders, 3 one-handed weapon (either hand), 4 two-handed weapon, 5 shield, 6 waist,
/// 9 and 10 back weapon (a back weapon hangs by its type), 11 back shield; besides, every type
/// a preset wears in a place fits that place, so content with its own numbering still works.
/// An item fits a gender as it does on the avatars (avatar_rules::itemFitsGender).
class Catalog
{
public:
    struct Tables
    {
        // Read only: a table whose rows are handed out for editing answers look-ups by name with
        // a scan instead of its index.
        const EWBaseInfoDB* presets = nullptr;
        const CreatureDB* creatures = nullptr;
        const NpcDB* npcs = nullptr;
        const ObjectDB* objects = nullptr;
        const EWItemDB* items = nullptr;
        const EWWearingDB* wornItems = nullptr;
        const AnimationDB* animations = nullptr;
    };

    void read(const Tables& tables);

    const std::vector<AvatarEntry>& avatars(AvatarKind kind) const { return m_avatars[static_cast<int>(kind)]; }
    const std::vector<AnimationEntry>& animations() const { return m_animations; }
    /// The first avatar of that name, presets first, then creatures, NPCs and objects.
    bool find(const std::string& name, AvatarKind& kind, int& index) const;
    /// The items of a place that a player of the gender can wear, by ID.
    std::vector<ItemEntry> itemsFor(CharSlots slot, unsigned gender) const;
    /// The item after (step 1) or before (step -1) current among 0 (the empty place) and the
    /// fitting items, wrapping around; an item that does not fit steps from where it would stand.
    unsigned stepItem(CharSlots slot, unsigned gender, unsigned current, int step) const;
    /// The item's name in its table, or "" (0 is "empty").
    std::string itemName(CharSlots slot, unsigned id) const;

private:
    struct Item
    {
        unsigned id;
        std::string name;
        unsigned type;
        unsigned flag;
    };
    bool fits(const Item& item, CharSlots slot) const;

    std::vector<AvatarEntry> m_avatars[kAvatarKinds];
    std::vector<AnimationEntry> m_animations;
    std::vector<Item> m_items;                        ///< item table, by ID
    std::vector<Item> m_wornItems;                    ///< worn-item table, by ID
    std::vector<std::vector<unsigned>> m_presetTypes; ///< per slot: item types presets wear there
};
