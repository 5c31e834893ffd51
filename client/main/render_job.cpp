#include "main/render_job.hpp"

#include <unistd.h>

#include <cerrno>
#include <unordered_set>
#include <zembra/render/codes.hpp>
#include <zembra/render/csv.hpp>
#include <zembra/render/parameters.hpp>
#include <zembra/render/positions.hpp>
#include <zembra/runtime.hpp>

#include "input/text_file.hpp"
#include "main/render_logic.hpp"

namespace zembra::client {

bool RenderControl::requestCancel() {
    const std::lock_guard lock(mutex_);
    if (committed_) return false;
    cancel_.store(true);
    return true;
}

bool RenderControl::commit() {
    const std::lock_guard lock(mutex_);
    if (cancel_.load()) return false;
    committed_ = true;
    return true;
}

std::string unknownBoundsMessage(const std::string& mapName) {
    const std::string worldFile = render::worldFilePath(mapName).filename().string();
    return "The bounds of map " + mapName + " are unknown: add a world file " + worldFile +
           " beside it (see Help).";
}

void removeReadOnlyFile(const std::filesystem::path& path) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    if (ec || !std::filesystem::is_regular_file(status)) return;
    if (::access(path.c_str(), W_OK) == 0 || errno != EACCES) return;
    if (std::filesystem::remove(path, ec) || !ec) return;
    throw fileError(ec.value(), kClientErrorSource, path.string(), path.string());
}

render::RowTable styleRows(const RenderJob& job, const NoticeFn& notice) {
    const bool byCategory = job.style && job.style->style == draw::Style::Category;
    if (byCategory && (!job.batch || job.batch->categoryField.empty())) {
        throw Error::standard(err::kInvalidArgument, kClientErrorSource,
                              "The category style colours by a column of a batch source: choose "
                              "it on the Batch Data Entry page and in Style.");
    }
    if (job.batch) {
        if (job.batch->access) requireRegularFile(job.batch->accessPath);
        if (!job.batch->access && job.batch->excel) requireRegularFile(job.batch->excelPath);
        return ReadBatchRows(*job.batch, notice, byCategory);
    }
    render::RowTable rows(byCategory);
    for (const std::string& zip : job.zips) rows.add(zip, "", std::nullopt);
    return rows;
}

render::RenderResult asRenderResult(const draw::ThematicResult& result) {
    render::RenderResult out;
    out.requested = result.requested;
    out.placedAtTown = result.placedAtTown;
    out.outside = result.outside;
    out.notFound = result.notFound;
    out.written = result.written;
    // Placed codes count once: at their town, outside the map, or at their own area.
    const std::unordered_set<std::string> atTown(result.placedAtTown.begin(),
                                                 result.placedAtTown.end());
    std::size_t outsideOnly = 0;
    for (const std::string& code : result.outside) outsideOnly += atTown.contains(code) ? 0 : 1;
    out.placedAtArea = result.placed - atTown.size() - outsideOnly;
    return out;
}

namespace {

render::RenderResult runStyled(const RenderJob& job, RenderControl& control,
                               const NoticeFn& notice) {
    const render::RowTable rows = styleRows(job, notice);
    control.codesRead.store(rows.codes().size());
    control.reading.store(false);
    const auto format = render::formatForExtension(extensionName(job.output));
    if (!format) throw Error::standard(err::kInvalidArgument, kClientErrorSource, job.output);
    // The styles draw and save in one step: the render commits to saving before it.
    if (!control.commit()) throw render::Cancelled();
    const std::filesystem::path output(job.output);
    removeReadOnlyFile(output);

    draw::ThematicRequest request;
    request.map = job.map;
    request.bounds = *job.bounds;
    request.format = *format;
    request.output = output;
    request.options = *job.style;
    request.boundaries = job.boundaries;
    const draw::ThematicResult result = draw::renderThematic(request, rows);
    control.codesPlaced.store(result.placed);
    return asRenderResult(result);
}

// The positions the render drew the placed codes at: as written, or for a code found only
// after a rewrite, the rewritten code's; codes not placed are left out.
PlottedMarkers plottedMarkers(const render::RenderRequest& request,
                              const render::RenderResult& result) {
    std::unordered_set<std::string> notPlaced(result.notFound.begin(), result.notFound.end());
    std::unordered_set<std::string> rewritten(result.placedWithoutPlus4.begin(),
                                              result.placedWithoutPlus4.end());
    rewritten.insert(result.placedWithZeros.begin(), result.placedWithZeros.end());
    std::vector<std::string> lookedUp;
    std::vector<std::string> zips;
    for (const std::string& zip : request.zips) {
        if (notPlaced.count(zip) != 0) continue;
        const auto other = rewritten.count(zip) != 0 ? render::rewrittenCode(zip) : std::nullopt;
        lookedUp.push_back(other ? other->code : zip);
        zips.push_back(zip);
    }
    PlottedMarkers out;
    out.marker = request.marker;
    const auto positions = render::positionsOf(request.connection, lookedUp, request.towns);
    for (size_t i = 0; i < zips.size(); ++i) {
        if (!positions[i]) continue;
        out.zips.push_back(std::move(zips[i]));
        out.positions.push_back(*positions[i]);
    }
    return out;
}

}  // namespace

render::RenderResult runRenderJob(const RenderJob& job, RenderControl& control,
                                  const NoticeFn& notice, RenderDetails* details) {
    if (!job.bounds) {
        throw Error(err::kDivisionByZero, kClientErrorSource, unknownBoundsMessage(job.mapName));
    }
    if (job.style && job.style->style != draw::Style::Markers) {
        return runStyled(job, control, notice);
    }
    render::RenderRequest request;
    // What the window has no control for follows the parameter table's defaults.
    render::applyParameters(render::ParameterValues(), request);
    request.map = job.map;
    request.marker = job.overlay;
    request.bounds = *job.bounds;
    request.chunkSize = job.chunkSize;
    request.cancel = control.cancelFlag();

    if (job.batch) {
        // Only regular files are read as sources (the CSV reader checks its own).
        if (job.batch->access) requireRegularFile(job.batch->accessPath);
        if (!job.batch->access && job.batch->excel) requireRegularFile(job.batch->excelPath);
        char separator = 0;
        request.zips = ReadBatchData(*job.batch, notice, &separator).items();
        if (details != nullptr && separator != 0 && separator != ',') {
            details->readNote = "CSV fields separated by " + render::separatorName(separator) + "s";
        }
    } else {
        request.zips = job.zips;
    }
    control.codesRead.store(request.zips.size());
    control.reading.store(false);
    if (control.cancelRequested()) throw render::Cancelled();

    // The render library saves right after its last piece; the old file goes only then.
    const std::filesystem::path output(job.output);
    bool committed = false;
    const auto commitToSave = [&] {
        if (committed) return;
        committed = control.commit();
        if (committed) removeReadOnlyFile(output);
    };
    request.progress = [&](const render::Progress& progress) {
        control.codesPlaced.store(progress.done);
        if (progress.done >= progress.total) commitToSave();
    };

    const auto format = render::formatForExtension(extensionName(job.output));
    if (!format) throw Error::standard(err::kInvalidArgument, kClientErrorSource, job.output);
    request.format = *format;
    request.output = output;
    render::RenderResult result = render::render(request);
    if (details != nullptr) {
        try {
            details->plotted = plottedMarkers(request, result);
        } catch (const Error&) {
            // Only the viewer's naming of markers needs them; the render itself succeeded.
            details->plotted = {};
        }
    }
    return result;
}

}  // namespace zembra::client
