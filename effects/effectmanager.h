#pragma once

#include "effects/effectsexport.h"

#include <OgreColourValue.h>
#include <OgreMovableObject.h>
#include <OgrePrerequisites.h>

#include <cstddef>
#include <map>
#include <memory>
#include <string>

/// How to make one kind of effect.
struct AVATAREFFECTS_API EffectTemplate
{
    /// OGRE particle system template to copy. When it is empty or no such template is
    /// registered with the ParticleSystemManager, the effect is a billboard instead.
    std::string particleTemplate;
    /// Material of the billboard; empty or unknown keeps OGRE's default billboard material.
    std::string material;
    /// Width and height of the billboard in world units; 0 or less means 1.
    float size = 1.0f;
    /// Speed factor of a particle system; 0 or less means 1. Stored for billboards.
    float speed = 1.0f;
    /// Colour of the billboard.
    Ogre::ColourValue colour = Ogre::ColourValue::White;
};

/// One live effect: a movable object in the scene manager that may hang on a bone.
/// Owned by EffectManager. Callers keep the pointer until they free the effect by name
/// and never delete it; getEffect(name) tells whether it is still live.
/// When the host destroys the OGRE object (clearing its scene, or with its scene manager), the
/// effect stays listed without an object: show and hide do nothing and the object is null.
class AVATAREFFECTS_API Effect : private Ogre::MovableObject::Listener
{
public:
    Effect(const Effect&) = delete;
    Effect& operator=(const Effect&) = delete;

    /// The OGRE object that draws the effect; a BillboardSet or a ParticleSystem.
    Ogre::MovableObject* getMovableObject() const { return m_object; }
    /// The same object as getMovableObject, for code that hands an effect to OGRE directly.
    operator Ogre::MovableObject*() const { return m_object; }

    /// The name unique among live effects, given back to EffectManager::freeEffect.
    const std::string& getName() const { return m_name; }
    /// The kind the effect was made from, as given to EffectManager::addEffect.
    const std::string& getKind() const { return m_kind; }

    /// Makes the effect visible and, for particles, emitting. A new effect starts hidden.
    void show();
    /// Hides the effect and stops a particle system from emitting.
    void hide();
    /// True while the OGRE object exists and is visible.
    bool isShown() const;

    /// Lifetime of the effect in seconds; stored for the host's frame loop. Starts at 0 (unlimited).
    void setParamA(float value) { m_paramA = value; }
    /// The lifetime set by setParamA.
    float getParamA() const { return m_paramA; }
    /// Render-to-texture flag value; nonzero marks an effect drawn into an off-screen copy. Starts at 0.
    void setParamB(float value) { m_paramB = value; }
    /// The flag set by setParamB.
    float getParamB() const { return m_paramB; }

    /// Size of the kind's template after defaults were applied.
    float getSize() const { return m_size; }
    /// Speed of the kind's template after defaults were applied.
    float getSpeed() const { return m_speed; }

private:
    friend class EffectManager;
    Effect(std::string name, std::string kind, Ogre::MovableObject* object, Ogre::SceneManager* sceneManager,
           float size, float speed);
    void objectDestroyed(Ogre::MovableObject* object) override;

    std::string m_name;
    std::string m_kind;
    Ogre::MovableObject* m_object = nullptr;
    std::string m_objectType;
    Ogre::SceneManager* m_sceneManager = nullptr;
    float m_size = 1.0f;
    float m_speed = 1.0f;
    float m_paramA = 0.0f;
    float m_paramB = 0.0f;
};

/// Makes, keeps and frees the effects of the process.
///
/// One object per process, constructed on the first getSingletonPtr() call and destroyed at
/// exit. Its destructor releases only its own records, never OGRE objects, because OGRE may
/// already be gone by then: the host calls freeAll() before it destroys its scene manager.
///
/// Effect kinds come from templates the host registered and, for names it did not register,
/// from the effects table "EWEffects.csv" in the current directory, read on the first look-up
/// (columns: ID, name, template name, size, speed; lines containing "//" are comments; a line
/// of 0 or 1 byte ends the table; rows without exactly five fields are skipped).
/// No call throws: OGRE failures become a null result.
class AVATAREFFECTS_API EffectManager
{
public:
    /// The table read for kinds that were not registered.
    static const char* const TABLE_FILE;
    /// The scene manager used when none was set.
    static const char* const DEFAULT_SCENE_MANAGER;

    /// The one manager; never null.
    static EffectManager* getSingletonPtr();

    EffectManager(const EffectManager&) = delete;
    EffectManager& operator=(const EffectManager&) = delete;

    /// Makes a hidden effect of the kind @p name in the scene manager. Returns null when the
    /// kind is unknown, there is no scene manager, or OGRE refuses to make the object.
    ///
    /// A kind is looked up by registered name, then by the table's name column, then, for a
    /// decimal name, by the table's ID column. A name ending in "_l" or "_r" that is unknown
    /// falls back to the kind without that suffix (the left and right models of an item share
    /// one kind).
    Effect* addEffect(const std::string& name);

    /// Frees the live effect called @p name: takes it off its node or bone, destroys its OGRE
    /// object and forgets it. Unknown names are ignored. @p flag is unused.
    void freeEffect(const std::string& name, bool flag);

    /// Frees every live effect.
    void freeAll();

    /// Registers or replaces the kind @p kind. Registered kinds shadow rows of the table.
    void registerEffect(const std::string& kind, const EffectTemplate& effectTemplate);
    /// Forgets a registered kind; live effects of it stay. Returns false when it was not registered.
    bool unregisterEffect(const std::string& kind);
    /// True when addEffect(@p name) would find a kind (registered, in the table, or by suffix).
    bool hasKind(const std::string& name);
    /// Forgets what was read from the table, so that the next look-up reads the file again.
    void reloadTable();

    /// Makes effects in @p sceneManager from now on; null goes back to the default one.
    /// The host resets it before destroying that scene manager.
    void setSceneManager(Ogre::SceneManager* sceneManager);
    /// The scene manager set, else the root's scene manager named DEFAULT_SCENE_MANAGER, else null.
    Ogre::SceneManager* getSceneManager() const;

    /// The live effect called @p name, or null.
    Effect* getEffect(const std::string& name) const;
    /// Number of live effects.
    std::size_t getNumEffects() const { return m_effects.size(); }
    /// Number of live effects of the kind @p kind.
    std::size_t getNumEffects(const std::string& kind) const;

private:
    EffectManager();
    ~EffectManager();

    const EffectTemplate* findTemplate(const std::string& name);
    const EffectTemplate* findExact(const std::string& name);
    void readTable();
    void destroyObject(Effect& effect);

    std::map<std::string, EffectTemplate> m_registered;
    std::map<std::string, EffectTemplate> m_tableByName;
    std::map<unsigned long, EffectTemplate> m_tableById;
    bool m_tableRead = false;
    std::map<std::string, std::unique_ptr<Effect>> m_effects;
    Ogre::SceneManager* m_sceneManager = nullptr;
    unsigned long m_nextNumber = 1;
};
