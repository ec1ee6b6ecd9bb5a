#include "SharedModule.h"

#include "ScopedEnv.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string ProgramFolderForTest()
{
    char szExe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", szExe, sizeof(szExe) - 1);
    if (n <= 0)
        return std::string();
    const std::string strExe(szExe, static_cast<size_t>(n));
    return strExe.substr(0, strExe.rfind('/') + 1);
}

std::string OutputFolder()
{
    return rvdtest::OutputDir() + "/";
}

bool IsLoaded(const std::string& strPath)
{
    void* h = dlopen(strPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h == nullptr)
        return false;
    dlclose(h);
    return true;
}

} // namespace

TEST(SharedModuleFolders, EnvironmentFolderAloneWhenSet)
{
    rvdtest::CScopedEnv dir("RAVENDO_MODULE_DIR", "/some/where");
    EXPECT_EQ(std::vector<std::string>{"/some/where/"},
              rvdplat::ModuleSearchFolders(reinterpret_cast<const void*>(&ProgramFolderForTest)));
    // Empty counts as not set.
    rvdtest::CScopedEnv empty("RAVENDO_MODULE_DIR", "");
    EXPECT_EQ(std::vector<std::string>{ProgramFolderForTest()}, rvdplat::ModuleSearchFolders(nullptr));
}

TEST(SharedModuleFolders, OwnFolderThenProgramFolder)
{
    rvdtest::CScopedEnv dir("RAVENDO_MODULE_DIR", nullptr);
    const std::string strProgram = ProgramFolderForTest();
    ASSERT_FALSE(strProgram.empty());

    // Code of the program itself: its folder once.
    EXPECT_EQ(std::vector<std::string>{strProgram},
              rvdplat::ModuleSearchFolders(reinterpret_cast<const void*>(&ProgramFolderForTest)));
    // No anchor: the program's folder alone.
    EXPECT_EQ(std::vector<std::string>{strProgram}, rvdplat::ModuleSearchFolders(nullptr));

    // Code of a library in another folder (the C library): that folder first.
    void* hLibc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, hLibc);
    const void* pInLibc = dlsym(hLibc, "getpid");
    ASSERT_NE(nullptr, pInLibc);
    const std::vector<std::string> folders = rvdplat::ModuleSearchFolders(pInLibc);
    dlclose(hLibc);
    ASSERT_EQ(2u, folders.size());
    EXPECT_NE(strProgram, folders[0]);
    EXPECT_EQ('/', folders[0].back());
    EXPECT_EQ(0, access((folders[0] + "libc.so.6").c_str(), F_OK)) << folders[0];
    EXPECT_EQ(strProgram, folders[1]);
}

TEST(SharedModuleOpen, MissingOrBrokenModuleListsEveryFolderTried)
{
    rvdtest::CTempDir empty, broken;
    std::ofstream(broken.File("libRvdBroken.so")) << "not an object file";

    std::string strError;
    EXPECT_EQ(nullptr, rvdplat::OpenSharedModule("RvdNowhere", {empty.Path() + "/", OutputFolder()}, &strError));
    EXPECT_EQ(empty.File("libRvdNowhere.so") + " does not exist; " + OutputFolder() + "libRvdNowhere.so does not exist",
              strError);

    strError.clear();
    EXPECT_EQ(nullptr, rvdplat::OpenSharedModule("RvdBroken", {empty.Path() + "/", broken.Path() + "/"}, &strError));
    EXPECT_EQ(0u, strError.find(empty.File("libRvdBroken.so") + " does not exist; ")) << strError;
    EXPECT_NE(std::string::npos, strError.find(broken.File("libRvdBroken.so"), 1)) << strError;

    strError.clear();
    EXPECT_EQ(nullptr, rvdplat::OpenSharedModule("RvdNowhere", {}, &strError));
    EXPECT_EQ("no module folder is known", strError);
}

TEST(SharedModuleOpen, FirstFolderHoldingTheModuleWinsAndItsSymbolIsFound)
{
    rvdtest::CTempDir empty;
    std::string strError;
    void* pfnCreate = nullptr;
    void* hModule = rvdplat::OpenSharedModuleWithSymbol("RvdPlatformFactoryModule", {empty.Path() + "/", OutputFolder()},
                                                        "CreateInstance", &pfnCreate, &strError);
    ASSERT_NE(nullptr, hModule) << strError;
    ASSERT_NE(nullptr, pfnCreate);
    EXPECT_EQ(pfnCreate, rvdplat::FindModuleSymbol(hModule, "CreateInstance"));
    EXPECT_EQ(nullptr, rvdplat::FindModuleSymbol(hModule, "NotAFactory"));
    EXPECT_NE(nullptr, reinterpret_cast<void* (*)()>(pfnCreate)());
    rvdplat::CloseSharedModule(hModule);
    EXPECT_FALSE(IsLoaded(OutputFolder() + "libRvdPlatformFactoryModule.so"));
}

TEST(SharedModuleOpen, ModuleWithoutTheSymbolIsClosedAgain)
{
    const std::string strPath = OutputFolder() + "libRvdPlatformNoFactoryModule.so";
    ASSERT_FALSE(IsLoaded(strPath));
    std::string strError;
    void* pfnCreate = nullptr;
    EXPECT_EQ(nullptr, rvdplat::OpenSharedModuleWithSymbol("RvdPlatformNoFactoryModule", {OutputFolder()},
                                                           "CreateInstance", &pfnCreate, &strError));
    EXPECT_EQ(nullptr, pfnCreate);
    EXPECT_EQ(strPath + " has no CreateInstance", strError);
    EXPECT_FALSE(IsLoaded(strPath));
}
