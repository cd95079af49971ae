#include "headlessogre.h"

#include <cstring>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    bool withSceneManager = true;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--without-scene-manager") == 0)
            withSceneManager = false;
    ::testing::AddGlobalTestEnvironment(new HeadlessOgre(withSceneManager));
    return RUN_ALL_TESTS();
}
