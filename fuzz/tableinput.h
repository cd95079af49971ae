#pragma once

#include "avatarsystem/detail/tablefile.h"
#include "avatarsystem/tablechecker.h"
#include "avatarsystem/textdatabase.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

/// One table file's bytes through the reader, the row splitter and every checker rule.
/// Returns false when an invariant of the reader breaks; memory faults are left to the sanitizers.
/// Shared by the fuzz target and the unit test that replays the inputs it once crashed on.
inline bool runTableInput(const std::uint8_t* data, std::size_t size)
{
    using avatar_detail::TableFileReader;
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // The reader and the splitter: rows are short enough, never comments, and split back into the line.
    TableFileReader reader;
    reader.loadBytes(bytes.data(), bytes.size());
    char* line = nullptr;
    std::size_t length = 0;
    unsigned lastLine = 0;
    for (TableFileReader::Line kind; (kind = reader.next(line, length)) != TableFileReader::Line::EndOfFile;)
    {
        if (reader.lineNumber() != lastLine + 1)
            return false;
        lastLine = reader.lineNumber();
        if (kind != TableFileReader::Line::Row)
            continue;
        const std::string text(line, length);
        if (length < 2 || length > avatar_detail::kMaxTableLineLength || text.find("//") != std::string::npos ||
            text.find('\n') != std::string::npos || std::strlen(line) != length)
            return false;
        Record rec;
        avatar_detail::splitTableLine(line, length, rec);
        std::string joined;
        for (unsigned j = 0; j < rec.getNumFields(); ++j)
            joined += (j ? "," : "") + std::string(rec.getString(j));
        if (joined != text)
            return false;

        // A row the writer accepts must read back as the same row.
        if (avatar_detail::rowWritesFaithfully(rec, rec.getNumFields()))
        {
            TableFileReader again;
            const std::string written = joined + "\n";
            again.loadBytes(written.data(), written.size());
            char* backLine = nullptr;
            std::size_t backLength = 0;
            if (again.next(backLine, backLength) != TableFileReader::Line::Row)
                return false;
            Record back;
            avatar_detail::splitTableLine(backLine, backLength, back);
            if (back.fields() != rec.fields())
                return false;
        }
    }

    // Every checker rule, the bytes read as each table in turn.
    std::vector<avatar_check::TableFinding> findings;
    std::vector<avatar_check::CheckedTable> tables;
    for (const avatar_check::TableLayout& layout : avatar_check::knownTables())
        tables.push_back(avatar_check::checkTableBytes(layout.fileName, bytes, layout, findings));
    auto table = [&tables](const char* fileName) -> const avatar_check::CheckedTable&
    {
        for (const avatar_check::CheckedTable& t : tables)
            if (t.layout->fileName == fileName)
                return t;
        return tables.front();
    };
    for (const avatar_check::CheckedTable& t : tables)
        avatar_check::checkPackedKeys(t, findings);
    avatar_check::checkRaceIds(table("EWRaces.csv"), findings);
    avatar_check::checkPresetReferences(table("EWCharBaseInfo.csv"), &table("EWRaces.csv"), &table("ItemDisplay.csv"),
                                        &table("WearingItemDisplay.csv"), findings);
    for (const avatar_check::CheckedTable& t : tables)
        if (t.rows.size() != t.lines.size() || (t.layout->keyed && t.keys.size() != t.rows.size()))
            return false;
    for (const avatar_check::TableFinding& f : findings)
        if (f.line == 0 || f.line > lastLine || avatar_check::formatFinding(f).empty())
            return false;
    return true;
}
