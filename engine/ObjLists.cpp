#include "engine/ObjLists.h"

#include <cstdlib>
#include <cxxabi.h>

void RaiseListIndexError(int index)
{
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

void RaiseListError(const std::string& message)
{
    throw EListError(message);
}

std::string ClassNameOf(const std::type_info& type)
{
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> name(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}
