// The control registry for builds without framework/: the same map the framework keeps.
#include "framework/activex.h"

namespace framework {
namespace {
std::map<std::string, ActiveXFactory>& registry() {
    static std::map<std::string, ActiveXFactory> classes;
    return classes;
}
}  // namespace

void registerActiveXClass(const std::string& className, ActiveXFactory factory) {
    registry()[className] = std::move(factory);
}
void unregisterActiveXClass(const std::string& className) { registry().erase(className); }
const ActiveXFactory* findActiveXClass(const std::string& className) {
    auto it = registry().find(className);
    return it == registry().end() || !it->second ? nullptr : &it->second;
}
}  // namespace framework
