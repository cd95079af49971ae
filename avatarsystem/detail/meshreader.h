#pragma once

#include <string>

namespace avatar_check
{
struct MeshFacts;
}

namespace avatar_detail
{

/// Reads meshes and their skeletons from one directory through OGRE, for the table checker.
/// Uses the running OGRE root; without one it is not ready. Everything it loads lives in a
/// resource group of its own, outside the global pool, destroyed with it.
class MeshReader
{
public:
    explicit MeshReader(const std::string& directory);
    ~MeshReader();
    MeshReader(const MeshReader&) = delete;
    MeshReader& operator=(const MeshReader&) = delete;

    /// False when no OGRE root runs or the directory cannot be added.
    bool ready() const { return m_ready; }
    /// True when the directory holds a file of that name.
    bool exists(const std::string& file) const;
    /// Loads a mesh that exists and fills facts; false when the engine cannot read it.
    bool read(const std::string& file, avatar_check::MeshFacts& facts);

private:
    std::string m_group;
    bool m_ready = false;
};

} // namespace avatar_detail
