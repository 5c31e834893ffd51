// libFuzzer entry: any bytes are opened as a zip workbook and every sheet is read, under
// limits small enough that each input runs quickly. The reader may only fail with its own
// database error, and what it reads must keep to the limits.
#include <cstddef>
#include <cstdint>
#include <span>
#include <zembra/dataaccess.hpp>
#include <zembra/runtime.hpp>

#include "../workbook.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zembra::db::detail;
    WorkbookLimits limits;
    limits.maxPartBytes = 1 << 20;
    limits.maxSharedStrings = 10000;
    limits.maxTextBytes = 1 << 20;
    limits.maxColumns = 256;
    limits.maxRows = 4096;
    limits.maxCells = 100000;
    try {
        const auto workbook = openZipWorkbook(std::span<const uint8_t>(data, size), "fuzz", limits);
        for (size_t i = 0; i < workbook->sheetNames().size() && i < 8; ++i) {
            const SheetGrid grid = workbook->readSheet(i);
            if (grid.rows.size() > limits.maxRows) __builtin_trap();
            for (const auto& row : grid.rows) {
                if (row.size() > grid.columns || row.size() > limits.maxColumns) __builtin_trap();
                for (const auto& cell : row) {
                    if (!cell.isNull()) (void)cell.toString();
                }
            }
        }
    } catch (const zembra::Error& e) {
        if (e.number() != zembra::err::kDatabase) __builtin_trap();
    }
    return 0;
}
