// The host interface fuzzer's kept inputs (data/fuzz-host), replayed through the fuzzer's own
// interpreter: each once crashed, leaked or left something behind, or reaches a known fault that
// the interpreter steers around until it is mended.
#include "fuzz/hostinput.h"

#include "contentpack.h"
#include "headlessogre.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

TEST(HostFuzzInputs, keptInputsLeaveTheWorldAsTheyFoundIt)
{
    namespace fs = std::filesystem;
    ContentDir content;
    // The effects table is read from the directory current at the first look-up.
    EffectManager::getSingletonPtr()->reloadTable();
    const fs::path directory = fs::path(AVATAR_TEST_DATA_DIR) / "fuzz-host";
    unsigned replayed = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory))
    {
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (const std::string& problem : hostfuzz::runHostInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                                                 bytes.size(), HeadlessOgre::sceneManager()))
            ADD_FAILURE() << problem;
        ++replayed;
    }
    EXPECT_GT(replayed, 0u) << "no inputs under " << directory;
}
