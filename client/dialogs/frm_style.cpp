#include "dialogs/frm_style.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <zembra/draw/thematic.hpp>

#include "main/twips.hpp"
#include "main/ui_seam.hpp"

namespace zembra::client {

namespace {

QString fromStd(const std::string& text) { return QString::fromStdString(text); }

QString objectNameFor(const render::Parameter& p) {
    return QStringLiteral("style_") + fromStd(p.name);
}

}  // namespace

std::vector<const render::Parameter*> FrmStyle::styleRows() {
    std::vector<const render::Parameter*> rows;
    for (const render::Parameter& p : render::renderParameters()) {
        if (p.styling && p.offeredIn(render::kClientRender)) rows.push_back(&p);
    }
    return rows;
}

QString FrmStyle::caption(const render::Parameter& p) {
    if (!p.label.empty()) return fromStd(p.label);
    QString text = fromStd(p.name);
    if (!text.isEmpty()) text[0] = text[0].toUpper();
    return text;
}

FrmStyle::FrmStyle(UiSeam& seam, const render::ParameterValues& values, const QStringList& columns,
                   QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      seam_(seam),
      values_(values) {
    setObjectName(QStringLiteral("frmStyle"));
    setWindowTitle(QStringLiteral("Style"));

    auto* form = new QFormLayout;
    for (const render::Parameter* p : styleRows()) {
        QWidget* widget = makeControl(*p, fromStd(values.text(p->name)), columns);
        widget->setObjectName(objectNameFor(*p));
        widget->setToolTip(fromStd(p->help));
        rows_.push_back({p, widget});
        if (p->kind == render::ParameterKind::Switch) {
            form->addRow(QString(), widget);
        } else {
            auto* label = new QLabel(caption(*p), this);
            label->setBuddy(widget);
            form->addRow(label, widget);
        }
    }

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    for (QPushButton* button : {ok, cancel}) button->setMinimumSize(twipsSize(1215, 375));
    // The buttons only hide the dialog; its caller reads the settings back.
    connect(ok, &QPushButton::clicked, this,
            [this] { guardedResponse(seam_, this, [this] { okClicked(); }); });
    connect(cancel, &QPushButton::clicked, this, [this] {
        response_ = 2;
        hide();
    });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addStretch(1);
    column->addLayout(buttons);
    setMinimumWidth(twipsToPixels(5400));
}

QWidget* FrmStyle::makeControl(const render::Parameter& p, const QString& text,
                               const QStringList& columns) {
    switch (p.kind) {
        case render::ParameterKind::Choice:
        case render::ParameterKind::Format: {
            auto* box = new QComboBox(this);
            for (const render::ParameterChoice& choice : p.choices) {
                box->addItem(fromStd(choice.label), fromStd(choice.value));
            }
            box->setCurrentIndex(std::max(0, box->findData(text)));
            return box;
        }
        case render::ParameterKind::Switch: {
            auto* box = new QCheckBox(caption(p), this);
            bool on = false;
            try {
                on = render::switchValue(p, text.toStdString());
            } catch (const render::ParameterError&) {
                on = render::switchValue(p, p.defaultValue);
            }
            box->setChecked(on);
            return box;
        }
        case render::ParameterKind::Column:
            if (!columns.isEmpty()) {
                // The source's columns to pick from, the empty entry meaning none.
                auto* box = new QComboBox(this);
                box->setEditable(true);
                box->addItem(QString());
                box->addItems(columns);
                box->setCurrentText(text);
                return box;
            }
            break;
        case render::ParameterKind::Count: {
            auto* box = new QLineEdit(text, this);
            QString range = QStringLiteral("%1 to %2").arg(p.minimum).arg(p.maximum);
            if (p.defaultValue.empty()) range += QStringLiteral(", empty for the default");
            box->setPlaceholderText(range);
            return box;
        }
        default:
            break;
    }
    return new QLineEdit(text, this);
}

QString FrmStyle::textOf(const Row& row) const {
    if (auto* box = qobject_cast<QComboBox*>(row.widget)) {
        return box->isEditable() ? box->currentText() : box->currentData().toString();
    }
    if (auto* box = qobject_cast<QCheckBox*>(row.widget)) {
        return box->isChecked() ? QStringLiteral("true") : QStringLiteral("false");
    }
    if (auto* box = qobject_cast<QLineEdit*>(row.widget)) return box->text();
    return {};
}

QWidget* FrmStyle::control(std::string_view name) const {
    for (const Row& row : rows_) {
        if (row.parameter->name == name) return row.widget;
    }
    return nullptr;
}

void FrmStyle::refuse(const render::Parameter& p, const QString& message) {
    seam_.showMessage(this, message, windowTitle(), MessageIcon::Exclamation);
    if (QWidget* widget = control(p.name)) widget->setFocus(Qt::OtherFocusReason);
}

void FrmStyle::okClicked() {
    render::ParameterValues confirmed;
    for (const Row& row : rows_) {
        const render::Parameter& p = *row.parameter;
        const std::string text = trimSpaces(textOf(row)).toStdString();
        if (text == p.defaultValue) continue;
        if (std::string problem = render::checkParameter(p, text); !problem.empty()) {
            refuse(p,
                   fromStd(
                       render::ParameterError(p, text, problem).message(caption(p).toStdString())));
            return;
        }
        confirmed.set(p.name, text);
    }
    // The settings together, as the render reads them; the plain markers take none.
    const render::Parameter& style = render::parameter("style");
    if (confirmed.text(style.name) != style.defaultValue) {
        try {
            (void)draw::thematicOptions(confirmed);
        } catch (const render::ParameterError& e) {
            refuse(e.parameter(), fromStd(e.message(caption(e.parameter()).toStdString())));
            return;
        }
    }
    values_ = std::move(confirmed);
    response_ = 1;
    hide();
}

}  // namespace zembra::client
