// One render of the main window, free of Qt so that it can run on a worker thread and
// be tested without a display: read the zip codes (the manual list's, or the batch
// source's), plot them through the render library, save the picture.
#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include <zembra/draw/thematic.hpp>
#include <zembra/render/render.hpp>
#include <zembra/render/rows.hpp>

#include "input/batch_reader.hpp"

namespace zembra::client {

inline constexpr const char* kCancelledMessage = "Rendering was cancelled.";

// What the window hands to a render: everything is copied, nothing refers to a widget.
struct RenderJob {
    std::filesystem::path map;
    std::string mapName;  // as listed, for the "bounds unknown" message
    std::filesystem::path overlay;
    std::optional<render::Bounds> bounds;  // nothing: the map's bounds are unknown
    std::string output;                    // the output path as typed
    std::vector<std::string> zips;         // the manual list, when no batch source is set
    std::optional<BatchSource> batch;      // the batch page's source, read on the worker
    // A thematic style, drawn by the render library from the rows of the list; nothing:
    // the plain markers, which the engine stamps. The batch source's category and value
    // columns go with it.
    std::optional<draw::ThematicOptions> style;
    std::filesystem::path boundaries;  // the styles' outlines; empty: the drawing library's
    std::size_t chunkSize = render::kDefaultChunkSize;
};

// Shared between the window and the thread running a render: progress for display, and
// the cancel request. Once the plotting is done the render commits to saving: a cancel
// that comes later is refused, so a render either saves or leaves the old file alone.
class RenderControl {
  public:
    // Asks the render to stop; false when it has already committed to saving.
    bool requestCancel();
    bool cancelRequested() const noexcept { return cancel_.load(); }
    // Called by the render once the plotting is done; false when it was cancelled.
    bool commit();

    const std::atomic<bool>* cancelFlag() const noexcept { return &cancel_; }

    std::atomic<std::size_t> codesRead{0};
    std::atomic<bool> reading{true};  // still reading the batch source
    std::atomic<std::size_t> codesPlaced{0};

  private:
    std::mutex mutex_;
    bool committed_ = false;
    std::atomic<bool> cancel_{false};
};

// Where a render drew its codes: the marker picture stamped, centred, at each position.
struct PlottedMarkers {
    std::filesystem::path marker;
    std::vector<std::string> zips;
    std::vector<render::LatLon> positions;  // of zips, index for index
};

// What the viewer tells beside the render's result.
struct RenderDetails {
    PlottedMarkers plotted;
    // How the batch source was read, when the operator should know: "CSV fields separated
    // by semicolons" for a CSV file whose header line chose a separator other than a comma.
    std::string readNote;
};

// Runs the job: reads the zip codes, plots them, and once the plotting succeeded removes
// an existing read-only output file (the engine's save replaces any other) and saves.
// With `details`, also tells how the source was read and reads where the codes placed
// were drawn (no markers when the zip-code tables cannot be read then: the picture is
// saved all the same).
// Raises: Error 11 naming the map when its bounds are unknown, before any engine object
// exists; the reader's and the render library's errors unchanged; render::Cancelled when
// `control` was cancelled before the commit. `notice` shows the reader's one message.
render::RenderResult runRenderJob(const RenderJob& job, RenderControl& control,
                                  const NoticeFn& notice, RenderDetails* details = nullptr);

// The rows a styled render draws: the manual list's codes (a row each) or the batch
// source's rows with their category and value columns. Raises 5 for the category style
// without a category column, and the reader's errors unchanged.
render::RowTable styleRows(const RenderJob& job, const NoticeFn& notice);

// What a styled render placed, in the terms of a plain render's result (for the viewer's
// status line and the "none placed" notice).
render::RenderResult asRenderResult(const draw::ThematicResult& result);

// The description of error 11 for a map whose bounds are unknown.
std::string unknownBoundsMessage(const std::string& mapName);

// Removes `path` when it is an existing regular file the user may not write (a link
// or a writable file stays for the save to replace). Raises 70 or 75 when it cannot.
void removeReadOnlyFile(const std::filesystem::path& path);

}  // namespace zembra::client
