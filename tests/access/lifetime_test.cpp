// Destroying the access object releases the hardware access library once;
// the driver's teardown of g_pBlock runs on the full classes.
#include "vbios_fixture.h"

#include "driver/console.h"
#include "driver/globals.h"
#include "wmi/wmi_generic.h"

namespace
{

bool VbiosLoaded()
{
    return GetModuleHandleA("ardvbios.dll") != nullptr;
}

} // namespace

TEST(AccessObjectLifetime, DestructorFreesTheLibraryExactlyOnce)
{
    ASSERT_FALSE(VbiosLoaded());
    HMODULE hFirst = LoadLibraryA(VbiosPath().c_str());
    ASSERT_NE(nullptr, hFirst);
    {
        EDABBlock block;
        block.hAccessLib = LoadLibraryA(VbiosPath().c_str());
    }
    EXPECT_TRUE(VbiosLoaded()) << "one reference was the object's";
    FreeLibrary(hFirst);
    EXPECT_FALSE(VbiosLoaded()) << "and only one";

    {
        EDABBlock block; // no library: nothing to release
    }
}

TEST(AccessObjectLifetime, ExitTeardownDestroysTheGlobalObject)
{
    ASSERT_FALSE(VbiosLoaded());
    g_pBlock = new WMIGeneric;
    g_pBlock->hAccessLib = LoadLibraryA(VbiosPath().c_str());
    ASSERT_TRUE(VbiosLoaded());
    ReleaseRunResources();
    EXPECT_EQ(nullptr, g_pBlock);
    EXPECT_FALSE(VbiosLoaded());
}
