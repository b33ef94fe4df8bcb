#include "platform/com/client_site.h"

#include <gtest/gtest.h>

#include "platform/com/test_objects.h"

namespace com {
namespace {

using testing::ContainerSite;

TEST(AmbientUserMode, DesignModeOnlyWhenTheContainerSaysSo) {
    ContainerSite site;
    EXPECT_TRUE(ambientUserMode(&site));
    site.ambient = 0;
    EXPECT_FALSE(ambientUserMode(&site));
    site.knowsUserMode = false;
    EXPECT_TRUE(ambientUserMode(&site));
    site.ambient = -1;
    EXPECT_TRUE(ambientUserMode(&site));
    EXPECT_TRUE(ambientUserMode(nullptr));
    Variant value;
    EXPECT_EQ(getAmbientProperty(&site, DISPID_AMBIENT_USERMODE, &value), E_NOINTERFACE);
}

}  // namespace
}  // namespace com
