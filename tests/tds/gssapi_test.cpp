#include "thrown.h"

#include "tds/gssapi.h"

#include <gtest/gtest.h>

using namespace rz::tds;

TEST(Gssapi, MissingLibraryIsAClearAuthenticationError)
{
    const auto t = tdstest::thrownBy(
        [] { makeKerberosContext("MSSQLSvc/127.0.0.1:1433", "libgssapi_krb5_not_here.so.2"); });
    EXPECT_EQ(t.kind, ErrorKind::Authentication);
    EXPECT_NE(t.what.find("Integrated security needs the GSSAPI library libgssapi_krb5_not_here.so.2"),
              std::string::npos)
        << t.what;
    EXPECT_NE(t.what.find("not installed"), std::string::npos) << t.what;
}
