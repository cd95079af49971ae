#pragma once

#include "avatarsystem/avatarinterface.h"
#include "avatarsystem/creaturedb.h"
#include "avatarsystem/detail/tablefile.h"
#include "avatarsystem/tablechecker.h"
#include "avatarsystem/textdatabase.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
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

namespace tablefuzz
{

/// How the bytes reach the system as a table file (the low three bits of the first byte).
enum class FileKind
{
    Regular,
    Empty,
    Directory,
    RemovedWhileOpen, ///< removed after it is opened and before it is read
    EmptiedWhileOpen, ///< truncated after it is opened and before it is read
    Missing
};

inline FileKind fileKindOf(std::uint8_t byte)
{
    static const FileKind kinds[8] = {FileKind::Regular,   FileKind::Regular,          FileKind::Empty,
                                      FileKind::Directory, FileKind::RemovedWhileOpen, FileKind::EmptiedWhileOpen,
                                      FileKind::Missing,   FileKind::Regular};
    return kinds[byte & 7];
}

/// A directory of its own for the process's inputs, removed at exit.
inline const std::string& scratchDirectory()
{
    struct Scratch
    {
        std::string path;
        Scratch()
        {
            char pattern[] = "/tmp/tablefuzz.XXXXXX";
            if (mkdtemp(pattern))
                path = pattern;
        }
        ~Scratch()
        {
            std::error_code ignored;
            if (!path.empty())
                std::filesystem::remove_all(path, ignored);
        }
    };
    static Scratch scratch;
    return scratch.path;
}

inline void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

/// Every row of a creature, NPC or object table with its HeadImage made length bytes long.
inline std::string stretchHeadImages(const std::string& bytes, unsigned numFields, std::size_t length)
{
    std::string out;
    std::size_t begin = 0;
    while (begin < bytes.size())
    {
        std::size_t end = bytes.find('\n', begin);
        const bool last = end == std::string::npos;
        if (last)
            end = bytes.size();
        Record rec;
        avatar_detail::splitTableLine(bytes.data() + begin, end - begin, rec);
        if (rec.getNumFields() == numFields)
        {
            std::string line;
            for (unsigned j = 0; j < numFields; ++j)
                line += (j ? "," : "") +
                        (j == CreatureLayoutDB::HeadImage ? std::string(length, 'h') : std::string(rec.getString(j)));
            out += line;
        }
        else
            out.append(bytes, begin, end - begin);
        if (!last)
            out += '\n';
        begin = end + 1;
    }
    return out;
}

struct Opened
{
    bool opens = false;
    std::vector<const Record*> rows;
    std::unique_ptr<TextDataBase> table;
};

/// The file opened as the system opens that table (the table classes add nothing to these opens).
inline Opened openAs(const avatar_check::TableLayout& layout, const std::string& path)
{
    Opened opened;
    if (layout.keyed)
    {
        auto keyed = std::make_unique<KeyedTextDataBase>(path, layout.numFields());
        opened.opens = keyed->open();
        for (const auto& entry : static_cast<const KeyedTextDataBase&>(*keyed).getRecordMap())
            opened.rows.push_back(&entry.second);
        opened.table = std::move(keyed);
    }
    else
    {
        opened.table = std::make_unique<TextDataBase>(path, layout.numFields());
        opened.opens = opened.table->open();
        for (const Record& row : static_cast<const TextDataBase&>(*opened.table).getRecordArray())
            opened.rows.push_back(&row);
    }
    return opened;
}

inline void removeFile(const std::string& path)
{
    std::remove(path.c_str());
}

inline void emptyFile(const std::string& path)
{
    if (truncate(path.c_str(), 0) != 0)
        std::abort();
}

} // namespace tablefuzz

/// The bytes as one table file of a content directory, in the way the first byte chooses
/// (tablefuzz::FileKind; bit 5 with bits 3 and 4: every HeadImage stretched to 1 below the limit
/// up to 2 over it), the second byte choosing the table; every other table of the directory is
/// there and empty. The checker and the library agree: a file the checker passes opens, one the
/// library refuses is an error of the checker, and the checker counts the rows the library holds;
/// a file that vanishes or empties while open reads as what it held when opened; a HeadImage the
/// checker lets pass reaches the host's buffer whole, a longer one is cut to the buffer.
/// Returns false when they disagree.
inline bool runTableFileInput(const std::uint8_t* data, std::size_t size)
{
    namespace fs = std::filesystem;
    using tablefuzz::FileKind;
    const std::string& directory = tablefuzz::scratchDirectory();
    if (directory.empty() || size < 2)
        return true;
    const FileKind kind = tablefuzz::fileKindOf(data[0]);
    const std::vector<avatar_check::TableLayout>& tables = avatar_check::knownTables();
    const avatar_check::TableLayout& layout = tables[data[1] % tables.size()];
    std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);
    const bool headImages = layout.fileName == CreatureDB::layout().fileName ||
                            layout.fileName == NpcDB::layout().fileName ||
                            layout.fileName == ObjectDB::layout().fileName;
    const std::size_t limit = IAvatarSystem::HeadImageBufferSize - 1; // the longest name that fits
    if (headImages && (data[0] & 0x20))
        bytes = tablefuzz::stretchHeadImages(bytes, layout.numFields(), limit - 1 + ((data[0] >> 3) & 3));

    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory, ignored))
        fs::remove_all(entry.path(), ignored);
    for (const avatar_check::TableLayout& other : tables)
        if (other.fileName != layout.fileName)
            tablefuzz::writeBytes(directory + "/" + other.fileName, "");
    const std::string path = directory + "/" + layout.fileName;
    switch (kind)
    {
    case FileKind::Regular:
    case FileKind::RemovedWhileOpen:
    case FileKind::EmptiedWhileOpen:
        tablefuzz::writeBytes(path, bytes);
        break;
    case FileKind::Empty:
        tablefuzz::writeBytes(path, "");
        break;
    case FileKind::Directory:
        fs::create_directory(path, ignored);
        tablefuzz::writeBytes(path + "/" + layout.fileName, bytes);
        break;
    case FileKind::Missing:
        break;
    }

    // A file that changes while open reads as what it held when it was opened: as that file read
    // when it stays put.
    if (kind == FileKind::RemovedWhileOpen || kind == FileKind::EmptiedWhileOpen)
    {
        avatar_detail::setTableReadHook(kind == FileKind::RemovedWhileOpen ? tablefuzz::removeFile
                                                                           : tablefuzz::emptyFile);
        const tablefuzz::Opened whileOpen = tablefuzz::openAs(layout, path);
        avatar_detail::setTableReadHook(nullptr);
        tablefuzz::writeBytes(path, kind == FileKind::RemovedWhileOpen ? bytes : std::string());
        const tablefuzz::Opened settled = tablefuzz::openAs(layout, path);
        if (whileOpen.opens != settled.opens || whileOpen.rows.size() != settled.rows.size())
            return false;
        for (std::size_t i = 0; i < settled.rows.size(); ++i)
            if (whileOpen.rows[i]->fields() != settled.rows[i]->fields())
                return false;
    }

    const tablefuzz::Opened library = tablefuzz::openAs(layout, path);
    const avatar_check::FileReport* report = nullptr;
    const std::vector<avatar_check::FileReport> reports = avatar_check::checkDirectory(directory);
    for (const avatar_check::FileReport& r : reports)
        if (r.file == path)
            report = &r;
    const bool required = avatar_check::isRequiredTable(layout);
    if (!report)
        return !library.opens && kind == FileKind::Missing && !required; // an optional table left out
    // The checker says the table fails to open (or is not there) exactly when the library cannot
    // open it; otherwise it counts the rows the library holds.
    bool refused = false;
    for (const avatar_check::TableFinding& finding : report->findings)
        refused =
            refused || (finding.severity == avatar_check::TableFinding::Error &&
                        (finding.line == 0 || finding.message.find("the table fails to open") != std::string::npos));
    if (refused == library.opens)
        return false;
    if (library.opens && report->rows != library.rows.size())
        return false;

    if (headImages && library.opens)
    {
        unsigned tooLong = 0;
        for (const Record* row : library.rows)
        {
            const char* image = row->getString(CreatureLayoutDB::HeadImage);
            const std::size_t length = std::strlen(image);
            // Exactly the host's buffer, so that a write past it is caught.
            std::unique_ptr<char[]> buffer(new char[IAvatarSystem::HeadImageBufferSize]);
            const std::size_t copied =
                avatar_detail::copyFieldCut(image, buffer.get(), IAvatarSystem::HeadImageBufferSize);
            if (copied != std::min(length, limit) || std::strncmp(buffer.get(), image, copied) != 0 || buffer[copied])
                return false;
            tooLong += length > limit;
        }
        unsigned flagged = 0;
        for (const avatar_check::TableFinding& finding : report->findings)
            flagged += finding.message.rfind("HeadImage is", 0) == 0;
        if (flagged != tooLong)
            return false;
    }
    return true;
}
