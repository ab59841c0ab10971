// Destroying the access object releases the hardware access library once;
// the driver's teardown of g_pBlock runs on the full classes. Owners' code
// calls the three operations by their slots in the table of virtual functions.
#include "vbios_fixture.h"

#include "driver/console.h"
#include "driver/globals.h"
#include "wmi/wmi_generic.h"

#include <cstdint>
#include <cstring>

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

// ReadBlock, WriteBlock, OemData from the first slot on (no virtual destructor
// before them), for both classes. Under the compilers' C++ ABI a pointer to a
// virtual member function holds 1 + the byte offset of its slot.
template <typename Pmf> long VirtualSlot(Pmf pmf)
{
    struct
    {
        intptr_t ptr;
        ptrdiff_t adj;
    } raw;
    static_assert(sizeof(pmf) == sizeof(raw), "pointer to member function");
    memcpy(&raw, &pmf, sizeof(raw));
    EXPECT_EQ(0, raw.adj);
    EXPECT_EQ(1, raw.ptr & 1) << "not virtual";
    return static_cast<long>((raw.ptr - 1) / static_cast<intptr_t>(sizeof(void*)));
}

TEST(AccessObjectContract, VirtualOperationsKeepTheirSlots)
{
    EXPECT_EQ(0, VirtualSlot(&EDABBlock::ReadBlock));
    EXPECT_EQ(1, VirtualSlot(&EDABBlock::WriteBlock));
    EXPECT_EQ(2, VirtualSlot(&EDABBlock::OemData));
    EXPECT_EQ(0, VirtualSlot(&WMIGeneric::ReadBlock));
    EXPECT_EQ(1, VirtualSlot(&WMIGeneric::WriteBlock));
    EXPECT_EQ(2, VirtualSlot(&WMIGeneric::OemData));
}
