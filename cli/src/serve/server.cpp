#include "serve/server.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>
#include <zembra/render/parameters.hpp>
#include <zembra/render/plotted.hpp>
#include <zembra/render/positions.hpp>
#include <zembra/render/render.hpp>
#include <zembra/runtime.hpp>
#include <zembra/text.hpp>

#include "core/images.hpp"
#include "serve/http_server.hpp"
#include "serve/library.hpp"
#include "serve/link_store.hpp"
#include "serve/multipart.hpp"
#include "serve/order.hpp"
#include "serve/picture_store.hpp"
#include "serve/public_errors.hpp"
#include "serve/region_maps.hpp"
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

// The format table's MIME types are literals, so their text ends in a NUL.
const char* mimeFor(render::OutputFormat format) {
    return imaging::formatInfo(format).mimeType.data();
}

// The render parameters a request may give, as the page builds its controls from them.
json parametersJson() {
    json list = json::array();
    for (const render::Parameter& p : render::renderParameters()) {
        if (!p.offeredIn(render::kWebRender)) continue;
        static constexpr std::array<const char*, 8> kKinds{"picture", "format", "count",  "bounds",
                                                           "text",    "switch", "choice", "column"};
        json row = {{"name", p.name},
                    {"type", kKinds.at(static_cast<size_t>(p.kind))},
                    {"default", p.defaultValue},
                    {"label", p.label.empty() ? p.name : p.label},
                    {"section", p.section},
                    {"styling", p.styling},
                    {"help", p.help}};
        if (p.kind == render::ParameterKind::Switch) {
            row["default"] = render::switchValue(p, p.defaultValue);
        }
        if (!p.choices.empty()) {
            json choices = json::array();
            for (const auto& c : p.choices) {
                choices.push_back({{"value", c.value}, {"label", c.label}});
            }
            row["choices"] = choices;
        }
        if (p.kind == render::ParameterKind::Count) {
            row["minimum"] = p.minimum;
            if (p.maximum != UINT64_MAX) row["maximum"] = p.maximum;
        }
        list.push_back(std::move(row));
    }
    return list;
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw Error::standard(err::kFileNotFound, std::string(kSource), file.string());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The content of the part named `name`; empty when there is none.
std::string partText(const std::vector<FormPart>& parts, std::string_view name) {
    const FormPart* part = findPart(parts, name);
    return part ? part->content : std::string();
}

json boundsJson(const render::Bounds& b) {
    return {{"minLat", b.minLat}, {"maxLat", b.maxLat}, {"minLon", b.minLon}, {"maxLon", b.maxLon}};
}

json errorJson(const std::string& code, const std::string& message) {
    return {{"error", {{"code", code}, {"message", message}}}};
}

// JSON text; bytes that are not UTF-8 (a code from a file in another encoding) become
// U+FFFD instead of failing the answer.
std::string jsonText(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

http::Response jsonResponse(int status, const json& body) {
    http::Response r;
    r.status = status;
    r.set("Content-Type", "application/json");
    r.body = jsonText(body);
    if (status == 503) r.set("Retry-After", "2");
    return r;
}

http::Response errorResponse(const ApiError& e) {
    json body = errorJson(e.code(), e.what());
    if (e.limit()) body["error"]["limit"] = *e.limit();
    return jsonResponse(e.status(), body);
}

ApiError busy() {
    return ApiError(503, "busy", "Every worker is busy and the queue is full; try again shortly.");
}

// Seconds as given: "60 s", "0.05 s", "1.5 s".
std::string secondsText(std::chrono::milliseconds ms) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(3) << static_cast<double>(ms.count()) / 1000.0;
    std::string s = text.str();
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s + " s";
}

ApiError deadlinePassed(std::chrono::milliseconds deadline) {
    return ApiError(
        503, "deadline_exceeded",
        "The request was not done within " + secondsText(deadline) + " and was cancelled.");
}

ApiError stopping() {
    return ApiError(503, "stopping", "The server is stopping; try again shortly.");
}

// A pixel coordinate from the query: a whole number inside the picture.
int32_t pixelParam(const http::Request& req, const char* name, int32_t extent) {
    const std::string text = req.param(name);
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
// handler thread that waits for it.
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

std::string utcText(std::time_t when) {
    std::tm tm{};
    gmtime_r(&when, &tm);
    std::ostringstream text;
    text << std::put_time(&tm, "%Y-%m-%dT%H:%M:%SZ");
    return text.str();
}

// An icon file holding one PNG picture (the default marker), as browsers ask for it.
std::string iconFile(const std::string& png, int width, int height) {
    std::string ico;
    const auto u16 = [&ico](unsigned v) {
        ico += static_cast<char>(v & 0xFF);
        ico += static_cast<char>((v >> 8) & 0xFF);
    };
    const auto u32 = [&u16](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    u16(0);
    u16(1);  // an icon
    u16(1);  // one picture
    ico += static_cast<char>(width >= 256 ? 0 : width);
    ico += static_cast<char>(height >= 256 ? 0 : height);
    ico += '\0';  // no palette
    ico += '\0';
    u16(1);   // planes
    u16(32);  // bits per pixel
    u32(static_cast<uint32_t>(png.size()));
    u32(22);  // the picture follows the 6-byte header and the 16-byte entry
    return ico + png;
}

// The host part of a Host header: "[::1]:8080" -> "::1", "Example.org:80" -> "example.org".
std::string hostName(std::string_view header) {
    std::string host;
    if (!header.empty() && header.front() == '[') {
        const auto close = header.find(']');
        host = std::string(header.substr(1, close == std::string_view::npos ? close : close - 1));
    } else {
        host = std::string(header.substr(0, header.rfind(':')));
        if (header.find(':') == std::string_view::npos) host = std::string(header);
    }
    return lowerAscii(host);
}

bool isLoopbackName(const std::string& host) {
    if (host == "localhost" || host == "::1") return true;
    if (host.size() > 10 && host.compare(host.size() - 10, 10, ".localhost") == 0) return true;
    // 127.0.0.0/8 written as a dotted quad.
    int parts = 0;
    unsigned first = 0;
    for (size_t at = 0; at <= host.size(); ++parts) {
        const auto dot = std::min(host.find('.', at), host.size());
        const auto part = std::string_view(host).substr(at, dot - at);
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || ec != std::errc() || end != part.data() + part.size() || value > 255)
            return false;
        if (parts == 0) first = value;
        at = dot + 1;
    }
    return parts == 4 && first == 127;
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
    using Handler = std::function<std::optional<http::Response>(
        const http::Request&, const std::smatch&, const std::shared_ptr<http::Reply>&)>;
    struct Route {
        std::string method;
        std::regex pattern;
        Handler handler;
    };

    ServerConfig config;
    Log& log;
    PictureLibrary library;
    RegionMaps regions;  // before the pool, whose workers draw with it
    std::map<std::string, std::string> assets;
    std::string favicon;
    // Before the pool, whose last tasks still use them while it goes.
    std::atomic<bool> stopping{false};
    std::mutex jobsMutex;
    std::vector<std::weak_ptr<Job>> jobs;
    std::mutex sweepMutex;
    Clock::time_point lastSweep{};
    std::unique_ptr<LinkStore> links;
    PictureCache cache;
    WorkerPool pool;
    std::vector<Route> routes;
    // Last, so that it goes first: its handler threads wait for jobs of the pool.
    std::unique_ptr<http::HttpServer> http;

    Impl(ServerConfig c, Log& l, PictureLibrary lib)
        : config(std::move(c)),
          log(l),
          library(std::move(lib)),
          cache(config.limits.cacheBytes),
          pool(config.limits.workers ? config.limits.workers
                                     : std::max(1u, std::thread::hardware_concurrency()),
               config.limits.queue) {}

    // ---- shared answers ----

    // Every answer: the page may load only from this server; browsers take answers as the
    // type given.
    static void addDefaultHeaders(http::Response& r) {
        r.set("Content-Security-Policy",
              "default-src 'self'; img-src 'self' blob: data:; style-src 'self'; "
              "object-src 'none'; frame-ancestors 'none'");
        r.set("X-Content-Type-Options", "nosniff");
    }

    http::Response internalError(const Error& e) const {
        // The whole error stays in the log; the client learns what kind of failure it was.
        log.line("zembra serve: error " + std::to_string(e.number()) + " (" + e.source() +
                 "): " + e.description());
        json body = errorJson("engine_error", publicDescription(e));
        body["error"]["number"] = e.number();
        return jsonResponse(500, body);
    }

    std::shared_ptr<Job> newJob() {
        auto job = std::make_shared<Job>();
        std::lock_guard lock(jobsMutex);
        std::erase_if(jobs, [](const auto& w) { return w.expired(); });
        jobs.push_back(job);
        if (stopping) job->cancel = true;
        return job;
    }

    void cancelAll() {
        stopping = true;
        std::lock_guard lock(jobsMutex);
        for (const auto& w : jobs)
            if (auto job = w.lock()) job->cancel = true;
    }

    // Runs `work` on the pool and waits for it until the deadline; past it the job is told
    // to stop.
    std::pair<int, json> runJob(std::function<void(Job&)> work, Clock::time_point deadline) {
        auto job = newJob();
        submit(job, [job, work = std::move(work)] { work(*job); });
        return await(*job, deadline);
    }

    // Runs `work` on the pool for `job`; what it raises finishes the job with the failure's
    // answer, in the same words a handler would give.
    void submit(const std::shared_ptr<Job>& job, std::function<void()> work) {
        const bool queued = pool.trySubmit([this, job, work = std::move(work)] {
            try {
                work();
            } catch (...) {
                int status = 500;
                json answer = failure(std::current_exception(), status);
                job->finish(status, std::move(answer));
            }
        });
        if (!queued) throw busy();
    }

    // Runs `work` for `job` as submit does. Its answer streams to `reply` when `stream`,
    // otherwise it is awaited until the deadline.
    std::optional<http::Response> answerJob(const std::shared_ptr<Job>& job,
                                            std::function<void()> work, bool stream,
                                            const std::shared_ptr<http::Reply>& reply,
                                            Clock::time_point deadline) {
        submit(job, std::move(work));
        if (stream) {
            streamJob(reply, job, deadline);
            return std::nullopt;
        }
        const auto [status, answer] = await(*job, deadline);
        return jsonResponse(status, answer);
    }

    std::pair<int, json> await(Job& job, Clock::time_point deadline) const {
        std::unique_lock lock(job.mutex);
        if (!job.changed.wait_until(lock, deadline, [&] { return job.finished; })) {
            job.cancel = true;
            const auto e = deadlinePassed(config.limits.deadline);
            return {e.status(), errorJson(e.code(), e.what())};
        }
        return {job.status, job.answer};
    }

    // The answer of a failed job, in the same words a handler would give.
    json failure(const std::exception_ptr& caught, int& status) const {
        try {
            std::rethrow_exception(caught);
        } catch (const ApiError& e) {
            status = e.status();
            return errorJson(e.code(), e.what());
        } catch (const render::Cancelled&) {
            const auto e = stopping ? serve::stopping() : deadlinePassed(config.limits.deadline);
            status = e.status();
            return errorJson(e.code(), e.what());
        } catch (const Error& e) {
            const auto r = internalError(e);
            status = 500;
            return json::parse(r.body);
        } catch (const std::exception& e) {
            log.line(std::string("zembra serve: internal error: ") + e.what());
            status = 500;
            return errorJson("internal_error", "The server failed; see its log.");
        }
    }

    // ---- the catalogue ----

    void loadAssets() {
        const fs::path folder = config.web.empty() ? defaultWebDirectory() : config.web;
        for (const auto& asset : kAssets) assets[asset.name] = readFile(folder / asset.name);
        const auto& marker = library.defaultMarker();
        favicon = iconFile(readFile(marker.file), marker.size.width, marker.size.height);
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
        const auto limits = imaging::Limits::ofPixels(config.limits.maxPicturePixels);
        if (!limits.allows(uint64_t(entry.size.width), uint64_t(entry.size.height))) {
            throw ApiError(413, "picture_too_large",
                           "Map \"" + entry.name + "\" has " + std::to_string(pixels) +
                               " pixels; this server renders at most " +
                               std::to_string(config.limits.maxPicturePixels) + ".",
                           config.limits.maxPicturePixels);
        }
    }

    // ---- routes ----

    void add(std::string method, const std::string& pattern, Handler handler) {
        routes.push_back({std::move(method), std::regex(pattern), std::move(handler)});
    }

    static http::Response content(std::string body, const char* type) {
        http::Response r;
        r.set("Content-Type", type);
        r.body = std::move(body);
        return r;
    }

    void addRoutes() {
        for (const auto& asset : kAssets) {
            const std::string path =
                std::string("/") + (std::string_view(asset.name) == "index.html" ? "" : asset.name);
            add("GET", path, [this, asset](const auto&, const auto&, const auto&) {
                auto r = content(assets.at(asset.name), asset.mime);
                r.set("Cache-Control", "no-cache");
                return r;
            });
        }
        add("GET", "/favicon.ico", [this](const auto&, const auto&, const auto&) {
            auto r = content(favicon, "image/x-icon");
            r.set("Cache-Control", "max-age=86400");
            return r;
        });
        add("GET", "/healthz", [this](const auto&, const auto&, const auto&) {
            return jsonResponse(200, {{"status", "ok"},
                                      {"workers", pool.workers()},
                                      {"maps", library.maps().size()},
                                      {"markers", library.markers().size()},
                                      {"keepDays", config.limits.keepFor.count() / 86400.0}});
        });
        add("GET", "/api/parameters", [](const auto&, const auto&, const auto&) {
            return jsonResponse(200, {{"parameters", parametersJson()}});
        });
        add("GET", "/api/maps", [this](const auto&, const auto&, const auto&) {
            json maps = json::array();
            for (const auto& m : library.maps()) {
                maps.push_back({{"name", m.name},
                                {"width", m.size.width},
                                {"height", m.size.height},
                                {"bounds", boundsJson(m.bounds)},
                                {"thumbnail", "/api/maps/" + m.name + "/picture"}});
            }
            return jsonResponse(200, {{"maps", maps}});
        });
        add("GET", "/api/markers", [this](const auto&, const auto&, const auto&) {
            json markers = json::array();
            for (const auto& m : library.markers()) {
                markers.push_back({{"name", m.name},
                                   {"width", m.size.width},
                                   {"height", m.size.height},
                                   {"thumbnail", "/api/markers/" + m.name + "/picture"}});
            }
            return jsonResponse(200,
                                {{"markers", markers}, {"default", library.defaultMarker().name}});
        });
        add("GET", R"(/api/maps/([^/]+)/picture)", [this](const auto&, const auto& m, const auto&) {
            const PictureEntry& entry = map(m[1]);
            return content(readFile(entry.file), mimeFor(entry.size.format));
        });
        add("GET", R"(/api/markers/([^/]+)/picture)",
            [this](const auto&, const auto& m, const auto&) {
                const PictureEntry& entry = marker(m[1]);
                return content(readFile(entry.file), mimeFor(entry.size.format));
            });
        add("GET", R"(/api/pictures/([0-9a-f]{32})\.([a-z]+))",
            [this](const http::Request& req, const std::smatch& m, const auto&) {
                return handlePicture(req, m[1], m[2]);
            });
        add("GET", R"(/api/renders/([0-9a-f]{32}))",
            [this](const auto&, const std::smatch& m, const auto&) {
                const auto kept = keptRender(m[1]);
                json answer = kept.record;
                answer["result"] = withLinks(answer["result"], m[1], kept.created);
                return jsonResponse(200, answer);
            });
        add("POST", "/api/columns",
            [](const http::Request& req, const auto&, const auto&) { return handleColumns(req); });
        add("POST", "/api/render",
            [this](const http::Request& req, const auto&,
                   const std::shared_ptr<http::Reply>& reply) { return handleRender(req, reply); });
        add("GET", "/api/lookup", [this](const http::Request& req, const auto&, const auto&) {
            return handleLookup(req);
        });
    }

    // Answers one request on a handler thread.
    void handle(const http::Request& req, const std::shared_ptr<http::Reply>& reply) {
        const auto start = Clock::now();
        std::optional<http::Response> answer;
        try {
            answer = dispatch(req, reply);
        } catch (const ApiError& e) {
            answer = errorResponse(e);
        } catch (const Error& e) {
            answer = internalError(e);
        } catch (const std::exception& e) {
            log.line(std::string("zembra serve: internal error: ") + e.what());
            answer =
                jsonResponse(500, errorJson("internal_error", "The server failed; see its log."));
        }
        if (!answer) return;  // streamed
        const std::chrono::duration<double, std::milli> took = Clock::now() - start;
        std::ostringstream timing;
        timing << "total;dur=" << std::fixed << std::setprecision(1) << took.count();
        answer->set("Server-Timing", timing.str());
        addDefaultHeaders(*answer);
        reply->send(std::move(*answer));
    }

    std::optional<http::Response> dispatch(const http::Request& req,
                                           const std::shared_ptr<http::Reply>& reply) {
        const std::string method = req.method == "HEAD" ? "GET" : req.method;
        std::vector<std::string> allowed;
        for (const auto& route : routes) {
            std::smatch match;
            if (!std::regex_match(req.path, match, route.pattern)) continue;
            if (route.method == method) return route.handler(req, match, reply);
            allowed.push_back(route.method);
        }
        if (allowed.empty()) throw ApiError(404, "not_found", "There is nothing at this address.");
        if (std::find(allowed.begin(), allowed.end(), "GET") != allowed.end())
            allowed.push_back("HEAD");
        std::string list;
        for (const auto& a : allowed) list += (list.empty() ? "" : ", ") + a;
        auto r = errorResponse(ApiError(405, "method_not_allowed",
                                        req.method + " is not answered here; use " + list + "."));
        r.set("Allow", list);
        return r;
    }

    // Refusals that need no body: a Host a loopback server does not answer to (a page of
    // another site reaching it by DNS rebinding), and a body of a type a form of another
    // site could send without asking.
    std::optional<http::Response> checkHead(const http::Request& req) const {
        const auto refuse = [](const ApiError& e) {
            auto r = errorResponse(e);
            addDefaultHeaders(r);
            return r;
        };
        if (http->loopback()) {
            if (!req.hasHeader("Host") && req.version >= 11) {
                return refuse(ApiError(400, "bad_request", "The request names no Host."));
            }
            const std::string host = hostName(req.header("Host"));
            const bool allowed =
                !req.hasHeader("Host") || isLoopbackName(host) ||
                std::any_of(config.allowedHosts.begin(), config.allowedHosts.end(),
                            [&](const std::string& a) { return equalsIgnoreCase(a, host); });
            if (!allowed) {
                return refuse(ApiError(
                    403, "host_not_allowed",
                    "This server answers to localhost and loopback addresses only (and to the "
                    "names given with --allowed-host), not to \"" +
                        host.substr(0, 100) + "\"."));
            }
        }
        if (req.method == "POST") {
            const std::string type = req.header("Content-Type");
            const auto semi = type.find(';');
            std::string bare = lowerAscii(type.substr(0, semi));
            while (!bare.empty() && bare.back() == ' ') bare.pop_back();
            if (bare != "application/json" && bare != "multipart/form-data") {
                return refuse(
                    ApiError(415, "unsupported_media_type",
                             "Send the body as application/json or multipart/form-data" +
                                 (bare.empty() ? std::string(" (the request names no type).")
                                               : ", not " + bare.substr(0, 80) + ".")));
            }
        }
        return std::nullopt;
    }

    // ---- renders ----

    // The header of an upload (and a workbook's sheets), read by the readers a render uses,
    // so that the page offers the columns of any list it can render.
    static http::Response handleColumns(const http::Request& req) {
        const auto boundary = multipartBoundary(req.header("Content-Type"));
        if (!boundary)
            throw ApiError(400, "bad_request", "Upload the file as multipart/form-data.");
        const auto parts = parseMultipart(req.body, *boundary);
        const auto* file = findPart(parts, "file");
        if (!file) throw ApiError(400, "bad_request", "The upload has no \"file\" part.");
        const auto* sheet = findPart(parts, "sheet");
        const UploadColumns found = uploadColumns(file->content, sheet ? sheet->content : "");
        json answer = {{"columns", found.columns}, {"readAs", found.readAs}};
        if (!found.sheets.empty()) answer["sheets"] = found.sheets;
        return jsonResponse(200, answer);
    }

    // The order of a JSON body, or the parameters of an upload's form fields; `parts` gets
    // the upload's parts.
    RenderOrder readOrder(const http::Request& req, std::vector<FormPart>& parts) const {
        const auto boundary = multipartBoundary(req.header("Content-Type"));
        if (!boundary) return orderFromJson(req.body, config.limits);
        parts = parseMultipart(req.body, *boundary);
        if (!findPart(parts, "file"))
            throw ApiError(400, "bad_request", "The upload has no \"file\" part.");
        return orderFromFields([&parts](const std::string& name) { return partText(parts, name); });
    }

    // What a link needs to render the picture again: the order with the names resolved
    // (a drawn map by its bounds and width, so that a fit is drawn the same again).
    static json keptOrder(const RenderOrder& order, const PictureEntry& mapEntry,
                          const PictureEntry& markerEntry, bool drawn) {
        json points = json::array();
        for (const auto& p : order.points) points.push_back({{"lat", p.lat}, {"lon", p.lon}});
        json kept = {{"marker", markerEntry.name},
                     {"format", std::string(render::formatName(order.format))},
                     {"zips", order.zips},
                     {"points", points}};
        // The other render parameters as given, so that the picture renders again the same.
        for (const render::Parameter& p : render::renderParameters()) {
            if (!p.offeredIn(render::kWebRender) || kept.contains(p.name)) continue;
            if (p.name == "map" || p.name == "region" || p.name == "width") continue;
            if (order.values.given(p.name)) kept[p.name] = order.values.text(p.name);
        }
        if (drawn) {
            kept["region"] = render::boundsText(mapEntry.bounds);
            kept["width"] = mapEntry.size.width;
        } else {
            kept["map"] = mapEntry.name;
        }
        return kept;
    }

    // The map a render draws on: a picture of the library, or a map drawn for a region.
    struct MapChoice {
        const PictureEntry* entry = nullptr;
        std::shared_ptr<const draw::Region> region;
    };

    MapChoice chooseMap(const RenderOrder& order) const {
        MapChoice choice;
        if (!order.region.empty()) {
            if (order.mapGiven)
                throw ApiError(400, "bad_request", "Give \"map\" or \"region\", not both.");
            choice.region = std::make_shared<const draw::Region>(RegionMaps::parse(order.region));
        } else if (order.width > 0) {
            throw ApiError(400, "bad_request",
                           "\"width\" is the width of a map drawn for a \"region\".");
        } else {
            choice.entry = &map(order.map);
            checkPictureSize(*choice.entry);
        }
        return choice;
    }

    // On a worker: draws the region's map when there is one and renders; `used` tells which
    // map (name, size, bounds) it was.
    render::RenderResult renderOn(const MapChoice& choice, const RenderOrder& order,
                                  render::RenderRequest request, PictureEntry& used) {
        std::unique_ptr<draw::TemporaryMap> drawn;
        if (choice.region) {
            const auto plan = regions.plan(
                *choice.region, order.width,
                [&] { return render::positionsOf(config.connection, request.zips, true); },
                config.limits.maxPicturePixels);
            drawn = regions.draw(plan);
            request.map = drawn->path();
            request.bounds = plan.bounds;
            used = {"region", drawn->path(), {plan.width, plan.height}, plan.bounds};
        } else {
            request.map = choice.entry->file;
            request.bounds = choice.entry->bounds;
            used = *choice.entry;
        }
        return render::render(request);
    }

    json withLinks(json result, const std::string& id, WallClock::time_point created) const {
        const std::string extension = result["format"];
        const std::string link = "/api/pictures/" + id + "." + extension;
        result["id"] = id;
        result["picture"] = link;
        result["download"] = link + "?download=1";
        result["share"] = "/?render=" + id;
        result["keptUntil"] = utcText(WallClock::to_time_t(created + config.limits.keepFor));
        return result;
    }

    render::RenderRequest renderRequest(const RenderOrder& order,
                                        const PictureEntry& markerEntry) const {
        render::RenderRequest request;
        render::applyParameters(order.values, request);
        request.marker = markerEntry.file;
        request.connection = config.connection;
        request.zips = order.zips;
        request.points = order.points;
        request.format = order.format;
        return request;
    }

    // A thematic style as a render draws it: with the render library's own positions onto a
    // map of the library or one drawn for the region, with its legend. On a worker.
    struct StyleDrawn {
        draw::ThematicResult result;
        PictureEntry used;  // which map (name, size, bounds) it was drawn on
    };
    StyleDrawn drawStyle(const MapChoice& choice, const RenderOrder& order,
                         const draw::ThematicOptions& options, const render::RowTable& rows) {
        const auto switchOf = [&order](const char* name) {
            return render::switchValue(render::parameter(name), order.values.text(name));
        };
        draw::ThematicRequest request;
        request.towns = switchOf("towns");
        request.exact = switchOf("exact");
        request.tableText = switchOf("table");
        request.format = order.format;
        request.options = options;
        request.connection = config.connection;
        std::unique_ptr<draw::TemporaryMap> drawn;
        StyleDrawn out;
        if (choice.region) {
            const auto plan = regions.plan(
                *choice.region, order.width,
                [&] { return render::positionsOf(config.connection, rows.codes(), request.towns); },
                config.limits.maxPicturePixels);
            drawn = regions.draw(plan);
            out.used = {"region", drawn->path(), {plan.width, plan.height}, plan.bounds};
        } else {
            out.used = *choice.entry;
        }
        request.map = out.used.file;
        request.bounds = out.used.bounds;
        out.result = draw::renderThematic(request, rows);
        return out;
    }

    // A thematic style render: answered as the markers are, with the per-area table when
    // asked. Its link keeps the order with the rows read (not the upload), so that the
    // picture is drawn again from it as a plain render's is.
    std::optional<http::Response> handleThematic(const http::Request& req,
                                                 const std::shared_ptr<http::Reply>& reply,
                                                 RenderOrder read,
                                                 const std::vector<FormPart>& parts,
                                                 const draw::ThematicOptions& options) {
        const auto deadline = Clock::now() + config.limits.deadline;
        auto order = std::make_shared<const RenderOrder>(std::move(read));
        const MapChoice choice = chooseMap(*order);
        std::shared_ptr<render::RowTable> rows;
        if (!parts.empty()) {
            rows = std::make_shared<render::RowTable>(
                rowsFromCsv(partText(parts, "file"), order->values.text("column"), options,
                            config.limits, order->values.text("sheet")));
        } else {
            rows =
                std::make_shared<render::RowTable>(rowsFromJson(req.body, options, config.limits));
        }
        if (rows->entries().empty()) {
            throw ApiError(400, "nothing_to_render", "Give at least one zip code.");
        }
        const bool stream = req.header("Accept").find("application/x-ndjson") != std::string::npos;
        auto job = newJob();
        auto task = [this, job, order, rows, choice, options] {
            StyleDrawn style = drawStyle(choice, *order, options, *rows);
            draw::ThematicResult& result = style.result;
            json answer = countsJson(*order, style.used, result);
            answer["style"] = draw::styleName(options.style);
            answer["rows"] = result.rows;
            answer["points"] = 0;
            if (render::switchValue(render::parameter("table"), order->values.text("table")))
                answer["table"] = result.table;
            const bool drawn = choice.region != nullptr;
            if (drawn) answer["region"] = render::boundsText(style.used.bounds);
            // The codes are the rows', read once: an upload is kept as its rows.
            json kept = keptOrder(*order, style.used, library.defaultMarker(), drawn);
            kept["zips"] = json::array();
            kept["rows"] = rowsJson(*rows);
            job->finish(200, remember(std::move(kept), std::move(answer), style.used.name,
                                      std::move(result.bytes)));
        };
        return answerJob(job, std::move(task), stream, reply, deadline);
    }

    std::optional<http::Response> handleRender(const http::Request& req,
                                               const std::shared_ptr<http::Reply>& reply) {
        if (stopping) throw serve::stopping();
        std::vector<FormPart> parts;
        RenderOrder read = readOrder(req, parts);
        if (const auto style = styleOf(read.values)) {
            return handleThematic(req, reply, std::move(read), parts, *style);
        }
        if (!parts.empty()) {
            // The column is read before the order moves into the call.
            const std::string column = read.values.text("column");
            read = orderFromCsv(partText(parts, "file"), column, std::move(read), config.limits);
        }
        const auto deadline = Clock::now() + config.limits.deadline;
        auto order = std::make_shared<RenderOrder>(std::move(read));
        const MapChoice choice = chooseMap(*order);
        const PictureEntry& markerEntry = marker(order->marker);
        if (order->zips.empty() && order->points.empty()) {
            throw ApiError(400, "nothing_to_render", "Give at least one zip code or point.");
        }
        const bool stream = req.header("Accept").find("application/x-ndjson") != std::string::npos;
        const size_t items = order->zips.size() + order->points.size();

        auto job = newJob();
        auto task = [this, job, order, choice, &markerEntry, stream, items] {
            auto request = renderRequest(*order, markerEntry);
            // A streamed render reports about twenty steps; otherwise the default pieces.
            request.chunkSize =
                stream ? std::max<size_t>(250, (items + 19) / 20) : render::kDefaultChunkSize;
            request.progress = [job](const render::Progress& p) { job->report(p); };
            request.cancel = &job->cancel;
            PictureEntry used;
            auto result = renderOn(choice, *order, std::move(request), used);
            job->finish(
                200, keep(*order, used, markerEntry, std::move(result), choice.region != nullptr));
        };
        return answerJob(job, std::move(task), stream, reply, deadline);
    }

    // The region map for outside codes no shipped map holds, as the region field takes it.
    static json regionJson(const render::RenderResult& result) {
        return result.suggestedRegion.empty() ? json(nullptr) : json(result.suggestedRegion);
    }

    static json suggestionsJson(const render::RenderResult& result) {
        json maps = json::array();
        for (const auto& s : result.suggestions)
            maps.push_back({{"map", s.map}, {"codes", s.codes}});
        return maps;
    }

    // What every render's answer tells of its picture and its codes, plain or styled.
    static json countsJson(const RenderOrder& order, const PictureEntry& map,
                           const render::RenderResult& result) {
        return {{"format", std::string(render::formatName(order.format))},
                {"bytes", result.bytes.size()},
                {"map", map.name},
                {"width", map.size.width},
                {"height", map.size.height},
                {"bounds", boundsJson(map.bounds)},
                {"requested", result.requested},
                {"placed", result.placed()},
                {"placedAtTown", result.placedAtTown},
                {"placedWithoutPlus4", result.placedWithoutPlus4},
                {"placedWithZeros", result.placedWithZeros},
                {"outside", result.outside},
                {"suggestedMaps", suggestionsJson(result)},
                {"suggestedRegion", regionJson(result)},
                {"summary", render::summarize(result)},
                {"notFound", result.notFound}};
    }

    // Keeps the order in the link store and the picture in memory; the answer with links.
    json keep(const RenderOrder& order, const PictureEntry& mapEntry,
              const PictureEntry& markerEntry, render::RenderResult result, bool drawn) {
        json summary = countsJson(order, mapEntry, result);
        summary["marker"] = markerEntry.name;
        summary["readAs"] = order.readAs;
        summary["points"] = result.points;
        // A drawn map is asked about again by its bounds: ?region=minLat,...&width=...
        if (drawn) summary["region"] = render::boundsText(mapEntry.bounds);
        return remember(keptOrder(order, mapEntry, markerEntry, drawn), std::move(summary),
                        mapEntry.name, std::move(result.bytes));
    }

    // Keeps `order` (what draws the picture again) and `summary` (the answer, in the format
    // it names) under a new id in the link store and the picture in memory; the answer with
    // its links.
    json remember(json order, json summary, const std::string& mapName,
                  std::vector<uint8_t> bytes) {
        const std::string extension = summary["format"];
        const std::string id = newLinkId();
        const json record = {{"order", std::move(order)}, {"result", summary}};
        const auto now = WallClock::now();
        links->put(id, jsonText(record), now);
        sweepNowAndThen(now);
        cache.put(id + "." + extension,
                  std::make_shared<const StoredPicture>(StoredPicture{
                      extension, "zembra-" + mapName + "." + extension, std::move(bytes)}));
        return withLinks(std::move(summary), id, now);
    }

    // Entries past their keeping time go at most once an hour, on the way of a render.
    void sweepNowAndThen(WallClock::time_point now) {
        {
            std::lock_guard lock(sweepMutex);
            if (lastSweep != Clock::time_point{} &&
                Clock::now() - lastSweep < std::chrono::hours(1))
                return;
            lastSweep = Clock::now();
        }
        try {
            links->removeOlderThan(now - config.limits.keepFor);
        } catch (const Error& e) {
            log.line("zembra serve: the link store could not be swept: " + publicDescription(e));
        }
    }

    struct Kept {
        json record;
        WallClock::time_point created;
    };

    Kept keptRender(const std::string& id) const {
        const auto expired = [] {
            return ApiError(404, "unknown_picture", "No such picture, or its link has expired.");
        };
        const auto kept = links->get(id);
        if (!kept || WallClock::now() - kept->created > config.limits.keepFor) throw expired();
        json record = json::parse(kept->record, nullptr, false);
        if (!record.is_object() || !record.contains("order") || !record.contains("result"))
            throw expired();
        return {std::move(record), kept->created};
    }

    http::Response handlePicture(const http::Request& req, const std::string& id,
                                 const std::string& extension) {
        const std::string key = id + "." + extension;
        auto picture = cache.get(key);
        if (!picture) picture = renderAgain(id, extension);
        const auto format = render::formatForExtension(picture->extension);
        http::Response r = content(std::string(picture->bytes.begin(), picture->bytes.end()),
                                   mimeFor(format.value()));
        // A link names one picture for as long as it lives.
        r.set("Cache-Control", "private, max-age=3600");
        if (req.hasParam("download")) {
            r.set("Content-Disposition", "attachment; filename=\"" + picture->fileName + "\"");
        }
        return r;
    }

    // A picture this server does not hold: rendered from the kept order, in the format the
    // link asks for.
    std::shared_ptr<const StoredPicture> renderAgain(const std::string& id,
                                                     const std::string& extension) {
        if (stopping) throw serve::stopping();
        const auto deadline = Clock::now() + config.limits.deadline;
        const auto kept = keptRender(id);
        auto order = orderFromJson(jsonText(kept.record["order"]), config.limits);
        try {
            order.format = render::formatValue(render::parameter("format"), extension);
        } catch (const render::ParameterError& e) {
            throw ApiError(400, "bad_request", e.message("\"format\"") + ".");
        }
        const MapChoice choice = chooseMap(order);
        const PictureEntry& markerEntry = marker(order.marker);
        const std::string mapName = choice.entry ? choice.entry->name : "region";
        // A style's kept order holds its rows, read as a JSON body's.
        const auto style = styleOf(order.values);
        std::shared_ptr<const render::RowTable> rows;
        if (style) {
            rows = std::make_shared<const render::RowTable>(
                rowsFromJson(jsonText(kept.record["order"]), *style, config.limits));
        }
        auto picture = std::make_shared<std::shared_ptr<const StoredPicture>>();
        const auto [status, answer] = runJob(
            [this, order, choice, &markerEntry, picture, extension, mapName, style,
             rows](Job& job) {
                std::vector<uint8_t> bytes;
                if (style) {
                    bytes = std::move(drawStyle(choice, order, *style, *rows).result.bytes);
                } else {
                    auto request = renderRequest(order, markerEntry);
                    request.cancel = &job.cancel;
                    PictureEntry used;
                    bytes = std::move(renderOn(choice, order, std::move(request), used).bytes);
                }
                *picture = std::make_shared<const StoredPicture>(StoredPicture{
                    extension, "zembra-" + mapName + "." + extension, std::move(bytes)});
                job.finish(200, json::object());
            },
            deadline);
        if (status != 200) {
            throw ApiError(status, answer["error"]["code"], answer["error"]["message"]);
        }
        cache.put(id + "." + extension, *picture);
        return *picture;
    }

    // Answers as newline-delimited JSON: {"progress": {"done": N, "total": M}} lines while
    // the render goes on, then one {"status": S, "result" or "error": ...} line.
    void streamJob(const std::shared_ptr<http::Reply>& reply, const std::shared_ptr<Job>& job,
                   Clock::time_point deadline) {
        http::Response head;
        head.set("Content-Type", "application/x-ndjson");
        head.set("Cache-Control", "no-store");
        addDefaultHeaders(head);
        reply->beginStream(std::move(head));
        for (;;) {
            std::unique_lock lock(job->mutex);
            const bool changed = job->changed.wait_until(
                lock, deadline, [&] { return job->finished || job->progressNew; });
            json line;
            bool last = true;
            if (!changed) {
                job->cancel = true;
                const auto e = deadlinePassed(config.limits.deadline);
                line = {{"status", e.status()}, {"error", errorJson(e.code(), e.what())["error"]}};
            } else if (job->finished) {
                line = {{"status", job->status}};
                if (job->status == 200) {
                    line["result"] = job->answer;
                } else {
                    line["error"] = job->answer["error"];
                }
            } else {
                job->progressNew = false;
                line = {
                    {"progress", {{"done", job->progress.done}, {"total", job->progress.total}}}};
                last = false;
            }
            lock.unlock();
            // A client that goes away mid-render stops its render.
            if (!reply->write(jsonText(line) + "\n")) {
                job->cancel = true;
                reply->end();
                return;
            }
            if (last) {
                reply->end();
                return;
            }
        }
    }

    http::Response handleLookup(const http::Request& req) {
        if (stopping) throw serve::stopping();
        const auto deadline = Clock::now() + config.limits.deadline;
        render::LookupRequest request;
        request.connection = config.connection;
        // A map drawn for a region is drawn again (a fit is asked about by the bounds its
        // render answered with).
        std::optional<RegionMaps::Plan> plan;
        std::string mapName;
        if (req.hasParam("region")) {
            const draw::Region region = RegionMaps::parse(req.param("region"));
            if (region.kind == draw::Region::Kind::Fit)
                throw ApiError(
                    400, "bad_region",
                    "A fit region is asked about by the \"region\" its render answered.");
            plan = regions.plan(region, parseWidth(req.param("width")), {},
                                config.limits.maxPicturePixels);
            request.bounds = plan->bounds;
            request.x = pixelParam(req, "x", plan->width);
            request.y = pixelParam(req, "y", plan->height);
        } else {
            if (!req.hasParam("map"))
                throw ApiError(400, "bad_request", "Name the map: ?map=usa&x=..&y=..");
            const PictureEntry& mapEntry = map(req.param("map"));
            mapName = mapEntry.name;
            request.map = mapEntry.file;
            request.bounds = mapEntry.bounds;
            request.x = pixelParam(req, "x", mapEntry.size.width);
            request.y = pixelParam(req, "y", mapEntry.size.height);
        }

        // With the render the picture came from, a click on a marker names that marker's code.
        auto plotted = std::make_shared<std::vector<std::string>>();
        imaging::PictureSize markerSize;
        if (req.hasParam("render")) {
            const std::string id = req.param("render");
            if (!isLinkId(id))
                throw ApiError(400, "bad_request", "\"render\" must be a picture id.");
            const auto kept = keptRender(id);
            const json& order = kept.record["order"];
            // A style draws no markers to click on.
            const bool same =
                !order.contains("rows") && (plan ? order.value("region", "") == req.param("region")
                                                 : order.value("map", "") == mapName);
            if (same) {
                *plotted = kept.record["order"]["zips"].get<std::vector<std::string>>();
                markerSize = marker(kept.record["order"]["marker"].get<std::string>()).size;
            }
        }
        const auto [status, answer] = runJob(
            [this, request, plotted, markerSize, plan](Job& job) mutable {
                std::unique_ptr<draw::TemporaryMap> drawn;
                if (plan) {
                    drawn = regions.draw(*plan);
                    request.map = drawn->path();
                }
                if (const auto hit = render::plottedCodeAt(request, markerSize.width,
                                                           markerSize.height, *plotted)) {
                    job.finish(200, {{"zip", hit->zip},
                                     {"city", hit->city},
                                     {"state", hit->state},
                                     {"lat", hit->position.lat},
                                     {"lon", hit->position.lon},
                                     {"plotted", true},
                                     {"x", request.x},
                                     {"y", request.y}});
                    return;
                }
                const auto found = render::lookupPixel(request);
                job.finish(200, {{"zip", found.zip ? json(*found.zip) : json(nullptr)},
                                 {"city", found.city},
                                 {"state", found.state},
                                 {"lat", found.position.lat},
                                 {"lon", found.position.lon},
                                 {"plotted", false},
                                 {"x", request.x},
                                 {"y", request.y}});
            },
            deadline);
        return jsonResponse(status, answer);
    }

    void logAnswer(const http::Request& req, int status, std::optional<size_t> bytes, double ms) {
        std::ostringstream line;
        line << utcText(std::time(nullptr)) << ' ' << req.remoteAddress << " \""
             << (req.method.empty() ? "-" : req.method) << ' '
             << (req.path.empty() ? req.target.substr(0, 200) : req.path.substr(0, 200)) << "\" "
             << status << ' ';
        if (bytes) {
            line << *bytes << " bytes";
        } else {
            line << "streamed";
        }
        line << ' ' << std::fixed << std::setprecision(1) << ms << " ms";
        log.line(line.str());
    }
};

Server::Server(ServerConfig config, Log& log) {
    const auto images = config.images.empty()
                            ? render::PictureFolders::standard(cli::defaultImagesDirectory())
                            : render::PictureFolders::only(config.images);
    std::ostringstream skipped;
    auto library = PictureLibrary::scan(images, skipped);
    std::istringstream lines(skipped.str());
    for (std::string line; std::getline(lines, line);) log.line(line);
    impl_ = std::make_unique<Impl>(std::move(config), log, std::move(library));
    auto& impl = *impl_;
    impl.loadAssets();
    impl.links = openLinkStore(impl.config.store);
    log.line("zembra serve: links kept for " +
             std::to_string(impl.config.limits.keepFor.count() / 86400.0).substr(0, 4) +
             " days in " + impl.links->describe());
    impl.addRoutes();

    const auto& limits = impl.config.limits;
    http::ConnectionLimits connection;
    connection.headTimeout = limits.headTimeout;
    connection.idleTimeout = limits.idleTimeout;
    connection.maxConnections = limits.maxConnections;
    connection.maxPerAddress = limits.maxPerAddress;
    connection.maxIdle = limits.maxIdle;
    connection.maxBodyBytes = limits.maxBodyBytes;
    http::Hooks hooks;
    hooks.checkHead = [&impl](const http::Request& req) { return impl.checkHead(req); };
    hooks.handle = [&impl](const http::Request& req, const std::shared_ptr<http::Reply>& reply) {
        impl.handle(req, reply);
    };
    hooks.refuse = [](int status, const std::string& code, const std::string& message) {
        auto r = jsonResponse(status, errorJson(code, message));
        Impl::addDefaultHeaders(r);
        return r;
    };
    hooks.answered = [&impl](const http::Request& req, int status, std::optional<size_t> bytes,
                             double ms) { impl.logAnswer(req, status, bytes, ms); };
    hooks.cancelAll = [&impl] { impl.cancelAll(); };
    impl.http = std::make_unique<http::HttpServer>(connection, std::move(hooks));
}

Server::~Server() { stop(); }

int Server::bind() { return impl_->http->bind(impl_->config.bind, impl_->config.port); }

void Server::run() { impl_->http->run(); }

void Server::stop() {
    if (!impl_) return;
    impl_->http->stop();
}

}  // namespace zembra::serve
