// Names for code addresses, for the crash report's stack trace: the symbol
// lookup of the dynamic loader plus C++ demangling.
#pragma once

#include <string>

// The function containing `address`, demangled and without its parameter
// list ("Worker::threadBody"), or an empty string when it cannot be found.
// Only exported symbols are found: executables are linked with their symbols
// exported for this.
std::string symbolNameAt(const void* address);

// Short name (file name without directories) of the module containing
// `address` ("libc.so.6"), or an empty string when unknown.
std::string moduleNameAt(const void* address);

// "ns::Foo<int>::bar(int, char) const" -> "ns::Foo<int>::bar"
std::string withoutParameterList(const std::string& demangledName);
