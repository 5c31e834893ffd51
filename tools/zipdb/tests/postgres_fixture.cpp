// Starts and stops the PostgreSQL server that a test run shares:
//   zembra_test_postgres start <info-file>   creates and starts a cluster, describes it in the file
//   zembra_test_postgres stop <info-file>    stops the cluster the file describes, removes both
// ctest runs "start" before the first test that needs the server and "stop" after the last,
// also when tests fail or crash.
#include <filesystem>
#include <iostream>
#include <string>
#include <zembra/test/postgres_cluster.hpp>

int main(int argc, char** argv) {
    if (argc != 3 || (std::string(argv[1]) != "start" && std::string(argv[1]) != "stop")) {
        std::cerr << "usage: " << argv[0] << " start|stop <info-file>\n";
        return 2;
    }
    const std::filesystem::path info = argv[2];
    try {
        if (std::string(argv[1]) == "start") {
            // A cluster left by an interrupted run is stopped first.
            if (std::filesystem::exists(info)) {
                zembra::test::PostgresCluster::fromInfo(info).remove();
            }
            zembra::test::PostgresCluster cluster;
            cluster.writeInfo(info);
            cluster.detach();
            std::cout << "PostgreSQL test server on 127.0.0.1:" << cluster.port() << " in "
                      << cluster.directory().string() << '\n';
        } else if (std::filesystem::exists(info)) {
            zembra::test::PostgresCluster::fromInfo(info).remove();
            std::filesystem::remove(info);
        }
        return 0;
    } catch (const std::exception& e) {
        std::cerr << argv[0] << ": " << e.what() << '\n';
        return 1;
    }
}
