// What the viewer offers for each equipment place: the items that fit it by type and gender, and
// how stepping goes round them.
#include "catalog.h"

#include <avatarsystem/ewchardb.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace
{

Record row(std::initializer_list<std::string> fields)
{
    Record record;
    for (const std::string& field : fields)
        record.record_push_back(field);
    return record;
}

/// An item row: ItemID, Name, Type and flag; the model columns do not matter here.
void addItem(EWItemDB& items, unsigned id, unsigned type, unsigned flag)
{
    Record r = row({std::to_string(id), "item " + std::to_string(id), std::to_string(type), "model", "", "0", "0", "",
                    "", "", std::to_string(flag)});
    items.addRecord(r);
}

void addWornItem(EWWearingDB& worn, unsigned id, unsigned type, unsigned flag)
{
    Record r = row({std::to_string(id), "worn " + std::to_string(id), std::to_string(type), "", "", "", "", "", "", "",
                    "", "", "", "", std::to_string(flag), "0"});
    worn.addRecord(r);
}

std::vector<unsigned> ids(const std::vector<ItemEntry>& items)
{
    std::vector<unsigned> out;
    for (const ItemEntry& item : items)
        out.push_back(item.id);
    return out;
}

class ViewerCatalog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        addItem(items, 11, 1, 2); // helm for both
        addItem(items, 12, 1, 0); // men's helm
        addItem(items, 13, 1, 1); // women's helm
        addItem(items, 21, 3, 2); // one-handed weapon
        addItem(items, 24, 4, 2); // two-handed weapon
        addItem(items, 31, 9, 2); // back weapons hang by their type
        addItem(items, 32, 10, 2);
        addItem(items, 41, 77, 2); // a type of this content's own, worn by a preset as a shield
        addWornItem(worn, 51, 4, 2);
        addWornItem(worn, 52, 2, 0);
        addWornItem(worn, 53, 2, 1);
        std::vector<std::string> preset(EWBaseInfoDB::NumColumns, "0");
        preset[EWBaseInfoDB::Name] = "Guard";
        preset[EWBaseInfoDB::shield] = "41";
        Record r;
        for (const std::string& field : preset)
            r.record_push_back(field);
        presets.addRecord(r);

        Catalog::Tables tables;
        tables.items = &items;
        tables.wornItems = &worn;
        tables.presets = &presets;
        catalog.read(tables);
    }

    EWItemDB items;
    EWWearingDB worn;
    EWBaseInfoDB presets;
    Catalog catalog;
};

} // namespace

TEST_F(ViewerCatalog, ItemsFitAPlaceByTypeAndGender)
{
    EXPECT_EQ(ids(catalog.itemsFor(SLOT_HEAD, 0)), (std::vector<unsigned>{11, 12}));
    EXPECT_EQ(ids(catalog.itemsFor(SLOT_HEAD, 1)), (std::vector<unsigned>{11, 13}));
    EXPECT_EQ(ids(catalog.itemsFor(SLOT_RIGHT_HAND, 0)), (std::vector<unsigned>{21}));
    EXPECT_EQ(ids(catalog.itemsFor(SLOT_LEFT_HAND, 1)), (std::vector<unsigned>{21}));
    EXPECT_EQ(ids(catalog.itemsFor(SLOT_DOUBLEHAND, 0)), (std::vector<unsigned>{24}));
    EXPECT_EQ(ids(catalog.itemsFor(SLOT_BACK_LONG_WEAPON, 0)), (std::vector<unsigned>{31, 32}));
    // A type only a preset's place tells.
    EXPECT_EQ(ids(catalog.itemsFor(SLOT_SHIELD, 1)), (std::vector<unsigned>{41}));
    EXPECT_TRUE(catalog.itemsFor(SLOT_BACK_SHIELD, 0).empty());
    // Worn items by their Type and Flag.
    EXPECT_EQ(ids(catalog.itemsFor(SLOT_SHIRT, 1)), (std::vector<unsigned>{51}));
    EXPECT_EQ(ids(catalog.itemsFor(SLOT_BOOT, 0)), (std::vector<unsigned>{52}));
    EXPECT_EQ(ids(catalog.itemsFor(SLOT_BOOT, 1)), (std::vector<unsigned>{53}));
    EXPECT_EQ(catalog.itemName(SLOT_BOOT, 52), "worn 52");
    EXPECT_EQ(catalog.itemName(SLOT_HEAD, 0), "empty");
}

TEST_F(ViewerCatalog, SteppingGoesRoundTheEmptyPlaceAndTheItemsThatFit)
{
    // Men's helms: 0, 11, 12.
    EXPECT_EQ(catalog.stepItem(SLOT_HEAD, 0, 0, 1), 11u);
    EXPECT_EQ(catalog.stepItem(SLOT_HEAD, 0, 11, 1), 12u);
    EXPECT_EQ(catalog.stepItem(SLOT_HEAD, 0, 12, 1), 0u);
    EXPECT_EQ(catalog.stepItem(SLOT_HEAD, 0, 0, -1), 12u);
    EXPECT_EQ(catalog.stepItem(SLOT_HEAD, 0, 11, -1), 0u);
    // A worn item that does not fit (a women's helm on a man) steps from where it would stand.
    EXPECT_EQ(catalog.stepItem(SLOT_HEAD, 0, 13, 1), 0u);
    EXPECT_EQ(catalog.stepItem(SLOT_HEAD, 0, 13, -1), 12u);
    EXPECT_EQ(catalog.stepItem(SLOT_HEAD, 0, 5, 1), 11u);
    // A place nothing fits stays empty.
    EXPECT_EQ(catalog.stepItem(SLOT_BACK_SHIELD, 0, 0, 1), 0u);
    EXPECT_EQ(catalog.stepItem(SLOT_BACK_SHIELD, 0, 0, -1), 0u);
}
