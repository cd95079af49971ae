#pragma once

#include "avatarsystem/avatarsystemexport.h"

#include <OgreMaterial.h>
#include <OgrePrerequisites.h>

#include <string>
#include <vector>

class Effect;

/// One item mesh hung on a bone of an avatar, with at most one effect.
/// Owns its entity, the material copies of its sub-entities and its effect; never the parent entity.
/// The owner creates it with new, calls destroy() and then deletes it.
class AVATARSYSTEM_API AttachModel
{
public:
    AttachModel() = default;
    ~AttachModel();
    AttachModel(const AttachModel&) = delete;
    AttachModel& operator=(const AttachModel&) = delete;

    /// Creates the entity called name from meshFile and gives its sub-entities material copies of
    /// their own: one per material of the mesh, named material + name + this object's address
    /// (sub-entities that share a material share its copy; a missing material is copied from
    /// "c_body"). Returns false, and logs why, when there is no scene manager or the mesh cannot
    /// be loaded.
    bool create(std::string name, std::string meshFile);
    /// Hangs the entity on boneName of parent. False when parent or the entity is missing,
    /// the entity already hangs somewhere, or the parent has no such bone.
    bool attach(Ogre::Entity* parent, std::string boneName);
    /// Has no effect.
    void detach() {}
    /// Makes the effect and hangs it on the model's own "weapon_2" or "Shoulder_1" bone, shown.
    /// False when there is no entity, no skeleton, no such effect or no such bone; an effect
    /// that was made is kept (hidden) until destroy.
    bool createEffect(std::string effectName, bool isCopy);
    /// Shows or hides the effect made by createEffect; nothing without one.
    void setEffectVisible(bool visible);
    /// Releases the effect.
    void destroyEfeect();
    /// Opaque above 0.98, see-through otherwise; changes only this model's own material copies.
    void setInstanceTransoarency(float alpha);
    /// 0 trilinear; 1-4 anisotropic 2, 4, 8, 16; anything else anisotropic 2. Only this model's
    /// own material copies change.
    void setTextureFilter(int mode);
    /// Has no effect.
    void update(float) {}
    /// Releases effect, material copies and entity (taken off the parent's bone first).
    void destroy();

    /// The model's entity (owned by the model), or null before create and after destroy.
    Ogre::Entity* getEntity() { return m_entity; }
    /// The live effect, or null (none made, or freed by the effect library).
    Effect* getEffect();
    /// True while the model hangs on a bone of its parent.
    bool isAttached() const { return m_attached; }
    /// The bone of the parent the model hangs on; empty while it hangs nowhere.
    const std::string& getBoneName() const { return m_boneName; }
    /// The effect name given to the last createEffect that made an effect; empty without effect.
    const std::string& getEffectName() const { return m_effect.empty() ? s_noName : m_effectName; }
    /// The name of sub-entity 0's material copy; empty when it has none.
    std::string getMaterialCopyName() const;
    /// The names of every material copy made by create, in the order of the sub-entities.
    const std::vector<std::string>& getMaterialCopies() const { return m_materialCopies; }

private:
    void removeMaterialCopies();

    bool m_attached = false;
    Ogre::Entity* m_entity = nullptr;
    /// The effect by the name the effect library knows it by (empty: none).
    std::string m_effect;
    // Only these names are removed by destroy: without a source to copy, a sub-entity keeps a
    // material that belongs to others.
    std::vector<std::string> m_materialCopies;
    /// The same copies, each once, for the per-frame opacity and filtering.
    std::vector<Ogre::MaterialPtr> m_copies;
    std::string m_boneName;
    std::string m_effectName;
    static const std::string s_noName;
};
