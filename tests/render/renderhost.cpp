#include "renderhost.h"
#include "avatarsystem/detail/contentrules.h"

#include <Ogre.h>
#include <OgreDDSCodec.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace render_check
{

int GLHost::start(Ogre::Root& root, const std::string& contentDir, int w, int h, const char* title)
{
    width = w;
    height = h;
    // A missing plugin or display is no fault of the avatars: the check is skipped.
    try
    {
        root.loadPlugin(std::string(OGRE_PLUGIN_DIR) + "/RenderSystem_GL");
    }
    catch (const Ogre::Exception& e)
    {
        std::printf("SKIP: the GL render system is unavailable (%s)\n", e.getDescription().c_str());
        return kSkip;
    }
    for (const char* codec : {"Codec_STBI", "Codec_FreeImage"})
    {
        try
        {
            root.loadPlugin(std::string(OGRE_PLUGIN_DIR) + "/" + codec);
            break;
        }
        catch (const Ogre::Exception&)
        {
        }
    }
    try
    {
        Ogre::RenderSystem* gl = root.getAvailableRenderers().at(0);
        gl->setConfigOption("Full Screen", "No");
        root.setRenderSystem(gl);
        root.initialise(false);
        window = root.createRenderWindow(title, width, height, false);
    }
    catch (const std::exception& e)
    {
        std::printf("SKIP: GL cannot start (%s)\n", e.what());
        return kSkip;
    }

    scene =
        root.createSceneManager(Ogre::DefaultSceneManagerFactory::FACTORY_TYPE_NAME, avatar_rules::kSceneManagerName);
    Ogre::DDSCodec::startup();
    Ogre::ResourceGroupManager& groups = Ogre::ResourceGroupManager::getSingleton();
    groups.createResourceGroup("Content");
    groups.addResourceLocation(contentDir, "FileSystem", "Content");
    groups.initialiseResourceGroup("Content");
    if (chdir(contentDir.c_str()) != 0)
    {
        std::printf("FAIL: cannot enter %s\n", contentDir.c_str());
        return 1;
    }
    return 0;
}

Region GLHost::project(const Ogre::Camera& camera, const Ogre::AxisAlignedBox& box) const
{
    const Ogre::Matrix4 viewProj = camera.getProjectionMatrix() * camera.getViewMatrix();
    float minX = 1, minY = 1, maxX = -1, maxY = -1;
    for (const Ogre::Vector3& corner : box.getAllCorners())
    {
        const Ogre::Vector3 p = viewProj * corner;
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    const auto toX = [this](float x) { return std::max(0, std::min(width, static_cast<int>((x + 1) * 0.5f * width))); };
    const auto toY = [this](float y)
    { return std::max(0, std::min(height, static_cast<int>((1 - y) * 0.5f * height))); };
    return Region{toX(minX), toY(maxY), toX(maxX), toY(minY)};
}

std::vector<Ogre::uint8> GLHost::renderFrame(Ogre::Root& root) const
{
    root.renderOneFrame();
    std::vector<Ogre::uint8> rgba(static_cast<std::size_t>(width) * height * 4);
    Ogre::PixelBox pixels(width, height, 1, Ogre::PF_BYTE_RGBA, rgba.data());
    window->copyContentsToMemory(pixels, pixels);
    return rgba;
}

double GLHost::changedShare(const std::vector<Ogre::uint8>& a, const std::vector<Ogre::uint8>& b, const Region& r) const
{
    long changed = 0, total = 0;
    for (int y = r.top; y < std::min(r.bottom, height); ++y)
        for (int x = r.left; x < std::min(r.right, width); ++x)
        {
            const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 4;
            ++total;
            if (std::abs(a[at] - b[at]) + std::abs(a[at + 1] - b[at + 1]) + std::abs(a[at + 2] - b[at + 2]) > 24)
                ++changed;
        }
    return total ? static_cast<double>(changed) / total : 0.0;
}

std::string absolute(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char cwd[4096];
    return getcwd(cwd, sizeof(cwd)) ? std::string(cwd) + "/" + path : path;
}

int runCheck(int argc, char** argv, const char* outputHelp,
             int (*run)(const std::string& contentDir, const std::string& output, Ogre::Root& root))
{
    if (argc != 3)
    {
        std::fprintf(stderr, "usage: %s <content dir> <%s>\n", argv[0], outputHelp);
        return 2;
    }
    const std::string contentDir = absolute(argv[1]);
    const std::string output = absolute(argv[2]);
    const std::string logName = std::string(argv[0]).substr(std::string(argv[0]).find_last_of('/') + 1) + ".log";
    auto* log = new Ogre::LogManager();
    log->createLog(logName, true, false, false);
    int result = 1;
    {
        Ogre::Root root("", "", logName);
        try
        {
            result = run(contentDir, output, root);
        }
        catch (const std::exception& e)
        {
            std::printf("FAIL: %s\n", e.what());
            result = 1;
        }
    }
    delete log;
    return result;
}

} // namespace render_check
