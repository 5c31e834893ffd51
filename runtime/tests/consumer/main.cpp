// Prints the registry the installed runtime uses, then creates objects by identifier.
#include <iostream>
#include <zembra/component.hpp>
#include <zembra/runtime.hpp>

int main() {
    std::cout << "registry=" << zembra::registryDirectory().string() << "\n";
    try {
        zembra::createObject("Zembra.NoSuchClass");
        std::cerr << "an unknown identifier was created\n";
        return 1;
    } catch (const zembra::Error& e) {
        if (e.number() != zembra::err::kCantCreateObject) {
            std::cerr << "unexpected error " << e.number() << ": " << e.description() << "\n";
            return 1;
        }
        std::cout << "unknown=" << e.number() << "\n";
    }
#ifdef EXPECT_ENGINE
    try {
        zembra::Object map = zembra::createObject("Zembra.CMap");
        std::cout << "MinLat=" << map.get("MinLat").toString() << "\n";
    } catch (const zembra::Error& e) {
        std::cerr << "[" << e.number() << "] " << e.description() << "\n";
        return 1;
    }
#endif
    return 0;
}
