#include "serve/server.hpp"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <zembra/render/render.hpp>
#include <zembra/runtime.hpp>

#include "core/images.hpp"
#include "serve/library.hpp"
#include "serve/order.hpp"
#include "serve/picture_store.hpp"
#include "serve/style_order.hpp"
#include "serve/worker_pool.hpp"

#ifndef ZEMBRA_REL_BIN_TO_DATA
#error "ZEMBRA_REL_BIN_TO_DATA must name the data folder relative to the bin folder"
#endif

namespace zembra::serve {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::string_view kSource = "zembra serve";

// The page's files: fixed names, loaded once, so that no request path reaches the disk.
struct Asset {
    const char* name;
    const char* mime;
};
constexpr Asset kAssets[] = {{"index.html", "text/html; charset=utf-8"},
                             {"app.css", "text/css; charset=utf-8"},
                             {"app.js", "text/javascript; charset=utf-8"}};

const char* mimeFor(render::OutputFormat format) {
    switch (format) {
        case render::OutputFormat::Gif:
            return "image/gif";
        case render::OutputFormat::Jpeg:
            return "image/jpeg";
        case render::OutputFormat::Bmp:
            return "image/bmp";
        case render::OutputFormat::Png:
            return "image/png";
    }
    return "application/octet-stream";
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw Error::standard(err::kFileNotFound, std::string(kSource), file.string());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

json boundsJson(const render::Bounds& b) {
    return {{"minLat", b.minLat}, {"maxLat", b.maxLat}, {"minLon", b.minLon}, {"maxLon", b.maxLon}};
}

json errorJson(const std::string& code, const std::string& message) {
    return {{"error", {{"code", code}, {"message", message}}}};
}

json engineErrorJson(const Error& e) {
    json body = errorJson("engine_error", e.description());
    body["error"]["number"] = e.number();
    body["error"]["source"] = e.source();
    return body;
}

// JSON text; bytes that are not UTF-8 (a code from a file in another encoding) become
// U+FFFD instead of failing the answer.
std::string jsonText(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void sendJson(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(jsonText(body), "application/json");
}

void sendError(httplib::Response& res, const ApiError& e) {
    sendJson(res, e.status(), errorJson(e.code(), e.what()));
}

ApiError busy() {
    return ApiError(503, "busy", "Every worker is busy and the queue is full; try again shortly.");
}

ApiError deadlinePassed(std::chrono::milliseconds deadline) {
    return ApiError(503, "deadline_exceeded",
                    "The request was not done within " + std::to_string(deadline.count() / 1000) +
                        " s and was cancelled.");
}

// A pixel coordinate from the query: a whole number inside the picture.
int32_t pixelParam(const httplib::Request& req, const char* name, int32_t extent) {
    const std::string text = req.get_param_value(name);
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        throw ApiError(400, "bad_request", std::string("\"") + name + "\" must be a whole number.");
    }
    if (value < 0 || value >= extent) {
        throw ApiError(400, "outside_picture",
                       std::string("\"") + name + "\" lies outside the picture (0 to " +
                           std::to_string(extent - 1) + ").");
    }
    return value;
}

// One piece of work handed to the pool: its progress and its answer, watched by the
// connection thread that waits for it.
struct Job {
    std::mutex mutex;
    std::condition_variable changed;
    render::Progress progress;
    bool progressNew = false;
    bool finished = false;
    int status = 200;
    json answer;
    std::atomic<bool> cancel{false};

    void report(const render::Progress& p) {
        {
            std::lock_guard lock(mutex);
            progress = p;
            progressNew = true;
        }
        changed.notify_all();
    }
    void finish(int s, json a) {
        {
            std::lock_guard lock(mutex);
            status = s;
            answer = std::move(a);
            finished = true;
        }
        changed.notify_all();
    }
};

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    std::ostringstream text;
    text << std::put_time(&tm, "%Y-%m-%dT%H:%M:%SZ");
    return text.str();
}

}  // namespace

void Log::line(const std::string& text) {
    std::lock_guard lock(mutex_);
    out_ << text << '\n';
    out_.flush();
}

fs::path defaultWebDirectory() {
    return (cli::programDirectory() / ZEMBRA_REL_BIN_TO_DATA / "web").lexically_normal();
}

struct Server::Impl {
    ServerConfig config;
    Log& log;
    PictureLibrary library;
    std::map<std::string, std::string> assets;
    PictureStore store;
    WorkerPool pool;
    httplib::Server http;
    int port = 0;
    // stop() may come before run() has started listening; these make it stick.
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> running{false};
    std::atomic<bool> done{false};

    Impl(ServerConfig c, Log& l, PictureLibrary lib)
        : config(std::move(c)),
          log(l),
          library(std::move(lib)),
          store(config.limits.storedPictures, config.limits.storedBytes, config.limits.storedFor),
          pool(config.limits.workers ? config.limits.workers
                                     : std::max(1u, std::thread::hardware_concurrency()),
               config.limits.queue) {}

    // Each handler runs inside this: refusals become their JSON answers, and the time
    // taken goes into the Server-Timing header that the log line reports.
    httplib::Server::Handler guarded(
        std::function<void(const httplib::Request&, httplib::Response&)> handler) {
        return [handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
            const auto start = Clock::now();
            try {
                handler(req, res);
            } catch (const ApiError& e) {
                sendError(res, e);
            } catch (const Error& e) {
                sendJson(res, 500, engineErrorJson(e));
            } catch (const std::exception& e) {
                sendJson(res, 500, errorJson("internal_error", e.what()));
            }
            const std::chrono::duration<double, std::milli> took = Clock::now() - start;
            std::ostringstream timing;
            timing << "total;dur=" << std::fixed << std::setprecision(1) << took.count();
            res.set_header("Server-Timing", timing.str());
        };
    }

    void loadAssets() {
        const fs::path folder = config.web.empty() ? defaultWebDirectory() : config.web;
        for (const auto& asset : kAssets) assets[asset.name] = readFile(folder / asset.name);
    }

    // The picture a request names; `kind` is "map" or "marker".
    static const PictureEntry& chosen(const PictureEntry* entry, const std::string& name,
                                      const std::string& kind) {
        if (!isPlainName(name)) {
            throw ApiError(400, "invalid_name",
                           "A " + kind + " is chosen by name (see /api/" + kind +
                               "s); paths are not accepted.");
        }
        if (!entry)
            throw ApiError(404, "unknown_" + kind,
                           "There is no " + kind + " named \"" + name + "\".");
        return *entry;
    }

    const PictureEntry& map(const std::string& name) const {
        return chosen(library.findMap(name), name, "map");
    }

    const PictureEntry& marker(const std::string& name) const {
        return name.empty() ? library.defaultMarker()
                            : chosen(library.findMarker(name), name, "marker");
    }

    void checkPictureSize(const PictureEntry& entry) const {
        const uint64_t pixels = uint64_t(entry.size.width) * uint64_t(entry.size.height);
        if (pixels > config.limits.maxPicturePixels) {
            throw ApiError(413, "picture_too_large",
                           "Map \"" + entry.name + "\" has " + std::to_string(pixels) +
                               " pixels; this server renders at most " +
                               std::to_string(config.limits.maxPicturePixels) + ".");
        }
    }

    void routes() {
        for (const auto& asset : kAssets) {
            const std::string path =
                std::string("/") + (std::string_view(asset.name) == "index.html" ? "" : asset.name);
            http.Get(path, guarded([this, asset](const httplib::Request&, httplib::Response& res) {
                         res.set_content(assets.at(asset.name), asset.mime);
                         res.set_header("Cache-Control", "no-cache");
                     }));
        }
        http.Get("/healthz", guarded([this](const httplib::Request&, httplib::Response& res) {
                     sendJson(res, 200,
                              {{"status", "ok"},
                               {"workers", pool.workers()},
                               {"maps", library.maps().size()},
                               {"markers", library.markers().size()}});
                 }));
        http.Get("/api/maps", guarded([this](const httplib::Request&, httplib::Response& res) {
                     json maps = json::array();
                     for (const auto& m : library.maps()) {
                         maps.push_back({{"name", m.name},
                                         {"width", m.size.width},
                                         {"height", m.size.height},
                                         {"bounds", boundsJson(m.bounds)},
                                         {"thumbnail", "/api/maps/" + m.name + "/picture"}});
                     }
                     sendJson(res, 200, {{"maps", maps}});
                 }));
        http.Get("/api/markers", guarded([this](const httplib::Request&, httplib::Response& res) {
                     json markers = json::array();
                     for (const auto& m : library.markers()) {
                         markers.push_back({{"name", m.name},
                                            {"width", m.size.width},
                                            {"height", m.size.height},
                                            {"thumbnail", "/api/markers/" + m.name + "/picture"}});
                     }
                     sendJson(res, 200,
                              {{"markers", markers}, {"default", library.defaultMarker().name}});
                 }));
        http.Get(R"(/api/maps/([^/]+)/picture)",
                 guarded([this](const httplib::Request& req, httplib::Response& res) {
                     res.set_content(readFile(map(req.matches[1]).file), "image/jpeg");
                 }));
        http.Get(R"(/api/markers/([^/]+)/picture)",
                 guarded([this](const httplib::Request& req, httplib::Response& res) {
                     res.set_content(readFile(marker(req.matches[1]).file), "image/png");
                 }));
        http.Get(R"(/api/pictures/([0-9a-f]{32})\.(jpg|gif|bmp|png))",
                 guarded([this](const httplib::Request& req, httplib::Response& res) {
                     const auto picture = store.get(req.matches[1].str());
                     if (!picture || picture->extension != req.matches[2].str()) {
                         throw ApiError(
                             404, "unknown_picture",
                             "No such picture; rendered pictures are kept for a while only.");
                     }
                     const auto format = render::formatForExtension(picture->extension);
                     res.set_content(reinterpret_cast<const char*>(picture->bytes.data()),
                                     picture->bytes.size(), mimeFor(format.value()));
                     if (req.has_param("download")) {
                         res.set_header("Content-Disposition",
                                        "attachment; filename=\"" + picture->fileName + "\"");
                     }
                 }));
        http.Post("/api/render",
                  guarded([this](const httplib::Request& req, httplib::Response& res) {
                      handleRender(req, res);
                  }));
        http.Get("/api/lookup",
                 guarded([this](const httplib::Request& req, httplib::Response& res) {
                     handleLookup(req, res);
                 }));
        http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty()) return;
            const char* code = res.status == 413   ? "body_too_large"
                               : res.status == 404 ? "not_found"
                               : res.status == 400 ? "bad_request"
                                                   : "http_error";
            const std::string message = res.status == 404   ? "There is nothing at this address."
                                        : res.status == 413 ? "The request body is too large."
                                                            : "The request could not be served.";
            res.set_content(jsonText(errorJson(code, message)), "application/json");
        });
        http.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
            std::ostringstream line;
            line << utcNow() << ' ' << req.remote_addr << " \"" << req.method << ' ' << req.path
                 << "\" " << res.status << ' ';
            if (res.get_header_value("Content-Type") == "application/x-ndjson") {
                line << "streamed";
            } else {
                line << res.body.size() << " bytes";
            }
            const auto timing = res.get_header_value("Server-Timing");
            if (const auto at = timing.find("dur="); at != std::string::npos) {
                line << ' ' << timing.substr(at + 4) << " ms";
            }
            log.line(line.str());
        });
    }

    RenderOrder readOrder(const httplib::Request& req) const {
        if (!req.is_multipart_form_data()) return orderFromJson(req.body, config.limits);
        RenderOrder order;
        const auto field = [&req](const char* name) {
            return req.has_file(name) ? req.get_file_value(name).content : std::string();
        };
        if (!req.has_file("file"))
            throw ApiError(400, "bad_request", "The upload has no \"file\" part.");
        if (const auto m = field("map"); !m.empty()) order.map = m;
        order.marker = field("marker");
        if (const auto f = field("format"); !f.empty()) order.format = parseFormat(f);
        return orderFromCsv(field("file"), field("column"), std::move(order), config.limits);
    }

    // The style a render asks for: a JSON member or a form field; the plain markers when none.
    StyleOrder readStyle(const httplib::Request& req) const {
        if (!req.is_multipart_form_data()) return styleFromJson(req.body);
        return styleFromForm([&req](const char* name) {
            return req.has_file(name) ? req.get_file_value(name).content : std::string();
        });
    }

    // A thematic style: drawn by the render library's own positions onto the map, with its
    // legend; the answer as for the markers, with the per-area table when asked.
    void handleThematic(const httplib::Request& req, httplib::Response& res,
                        const StyleOrder& style) {
        const auto deadline = Clock::now() + config.limits.deadline;
        const draw::ThematicOptions options = optionsOf(style);
        std::string mapName = "usa";
        render::OutputFormat format = render::OutputFormat::Jpeg;
        std::shared_ptr<render::RowTable> rows;
        if (req.is_multipart_form_data()) {
            const auto field = [&req](const char* name) {
                return req.has_file(name) ? req.get_file_value(name).content : std::string();
            };
            if (!req.has_file("file"))
                throw ApiError(400, "bad_request", "The upload has no \"file\" part.");
            if (const auto m = field("map"); !m.empty()) mapName = m;
            if (const auto f = field("format"); !f.empty()) format = parseFormat(f);
            rows = std::make_shared<render::RowTable>(
                rowsFromCsv(field("file"), field("column"), style, config.limits));
        } else {
            const RenderOrder plain = orderFromJson(req.body, config.limits);
            mapName = plain.map;
            format = plain.format;
            rows = std::make_shared<render::RowTable>(rowsFromJson(req.body, style, config.limits));
        }
        const PictureEntry& mapEntry = map(mapName);
        checkPictureSize(mapEntry);
        if (rows->entries().empty()) {
            throw ApiError(400, "nothing_to_render", "Give at least one zip code.");
        }
        const bool stream =
            req.get_header_value("Accept").find("application/x-ndjson") != std::string::npos;
        auto job = std::make_shared<Job>();
        auto task = [this, job, rows, &mapEntry, options, format, table = style.table] {
            try {
                draw::ThematicRequest request;
                request.map = mapEntry.file;
                request.bounds = mapEntry.bounds;
                request.connection = config.connection;
                request.format = format;
                request.options = options;
                request.tableText = table;
                draw::ThematicResult result = draw::renderThematic(request, *rows);
                const std::string extension(render::formatName(format));
                const size_t bytes = result.bytes.size();
                const auto id = store.put({extension, "zembra-" + mapEntry.name + "." + extension,
                                           std::move(result.bytes)});
                if (!id) {
                    throw ApiError(
                        413, "picture_too_large",
                        "The rendered picture (" + std::to_string(bytes) +
                            " bytes) is larger than this server keeps; try JPEG or PNG.");
                }
                const std::string link = "/api/pictures/" + *id + "." + extension;
                json answer{{"picture", link},
                            {"download", link + "?download=1"},
                            {"format", extension},
                            {"bytes", bytes},
                            {"map", mapEntry.name},
                            {"style", draw::styleName(options.style)},
                            {"width", mapEntry.size.width},
                            {"height", mapEntry.size.height},
                            {"bounds", boundsJson(mapEntry.bounds)},
                            {"requested", result.requested},
                            {"rows", result.rows},
                            {"placed", result.placed},
                            {"placedAtTown", result.placedAtTown},
                            {"notFound", result.notFound},
                            {"points", 0}};
                if (table) answer["table"] = result.table;
                job->finish(200, std::move(answer));
            } catch (const ApiError& e) {
                job->finish(e.status(), errorJson(e.code(), e.what()));
            } catch (const Error& e) {
                job->finish(500, engineErrorJson(e));
            } catch (const std::exception& e) {
                job->finish(500, errorJson("internal_error", e.what()));
            }
        };
        if (!pool.trySubmit(std::move(task))) throw busy();
        if (stream) {
            streamJob(res, job, deadline);
        } else {
            const auto [status, answer] = await(*job, deadline);
            sendJson(res, status, answer);
        }
    }

    void handleRender(const httplib::Request& req, httplib::Response& res) {
        if (const StyleOrder style = readStyle(req); style.thematic()) {
            handleThematic(req, res, style);
            return;
        }
        const auto deadline = Clock::now() + config.limits.deadline;
        auto order = std::make_shared<RenderOrder>(readOrder(req));
        const PictureEntry& mapEntry = map(order->map);
        const PictureEntry& markerEntry = marker(order->marker);
        checkPictureSize(mapEntry);
        if (order->zips.empty() && order->points.empty()) {
            throw ApiError(400, "nothing_to_render", "Give at least one zip code or point.");
        }
        const bool stream =
            req.get_header_value("Accept").find("application/x-ndjson") != std::string::npos;
        const size_t items = order->zips.size() + order->points.size();

        auto job = std::make_shared<Job>();
        auto task = [this, job, order, &mapEntry, &markerEntry, stream, items] {
            render::RenderRequest request;
            request.map = mapEntry.file;
            request.marker = markerEntry.file;
            request.bounds = mapEntry.bounds;
            request.connection = config.connection;
            request.zips = std::move(order->zips);
            request.points = std::move(order->points);
            request.format = order->format;
            // A streamed render reports about twenty steps; otherwise the default pieces.
            request.chunkSize =
                stream ? std::max<size_t>(250, (items + 19) / 20) : render::kDefaultChunkSize;
            request.progress = [job](const render::Progress& p) { job->report(p); };
            request.cancel = &job->cancel;
            try {
                auto result = render::render(request);
                job->finish(200,
                            renderAnswer(std::move(result), mapEntry, markerEntry, order->format));
            } catch (const ApiError& e) {
                job->finish(e.status(), errorJson(e.code(), e.what()));
            } catch (const render::Cancelled&) {
                const auto e = deadlinePassed(config.limits.deadline);
                job->finish(e.status(), errorJson(e.code(), e.what()));
            } catch (const Error& e) {
                job->finish(500, engineErrorJson(e));
            } catch (const std::exception& e) {
                job->finish(500, errorJson("internal_error", e.what()));
            }
        };
        if (!pool.trySubmit(std::move(task))) throw busy();
        if (stream) {
            streamJob(res, job, deadline);
        } else {
            const auto [status, answer] = await(*job, deadline);
            sendJson(res, status, answer);
        }
    }

    json renderAnswer(render::RenderResult result, const PictureEntry& mapEntry,
                      const PictureEntry& markerEntry, render::OutputFormat format) {
        const std::string extension(render::formatName(format));
        const size_t bytes = result.bytes.size();
        const auto id = store.put(
            {extension, "zembra-" + mapEntry.name + "." + extension, std::move(result.bytes)});
        if (!id) {
            throw ApiError(413, "picture_too_large",
                           "The rendered picture (" + std::to_string(bytes) +
                               " bytes) is larger than this server keeps; try JPEG or PNG.");
        }
        const std::string link = "/api/pictures/" + *id + "." + extension;
        return {{"picture", link},
                {"download", link + "?download=1"},
                {"format", extension},
                {"bytes", bytes},
                {"map", mapEntry.name},
                {"marker", markerEntry.name},
                {"width", mapEntry.size.width},
                {"height", mapEntry.size.height},
                {"bounds", boundsJson(mapEntry.bounds)},
                {"requested", result.requested},
                {"placed", result.placed()},
                {"placedAtTown", result.placedAtTown},
                {"notFound", result.notFound},
                {"points", result.points}};
    }

    // Waits for the job until the deadline; past it the job is told to stop.
    std::pair<int, json> await(Job& job, Clock::time_point deadline) const {
        std::unique_lock lock(job.mutex);
        if (!job.changed.wait_until(lock, deadline, [&] { return job.finished; })) {
            job.cancel = true;
            const auto e = deadlinePassed(config.limits.deadline);
            return {e.status(), errorJson(e.code(), e.what())};
        }
        return {job.status, job.answer};
    }

    // Answers as newline-delimited JSON: {"progress": {"done": N, "total": M}} lines while
    // the render goes on, then one {"status": S, "result" or "error": ...} line.
    void streamJob(httplib::Response& res, std::shared_ptr<Job> job, Clock::time_point deadline) {
        res.set_header("Cache-Control", "no-store");
        res.set_chunked_content_provider(
            "application/x-ndjson",
            [this, job, deadline](size_t, httplib::DataSink& sink) {
                std::unique_lock lock(job->mutex);
                const bool changed = job->changed.wait_until(
                    lock, deadline, [&] { return job->finished || job->progressNew; });
                json line;
                if (!changed) {
                    job->cancel = true;
                    const auto e = deadlinePassed(config.limits.deadline);
                    line = {{"status", e.status()},
                            {"error", errorJson(e.code(), e.what())["error"]}};
                } else if (job->finished) {
                    line = {{"status", job->status}};
                    if (job->status == 200) {
                        line["result"] = job->answer;
                    } else {
                        line["error"] = job->answer["error"];
                    }
                } else {
                    job->progressNew = false;
                    line = {{"progress",
                             {{"done", job->progress.done}, {"total", job->progress.total}}}};
                    lock.unlock();
                    const std::string text = jsonText(line) + "\n";
                    return sink.write(text.data(), text.size());
                }
                lock.unlock();
                const std::string text = jsonText(line) + "\n";
                if (!sink.write(text.data(), text.size())) return false;
                sink.done();
                return true;
            },
            // A client that goes away mid-render stops its render.
            [job](bool) { job->cancel = true; });
    }

    void handleLookup(const httplib::Request& req, httplib::Response& res) {
        const auto deadline = Clock::now() + config.limits.deadline;
        if (!req.has_param("map"))
            throw ApiError(400, "bad_request", "Name the map: ?map=usa&x=..&y=..");
        const PictureEntry& mapEntry = map(req.get_param_value("map"));
        render::LookupRequest request;
        request.map = mapEntry.file;
        request.bounds = mapEntry.bounds;
        request.connection = config.connection;
        request.x = pixelParam(req, "x", mapEntry.size.width);
        request.y = pixelParam(req, "y", mapEntry.size.height);
        auto job = std::make_shared<Job>();
        auto task = [job, request] {
            try {
                const auto found = render::lookupPixel(request);
                job->finish(200, {{"zip", found.zip ? json(*found.zip) : json(nullptr)},
                                  {"city", found.city},
                                  {"state", found.state},
                                  {"lat", found.position.lat},
                                  {"lon", found.position.lon},
                                  {"x", request.x},
                                  {"y", request.y}});
            } catch (const Error& e) {
                job->finish(500, engineErrorJson(e));
            } catch (const std::exception& e) {
                job->finish(500, errorJson("internal_error", e.what()));
            }
        };
        if (!pool.trySubmit(std::move(task))) throw busy();
        const auto [status, answer] = await(*job, deadline);
        sendJson(res, status, answer);
    }
};

Server::Server(ServerConfig config, Log& log) {
    auto images = config.images.empty() ? cli::defaultImagesDirectory() : config.images;
    std::ostringstream skipped;
    auto library = PictureLibrary::scan(images, skipped);
    std::istringstream lines(skipped.str());
    for (std::string line; std::getline(lines, line);) log.line(line);
    impl_ = std::make_unique<Impl>(std::move(config), log, std::move(library));
    impl_->loadAssets();
    const size_t connections = impl_->config.limits.connections;
    // The library owns and deletes the queue it is handed.
    impl_->http.new_task_queue = [connections] {
        return std::make_unique<httplib::ThreadPool>(connections).release();
    };
    impl_->http.set_payload_max_length(impl_->config.limits.maxBodyBytes);
    // The library's default adds SO_REUSEPORT, with which a second server binds the same
    // port and quietly takes part of its requests. Only a quick restart is wanted.
    impl_->http.set_socket_options([](int sock) {
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // The page may load only from this server; browsers take answers as the type given.
    impl_->http.set_default_headers(
        {{"Content-Security-Policy",
          "default-src 'self'; img-src 'self' blob: data:; style-src 'self'; object-src 'none'; "
          "frame-ancestors 'none'"},
         {"X-Content-Type-Options", "nosniff"}});
    impl_->routes();
}

Server::~Server() { stop(); }

int Server::bind() {
    auto& impl = *impl_;
    const bool bound = impl.config.port == 0
                           ? (impl.port = impl.http.bind_to_any_port(impl.config.bind)) > 0
                           : impl.http.bind_to_port(impl.config.bind, impl.config.port);
    if (!bound) {
        throw Error::standard(err::kInvalidArgument, std::string(kSource),
                              "Cannot listen on " + impl.config.bind + ":" +
                                  std::to_string(impl.config.port) +
                                  " (address in use, or not an address of this machine).");
    }
    if (impl.config.port != 0) impl.port = impl.config.port;
    return impl.port;
}

// A client that goes away while its answer is written costs an EPIPE, not the process:
// the HTTP library sets SIGPIPE to be ignored when its server is created.
void Server::run() {
    impl_->running = true;
    if (!impl_->stopRequested) impl_->http.listen_after_bind();
    impl_->done = true;
}

void Server::stop() {
    if (!impl_) return;
    impl_->stopRequested = true;
    if (!impl_->running) return;
    // The library ignores a stop before its listening loop has begun.
    while (!impl_->done && !impl_->http.is_running()) std::this_thread::yield();
    impl_->http.stop();
}

}  // namespace zembra::serve
