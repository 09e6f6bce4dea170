#include "tds/error.h"
#include "tds/gssapi.h"

#include <gtest/gtest.h>

using namespace rz::tds;

TEST(Gssapi, MissingLibraryIsAClearAuthenticationError)
{
    try {
        makeKerberosContext("MSSQLSvc/127.0.0.1:1433", "libgssapi_krb5_not_here.so.2");
        FAIL() << "a context without its library";
    } catch (const TdsError &e) {
        EXPECT_EQ(e.kind(), ErrorKind::Authentication);
        EXPECT_NE(std::string(e.what()).find("Integrated security needs the GSSAPI library "
                                             "libgssapi_krb5_not_here.so.2"),
                  std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find("not installed"), std::string::npos) << e.what();
    }
}
