// Property sets as a provider receives them: string values the set owns, and
// a set that refuses to outgrow 32 bits. Integer entries are the rowset
// properties the result's tests read off the command.

#include "oledb/oledbpropertyset.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PropertySet, StringPropertiesHoldTheirOwnCopies)
{
    OLEDBPropertySet set(DBPROPSET_DBINIT);
    std::u16string host = u"10.0.0.1";
    ASSERT_TRUE(addStringProperty(set, DBPROP_INIT_DATASOURCE, reinterpret_cast<const OLECHAR *>(host.c_str())));
    ASSERT_TRUE(addStringProperty(set, DBPROP_INIT_CATALOG, reinterpret_cast<const OLECHAR *>(u"")));
    host[0] = u'9';
    ASSERT_EQ(set.cProperties, 2u);
    EXPECT_EQ(set.rgProperties[0].dwPropertyID, DBPROPID(DBPROP_INIT_DATASOURCE));
    EXPECT_EQ(set.rgProperties[0].vValue.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(set.rgProperties[0].vValue.bstrVal)), u"10.0.0.1");
    // An empty text is still sent, as an empty string rather than a missing one.
    ASSERT_NE(set.rgProperties[1].vValue.bstrVal, nullptr);
    EXPECT_EQ(SysStringLen(set.rgProperties[1].vValue.bstrVal), 0u);

    EXPECT_FALSE(addStringProperty(set, DBPROP_AUTH_USERID, nullptr));
    EXPECT_EQ(set.cProperties, 2u);
}

TEST(PropertySet, RefusesToGrowPastThirtyTwoBits)
{
    OLEDBPropertySet set(DBPROPSET_DBINIT);
    ASSERT_TRUE(addStringProperty(set, DBPROP_INIT_CATALOG, reinterpret_cast<const OLECHAR *>(u"db")));
    DBPROP *const array = set.rgProperties;
    const ULONG filled = set.cProperties;

    set.cProperties = 0xFFFFFFFFu;
    EXPECT_FALSE(addProperty(set, DBPROPOPTIONS_REQUIRED));
    EXPECT_EQ(set.rgProperties, array);
    // One more entry would need more than 4 GB of array.
    set.cProperties = ULONG(0xFFFFFFFFull / sizeof(DBPROP));
    EXPECT_FALSE(addProperty(set, DBPROPOPTIONS_REQUIRED));
    EXPECT_EQ(set.rgProperties, array);

    set.cProperties = filled;
}

} // namespace
