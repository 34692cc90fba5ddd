#include "core/StackSymbols.h"

#include <cstdlib>
#include <cxxabi.h>
#include <dlfcn.h>

std::string withoutParameterList(const std::string& name)
{
    std::string s = name;
    // Trailing qualifiers of member functions.
    for (bool trimmed = true; trimmed;) {
        trimmed = false;
        for (const char* q : {" const", " volatile", " &&", " &", "&&", "&"}) {
            const std::string suffix(q);
            if (s.size() > suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0) {
                s.erase(s.size() - suffix.size());
                trimmed = true;
            }
        }
    }
    if (s.empty() || s.back() != ')')
        return name;
    // Walk back to the parenthesis that opens the parameter list.
    int depth = 0;
    for (size_t i = s.size(); i-- > 0;) {
        if (s[i] == ')')
            ++depth;
        else if (s[i] == '(' && --depth == 0)
            return i > 0 ? s.substr(0, i) : name;
    }
    return name;
}

std::string symbolNameAt(const void* address)
{
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_sname == nullptr)
        return {};
    int status = 0;
    char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
    if (status != 0 || demangled == nullptr)
        return info.dli_sname;  // a C name
    std::string result = withoutParameterList(demangled);
    std::free(demangled);
    return result;
}

std::string moduleNameAt(const void* address)
{
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0')
        return {};
    const std::string path(info.dli_fname);
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
