#pragma once

#include <OgrePrerequisites.h>

#include <string>
#include <vector>

/// What the rendered checks share: GL started in a window of a fixed size, the content pack
/// registered and made the current directory, and the pixels of frames read back and compared.
namespace render_check
{

/// The exit code that CTest counts as a skipped check (no GL render system or display).
const int kSkip = 77;

/// A rectangle of window pixels, right and bottom excluded.
struct Region
{
    int left = 0, top = 0, right = 0, bottom = 0;
};

/// A GL window of width x height, the host's scene manager "Everwind" and the content pack in the
/// resource group "Content", the pack's directory made current (tables are read from there).
struct GLHost
{
    int width = 0, height = 0;
    Ogre::RenderWindow* window = nullptr;
    Ogre::SceneManager* scene = nullptr;

    /// 0 when started, kSkip when GL cannot start (a message says why), 1 on another failure.
    int start(Ogre::Root& root, const std::string& contentDir, int w, int h, const char* title);
    /// The screen rectangle a world box covers, clipped to the window.
    Region project(const Ogre::Camera& camera, const Ogre::AxisAlignedBox& box) const;
    /// Renders one frame and reads it back as RGBA.
    std::vector<Ogre::uint8> renderFrame(Ogre::Root& root) const;
    /// The share of pixels in the region whose colour differs by more than a little between two frames.
    double changedShare(const std::vector<Ogre::uint8>& a, const std::vector<Ogre::uint8>& b, const Region& r) const;
};

/// path made absolute against the current directory.
std::string absolute(const std::string& path);

/// The whole program of a rendered check: "<program> <content dir> <output>" with both made
/// absolute, a quiet log of its own and an OGRE root for run, whose result is the exit code
/// (an exception is a failure, a wrong command line 2).
int runCheck(int argc, char** argv, const char* outputHelp,
             int (*run)(const std::string& contentDir, const std::string& output, Ogre::Root& root));

} // namespace render_check
