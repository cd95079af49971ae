#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>

namespace avatar_detail
{

/// The first row of each name in one column of a table, so that a look-up by name needs no scan
/// of the rows. The table forgets it whenever its own operations change the rows and builds it
/// again on the next look-up; once the table has handed its rows out for editing in place, it
/// looks names up by scanning instead (nothing tells it when such rows change).
class NameIndex
{
public:
    void forget() { m_built = false; }
    /// Whether the index describes this column of a table of that many rows.
    bool fits(unsigned column, std::size_t rows) const { return m_built && m_column == column && m_rows == rows; }
    /// Starts over for column; add() then names the rows in the table's order.
    void start(unsigned column, std::size_t rows);
    /// The first row added under a name keeps it.
    void add(const char* name, unsigned where) { m_first.emplace(name, where); }
    /// The key or position of the first row of that name; false when no row has it.
    bool find(const char* name, unsigned& where) const;

private:
    std::unordered_map<std::string, unsigned> m_first;
    std::size_t m_rows = 0;
    unsigned m_column = 0;
    bool m_built = false;
};

} // namespace avatar_detail
