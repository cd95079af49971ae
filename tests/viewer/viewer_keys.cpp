// viewer_keys <avatar-viewer> <content dir> <work dir>: runs the viewer on a copy of the content
// under the current X display, presses its keys with xdotool (real key events through the X
// server, as a person types them) and checks the screenshots the viewer saves: the picture changes
// when a key says it should and stays when nothing changed. Exit codes: 0 passed, 1 failed,
// 77 skipped (no xdotool, no display, or no GL in it).

#include <Ogre.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace
{

const int s_skip = 77;
const int s_width = 480;
const int s_height = 360;

struct Failure : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

/// One screenshot as 8-bit RGB.
struct Picture
{
    std::string file;
    std::vector<Ogre::uint8> rgb;
};

/// The share of pixels that differ clearly between two pictures of the same size.
double difference(const Picture& a, const Picture& b)
{
    if (a.rgb.size() != b.rgb.size() || a.rgb.empty())
        return 1.0;
    std::size_t changed = 0;
    for (std::size_t i = 0; i < a.rgb.size(); i += 3)
    {
        const int d = std::abs(a.rgb[i] - b.rgb[i]) + std::abs(a.rgb[i + 1] - b.rgb[i + 1]) +
                      std::abs(a.rgb[i + 2] - b.rgb[i + 2]);
        changed += d > 24 ? 1 : 0;
    }
    return static_cast<double>(changed) / static_cast<double>(a.rgb.size() / 3);
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string replaceOnce(std::string text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    if (at == std::string::npos)
        throw Failure("'" + from + "' is not in the table");
    return text.replace(at, from.size(), to);
}

/// The viewer process, its window and its saved screenshots.
class Viewer
{
public:
    Viewer(const std::string& program, const fs::path& content, const fs::path& work)
        : m_shots(work / "shots"), m_output(work / "viewer.out")
    {
        fs::create_directories(m_shots);
        m_pid = fork();
        if (m_pid == 0)
        {
            const int out = ::open(m_output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(out, 2);
            const std::string size = std::to_string(s_width) + "x" + std::to_string(s_height);
            const std::string log = (work / "viewer.log").string();
            execl(program.c_str(), program.c_str(), "--content", content.c_str(), "--size", size.c_str(),
                  "--screenshots", m_shots.c_str(), "--log", log.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }

    ~Viewer()
    {
        if (m_pid > 0 && !m_exited)
        {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }

    /// Waits for the window and gives it the keyboard. False when the viewer ended first with
    /// its no-window status (3).
    bool open()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline)
        {
            if (ended())
            {
                if (m_status == 3)
                    return false;
                throw Failure("the viewer ended at start with status " + std::to_string(m_status));
            }
            m_window = run("xdotool search --name '^avatar-viewer$' 2>/dev/null | head -n 1");
            if (!m_window.empty())
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        if (m_window.empty())
            throw Failure("the viewer's window did not appear");
        // Without a window manager the focus goes where xdotool puts it.
        xdotool("windowfocus --sync " + m_window);
        return true;
    }

    /// Types keys, as xdotool names them ("Right", "shift+a", "F12").
    void press(const std::string& keys) { xdotool("key --delay 60 " + keys); }

    /// Orbits: drags from the middle of the window to the right with the left button held.
    void drag(int dx)
    {
        xdotool("mousemove --window " + m_window + " " + std::to_string(s_width / 2) + " " +
                std::to_string(s_height / 2));
        xdotool("mousedown 1");
        for (int moved = 0; moved < dx; moved += 10)
            xdotool("mousemove_relative -- 10 0");
        xdotool("mouseup 1");
    }

    /// Presses the screenshot key and waits for the file.
    Picture shot(const char* what)
    {
        char name[64];
        std::snprintf(name, sizeof(name), "avatar-viewer-%03d.png", ++m_count);
        const fs::path file = m_shots / name;
        press("F12");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!fs::exists(file))
        {
            if (ended())
                throw Failure(std::string("the viewer ended before the screenshot of ") + what);
            if (std::chrono::steady_clock::now() > deadline)
                throw Failure(std::string("no screenshot of ") + what);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        Picture picture;
        picture.file = file.string();
        Ogre::Image image;
        std::ifstream* in = new std::ifstream(file, std::ios::binary);
        Ogre::DataStreamPtr stream(new Ogre::FileStreamDataStream(in));
        image.load(stream, "png");
        if (image.getWidth() != static_cast<Ogre::uint32>(s_width) ||
            image.getHeight() != static_cast<Ogre::uint32>(s_height))
            throw Failure(file.string() + " has the wrong size");
        picture.rgb.resize(static_cast<std::size_t>(s_width) * s_height * 3);
        Ogre::PixelBox target(s_width, s_height, 1, Ogre::PF_BYTE_RGB, picture.rgb.data());
        Ogre::PixelUtil::bulkPixelConversion(image.getPixelBox(), target);
        std::printf("%-44s %s\n", what, file.filename().c_str());
        return picture;
    }

    /// What the viewer printed so far.
    std::string output() const { return readFile(m_output); }

    bool ended()
    {
        if (m_exited)
            return true;
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid)
        {
            m_exited = true;
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return m_exited;
    }

    /// Waits for the viewer to end; its exit status, or -1 after the time limit.
    int waitForExit(int seconds)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!ended())
        {
            if (std::chrono::steady_clock::now() > deadline)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return m_status;
    }

private:
    static std::string run(const std::string& command)
    {
        std::string out;
        if (FILE* pipe = popen(command.c_str(), "r"))
        {
            char buffer[256];
            while (std::fgets(buffer, sizeof(buffer), pipe))
                out += buffer;
            pclose(pipe);
        }
        while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
            out.pop_back();
        return out;
    }

    static void xdotool(const std::string& arguments)
    {
        if (std::system(("xdotool " + arguments + " >/dev/null").c_str()) != 0)
            throw Failure("xdotool " + arguments + " failed");
    }

    fs::path m_shots;
    fs::path m_output;
    pid_t m_pid = -1;
    bool m_exited = false;
    int m_status = 0;
    int m_count = 0;
    std::string m_window;
};

int g_failures = 0;

void expect(bool condition, const std::string& what)
{
    std::printf("%s: %s\n", condition ? "ok  " : "FAIL", what.c_str());
    if (!condition)
        ++g_failures;
}

/// Unchanged: at most a few hundred pixels differ. The sample bodies have coplanar geosets (two
/// hair layers) whose draw order can change when a rebuilt avatar's material copies sort
/// differently, which flips a patch of hair; anything a key changes moves far more pixels.
void expectSame(const Picture& a, const Picture& b, const std::string& what)
{
    const double d = difference(a, b);
    expect(d < 0.003, what + " (" + std::to_string(d * 100) + " % of the pixels differ)");
}

void expectChanged(const Picture& a, const Picture& b, const std::string& what, double atLeast = 0.008)
{
    const double d = difference(a, b);
    expect(d >= atLeast, what + " (" + std::to_string(d * 100) + " % of the pixels differ)");
}

/// Waits a while for the viewer to print text (keys take effect at its next frame).
void expectPrinted(Viewer& viewer, const std::string& text)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool printed = false;
    while (!(printed = viewer.output().find(text) != std::string::npos) && !viewer.ended() &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    expect(printed, "the viewer says \"" + text + "\"");
}

int drive(const std::string& program, const fs::path& pack, const fs::path& work)
{
    fs::remove_all(work);
    const fs::path content = work / "content";
    fs::create_directories(work);
    fs::copy(pack, content, fs::copy_options::recursive);
    const fs::path creatures = content / "Creature.csv";
    std::string original = readFile(creatures);
    if (!original.empty() && original.back() != '\n')
        original += '\n';

    Viewer viewer(program, content, work);
    if (!viewer.open())
    {
        std::printf("SKIP: the viewer cannot open a GL window on this display\n");
        return s_skip;
    }
    // The panel off: the pictures show the avatar alone, not the panel's changing text.
    viewer.press("F1");
    const Picture warrior = viewer.shot("the first preset");
    expectSame(warrior, viewer.shot("no key pressed"), "a picture without a key press stays the same");

    viewer.press("Right");
    expectChanged(warrior, viewer.shot("Right: the next preset"), "Right shows another preset");
    viewer.press("Left");
    const Picture back = viewer.shot("Left: the first preset again");
    expectSame(warrior, back, "Left shows the first preset again, as before");

    // Equipment, put on through replacePlayer: the shirt place (the fifth) steps from the preset's
    // Plate Cuirass to the next shirt that fits a man, and back.
    viewer.press("Down Down Down Down e");
    expectPrinted(viewer, "shirt: 2004 Wizard Robe");
    expectChanged(back, viewer.shot("Down x4, E: another shirt"), "E puts another shirt on");
    viewer.press("shift+e");
    expectPrinted(viewer, "shirt: 2002 Plate Cuirass");
    expectSame(back, viewer.shot("Shift+E: the first shirt again"), "Shift+E puts the first shirt on again");

    // Animations through the layers: Walk (lower body) held still halfway; Run, paused; Attack1
    // over Bow_run (an upper-body overlay), then the additive nod (pose).
    viewer.press("a a s");
    const Picture still = viewer.shot("A A S: Walk held still halfway");
    expectChanged(back, still, "Walk held halfway moves the legs");
    expectSame(still, viewer.shot("still"), "a pose held still stays");
    expectPrinted(viewer, "play 1 Walk");
    viewer.press("a");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    viewer.press("space");
    const Picture paused = viewer.shot("A, Space: Run, paused");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    expectSame(paused, viewer.shot("paused a while later"), "Space holds the animation");
    viewer.press("a a a a a a a");
    expectPrinted(viewer, "layers: main Bow_run, overlay Attack1");
    viewer.press("a a a a a");
    expectPrinted(viewer, "overlay -, pose Pose_Nod");
    viewer.press("c");
    expectPrinted(viewer, "animations cleared; layers: main -, overlay -, pose -");

    // Creatures: another picture; the highlight brightens one and goes again.
    viewer.press("2");
    const Picture wolf = viewer.shot("2: the first creature");
    expectChanged(back, wolf, "2 shows a creature");
    viewer.press("h");
    expectChanged(wolf, viewer.shot("H: highlight on"), "H highlights the creature");
    viewer.press("h");
    expectSame(wolf, viewer.shot("H: highlight off"), "H again takes the highlight away");

    // Opacity, on a creature whose row lets it turn translucent (the fourth: Stone Golem).
    viewer.press("Right Right Right");
    const Picture golem = viewer.shot("Right x3: a translucent-capable creature");
    viewer.press("o");
    expectChanged(golem, viewer.shot("O: opacity 0.6"), "O makes the creature translucent");
    viewer.press("o o");
    expectSame(golem, viewer.shot("O O: opaque again"), "opacity 1 looks as before");

    // Reloading unchanged tables rebuilds the same picture; an edited row shows at once.
    viewer.press("r");
    expectSame(golem, viewer.shot("R: tables read again"), "reading unchanged tables again rebuilds the same");
    const std::string edited = replaceOnce(original, "Stone Golem,golem.mesh", "Stone Golem,wolf.mesh");
    writeFile(creatures, edited);
    viewer.press("r");
    const Picture remodelled = viewer.shot("R after an edit: another mesh");
    expectChanged(golem, remodelled, "a table edit shows after R");
    expectPrinted(viewer, "tables read again (1 edited)");

    // A broken table: the checker's findings instead of the avatar, and no crash.
    writeFile(creatures, edited + "7,1,Broken\n");
    viewer.press("r");
    const Picture findings = viewer.shot("R with a broken table");
    expectChanged(remodelled, findings, "the findings cover the view", 0.2);
    expectPrinted(viewer, "Creature.csv:8: error: the row has 3 columns");
    viewer.press("Right");
    expect(!viewer.ended(), "the viewer keeps running with a broken table");
    writeFile(creatures, edited);
    viewer.press("r");
    expectSame(remodelled, viewer.shot("R after the fix"), "the fixed table shows the avatar again");

    // The orbiting camera.
    viewer.drag(80);
    expectChanged(remodelled, viewer.shot("a drag with the left button"), "dragging orbits the camera");

    // The texture filter goes to the next level (the manager starts at 3).
    viewer.press("f");
    expectPrinted(viewer, "texture filter 4");

    viewer.press("Escape");
    expect(viewer.waitForExit(30) == 0, "Escape closes the viewer with status 0");
    return g_failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
    {
        std::fprintf(stderr, "usage: %s <avatar-viewer> <content dir> <work dir>\n", argv[0]);
        return 2;
    }
    if (std::system("command -v xdotool >/dev/null") != 0)
    {
        std::printf("SKIP: xdotool is not installed (scripts/bootstrap.sh installs it)\n");
        return s_skip;
    }
    // A root without a render system, for reading the screenshots back.
    auto* log = new Ogre::LogManager();
    log->createLog("viewer_keys.log", true, false, false);
    int result = 1;
    {
        Ogre::Root root("", "", "viewer_keys.log");
        try
        {
            root.loadPlugin(std::string(OGRE_PLUGIN_DIR) + "/Codec_STBI");
            result = drive(argv[1], fs::absolute(argv[2]), fs::absolute(argv[3]));
        }
        catch (const std::exception& e)
        {
            std::printf("FAIL: %s\n", e.what());
            result = 1;
        }
    }
    delete log;
    std::printf("%s\n", result == 0 ? "passed" : result == s_skip ? "skipped" : "failed");
    return result;
}
