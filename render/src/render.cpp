#include <algorithm>
#include <array>
#include <cctype>
#include <functional>
#include <tuple>
#include <zembra/render/codes.hpp>
#include <zembra/render/render.hpp>
#include <zembra/runtime.hpp>
#include <zembra/text.hpp>

#include "engine_members.hpp"
#include "towns.hpp"

namespace zembra::render {

namespace {

// A new engine object with the map, the marker, the bounds and the connection assigned.
Object createEngine(const std::filesystem::path& map, const std::filesystem::path& marker,
                    const Bounds& bounds, const std::string& connection) {
    Object object = createObject(engine::kProgId);
    object.put(engine::kInputMapFile, Variant(map.string()));
    if (!marker.empty()) object.put(engine::kInputOverlayFile, Variant(marker.string()));
    object.put(engine::kMinLat, Variant(bounds.minLat));
    object.put(engine::kMaxLat, Variant(bounds.maxLat));
    object.put(engine::kMinLon, Variant(bounds.minLon));
    object.put(engine::kMaxLon, Variant(bounds.maxLon));
    if (!connection.empty()) object.put(engine::kConnectionString, Variant(connection));
    return object;
}

Object createEngine(const RenderRequest& request) {
    return createEngine(request.map, request.marker, request.bounds, request.connection);
}

Variant textArray(const std::vector<std::string>& codes) {
    std::vector<Variant> elements;
    elements.reserve(codes.size());
    for (const auto& code : codes) elements.emplace_back(code);
    return Variant(std::move(elements));
}

// The codes of one MapZips call that the table does not hold, in the order sent.
std::vector<std::string> mapZips(Object& object, const std::vector<std::string>& codes) {
    std::vector<Variant> args{textArray(codes)};
    object.call(engine::kMapZips, args);
    std::vector<std::string> unmatched;
    const Variant missing = object.get(engine::kUnmatchedZips);
    for (const Variant& code : missing.elements()) {
        unmatched.push_back(code.toString());
    }
    return unmatched;
}

// The errors a zip row with a Null, non-numeric or out-of-range coordinate raises.
bool isCoordinateError(const Error& e) {
    return e.number() == err::kInvalidUseOfNull || e.number() == err::kTypeMismatch ||
           e.number() == err::kOverflow;
}

bool raisesSame(Object& object, const std::vector<std::string>& codes, int32_t number) {
    try {
        std::vector<Variant> args{textArray(codes)};
        object.call(engine::kMapZips, args);
        return false;
    } catch (const Error& e) {
        return e.number() == number;
    }
}

// Finds the code of `codes` whose row raises `number`, by halving the list on a fresh,
// identically set engine object (nothing of it is kept). Empty when no single half
// raises it again.
std::optional<std::string> findFailingCode(const RenderRequest& request,
                                           std::vector<std::string> codes, int32_t number) {
    Object probe = createEngine(request);
    while (codes.size() > 1) {
        const auto middle = codes.begin() + static_cast<std::ptrdiff_t>(codes.size() / 2);
        std::vector<std::string> first(codes.begin(), middle);
        std::vector<std::string> second(middle, codes.end());
        if (raisesSame(probe, first, number)) {
            codes = std::move(first);
        } else if (raisesSame(probe, second, number)) {
            codes = std::move(second);
        } else {
            return std::nullopt;
        }
    }
    if (codes.size() == 1 && raisesSame(probe, codes, number)) return codes.front();
    return std::nullopt;
}

void checkCancel(const RenderRequest& request) {
    if (request.cancel != nullptr && request.cancel->load()) throw Cancelled();
}

void reportProgress(const RenderRequest& request, size_t done, size_t total) {
    if (request.progress) request.progress(Progress{done, total});
}

// Plots latitude/longitude pairs with MapCoordinates, `chunkSize` per call.
void mapCoordinates(Object& object, const std::vector<LatLon>& points, size_t chunkSize,
                    const std::function<void(size_t)>& afterChunk = {}) {
    for (size_t start = 0; start < points.size(); start += chunkSize) {
        const size_t end = std::min(points.size(), start + chunkSize);
        std::vector<Variant> lats;
        std::vector<Variant> lons;
        lats.reserve(end - start);
        lons.reserve(end - start);
        for (size_t i = start; i < end; ++i) {
            lats.emplace_back(points[i].lat);
            lons.emplace_back(points[i].lon);
        }
        std::vector<Variant> args{Variant(std::move(lats)), Variant(std::move(lons))};
        object.call(engine::kMapCoordinates, args);
        if (afterChunk) afterChunk(end);
    }
}

bool isC0OrDel(unsigned char c) noexcept { return c < 0x20 || c == 0x7F; }

// A C1 control (U+0080..U+009F) written in UTF-8 starts at `i`.
bool isUtf8C1At(std::string_view text, size_t i) noexcept {
    return i + 1 < text.size() && static_cast<unsigned char>(text[i]) == 0xC2 &&
           static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
           static_cast<unsigned char>(text[i + 1]) <= 0x9F;
}

}  // namespace

std::string_view formatName(OutputFormat format) noexcept {
    return imaging::formatInfo(format).name;
}

std::optional<OutputFormat> formatForExtension(std::string_view extension) {
    if (const imaging::FormatInfo* info = imaging::formatForExtension(extension)) {
        return info->format;
    }
    return std::nullopt;
}

bool hasControlCharacter(std::string_view text) noexcept {
    for (size_t i = 0; i < text.size(); ++i) {
        if (isC0OrDel(static_cast<unsigned char>(text[i])) || isUtf8C1At(text, i)) return true;
    }
    return false;
}

std::string escapeForDisplay(std::string_view text) {
    static constexpr std::array<char, 16> kHex{'0', '1', '2', '3', '4', '5', '6', '7',
                                               '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    std::string out;
    out.reserve(text.size());
    const auto escapeByte = [&](unsigned char c) {
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (isC0OrDel(c)) {
            escapeByte(c);
        } else if (isUtf8C1At(text, i)) {
            escapeByte(c);
            escapeByte(static_cast<unsigned char>(text[++i]));
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string messageForDisplay(std::string_view text) {
    // Each line without its surrounding blanks; empty lines go.
    std::string joined;
    while (!text.empty()) {
        const size_t end = text.find_first_of("\r\n");
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        if (line.empty()) continue;
        if (!joined.empty()) joined += "; ";
        joined += line;
    }
    return escapeForDisplay(joined);
}

namespace {

// Where each code asked for ended up; lists are built from this in the order asked.
enum class Fate : uint8_t { NotFound, Area, WithoutPlus4, WithZeros, Town };

struct Ledger {
    std::vector<Fate> fate;
    std::vector<uint8_t> outside;       // 1: found, but its marker centre lies off the picture
    std::vector<std::string> lookedUp;  // the rewritten code, where one was looked up
};

std::vector<int32_t> outsidePositions(Object& object) {
    std::vector<int32_t> positions;
    const Variant outside = object.get(engine::kOutsidePoints);
    for (const Variant& p : outside.elements()) {
        positions.push_back(p.toInt32());
    }
    return positions;
}

// One MapZips call for the codes at `indexes` (their texts in `codes`): the ones found get
// `found` and their outside flag; the rest stay not found.
void lookUpWithEngine(Object& object, const RenderRequest& request,
                      const std::vector<size_t>& indexes, const std::vector<std::string>& codes,
                      Fate found, Ledger& ledger) {
    std::vector<std::string> unmatched;
    try {
        unmatched = mapZips(object, codes);
    } catch (const Error& e) {
        if (!isCoordinateError(e)) throw;
        const auto code = findFailingCode(request, codes, e.number());
        if (!code) throw;
        throw e.withContext("zip code " + escapeForDisplay(*code));
    }
    // The engine lists its unmatched codes in the order sent.
    std::vector<uint8_t> missing(codes.size(), 0);
    size_t next = 0;
    for (size_t i = 0; i < codes.size() && next < unmatched.size(); ++i) {
        if (unmatched[next] == codes[i]) {
            missing[i] = 1;
            ++next;
        }
    }
    for (size_t i = 0; i < codes.size(); ++i) {
        if (!missing[i]) ledger.fate[indexes[i]] = found;
    }
    for (const int32_t p : outsidePositions(object)) {
        const auto i = static_cast<size_t>(p);
        if (i < codes.size() && !missing[i]) ledger.outside[indexes[i]] = 1;
    }
}

// The codes still not found, looked up again as people write them (rewrittenCode).
void lookUpRewritten(Object& object, const RenderRequest& request, size_t chunkSize,
                     Ledger& ledger) {
    std::vector<size_t> indexes;
    std::vector<std::string> codes;
    std::vector<Fate> how;
    for (size_t i = 0; i < request.zips.size(); ++i) {
        if (ledger.fate[i] != Fate::NotFound || hasControlCharacter(request.zips[i])) continue;
        if (auto rewritten = rewrittenCode(request.zips[i])) {
            ledger.lookedUp[i] = rewritten->code;
            indexes.push_back(i);
            codes.push_back(std::move(rewritten->code));
            how.push_back(rewritten->how == Rewrite::DropPlus4 ? Fate::WithoutPlus4
                                                               : Fate::WithZeros);
        }
    }
    for (size_t start = 0; start < codes.size(); start += chunkSize) {
        checkCancel(request);
        const size_t end = std::min(codes.size(), start + chunkSize);
        const std::vector<size_t> pieceIndexes(indexes.begin() + static_cast<std::ptrdiff_t>(start),
                                               indexes.begin() + static_cast<std::ptrdiff_t>(end));
        const std::vector<std::string> piece(codes.begin() + static_cast<std::ptrdiff_t>(start),
                                             codes.begin() + static_cast<std::ptrdiff_t>(end));
        lookUpWithEngine(object, request, pieceIndexes, piece, Fate::Area, ledger);
        for (size_t k = start; k < end; ++k) {
            if (ledger.fate[indexes[k]] == Fate::Area) ledger.fate[indexes[k]] = how[k];
        }
    }
}

// The codes the engine did not find that zip_towns holds (by their rewritten form when
// they have one), placed at their post-office town with the same marker through the
// engine's connection string. Returns the positions of those outside the map, by index.
std::vector<std::pair<size_t, LatLon>> placeAtTowns(Object& object, const RenderRequest& request,
                                                    size_t chunkSize, Ledger& ledger) {
    std::vector<size_t> indexes;
    std::vector<std::string> asked;
    for (size_t i = 0; i < request.zips.size(); ++i) {
        if (ledger.fate[i] != Fate::NotFound || hasControlCharacter(request.zips[i])) continue;
        indexes.push_back(i);
        asked.push_back(ledger.lookedUp[i].empty() ? request.zips[i] : ledger.lookedUp[i]);
    }
    std::vector<std::pair<size_t, LatLon>> outside;
    if (asked.empty()) return outside;
    const auto found = towns::lookUp(object.get(engine::kConnectionString).toString(), asked);
    if (!found || found->empty()) return outside;

    std::vector<LatLon> positions;
    std::vector<size_t> placed;  // index asked, per position
    positions.reserve(found->size());
    size_t next = 0;
    for (size_t k = 0; k < asked.size() && next < found->size(); ++k) {
        if ((*found)[next].zip != asked[k]) continue;
        positions.push_back((*found)[next].position);
        placed.push_back(indexes[k]);
        ledger.fate[indexes[k]] = Fate::Town;
        ++next;
    }
    for (size_t start = 0; start < positions.size(); start += chunkSize) {
        const size_t end = std::min(positions.size(), start + chunkSize);
        const std::vector<LatLon> piece(positions.begin() + static_cast<std::ptrdiff_t>(start),
                                        positions.begin() + static_cast<std::ptrdiff_t>(end));
        mapCoordinates(object, piece, piece.size());
        for (const int32_t p : outsidePositions(object)) {
            const size_t k = start + static_cast<size_t>(p);
            if (k < end) {
                ledger.outside[placed[k]] = 1;
                outside.emplace_back(placed[k], positions[k]);
            }
        }
    }
    return outside;
}

// The shipped maps (other than the one rendered on) that hold the outside codes, and the
// region map for the rest, judged by the first kMaxSuggestionLookups of them; town positions
// are known already.
void suggestMaps(Object& object, const RenderRequest& request, const Ledger& ledger,
                 const std::vector<std::pair<size_t, LatLon>>& atTowns, RenderResult& result) {
    std::vector<std::optional<LatLon>> where;
    std::vector<std::string> states;
    std::vector<std::string> codes;
    for (size_t i = 0; i < request.zips.size() && codes.size() < kMaxSuggestionLookups; ++i) {
        if (!ledger.outside[i] || ledger.fate[i] == Fate::Town) continue;
        codes.push_back(ledger.lookedUp[i].empty() ? request.zips[i] : ledger.lookedUp[i]);
    }
    if (!codes.empty()) {
        const towns::ZipColumns columns{
            object.get(engine::kZipTable).toString(), object.get(engine::kZipField).toString(),
            object.get(engine::kLatField).toString(), object.get(engine::kLonField).toString()};
        const std::string connection = object.get(engine::kConnectionString).toString();
        where = towns::positions(connection, columns, codes);
        states = towns::states(connection, columns, codes);
    }
    for (const auto& [index, position] : atTowns) {
        if (where.size() >= kMaxSuggestionLookups) break;
        where.emplace_back(position);
    }
    std::vector<LatLon> known;
    std::vector<OutsideCode> outside;
    for (size_t k = 0; k < where.size(); ++k) {
        if (where[k]) known.push_back(*where[k]);
        // Codes placed at their town have no row in the zip table, so no state.
        outside.push_back({where[k], k < states.size() ? states[k] : std::string()});
    }
    result.suggestions = suggestMaps(known, request.bounds);
    result.suggestedRegion = suggestRegion(outside, request.bounds);
}

void fillResult(const RenderRequest& request, const Ledger& ledger, RenderResult& result) {
    for (size_t i = 0; i < request.zips.size(); ++i) {
        const std::string& code = request.zips[i];
        if (ledger.fate[i] == Fate::NotFound) {
            result.notFound.push_back(code);
        } else if (ledger.outside[i]) {
            result.outside.push_back(code);
        } else if (ledger.fate[i] == Fate::Area) {
            ++result.placedAtArea;
        } else if (ledger.fate[i] == Fate::WithoutPlus4) {
            result.placedWithoutPlus4.push_back(code);
        } else if (ledger.fate[i] == Fate::WithZeros) {
            result.placedWithZeros.push_back(code);
        } else {
            result.placedAtTown.push_back(code);
        }
    }
}

}  // namespace

RenderResult render(const RenderRequest& request) {
    const size_t chunkSize = std::max<size_t>(request.chunkSize, 1);
    const size_t total = request.zips.size() + request.points.size();
    RenderResult result;
    result.requested = request.zips.size();
    Ledger ledger;
    ledger.fate.assign(request.zips.size(), Fate::NotFound);
    ledger.outside.assign(request.zips.size(), 0);
    ledger.lookedUp.resize(request.zips.size());

    checkCancel(request);
    Object object = createEngine(request);

    if (request.zips.empty() && request.points.empty()) {
        std::vector<Variant> args{Variant(std::vector<Variant>{})};
        object.call(engine::kMapZips, args);  // the engine refuses an empty list
    }

    size_t done = 0;
    for (size_t start = 0; start < request.zips.size(); start += chunkSize) {
        checkCancel(request);
        const size_t end = std::min(request.zips.size(), start + chunkSize);
        std::vector<size_t> indexes;
        std::vector<std::string> sent;
        indexes.reserve(end - start);
        sent.reserve(end - start);
        for (size_t i = start; i < end; ++i) {
            if (hasControlCharacter(request.zips[i])) continue;
            indexes.push_back(i);
            sent.push_back(request.zips[i]);
        }
        if (!sent.empty()) lookUpWithEngine(object, request, indexes, sent, Fate::Area, ledger);
        done = end;
        reportProgress(request, done, total);
    }

    if (!request.exact) lookUpRewritten(object, request, chunkSize, ledger);
    std::vector<std::pair<size_t, LatLon>> atTowns;
    if (request.towns) {
        checkCancel(request);
        atTowns = placeAtTowns(object, request, chunkSize, ledger);
    }
    fillResult(request, ledger, result);
    if (!result.outside.empty()) suggestMaps(object, request, ledger, atTowns, result);

    if (!request.points.empty()) checkCancel(request);
    mapCoordinates(object, request.points, chunkSize, [&](size_t end) {
        result.points = end;
        result.pointsOutside += outsidePositions(object).size();
        reportProgress(request, done + end, total);
        if (end < request.points.size()) checkCancel(request);
    });

    checkCancel(request);
    object.put(engine::kOutputImageType, Variant(std::string(formatName(request.format))));
    if (request.output) {
        std::vector<Variant> args{Variant(request.output->string())};
        object.call(engine::kSaveMap, args);
        result.written = *request.output;
        if (request.worldFile) {
            // The saved picture is the map's own size: its header says how large.
            const imaging::PictureSize size = imaging::readPictureSize(request.output->string());
            writeWorldFile(worldFilePath(*request.output), request.bounds, size.width, size.height);
        }
    } else {
        result.bytes = object.get(engine::kOutputMap).toBytes();
    }
    return result;
}

LookupResult lookupPixel(const LookupRequest& request) {
    Object object = createEngine(request.map, {}, request.bounds, request.connection);
    std::vector<Variant> args{Variant(request.x), Variant(request.y), Variant(), Variant()};
    object.call(engine::kGetLatLonFromMapPoint, args);
    LookupResult result;
    result.position = {args[2].toDouble(), args[3].toDouble()};

    std::vector<Variant> pixel{Variant(request.x), Variant(request.y)};
    const Variant zip = object.call(engine::kGetZipCodeFromMapPoint, pixel);
    if (!zip.isNull()) {
        result.zip = zip.toString();
        std::tie(result.city, result.state) =
            towns::cityAndState(object.get(engine::kConnectionString).toString(),
                                object.get(engine::kZipTable).toString(),
                                object.get(engine::kZipField).toString(), *result.zip);
    }
    return result;
}

namespace {

// The first shipped map other than the one showing `shown` that holds the position.
const MapKey* holderOf(const LatLon& position, const Bounds& shown) {
    for (const MapKey& key : mapKeys()) {
        if (key.bounds != shown && key.bounds.contains(position.lat, position.lon)) return &key;
    }
    return nullptr;
}

// A state column's text as --region reads it: two ASCII letters, upper-cased; else nothing.
std::optional<std::string> postalCode(std::string_view state) {
    while (!state.empty() && state.front() == ' ') state.remove_prefix(1);
    while (!state.empty() && state.back() == ' ') state.remove_suffix(1);
    if (state.size() != 2) return std::nullopt;
    std::string code;
    for (const char c : state) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return std::nullopt;
        code += static_cast<char>(c >= 'a' ? c - 'a' + 'A' : c);
    }
    return code;
}

}  // namespace

std::vector<MapSuggestion> suggestMaps(const std::vector<LatLon>& positions, const Bounds& shown) {
    std::vector<MapSuggestion> suggestions;
    for (const LatLon& position : positions) {
        const MapKey* key = holderOf(position, shown);
        if (key == nullptr) continue;
        auto it = std::find_if(suggestions.begin(), suggestions.end(),
                               [&](const MapSuggestion& s) { return s.map == key->key; });
        if (it == suggestions.end()) {
            suggestions.push_back({std::string(key->key), 1});
        } else {
            ++it->codes;
        }
    }
    std::stable_sort(
        suggestions.begin(), suggestions.end(),
        [](const MapSuggestion& a, const MapSuggestion& b) { return a.codes > b.codes; });
    return suggestions;
}

std::string suggestRegion(const std::vector<OutsideCode>& codes, const Bounds& shown) {
    std::optional<std::string> region;
    for (const OutsideCode& code : codes) {
        if (code.position && holderOf(*code.position, shown) != nullptr) continue;
        const auto state = postalCode(code.state);
        if (!state) continue;
        if (!region) {
            region = *state;
        } else if (*region != *state) {
            return "fit";
        }
    }
    return region.value_or(std::string());
}

}  // namespace zembra::render
