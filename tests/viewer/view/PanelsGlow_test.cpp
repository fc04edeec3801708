#include "viewer/view/Panels.h"

#include "tests/viewer/HeadlessOgre.h"

#include <OgreLogManager.h>
#include <OgreMaterial.h>
#include <OgrePass.h>
#include <OgreRoot.h>
#include <OgreTechnique.h>

#include <gtest/gtest.h>

namespace {

TEST(GlowMaterialListener, OnlyTheGlowSchemeFallsBackToBlack)
{
    GlowMaterialListener listener;
    Ogre::MaterialPtr some = Ogre::MaterialManager::getSingleton().create("Some", "General");
    Ogre::Technique* glow = listener.handleSchemeNotFound(1, "glow", some.get(), 0, nullptr);
    ASSERT_NE(glow, nullptr);
    EXPECT_EQ(glow->getParent()->getName(), "mGlowBlack");
    EXPECT_EQ(glow->getParent()->getGroup(), "Internal");
    const Ogre::Pass* pass = glow->getPass(0);
    EXPECT_EQ(pass->getDiffuse(), Ogre::ColourValue(0, 0, 0, 0));
    EXPECT_EQ(pass->getSpecular(), Ogre::ColourValue(0, 0, 0, 0));
    EXPECT_EQ(pass->getSelfIllumination(), Ogre::ColourValue(0, 0, 0));

    EXPECT_EQ(listener.handleSchemeNotFound(2, "Glow", some.get(), 0, nullptr), nullptr);
    EXPECT_EQ(listener.handleSchemeNotFound(3, "ShadowScheme", some.get(), 0, nullptr), nullptr);
}

} // namespace
