#pragma once

#include <avatarsystem/tablechecker.h>

#include <map>
#include <string>
#include <vector>

/// Tells which table files of the current directory an author edited since the tables were last
/// read, and what the table checker says about them.
class TableWatch
{
public:
    /// What a check found: the findings of the edited files, and those of other files that the
    /// last accepted state did not have (a removed item leaves a preset pointing nowhere).
    struct Result
    {
        std::vector<std::string> edited;
        std::vector<avatar_check::TableFinding> findings;
        unsigned errors = 0;
        unsigned warnings = 0;
        std::vector<avatar_check::TableFinding> all; ///< every finding in the directory
        std::map<std::string, std::string> files;    ///< the bytes checked, by file name
    };

    /// Checks the table files of the current directory (against its meshes when it holds any).
    /// Before the first accept() every file counts as edited. A table file the system reads that
    /// is missing is an error.
    Result check() const;
    /// Remembers the files as they were checked, and their findings, as the accepted state.
    void accept(const Result& result);

private:
    /// The bytes of every known table file, by file name; absent files are left out.
    static std::map<std::string, std::string> readFiles();

    bool m_accepted = false;
    std::map<std::string, std::string> m_files;
    std::vector<std::pair<std::string, std::string>> m_knownFindings; ///< file and message
};
