// The module loader: one load and one object per module name, whatever the number of callers
// and threads; failures give null; tests can stand in a factory of their own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "ModuleLoader.h"
#include "TestSupport.h"

namespace {

int Calls(void* pObject)
{
    return *static_cast<int*>(pObject);
}

TEST(ModuleLoaderTest, OneObjectPerModuleForEveryCall)
{
    void* pFirst = CreateModuleInstance(u"RvdFakeModule");
    ASSERT_NE(pFirst, nullptr);
    EXPECT_EQ(CreateModuleInstance(u"RvdFakeModule"), pFirst);
    EXPECT_EQ(CreateModuleInstance(u"RvdFakeModule"), pFirst);
    EXPECT_EQ(Calls(pFirst), 1);
}

TEST(ModuleLoaderTest, ThreadsAskingAtOnceShareOneObject)
{
    std::vector<std::thread> vecThreads;
    std::vector<void*> vecObjects(16, nullptr);
    std::atomic<bool> bGo{false};
    for (size_t i = 0; i < vecObjects.size(); ++i) {
        vecThreads.emplace_back([&, i] {
            while (!bGo)
                std::this_thread::yield();
            vecObjects[i] = CreateModuleInstance(u"RvdFakeModule");
        });
    }
    bGo = true;
    for (std::thread& thread : vecThreads)
        thread.join();
    ASSERT_NE(vecObjects[0], nullptr);
    for (void* pObject : vecObjects)
        EXPECT_EQ(pObject, vecObjects[0]);
    EXPECT_EQ(Calls(vecObjects[0]), 1);
}

TEST(ModuleLoaderTest, FailuresGiveNull)
{
    EXPECT_EQ(CreateModuleInstance(nullptr), nullptr);
    EXPECT_EQ(CreateModuleInstance(u""), nullptr);
    EXPECT_EQ(CreateModuleInstance(u"RvdNoSuchModule"), nullptr);
    // Loads, but has no factory: null every time it is asked.
    EXPECT_EQ(CreateModuleInstance(u"RvdNoFactoryModule"), nullptr);
    EXPECT_EQ(CreateModuleInstance(u"RvdNoFactoryModule"), nullptr);
    // Names are bare module names, never paths.
    EXPECT_EQ(CreateModuleInstance(u"../bin/RvdFakeModule"), nullptr);
}

TEST(ModuleLoaderTest, NamesAreCaseSensitive)
{
    EXPECT_EQ(CreateModuleInstance(u"rvdfakemodule"), nullptr);
    EXPECT_NE(CreateModuleInstance(u"RvdFakeModule"), nullptr);
}

TEST(ModuleLoaderTest, ModuleFolderFromTheEnvironment)
{
    // A module that lies only in another folder is found once RAVENDO_MODULE_DIR names it.
    rvdtest::CTempDir moduleDir;
    std::filesystem::copy_file(rvdtest::OutputDir() + "/libRvdFakeModule.so",
                               moduleDir.File("libRvdMovedModule.so"));
    EXPECT_EQ(CreateModuleInstance(u"RvdMovedModule"), nullptr);
    setenv("RAVENDO_MODULE_DIR", moduleDir.Path().c_str(), 1);
    void* pObject = CreateModuleInstance(u"RvdMovedModule");
    unsetenv("RAVENDO_MODULE_DIR");
    ASSERT_NE(pObject, nullptr);
    EXPECT_EQ(Calls(pObject), 1);
    EXPECT_EQ(CreateModuleInstance(u"RvdMovedModule"), pObject);
}

std::atomic<int> g_nFakeCalls{0};
int g_nFakeObject = 0;
void* CreateFakeEngine()
{
    ++g_nFakeCalls;
    return &g_nFakeObject;
}
int g_nOtherObject = 0;
void* CreateOtherEngine()
{
    return &g_nOtherObject;
}

TEST(ModuleLoaderTest, RegisteredFactoryStandsInForAModule)
{
    RegisterModuleFactory(u"Delvar", CreateFakeEngine);
    EXPECT_EQ(CreateModuleInstance(u"Delvar"), &g_nFakeObject);
    EXPECT_EQ(CreateModuleInstance(u"Delvar"), &g_nFakeObject);
    EXPECT_EQ(g_nFakeCalls, 1);

    RegisterModuleFactory(u"Delvar", CreateOtherEngine);
    EXPECT_EQ(CreateModuleInstance(u"Delvar"), &g_nOtherObject);

    // Removing the stand-in sends the name back to the disk, where no such module lies.
    setenv("RAVENDO_MODULE_DIR", rvdtest::CTempDir().Path().c_str(), 1);
    RegisterModuleFactory(u"Delvar", nullptr);
    EXPECT_EQ(CreateModuleInstance(u"Delvar"), nullptr);
    unsetenv("RAVENDO_MODULE_DIR");

    // A stand-in also replaces a module already loaded from disk.
    ASSERT_NE(CreateModuleInstance(u"RvdFakeModule"), nullptr);
    RegisterModuleFactory(u"RvdFakeModule", CreateOtherEngine);
    EXPECT_EQ(CreateModuleInstance(u"RvdFakeModule"), &g_nOtherObject);
    RegisterModuleFactory(nullptr, CreateOtherEngine);
}

} // namespace
