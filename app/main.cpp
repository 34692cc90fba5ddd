// Program entry point.
#include "core/CpuInfo.h"

#include <iostream>

int main()
{
    printStartupBanner(std::cout, cpuInfo());
    return 0;
}
