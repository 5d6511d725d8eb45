// Tarn_Unit: the main window Form1 (class TForm1) with its controls and handlers, the
// filter-order spin edit, the directory chooser, and the application object that keeps
// errors from crossing Qt's event loop.
//
// The window only wires things up: what a handler does lives in the Qt-free core (the
// driver, the settings store), which reaches the window through tarn::WindowOperations.
#pragma once

#include <QAbstractSpinBox>
#include <QApplication>
#include <QDialog>
#include <QIcon>
#include <QMainWindow>
#include <QString>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "project/WindowOperations.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QFileSystemModel;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class QTreeView;

namespace tarn {

class DesignPanel;
class ResponseWindow;

// A numeric edit with up and down buttons whose text stays free until it loses the focus:
// reading gives the integer the text holds (not limited to the range, 1 when there is no
// integer), setting and leaving the field limit the value to 1..50.
class SpinEdit : public QAbstractSpinBox {
    Q_OBJECT

  public:
    static constexpr int Minimum = 1;
    static constexpr int Maximum = 50;

    explicit SpinEdit(QWidget* parent = nullptr);

    int value() const;
    void setValue(int value);

    void stepBy(int steps) override;

  protected:
    StepEnabled stepEnabled() const override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

// The modal "Select Directory" dialog: a tree of directories, an editable name field that
// shows the directory opened in the tree, OK and Cancel. OK with a name that does not exist
// asks "Confirm" first; "&No" stays in the dialog.
class SelectDirectoryDialog : public QDialog {
    Q_OBJECT

  public:
    // start must name an existing directory.
    explicit SelectDirectoryDialog(const QString& start, QWidget* parent = nullptr);

    // The accepted name: absolute, without a trailing separator except for the root, or
    // empty when the name field was empty.
    QString ChosenPath() const { return chosen_; }

    void accept() override;

  private:
    void OpenDirectory(const QString& path);
    QString ResolvedName() const;

    QFileSystemModel* model_;
    QTreeView* tree_;
    QLineEdit* name_;
    QString opened_; // the directory last opened in the tree; relative names start here
    QString chosen_;
};

// Every event passes through a handler guard, so an error that escapes any event handler
// ends up in the error box instead of unwinding through Qt's event loop.
class TarnApplication : public QApplication {
    Q_OBJECT

  public:
    TarnApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The program icon in all its sizes.
QIcon ProgramIcon();

// Moves a top-level widget so that it sits in the middle of its screen's free area.
void CentreOnScreen(QWidget* widget);

} // namespace tarn

class TForm1 : public QMainWindow, public tarn::WindowOperations {
    Q_OBJECT

  public:
    // appDir: the directory that holds "Tarn.ini" and the default project, ending in a
    // separator; empty for the executable's own directory. Runs FormCreate before returning,
    // so an error of the start-up load is shown before the window first appears.
    explicit TForm1(const std::string& appDir = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls, named as the rest of the program and the tests know them.
    QGroupBox* GroupBox1;
    QRadioButton* Radio44;
    QRadioButton* Radio48;
    QGroupBox* GroupBox2;
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;
    QGroupBox* GroupBox3;
    QCheckBox* Minimumphasecheckbox;
    tarn::SpinEdit* FilterOrder;
    QLabel* Label3;
    QLineEdit* fg1Edit;
    QLabel* Label1;
    QLineEdit* fg2Edit;
    QLineEdit* fg3Edit;
    QLineEdit* fg4Edit;
    QLabel* Label2;
    QPushButton* XOButton;
    QProgressBar* ProgressBar1;
    QTimer* Timer1;
    QMenuBar* MainMenu1;
    QMenu* File1;
    QAction* Project;
    QAction* N1;
    QAction* Exit1;
    // View -> Response: the written files' response, in a window of its own.
    QMenu* View1;
    QAction* Response1;
    tarn::ResponseWindow* ResponseWindow1;

    // Beyond the original window: File -> Open Project... and the recent projects (between
    // it and N1), Help -> About, the design panel, the unit of the fields, the bands each
    // field separates, and the status line under the button.
    QAction* OpenProject1;
    // File -> Export for engine...: an engine's configuration for the project's set.
    QAction* ExportEngine1;
    QMenu* Help1;
    QAction* About1;
    tarn::DesignPanel* DesignPanel1;
    QLabel* UnitLabel;
    std::array<QLabel*, 4> BoundaryLabels;
    QLabel* StatusLine;

    // Handlers.
    void FormCreate();
    void XOButtonClick();
    void ProjectClick();
    void RadioButton2Click();
    void Timer1Timer();
    void Exit1Click();
    void Response1Click();
    void OpenProject1Click();
    void OpenRecentProject(const std::string& dir);
    void About1Click();
    void ExportEngine1Click();

    // tarn::WindowOperations
    void ProcessMessages() override;
    void ShowMessage(const std::string& text) override;
    void ShowError(const std::string& text) override;
    int GetCursor() override;
    void SetBusyCursor() override;
    void SetCursor(int saved) override;
    bool MinimumPhaseOption() override;
    bool Radio44Checked() override;
    bool Radio48Checked() override;
    std::string FieldText(int field) override;
    void SetFieldText(int field, const std::string& text) override;
    int FilterOrderValue() override;
    void SetFilterOrderValue(int value) override;
    void SetCaption(const std::string& caption) override;
    void SetTimerEnabled(bool enabled) override;
    void SetProgress(int position) override;
    std::optional<std::string> ChooseDirectory(const std::string& start) override;
    void FileWritten(const std::string& path) override;
    std::optional<int> RateChoice() override;
    tarn::FileFormat FormatChoice() override;
    tarn::Alignment AlignmentChoice() override;
    int TapsChoice() override;
    tarn::BandTrim TrimChoice(std::string_view word) override;
    void ShowDesign(const tarn::ProjectSettings& design) override;
    void ShowWarning(const std::string& text) override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

  private:
    void CreateControls();
    void CreateDesignControls();
    void CreateMenu();
    void SettleSize();
    void Relayout();
    std::vector<QWidget*> TabChain() const;
    QWidget* DialogParent();
    // The rate a run would write [Hz, or AllRates].
    int CurrentRate();
    void FieldsChanged();
    void UpdateLatency();
    // The busy state of a run: the button disabled and saying so, the status line.
    void ShowBusy(bool busy);
    // After the project directory has changed: the recent list and the response view.
    void ProjectChanged();
    // The recent projects the File menu offers (the current one left out), most recent first.
    std::vector<std::string> RecentMenuEntries() const;
    void FillRecentMenu();

    std::string appDir_;
    tarn::WindowOperations* previousWindow_;
    QWidget* client_;
    std::array<QLineEdit*, 4> fields_;
    QButtonGroup* rateGroup_;
    std::vector<QAction*> recentActions_; // the separator first, when there are any
    // Files written by the run in progress, for the status line.
    int filesWritten_ = 0;
    bool busy_ = false;
    int busyDepth_ = 0; // the cursor depth the run started from
    bool buttonHadFocus_ = false;
    // Override cursors this window has pushed; GetCursor/SetCursor save and restore it.
    int cursorDepth_ = 0;
    // A close asked for while a calculation runs; carried out once the run has ended.
    bool closePending_ = false;
    bool shownBefore_ = false;
};

// The application's main window, set from the moment its construction begins.
extern TForm1* Form1;
