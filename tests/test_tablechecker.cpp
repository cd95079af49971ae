#include "avatarsystem/tablechecker.h"

#include "avatarsystem/creaturedb.h"
#include "avatarsystem/ewchardb.h"

#include "fuzz/tableinput.h"
#include "headlessogre.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <initializer_list>
#include <string>
#include <vector>

using avatar_check::CheckedTable;
using avatar_check::TableFinding;
using avatar_check::TableLayout;

namespace
{

std::string line(std::initializer_list<std::string> leading, unsigned numFields)
{
    std::vector<std::string> fields(leading);
    for (unsigned j = static_cast<unsigned>(fields.size()); j < numFields; ++j)
        fields.push_back("0");
    std::string text;
    for (unsigned j = 0; j < numFields; ++j)
        text += (j ? "," : "") + fields[j];
    return text + "\n";
}

const TableLayout& layoutOf(const char* fileName)
{
    const TableLayout* layout = avatar_check::findTableLayout(fileName);
    if (!layout)
        throw std::runtime_error(std::string("no layout for ") + fileName);
    return *layout;
}

struct Checked
{
    CheckedTable table;
    std::vector<TableFinding> findings;
};

Checked check(const char* fileName, const std::string& bytes)
{
    Checked result;
    result.table = avatar_check::checkTableBytes(fileName, bytes, layoutOf(fileName), result.findings);
    return result;
}

/// "line:severity" of each finding, the part of a finding that tests pin exactly.
std::vector<std::string> where(const std::vector<TableFinding>& findings)
{
    std::vector<std::string> result;
    for (const TableFinding& f : findings)
        result.push_back(std::to_string(f.line) + (f.severity == TableFinding::Error ? ":error" : ":warning"));
    return result;
}

using Where = std::vector<std::string>;

} // namespace

TEST(TableChecker, knowsEveryTableTheSystemReads)
{
    ASSERT_EQ(avatar_check::knownTables().size(), 12u);
    for (const TableLayout& layout : avatar_check::knownTables())
    {
        SCOPED_TRACE(layout.fileName);
        for (const std::string& name : layout.columns)
            EXPECT_FALSE(name.empty()) << "every column has a name";
    }
    EXPECT_EQ(layoutOf("Creature.csv").numFields(), unsigned{CreatureDB::NumColumns});
    EXPECT_EQ(layoutOf("Creature.csv").columns[CreatureDB::AttackAction70Len], "AttackAction70Len");
    EXPECT_EQ(layoutOf("Npc.csv").columns[0], "NpcID");
    EXPECT_EQ(layoutOf("EWCharFacialHairStyles.csv").columns[4], "Geoset3");
    EXPECT_TRUE(layoutOf("EWCharSections.csv").keyed);
    EXPECT_FALSE(layoutOf("EWRaces.csv").keyed);
    EXPECT_FALSE(layoutOf("EWCharBaseInfo.csv").keyed);
    EXPECT_EQ(avatar_check::findTableLayout("creature.csv"), nullptr) << "file names are matched exactly";
}

TEST(TableChecker, findingsHaveTheFormEditorsRecognise)
{
    EXPECT_EQ(avatar_check::formatFinding({"dir/Npc.csv", 12, TableFinding::Error, "bad"}),
              "dir/Npc.csv:12: error: bad");
    EXPECT_EQ(avatar_check::formatFinding({"Npc.csv", 0, TableFinding::Warning, "w"}), "Npc.csv:0: warning: w");
}

TEST(TableChecker, layoutFaultsAreReportedOnTheirLinesAndCheckingGoesOn)
{
    {
        SCOPED_TRACE("a good file has no findings");
        const Checked c = check("EWEffects.csv", "//id,name,template,size,speed\n1,a,t,1,1\r\n2,b,t,1,1");
        EXPECT_TRUE(c.findings.empty());
        EXPECT_TRUE(c.table.opens);
        EXPECT_EQ(c.table.rows.size(), 2u);
        EXPECT_EQ(c.table.lines, (std::vector<unsigned>{2, 3}));
    }
    {
        SCOPED_TRACE("every row with the wrong column count is an error");
        const Checked c = check("EWEffects.csv", "1,a,t,1\n2,b,t,1,1\n3,c,t,1,1,extra\n4,d,t,1,1\n");
        EXPECT_EQ(where(c.findings), (Where{"1:error", "3:error"}));
        EXPECT_FALSE(c.table.opens);
        EXPECT_EQ(c.table.rows.size(), 2u) << "rows 2 and 4 are still checked";
        EXPECT_NE(c.findings[0].message.find("4 columns"), std::string::npos) << c.findings[0].message;
        EXPECT_NE(c.findings[1].message.find("6 columns"), std::string::npos) << c.findings[1].message;
    }
    {
        SCOPED_TRACE("an over-long data line is an error, an over-long comment is not");
        const std::string longName(2100, 'n');
        const Checked c = check("EWEffects.csv", "//" + longName + "\n1," + longName + ",t,1,1\n2,b,t,1,1\n");
        EXPECT_EQ(where(c.findings), (Where{"2:error"}));
        EXPECT_FALSE(c.table.opens);
        EXPECT_NE(c.findings[0].message.find("2047"), std::string::npos);
    }
    {
        SCOPED_TRACE("exactly 2047 bytes is allowed");
        const std::string row = "1,b,t,1," + std::string(2047 - 8, '1');
        ASSERT_EQ(row.size(), 2047u);
        EXPECT_TRUE(check("EWEffects.csv", row + "\n").findings.empty());
    }
}

TEST(TableChecker, vanishingRowsAreWarnings)
{
    {
        SCOPED_TRACE("a row with // inside a field");
        const Checked c = check("EWEffects.csv", "//id,name,template,size,speed\n1,a,http://x,1,1\n2,b,t,1,1\n"
                                                 "  // a remark, not a row\n3,c,t,1,1 // trailing remark\n");
        EXPECT_EQ(where(c.findings), (Where{"2:warning", "5:warning"}));
        EXPECT_TRUE(c.table.opens);
        EXPECT_EQ(c.table.rows.size(), 1u);
    }
    {
        SCOPED_TRACE("a comment with another column count or no numeric key is not taken for a row");
        EXPECT_TRUE(check("EWEffects.csv", "id,name,tpl//x,size,speed\nfoo//bar\n1,a,t,1,1\n").findings.empty());
    }
    {
        SCOPED_TRACE("a blank line with rows after it");
        const Checked c = check("EWEffects.csv", "1,a,t,1,1\n\n2,b,t,1,1\n//c\n3,c,t,1,1\n");
        EXPECT_EQ(where(c.findings), (Where{"2:warning"}));
        EXPECT_NE(c.findings[0].message.find("2 data lines"), std::string::npos) << c.findings[0].message;
        EXPECT_EQ(c.table.rows.size(), 1u) << "rows after the end are not the table's";
    }
    {
        SCOPED_TRACE("a CR-only line and a one-byte line end the table too");
        EXPECT_EQ(where(check("EWEffects.csv", "1,a,t,1,1\r\n\r\n2,b,t,1,1\r\n").findings), (Where{"2:warning"}));
        const Checked oneByte = check("EWEffects.csv", "1,a,t,1,1\nx\n2,b,t,1,1\n");
        ASSERT_EQ(where(oneByte.findings), (Where{"2:warning"}));
        EXPECT_NE(oneByte.findings[0].message.find("one-byte"), std::string::npos);
    }
    {
        SCOPED_TRACE("blank lines at the very end lose nothing");
        EXPECT_TRUE(check("EWEffects.csv", "1,a,t,1,1\n\n\n").findings.empty());
        EXPECT_TRUE(check("EWEffects.csv", "1,a,t,1,1\n\n//closing remark\n").findings.empty());
    }
    {
        SCOPED_TRACE("faults after the end of the table are not the table's");
        EXPECT_EQ(where(check("EWEffects.csv", "1,a,t,1,1\n\n2,b\n").findings), (Where{"2:warning"}));
    }
}

TEST(TableChecker, repeatedKeysWarnOnlyInKeyedTables)
{
    const Checked keyed = check("EWEffects.csv", "7,first,t,1,1\n3,b,t,1,1\n7,second,t,1,1\n07,third,t,1,1\n");
    EXPECT_EQ(where(keyed.findings), (Where{"3:warning", "4:warning"}));
    EXPECT_NE(keyed.findings[0].message.find("line 1"), std::string::npos) << keyed.findings[0].message;
    ASSERT_EQ(keyed.table.rows.size(), 2u);
    ASSERT_GE(keyed.table.findKey(7), 0);
    EXPECT_STREQ(keyed.table.rows[static_cast<std::size_t>(keyed.table.findKey(7))].getString(1), "first");
    EXPECT_EQ(keyed.table.findKey(8), -1);

    const Checked textKey = check("EWEffects.csv", "x,a,t,1,1\n0,b,t,1,1\n");
    EXPECT_EQ(where(textKey.findings), (Where{"1:warning", "2:warning"})) << "x is stored under 0, then 0 repeats it";

    // Row-vector tables keep every row; two presets may share an ID.
    const std::string preset = line({"1", "Hero", "1"}, 25);
    const Checked vector = check("EWCharBaseInfo.csv", preset + preset);
    EXPECT_TRUE(vector.findings.empty());
    EXPECT_EQ(vector.table.rows.size(), 2u);
}

TEST(TableChecker, packedKeysMustMatchTheirOwnColumns)
{
    {
        std::vector<TableFinding> findings;
        const CheckedTable sections = avatar_check::checkTableBytes(
            "EWCharSections.csv",
            line({"1211", "1", "1", "1", "1", "1"}, 10) + line({"1200", "1", "1", "1", "2", "2"}, 10) +
                line({"3645", "2", "1", "3", "4", "5"}, 10) + line({"4294965296", "0", "0", "0", "0", "0"}, 10),
            layoutOf("EWCharSections.csv"), findings);
        ASSERT_TRUE(findings.empty());
        avatar_check::checkPackedKeys(sections, findings);
        ASSERT_EQ(where(findings), (Where{"2:error"})) << "race 0 wraps, and a wrapped key that matches is fine";
        EXPECT_NE(findings[0].message.find("1222"), std::string::npos) << findings[0].message;
        EXPECT_NE(findings[0].message.find("only by 1200"), std::string::npos) << findings[0].message;
    }
    {
        std::vector<TableFinding> findings;
        const CheckedTable hair =
            avatar_check::checkTableBytes("EWCharHairGeo.csv", "107,3,1,7,a,b,0\n0,1,0,0,a,b,0\n50,3,1,8,a,b,0\n",
                                          layoutOf("EWCharHairGeo.csv"), findings);
        avatar_check::checkPackedKeys(hair, findings);
        ASSERT_EQ(where(findings), (Where{"3:error"}));
        EXPECT_NE(findings[0].message.find("108"), std::string::npos) << findings[0].message;
    }
}

TEST(TableChecker, racesMustStandOnTheirOwnRow)
{
    std::vector<TableFinding> findings;
    const CheckedTable races =
        avatar_check::checkTableBytes("EWRaces.csv", "//id\n1,Hu,Human,c,1,0,0\n5,El,Elf,c,1,0,0\n3,Dw,Dwarf,c,1,0,0\n",
                                      layoutOf("EWRaces.csv"), findings);
    avatar_check::checkRaceIds(races, findings);
    ASSERT_EQ(where(findings), (Where{"3:error"})) << "the line of the file, not the row number";
    EXPECT_NE(findings[0].message.find("RaceID 5"), std::string::npos) << findings[0].message;
}

TEST(TableChecker, presetsMustReferToRowsThatExist)
{
    using P = EWBaseInfoDB;
    std::vector<TableFinding> ignored;
    const CheckedTable races = avatar_check::checkTableBytes("EWRaces.csv", "1,Hu,Human,c,1,0,0\n9,X,X,c,1,0,0\n",
                                                             layoutOf("EWRaces.csv"), ignored);
    const CheckedTable items = avatar_check::checkTableBytes("ItemDisplay.csv", line({"100"}, 11) + line({"101"}, 11),
                                                             layoutOf("ItemDisplay.csv"), ignored);
    const CheckedTable worn = avatar_check::checkTableBytes("WearingItemDisplay.csv", line({"200"}, 16),
                                                            layoutOf("WearingItemDisplay.csv"), ignored);

    auto presetLine = [](unsigned race, std::initializer_list<std::pair<unsigned, const char*>> places)
    {
        std::vector<std::string> fields(P::NumColumns, "0");
        fields[P::charID] = "1";
        fields[P::Name] = "Hero";
        fields[P::race] = std::to_string(race);
        for (const auto& place : places)
            fields[place.first] = place.second;
        std::string text;
        for (unsigned j = 0; j < P::NumColumns; ++j)
            text += (j ? "," : "") + fields[j];
        return text + "\n";
    };
    const std::string text =
        presetLine(1, {{P::head, "100"}, {P::rightHand, "101"}, {P::boot, "200"}}) + // line 1: all found
        presetLine(2, {}) +                                                          // line 2: no race 2
        presetLine(9, {}) +                                                          // line 3: race 9 on row 2
        presetLine(0, {}) +                                                          // line 4: race 0
        presetLine(1, {{P::rightWaist, "102"}, {P::glove, "100"}}) + // line 5: no item 102; 100 is no worn item
        presetLine(1, {{P::shirt, "200"}, {P::shield, "200"}}) +     // line 6: 200 is no held item
        presetLine(1, {{P::backShield, "0"}, {P::pants, "0"}});      // line 7: 0 means empty
    std::vector<TableFinding> findings;
    const CheckedTable presets =
        avatar_check::checkTableBytes("EWCharBaseInfo.csv", text, layoutOf("EWCharBaseInfo.csv"), findings);
    ASSERT_TRUE(findings.empty());
    avatar_check::checkPresetReferences(presets, &races, &items, &worn, findings);
    EXPECT_EQ(where(findings), (Where{"2:error", "3:error", "4:error", "5:error", "5:error", "6:error"}));
    bool namesThePlace = false;
    for (const TableFinding& f : findings)
        namesThePlace = namesThePlace || f.message == "rightWaist 102 is not in ItemDisplay.csv";
    EXPECT_TRUE(namesThePlace);

    std::vector<TableFinding> withoutTables;
    avatar_check::checkPresetReferences(presets, nullptr, nullptr, nullptr, withoutTables);
    EXPECT_TRUE(withoutTables.empty()) << "absent tables are not checked against";
}

TEST(TableChecker, aDirectoryIsCheckedFileByFileAndAcrossFiles)
{
    ScopedTempDir dir;
    dir.write("EWRaces.csv", "1,Hu,Human,c,1,0,0\n");
    dir.write("ItemDisplay.csv", line({"100"}, 11) + line({"100"}, 11));
    dir.write("EWCharBaseInfo.csv", line({"1", "Hero", "1", "0", "0", "0", "0", "0", "0", "100", "555"}, 25));
    dir.write("Animation.csv", "1,0,0,Idle,0\n");
    dir.write("notatable.csv", "1,2\n");

    const std::vector<avatar_check::FileReport> reports = avatar_check::checkDirectory(dir.path());
    ASSERT_EQ(reports.size(), 4u);
    for (const avatar_check::FileReport& report : reports)
    {
        SCOPED_TRACE(report.file);
        EXPECT_EQ(report.file.rfind(dir.path() + "/", 0), 0u) << "reported by the path given";
        if (report.file.find("Animation.csv") != std::string::npos)
        {
            EXPECT_EQ(report.rows, 0u);
            EXPECT_EQ(report.errors(), 1u);
        }
        else if (report.file.find("ItemDisplay.csv") != std::string::npos)
        {
            EXPECT_EQ(report.rows, 1u);
            EXPECT_EQ(report.errors(), 0u);
            EXPECT_EQ(report.warnings(), 1u);
        }
        else if (report.file.find("EWCharBaseInfo.csv") != std::string::npos)
        {
            EXPECT_EQ(report.rows, 1u);
            ASSERT_EQ(report.errors(), 1u) << "shoulder 555 is missing, head 100 is there";
            EXPECT_NE(report.findings[0].message.find("shoulder 555"), std::string::npos);
        }
        else
        {
            EXPECT_EQ(report.rows, 1u);
            EXPECT_TRUE(report.findings.empty());
        }
    }
    EXPECT_TRUE(avatar_check::checkDirectory(dir.path() + "/missing").empty());
}

// Inputs the fuzzer once crashed on, and hand-made awkward ones, are kept and replayed here.
TEST(TableFuzzInputs, keptInputsStillPassEveryInvariant)
{
    namespace fs = std::filesystem;
    const fs::path directory = fs::path(AVATAR_TEST_DATA_DIR) / "fuzz";
    unsigned replayed = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory))
    {
        if (!entry.is_regular_file())
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_TRUE(runTableInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        ++replayed;
    }
    EXPECT_GT(replayed, 0u) << "no inputs under " << directory;
}
