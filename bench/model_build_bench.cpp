// Cost of the aircraft models: building one (a product-type switch) and one frame of
// its animations, against a windowless OGRE with the generated media.
#include <memory>
#include <string>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <Ogre.h>
#include <OgreDefaultHardwareBufferManager.h>

#include "common/ProductType.h"
#include "viewer/models/NerioModel.h"
#include "viewer/models/TavikModel.h"
#include "viewer/models/Vx7Model.h"

namespace {

Ogre::SceneManager* gScene = nullptr;

std::unique_ptr<QuvorModel> makeModel(int kind)
{
    if (kind == ProductNerio3)
        return std::make_unique<NerioModel>(gScene);
    if (kind == ProductVx7)
        return std::make_unique<Vx7Model>(gScene);
    return std::make_unique<TavikModel>(gScene);
}

void buildModel(QuvorModel& model)
{
    model.createScene("QuvorSimulator/Context/1/");
    model.createAnimations();
    model.setInitialPose();
}

void tearDown(QuvorModel& model)
{
    model.destroyAnimations();
    model.destroyScene();
}

// Scene, animations and starting pose, then the release: what a model change costs.
void BM_ModelRebuild(benchmark::State& state)
{
    auto model = makeModel(int(state.range(0)));
    for (auto _ : state) {
        buildModel(*model);
        tearDown(*model);
    }
}
BENCHMARK(BM_ModelRebuild)
    ->Arg(ProductTavik1)
    ->Arg(ProductNerio3)
    ->Arg(ProductVx7)
    ->ArgName("productType")
    ->Unit(benchmark::kMillisecond);

// One frame with the motors running: advance, the time-line checks, apply to the nodes.
void BM_ModelFrame(benchmark::State& state)
{
    auto model = makeModel(int(state.range(0)));
    buildModel(*model);
    model->startMotors();
    for (auto _ : state) {
        model->addTime(0.02f);
        model->checkLowering();
        model->checkRaising();
        gScene->_applySceneAnimations();
    }
    tearDown(*model);
}
BENCHMARK(BM_ModelFrame)
    ->Arg(ProductTavik1)
    ->Arg(ProductNerio3)
    ->Arg(ProductVx7)
    ->ArgName("productType")
    ->Unit(benchmark::kMicrosecond);

std::string mediaDir()
{
    char exe[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string dir = n > 0 ? std::string(exe, size_t(n)) : std::string("./x");
    dir.erase(dir.rfind('/'));
    return dir + "/../bin/media"; // build/bench -> build/bin/media
}

} // namespace

int main(int argc, char** argv)
{
    auto logs = std::make_unique<Ogre::LogManager>();
    logs->createLog("", true, false, true);
    auto root = std::make_unique<Ogre::Root>("", "", "");
    auto buffers = std::make_unique<Ogre::DefaultHardwareBufferManager>();
    auto textures = std::make_unique<Ogre::DefaultTextureManager>();
    Ogre::MaterialManager::getSingleton().initialise();
    Ogre::ResourceGroupManager::getSingleton().addResourceLocation(mediaDir(), "FileSystem", "General");
    Ogre::ResourceGroupManager::getSingleton().initialiseAllResourceGroups();
    gScene = root->createSceneManager();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    root->destroySceneManager(gScene);
    Ogre::MeshManager::getSingleton().removeAll();
    root->shutdown();
    textures.reset();
    buffers.reset();
    return 0;
}
