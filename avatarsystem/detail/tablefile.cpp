// The table file reader: one copy in each library that reads tables (the avatar library and the
// effect library), each hidden inside its library.

#include "avatarsystem/detail/tablefile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace avatar_detail
{

namespace
{
TableReadHook s_readHook = nullptr;
} // namespace

void setTableReadHook(TableReadHook hook) noexcept
{
    s_readHook = hook;
}

bool readTableFile(const std::string& fileName, std::vector<char>& bytes) noexcept
{
    bytes.clear();
    // Not blocking, so that a FIFO given as a table is refused rather than waited on.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = false;
    try
    {
        struct stat status;
        // Only a regular file is a table: a directory opens, but its size means nothing.
        if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode))
        {
            if (s_readHook)
                s_readHook(fileName);
            // The size is a first guess: the file is read to its end, which may come sooner or later.
            std::size_t size = 0;
            bytes.resize(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : 0) + 1);
            for (;;)
            {
                if (size == bytes.size())
                    bytes.resize(bytes.size() * 2);
                const ssize_t got = ::read(fd, bytes.data() + size, bytes.size() - size);
                if (got < 0 && errno == EINTR)
                    continue;
                if (got < 0)
                    break;
                if (got == 0)
                {
                    ok = true;
                    break;
                }
                size += static_cast<std::size_t>(got);
            }
            bytes.resize(ok ? size : 0);
        }
    }
    catch (...)
    {
        ok = false;
    }
    ::close(fd);
    if (!ok)
        std::vector<char>().swap(bytes);
    return ok;
}

bool TableFileReader::load(const std::string& fileName) noexcept
{
    m_pos = 0;
    m_lineNumber = 0;
    m_size = 0;
    try
    {
        if (!readTableFile(fileName, m_buffer))
            return false;
        // One spare byte so that a last line without LF can be terminated in place.
        m_size = m_buffer.size();
        m_buffer.push_back('\0');
        return true;
    }
    catch (...)
    {
        m_size = 0;
        return false;
    }
}

void TableFileReader::loadBytes(const char* data, std::size_t size)
{
    m_buffer.assign(data, data + size);
    m_buffer.push_back('\0');
    m_size = size;
    m_pos = 0;
    m_lineNumber = 0;
}

TableFileReader::Line TableFileReader::next(char*& line, std::size_t& length)
{
    if (m_pos >= m_size)
        return Line::EndOfFile;
    char* begin = m_buffer.data() + m_pos;
    const std::size_t rest = m_size - m_pos;
    char* newline = static_cast<char*>(std::memchr(begin, '\n', rest));
    std::size_t len = newline ? static_cast<std::size_t>(newline - begin) : rest;
    m_pos += len + (newline ? 1 : 0);
    ++m_lineNumber;
    if (len > 0 && begin[len - 1] == '\r')
        --len;
    begin[len] = '\0';
    line = begin;
    length = len;
    // A line may carry NUL bytes; like the fixed line buffer it replaces, the text ends at the first one.
    const std::size_t textLength = std::strlen(begin);
    // A comment is skipped whole, however long; only data lines are held to the length limit.
    if (std::strstr(begin, "//"))
        return Line::Comment;
    if (len > kMaxTableLineLength)
        return Line::TooLong;
    length = textLength;
    if (textLength <= 1)
        return Line::EndMark;
    return Line::Row;
}

} // namespace avatar_detail
