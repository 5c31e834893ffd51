// Build-time tool: compiles a TopoJSON file of the boundary data into the binary form the
// map drawing reads (see draw/src/topology_file.cpp).
//   zembra_compile_topology IN.json OUT.ztopo
#include <iostream>
#include <zembra/draw/topojson.hpp>
#include <zembra/runtime.hpp>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: zembra_compile_topology IN.json OUT.ztopo\n";
        return 2;
    }
    try {
        zembra::draw::Topology::load(argv[1]).writeCompiled(argv[2]);
    } catch (const zembra::Error& e) {
        std::cerr << "zembra_compile_topology: " << e.description() << '\n';
        return 1;
    }
    return 0;
}
