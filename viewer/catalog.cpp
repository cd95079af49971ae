#include "catalog.h"

#include <avatarsystem/animationdb.h>
#include <avatarsystem/detail/contentrules.h>
#include <avatarsystem/creaturedb.h>
#include <avatarsystem/ewchardb.h>

#include <algorithm>

namespace
{

/// Item types by place as the sample content numbers them (see Catalog).
std::vector<unsigned> defaultTypes(CharSlots slot)
{
    switch (slot)
    {
    case SLOT_HEAD:
        return {1};
    case SLOT_SHOULDER:
        return {2};
    case SLOT_RIGHT_HAND:
    case SLOT_LEFT_HAND:
        return {3};
    case SLOT_DOUBLEHAND:
        return {4};
    case SLOT_SHIELD:
        return {5};
    case SLOT_RIGHT_WAIST:
    case SLOT_LEFT_WAIST:
        return {6};
    case SLOT_BACK_LONG_WEAPON:
        return {9, 10};
    case SLOT_BACK_SHIELD:
        return {11};
    default: // worn items name their own place
        return {static_cast<unsigned>(slot)};
    }
}

std::string text(const Record& row, unsigned column)
{
    const char* s = row.getString(column);
    return s ? s : "";
}

std::string layerText(const Record& row)
{
    static const char* const plays[] = {"loop", "once", "pose"};
    static const char* const layers[] = {"whole body", "lower body", "upper body"};
    const unsigned play = row.getUInt(AnimationDB::PlayType);
    const unsigned layer = row.getUInt(AnimationDB::BlendType);
    return std::string(play < 3 ? plays[play] : "plays nothing") + ", " +
           (layer < 3 ? layers[layer] : "layer " + std::to_string(layer));
}

template <class Table> void readCreatures(const Table* table, AvatarKind kind, std::vector<AvatarEntry>& out)
{
    if (!table)
        return;
    for (const auto& entry : table->getRecordMap())
        out.push_back(AvatarEntry{kind, entry.first, text(entry.second, Table::Name)});
}

} // namespace

const char* kindName(AvatarKind kind)
{
    switch (kind)
    {
    case AvatarKind::Preset:
        return "preset";
    case AvatarKind::Creature:
        return "creature";
    case AvatarKind::Npc:
        return "NPC";
    case AvatarKind::Object:
        return "object";
    }
    return "?";
}

const std::vector<EquipmentPlace>& equipmentPlaces()
{
    using P = PlayerSetting_t;
    using B = EWBaseInfoDB;
    static const std::vector<EquipmentPlace> places = {
        {SLOT_HEAD, "head", &P::head, B::head, false},
        {SLOT_SHOULDER, "shoulders", &P::shoulder, B::shoulder, false},
        {SLOT_BOOT, "boots", &P::boot, B::boot, true},
        {SLOT_BELT, "belt", &P::belt, B::belt, true},
        {SLOT_SHIRT, "shirt", &P::shirt, B::shirt, true},
        {SLOT_PANTS, "trousers", &P::pants, B::pants, true},
        {SLOT_DOUBLEHAND, "two hands", &P::doublehand, B::doublehand, false},
        {SLOT_SHIELD, "shield", &P::shield, B::shield, false},
        {SLOT_GLOVE, "gloves", &P::glove, B::glove, true},
        {SLOT_RIGHT_HAND, "right hand", &P::rightHand, B::rightHand, false},
        {SLOT_LEFT_HAND, "left hand", &P::leftHand, B::leftHand, false},
        {SLOT_BACK_LONG_WEAPON, "back weapon", &P::backLongWeapon, B::backLongWeapon, false},
        {SLOT_BACK_SHIELD, "back shield", &P::backShield, B::backShield, false},
        {SLOT_RIGHT_WAIST, "right waist", &P::rightWaist, B::rightWaist, false},
        {SLOT_LEFT_WAIST, "left waist", &P::leftWaist, B::leftWaist, false},
    };
    return places;
}

void Catalog::read(const Tables& tables)
{
    *this = Catalog();
    if (tables.presets)
        for (const Record& row : tables.presets->getRecordArray())
            m_avatars[0].push_back(
                AvatarEntry{AvatarKind::Preset, row.getUInt(EWBaseInfoDB::charID), text(row, EWBaseInfoDB::Name)});
    readCreatures(tables.creatures, AvatarKind::Creature, m_avatars[1]);
    readCreatures(tables.npcs, AvatarKind::Npc, m_avatars[2]);
    readCreatures(tables.objects, AvatarKind::Object, m_avatars[3]);

    if (tables.animations)
        for (const auto& entry : tables.animations->getRecordMap())
            m_animations.push_back(AnimationEntry{static_cast<AnimationType>(entry.first),
                                                  text(entry.second, AnimationDB::AnimName), layerText(entry.second)});

    if (tables.items)
        for (const auto& entry : tables.items->getRecordMap())
            m_items.push_back(Item{entry.first, text(entry.second, EWItemDB::Name),
                                   entry.second.getUInt(EWItemDB::Type), entry.second.getUInt(EWItemDB::flag)});
    if (tables.wornItems)
        for (const auto& entry : tables.wornItems->getRecordMap())
            m_wornItems.push_back(Item{entry.first, text(entry.second, EWWearingDB::Name),
                                       entry.second.getUInt(EWWearingDB::Type),
                                       entry.second.getUInt(EWWearingDB::Flag)});

    // The types presets wear in each place fit that place too.
    m_presetTypes.assign(equipmentPlaces().size(), {});
    if (!tables.presets)
        return;
    for (const Record& row : tables.presets->getRecordArray())
        for (const EquipmentPlace& place : equipmentPlaces())
        {
            const unsigned id = row.getUInt(place.presetColumn);
            const std::vector<Item>& table = place.worn ? m_wornItems : m_items;
            const auto it = std::find_if(table.begin(), table.end(), [id](const Item& i) { return i.id == id; });
            std::vector<unsigned>& types = m_presetTypes[place.slot];
            if (id != 0 && it != table.end() && std::find(types.begin(), types.end(), it->type) == types.end())
                types.push_back(it->type);
        }
}

bool Catalog::find(const std::string& name, AvatarKind& kind, int& index) const
{
    for (int k = 0; k < kAvatarKinds; ++k)
    {
        const std::vector<AvatarEntry>& entries = m_avatars[k];
        const auto it =
            std::find_if(entries.begin(), entries.end(), [&name](const AvatarEntry& e) { return e.name == name; });
        if (it != entries.end())
        {
            kind = static_cast<AvatarKind>(k);
            index = static_cast<int>(it - entries.begin());
            return true;
        }
    }
    return false;
}

bool Catalog::fits(const Item& item, CharSlots slot) const
{
    const std::vector<unsigned> types = defaultTypes(slot);
    if (std::find(types.begin(), types.end(), item.type) != types.end())
        return true;
    const std::vector<unsigned>& worn = m_presetTypes.at(slot);
    return std::find(worn.begin(), worn.end(), item.type) != worn.end();
}

std::vector<ItemEntry> Catalog::itemsFor(CharSlots slot, unsigned gender) const
{
    std::vector<ItemEntry> fitting;
    if (static_cast<std::size_t>(slot) >= equipmentPlaces().size())
        return fitting;
    const std::vector<Item>& table = equipmentPlaces()[slot].worn ? m_wornItems : m_items;
    for (const Item& item : table)
        if (avatar_rules::itemFitsGender(item.flag, gender) && fits(item, slot))
            fitting.push_back(ItemEntry{item.id, item.name});
    return fitting;
}

unsigned Catalog::stepItem(CharSlots slot, unsigned gender, unsigned current, int step) const
{
    // The ring: 0 (empty), then the fitting items in ascending ID order.
    std::vector<unsigned> ring{0};
    for (const ItemEntry& item : itemsFor(slot, gender))
        ring.push_back(item.id);
    const auto at = std::lower_bound(ring.begin() + 1, ring.end(), current);
    std::size_t index = static_cast<std::size_t>(at - ring.begin());
    const bool listed = current == 0 || (at != ring.end() && *at == current);
    if (current == 0)
        index = 0;
    if (step > 0)
        index = listed ? index + 1 : index; // an unlisted item steps to the next one above it
    else
        index = index == 0 ? ring.size() - 1 : index - 1;
    return ring[index % ring.size()];
}

std::string Catalog::itemName(CharSlots slot, unsigned id) const
{
    if (id == 0)
        return "empty";
    if (static_cast<std::size_t>(slot) >= equipmentPlaces().size())
        return "";
    const std::vector<Item>& table = equipmentPlaces()[slot].worn ? m_wornItems : m_items;
    for (const Item& item : table)
        if (item.id == id)
            return item.name;
    return "";
}
