// The positions of codes for the thematic styles, read by the render library itself from the
// engine's zip-code table (and, for codes without an area, from zip_towns), together with
// each code's state. The plain marker render keeps handing its codes to the engine; a map
// fitted to codes reads their positions here too (positions.hpp).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>
#include <zembra/render/codes.hpp>
#include <zembra/render/render.hpp>
#include <zembra/render/rows.hpp>

namespace zembra::render {

struct Located {
    size_t index = 0;  // position of the code in the list asked for
    LatLon position;
    std::string state;  // the row's state column; empty when the table has none
    bool atTown = false;
    std::optional<Rewrite> rewrite;  // found once rewritten as people write codes
};

struct Locations {
    std::vector<Located> placed;        // in the order asked
    std::vector<std::string> notFound;  // in the order asked
    size_t atTown() const noexcept;
};

// Looks each code up in the zip table the engine reads (its ConnectionString, ZipTable,
// ZipField, LatField and LonField; `connection` overrides the first when not empty), then the
// codes it lacks in zip_towns when `towns` is set and the database has that table. Unless
// `exact`, a code not found as written is looked up again as rewrittenCode reads it (by the
// first five digits of a ZIP+4, with dropped leading zeros restored) before its town. The
// tables are read once each, whatever the number of codes; a table's first row of a code
// wins, as in the engine. A code holding a control character is not found. Raises 94, 13
// or 6 with the code for a Null, non-numeric or out-of-range coordinate of a code asked
// for; connection and query failures propagate unchanged.
Locations locate(const std::vector<std::string>& codes, const std::string& connection,
                 bool towns = true, bool exact = false);

// An entry of a row table with the position of its code.
struct PlacedEntry {
    size_t entry = 0;  // index into RowTable::entries()
    LatLon position;
    std::string state;
};

// The entries of `table` whose codes `locations` placed, in the table's order;
// `locations` is locate() of table.codes().
std::vector<PlacedEntry> placeEntries(const RowTable& table, const Locations& locations);

}  // namespace zembra::render
