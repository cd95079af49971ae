// Avatars at the shared detail level leave the others alone: in a crowd whose background avatars
// share their pose, join and leave their groups, pause, cross-fade and are destroyed, the
// full-detail avatars' bones through the engine are exactly those of the same crowd with nobody
// shared.
#include "packcatalog.h"
#include "packsystem.h"

#include <OgreBone.h>
#include <OgreEntity.h>
#include <OgreSkeletonInstance.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{

const AnimationType kStand = AnimationType(0), kWalk = AnimationType(1), kAttack = AnimationType(10);

class SharedCrowd : public PackSystemTest
{
protected:
    struct Run
    {
        /// Every bone of every full-detail avatar after every frame, through the engine.
        std::vector<Ogre::Quaternion> fullBones;
        /// The most background avatars that showed a group's pose in one frame.
        long mostSharing = 0;
    };

    /// Sixteen avatars (players of every preset and generated creatures) for 180 frames: every
    /// fifth at full detail walking with the attack over it, played again once it ends; the others
    /// walk or stand at spread phases, and some of them play an overlay, pause, cross-fade, or are
    /// destroyed on the way. With share, the background avatars are shared, and one of them is
    /// set to full detail and back. The host's plays are the same in both runs.
    Run crowdRun(bool share)
    {
        std::vector<const char*> creatures;
        for (const pack_description::CreatureDef& creature : pack_description::creatureDefs())
            if (creature.generated)
                creatures.push_back(creature.name.c_str());
        std::vector<IInstance*> crowd, full, background;
        for (std::size_t i = 0; i < 16; ++i)
        {
            IInstance* avatar = i % 4 != 3
                                    ? system->createPlayer(std::string(pack::kPresets[i % pack::kPresets.size()]))
                                    : system->createCreature(std::string(creatures[i / 4 % creatures.size()]));
            crowd.push_back(avatar);
            (i % 5 == 0 ? full : background).push_back(avatar);
        }
        const unsigned buckets = manager->getSharedPhaseBuckets();
        Run run;
        for (int f = 0; f < 180; ++f)
        {
            if (f == 0)
            {
                for (IInstance* avatar : full)
                    avatar->playAnimation(kWalk, BLEND_IMMEDIATE, 0.0f, nullptr, true);
                for (std::size_t k = 0; k < background.size(); ++k)
                {
                    const float phase = static_cast<float>(k) * 0.618034f;
                    background[k]->playAnimation(k % 2 ? kStand : kWalk, BLEND_IMMEDIATE,
                                                 phase - static_cast<float>(static_cast<int>(phase)), nullptr, true);
                    if (share)
                    {
                        EXPECT_TRUE(manager->setDetailLevel(background[k], AvatarSystemManager::DETAIL_SHARED));
                    }
                }
            }
            for (std::size_t k = 0; k < full.size(); ++k)
                if (f >= 10 + 7 * static_cast<int>(k) && full[k]->searchAnimation(2) != kAttack)
                    full[k]->playAnimation(kAttack, BLEND_SMOOTH, 0.0f, nullptr, true);
            if (f == 40)
                background[2]->playAnimation(kAttack, BLEND_SMOOTH, 0.0f, nullptr, true);
            if (f == 60)
            {
                // The first to join: its skeleton instance may be the one its group shows.
                system->destroyInstance(background[0]->getUniqueID());
                crowd.erase(std::find(crowd.begin(), crowd.end(), background[0]));
            }
            if (f == 80)
                background[3]->setPause(true);
            if (f == 90)
                background[4]->playAnimation(kStand, BLEND_SMOOTH, 0.0f, nullptr, true);
            if (f == 100)
                manager->setSharedPhaseBuckets(1);
            if (f == 110)
                background[3]->setPause(false);
            if (share && (f == 120 || f == 140))
            {
                // Out of its group and back.
                EXPECT_TRUE(manager->setDetailLevel(background[5], f == 120 ? AvatarSystemManager::DETAIL_FULL
                                                                            : AvatarSystemManager::DETAIL_SHARED));
            }

            const float dt = f % 7 == 6 ? 1.0f / 30.0f : 1.0f / 60.0f;
            system->update(dt);
            for (IInstance* avatar : crowd)
                avatar->update(true, dt);

            run.mostSharing =
                std::max(run.mostSharing,
                         static_cast<long>(std::count_if(crowd.begin(), crowd.end(),
                                                         [this](IInstance* a) { return manager->isSharingPose(a); })));
            for (IInstance* avatar : full)
            {
                Ogre::Entity* entity = avatar->getEntityPtr();
                Ogre::SkeletonInstance* skeleton = entity->getSkeleton();
                skeleton->setAnimationState(*entity->getAllAnimationStates());
                for (Ogre::Bone* bone : skeleton->getBones())
                    run.fullBones.push_back(bone->getOrientation());
            }
        }
        manager->setSharedPhaseBuckets(buckets);
        system->release();
        return run;
    }
};

TEST_F(SharedCrowd, fullDetailAvatarsMoveExactlyAsInACrowdWithNobodyShared)
{
    const Run alone = crowdRun(false);
    const Run shared = crowdRun(true);
    EXPECT_EQ(alone.mostSharing, 0);
    EXPECT_GE(shared.mostSharing, 8) << "the background avatars shared their poses";
    ASSERT_EQ(shared.fullBones.size(), alone.fullBones.size());
    const auto differs = std::mismatch(alone.fullBones.begin(), alone.fullBones.end(), shared.fullBones.begin());
    EXPECT_TRUE(differs.first == alone.fullBones.end())
        << "bone " << (differs.first - alone.fullBones.begin()) << " of " << alone.fullBones.size() << ": "
        << *differs.first << " alone, " << *differs.second << " in the shared crowd";
}

} // namespace
