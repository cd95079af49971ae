#pragma once

#include "avatarsystem/textdatabase.h"

#include <map>
#include <string>
#include <vector>

/// Checks of hand-edited table files for content authors. Every rule reads a file exactly as the
/// tables do (avatar_detail::TableFileReader and the same splitter) but keeps going past the
/// first fault, so that one run reports every problem with its line number.
namespace avatar_check
{

/// One problem found in a table file. Line 0 names the whole file.
struct TableFinding
{
    enum Severity
    {
        Error,  ///< the table fails to open, or rows are found under the wrong key or not at all
        Warning ///< the table opens, but rows the author wrote are silently dropped
    };

    std::string file;
    unsigned line = 0;
    Severity severity = Error;
    std::string message;
};

/// "file:line: error|warning: message", the form editors and build logs recognise.
std::string formatFinding(const TableFinding& finding);

/// What the checker knows of one table file: the layout its table class holds.
using TableLayout = ::TableLayout;

/// The twelve table files the system reads, as their table classes lay them out.
const std::vector<TableLayout>& knownTables();
/// The layout of a file by its bare name, or null when the system reads no such table.
const TableLayout* findTableLayout(const std::string& fileName);

/// The rows of one file as its table would hold them, with the line each came from.
/// Keyed tables keep only the first row of each key; rows with the wrong column count are left out.
struct CheckedTable
{
    std::string file;
    const TableLayout* layout = nullptr;
    std::vector<Record> rows;             ///< in file order
    std::vector<unsigned> lines;          ///< the line of each row
    std::map<unsigned, std::size_t> keys; ///< keyed tables: the row index stored under each key
    bool opens = true;                    ///< false when the table's open would fail

    /// Index of the row stored under key in a keyed table, or -1.
    long findKey(unsigned key) const;
};

/// Reads one file's bytes and reports, with their lines: rows with the wrong column count and
/// lines over the length limit (errors: the table fails to open), data lines that contain "//"
/// (warnings: skipped as comments), a blank or one-byte line with data after it (a warning: the
/// table ends there), and in keyed tables repeated keys and keys that are not numbers (warnings).
CheckedTable checkTableBytes(const std::string& file, const std::string& bytes, const TableLayout& layout,
                             std::vector<TableFinding>& findings);

/// Rows of a table with a packed key (sections, hair geosets) whose column 0 is not the key their
/// own columns pack to (errors: the row is found only under column 0). Other tables pass.
void checkPackedKeys(const CheckedTable& table, std::vector<TableFinding>& findings);
/// Races whose RaceID is not their 1-based row position (errors: getById never finds them).
void checkRaceIds(const CheckedTable& races, std::vector<TableFinding>& findings);
/// Presets whose race is not found by EWCharRacesDB::getById, or whose items and worn items are
/// not in the item tables (errors; 0 means an empty place). A null table is not checked against.
void checkPresetReferences(const CheckedTable& presets, const CheckedTable* races, const CheckedTable* items,
                           const CheckedTable* wornItems, std::vector<TableFinding>& findings);

/// The result of checking one file.
struct FileReport
{
    std::string file;
    unsigned rows = 0; ///< rows the table would hold
    std::vector<TableFinding> findings;

    unsigned errors() const;
    unsigned warnings() const;
};

/// Checks every known table file present in directory, alone and against each other.
/// Reports come in the order of knownTables(), findings by line; absent files are not reported.
std::vector<FileReport> checkDirectory(const std::string& directory);

} // namespace avatar_check
