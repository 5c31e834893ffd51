// Codes without an area of their own: the post-office town positions of the table
// zip_towns, read through the same connection string the engine reads its zips with.
#pragma once

#include <optional>
#include <string>
#include <vector>
#include <zembra/render/render.hpp>

namespace zembra::render::towns {

struct TownPosition {
    std::string zip;
    LatLon position;
};

// The positions zip_towns holds for `codes` (in their order; codes it lacks are left out).
// Nothing when the database has no zip_towns table. Connection and read failures raise
// zembra::Error unchanged.
std::optional<std::vector<TownPosition>> lookUp(const std::string& connection,
                                                const std::vector<std::string>& codes);

// The zip table's position of each code (nothing for a code without a row or with a
// coordinate that is not a number), with the engine's table and column names.
struct ZipColumns {
    std::string table;
    std::string zip;
    std::string lat;
    std::string lon;
};
std::vector<std::optional<LatLon>> positions(const std::string& connection,
                                             const ZipColumns& columns,
                                             const std::vector<std::string>& codes);

// The zip table's state of each code, in their order: empty for a code without a row, and
// for all of them when the table has no state column.
std::vector<std::string> states(const std::string& connection, const ZipColumns& columns,
                                const std::vector<std::string>& codes);

// City and state of a code in `table` (empty texts when the row or the columns are missing).
std::pair<std::string, std::string> cityAndState(const std::string& connection,
                                                 const std::string& table,
                                                 const std::string& zipField,
                                                 const std::string& zip);

}  // namespace zembra::render::towns
