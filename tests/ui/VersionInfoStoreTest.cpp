#include "ui/VersionInfoStore.h"

#include <gtest/gtest.h>

#include <string>

// This test program carries the same version resource as KZBDKA.exe (windows build only).
TEST(VersionInfoStore, ReadsTheProductVersion)
{
    VersionInfoStore store;
    EXPECT_EQ(std::string(store.GetVersion()), KZB_TEST_PRODUCT_VERSION);
}
