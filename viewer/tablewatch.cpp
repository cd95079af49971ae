#include "tablewatch.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

std::map<std::string, std::string> TableWatch::readFiles()
{
    std::map<std::string, std::string> files;
    for (const avatar_check::TableLayout& layout : avatar_check::knownTables())
    {
        std::ifstream in(layout.fileName, std::ios::binary);
        if (!in)
            continue;
        std::ostringstream bytes;
        bytes << in.rdbuf();
        files[layout.fileName] = bytes.str();
    }
    return files;
}

TableWatch::Result TableWatch::check() const
{
    using avatar_check::TableFinding;
    Result result;
    result.files = readFiles();
    const std::map<std::string, std::string>& files = result.files;
    for (const avatar_check::TableLayout& layout : avatar_check::knownTables())
    {
        const auto now = files.find(layout.fileName);
        const auto then = m_files.find(layout.fileName);
        const bool same = m_accepted && (now == files.end()) == (then == m_files.end()) &&
                          (now == files.end() || now->second == then->second);
        if (same)
            continue;
        result.edited.push_back(layout.fileName);
        if (now == files.end())
            result.all.push_back(TableFinding{layout.fileName, 0, TableFinding::Error, "the table file is missing"});
    }

    std::unique_ptr<avatar_check::DirectoryMeshes> meshes;
    if (avatar_check::DirectoryMeshes::holdsMeshes("."))
        meshes = std::make_unique<avatar_check::DirectoryMeshes>(".");
    for (const avatar_check::FileReport& report : avatar_check::checkDirectory(".", meshes.get()))
        result.all.insert(result.all.end(), report.findings.begin(), report.findings.end());

    for (const TableFinding& finding : result.all)
    {
        const bool edited = std::find(result.edited.begin(), result.edited.end(), finding.file) != result.edited.end();
        const bool known = std::find(m_knownFindings.begin(), m_knownFindings.end(),
                                     std::make_pair(finding.file, finding.message)) != m_knownFindings.end();
        if (!edited && known)
            continue;
        result.findings.push_back(finding);
        if (finding.severity == TableFinding::Error)
            ++result.errors;
        else
            ++result.warnings;
    }
    return result;
}

void TableWatch::accept(const Result& result)
{
    m_accepted = true;
    m_files = result.files;
    m_knownFindings.clear();
    for (const avatar_check::TableFinding& finding : result.all)
        m_knownFindings.emplace_back(finding.file, finding.message);
}
