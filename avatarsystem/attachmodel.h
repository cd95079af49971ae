#pragma once

#include <OgrePrerequisites.h>

#include <string>

class Effect;

/// One item mesh hung on a bone of an avatar, with at most one effect.
/// Owns its entity, the material copy of its first sub-entity and its effect; never the parent entity.
/// The owner creates it with new, calls destroy() and then deletes it.
class AttachModel
{
public:
    AttachModel() = default;

    /// Creates the entity called name from meshFile and gives sub-entity 0 its own material copy.
    /// Returns false, and logs why, when there is no scene manager or the mesh cannot be loaded.
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
    void setEffectVisible(bool visible);
    /// Releases the effect.
    void destroyEfeect();
    /// Opaque above 0.98, see-through otherwise.
    void setInstanceTransoarency(float alpha);
    /// 0 trilinear; 1-4 anisotropic 2, 4, 8, 16; anything else anisotropic 2.
    void setTextureFilter(int mode);
    /// Has no effect.
    void update(float) {}
    /// Releases effect, material copy and entity (taken off the parent's bone first).
    void destroy();

    Ogre::Entity* getEntity() { return m_entity; }
    Effect* getEffect() { return m_effect; }
    bool isAttached() const { return m_attached; }
    /// The name of the material copy made by create; empty when none was made.
    const std::string& getMaterialCopyName() const { return m_materialCopy; }

private:
    bool m_attached = false;
    Ogre::Entity* m_entity = nullptr;
    Effect* m_effect = nullptr;
    // Only this name is removed by destroy: without a source to copy, sub-entity 0 keeps a
    // material that belongs to others.
    std::string m_materialCopy;
};
