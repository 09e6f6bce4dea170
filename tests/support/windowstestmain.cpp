// main() of the unit test programs on Windows: COM's multithreaded apartment
// for the whole process, as the plug-in enters it, before any test registers
// a class.

#include "platform/sdk/oledb.h"

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
