#include "platform/Module.h"

#include "TestDir.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace platform;

namespace {
using RegisterFn = int (*)();
}

TEST(Module, LoadsComponentsAndKeepsTheirSymbolsApart)
{
    CModule a;
    ASSERT_TRUE(a.Load(TEST_COMPONENT_A)) << a.LastError();
    CModule b;
    ASSERT_TRUE(b.Load(TEST_COMPONENT_B)) << b.LastError();
    auto registerA = a.Function<RegisterFn>("DllRegisterServer");
    auto registerB = b.Function<RegisterFn>("DllRegisterServer");
    ASSERT_NE(registerA, nullptr);
    ASSERT_NE(registerB, nullptr);
    EXPECT_EQ(registerA(), 1);
    EXPECT_EQ(registerB(), 2);
    EXPECT_EQ(a.Symbol("DllUnregisterServer"), nullptr);
    EXPECT_EQ(a.Symbol(nullptr), nullptr);

    // Moving hands the library over; the moved-from holder is empty.
    CModule moved(std::move(a));
    EXPECT_FALSE(a.IsLoaded());
    EXPECT_EQ(a.Symbol("DllRegisterServer"), nullptr);
    EXPECT_EQ(moved.Function<RegisterFn>("DllRegisterServer")(), 1);
    b = std::move(moved);
    EXPECT_EQ(b.Function<RegisterFn>("DllRegisterServer")(), 1);
    b.Free();
    EXPECT_FALSE(b.IsLoaded());
    EXPECT_EQ(b.Symbol("DllRegisterServer"), nullptr);
}

TEST(Module, FilesThatAreNoLibraryFailWithTheReason)
{
    TestDir dir("module");
    CModule m;
    EXPECT_FALSE(m.Load(dir.file("missing.ocx")));
    EXPECT_NE(m.LastError().find("missing.ocx"), std::string::npos) << m.LastError();
    std::ofstream(dir.file("text.ocx")) << "MZ not really a library";
    EXPECT_FALSE(m.Load(dir.file("text.ocx")));
    EXPECT_FALSE(m.LastError().empty());
    EXPECT_FALSE(m.Load(""));
    // A bare name is not looked up on the library path: libc is not loaded
    // from there.
    EXPECT_FALSE(m.Load("libc.so.6"));
    EXPECT_FALSE(m.IsLoaded());
    // A failed load after a good one leaves nothing loaded.
    ASSERT_TRUE(m.Load(TEST_COMPONENT_A));
    EXPECT_FALSE(m.Load(dir.file("missing.ocx")));
    EXPECT_FALSE(m.IsLoaded());
}
