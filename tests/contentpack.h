#pragma once

#include <string>

/// The sample content pack the build generates: its meshes, materials and textures are
/// registered once per process in the resource group "Content", and while a ContentDir lives
/// the current directory is the pack (tables are read by bare file name).
class ContentDir
{
public:
    ContentDir();
    ~ContentDir();
    ContentDir(const ContentDir&) = delete;
    ContentDir& operator=(const ContentDir&) = delete;

    static const char* path();

private:
    std::string m_previous;
};
