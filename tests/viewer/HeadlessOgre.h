#pragma once
// OGRE without a window: a root without plugins, software buffers, null textures and the generated
// media of build/bin/media in the "General" group. Including this header sets it up once
// for the whole test program.
#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include <Ogre.h>
#include <OgreDefaultHardwareBufferManager.h>

class HeadlessOgre : public ::testing::Environment {
public:
    static std::string mediaDir()
    {
        const char* bin = std::getenv("QUVOR_BIN_DIR");
        return std::string(bin ? bin : "bin") + "/media";
    }

    void SetUp() override
    {
        mLogs = std::make_unique<Ogre::LogManager>();
        mLogs->createLog("headless-ogre.log", true, false, false);
        mRoot = std::make_unique<Ogre::Root>("", "", "");
        mBuffers = std::make_unique<Ogre::DefaultHardwareBufferManager>();
        mTextures = std::make_unique<Ogre::DefaultTextureManager>(); // scripts name textures
        Ogre::MaterialManager::getSingleton().initialise();
        Ogre::ResourceGroupManager::getSingleton().addResourceLocation(mediaDir(), "FileSystem", "General");
        Ogre::ResourceGroupManager::getSingleton().initialiseAllResourceGroups();
    }

    void TearDown() override
    {
        Ogre::MeshManager::getSingleton().removeAll();
        mRoot->shutdown();
        mTextures.reset();
        mBuffers.reset();
        mRoot.reset();
        mLogs.reset();
    }

private:
    std::unique_ptr<Ogre::LogManager> mLogs;
    std::unique_ptr<Ogre::Root> mRoot;
    std::unique_ptr<Ogre::DefaultHardwareBufferManager> mBuffers;
    std::unique_ptr<Ogre::DefaultTextureManager> mTextures;
};

// A fresh generic scene manager per test.
class SceneTest : public ::testing::Test {
protected:
    void SetUp() override { mScene = Ogre::Root::getSingleton().createSceneManager(); }
    void TearDown() override { Ogre::Root::getSingleton().destroySceneManager(mScene); }

    Ogre::SceneNode* node(const std::string& name) { return mScene->getSceneNode(name); }

    Ogre::SceneManager* mScene = nullptr;
};

inline ::testing::Environment* const gHeadlessOgre = ::testing::AddGlobalTestEnvironment(new HeadlessOgre);
