// A private unixODBC configuration for tests: ODBCSYSINI and ODBCINI point into a
// temporary folder, so the machine's own driver list is neither needed nor touched.
// unixODBC reads ODBCSYSINI once per process, so every instance in a process uses the
// same folder, emptied anew each time.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace zembra::client::testing {

class PrivateOdbc {
  public:
    PrivateOdbc()
        : dir_(std::filesystem::temp_directory_path() /
               ("zembra-odbc-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        std::ofstream(dir_ / "odbc.ini").flush();
        ::setenv("ODBCSYSINI", dir_.c_str(), 1);
        ::setenv("ODBCINI", (dir_ / "odbc.ini").c_str(), 1);
    }
    PrivateOdbc(const PrivateOdbc&) = delete;
    PrivateOdbc& operator=(const PrivateOdbc&) = delete;
    ~PrivateOdbc() {
        ::unsetenv("ODBCSYSINI");
        ::unsetenv("ODBCINI");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // Adds a driver section to the private odbcinst.ini.
    void addDriver(const std::string& name, const std::string& library) const {
        std::ofstream out(dir_ / "odbcinst.ini", std::ios::app);
        out << "[" << name << "]\nDriver = " << library << "\n\n";
    }

    const std::filesystem::path& dir() const { return dir_; }

  private:
    std::filesystem::path dir_;
};

}  // namespace zembra::client::testing
