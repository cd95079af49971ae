#include "avatarsystem/animationdb.h"
#include "avatarsystem/creaturedb.h"
#include "avatarsystem/ewchardb.h"

#include "headlessogre.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace
{

/// One file line of numFields columns: the given leading fields, the rest filled with "f<column>".
std::string line(std::initializer_list<std::string> leading, unsigned numFields)
{
    std::vector<std::string> fields(leading);
    for (unsigned j = static_cast<unsigned>(fields.size()); j < numFields; ++j)
        fields.push_back("f" + std::to_string(j));
    std::string text;
    for (unsigned j = 0; j < numFields; ++j)
        text += (j ? "," : "") + fields[j];
    return text + "\n";
}

Record record(std::initializer_list<std::string> leading, unsigned numFields)
{
    Record rec;
    unsigned j = 0;
    for (const std::string& field : leading)
        rec.record_push_back(field), ++j;
    for (; j < numFields; ++j)
        rec.record_push_back("f" + std::to_string(j));
    return rec;
}

std::string field(const Record& rec, unsigned i)
{
    const char* text = rec.getString(i);
    return text ? text : "<none>";
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

std::string creatureLine(std::initializer_list<std::string> leading)
{
    return line(leading, CreatureDB::NumColumns);
}

} // namespace

TEST(KeyedTables, theFirstRowOfADuplicateKeyWinsAndIsCountedOnce)
{
    ScopedTempDir dir;
    {
        dir.write("Creature.csv", "//ID,Scale,Name\n" + creatureLine({"7", "1", "First"}) +
                                      creatureLine({"3", "1", "Other"}) + creatureLine({"7", "2", "Second"}));
        CreatureDB creatures;
        ASSERT_TRUE(creatures.open());
        EXPECT_EQ(field(creatures.getByID(7), CreatureDB::Name), "First");
        EXPECT_EQ(creatures.getNumRecords(), 2u);
        EXPECT_EQ(creatures.getRecordMap().size(), 2u);
        EXPECT_TRUE(creatures.getRecordArray().empty()) << "keyed tables leave the row vector empty";
    }
    {
        dir.write("EWCharSections.csv", line({"1211", "1", "1", "1", "1", "1", "early"}, 10) +
                                            line({"1211", "1", "1", "1", "1", "1", "late"}, 10));
        EWCharSectionsDB sections;
        ASSERT_TRUE(sections.open());
        EXPECT_EQ(field(sections.getByParams(1, 1, 1, 1, 1), EWCharSectionsDB::Tex1), "early");
        EXPECT_EQ(sections.getNumRecords(), 1u);
    }
    {
        dir.write("EWCharHairGeo.csv",
                  line({"107", "3", "1", "7", "early"}, 7) + line({"107", "3", "1", "7", "late"}, 7));
        EWCharHairGeoDB hair;
        ASSERT_TRUE(hair.open());
        EXPECT_EQ(field(hair.getByParams(3, 1, 7), EWCharHairGeoDB::Submesh1), "early");
        EXPECT_EQ(hair.getNumRecords(), 1u);
    }
    {
        dir.write("Animation.csv", "3,1,0,Walk,0,first\n3,2,1,Run,1,second\n");
        AnimationDB animations;
        ASSERT_TRUE(animations.open());
        const Record* walk = animations.getByType(3);
        ASSERT_NE(walk, nullptr);
        EXPECT_EQ(field(*walk, AnimationDB::AnimName), "Walk");
        EXPECT_EQ(animations.getNumRecords(), 1u);
    }
}

TEST(KeyedTables, nameLookupsMatchWholeBytesAndPreferTheSmallerId)
{
    ScopedTempDir dir;
    {
        // File order 9 before 4: the map walks ascending IDs, so 4 is found.
        dir.write("Creature.csv", creatureLine({"9", "1", "Wolf"}) + creatureLine({"4", "1", "Wolf"}) +
                                      creatureLine({"5", "1", "Bear"}));
        CreatureDB creatures;
        ASSERT_TRUE(creatures.open());
        EXPECT_EQ(field(creatures.getByName("Wolf"), 0), "4");
        EXPECT_FALSE(creatures.getByName("wolf").isValid());
        EXPECT_FALSE(creatures.getByName("WOLF").isValid());
        EXPECT_FALSE(creatures.getByName("Wolf ").isValid()) << "no trimming";
        EXPECT_FALSE(creatures.getByName("Wol").isValid()) << "no prefix match";
        EXPECT_FALSE(creatures.getByName("").isValid());
    }
    {
        dir.write("Npc.csv", line({"30002", "1", "Smith"}, 30) + line({"30001", "1", "Smith"}, 30));
        NpcDB npcs;
        ASSERT_TRUE(npcs.open());
        EXPECT_EQ(field(npcs.getByName("Smith"), 0), "30001");
        EXPECT_FALSE(npcs.getByName("smith").isValid());
    }
    {
        dir.write("Object.csv", line({"37010", "1", "Chest"}, 12) + line({"37001", "1", "Chest"}, 12));
        ObjectDB objects;
        ASSERT_TRUE(objects.open());
        EXPECT_EQ(field(objects.getByName("Chest"), 0), "37001");
        EXPECT_FALSE(objects.getByName("chest").isValid());
    }
    {
        // Items and effects carry their names in column 1.
        dir.write("ItemDisplay.csv", line({"20", "Sword"}, 11) + line({"10", "Sword"}, 11));
        EWItemDB items;
        ASSERT_TRUE(items.open());
        EXPECT_EQ(field(items.getByName("Sword"), 0), "10");
        EXPECT_FALSE(items.getByName("sword").isValid());
        EXPECT_FALSE(items.getByName(nullptr).isValid());

        dir.write("EWEffects.csv", "8,Glow,tpl,1,1\n2,Glow,tpl,1,1\n");
        EWEffectsDB effects;
        ASSERT_TRUE(effects.open());
        EXPECT_EQ(field(effects.getByName("Glow"), 0), "2");
        EXPECT_FALSE(effects.getByName("glow").isValid());
    }
}

TEST(KeyedTables, nameLookupsFollowEveryEditAsAScanWould)
{
    ScopedTempDir dir;
    dir.write("Creature.csv", creatureLine({"9", "1", "Wolf"}) + creatureLine({"5", "1", "Bear"}));
    CreatureDB creatures;
    ASSERT_TRUE(creatures.open());
    TextDataBase& table = creatures; // as the host holds it
    EXPECT_EQ(field(creatures.getByName("Wolf"), 0), "9");

    Record earlier;
    std::string text = creatureLine({"3", "1", "Wolf"});
    text.pop_back(); // the line end
    table.lineToRecord(text.c_str(), earlier);
    ASSERT_TRUE(table.addRecord(earlier));
    EXPECT_EQ(field(creatures.getByName("Wolf"), 0), "3") << "a smaller ID of the same name now wins";

    Record renamed = creatures.getByID(3);
    std::string name = "Bear";
    renamed.setName(CreatureDB::Name, name);
    creatures.insteadRecord(renamed, 3u);
    EXPECT_EQ(field(creatures.getByName("Wolf"), 0), "9");
    EXPECT_EQ(field(creatures.getByName("Bear"), 0), "3");
    ASSERT_TRUE(table.deleteRecord(0)); // position 0 in key order: ID 3
    EXPECT_EQ(field(creatures.getByName("Bear"), 0), "5");

    // Rows taken out through the map handed out for reading cost a rebuild, not a wrong answer.
    creatures.getRecordMap().erase(5);
    EXPECT_FALSE(creatures.getByName("Bear").isValid());
}

TEST(RowVectorTables, nameLookupsReturnTheEarlierRow)
{
    ScopedTempDir dir;
    dir.write("EWCharBaseInfo.csv", line({"9", "Hero"}, 25) + line({"4", "Hero"}, 25));
    EWBaseInfoDB presets;
    ASSERT_TRUE(presets.open());
    EXPECT_EQ(field(presets.getByName("Hero"), 0), "9");
    EXPECT_FALSE(presets.getByName("hero").isValid());
    presets.deleteRecord(0);
    EXPECT_EQ(field(presets.getByName("Hero"), 0), "1") << "the other row, renumbered";

    dir.write("EWRaces.csv", "1,Hu,Human,cn,1,0,0\n2,Hu,Human,cn,1,0,0\n");
    EWCharRacesDB races;
    ASSERT_TRUE(races.open());
    EXPECT_EQ(&races.getByName("Human"), &races.getRecordArray()[0]);
    EXPECT_FALSE(races.getByName("Hu").isValid()) << "races are named by column 2, not the short name";
    EXPECT_FALSE(races.getByName("human").isValid());
}

TEST(KeyedTables, idZeroMissesWhenNoRowHasIt)
{
    ScopedTempDir dir;
    dir.write("Creature.csv", creatureLine({"1"}));
    dir.write("Npc.csv", line({"30001"}, 30));
    dir.write("Object.csv", line({"37001"}, 12));
    dir.write("ItemDisplay.csv", line({"1"}, 11));
    dir.write("WearingItemDisplay.csv", line({"1"}, 16));
    dir.write("EWEffects.csv", "1,a,b,c,d\n");
    CreatureDB creatures;
    NpcDB npcs;
    ObjectDB objects;
    EWItemDB items;
    EWWearingDB worn;
    EWEffectsDB effects;
    ASSERT_TRUE(creatures.open() && npcs.open() && objects.open() && items.open() && worn.open() && effects.open());
    EXPECT_FALSE(creatures.getByID(0).isValid());
    EXPECT_FALSE(npcs.getByID(0).isValid());
    EXPECT_FALSE(objects.getByID(0).isValid());
    EXPECT_FALSE(items.getByID(0).isValid());
    EXPECT_FALSE(worn.getByID(0).isValid());
    EXPECT_FALSE(effects.getById(0).isValid());
    EXPECT_EQ(&creatures.getByID(0), &s_emptyRecord);

    // A row whose column 0 does not parse is stored under 0 and is then found by it.
    dir.write("ItemDisplay.csv", line({"x"}, 11));
    EWItemDB textKey;
    ASSERT_TRUE(textKey.open());
    EXPECT_EQ(field(textKey.getByID(0), 0), "x");
}

TEST(RowVectorTables, racesCheckPositionAndIdWhilePresetsCheckOnlyPosition)
{
    ScopedTempDir dir;
    dir.write("EWRaces.csv", "1,Hu,Human,cn,1,0,0\n5,El,Elf,cn,1,0,0\n3,Dw,Dwarf,cn,1,0,0\n");
    EWCharRacesDB races;
    ASSERT_TRUE(races.open());
    EXPECT_EQ(field(races.getById(1), EWCharRacesDB::Name), "Human");
    EXPECT_FALSE(races.getById(2).isValid()) << "row 2 holds race 5";
    EXPECT_FALSE(races.getById(5).isValid()) << "race 5 is not on row 5";
    EXPECT_EQ(field(races.getById(3), EWCharRacesDB::Name), "Dwarf");
    EXPECT_FALSE(races.getById(0).isValid());
    EXPECT_FALSE(races.getById(4).isValid());

    dir.write("EWCharBaseInfo.csv", line({"1", "A"}, 25) + line({"5", "B"}, 25) + line({"3", "C"}, 25));
    EWBaseInfoDB presets;
    ASSERT_TRUE(presets.open());
    EXPECT_EQ(field(presets.getById(2), EWBaseInfoDB::Name), "B") << "column 0 is not checked";
    EXPECT_EQ(field(presets.getById(3), EWBaseInfoDB::Name), "C");
    EXPECT_FALSE(presets.getById(0).isValid()) << "0 - 1 wraps past every row";
    EXPECT_FALSE(presets.getById(4).isValid());
}

TEST(KeyedTables, insteadRecordReplacesOnlyAnExistingIdAndKeepsTheKey)
{
    ScopedTempDir dir;
    dir.write("Creature.csv", creatureLine({"5", "1", "Wolf"}) + creatureLine({"8", "1", "Bear"}));
    CreatureDB creatures;
    ASSERT_TRUE(creatures.open());
    const std::map<unsigned, Record> before = creatures.getRecordMap();

    Record replacement = record({"99", "2", "Lion"}, CreatureDB::NumColumns);
    EXPECT_FALSE(creatures.insteadRecord(replacement, 99));
    EXPECT_EQ(creatures.getRecordMap().size(), before.size());
    EXPECT_FALSE(creatures.getByID(99).isValid());
    EXPECT_EQ(creatures.getNumRecords(), 2u);
    for (const auto& entry : before)
        EXPECT_EQ(creatures.getByID(entry.first).fields(), entry.second.fields());

    // The row goes under the ID asked for, whatever its own column 0 says.
    ASSERT_TRUE(creatures.insteadRecord(replacement, 8));
    EXPECT_EQ(field(creatures.getByID(8), CreatureDB::Name), "Lion");
    EXPECT_FALSE(creatures.getByID(99).isValid());
    EXPECT_EQ(creatures.getNumRecords(), 2u);

    dir.write("Npc.csv", line({"30001"}, 30));
    NpcDB npcs;
    ASSERT_TRUE(npcs.open());
    Record npc = record({"30002"}, 30);
    EXPECT_FALSE(npcs.insteadRecord(npc, 30002));
    EXPECT_EQ(npcs.getRecordMap().size(), 1u);

    dir.write("Object.csv", line({"37001"}, 12));
    ObjectDB objects;
    ASSERT_TRUE(objects.open());
    Record object = record({"37002"}, 12);
    EXPECT_FALSE(objects.insteadRecord(object, 37002));
    EXPECT_EQ(objects.getRecordMap().size(), 1u);
    EXPECT_TRUE(objects.insteadRecord(object, 37001));
}

TEST(KeyedTables, itemsReplaceOnAddWhileWornItemsKeepTheirRow)
{
    ScopedTempDir dir;
    dir.write("ItemDisplay.csv", line({"10", "Old"}, 11));
    dir.write("WearingItemDisplay.csv", line({"10", "Old"}, 16));
    EWItemDB items;
    EWWearingDB worn;
    ASSERT_TRUE(items.open());
    ASSERT_TRUE(worn.open());

    Record newItem = record({"10", "New"}, 11);
    EXPECT_TRUE(items.addRecord(newItem));
    EXPECT_EQ(field(items.getByID(10), EWItemDB::Name), "New");
    EXPECT_EQ(items.getNumRecords(), 1u) << "the count is the rows held";

    Record newWorn = record({"10", "New"}, 16);
    EXPECT_FALSE(worn.addRecord(newWorn)) << "the ID was taken";
    EXPECT_EQ(field(worn.getByID(10), EWWearingDB::Name), "Old");
    EXPECT_EQ(worn.getNumRecords(), 1u);

    Record another = record({"11", "Another"}, 16);
    EXPECT_TRUE(worn.addRecord(another));
    EXPECT_EQ(worn.getNumRecords(), 2u);
    Record anotherItem = record({"11", "Another"}, 11);
    EXPECT_TRUE(items.addRecord(anotherItem));
    EXPECT_EQ(items.getNumRecords(), 2u);

    // The appearance tables store under column 0 too, replacing.
    EWCharSectionsDB sections;
    Record section = record({"1200", "1", "1", "1", "1", "1", "a"}, 10);
    Record sameKey = record({"1200", "1", "1", "1", "1", "1", "b"}, 10);
    EXPECT_TRUE(sections.addRecord(section));
    EXPECT_TRUE(sections.addRecord(sameKey));
    EXPECT_EQ(sections.getNumRecords(), 1u);
    EXPECT_EQ(field(sections.getRecordMap().at(1200), EWCharSectionsDB::Tex1), "b");
    EXPECT_FALSE(sections.getByParams(1, 1, 1, 1, 1).isValid()) << "column 0 is the key, not the columns";
}

TEST(KeyedTables, rewriteWritesAscendingKeysWithTheTableColumnCount)
{
    ScopedTempDir dir;
    dir.write("Creature.csv", "//title\n" + creatureLine({"30", "1", "C"}) + creatureLine({"2", "1", "A"}) +
                                  creatureLine({"17", "1", "B"}) + creatureLine({"2", "1", "Dup"}));
    CreatureDB creatures;
    ASSERT_TRUE(creatures.open());
    ASSERT_TRUE(creatures.rewrite());
    const std::vector<std::string> lines = linesOf(dir.read("Creature.csv"));
    ASSERT_EQ(lines.size(), 3u) << "the dropped duplicate and the title are not written";
    EXPECT_EQ(lines[0].substr(0, 5), "2,1,A");
    EXPECT_EQ(lines[1].substr(0, 6), "17,1,B");
    EXPECT_EQ(lines[2].substr(0, 6), "30,1,C");
    for (const std::string& l : lines)
        EXPECT_EQ(std::count(l.begin(), l.end(), ','), 29);

    CreatureDB again;
    ASSERT_TRUE(again.open());
    ASSERT_EQ(again.getNumRecords(), 3u);
    for (const auto& entry : creatures.getRecordMap())
        EXPECT_EQ(again.getByID(entry.first).fields(), entry.second.fields());

    {
        SCOPED_TRACE("a row wider or narrower than the table is refused: it would not read back");
        const std::string kept = dir.read("Creature.csv");
        EWItemDB items;
        const std::string written = line({"1"}, 11);
        dir.write("ItemDisplay.csv", written);
        ASSERT_TRUE(items.open());
        Record wide = record({"2"}, 12);
        items.addRecord(wide);
        EXPECT_FALSE(items.rewrite());
        EXPECT_EQ(dir.read("ItemDisplay.csv"), written);
        items.getRecordMap().erase(2);
        Record narrow = record({"3"}, 10);
        items.addRecord(narrow);
        EXPECT_FALSE(items.rewrite());
        EXPECT_EQ(dir.read("ItemDisplay.csv"), written);
        EXPECT_EQ(dir.read("Creature.csv"), kept);
    }
    {
        SCOPED_TRACE("the appearance tables write ascending keys as well");
        EWCharHairGeoDB hair;
        Record second = record({"107", "3", "1", "7"}, 7);
        Record first = record({"0", "1", "0", "0"}, 7);
        hair.addRecord(second);
        hair.addRecord(first);
        // A table that was never opened still writes to its own file.
        ASSERT_TRUE(hair.rewrite());
        const std::vector<std::string> hairLines = linesOf(dir.read("EWCharHairGeo.csv"));
        ASSERT_EQ(hairLines.size(), 2u);
        EXPECT_EQ(hairLines[0].substr(0, 2), "0,");
        EXPECT_EQ(hairLines[1].substr(0, 4), "107,");
        EWCharHairGeoDB reread;
        ASSERT_TRUE(reread.open());
        EXPECT_TRUE(reread.getByParams(3, 1, 7).isValid());
        EXPECT_TRUE(reread.getByParams(1, 0, 0).isValid());
    }
}

namespace
{

/// What the host can do to a keyed table through the TextDataBase pointer getDB hands out.
/// addReplaces: whether the table's addRecord replaces a row whose key is taken.
template <class Table> void editThroughTheBasePointer(const ScopedTempDir& dir, bool addReplaces)
{
    const unsigned n = Table::layout().numFields();
    const std::string file = Table::layout().fileName;
    SCOPED_TRACE(file);
    dir.write(file, line({"20", "b"}, n) + line({"10", "a"}, n));
    Table table;
    ASSERT_TRUE(table.open());
    TextDataBase& base = table;
    ASSERT_EQ(base.getNumRecords(), 2u);
    EXPECT_EQ(field(base.getRecord(0), 1), "a") << "positions follow the keys";
    EXPECT_EQ(field(base.getRecord(1), 1), "b");

    Record added = record({"15", "c"}, n);
    EXPECT_TRUE(base.addRecord(added));
    Record sameKey = record({"10", "z"}, n);
    EXPECT_EQ(base.addRecord(sameKey), addReplaces);
    EXPECT_EQ(field(table.getRecordMap().at(10), 1), addReplaces ? "z" : "a");
    EXPECT_EQ(base.getNumRecords(), 3u);

    Record replacement = record({"20", "r"}, n);
    EXPECT_TRUE(base.insteadRecord(replacement, 2));
    EXPECT_EQ(field(table.getRecordMap().at(20), 1), "r");
    EXPECT_FALSE(base.insteadRecord(replacement, 3));
    EXPECT_FALSE(base.insteadRecord(replacement, -1));
    EXPECT_TRUE(base.deleteRecord(1));
    EXPECT_FALSE(table.testKey(15));
    EXPECT_FALSE(base.deleteRecord(2));
    EXPECT_EQ(base.getNumRecords(), 2u);
    EXPECT_TRUE(table.getRecordArray().empty());

    testing::internal::CaptureStdout();
    base.printAll();
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("20   r   "), std::string::npos) << printed;
    EXPECT_EQ(linesOf(printed).size(), 2u);

    ASSERT_TRUE(base.rewrite());
    EXPECT_EQ(dir.read(file), line({"10", addReplaces ? "z" : "a"}, n) + line({"20", "r"}, n));
}

} // namespace

TEST(KeyedTables, theHostsBasePointerReachesTheKeyedRows)
{
    ScopedTempDir dir;
    editThroughTheBasePointer<EWItemDB>(dir, true);
    editThroughTheBasePointer<EWWearingDB>(dir, false);
    editThroughTheBasePointer<EWCharSectionsDB>(dir, true);
    editThroughTheBasePointer<EWCharHairGeoDB>(dir, true);
    editThroughTheBasePointer<EWEffectsDB>(dir, false);
    editThroughTheBasePointer<CreatureDB>(dir, false);
    editThroughTheBasePointer<NpcDB>(dir, false);
    editThroughTheBasePointer<ObjectDB>(dir, false);
    editThroughTheBasePointer<AnimationDB>(dir, false);
}

TEST(AppearanceTables, packedKeysFollowTheFormulaAndWrap)
{
    EXPECT_EQ(EWCharSectionsDB::makeKey(1, 0, 0, 0, 0), 0u);
    EXPECT_EQ(EWCharSectionsDB::makeKey(2, 1, 3, 4, 5), 3645u);
    EXPECT_EQ(EWCharSectionsDB::makeKey(1, 1, 1, 1, 1), 1211u);
    EXPECT_EQ(EWCharSectionsDB::makeKey(0, 0, 0, 0, 0), 4294965296u) << "(0 - 1) * 2000 in 32 bits";
    EXPECT_EQ(EWCharSectionsDB::makeKey(0, 1, 3, 4, 5), 4294965296u + 1645u);
    EXPECT_EQ(EWCharSectionsDB::makeKey(0, 1, 4, 19, 9), 0u - 1u) << "the last key before race 1's block";

    EXPECT_EQ(EWCharHairGeoDB::makeKey(1, 0, 0), 0u);
    EXPECT_EQ(EWCharHairGeoDB::makeKey(3, 1, 7), 107u);
    EXPECT_EQ(EWCharHairGeoDB::makeKey(0, 0, 0), 0u - 40u);
    EXPECT_EQ(EWCharHairGeoDB::makeKey(0, 1, 19), 0u - 1u);

    // Nothing checks the ranges: out of range parts collide with other rows' keys.
    EXPECT_EQ(EWCharSectionsDB::makeKey(1, 0, 0, 0, 10), EWCharSectionsDB::makeKey(1, 0, 0, 1, 0));
    EXPECT_EQ(EWCharHairGeoDB::makeKey(1, 0, 20), EWCharHairGeoDB::makeKey(1, 1, 0));
}

TEST(AppearanceTables, aRowIsFoundOnlyByItsColumnZero)
{
    ScopedTempDir dir;
    dir.write("EWCharSections.csv", line({"1211", "1", "1", "1", "1", "1", "good"}, 10) +
                                        line({"1200", "1", "1", "1", "2", "2", "stray"}, 10));
    EWCharSectionsDB sections;
    ASSERT_TRUE(sections.open());
    EXPECT_EQ(field(sections.getByParams(1, 1, 1, 1, 1), EWCharSectionsDB::Tex1), "good");
    EXPECT_FALSE(sections.getByParams(1, 1, 1, 2, 2).isValid()) << "its own columns pack to 1222";
    EXPECT_TRUE(sections.testKey(1200));
    EXPECT_FALSE(sections.testKey(1222));
    EXPECT_EQ(field(sections.getByParams(1, 1, 1, 0, 0), EWCharSectionsDB::Tex1), "stray") << "1200 packs (1,1,1,0,0)";

    dir.write("EWCharHairGeo.csv", "107,3,1,7,a,b,0\n50,3,1,8,c,d,0\n");
    EWCharHairGeoDB hair;
    ASSERT_TRUE(hair.open());
    EXPECT_TRUE(hair.getByParams(3, 1, 7).isValid());
    EXPECT_FALSE(hair.getByParams(3, 1, 8).isValid());
    EXPECT_TRUE(hair.testKey(50));
    EXPECT_EQ(field(hair.getByParams(2, 0, 10), EWCharHairGeoDB::Submesh1), "c");
}

TEST(AppearanceTables, countingWalksEveryRow)
{
    ScopedTempDir dir;
    std::string sectionsText;
    // Hair style 2 of race 1, gender 0 in colours 0 to 4; style 3 in colour 0 only; race 2 style 2 colour 0.
    for (unsigned color = 0; color < 5; ++color)
        sectionsText += line(
            {std::to_string(EWCharSectionsDB::makeKey(1, 0, 3, 2, color)), "1", "0", "3", "2", std::to_string(color)},
            10);
    sectionsText += line({std::to_string(EWCharSectionsDB::makeKey(1, 0, 3, 3, 0)), "1", "0", "3", "3", "0"}, 10);
    sectionsText += line({std::to_string(EWCharSectionsDB::makeKey(2, 0, 3, 2, 0)), "2", "0", "3", "2", "0"}, 10);
    dir.write("EWCharSections.csv", sectionsText);
    EWCharSectionsDB sections;
    ASSERT_TRUE(sections.open());
    EXPECT_EQ(sections.getColorsFor(1, 0, 3, 2), 5);
    EXPECT_EQ(sections.getColorsFor(1, 0, 3, 3), 1);
    EXPECT_EQ(sections.getColorsFor(1, 1, 3, 2), 0);
    EXPECT_EQ(sections.getColorsFor(1, 0, 1, 2), 0) << "another type";
    EXPECT_EQ(sections.getSectionsFor(1, 0, 3, 0), 2) << "styles 2 and 3 in colour 0";
    EXPECT_EQ(sections.getSectionsFor(1, 0, 3, 4), 1);
    EXPECT_EQ(sections.getSectionsFor(1, 0, 3, 5), 0);
    EXPECT_EQ(sections.getSectionsFor(2, 0, 3, 0), 1);

    dir.write("EWCharFacialHairStyles.csv", "1,0,1,a,b,c\n1,0,2,d,e,f\n1,0,1,second,x,y\n1,1,1,g,h,i\n2,0,1,j,k,l\n");
    EWCharFacialHairDB beards;
    ASSERT_TRUE(beards.open());
    EXPECT_EQ(beards.getStylesFor(1, 0), 3) << "every row counts, a repeated style too";
    EXPECT_EQ(beards.getStylesFor(1, 1), 1);
    EXPECT_EQ(beards.getStylesFor(3, 0), 0);
}

TEST(AppearanceTables, beardLookupsTakeTheFirstRowAndMissCleanly)
{
    ScopedTempDir dir;
    dir.write("EWCharFacialHairStyles.csv", "1,0,1,first,g3,g2\n1,0,2,d,e,f\n1,0,1,second,x,y\n");
    EWCharFacialHairDB beards;
    ASSERT_TRUE(beards.open());
    const Record& beard = beards.getByParams(1, 0, 1);
    EXPECT_EQ(field(beard, EWCharFacialHairDB::Geoset1), "first");
    EXPECT_EQ(field(beard, EWCharFacialHairDB::Geoset3), "g3") << "column 4 is Geoset3";
    EXPECT_EQ(field(beard, EWCharFacialHairDB::Geoset2), "g2");
    EXPECT_FALSE(beards.getByParams(1, 0, 9).isValid());
    EXPECT_FALSE(beards.getByParams(1, 1, 1).isValid());
    EXPECT_FALSE(beards.getByParams(0, 0, 0).isValid());
}

TEST(AnimationTable, missingKindsGiveNullAndBadRowsFailTheOpen)
{
    ScopedTempDir dir;
    {
        dir.write("Animation.csv", "//type,play,blend,name,merge,remark\n1,0,0,Idle,0,stand\n4,1,1,Attack,1,hit\n");
        AnimationDB animations;
        ASSERT_TRUE(animations.open());
        EXPECT_EQ(animations.getByType(0), nullptr);
        EXPECT_EQ(animations.getByType(2), nullptr);
        ASSERT_NE(animations.getByType(4), nullptr);
        EXPECT_EQ(animations.getByType(4)->getUInt(AnimationDB::PlayType), 1u);
        EXPECT_EQ(field(*animations.getByType(4), AnimationDB::expain), "hit");
    }
    for (const char* bad : {"2,0,0,Run,0\n", "2,0,0,Run,0,remark,extra\n"})
    {
        SCOPED_TRACE(bad);
        dir.write("Animation.csv", std::string("1,0,0,Idle,0,stand\n") + bad + "3,0,0,Walk,0,go\n");
        AnimationDB animations;
        EXPECT_FALSE(animations.open());
        EXPECT_EQ(animations.getNumRecords(), 0u) << "a failed open does not set the count";
        EXPECT_EQ(animations.getByType(3), nullptr) << "reading stops at the bad row";
        EXPECT_NE(animations.getByType(1), nullptr) << "rows before the bad one stay stored";
    }
}

TEST(KeyedTables, rowsReadInAnyOrderKeepTheFirstOfEachKeyAcrossOpens)
{
    ScopedTempDir dir;
    // Keys out of order, repeated far apart and next to each other.
    dir.write("EWEffects.csv", "9,a,t,1,1\n2,b,t,1,1\n9,c,t,1,1\n5,d,t,1,1\n2,e,t,1,1\n2,f,t,1,1\n1,g,t,1,1\n");
    EWEffectsDB effects;
    ASSERT_TRUE(effects.open());
    EXPECT_EQ(effects.getNumRecords(), 4u);
    EXPECT_EQ(field(effects.getById(9), EWEffectsDB::effectName), "a");
    EXPECT_EQ(field(effects.getById(2), EWEffectsDB::effectName), "b");
    std::vector<unsigned> keys;
    for (const auto& entry : effects.getRecordMap())
        keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<unsigned>{1, 2, 5, 9}));

    // A second open adds only the keys not held yet; the rows held stay.
    dir.write("EWEffects.csv", "3,new,t,1,1\n9,newer,t,1,1\n");
    ASSERT_TRUE(effects.open());
    EXPECT_EQ(effects.getNumRecords(), 5u);
    EXPECT_EQ(field(effects.getById(9), EWEffectsDB::effectName), "a");
    EXPECT_EQ(field(effects.getById(3), EWEffectsDB::effectName), "new");
}

TEST(TableLayouts, fileNamesAndColumnCounts)
{
    struct Layout
    {
        std::string file;
        unsigned columns;
        std::string expectedFile;
        unsigned expectedColumns;
    };
    const Layout layouts[] = {
        {CreatureDB().getFileName(), CreatureDB().getNumFields(), "Creature.csv", 30},
        {NpcDB().getFileName(), NpcDB().getNumFields(), "Npc.csv", 30},
        {ObjectDB().getFileName(), ObjectDB().getNumFields(), "Object.csv", 12},
        {EWItemDB().getFileName(), EWItemDB().getNumFields(), "ItemDisplay.csv", 11},
        {EWWearingDB().getFileName(), EWWearingDB().getNumFields(), "WearingItemDisplay.csv", 16},
        {EWEffectsDB().getFileName(), EWEffectsDB().getNumFields(), "EWEffects.csv", 5},
        {EWBaseInfoDB().getFileName(), EWBaseInfoDB().getNumFields(), "EWCharBaseInfo.csv", 25},
        {EWCharRacesDB().getFileName(), EWCharRacesDB().getNumFields(), "EWRaces.csv", 7},
        {EWCharSectionsDB().getFileName(), EWCharSectionsDB().getNumFields(), "EWCharSections.csv", 10},
        {EWCharHairGeoDB().getFileName(), EWCharHairGeoDB().getNumFields(), "EWCharHairGeo.csv", 7},
        {EWCharFacialHairDB().getFileName(), EWCharFacialHairDB().getNumFields(), "EWCharFacialHairStyles.csv", 6},
        {AnimationDB().getFileName(), AnimationDB().getNumFields(), "Animation.csv", 6},
    };
    for (const Layout& layout : layouts)
    {
        EXPECT_EQ(layout.file, layout.expectedFile);
        EXPECT_EQ(layout.columns, layout.expectedColumns) << layout.file;
    }
}

// The host is compiled against these names; a renamed or renumbered column breaks it silently.
TEST(TableLayouts, everyColumnConstantCarriesItsIndex)
{
    struct Column
    {
        const char* name;
        unsigned value;
        unsigned index;
    };
#define AVATAR_COLUMN(cls, name, index)                                                                                \
    Column                                                                                                             \
    {                                                                                                                  \
#cls "::" #name, cls::name, index                                                                              \
    }
    const Column columns[] = {
        AVATAR_COLUMN(CreatureDB, CreatureID, 0),
        AVATAR_COLUMN(CreatureDB, Scale, 1),
        AVATAR_COLUMN(CreatureDB, Name, 2),
        AVATAR_COLUMN(CreatureDB, FileName, 3),
        AVATAR_COLUMN(CreatureDB, Effect1, 4),
        AVATAR_COLUMN(CreatureDB, Effect2, 5),
        AVATAR_COLUMN(CreatureDB, Effect3, 6),
        AVATAR_COLUMN(CreatureDB, Effect4, 7),
        AVATAR_COLUMN(CreatureDB, Effect5, 8),
        AVATAR_COLUMN(CreatureDB, HeadImage, 9),
        AVATAR_COLUMN(CreatureDB, WalkSpeed, 10),
        AVATAR_COLUMN(CreatureDB, RunSpeed, 11),
        AVATAR_COLUMN(CreatureDB, AttackAction1Len, 12),
        AVATAR_COLUMN(CreatureDB, AttackAction1FuckTime, 13),
        AVATAR_COLUMN(CreatureDB, AttackAction2Len, 14),
        AVATAR_COLUMN(CreatureDB, AttackAction2FuckTime, 15),
        AVATAR_COLUMN(CreatureDB, AttackAction3Len, 16),
        AVATAR_COLUMN(CreatureDB, AttackAction3FuckTime, 17),
        AVATAR_COLUMN(CreatureDB, AttackAction4Len, 18),
        AVATAR_COLUMN(CreatureDB, AttackAction4FuckTime, 19),
        AVATAR_COLUMN(CreatureDB, AttackAction5Len, 20),
        AVATAR_COLUMN(CreatureDB, AttackAction5FuckTime, 21),
        AVATAR_COLUMN(CreatureDB, AttackAction6Len, 22),
        AVATAR_COLUMN(CreatureDB, AttackAction6FuckTime, 23),
        AVATAR_COLUMN(CreatureDB, AttackAction70Len, 24),
        AVATAR_COLUMN(CreatureDB, AttackAction7FuckTime, 25),
        AVATAR_COLUMN(CreatureDB, AttackAction8Len, 26),
        AVATAR_COLUMN(CreatureDB, AttackAction8FuckTime, 27),
        AVATAR_COLUMN(CreatureDB, CameraBias, 28),
        AVATAR_COLUMN(CreatureDB, BeTransObject, 29),

        AVATAR_COLUMN(NpcDB, NpcID, 0),
        AVATAR_COLUMN(NpcDB, Name, 2),
        AVATAR_COLUMN(NpcDB, AttackAction70Len, 24),
        AVATAR_COLUMN(NpcDB, CameraBias, 28),
        AVATAR_COLUMN(NpcDB, BeTransObject, 29),

        AVATAR_COLUMN(ObjectDB, ObjectId, 0),
        AVATAR_COLUMN(ObjectDB, Scale, 1),
        AVATAR_COLUMN(ObjectDB, Name, 2),
        AVATAR_COLUMN(ObjectDB, FileName, 3),
        AVATAR_COLUMN(ObjectDB, Effect1, 4),
        AVATAR_COLUMN(ObjectDB, Effect2, 5),
        AVATAR_COLUMN(ObjectDB, Effect3, 6),
        AVATAR_COLUMN(ObjectDB, Effect4, 7),
        AVATAR_COLUMN(ObjectDB, Effect5, 8),
        AVATAR_COLUMN(ObjectDB, HeadImage, 9),
        AVATAR_COLUMN(ObjectDB, CameraBias, 10),
        AVATAR_COLUMN(ObjectDB, BeTransObject, 11),

        AVATAR_COLUMN(EWItemDB, ItemID, 0),
        AVATAR_COLUMN(EWItemDB, Name, 1),
        AVATAR_COLUMN(EWItemDB, Type, 2),
        AVATAR_COLUMN(EWItemDB, ModelFile, 3),
        AVATAR_COLUMN(EWItemDB, ModelFile2, 4),
        AVATAR_COLUMN(EWItemDB, HideHair, 5),
        AVATAR_COLUMN(EWItemDB, HideHead, 6),
        AVATAR_COLUMN(EWItemDB, Effect1, 7),
        AVATAR_COLUMN(EWItemDB, Effect2, 8),
        AVATAR_COLUMN(EWItemDB, Effect3, 9),
        AVATAR_COLUMN(EWItemDB, flag, 10),

        AVATAR_COLUMN(EWWearingDB, ItemID, 0),
        AVATAR_COLUMN(EWWearingDB, Name, 1),
        AVATAR_COLUMN(EWWearingDB, Type, 2),
        AVATAR_COLUMN(EWWearingDB, TexPath, 3),
        AVATAR_COLUMN(EWWearingDB, outModel, 4),
        AVATAR_COLUMN(EWWearingDB, material, 5),
        AVATAR_COLUMN(EWWearingDB, TexHand, 6),
        AVATAR_COLUMN(EWWearingDB, MatHand, 7),
        AVATAR_COLUMN(EWWearingDB, TexBody, 8),
        AVATAR_COLUMN(EWWearingDB, MatBody, 9),
        AVATAR_COLUMN(EWWearingDB, TexPants, 10),
        AVATAR_COLUMN(EWWearingDB, MatPants, 11),
        AVATAR_COLUMN(EWWearingDB, TexFoot, 12),
        AVATAR_COLUMN(EWWearingDB, MatFoot, 13),
        AVATAR_COLUMN(EWWearingDB, Flag, 14),
        AVATAR_COLUMN(EWWearingDB, HideBody, 15),

        AVATAR_COLUMN(EWEffectsDB, effectID, 0),
        AVATAR_COLUMN(EWEffectsDB, effectName, 1),
        AVATAR_COLUMN(EWEffectsDB, effectTemplatName, 2),
        AVATAR_COLUMN(EWEffectsDB, effectSize, 3),
        AVATAR_COLUMN(EWEffectsDB, effectSpeed, 4),

        AVATAR_COLUMN(EWBaseInfoDB, charID, 0),
        AVATAR_COLUMN(EWBaseInfoDB, Name, 1),
        AVATAR_COLUMN(EWBaseInfoDB, race, 2),
        AVATAR_COLUMN(EWBaseInfoDB, gender, 3),
        AVATAR_COLUMN(EWBaseInfoDB, facialHairStyle, 4),
        AVATAR_COLUMN(EWBaseInfoDB, hairStyle, 5),
        AVATAR_COLUMN(EWBaseInfoDB, hairColor, 6),
        AVATAR_COLUMN(EWBaseInfoDB, skinColor, 7),
        AVATAR_COLUMN(EWBaseInfoDB, faceType, 8),
        AVATAR_COLUMN(EWBaseInfoDB, head, 9),
        AVATAR_COLUMN(EWBaseInfoDB, shoulder, 10),
        AVATAR_COLUMN(EWBaseInfoDB, boot, 11),
        AVATAR_COLUMN(EWBaseInfoDB, belt, 12),
        AVATAR_COLUMN(EWBaseInfoDB, shirt, 13),
        AVATAR_COLUMN(EWBaseInfoDB, pants, 14),
        AVATAR_COLUMN(EWBaseInfoDB, doublehand, 15),
        AVATAR_COLUMN(EWBaseInfoDB, shield, 16),
        AVATAR_COLUMN(EWBaseInfoDB, glove, 17),
        AVATAR_COLUMN(EWBaseInfoDB, leftHand, 18),
        AVATAR_COLUMN(EWBaseInfoDB, rightHand, 19),
        AVATAR_COLUMN(EWBaseInfoDB, backLongWeapon, 20),
        AVATAR_COLUMN(EWBaseInfoDB, backShield, 21),
        AVATAR_COLUMN(EWBaseInfoDB, leftWaist, 22),
        AVATAR_COLUMN(EWBaseInfoDB, rightWaist, 23),
        AVATAR_COLUMN(EWBaseInfoDB, animation, 24),

        AVATAR_COLUMN(EWCharRacesDB, RaceID, 0),
        AVATAR_COLUMN(EWCharRacesDB, ShortName, 1),
        AVATAR_COLUMN(EWCharRacesDB, Name, 2),
        AVATAR_COLUMN(EWCharRacesDB, ChineseName, 3),
        AVATAR_COLUMN(EWCharRacesDB, scale, 4),
        AVATAR_COLUMN(EWCharRacesDB, Special1, 5),
        AVATAR_COLUMN(EWCharRacesDB, Special2, 6),

        AVATAR_COLUMN(EWCharSectionsDB, SectonID, 0),
        AVATAR_COLUMN(EWCharSectionsDB, Race, 1),
        AVATAR_COLUMN(EWCharSectionsDB, Gender, 2),
        AVATAR_COLUMN(EWCharSectionsDB, Type, 3),
        AVATAR_COLUMN(EWCharSectionsDB, Section, 4),
        AVATAR_COLUMN(EWCharSectionsDB, Color, 5),
        AVATAR_COLUMN(EWCharSectionsDB, Tex1, 6),
        AVATAR_COLUMN(EWCharSectionsDB, Tex2, 7),
        AVATAR_COLUMN(EWCharSectionsDB, Tex3, 8),
        AVATAR_COLUMN(EWCharSectionsDB, IsNPC, 9),
        AVATAR_COLUMN(EWCharSectionsDB, SkinType, 0),
        AVATAR_COLUMN(EWCharSectionsDB, FaceType, 1),
        AVATAR_COLUMN(EWCharSectionsDB, FacialHairType, 2),
        AVATAR_COLUMN(EWCharSectionsDB, HairType, 3),
        AVATAR_COLUMN(EWCharSectionsDB, UnderwearType, 4),

        AVATAR_COLUMN(EWCharHairGeoDB, CharHairGeosetID, 0),
        AVATAR_COLUMN(EWCharHairGeoDB, Race, 1),
        AVATAR_COLUMN(EWCharHairGeoDB, Gender, 2),
        AVATAR_COLUMN(EWCharHairGeoDB, Section, 3),
        AVATAR_COLUMN(EWCharHairGeoDB, Submesh1, 4),
        AVATAR_COLUMN(EWCharHairGeoDB, Submesh2, 5),
        AVATAR_COLUMN(EWCharHairGeoDB, Flags, 6),

        AVATAR_COLUMN(EWCharFacialHairDB, Race, 0),
        AVATAR_COLUMN(EWCharFacialHairDB, Gender, 1),
        AVATAR_COLUMN(EWCharFacialHairDB, Style, 2),
        AVATAR_COLUMN(EWCharFacialHairDB, Geoset1, 3),
        AVATAR_COLUMN(EWCharFacialHairDB, Geoset3, 4),
        AVATAR_COLUMN(EWCharFacialHairDB, Geoset2, 5),

        AVATAR_COLUMN(AnimationDB, AnimType, 0),
        AVATAR_COLUMN(AnimationDB, PlayType, 1),
        AVATAR_COLUMN(AnimationDB, BlendType, 2),
        AVATAR_COLUMN(AnimationDB, AnimName, 3),
        AVATAR_COLUMN(AnimationDB, IsMerge, 4),
        AVATAR_COLUMN(AnimationDB, expain, 5),
    };
#undef AVATAR_COLUMN
    for (const Column& column : columns)
        EXPECT_EQ(column.value, column.index) << column.name;
}

namespace
{

/// Row 2 copied over ID 1: the copy goes under ID 1, says 1 in column 0, and reads back so.
template <class Table> void copyOverAnotherId(const ScopedTempDir& dir, unsigned first)
{
    const unsigned n = Table::layout().numFields();
    const std::string file = Table::layout().fileName;
    const std::string one = std::to_string(first), two = std::to_string(first + 1);
    SCOPED_TRACE(file);
    dir.write(file, line({one, "1", "A"}, n) + line({two, "1", "B"}, n));
    Table table;
    ASSERT_TRUE(table.open());
    Record copy = table.getByID(first + 1);
    ASSERT_TRUE(table.insteadRecord(copy, first));
    EXPECT_EQ(field(table.getByID(first), 0), one) << "the row says the ID it is held under";
    EXPECT_EQ(field(table.getByName("B"), 0), one) << "so a look-up by name gives the right ID";
    ASSERT_TRUE(table.rewrite());

    Table reopened;
    ASSERT_TRUE(reopened.open());
    EXPECT_EQ(reopened.getNumRecords(), 2u);
    EXPECT_EQ(reopened.getByID(first).fields(), table.getByID(first).fields());
    EXPECT_EQ(reopened.getByID(first + 1).fields(), table.getByID(first + 1).fields());

    // Column 0 changed in place: the row would come back under another ID, so nothing is written.
    const std::string written = dir.read(file);
    table.getRecordMap().at(first).setID(first + 7);
    EXPECT_FALSE(table.rewrite());
    EXPECT_EQ(dir.read(file), written);
}

} // namespace

TEST(KeyedTables, aRowPutUnderAnotherIdReadsBackUnderThatId)
{
    ScopedTempDir dir;
    copyOverAnotherId<CreatureDB>(dir, 1);
    copyOverAnotherId<NpcDB>(dir, 30001);
    copyOverAnotherId<ObjectDB>(dir, 37001);
}

TEST(AppearanceTables, deletingABeardRowKeepsTheRacesOfTheOthers)
{
    ScopedTempDir dir;
    const std::string rest = "2,0,1,g,h,i\n1,1,1,d,e,f\n";
    dir.write("EWCharFacialHairStyles.csv", "1,1,0,a,b,c\n" + rest);
    EWCharFacialHairDB beards;
    ASSERT_TRUE(beards.open());
    ASSERT_TRUE(beards.deleteRecord(0));
    EXPECT_EQ(field(beards.getByParams(2, 0, 1), 3), "g");
    EXPECT_EQ(field(beards.getByParams(1, 1, 1), 3), "d");
    EXPECT_EQ(beards.getStylesFor(1, 1), 1);
    ASSERT_TRUE(beards.rewrite());
    EXPECT_EQ(dir.read("EWCharFacialHairStyles.csv"), rest);
}

TEST(RowVectorTables, nameLookupsSeeRowsEditedInPlaceOrReplaced)
{
    ScopedTempDir dir;
    dir.write("EWCharBaseInfo.csv", line({"1", "Ann"}, 25) + line({"2", "Bob"}, 25) + line({"3", "Cid"}, 25));
    EWBaseInfoDB presets;
    ASSERT_TRUE(presets.open());
    EXPECT_EQ(field(presets.getByName("Cid"), 0), "3"); // the index is built

    Record renamed = presets.getById(2);
    std::string name = "Amy";
    renamed.setName(EWBaseInfoDB::Name, name);
    ASSERT_TRUE(presets.insteadRecord(renamed, 1));
    EXPECT_EQ(field(presets.getByName("Amy"), 0), "2");
    EXPECT_FALSE(presets.getByName("Bob").isValid());

    std::vector<Record>& rows = presets.getRecordArray();
    name = "Zed";
    rows[0].setName(EWBaseInfoDB::Name, name);
    EXPECT_EQ(&presets.getByName("Zed"), &rows[0]);
    EXPECT_FALSE(presets.getByName("Ann").isValid());
    name = "Cid";
    rows[0].setName(EWBaseInfoDB::Name, name);
    EXPECT_EQ(&presets.getByName("Cid"), &rows[0]) << "the first row of the name, not the one indexed before";

    dir.write("Creature.csv", creatureLine({"5", "1", "Wolf"}) + creatureLine({"9", "1", "Bear"}));
    CreatureDB creatures;
    ASSERT_TRUE(creatures.open());
    EXPECT_EQ(field(creatures.getByName("Bear"), 0), "9");
    std::map<unsigned, Record>& byId = creatures.getRecordMap();
    name = "Bear";
    byId.at(5).setName(CreatureDB::Name, name);
    EXPECT_EQ(field(creatures.getByName("Bear"), 0), "5");
    name = "Zed";
    byId.at(9).setName(CreatureDB::Name, name);
    EXPECT_EQ(field(creatures.getByName("Zed"), 0), "9");
}
