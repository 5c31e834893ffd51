// The "Batch Data Entry" page of the main window: the choice of batch source
// (Access table, Excel sheet, SQL Server table or CSV file) and the boxes that name it.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "input/batch_reader.hpp"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace zembra::client {

class UiSeam;

class BatchPage : public QWidget {
    Q_OBJECT
  public:
    // Indexes of the option buttons (their control-array indexes).
    enum Source : int { kAccess = 0, kExcel = 1, kSqlServer = 2, kCsv = 3 };

    struct Controls {
        // optDataSource(0..3); the object names carry the index: "optDataSource_0".
        std::array<QRadioButton*, 4> optDataSource{};
        QLabel* lblFileName = nullptr;
        QLineEdit* txtAccessPath = nullptr;
        QLineEdit* txtExcelPath = nullptr;
        QLineEdit* txtCSVPath = nullptr;
        QLineEdit* txtConnString = nullptr;
        QPushButton* cmdBrowseAccess = nullptr;
        QPushButton* cmdBrowseExcel = nullptr;
        QPushButton* cmdBrowseCSV = nullptr;
        QPushButton* cmdBuild = nullptr;
        QLabel* lblTableName = nullptr;
        QLineEdit* txtTableName = nullptr;
        QLabel* lblFieldName = nullptr;
        QLineEdit* txtFieldName = nullptr;
        QComboBox* cboFieldName = nullptr;
        QLabel* lblExcelNote = nullptr;
    };

    explicit BatchPage(UiSeam& seam, QWidget* parent = nullptr);

    const Controls& controls() const { return ui_; }

    // The first option set, tested in index order; -1 when none is set.
    int selectedSource() const;

    // Sets optDataSource(index) and runs its click response, as setting the option's
    // value does.
    void selectSource(int index);

    // Shows, hides and relabels the page's controls for the source `index`; an index
    // outside 0..3 leaves only the common part arranged.
    void SetSourceControls(int16_t index);

    // Reads the chosen source and returns its distinct zip codes in order of first
    // appearance. Raises zembra::Error for any failure of the source.
    std::vector<std::string> ReadBatchData();

    // The page's values the reader needs, copied, so that a render can read them on
    // another thread.
    BatchSource batchSource() const;

    // Fills cboFieldName from the header line of the file named in txtCSVPath (the list is
    // not emptied first) and selects the first entry; shows the list and its label. An
    // empty file hides both and returns false; any failure returns false and leaves the
    // controls as they were.
    bool LoadCSVFields();

    // The filters of the three browse buttons.
    static constexpr const char* kAccessFilter = "Microsoft Access Database (*.mdb)|*.mdb||";
    static constexpr const char* kExcelFilter =
        "Microsoft Excel Spreadsheet (*.xls;*.xlsx)|*.xls;*.xlsx|OpenDocument Spreadsheet "
        "(*.ods)|*.ods||";
    static constexpr const char* kCsvFilter = "Comma Separated Value files (*.csv)|*.csv||";
    static constexpr const char* kNoCsvFieldsMessage =
        "The specified CSV file does not contain field information.";

  private:
    void arrange();
    // The response to a click on optDataSource(index).
    void sourceClicked(int index);

    // Behaviour of the browse and build buttons, connected once the controls exist.
    void connectSourceButtons();
    void browseClicked(QLineEdit* pathBox, const char* filter, bool csv);
    // LoadCSVFields under the hourglass, with its message when it fails.
    void reloadCsvFields();
    // A path typed into txtCSVPath loads the field list when it is committed (Enter or
    // leaving the box), as a browse does; an unchanged path is not read again.
    void csvPathCommitted();
    QString loadedCsvPath_;
    void buildClicked();
    // A notice with the information icon and the main window's caption.
    void notice(const QString& text);

    UiSeam& seam_;
    Controls ui_;
};

}  // namespace zembra::client
