// The thematic styles rendered by the client, with the real zip-code database and the
// shipped USA map: a list of zip codes with a segment and a revenue column, each style
// drawn, and facts of the pictures checked (segments differ in colour, a state with codes
// is filled and one without is not).
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <cmath>
#include <functional>
#include <memory>
#include <zembra/render/catalogue.hpp>
#include <zembra/render/parameters.hpp>

#include "dialogs/frm_style.hpp"
#include "dialogs/frm_view_image.hpp"
#include "input/batch_page.hpp"
#include "main/frm_render.hpp"
#include "main/render_job.hpp"
#include "tests/support.hpp"

using namespace zembra::client;
using zembra::client::test::ProgramFolder;
using zembra::render::Bounds;

namespace {

// Zip, Segment (three values) and Revenue; 08873 has two rows.
constexpr const char* kSalesCsv =
    "Zip,Segment,Revenue\n"
    "94103,Retail,400\n"
    "98101,Retail,90\n"
    "30303,Office,250\n"
    "60601,Home,50\n"
    "77002,Home,75\n"
    "08873,Retail,100\n"
    "08873,Retail,20\n"
    "10001,Office,60\n";

struct Place {
    double lat;
    double lon;
};
constexpr Place kSanFrancisco{37.772983, -122.411343};  // 94103, Retail, 400
constexpr Place kSeattle{47.610902, -122.336422};       // 98101, Retail, 90
constexpr Place kAtlanta{33.752845, -84.390226};        // 30303, Office
constexpr Place kChicago{41.885155, -87.621512};        // 60601, Home, 50
constexpr Place kHouston{29.756845, -95.365652};        // 77002, Home
// Inside states without any of the codes, away from their borders.
constexpr Place kKansas{38.5, -98.6};
constexpr Place kMontana{47.0, -109.5};
constexpr Place kTexas{31.3, -99.3};  // inside Texas, far from Houston

int distance(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

// The colour of a class: far from grey. Areas without codes are drawn grey ("no data").
bool filled(QRgb c) {
    return std::max({qRed(c), qGreen(c), qBlue(c)}) - std::min({qRed(c), qGreen(c), qBlue(c)}) > 60;
}
bool grey(QRgb c) {
    return std::max({qRed(c), qGreen(c), qBlue(c)}) - std::min({qRed(c), qGreen(c), qBlue(c)}) < 12;
}

// Two pictures of one map: the base and a render on it.
struct Pictures {
    QImage base;
    QImage drawn;
    Bounds bounds;

    QPoint pixel(Place p) const {
        const double x = base.width() / (bounds.maxLon - bounds.minLon) * (p.lon - bounds.minLon);
        const double y = base.height() -
                         base.height() / (bounds.maxLat - bounds.minLat) * (p.lat - bounds.minLat);
        return {static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))};
    }
    QRgb at(Place p) const { return drawn.pixel(pixel(p)); }
    // How far the render changed the picture at `p` (JPEG noise of the base is a few steps).
    int change(Place p) const { return distance(base.pixel(pixel(p)), drawn.pixel(pixel(p))); }
    // Pixels changed within `radius` of `p`.
    int changedAround(Place p, int radius) const {
        const QPoint c = pixel(p);
        int changed = 0;
        for (int y = c.y() - radius; y <= c.y() + radius; ++y) {
            for (int x = c.x() - radius; x <= c.x() + radius; ++x) {
                if (distance(base.pixel(x, y), drawn.pixel(x, y)) > 24) ++changed;
            }
        }
        return changed;
    }
};

// A program folder with the shipped USA map (and its world file) and five markers.
struct StyleFixture {
    ProgramFolder folder;
    QString map;
    QString csv;

    StyleFixture() {
        for (const char* name : {"usa.jpg", "usa.jgw"}) {
            const QString to = folder.images() + QStringLiteral("/Maps/") + QLatin1String(name);
            QFile::copy(QStringLiteral(ZEMBRA_SHIPPED_MAPS "/") + QLatin1String(name), to);
        }
        for (const char* name : {"a.png", "b.png", "c.png", "d.png", "e.png"}) {
            folder.addOverlay(QLatin1String(name));
        }
        map = folder.images() + QStringLiteral("/Maps/usa.jpg");
        csv = folder.path() + QStringLiteral("/sales.csv");
        folder.writeFile(QStringLiteral("sales.csv"), kSalesCsv);
    }

    BatchSource source(const std::string& category, const std::string& value) const {
        BatchSource s;
        s.csvPath = csv.toStdString();
        s.csvFieldName = "Zip";
        s.categoryField = category;
        s.valueField = value;
        return s;
    }

    // Runs one render job of `style` on the batch source; the written picture with its base.
    Pictures render(zembra::draw::Style style, const BatchSource& source,
                    const QString& name) const {
        RenderJob job;
        job.map = map.toStdString();
        job.mapName = "usa.jpg";
        job.overlay = (folder.images() + QStringLiteral("/Overlays/e.png")).toStdString();
        job.bounds = zembra::render::boundsForMap(job.map);
        job.output = (folder.images() + QStringLiteral("/Output/") + name).toStdString();
        job.batch = source;
        zembra::draw::ThematicOptions options;
        options.style = style;
        options.categoryName = source.categoryField;
        options.valueName = source.valueField;
        job.style = options;
        RenderControl control;
        const auto result = runRenderJob(job, control, {});
        if (result.placed() == 0) qWarning("nothing placed");
        return {QImage(map).convertToFormat(QImage::Format_RGB32),
                QImage(QString::fromStdString(job.output)).convertToFormat(QImage::Format_RGB32),
                *job.bounds};
    }
};

}  // namespace

class StyleTest : public QObject {
    Q_OBJECT
  private slots:
    void categoryMarkersDifferBySegment();
    void valueCirclesGrowWithTheRevenueSummedPerCode();
    void statesWithCodesAreFilledAndOthersNot();
    void countiesAndDensityMarkOnlyWhereCodesAre();
    void styledRenderReportsWhatItPlaced();
    void categoryStyleWithoutACategoryColumnIsRefused();
    void dialogControlsAreTheTablesStyleRows();
    void dialogRefusesWithTheTablesMessages();
    void windowMenusKeepTheirWrittenOrderAroundOptions();
    void eachStyleRendersFromTheWindow();
};

void StyleTest::categoryMarkersDifferBySegment() {
    StyleFixture f;
    const Pictures p =
        f.render(zembra::draw::Style::Category, f.source("Segment", ""), QStringLiteral("c.png"));
    QCOMPARE(p.drawn.size(), p.base.size());
    const QRgb retail = p.at(kSanFrancisco);
    const QRgb office = p.at(kAtlanta);
    const QRgb home = p.at(kChicago);
    for (const Place place : {kSanFrancisco, kAtlanta, kChicago, kSeattle, kHouston}) {
        QVERIFY(p.change(place) > 40);  // a marker stands there
    }
    QVERIFY2(distance(retail, office) > 40, "Retail and Office look alike");
    QVERIFY2(distance(retail, home) > 40, "Retail and Home look alike");
    QVERIFY2(distance(office, home) > 40, "Office and Home look alike");
    // One segment, one colour.
    QVERIFY(distance(retail, p.at(kSeattle)) < 16);
    QVERIFY(distance(home, p.at(kHouston)) < 16);
    QVERIFY(p.change(kKansas) < 16);
}

void StyleTest::valueCirclesGrowWithTheRevenueSummedPerCode() {
    StyleFixture f;
    const Pictures p =
        f.render(zembra::draw::Style::Value, f.source("", "Revenue"), QStringLiteral("v.png"));
    // 400 in San Francisco against 50 in Chicago: the larger value, the larger circle.
    const int large = p.changedAround(kSanFrancisco, 40);
    const int small = p.changedAround(kChicago, 40);
    QVERIFY2(small > 0, "no circle at Chicago");
    QVERIFY2(large > 2 * small, qPrintable(QStringLiteral("%1 against %2").arg(large).arg(small)));
    QVERIFY(p.change(kMontana) < 16);
}

void StyleTest::statesWithCodesAreFilledAndOthersNot() {
    StyleFixture f;
    for (const std::string& value : {std::string(), std::string("Revenue")}) {
        const Pictures p =
            f.render(zembra::draw::Style::States, f.source("", value), QStringLiteral("s.png"));
        QVERIFY2(filled(p.at(kTexas)), value.c_str());
        QVERIFY2(filled(p.at(kSanFrancisco)), value.c_str());
        QVERIFY2(grey(p.at(kKansas)), value.c_str());
        QVERIFY2(grey(p.at(kMontana)), value.c_str());
    }
}

void StyleTest::countiesAndDensityMarkOnlyWhereCodesAre() {
    StyleFixture f;
    const Pictures counties =
        f.render(zembra::draw::Style::Counties, f.source("", ""), QStringLiteral("k.png"));
    QVERIFY(filled(counties.at(kHouston)));
    QVERIFY(grey(counties.at(kKansas)));
    QVERIFY(grey(counties.at(kTexas)));  // Texas has codes, but not in this county

    const Pictures density =
        f.render(zembra::draw::Style::Density, f.source("", "Revenue"), QStringLiteral("d.png"));
    QVERIFY(density.change(kSanFrancisco) > 24);
    QVERIFY(density.change(kMontana) < 16);
}

void StyleTest::styledRenderReportsWhatItPlaced() {
    StyleFixture f;
    f.folder.writeFile(QStringLiteral("sales.csv"),
                       QByteArray(kSalesCsv) + "00000,Home,1\n99501,Office,5\n");
    RenderJob job;
    job.map = f.map.toStdString();
    job.mapName = "usa.jpg";
    job.bounds = zembra::render::boundsForMap(job.map);
    job.output = (f.folder.images() + QStringLiteral("/Output/r.jpg")).toStdString();
    job.batch = f.source("Segment", "Revenue");
    zembra::draw::ThematicOptions options;
    options.style = zembra::draw::Style::Category;
    job.style = options;
    RenderControl control;
    const zembra::render::RenderResult result = runRenderJob(job, control, {});
    QCOMPARE(result.requested, size_t{9});
    QCOMPARE(result.notFound, std::vector<std::string>{"00000"});
    QCOMPARE(result.outside, std::vector<std::string>{"99501"});  // Anchorage
    QCOMPARE(result.placed(), size_t{7});
    QCOMPARE(control.codesRead.load(), size_t{9});
    QVERIFY(QImage(QString::fromStdString(job.output)).size() == QImage(f.map).size());
}

void StyleTest::categoryStyleWithoutACategoryColumnIsRefused() {
    StyleFixture f;
    RenderJob job;
    job.map = f.map.toStdString();
    job.bounds = zembra::render::boundsForMap(job.map);
    job.output = (f.folder.images() + QStringLiteral("/Output/none.png")).toStdString();
    job.zips = {"08873"};
    zembra::draw::ThematicOptions options;
    options.style = zembra::draw::Style::Category;
    job.style = options;
    RenderControl control;
    try {
        runRenderJob(job, control, {});
        QFAIL("no error");
    } catch (const zembra::Error& e) {
        QCOMPARE(e.number(), zembra::err::kInvalidArgument);
    }
    QVERIFY(!QFile::exists(QString::fromStdString(job.output)));
}

// ---------------------------------------------------------------------------------
// The Style dialog and the window.

namespace {

using zembra::client::test::RecordingSeam;

template <typename W>
W* styleControl(FrmStyle& dialog, const char* name) {
    return qobject_cast<W*>(dialog.control(name));
}

void pickChoice(QComboBox* box, const char* value) {
    box->setCurrentIndex(box->findData(QLatin1String(value)));
}

// The window on the fixture's program folder, its batch page reading the sales CSV.
struct WindowFixture : StyleFixture {
    RecordingSeam seam;
    std::unique_ptr<FrmRender> window;

    WindowFixture() {
        window = std::make_unique<FrmRender>(seam, folder.path());
        window->findChild<QTabWidget*>(QStringLiteral("tabMain"))->setCurrentIndex(1);
        window->batchPage()->controls().txtCSVPath->setText(csv);
        window->batchPage()->selectSource(BatchPage::kCsv);
    }
    QString output() const {
        return window->findChild<QLineEdit*>(QStringLiteral("txtFile"))->text();
    }
    // Opens Options, Style..., lets `fill` set the controls and confirms.
    void chooseStyle(const std::function<void(FrmStyle&)>& fill) {
        seam.modalHandlers.push_back([fill](QDialog& dialog) {
            auto& style = dynamic_cast<FrmStyle&>(dialog);
            fill(style);
            style.findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
        });
        window->findChild<QAction*>(QStringLiteral("mnuOptionsStyle"))->trigger();
    }
    // Renders to a PNG; the picture as the viewer was opened on it.
    Pictures render(const QString& name) {
        window->findChild<QLineEdit*>(QStringLiteral("txtFile"))
            ->setText(folder.images() + QStringLiteral("/Output/") + name);
        QString shown;
        seam.modalHandlers.push_back(
            [&](QDialog& dialog) { shown = dynamic_cast<FrmViewImage&>(dialog).ImageFile(); });
        QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("cmdRender")),
                          Qt::LeftButton);
        return {QImage(map).convertToFormat(QImage::Format_RGB32),
                QImage(shown).convertToFormat(QImage::Format_RGB32), window->bounds()};
    }
};

}  // namespace

void StyleTest::dialogControlsAreTheTablesStyleRows() {
    RecordingSeam seam;
    const QStringList columns{"Zip", "Segment", "Revenue"};
    FrmStyle dialog(seam, {}, columns);
    const auto rows = FrmStyle::styleRows();
    QVERIFY(rows.size() >= 2);
    for (const zembra::render::Parameter* p : rows) {
        QWidget* widget = dialog.control(p->name);
        QVERIFY2(widget != nullptr, p->name.c_str());
        QCOMPARE(widget->toolTip(), QString::fromStdString(p->help));
        if (auto* box = qobject_cast<QComboBox*>(widget); box && !box->isEditable()) {
            QCOMPARE(size_t(box->count()), p->choices.size());
            for (size_t i = 0; i < p->choices.size(); ++i) {
                QCOMPARE(box->itemText(int(i)), QString::fromStdString(p->choices[i].label));
            }
            QCOMPARE(box->currentData().toString(), QString::fromStdString(p->defaultValue));
        }
    }
    // The columns of the source to pick from, for the rows that name one.
    auto* category = styleControl<QComboBox>(dialog, "category");
    QVERIFY(category != nullptr);
    QCOMPARE(category->findText(QStringLiteral("Segment")), 2);
    auto* legend = styleControl<QCheckBox>(dialog, "legend");
    QVERIFY(legend != nullptr && legend->isChecked());
    // Confirmed untouched, nothing differs from the defaults: the plain markers.
    dialog.show();
    dialog.findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    QCOMPARE(dialog.Response(), 1);
    QVERIFY(!dialog.isVisible());
    for (const zembra::render::Parameter* p : rows) QVERIFY(!dialog.values().given(p->name));
}

void StyleTest::dialogRefusesWithTheTablesMessages() {
    RecordingSeam seam;
    FrmStyle dialog(seam, {}, {});
    dialog.show();
    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("cmdOK"));
    const zembra::render::Parameter& bandwidth = zembra::render::parameter("bandwidth");
    pickChoice(styleControl<QComboBox>(dialog, "style"), "density");
    auto* band = styleControl<QLineEdit>(dialog, "bandwidth");
    band->setText(QStringLiteral("0"));
    ok->click();
    QCOMPARE(seam.messages.size(), size_t{1});
    QCOMPARE(
        seam.messages[0].text,
        QString::fromStdString(zembra::render::ParameterError(
                                   bandwidth, "0", zembra::render::checkParameter(bandwidth, "0"))
                                   .message(FrmStyle::caption(bandwidth).toStdString())));
    QCOMPARE(seam.messages[0].title, QStringLiteral("Style"));
    QCOMPARE(seam.messages[0].icon, MessageIcon::Exclamation);
    QCOMPARE(dialog.focusWidget(), band);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.Response(), 2);

    // Settings that do not go together: the category style without its column.
    band->clear();
    pickChoice(styleControl<QComboBox>(dialog, "style"), "category");
    ok->click();
    QCOMPARE(seam.messages.size(), size_t{2});
    QVERIFY2(seam.messages[1].text.startsWith(
                 FrmStyle::caption(zembra::render::parameter("style")) + " 'category': "),
             qPrintable(seam.messages[1].text));
    QCOMPARE(dialog.focusWidget(), dialog.control("style"));
    QVERIFY(dialog.isVisible());

    // A bandwidth in range goes through.
    pickChoice(styleControl<QComboBox>(dialog, "style"), "density");
    band->setText(QString::number(bandwidth.minimum));
    ok->click();
    QCOMPARE(seam.messages.size(), size_t{2});
    QCOMPARE(dialog.Response(), 1);
    QCOMPARE(dialog.values().text("bandwidth"), std::to_string(bandwidth.minimum));
    QCOMPARE(dialog.values().text("style"), std::string("density"));
}

void StyleTest::windowMenusKeepTheirWrittenOrderAroundOptions() {
    WindowFixture f;
    QStringList menus;
    for (QAction* action : f.window->menuBar()->actions()) menus << action->objectName();
    QCOMPARE(menus, (QStringList{"mnuFile", "mnuOptions", "mnuHelp"}));
    // A cancelled dialog changes nothing; the default style renders the engine's markers.
    f.seam.modalHandlers.push_back([](QDialog& dialog) {
        pickChoice(
            dynamic_cast<FrmStyle&>(dialog).findChild<QComboBox*>(QStringLiteral("style_style")),
            "states");
        dialog.findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
    });
    f.window->findChild<QAction*>(QStringLiteral("mnuOptionsStyle"))->trigger();
    QCOMPARE(f.seam.modalShown, QStringList{"frmStyle"});
    QVERIFY(!f.window->styleValues().given("style"));
    const Pictures p = f.render(QStringLiteral("markers.png"));
    QCOMPARE(p.drawn.size(), p.base.size());
    // The overlay's red square at San Francisco, and no state filled.
    QCOMPARE(p.at(kSanFrancisco), qRgb(255, 0, 0));
    QVERIFY(!filled(p.at(kTexas)));
    QVERIFY(f.seam.messages.empty());
}

void StyleTest::eachStyleRendersFromTheWindow() {
    WindowFixture f;
    f.chooseStyle([](FrmStyle& d) {
        pickChoice(styleControl<QComboBox>(d, "style"), "category");
        styleControl<QComboBox>(d, "category")->setCurrentText(QStringLiteral("Segment"));
    });
    QCOMPARE(f.window->styleValues().text("category"), std::string("Segment"));
    const Pictures category = f.render(QStringLiteral("category.png"));
    QVERIFY2(f.seam.messages.empty(),
             f.seam.messages.empty() ? "" : qPrintable(f.seam.messages[0].text));
    QVERIFY(distance(category.at(kSanFrancisco), category.at(kAtlanta)) > 40);
    QVERIFY(distance(category.at(kAtlanta), category.at(kChicago)) > 40);
    QVERIFY(distance(category.at(kSanFrancisco), category.at(kChicago)) > 40);
    QVERIFY(distance(category.at(kSanFrancisco), category.at(kSeattle)) < 16);

    f.chooseStyle([](FrmStyle& d) {
        pickChoice(styleControl<QComboBox>(d, "style"), "states");
        styleControl<QComboBox>(d, "category")->setCurrentText(QString());
        styleControl<QComboBox>(d, "value")->setCurrentText(QStringLiteral("Revenue"));
    });
    const Pictures states = f.render(QStringLiteral("states.png"));
    QVERIFY(filled(states.at(kTexas)));
    QVERIFY(grey(states.at(kKansas)));

    for (const char* style : {"value", "density"}) {
        f.chooseStyle(
            [style](FrmStyle& d) { pickChoice(styleControl<QComboBox>(d, "style"), style); });
        const Pictures p = f.render(QLatin1String(style) + QStringLiteral(".png"));
        QVERIFY2(p.change(kSanFrancisco) > 24, style);
        QVERIFY2(p.change(kMontana) < 16, style);
    }
    f.chooseStyle([](FrmStyle& d) { pickChoice(styleControl<QComboBox>(d, "style"), "counties"); });
    const Pictures counties = f.render(QStringLiteral("counties.png"));
    QVERIFY(filled(counties.at(kHouston)));
    QVERIFY(grey(counties.at(kKansas)));
    QVERIFY(f.seam.messages.empty());
    QCOMPARE(f.seam.modalShown.count(QStringLiteral("frmViewImage")), 5);
}

QTEST_MAIN(StyleTest)
#include "style_test.moc"
