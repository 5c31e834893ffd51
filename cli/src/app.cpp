#include "app.hpp"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <zembra/draw/geo.hpp>
#include <zembra/render/render.hpp>
#include <zembra/runtime.hpp>

#include "commands/db_load.hpp"
#include "core/usage_error.hpp"
#include "man_page.hpp"
#include "serve/command.hpp"

#ifndef ZEMBRA_VERSION
#error "ZEMBRA_VERSION must give the program's version"
#endif

namespace zembra::cli {

namespace {

constexpr const char* kExitStatuses =
    "Exit status: 0 on success (also when some zip codes are not found), 1 for a run-time\n"
    "error (missing file, engine or database failure), 2 for a usage error.\n";

void reportUsage(std::ostream& err, const std::string& message, const std::string& command) {
    err << "zembra: " << render::escapeForDisplay(message) << "\n"
        << "Run 'zembra" << (command.empty() ? "" : " " + command) << " --help' for usage.\n";
}

}  // namespace

int run(int argc, const char* const* argv, Io& io) {
    CLI::App app{"Puts US zip codes on a map picture.", "zembra"};
    app.require_subcommand(0, 1);
    app.footer(
        std::string("\nRun 'zembra COMMAND --help' for a command's options and examples.\n") +
        kExitStatuses);
    bool showVersion = false;
    app.add_flag("--version", showVersion, "Print the version and exit");

    RenderOptions render;
    auto* renderCmd = app.add_subcommand("render", "Plot zip codes on a map and write the picture");
    renderCmd->add_option("zips", render.zips, "Zip codes to plot (five digits, e.g. 08873)")
        ->type_name("ZIP");
    renderCmd
        ->add_option("-f,--file", render.file,
                     "Zip codes one per line, or a CSV column with --column; - is stdin")
        ->type_name("FILE");
    renderCmd
        ->add_option("--separator", render.separator,
                     "Field separator of the -f file: comma, semicolon, tab, pipe or one "
                     "character (default: detected from the header line)")
        ->type_name("SEP");
    render.parameters.addTo(*renderCmd, ::zembra::render::kRenderCommand);
    renderCmd->footer(
        "\nZip codes come from the arguments, then from -f FILE. With neither, they are read\n"
        "from standard input when it is not a terminal. Repeated codes are plotted once.\n"
        "Standard error gets \"placed N of M zip codes\" and the codes not found; standard\n"
        "output the path of the picture written.\n\n"
        "Examples:\n"
        "  zembra render 08873 08232 -o nj.jpg\n"
        "  zembra render -f customers.csv --column Zip --marker red_pin -o out.png\n"
        "  grep '^99' zips.txt | zembra render --map alaska -o alaska.gif\n"
        "  zembra render 96813 --map my-islands.jpg --bounds 18.5,22.5,-161,-154 -o hi.bmp\n"
        "  zembra render 08873 --format png -o - | display -\n"
        "  zembra render -f nj.txt --region NJ -o nj.jpg\n"
        "  zembra render -f customers.txt --region fit --width 1200 -o customers.png\n"
        "  zembra render -f sales.csv --column Zip --style category --category Segment -o seg.png\n"
        "  zembra render -f sales.csv --column Zip --style states --value Revenue \\\n"
        "      --table states.csv -o revenue.png\n\n"
        "--region draws the map from the boundary data shipped with Zembra instead of using\n"
        "a map picture; it cannot be combined with --map or --bounds.\n\n" +
        std::string(kExitStatuses));

    PointsOptions points;
    auto* pointsCmd = app.add_subcommand("points", "Plot latitude/longitude pairs on a map");
    pointsCmd->add_option("points", points.points, "Points in degrees, e.g. 40.7,-74")
        ->type_name("LAT,LON");
    pointsCmd->add_option("-f,--file", points.file, "LAT,LON pairs one per line; - is stdin")
        ->type_name("FILE");
    points.parameters.addTo(*pointsCmd, ::zembra::render::kPointsCommand);
    pointsCmd->footer(
        "\nExamples:\n"
        "  zembra points 40.7,-74 34.05,-118.25 -o cities.png\n"
        "  zembra points -f track.csv --map hawaii -o track.jpg\n\n" +
        std::string(kExitStatuses));

    LookupOptions lookup;
    auto* lookupCmd =
        app.add_subcommand("lookup", "Tell the zip code and position under a pixel of a map");
    lookupCmd->add_option("x", lookup.x, "Pixel column, from 0 at the left edge")
        ->type_name("X")
        ->required();
    lookupCmd->add_option("y", lookup.y, "Pixel row, from 0 at the top edge")
        ->type_name("Y")
        ->required();
    lookup.parameters.addTo(*lookupCmd, ::zembra::render::kLookupCommand);
    lookupCmd->footer(
        "\nPrints one line: the nearest zip code within about ten miles of the pixel, or\n"
        "\"none\" when there is none (still exit status 0), then the pixel's latitude and\n"
        "longitude in degrees, rounded to six decimals, then the code's city and state when\n"
        "the table has them:\n"
        "  $ zembra lookup 1724 406\n"
        "  08873 40.507194 -74.52128 Somerset, NJ\n"
        "Give the map and bounds the picture was rendered with.\n\n" +
        std::string(kExitStatuses));

    MapCommandOptions mapOptions;
    auto* mapCmd = app.add_subcommand("map", "Draw a map picture of a place, with its world file");
    mapOptions.parameters.addTo(*mapCmd, ::zembra::render::kMapCommand, {"region"});
    mapCmd
        ->add_option(
            "-o,--output", mapOptions.output,
            "Picture to write: " + imaging::formatNames(".") + "; its world file goes beside it")
        ->type_name("FILE")
        ->required();
    mapCmd->add_option("zips", mapOptions.zips, "Zip codes a fit region is fitted to")
        ->type_name("ZIP");
    mapCmd->add_option("-f,--file", mapOptions.file, "Zip codes one per line, for --region fit")
        ->type_name("FILE");
    mapCmd
        ->add_option("--connection", mapOptions.connection,
                     "Zip-code database for --region fit: ODBC data source or connection string")
        ->type_name("TEXT");
    mapCmd->footer(
        "\nThe map shows water, the states and the neighbouring countries as the shipped maps\n"
        "do, in the same straight latitude/longitude mapping, so that zip codes rendered on\n"
        "it land where they belong. The world file (nj.jgw beside nj.jpg) gives its bounds\n"
        "to Zembra's client, command line and server, and to GIS programs.\n\n"
        "Examples:\n"
        "  zembra map --region NJ -o nj.jpg\n"
        "  zembra map --region \"New York,New Jersey,Connecticut\" --width 3000 -o tristate.png\n"
        "  zembra map --region 40,45,-80,-70 -o northeast.jpg\n"
        "  zembra map --region fit -f customers.txt -o customers.jpg\n\n" +
        std::string(kExitStatuses));

    std::string listImages;
    auto* listCmd = app.add_subcommand("list", "List the maps and markers installed");
    listCmd->add_option("--images", listImages, "Folder holding Maps/ and Overlays/")
        ->type_name("DIR");

    DbLoadOptions dbLoad;
    auto* dbCmd = addDbCommand(app, dbLoad);
    serve::ServerConfig serveConfig;
    auto* serveCmd = serve::addServeCommand(app, serveConfig);

    // `zembra --man`, which the build runs, writes the manual page from the description
    // above. It is no option of the interface (the page and --help leave it out).
    if (argc == 2 && std::string_view(argv[1]) == "--man") {
        io.out << manPage(app, ZEMBRA_VERSION);
        return io.out.flush() ? kExitOk : kExitFailure;
    }

    std::string command;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        io.out << app.help();
        return kExitOk;
    } catch (const CLI::CallForAllHelp&) {
        io.out << app.help("", CLI::AppFormatMode::All);
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        for (const auto* sub : app.get_subcommands()) command = sub->get_name();
        reportUsage(io.err, e.what(), command);
        return kExitUsage;
    }

    if (showVersion) {
        io.out << "zembra " << ZEMBRA_VERSION << '\n';
        return kExitOk;
    }
    try {
        int status = -1;
        if (*renderCmd) status = runRender(render, io);
        if (*mapCmd) status = runMap(mapOptions, io);
        if (*pointsCmd) status = runPoints(points, io);
        if (*lookupCmd) status = runLookup(lookup, io);
        if (*listCmd) status = runList(listImages, io);
        if (*dbCmd) status = runDbLoad(dbLoad, io);
        if (*serveCmd) status = serve::runServe(serveConfig, io.out, io.err);
        if (status >= 0) {
            // Output that did not reach its destination is a failure, not a success.
            errno = 0;
            if (!io.out.flush()) {
                const int error = errno;
                io.err << "zembra: error: standard output could not be written"
                       << (error != 0 ? std::string(": ") + std::strerror(error) : std::string())
                       << '\n';
                return kExitFailure;
            }
            return status;
        }
    } catch (const UsageError& e) {
        for (const auto* sub : app.get_subcommands()) command = sub->get_name();
        reportUsage(io.err, e.what(), command);
        return kExitUsage;
    } catch (const Error& e) {
        io.err << "zembra: error " << e.number() << ": "
               << render::escapeForDisplay(e.description()) << '\n';
        return kExitFailure;
    } catch (const std::exception& e) {
        io.err << "zembra: " << e.what() << '\n';
        return kExitFailure;
    }
    io.err << app.help();
    return kExitUsage;
}

}  // namespace zembra::cli
