// frmStyle: how the render draws the codes: the plain markers, or one of the thematic
// styles with its settings. Every control is made from a row of the render parameter
// table (the rows of the styles that the desktop client offers): its caption from the
// row's name, its choices, default and limits from the row, the row's help as its tooltip,
// and the table's check with its message when the operator confirms.
#pragma once

#include <QDialog>
#include <QStringList>
#include <string_view>
#include <vector>
#include <zembra/render/parameters.hpp>

namespace zembra::client {

class UiSeam;

class FrmStyle : public QDialog {
    Q_OBJECT
  public:
    // `values` are the settings to show (what is not given shows the row's default);
    // `columns` are the batch source's column names offered for rows that name a column
    // (empty: those are typed).
    FrmStyle(UiSeam& seam, const render::ParameterValues& values, const QStringList& columns,
             QWidget* parent = nullptr);

    // The rows the dialog shows, in table order.
    static std::vector<const render::Parameter*> styleRows();

    // 1 when the operator confirmed valid settings, 2 otherwise.
    int Response() const { return response_; }
    // The settings confirmed: only those that differ from the row's default are given.
    const render::ParameterValues& values() const { return values_; }

    // The control of the row `name` (a QComboBox, QLineEdit or QCheckBox); nullptr for none.
    QWidget* control(std::string_view name) const;

    // The caption of a row's control: the row's label, else its name with a capital first
    // letter.
    static QString caption(const render::Parameter& p);

  private:
    struct Row {
        const render::Parameter* parameter;
        QWidget* widget;
    };
    QWidget* makeControl(const render::Parameter& p, const QString& text,
                         const QStringList& columns);
    QString textOf(const Row& row) const;
    void okClicked();
    // A refusal of the row `p`: the table's message, then the focus on its control.
    void refuse(const render::Parameter& p, const QString& message);

    UiSeam& seam_;
    std::vector<Row> rows_;
    render::ParameterValues values_;
    int response_ = 2;
};

}  // namespace zembra::client
