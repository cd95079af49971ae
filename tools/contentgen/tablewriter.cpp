#include "tablewriter.h"

#include "avatarsystem/detail/tablefile.h"

bool writeTable(const std::string& directory, const Table& table, std::string& error)
{
    const unsigned numFields = static_cast<unsigned>(table.columns.size());
    std::vector<Record> records(table.rows.size());
    std::vector<const Record*> rows;
    rows.reserve(table.rows.size());
    for (std::size_t r = 0; r < table.rows.size(); ++r)
    {
        const auto& row = table.rows[r];
        const std::string where = table.fileName + " row " + (row.empty() ? std::string("?") : row[0]);
        if (row.size() != numFields)
        {
            error = where + ": " + std::to_string(row.size()) + " fields, expected " + std::to_string(numFields);
            return false;
        }
        for (const std::string& field : row)
            records[r].record_push_back(field);
        // Checked here too, to name the row: the writer refuses the whole table for it.
        if (!avatar_detail::rowWritesFaithfully(records[r], numFields))
        {
            error = where + ": would not read back as written (a field holds a separator or \"//\", or the line "
                            "is too short or too long)";
            return false;
        }
        rows.push_back(&records[r]);
    }

    // The tables' own writer, with the "//" line naming the columns first.
    const std::string path = directory + "/" + table.fileName;
    switch (avatar_detail::writeTableFile(path, rows, numFields, table.columns))
    {
    case avatar_detail::WriteResult::Ok:
        return true;
    case avatar_detail::WriteResult::Unfaithful:
        error = table.fileName + ": a column name holds a line break or a NUL byte";
        return false;
    case avatar_detail::WriteResult::CannotOpen:
    case avatar_detail::WriteResult::WriteFailed:
        break;
    }
    error = "cannot write " + path;
    return false;
}
