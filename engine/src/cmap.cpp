// CMap's state and property accessors.
#include "cmap.hpp"

namespace zembra::engine {

Error engineError(std::string description) {
    return Error(kEngineErrorNumber, kEngineSource, std::move(description));
}

CMap::CMap() { objectCreated(); }

CMap::~CMap() { objectDestroyed(); }

void CMap::setInputOverlayFile(std::string path) {
    // A new marker file is read at the next plot.
    inputOverlayFile_ = std::move(path);
    overlayImage_ = {};
    overlayWidth_ = 0;
    overlayHeight_ = 0;
}

namespace {
// The database texts store their default on every read that finds them empty, so
// assigning "" and reading again yields the default.
const std::string& withDefault(std::string& value, const char* fallback) {
    if (value.empty()) value = fallback;
    return value;
}
}  // namespace

const std::string& CMap::connectionString() { return withDefault(connectionString_, "zipcodes"); }
const std::string& CMap::zipTable() { return withDefault(zipTable_, "zips"); }
const std::string& CMap::zipField() { return withDefault(zipField_, "zipcode"); }
const std::string& CMap::latField() { return withDefault(latField_, "latitude"); }
const std::string& CMap::lonField() { return withDefault(lonField_, "Longitude"); }

}  // namespace zembra::engine
