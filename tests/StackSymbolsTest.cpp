#include "core/StackSymbols.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

// Exported from the test program, so the loader can name it.
__attribute__((noinline)) int stackSymbolsProbe(int n, const char* s)
{
    volatile int sum = 0;
    for (int i = 0; i < n; ++i)
        sum = sum + s[i];
    return sum;
}

TEST(StackSymbols, ParameterListsAreCutOff)
{
    EXPECT_EQ(withoutParameterList("foo(int)"), "foo");
    EXPECT_EQ(withoutParameterList("foo()"), "foo");
    EXPECT_EQ(withoutParameterList("ns::Bar<int>::baz(std::vector<int, std::allocator<int> > const&) const"),
              "ns::Bar<int>::baz");
    EXPECT_EQ(withoutParameterList("Foo::operator()(int) const"), "Foo::operator()");
    EXPECT_EQ(withoutParameterList("void (*f(int))(double)"), "void (*f(int))");
    EXPECT_EQ(withoutParameterList("Foo::bar() &&"), "Foo::bar");
    EXPECT_EQ(withoutParameterList("plain_c_name"), "plain_c_name");
    EXPECT_EQ(withoutParameterList("(unbalanced"), "(unbalanced");
    EXPECT_EQ(withoutParameterList(""), "");
}

TEST(StackSymbols, NamesFunctionsAndModules)
{
    const auto address = reinterpret_cast<const char*>(&stackSymbolsProbe);
    EXPECT_EQ(symbolNameAt(address), "stackSymbolsProbe");
    EXPECT_EQ(symbolNameAt(address + 1), "stackSymbolsProbe") << "an address inside the function";
    EXPECT_EQ(moduleNameAt(address), "tavirel_tests");

    EXPECT_NE(symbolNameAt(reinterpret_cast<const void*>(&getpid)).find("getpid"), std::string::npos);
    EXPECT_NE(moduleNameAt(reinterpret_cast<const void*>(&getpid)).find("libc.so"), std::string::npos);

    EXPECT_EQ(symbolNameAt(nullptr), "");
    EXPECT_EQ(moduleNameAt(nullptr), "");
    EXPECT_EQ(symbolNameAt(reinterpret_cast<const char*>(0x10)), "");
}
