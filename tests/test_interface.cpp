// The host is compiled against the contract header: record layouts and the order of the
// interface operations are checked here so that a reordered declaration fails loudly.
#include "avatarsystem/avatarinterface.h"
#include "avatarsystem/avatarsystemmanager.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace
{

/// The operation-table slot a pointer to a virtual member function designates (Itanium C++ ABI:
/// the pointer holds 1 + the slot's byte offset).
template <class Member> std::size_t slotOf(Member member)
{
    struct Representation
    {
        std::uintptr_t pointer;
        std::ptrdiff_t adjustment;
    } rep;
    static_assert(sizeof(member) == sizeof(rep), "unexpected member pointer size");
    std::memcpy(&rep, &member, sizeof(rep));
    EXPECT_EQ(rep.pointer % 2, 1u) << "not a virtual operation";
    return (rep.pointer - 1) / sizeof(void*);
}

/// Whether E has a fixed underlying type: only such an enum may be list-initialised from an integer.
template <class E, class = void> struct HasFixedType : std::false_type
{
};
template <class E> struct HasFixedType<E, std::void_t<decltype(E{0})>> : std::true_type
{
};

template <class E> bool holdsAny32BitValue()
{
    return HasFixedType<E>::value && sizeof(E) == 4 && sizeof(std::underlying_type_t<E>) == 4;
}

template <class Record> bool allBytesZero(const Record& record, std::size_t from, std::size_t to)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&record);
    for (std::size_t i = from; i < to; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

} // namespace

TEST(HostContract, playerSettingLayoutMatchesTheHost)
{
    EXPECT_EQ(sizeof(PlayerSetting_t), 376u);
    EXPECT_EQ(offsetof(PlayerSetting_t, Name), 0u);
    EXPECT_EQ(offsetof(PlayerSetting_t, race), 256u);
    EXPECT_EQ(offsetof(PlayerSetting_t, gender), 260u);
    EXPECT_EQ(offsetof(PlayerSetting_t, facialHairStyle), 264u);
    EXPECT_EQ(offsetof(PlayerSetting_t, hairStyle), 268u);
    EXPECT_EQ(offsetof(PlayerSetting_t, hairColor), 272u);
    EXPECT_EQ(offsetof(PlayerSetting_t, skinColor), 276u);
    EXPECT_EQ(offsetof(PlayerSetting_t, faceType), 280u);
    const std::size_t items[] = {offsetof(PlayerSetting_t, head),       offsetof(PlayerSetting_t, shoulder),
                                 offsetof(PlayerSetting_t, boot),       offsetof(PlayerSetting_t, belt),
                                 offsetof(PlayerSetting_t, shirt),      offsetof(PlayerSetting_t, pants),
                                 offsetof(PlayerSetting_t, doublehand), offsetof(PlayerSetting_t, shield),
                                 offsetof(PlayerSetting_t, glove),      offsetof(PlayerSetting_t, leftHand),
                                 offsetof(PlayerSetting_t, rightHand),  offsetof(PlayerSetting_t, backLongWeapon),
                                 offsetof(PlayerSetting_t, backShield), offsetof(PlayerSetting_t, leftWaist),
                                 offsetof(PlayerSetting_t, rightWaist)};
    for (std::size_t i = 0; i < 15; ++i)
        EXPECT_EQ(items[i], 284u + 4u * i) << "item field " << i;
    EXPECT_EQ(offsetof(PlayerSetting_t, weaponEffect), 344u);
    EXPECT_EQ(offsetof(PlayerSetting_t, renderObj), 372u);
}

TEST(HostContract, weaponEffectIsSevenWordsInOrder)
{
    EXPECT_EQ(sizeof(WeaponEffectVisible), 28u);
    EXPECT_EQ(offsetof(WeaponEffectVisible, flag0), 0u);
    EXPECT_EQ(offsetof(WeaponEffectVisible, shoulderEffect), 4u);
    EXPECT_EQ(offsetof(WeaponEffectVisible, leftHandEffect), 8u);
    EXPECT_EQ(offsetof(WeaponEffectVisible, rightHandEffect), 12u);
    EXPECT_EQ(offsetof(WeaponEffectVisible, rightWaistEffect), 16u);
    EXPECT_EQ(offsetof(WeaponEffectVisible, leftWaistEffect), 20u);
    EXPECT_EQ(offsetof(WeaponEffectVisible, backWeaponEffect), 24u);
}

TEST(HostContract, creatureSettingAndCallbackLayouts)
{
    EXPECT_EQ(sizeof(CreatureSetting_t), 280u);
    EXPECT_EQ(offsetof(CreatureSetting_t, ID), 256u);
    EXPECT_EQ(offsetof(CreatureSetting_t, Effect1), 260u);
    EXPECT_EQ(offsetof(CreatureSetting_t, Effect5), 276u);

    EXPECT_EQ(sizeof(ENTITY_CALLBACK), 24u);
    EXPECT_EQ(offsetof(ENTITY_CALLBACK, type), 0u);
    EXPECT_EQ(offsetof(ENTITY_CALLBACK, view), 8u);
    EXPECT_EQ(offsetof(ENTITY_CALLBACK, observer), 16u);
}

TEST(HostContract, defaultSettingsAreZeroExceptRenderObj)
{
    // Construct over dirty memory so that a field the constructor forgets shows up.
    alignas(PlayerSetting_t) unsigned char playerBytes[sizeof(PlayerSetting_t)];
    std::memset(playerBytes, 0xAB, sizeof(playerBytes));
    const PlayerSetting_t* player = new (playerBytes) PlayerSetting_t();
    EXPECT_TRUE(player->renderObj);
    EXPECT_TRUE(allBytesZero(*player, 0, offsetof(PlayerSetting_t, renderObj)));
    EXPECT_TRUE(allBytesZero(*player, offsetof(PlayerSetting_t, renderObj) + 1, sizeof(PlayerSetting_t)));

    alignas(CreatureSetting_t) unsigned char creatureBytes[sizeof(CreatureSetting_t)];
    std::memset(creatureBytes, 0xAB, sizeof(creatureBytes));
    const CreatureSetting_t* creature = new (creatureBytes) CreatureSetting_t();
    EXPECT_TRUE(allBytesZero(*creature, 0, sizeof(CreatureSetting_t)));

    const ENTITY_CALLBACK callback;
    EXPECT_EQ(callback.type, 0);
    EXPECT_EQ(callback.view, nullptr);
    EXPECT_EQ(callback.observer, nullptr);
}

TEST(HostContract, enumValuesAreFixed)
{
    EXPECT_EQ(INSTANCE_CHARACTER, 0);
    EXPECT_EQ(INSTANCE_CREATURE, 1);
    EXPECT_EQ(SLOT_HEAD, 0);
    EXPECT_EQ(SLOT_GLOVE, 8);
    EXPECT_EQ(SLOT_RIGHT_HAND, 9);
    EXPECT_EQ(SLOT_LEFT_HAND, 10);
    EXPECT_EQ(SLOT_RIGHT_WAIST, 13);
    EXPECT_EQ(SLOT_LEFT_WAIST, 14);
    EXPECT_EQ(DB_CREATURE, 9);
    EXPECT_EQ(DB_ITEM, 17);
    EXPECT_EQ(DB_ANIMATION, 19);
    EXPECT_EQ(DB_OBJECT, 20);
    EXPECT_EQ(ANIM_NONE, 9999);
    EXPECT_EQ(BLEND_SMOOTH, 0);
    EXPECT_EQ(BLEND_IMMEDIATE, 3);
}

// The host passes values beyond the enumerators (its own animation kinds, table numbers, blend
// types): without a fixed type such a value is undefined behaviour.
TEST(HostContract, enumsHoldEvery32BitValue)
{
    EXPECT_TRUE(holdsAny32BitValue<INSTANCE_TYPE_e>());
    EXPECT_TRUE(holdsAny32BitValue<CharSlots>());
    EXPECT_TRUE(holdsAny32BitValue<DB_NAME_e>());
    EXPECT_TRUE(holdsAny32BitValue<AnimationType>());
    EXPECT_TRUE(holdsAny32BitValue<ANI_BLEND_TYPE>());
}

TEST(HostContract, avatarSystemOperationsKeepTheirSlots)
{
    using S = IAvatarSystem;
    EXPECT_EQ(slotOf(&S::release), 0u);
    EXPECT_EQ(slotOf(&S::update), 1u);
    EXPECT_EQ(slotOf(static_cast<IInstance* (S::*)(const std::string&)>(&S::createPlayer)), 2u);
    EXPECT_EQ(slotOf(static_cast<IInstance* (S::*)(const PlayerSetting_t&, ENTITY_CALLBACK*)>(&S::createPlayer)), 3u);
    EXPECT_EQ(slotOf(static_cast<IInstance* (S::*)(const std::string&)>(&S::createCreature)), 4u);
    EXPECT_EQ(slotOf(static_cast<IInstance* (S::*)(unsigned long, ENTITY_CALLBACK*)>(&S::createCreature)), 5u);
    EXPECT_EQ(slotOf(static_cast<IInstance* (S::*)(const CreatureSetting_t&, ENTITY_CALLBACK*)>(&S::createCreature)),
              6u);
    EXPECT_EQ(slotOf(&S::replacePlayer), 7u);
    EXPECT_EQ(slotOf(&S::clonePlayer), 8u);
    EXPECT_EQ(slotOf(&S::cloneCreature), 9u);
    EXPECT_EQ(slotOf(&S::replaceClonePlayer), 10u);
    EXPECT_EQ(slotOf(&S::destroyInstance), 11u);
    EXPECT_EQ(slotOf(&S::fadeOut), 12u);
    EXPECT_EQ(slotOf(&S::setInstanceTransoarency), 13u);
    EXPECT_EQ(slotOf(&S::setTextureFilter), 14u);
    EXPECT_EQ(slotOf(&S::preBuildEntityBuffer), 15u);
    EXPECT_EQ(slotOf(&S::getMeshFileFromId), 16u);
    EXPECT_EQ(slotOf(&S::getHeadImageFromId), 17u);
    EXPECT_EQ(slotOf(&S::setLoadFrameTime), 18u);
}

TEST(HostContract, instanceOperationsKeepTheirSlots)
{
    using I = IInstance;
    const std::size_t slots[] = {
        slotOf(&I::create),
        slotOf(&I::destroy),
        slotOf(&I::update),
        slotOf(&I::updateControlledEntity),
        slotOf(&I::setVisible),
        slotOf(&I::setHighLight),
        slotOf(&I::setTextureFilter),
        slotOf(&I::setUniqueID),
        slotOf(&I::setInstanceTransoarency),
        slotOf(&I::setEntityViewPtr),
        slotOf(&I::setInstanceBeCopy),
        slotOf(&I::getName),
        slotOf(&I::getScale),
        slotOf(&I::getUniqueID),
        slotOf(&I::getEntityPtr),
        slotOf(&I::getInstanceType),
        slotOf(&I::getRightWeapon),
        slotOf(&I::getLeftWeapon),
        slotOf(&I::playStatic),
        slotOf(
            static_cast<void (I::*)(AnimationType, ANI_BLEND_TYPE, float, IActionCallback*, bool)>(&I::playAnimation)),
        slotOf(static_cast<void (I::*)(const char*, ANI_BLEND_TYPE, IActionCallback*)>(&I::playAnimation)),
        slotOf(&I::setSpeed),
        slotOf(&I::setPause),
        slotOf(&I::setTickTimeLimit),
        slotOf(&I::setNewAimationState),
        slotOf(&I::setAnimationPlaySpeed),
        slotOf(&I::setAnimationMerge),
        slotOf(&I::getPlayPercent),
        slotOf(&I::getSpeedRate),
        slotOf(&I::getAnimName),
        slotOf(&I::setActionCallBack),
        slotOf(&I::changePausePropety),
        slotOf(&I::animationAddTime),
        slotOf(&I::hasAnimation),
        slotOf(&I::clearAnimation),
        slotOf(&I::searchAnimation),
        slotOf(&I::settingEquipEffect),
    };
    ASSERT_EQ(sizeof(slots) / sizeof(slots[0]), 37u);
    for (std::size_t i = 0; i < 37; ++i)
        EXPECT_EQ(slots[i], i) << "operation " << i + 1;
    // The manager's own base adds its operations after the host's.
    EXPECT_GE(slotOf(&ManagedInstance::isReadyToBuild), 37u);
}

TEST(HostContract, hostCallbacksAreCalledByPosition)
{
    EXPECT_EQ(slotOf(&IEntityView::onInstanceReady), 0u);
    EXPECT_EQ(slotOf(&IEntityView::getViewKey), 1u);
    EXPECT_EQ(slotOf(&IEntityView::onCreatureReadyA), 2u);
    EXPECT_EQ(slotOf(&IEntityView::onCreatureReadyB), 3u);
    EXPECT_EQ(slotOf(&IEntityViewObserver::onViewReady), 2u);
    EXPECT_EQ(slotOf(&IActionCallback::onAnimationEnd), 0u);
    EXPECT_EQ(slotOf(&IActionCallback::onAnimationState), 1u);
    EXPECT_EQ(slotOf(&IRttObjectCallback::onCopyCreated), 1u);
    EXPECT_EQ(slotOf(&I3DRttObjectCallback::onPlayerCopyCreated), 0u);
    EXPECT_EQ(slotOf(&I3DRttObjectCallback::onCreatureCopyCreated), 1u);
}
