#include "avatarsystem/tablechecker.h"

#include "avatarsystem/animationdb.h"
#include "avatarsystem/creaturedb.h"
#include "avatarsystem/ewchardb.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>

namespace avatar_check
{

namespace
{

using avatar_detail::TableFileReader;

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
    static const std::vector<TableLayout> tables = {
        AnimationDB::layout(),  CreatureDB::layout(),       NpcDB::layout(),           ObjectDB::layout(),
        EWItemDB::layout(),     EWWearingDB::layout(),      EWEffectsDB::layout(),     EWCharRacesDB::layout(),
        EWBaseInfoDB::layout(), EWCharSectionsDB::layout(), EWCharHairGeoDB::layout(), EWCharFacialHairDB::layout()};
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
            if (looksLikeRow(line, layout.numFields()))
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
            if (rec.getNumFields() != layout.numFields())
            {
                table.opens = false;
                add(findings, file, lineNumber, TableFinding::Error,
                    "the row has " + std::to_string(rec.getNumFields()) + " columns, the table needs " +
                        std::to_string(layout.numFields()) + ": the table fails to open");
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

void checkPackedKeys(const CheckedTable& table, std::vector<TableFinding>& findings)
{
    const TableLayout* layout = table.layout;
    if (!layout || !layout->packKey)
        return;
    for (std::size_t i = 0; i < table.rows.size(); ++i)
    {
        const Record& row = table.rows[i];
        const unsigned key = row.getUInt(0);
        const unsigned packed = layout->packKey(row);
        if (key == packed)
            continue;
        std::string parts;
        for (unsigned column : layout->keyColumns)
        {
            std::string name = layout->columns[column];
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            parts += (parts.empty() ? "" : ", ") + name + " " + std::to_string(row.getUInt(column));
        }
        add(findings, table.file, table.lines[i], TableFinding::Error,
            layout->columns[0] + " is " + std::to_string(key) + " but " + parts + " pack to " + std::to_string(packed) +
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

    auto find = [&tables](const std::string& fileName) -> const CheckedTable*
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
    for (const auto& entry : tables)
    {
        const CheckedTable& table = entry.second;
        if (table.layout->packKey)
            checkPackedKeys(table, reportOf(table));
        if (table.layout->idIsRowNumber)
            checkRaceIds(table, reportOf(table));
    }
    const CheckedTable* races = find(EWCharRacesDB::layout().fileName);
    if (const CheckedTable* presets = find(EWBaseInfoDB::layout().fileName))
        checkPresetReferences(*presets, races, find(EWItemDB::layout().fileName), find(EWWearingDB::layout().fileName),
                              reportOf(*presets));

    for (FileReport& report : reports)
        std::stable_sort(report.findings.begin(), report.findings.end(),
                         [](const TableFinding& a, const TableFinding& b) { return a.line < b.line; });
    return reports;
}

} // namespace avatar_check
