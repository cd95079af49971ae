#include "tablewriter.h"

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
        std::string line;
        for (size_t i = 0; i < row.size(); ++i)
        {
            // The reader splits on every comma and skips any line holding a double slash.
            if (row[i].find(',') != std::string::npos || row[i].find("//") != std::string::npos)
            {
                error = where + ": field " + std::to_string(i) + " holds a separator";
                return false;
            }
            line += (i ? "," : "") + row[i];
        }
        if (line.size() <= 1)
        {
            error = where + ": a line this short ends the table";
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
