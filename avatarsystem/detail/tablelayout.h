#pragma once

#include "avatarsystem/textdatabase.h"

#include <initializer_list>
#include <string>

namespace avatar_detail
{

/// One column name, placed by the table class's own constant.
struct NamedColumn
{
    unsigned index;
    const char* name;
};

/// A layout of numFields columns named by their constants, so that a renumbered constant moves
/// its name with it. Columns without a name stay empty (the tests reject that).
TableLayout makeTableLayout(const std::string& fileName, unsigned numFields, bool keyed,
                            std::initializer_list<NamedColumn> named);

} // namespace avatar_detail

/// The column constant cls::name with its own name as text.
#define AVATAR_TABLE_COLUMN(cls, name)                                                                                 \
    avatar_detail::NamedColumn                                                                                         \
    {                                                                                                                  \
        cls::name, #name                                                                                               \
    }
