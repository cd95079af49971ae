#pragma once

// How table files are read and written: the line reader, the row splitter and the writer that
// every table, the table checker, the effect library and the fuzzers share. Internal to the
// libraries: the reader (tablefile.cpp) is compiled into the avatar and the effect library alike,
// hidden in each; the splitter is inline below; the writer is the avatar library's.

#include "avatarsystem/textdatabase.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace avatar_detail
{

/// The longest line a table may hold, in bytes (the reader's buffer is one byte longer).
constexpr std::size_t kMaxTableLineLength = 2047;

/// Reads a whole table file: a regular file, read up to its end however its size changes meanwhile.
/// False (bytes empty) for anything else: a missing or unreadable path, a directory, a device.
/// Never throws.
bool readTableFile(const std::string& fileName, std::vector<char>& bytes) noexcept;

/// Called by readTableFile with the path once the file is open and before it is read, so that
/// tests can change the file at that moment (remove or truncate it). Null: nothing is called.
using TableReadHook = void (*)(const std::string& fileName);
void setTableReadHook(TableReadHook hook) noexcept;

/// Walks the lines of one table file read whole into memory.
/// Lines end with LF; a CR before the LF is dropped. Each line is NUL-terminated in place.
class TableFileReader
{
public:
    enum class Line
    {
        Row,      ///< a data line
        Comment,  ///< contains "//": skipped
        EndMark,  ///< a line of 0 or 1 bytes: the table ends here
        TooLong,  ///< longer than kMaxTableLineLength
        EndOfFile ///< no more lines
    };

    /// Reads the whole file (readTableFile); false when it cannot be read as a table file.
    bool load(const std::string& fileName) noexcept;
    /// Uses a copy of the given bytes instead of a file (for checks and tests).
    void loadBytes(const char* data, std::size_t size);

    /// Classifies the next line; for every kind but EndOfFile, line and length describe it.
    Line next(char*& line, std::size_t& length);
    /// 1-based number of the line last returned by next().
    unsigned lineNumber() const { return m_lineNumber; }

private:
    std::vector<char> m_buffer;
    std::size_t m_pos = 0;
    std::size_t m_size = 0;
    unsigned m_lineNumber = 0;
};

/// Calls field(begin, size) for each field of one line of length bytes, split at every ",".
/// No quoting and no escapes: a line with n commas gives n + 1 fields.
template <class Field> void forEachTableField(const char* line, std::size_t length, Field&& field)
{
    const char* p = line;
    const char* const end = line + length;
    for (;;)
    {
        const char* comma = static_cast<const char*>(std::memchr(p, ',', static_cast<std::size_t>(end - p)));
        if (!comma)
        {
            field(p, static_cast<std::size_t>(end - p));
            return;
        }
        field(p, static_cast<std::size_t>(comma - p));
        p = comma + 1;
    }
}

/// Splits one line of length bytes (forEachTableField) into fields appended to rec.
void splitTableLine(const char* line, std::size_t length, Record& rec);

/// Why a table could not be written back.
enum class WriteResult
{
    Ok,
    CannotOpen,  ///< the file beside it could not be opened, or the file could not be replaced by it
    WriteFailed, ///< writing failed part-way; the previous file is intact
    Unfaithful   ///< a row would not read back as it is (field count, ",", "//", line break, too short)
};

/// Why a row, written as a line of numFields fields, would not read back as the same row; empty
/// when it would. A row must have exactly numFields fields.
std::string whyRowIsUnfaithful(const Record& row, unsigned numFields);
/// Whether a row, written as a line of numFields fields, reads back as the same row.
inline bool rowWritesFaithfully(const Record& row, unsigned numFields)
{
    return whyRowIsUnfaithful(row, numFields).empty();
}

/// Writes rows as a table file: first to a file beside it, then renamed over it, so a failure
/// leaves the previous file intact. Nothing is written when a row is unfaithful. When titleColumns
/// is not empty, a comment line naming the columns ("//" then the names separated by ",") comes
/// first; a name holding a line break or a NUL byte is unfaithful too.
WriteResult writeTableFile(const std::string& fileName, const std::vector<const Record*>& rows, unsigned numFields,
                           const std::vector<std::string>& titleColumns = {});

/// Writes the "file open failed" message the table writers print, byte for byte.
void printOpenFailure();

/// Copies a field into a buffer of maxBytes bytes (at least 1), cut to fit and NUL-terminated;
/// the number of bytes of the field copied.
std::size_t copyFieldCut(const char* field, char* buffer, std::size_t maxBytes);

} // namespace avatar_detail
