#pragma once

#include "avatarsystem/textdatabase.h"

#include <string>
#include <vector>

/// One comma-separated table of the pack: a "//" title line naming the
/// columns, then one line per row.
struct Table
{
    std::string fileName;
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;

    /// Appends a row; the number of fields is checked by writeTable().
    void add(std::vector<std::string> row) { rows.push_back(std::move(row)); }
};

/// An empty table under the file name and column names of a table class's layout.
inline Table emptyTable(const TableLayout& layout)
{
    return Table{layout.fileName, layout.columns, {}};
}

/// Writes @p table into @p directory. Returns false and sets @p error when a
/// row has the wrong number of fields or would not read back as written (the
/// table writer's own check: a separator or "//" in a field, a line that would
/// end the table or is too long), or the file cannot be written.
bool writeTable(const std::string& directory, const Table& table, std::string& error);
