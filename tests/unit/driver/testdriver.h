#pragma once
// The driver with its connection attempt reachable from tests.

#include "driver/datasource.h"
#include "driver/rezuvedovdriver.h"

namespace rztest {

class TestDriver : public REzuVEDOVDriver
{
public:
    using REzuVEDOVDriver::realConnect;
};

} // namespace rztest
