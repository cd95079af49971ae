#include "tablewriter.h"

#include "avatarsystem/detail/tablefile.h"

#include <fstream>

bool writeTable(const std::string& directory, const Table& table, std::string& error)
{
    std::string text = "//";
    for (size_t i = 0; i < table.columns.size(); ++i)
        text += (i ? "," : "") + table.columns[i];
    text += '\n';

    for (const auto& row : table.rows)
    {
        const std::string where = table.fileName + " row " + (row.empty() ? std::string("?") : row[0]);
        if (row.size() != table.columns.size())
        {
            error =
                where + ": " + std::to_string(row.size()) + " fields, expected " + std::to_string(table.columns.size());
            return false;
        }
        Record record;
        std::string line;
        for (size_t i = 0; i < row.size(); ++i)
        {
            record.record_push_back(row[i]);
            line += (i ? "," : "") + row[i];
        }
        // The tables' own rule of what a line can hold, as their writer checks it.
        if (!avatar_detail::rowWritesFaithfully(record, static_cast<unsigned>(row.size())))
        {
            error = where + ": would not read back as written (a field holds a separator or \"//\", or the line "
                            "is too short or too long)";
            return false;
        }
        text += line + '\n';
    }

    std::ofstream file(directory + "/" + table.fileName, std::ios::binary | std::ios::trunc);
    file << text;
    if (!file)
    {
        error = "cannot write " + directory + "/" + table.fileName;
        return false;
    }
    return true;
}
