#include "avatarsystem/tablechecker.h"

#include "avatarsystem/animationdb.h"
#include "avatarsystem/creaturedb.h"
#include "avatarsystem/ewchardb.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <map>
#include <sstream>
#include <utility>

namespace avatar_check
{

namespace
{

using avatar_detail::TableFileReader;

struct NamedColumn
{
    unsigned index;
    const char* name;
};

// Names are placed by the classes' own constants, so a renumbered constant moves its name with it.
TableLayout layout(const std::string& fileName, unsigned numFields, bool keyed,
                   std::initializer_list<NamedColumn> named)
{
    TableLayout result{fileName, numFields, keyed, std::vector<std::string>(numFields)};
    for (const NamedColumn& column : named)
        if (column.index < numFields)
            result.columns[column.index] = column.name;
    return result;
}

#define COLUMN(cls, name)                                                                                              \
    NamedColumn                                                                                                        \
    {                                                                                                                  \
        cls::name, #name                                                                                               \
    }

std::vector<TableLayout> makeKnownTables()
{
    std::vector<TableLayout> tables;
    const std::initializer_list<NamedColumn> creatureColumns = {COLUMN(CreatureDB, Scale),
                                                                COLUMN(CreatureDB, Name),
                                                                COLUMN(CreatureDB, FileName),
                                                                COLUMN(CreatureDB, Effect1),
                                                                COLUMN(CreatureDB, Effect2),
                                                                COLUMN(CreatureDB, Effect3),
                                                                COLUMN(CreatureDB, Effect4),
                                                                COLUMN(CreatureDB, Effect5),
                                                                COLUMN(CreatureDB, HeadImage),
                                                                COLUMN(CreatureDB, WalkSpeed),
                                                                COLUMN(CreatureDB, RunSpeed),
                                                                COLUMN(CreatureDB, AttackAction1Len),
                                                                COLUMN(CreatureDB, AttackAction1FuckTime),
                                                                COLUMN(CreatureDB, AttackAction2Len),
                                                                COLUMN(CreatureDB, AttackAction2FuckTime),
                                                                COLUMN(CreatureDB, AttackAction3Len),
                                                                COLUMN(CreatureDB, AttackAction3FuckTime),
                                                                COLUMN(CreatureDB, AttackAction4Len),
                                                                COLUMN(CreatureDB, AttackAction4FuckTime),
                                                                COLUMN(CreatureDB, AttackAction5Len),
                                                                COLUMN(CreatureDB, AttackAction5FuckTime),
                                                                COLUMN(CreatureDB, AttackAction6Len),
                                                                COLUMN(CreatureDB, AttackAction6FuckTime),
                                                                COLUMN(CreatureDB, AttackAction70Len),
                                                                COLUMN(CreatureDB, AttackAction7FuckTime),
                                                                COLUMN(CreatureDB, AttackAction8Len),
                                                                COLUMN(CreatureDB, AttackAction8FuckTime),
                                                                COLUMN(CreatureDB, CameraBias),
                                                                COLUMN(CreatureDB, BeTransObject)};

    tables.push_back(
        layout("Animation.csv", AnimationDB::NumColumns, true,
               {COLUMN(AnimationDB, AnimType), COLUMN(AnimationDB, PlayType), COLUMN(AnimationDB, BlendType),
                COLUMN(AnimationDB, AnimName), COLUMN(AnimationDB, IsMerge), COLUMN(AnimationDB, expain)}));
    tables.push_back(layout("Creature.csv", CreatureDB::NumColumns, true, creatureColumns));
    tables.back().columns[CreatureDB::CreatureID] = "CreatureID";
    tables.push_back(layout("Npc.csv", NpcDB::NumColumns, true, creatureColumns));
    tables.back().columns[NpcDB::NpcID] = "NpcID";
    tables.push_back(
        layout("Object.csv", ObjectDB::NumColumns, true,
               {COLUMN(ObjectDB, ObjectId), COLUMN(ObjectDB, Scale), COLUMN(ObjectDB, Name), COLUMN(ObjectDB, FileName),
                COLUMN(ObjectDB, Effect1), COLUMN(ObjectDB, Effect2), COLUMN(ObjectDB, Effect3),
                COLUMN(ObjectDB, Effect4), COLUMN(ObjectDB, Effect5), COLUMN(ObjectDB, HeadImage),
                COLUMN(ObjectDB, CameraBias), COLUMN(ObjectDB, BeTransObject)}));
    tables.push_back(layout("ItemDisplay.csv", EWItemDB::NumColumns, true,
                            {COLUMN(EWItemDB, ItemID), COLUMN(EWItemDB, Name), COLUMN(EWItemDB, Type),
                             COLUMN(EWItemDB, ModelFile), COLUMN(EWItemDB, ModelFile2), COLUMN(EWItemDB, HideHair),
                             COLUMN(EWItemDB, HideHead), COLUMN(EWItemDB, Effect1), COLUMN(EWItemDB, Effect2),
                             COLUMN(EWItemDB, Effect3), COLUMN(EWItemDB, flag)}));
    tables.push_back(layout("WearingItemDisplay.csv", EWWearingDB::NumColumns, true,
                            {COLUMN(EWWearingDB, ItemID), COLUMN(EWWearingDB, Name), COLUMN(EWWearingDB, Type),
                             COLUMN(EWWearingDB, TexPath), COLUMN(EWWearingDB, outModel), COLUMN(EWWearingDB, material),
                             COLUMN(EWWearingDB, TexHand), COLUMN(EWWearingDB, MatHand), COLUMN(EWWearingDB, TexBody),
                             COLUMN(EWWearingDB, MatBody), COLUMN(EWWearingDB, TexPants), COLUMN(EWWearingDB, MatPants),
                             COLUMN(EWWearingDB, TexFoot), COLUMN(EWWearingDB, MatFoot), COLUMN(EWWearingDB, Flag),
                             COLUMN(EWWearingDB, HideBody)}));
    tables.push_back(
        layout("EWEffects.csv", EWEffectsDB::NumColumns, true,
               {COLUMN(EWEffectsDB, effectID), COLUMN(EWEffectsDB, effectName), COLUMN(EWEffectsDB, effectTemplatName),
                COLUMN(EWEffectsDB, effectSize), COLUMN(EWEffectsDB, effectSpeed)}));
    tables.push_back(
        layout("EWRaces.csv", EWCharRacesDB::NumColumns, false,
               {COLUMN(EWCharRacesDB, RaceID), COLUMN(EWCharRacesDB, ShortName), COLUMN(EWCharRacesDB, Name),
                COLUMN(EWCharRacesDB, ChineseName), COLUMN(EWCharRacesDB, scale), COLUMN(EWCharRacesDB, Special1),
                COLUMN(EWCharRacesDB, Special2)}));
    tables.push_back(layout("EWCharBaseInfo.csv", EWBaseInfoDB::NumColumns, false,
                            {COLUMN(EWBaseInfoDB, charID),
                             COLUMN(EWBaseInfoDB, Name),
                             COLUMN(EWBaseInfoDB, race),
                             COLUMN(EWBaseInfoDB, gender),
                             COLUMN(EWBaseInfoDB, facialHairStyle),
                             COLUMN(EWBaseInfoDB, hairStyle),
                             COLUMN(EWBaseInfoDB, hairColor),
                             COLUMN(EWBaseInfoDB, skinColor),
                             COLUMN(EWBaseInfoDB, faceType),
                             COLUMN(EWBaseInfoDB, head),
                             COLUMN(EWBaseInfoDB, shoulder),
                             COLUMN(EWBaseInfoDB, boot),
                             COLUMN(EWBaseInfoDB, belt),
                             COLUMN(EWBaseInfoDB, shirt),
                             COLUMN(EWBaseInfoDB, pants),
                             COLUMN(EWBaseInfoDB, doublehand),
                             COLUMN(EWBaseInfoDB, shield),
                             COLUMN(EWBaseInfoDB, glove),
                             COLUMN(EWBaseInfoDB, leftHand),
                             COLUMN(EWBaseInfoDB, rightHand),
                             COLUMN(EWBaseInfoDB, backLongWeapon),
                             COLUMN(EWBaseInfoDB, backShield),
                             COLUMN(EWBaseInfoDB, leftWaist),
                             COLUMN(EWBaseInfoDB, rightWaist),
                             COLUMN(EWBaseInfoDB, animation)}));
    tables.push_back(
        layout("EWCharSections.csv", EWCharSectionsDB::NumColumns, true,
               {COLUMN(EWCharSectionsDB, SectonID), COLUMN(EWCharSectionsDB, Race), COLUMN(EWCharSectionsDB, Gender),
                COLUMN(EWCharSectionsDB, Type), COLUMN(EWCharSectionsDB, Section), COLUMN(EWCharSectionsDB, Color),
                COLUMN(EWCharSectionsDB, Tex1), COLUMN(EWCharSectionsDB, Tex2), COLUMN(EWCharSectionsDB, Tex3),
                COLUMN(EWCharSectionsDB, IsNPC)}));
    tables.push_back(
        layout("EWCharHairGeo.csv", EWCharHairGeoDB::NumColumns, true,
               {COLUMN(EWCharHairGeoDB, CharHairGeosetID), COLUMN(EWCharHairGeoDB, Race),
                COLUMN(EWCharHairGeoDB, Gender), COLUMN(EWCharHairGeoDB, Section), COLUMN(EWCharHairGeoDB, Submesh1),
                COLUMN(EWCharHairGeoDB, Submesh2), COLUMN(EWCharHairGeoDB, Flags)}));
    tables.push_back(layout("EWCharFacialHairStyles.csv", EWCharFacialHairDB::NumColumns, false,
                            {COLUMN(EWCharFacialHairDB, Race), COLUMN(EWCharFacialHairDB, Gender),
                             COLUMN(EWCharFacialHairDB, Style), COLUMN(EWCharFacialHairDB, Geoset1),
                             COLUMN(EWCharFacialHairDB, Geoset3), COLUMN(EWCharFacialHairDB, Geoset2)}));
    return tables;
}

#undef COLUMN

bool isDecimal(const char* text)
{
    if (!text || !*text)
        return false;
    for (; *text; ++text)
        if (*text < '0' || *text > '9')
            return false;
    return true;
}

// A comment line that an author most likely meant as a row: it does not start with "//",
// it has the table's column count and its column 0 is a number.
bool looksLikeRow(const char* line, unsigned numFields)
{
    const char* p = line;
    while (*p == ' ' || *p == '\t')
        ++p;
    if (p[0] == '/' && p[1] == '/')
        return false;
    Record rec;
    avatar_detail::splitTableLine(line, std::strlen(line), rec);
    return rec.getNumFields() == numFields && isDecimal(rec.getString(0));
}

void add(std::vector<TableFinding>& findings, const std::string& file, unsigned line, TableFinding::Severity severity,
         std::string message)
{
    findings.push_back(TableFinding{file, line, severity, std::move(message)});
}

std::string plural(unsigned n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Another table is named by its bare file name: the directory is the one being checked.
std::string tableName(const CheckedTable& table)
{
    return table.layout ? table.layout->fileName : table.file;
}

bool readFile(const std::string& path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    bytes = text.str();
    return !in.bad();
}

} // namespace

std::string formatFinding(const TableFinding& finding)
{
    return finding.file + ":" + std::to_string(finding.line) + ": " +
           (finding.severity == TableFinding::Error ? "error" : "warning") + ": " + finding.message;
}

const std::vector<TableLayout>& knownTables()
{
    static const std::vector<TableLayout> tables = makeKnownTables();
    return tables;
}

const TableLayout* findTableLayout(const std::string& fileName)
{
    for (const TableLayout& table : knownTables())
        if (table.fileName == fileName)
            return &table;
    return nullptr;
}

long CheckedTable::findKey(unsigned key) const
{
    const auto it = keys.find(key);
    return it == keys.end() ? -1 : static_cast<long>(it->second);
}

CheckedTable checkTableBytes(const std::string& file, const std::string& bytes, const TableLayout& layout,
                             std::vector<TableFinding>& findings)
{
    CheckedTable table;
    table.file = file;
    table.layout = &layout;

    TableFileReader reader;
    reader.loadBytes(bytes.data(), bytes.size());
    char* line = nullptr;
    std::size_t length = 0;
    for (TableFileReader::Line kind; (kind = reader.next(line, length)) != TableFileReader::Line::EndOfFile;)
    {
        const unsigned lineNumber = reader.lineNumber();
        switch (kind)
        {
        case TableFileReader::Line::Comment:
            if (looksLikeRow(line, layout.numFields))
                add(findings, file, lineNumber, TableFinding::Warning,
                    "this row contains \"//\", so it is skipped as a comment");
            break;
        case TableFileReader::Line::TooLong:
            table.opens = false;
            add(findings, file, lineNumber, TableFinding::Error,
                "the line is " + std::to_string(length) + " bytes long, over the limit of " +
                    std::to_string(avatar_detail::kMaxTableLineLength) + ": the table fails to open");
            break;
        case TableFileReader::Line::EndMark:
        {
            const bool blank = length == 0;
            unsigned lost = 0;
            for (TableFileReader::Line after; (after = reader.next(line, length)) != TableFileReader::Line::EndOfFile;)
                if (after == TableFileReader::Line::Row || after == TableFileReader::Line::TooLong)
                    ++lost;
            if (lost)
                add(findings, file, lineNumber, TableFinding::Warning,
                    std::string(blank ? "a blank line" : "a one-byte line") + " ends the table here; the " +
                        plural(lost, "data line", "data lines") + " after it " + (lost == 1 ? "is" : "are") +
                        " ignored");
            return table;
        }
        case TableFileReader::Line::Row:
        {
            Record rec;
            avatar_detail::splitTableLine(line, length, rec);
            if (rec.getNumFields() != layout.numFields)
            {
                table.opens = false;
                add(findings, file, lineNumber, TableFinding::Error,
                    "the row has " + std::to_string(rec.getNumFields()) + " columns, the table needs " +
                        std::to_string(layout.numFields) + ": the table fails to open");
                break;
            }
            if (layout.keyed)
            {
                if (!isDecimal(rec.getString(0)))
                    add(findings, file, lineNumber, TableFinding::Warning,
                        "column 0 \"" + std::string(rec.getString(0)) + "\" is not a number: the row is stored under " +
                            std::to_string(rec.getUInt(0)));
                const unsigned key = rec.getUInt(0);
                const auto first = table.keys.emplace(key, table.rows.size());
                if (!first.second)
                {
                    add(findings, file, lineNumber, TableFinding::Warning,
                        "key " + std::to_string(key) + " is already used on line " +
                            std::to_string(table.lines[first.first->second]) +
                            "; this row is ignored (the first row wins)");
                    break;
                }
            }
            table.rows.push_back(std::move(rec));
            table.lines.push_back(lineNumber);
            break;
        }
        case TableFileReader::Line::EndOfFile:
            break;
        }
    }
    return table;
}

void checkSectionKeys(const CheckedTable& sections, std::vector<TableFinding>& findings)
{
    using S = EWCharSectionsDB;
    for (std::size_t i = 0; i < sections.rows.size(); ++i)
    {
        const Record& row = sections.rows[i];
        const unsigned key = row.getUInt(S::SectonID);
        const unsigned packed = S::makeKey(row.getUInt(S::Race), row.getUInt(S::Gender), row.getUInt(S::Type),
                                           row.getUInt(S::Section), row.getUInt(S::Color));
        if (key != packed)
            add(findings, sections.file, sections.lines[i], TableFinding::Error,
                "SectonID is " + std::to_string(key) + " but race " + std::to_string(row.getUInt(S::Race)) +
                    ", gender " + std::to_string(row.getUInt(S::Gender)) + ", type " +
                    std::to_string(row.getUInt(S::Type)) + ", section " + std::to_string(row.getUInt(S::Section)) +
                    ", color " + std::to_string(row.getUInt(S::Color)) + " pack to " + std::to_string(packed) +
                    ": the row is found only by " + std::to_string(key));
    }
}

void checkHairGeoKeys(const CheckedTable& hair, std::vector<TableFinding>& findings)
{
    using H = EWCharHairGeoDB;
    for (std::size_t i = 0; i < hair.rows.size(); ++i)
    {
        const Record& row = hair.rows[i];
        const unsigned key = row.getUInt(H::CharHairGeosetID);
        const unsigned packed = H::makeKey(row.getUInt(H::Race), row.getUInt(H::Gender), row.getUInt(H::Section));
        if (key != packed)
            add(findings, hair.file, hair.lines[i], TableFinding::Error,
                "CharHairGeosetID is " + std::to_string(key) + " but race " + std::to_string(row.getUInt(H::Race)) +
                    ", gender " + std::to_string(row.getUInt(H::Gender)) + ", section " +
                    std::to_string(row.getUInt(H::Section)) + " pack to " + std::to_string(packed) +
                    ": the row is found only by " + std::to_string(key));
    }
}

void checkRaceIds(const CheckedTable& races, std::vector<TableFinding>& findings)
{
    for (std::size_t i = 0; i < races.rows.size(); ++i)
    {
        const unsigned id = races.rows[i].getUInt(EWCharRacesDB::RaceID);
        if (id != i + 1)
            add(findings, races.file, races.lines[i], TableFinding::Error,
                "RaceID " + std::to_string(id) + " stands on row " + std::to_string(i + 1) +
                    ": race N must be row N, or the race is never found");
    }
}

void checkPresetReferences(const CheckedTable& presets, const CheckedTable* races, const CheckedTable* items,
                           const CheckedTable* wornItems, std::vector<TableFinding>& findings)
{
    using P = EWBaseInfoDB;
    static const unsigned itemPlaces[] = {P::head,      P::shoulder,       P::doublehand, P::shield,    P::leftHand,
                                          P::rightHand, P::backLongWeapon, P::backShield, P::leftWaist, P::rightWaist};
    static const unsigned wornPlaces[] = {P::boot, P::belt, P::shirt, P::pants, P::glove};
    const std::vector<std::string>& names = presets.layout ? presets.layout->columns : std::vector<std::string>();
    auto columnName = [&names](unsigned column)
    { return column < names.size() && !names[column].empty() ? names[column] : "column " + std::to_string(column); };

    for (std::size_t i = 0; i < presets.rows.size(); ++i)
    {
        const Record& row = presets.rows[i];
        const unsigned line = presets.lines[i];
        if (races)
        {
            // As EWCharRacesDB::getById finds it: on row race - 1 with that RaceID.
            const unsigned race = row.getUInt(P::race);
            const std::size_t position = static_cast<unsigned>(race - 1u);
            if (position >= races->rows.size() || races->rows[position].getUInt(EWCharRacesDB::RaceID) != race)
                add(findings, presets.file, line, TableFinding::Error,
                    "race " + std::to_string(race) + " is not in " + tableName(*races));
        }
        auto checkPlaces = [&](const auto& places, const CheckedTable* table)
        {
            if (!table)
                return;
            for (unsigned place : places)
            {
                const unsigned id = row.getUInt(place);
                if (id != 0 && table->findKey(id) < 0)
                    add(findings, presets.file, line, TableFinding::Error,
                        columnName(place) + " " + std::to_string(id) + " is not in " + tableName(*table));
            }
        };
        checkPlaces(itemPlaces, items);
        checkPlaces(wornPlaces, wornItems);
    }
}

unsigned FileReport::errors() const
{
    return static_cast<unsigned>(std::count_if(
        findings.begin(), findings.end(), [](const TableFinding& f) { return f.severity == TableFinding::Error; }));
}

unsigned FileReport::warnings() const
{
    return static_cast<unsigned>(findings.size()) - errors();
}

std::vector<FileReport> checkDirectory(const std::string& directory)
{
    std::vector<FileReport> reports;
    std::map<std::string, CheckedTable> tables;
    for (const TableLayout& layout : knownTables())
    {
        const std::string path =
            directory.empty() || directory == "." ? layout.fileName : directory + "/" + layout.fileName;
        std::string bytes;
        if (!readFile(path, bytes))
            continue;
        FileReport report;
        report.file = path;
        CheckedTable table = checkTableBytes(path, bytes, layout, report.findings);
        report.rows = static_cast<unsigned>(table.rows.size());
        reports.push_back(std::move(report));
        tables.emplace(layout.fileName, std::move(table));
    }

    auto find = [&tables](const char* fileName) -> const CheckedTable*
    {
        const auto it = tables.find(fileName);
        return it == tables.end() ? nullptr : &it->second;
    };
    auto reportOf = [&reports](const CheckedTable& table) -> std::vector<TableFinding>&
    {
        for (FileReport& report : reports)
            if (report.file == table.file)
                return report.findings;
        return reports.back().findings; // every checked table has a report
    };
    if (const CheckedTable* sections = find("EWCharSections.csv"))
        checkSectionKeys(*sections, reportOf(*sections));
    if (const CheckedTable* hair = find("EWCharHairGeo.csv"))
        checkHairGeoKeys(*hair, reportOf(*hair));
    if (const CheckedTable* races = find("EWRaces.csv"))
        checkRaceIds(*races, reportOf(*races));
    if (const CheckedTable* presets = find("EWCharBaseInfo.csv"))
        checkPresetReferences(*presets, find("EWRaces.csv"), find("ItemDisplay.csv"), find("WearingItemDisplay.csv"),
                              reportOf(*presets));

    for (FileReport& report : reports)
        std::stable_sort(report.findings.begin(), report.findings.end(),
                         [](const TableFinding& a, const TableFinding& b) { return a.line < b.line; });
    return reports;
}

} // namespace avatar_check
