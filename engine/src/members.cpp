// The member table of CMap: each member once, in interface slot order, with its kind
// of access, its argument count and the handler that runs it. The late-bound
// dispatcher below reads nothing else.
#include <array>

#include "cmap.hpp"

namespace zembra::engine {

namespace {

enum class Access { Get, Put, Method };
using Handler = Variant (*)(CMap&, std::span<Variant>);

struct Member {
    int32_t slot;
    std::string_view name;
    Access access;
    size_t argumentCount;
    Handler handler;
};

// A property is two entries, read and assign; the assigned value goes through the
// Variant conversion of the property's type.
template <auto getter>
Variant readProperty(CMap& map, std::span<Variant>) {
    return Variant((map.*getter)());
}
template <auto setter, auto convert>
Variant assignProperty(CMap& map, std::span<Variant> args) {
    (map.*setter)((args[0].*convert)());
    return Variant();
}

const std::array kMembers{
    Member{1, "InputMapFile", Access::Get, 0, readProperty<&CMap::inputMapFile>},
    Member{1, "InputMapFile", Access::Put, 1,
           assignProperty<&CMap::setInputMapFile, &Variant::toString>},
    Member{2, "InputOverlayFile", Access::Get, 0, readProperty<&CMap::inputOverlayFile>},
    Member{2, "InputOverlayFile", Access::Put, 1,
           assignProperty<&CMap::setInputOverlayFile, &Variant::toString>},
    Member{3, "ConnectionString", Access::Get, 0, readProperty<&CMap::connectionString>},
    Member{3, "ConnectionString", Access::Put, 1,
           assignProperty<&CMap::setConnectionString, &Variant::toString>},
    Member{4, "ZipTable", Access::Get, 0, readProperty<&CMap::zipTable>},
    Member{4, "ZipTable", Access::Put, 1, assignProperty<&CMap::setZipTable, &Variant::toString>},
    Member{5, "ZipField", Access::Get, 0, readProperty<&CMap::zipField>},
    Member{5, "ZipField", Access::Put, 1, assignProperty<&CMap::setZipField, &Variant::toString>},
    Member{6, "LatField", Access::Get, 0, readProperty<&CMap::latField>},
    Member{6, "LatField", Access::Put, 1, assignProperty<&CMap::setLatField, &Variant::toString>},
    Member{7, "LonField", Access::Get, 0, readProperty<&CMap::lonField>},
    Member{7, "LonField", Access::Put, 1, assignProperty<&CMap::setLonField, &Variant::toString>},
    Member{8, "OutputImageType", Access::Get, 0, readProperty<&CMap::outputImageType>},
    Member{8, "OutputImageType", Access::Put, 1,
           assignProperty<&CMap::setOutputImageType, &Variant::toString>},
    Member{9, "MinLat", Access::Get, 0, readProperty<&CMap::minLat>},
    Member{9, "MinLat", Access::Put, 1, assignProperty<&CMap::setMinLat, &Variant::toDouble>},
    Member{10, "MinLon", Access::Get, 0, readProperty<&CMap::minLon>},
    Member{10, "MinLon", Access::Put, 1, assignProperty<&CMap::setMinLon, &Variant::toDouble>},
    Member{11, "MaxLat", Access::Get, 0, readProperty<&CMap::maxLat>},
    Member{11, "MaxLat", Access::Put, 1, assignProperty<&CMap::setMaxLat, &Variant::toDouble>},
    Member{12, "MaxLon", Access::Get, 0, readProperty<&CMap::maxLon>},
    Member{12, "MaxLon", Access::Put, 1, assignProperty<&CMap::setMaxLon, &Variant::toDouble>},
    Member{13, "OutputMap", Access::Get, 0,
           [](CMap& m, std::span<Variant>) { return Variant(m.outputMap()); }},
    Member{14, "Clear", Access::Method, 0,
           [](CMap& m, std::span<Variant>) { return Variant(m.clear()); }},
    Member{15, "MapCoordinate", Access::Method, 2,
           [](CMap& m, std::span<Variant> a) {
               // Typed parameters: both convert before the call starts.
               const double lat = a[0].toDouble();
               const double lon = a[1].toDouble();
               return Variant(m.mapCoordinate(lat, lon));
           }},
    Member{16, "MapCoordinates", Access::Method, 2,
           [](CMap& m, std::span<Variant> a) { return Variant(m.mapCoordinates(a[0], a[1])); }},
    Member{17, "MapZip", Access::Method, 1,
           [](CMap& m, std::span<Variant> a) { return Variant(m.mapZip(a[0].toString())); }},
    Member{18, "MapZips", Access::Method, 1,
           [](CMap& m, std::span<Variant> a) { return Variant(m.mapZips(a[0])); }},
    Member{19, "SaveMap", Access::Method, 1,
           [](CMap& m, std::span<Variant> a) {
               m.saveMap(a[0].toString());
               return Variant();
           }},
    Member{20, "GetZipCodeFromMapPoint", Access::Method, 2,
           [](CMap& m, std::span<Variant> a) {
               const int32_t x = a[0].toInt32();
               const int32_t y = a[1].toInt32();
               return m.getZipCodeFromMapPoint(x, y);
           }},
    Member{21, "GetLatLonFromMapPoint", Access::Method, 4,
           [](CMap& m, std::span<Variant> a) {
               // dLat and dLon are the caller's variables, written through the span.
               const int32_t x = a[0].toInt32();
               const int32_t y = a[1].toInt32();
               m.getLatLonFromMapPoint(x, y, a[2], a[3]);
               return Variant();
           }},
    Member{22, "UnmatchedZips", Access::Get, 0,
           [](CMap& m, std::span<Variant>) { return m.unmatchedZips(); }},
    Member{23, "OutsidePoints", Access::Get, 0,
           [](CMap& m, std::span<Variant>) { return m.outsidePoints(); }},
};

// A call by name reads a property or runs a method alike (the platform passes both
// flags for "x = obj.Member(...)"); only an assignment needs a Put entry.
bool accepts(Access access, InvokeKind kind) {
    switch (kind) {
        case InvokeKind::PropertyPut:
            return access == Access::Put;
        case InvokeKind::PropertyGet:
        case InvokeKind::Method:
            return access == Access::Get || access == Access::Method;
    }
    return false;
}

}  // namespace

int32_t CMap::memberId(std::string_view name) const {
    for (const Member& member : kMembers) {
        if (equalsIgnoreCase(member.name, name)) return member.slot;
    }
    return -1;
}

Variant CMap::invoke(int32_t id, InvokeKind kind, std::span<Variant> args) {
    bool known = false;
    for (const Member& member : kMembers) {
        if (member.slot != id) continue;
        known = true;
        if (accepts(member.access, kind) && member.argumentCount == args.size()) {
            return member.handler(*this, args);
        }
    }
    if (!known) throw Error::standard(err::kNoSuchMember, kRuntimeSource);
    throw Error::standard(err::kWrongArguments, kRuntimeSource);
}

}  // namespace zembra::engine
