#pragma once

// How table files are read and written: the line reader, the row splitter and the writer that
// every table, the table checker and the fuzzers share. Internal to the library.

#include "avatarsystem/textdatabase.h"

#include <cstddef>
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

/// Splits one line of length bytes at every "," into fields appended to rec.
/// No quoting and no escapes: a line with n commas gives n + 1 fields.
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
/// leaves the previous file intact. Nothing is written when a row is unfaithful.
WriteResult writeTableFile(const std::string& fileName, const std::vector<const Record*>& rows, unsigned numFields);

/// Writes the "file open failed" message the table writers print, byte for byte.
void printOpenFailure();

/// Copies a field into a buffer of maxBytes bytes (at least 1), cut to fit and NUL-terminated;
/// the number of bytes of the field copied.
std::size_t copyFieldCut(const char* field, char* buffer, std::size_t maxBytes);

} // namespace avatar_detail
