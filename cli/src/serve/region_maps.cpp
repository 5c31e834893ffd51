#include "serve/region_maps.hpp"

#include <zembra/runtime.hpp>

#include "serve/order.hpp"

namespace zembra::serve {

draw::Region RegionMaps::parse(const std::string& text) {
    try {
        return draw::parseRegion(text);
    } catch (const Error& e) {
        throw ApiError(400, "bad_region", e.description());
    }
}

RegionMaps::Plan RegionMaps::plan(const draw::Region& region, int width, const Positions& positions,
                                  uint64_t maxPixels) {
    Plan plan;
    plan.width = width > 0 ? width : draw::kDefaultMapWidth;
    try {
        {
            const std::lock_guard lock(mutex_);
            (void)data_.states();  // read once; afterwards only read
        }
        plan.bounds = draw::regionBounds(region, data_, positions);
        plan.height = draw::heightForWidth(plan.bounds, plan.width);
    } catch (const Error& e) {
        if (e.number() != err::kInvalidArgument) throw;
        throw ApiError(400, "bad_region", e.description());
    }
    const auto tooLarge = [](const std::string& why) {
        return ApiError(413, "picture_too_large", why + " Ask for a smaller width.");
    };
    const uint64_t pixels = uint64_t(plan.width) * uint64_t(plan.height);
    if (pixels > maxPixels)
        throw tooLarge("The map of this region would have " + std::to_string(pixels) +
                       " pixels; this server renders at most " + std::to_string(maxPixels) + ".");
    try {
        (void)draw::checkedHeight(plan.bounds, plan.width);
    } catch (const Error& e) {
        throw tooLarge(e.description());
    }
    return plan;
}

std::unique_ptr<draw::TemporaryMap> RegionMaps::draw(const Plan& plan) {
    const draw::MapLayers* layers = nullptr;
    {
        const std::lock_guard lock(mutex_);
        layers = &data_.layers();
    }
    // Built once and never changed afterwards, so workers draw from them side by side.
    return std::make_unique<draw::TemporaryMap>(*layers, plan.bounds, plan.width);
}

}  // namespace zembra::serve
