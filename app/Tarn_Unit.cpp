#include "app/Tarn_Unit.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>
#include <stdexcept>

#include "app/DesignPanel.h"
#include "app/ExportDialog.h"
#include "app/ResponseWindow.h"
#include "crossover/Tarndef.h"
#include "crossover/WavFile.h"
#include "project/DesignTexts.h"
#include "project/Driver.h"
#include "project/Settings.h"

TForm1* Form1 = nullptr;

namespace tarn {

namespace {

// The application's title: the caption of every box the program shows.
const QString AppTitle = QStringLiteral("Tarn");

QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

// A message box whose text is shown as it is: a path or a field text holding "<b>" must not
// be read as markup.
void ShowPlainBox(QMessageBox::Icon icon, const std::string& text, QWidget* parent) {
    QMessageBox box(icon, AppTitle, FromUtf8(text), QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

// Keys that the filter-order field lets through besides control keys.
bool IsSpinEditCharacter(QChar c, const QString& decimalPoint) {
    return (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || decimalPoint.contains(c);
}

} // namespace

// ---------------------------------------------------------------------------------------
// SpinEdit

SpinEdit::SpinEdit(QWidget* parent) : QAbstractSpinBox(parent) {
    setButtonSymbols(UpDownArrows);
    // Every key is judged in keyPressEvent; an input method would slip text past it.
    setAttribute(Qt::WA_InputMethodEnabled, false);
    lineEdit()->setAttribute(Qt::WA_InputMethodEnabled, false);
    lineEdit()->setText(QString::number(Minimum));
}

int SpinEdit::value() const {
    return SpinEditRead(lineEdit()->text().toStdString());
}

void SpinEdit::setValue(int value) {
    lineEdit()->setText(QString::number(SpinEditLimit(value)));
}

void SpinEdit::stepBy(int steps) {
    // Steps start from whatever the text reads, which may lie outside the range while the
    // user is still typing; the sum is taken wide so that a huge typed number cannot wrap.
    const long long target = static_cast<long long>(value()) + steps;
    setValue(static_cast<int>(std::clamp<long long>(target, Minimum, Maximum)));
}

QAbstractSpinBox::StepEnabled SpinEdit::stepEnabled() const {
    // Both directions always: a step from an out-of-range text lands inside the range.
    return isReadOnly() ? StepNone : (StepUpEnabled | StepDownEnabled);
}

void SpinEdit::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
        stepBy(1);
        event->accept();
        return;
    case Qt::Key_Down:
        stepBy(-1);
        event->accept();
        return;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        // Only the arrow keys step.
        event->ignore();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        QApplication::beep();
        event->accept();
        return;
    default:
        break;
    }
    const QString text = event->text();
    const QString decimalPoint = locale().decimalPoint();
    for (const QChar c : text) {
        const bool control = c.unicode() < 0x20 || c.unicode() == 0x7f;
        if (!control && !IsSpinEditCharacter(c, decimalPoint)) {
            QApplication::beep();
            event->accept();
            return;
        }
    }
    QAbstractSpinBox::keyPressEvent(event);
}

void SpinEdit::focusOutEvent(QFocusEvent* event) {
    QAbstractSpinBox::focusOutEvent(event);
    const int read = value();
    if (read != SpinEditLimit(read)) setValue(read);
}

// ---------------------------------------------------------------------------------------
// SelectDirectoryDialog

SelectDirectoryDialog::SelectDirectoryDialog(const QString& start, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("SelectDirectory"));
    setWindowTitle(QStringLiteral("Select Directory"));

    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("DirectoryName"));
    auto* nameLabel = new QLabel(QStringLiteral("Directory &name:"), this);
    nameLabel->setBuddy(name_);

    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setRootPath(QDir::rootPath());

    tree_ = new QTreeView(this);
    tree_->setObjectName(QStringLiteral("DirectoryTree"));
    tree_->setModel(model_);
    tree_->setHeaderHidden(true);
    for (int column = 1; column < model_->columnCount(); ++column)
        tree_->hideColumn(column);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &SelectDirectoryDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SelectDirectoryDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(nameLabel);
    layout->addWidget(name_);
    layout->addWidget(tree_, 1);
    layout->addWidget(buttons);

    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) OpenDirectory(model_->filePath(current));
            });

    const QString startPath = QDir::cleanPath(QFileInfo(start).absoluteFilePath());
    const QModelIndex startIndex = model_->index(startPath);
    tree_->setCurrentIndex(startIndex);
    tree_->expand(startIndex);
    tree_->scrollTo(startIndex, QAbstractItemView::PositionAtCenter);
    OpenDirectory(startPath);
    // The model reads directories in the background, and each one it adds above the start
    // pushes the start out of view; keep it centred until the user takes over.
    const QPersistentModelIndex startRow(startIndex);
    connect(model_, &QFileSystemModel::directoryLoaded, this, [this, startRow] {
        if (startRow.isValid() && tree_->currentIndex() == startRow)
            tree_->scrollTo(startRow, QAbstractItemView::PositionAtCenter);
    });

    resize(420, 440);
    CentreOnScreen(this);
}

void SelectDirectoryDialog::OpenDirectory(const QString& path) {
    opened_ = QDir::cleanPath(path);
    name_->setText(QDir::toNativeSeparators(opened_));
}

QString SelectDirectoryDialog::ResolvedName() const {
    QString text = name_->text().trimmed();
    if (text.isEmpty()) return {};
    if (text == u'~' || text.startsWith(QStringLiteral("~/")))
        text = QDir::homePath() + text.mid(1);
    QString path = QDir::fromNativeSeparators(text);
    // A relative name means a directory below the one open in the tree.
    if (QDir::isRelativePath(path)) path = QDir(opened_).absoluteFilePath(path);
    return QDir::toNativeSeparators(QDir::cleanPath(path));
}

void SelectDirectoryDialog::accept() {
    const QString path = ResolvedName();
    if (path.isEmpty() || !QFileInfo(path).isDir()) {
        QMessageBox confirm(QMessageBox::Question, QStringLiteral("Confirm"),
                            QStringLiteral("The specified directory does not exist. Create it?"),
                            QMessageBox::NoButton, this);
        QPushButton* yes = confirm.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
        QPushButton* no = confirm.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        confirm.setDefaultButton(yes);
        confirm.setEscapeButton(no);
        confirm.exec();
        if (confirm.clickedButton() != yes) return;
    }
    chosen_ = path;
    QDialog::accept();
}

// ---------------------------------------------------------------------------------------
// TarnApplication

TarnApplication::TarnApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TarnApplication::notify(QObject* receiver, QEvent* event) {
    bool result = false;
    RunHandler([&] { result = QApplication::notify(receiver, event); });
    return result;
}

// ---------------------------------------------------------------------------------------

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/tarn-%1.png").arg(size), QSize(size, size));
    return icon;
}

void CentreOnScreen(QWidget* widget) {
    QScreen* screen = widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    const QSize size = widget->frameGeometry().size();
    widget->move(area.x() + (area.width() - size.width()) / 2,
                 area.y() + (area.height() - size.height()) / 2);
}

} // namespace tarn

// ---------------------------------------------------------------------------------------
// TForm1

namespace {

// Size of the original client area below the menu bar, at 96 dots per inch: the original
// controls keep their places in it, the design panel lies to its right and the status line
// below the button, where the progress bar was.
constexpr int ClientWidth = 473;
constexpr int ClientHeight = 217;
constexpr int ProgressBarHeight = 17;
constexpr int Margin = 8;
constexpr int PanelLeft = ClientWidth;
constexpr int StatusTop = ClientHeight - ProgressBarHeight;
// Room for a status line naming a long project directory over three lines.
constexpr int StatusMinHeight = 48;
// The bands each field separates, right of the fields and their original labels.
constexpr int BoundaryLeft = 300;

// The controls' font: 8 points at 96 dots per inch.
constexpr int FontPixelSize = 11;

// The layout was drawn for a font narrower than most Linux system fonts. Captioned
// controls keep their top left corner and grow to their text when it would be cut off;
// with a font as narrow as the original they keep the drawn size exactly.
// A label beside a field takes the field's height and centres its text in it, so that its
// text stands on the field's baseline.
void PlaceLabel(QLabel* label, int left, int top, int width, const QWidget* field) {
    label->setGeometry(left, top, std::max(width, label->sizeHint().width()), field->height());
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

// Width up to the end of a radio button's or check box's caption.
int CaptionEnd(QAbstractButton* button) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.rect = QRect(0, 0, 1000, button->height());
    const bool radio = qobject_cast<QRadioButton*>(button) != nullptr;
    const QRect contents = button->style()->subElementRect(
        radio ? QStyle::SE_RadioButtonContents : QStyle::SE_CheckBoxContents, &option, button);
    return contents.left() + button->fontMetrics().horizontalAdvance(button->text()) + 2;
}

// Lays out the buttons of a group box from left to right at their drawn positions, widened
// to their captions and pushed right past a widened left neighbour, then widens the box to
// hold them; a widened box moves left only as far as it must to stay inside the window.
void FitGroup(QGroupBox* box, std::initializer_list<QAbstractButton*> buttons) {
    int right = 0;
    for (QAbstractButton* button : buttons) {
        QRect r = button->geometry();
        r.moveLeft(std::max(r.left(), right));
        r.setWidth(std::max(r.width(), CaptionEnd(button)));
        const bool widened = r.width() > button->width();
        button->setGeometry(r);
        // Drawn neighbours may touch (the precision radios overlap by a pixel); only a
        // widened caption pushes the next button along.
        right = widened ? r.left() + r.width() + 4 : 0;
    }
    int end = 0;
    for (QAbstractButton* button : buttons)
        end = std::max(end, button->geometry().right() + 1);
    QRect r = box->geometry();
    const int width = std::max(r.width(), end + 4);
    if (width != r.width()) {
        const int left = std::min(r.left(), ClientWidth - 8 - width);
        box->setGeometry(std::max(left, 0), r.top(), width, r.height());
    }
}

} // namespace

TForm1::TForm1(const std::string& appDir, QWidget* parent) : QMainWindow(parent), appDir_(appDir) {
    Form1 = this;
    previousWindow_ = tarn::SetWindow(this);
    if (!appDir_.empty() && appDir_.back() != tarn::PathSeparator) appDir_ += tarn::PathSeparator;

    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tarn"));
    setWindowIcon(tarn::ProgramIcon());

    CreateMenu();
    CreateControls();
    CreateDesignControls();
    SettleSize();
    XOButton->setFocus();

    FormCreate();
}

TForm1::~TForm1() {
    while (cursorDepth_ > 0) {
        QGuiApplication::restoreOverrideCursor();
        --cursorDepth_;
    }
    if (&tarn::Window() == this) tarn::SetWindow(previousWindow_);
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::CreateMenu() {
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    File1 = MainMenu1->addMenu(QStringLiteral("&File"));
    File1->setObjectName(QStringLiteral("File1"));
    File1->menuAction()->setObjectName(QStringLiteral("File1Action"));
    Project = File1->addAction(QStringLiteral("&Project"));
    Project->setObjectName(QStringLiteral("Project"));
    N1 = File1->addSeparator();
    N1->setObjectName(QStringLiteral("N1"));
    Exit1 = File1->addAction(QStringLiteral("&Exit"));
    Exit1->setObjectName(QStringLiteral("Exit1"));

    connect(Project, &QAction::triggered, this, &TForm1::ProjectClick);
    connect(Exit1, &QAction::triggered, this, &TForm1::Exit1Click);

    OpenProject1 = new QAction(QStringLiteral("&Open Project..."), this);
    OpenProject1->setObjectName(QStringLiteral("OpenProject1"));
    OpenProject1->setShortcut(QKeySequence::Open);
    OpenProject1->setStatusTip(
        QStringLiteral("Opens a project directory and shows its stored design"));
    File1->insertAction(N1, OpenProject1);
    connect(OpenProject1, &QAction::triggered, this, &TForm1::OpenProject1Click);
    ExportEngine1 = new QAction(QStringLiteral("E&xport for engine..."), this);
    ExportEngine1->setObjectName(QStringLiteral("ExportEngine1"));
    ExportEngine1->setToolTip(QStringLiteral("Writes a convolution engine's configuration for "
                                             "the files of the last calculation"));
    File1->insertAction(N1, ExportEngine1);
    connect(ExportEngine1, &QAction::triggered, this, &TForm1::ExportEngine1Click);
    // The tips say what each item does differently from its neighbour.
    File1->setToolTipsVisible(true);
    Project->setToolTip(QStringLiteral("Writes the next run into another directory; the window "
                                       "keeps its values"));
    OpenProject1->setToolTip(OpenProject1->statusTip());

    View1 = MainMenu1->addMenu(QStringLiteral("&View"));
    View1->setObjectName(QStringLiteral("View1"));
    View1->menuAction()->setObjectName(QStringLiteral("View1Action"));
    Response1 = View1->addAction(QStringLiteral("&Response"));
    Response1->setObjectName(QStringLiteral("Response1"));
    ResponseWindow1 = new tarn::ResponseWindow(this);
    connect(Response1, &QAction::triggered, this, &TForm1::Response1Click);

    Help1 = MainMenu1->addMenu(QStringLiteral("&Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    About1 = Help1->addAction(QStringLiteral("&About Tarn..."));
    About1->setObjectName(QStringLiteral("About1"));
    connect(About1, &QAction::triggered, this, &TForm1::About1Click);
}

void TForm1::CreateControls() {
    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("ClientArea"));
    client_->setBackgroundRole(QPalette::Button);
    client_->setAutoFillBackground(true);
    QFont font = client_->font();
    font.setPixelSize(FontPixelSize);
    client_->setFont(font);
    setCentralWidget(client_);
    client_->installEventFilter(this);

    auto named = [](auto* widget, const char* name) {
        widget->setObjectName(QLatin1String(name));
        return widget;
    };

    GroupBox1 = named(new QGroupBox(QStringLiteral("Sample frequency"), client_), "GroupBox1");
    GroupBox1->setGeometry(32, 8, 137, 41);
    Radio44 = named(new QRadioButton(QStringLiteral("44100"), GroupBox1), "Radio44");
    Radio44->setGeometry(8, 16, 57, 17);
    Radio48 = named(new QRadioButton(QStringLiteral("48000"), GroupBox1), "Radio48");
    Radio48->setGeometry(72, 16, 57, 17);

    GroupBox2 = named(new QGroupBox(QStringLiteral("Precision"), client_), "GroupBox2");
    GroupBox2->setGeometry(264, 8, 201, 41);
    RadioButton1 =
        named(new QRadioButton(QStringLiteral("single - 32 bit"), GroupBox2), "RadioButton1");
    RadioButton1->setGeometry(8, 16, 89, 17);
    RadioButton2 =
        named(new QRadioButton(QStringLiteral("double - 64 bit"), GroupBox2), "RadioButton2");
    RadioButton2->setGeometry(96, 16, 97, 17);

    GroupBox3 = named(new QGroupBox(QStringLiteral("Minimum/linear phase"), client_), "GroupBox3");
    GroupBox3->setGeometry(32, 56, 137, 41);
    Minimumphasecheckbox =
        named(new QCheckBox(QStringLiteral("Minimum phase"), GroupBox3), "Minimumphasecheckbox");
    Minimumphasecheckbox->setGeometry(8, 16, 97, 17);
    Minimumphasecheckbox->setChecked(true);
    FitGroup(GroupBox1, {Radio44, Radio48});
    FitGroup(GroupBox2, {RadioButton1, RadioButton2});
    FitGroup(GroupBox3, {Minimumphasecheckbox});

    FilterOrder = named(new tarn::SpinEdit(client_), "FilterOrder");
    FilterOrder->setGeometry(32, 104, 49, 22);
    FilterOrder->setValue(10);
    Label3 = named(new QLabel(QStringLiteral("Filter order"), client_), "Label3");
    PlaceLabel(Label3, 88, 104, 49, FilterOrder);

    fg1Edit = named(new QLineEdit(client_), "fg1Edit");
    fg1Edit->setGeometry(192, 56, 49, 21);
    Label1 = named(new QLabel(QStringLiteral("low XO"), client_), "Label1");
    PlaceLabel(Label1, 248, 56, 34, fg1Edit);
    fg2Edit = named(new QLineEdit(client_), "fg2Edit");
    fg2Edit->setGeometry(192, 80, 49, 21);
    fg3Edit = named(new QLineEdit(client_), "fg3Edit");
    fg3Edit->setGeometry(192, 104, 49, 21);
    fg4Edit = named(new QLineEdit(client_), "fg4Edit");
    fg4Edit->setGeometry(192, 128, 49, 21);
    Label2 = named(new QLabel(QStringLiteral("high XO"), client_), "Label2");
    PlaceLabel(Label2, 248, 128, 38, fg4Edit);
    fields_ = {fg1Edit, fg2Edit, fg3Edit, fg4Edit};
    // QLineEdit cuts a text at 32767 characters by default, which would silently change a
    // pasted number; the fields take any text, and the parser judges it.
    for (QLineEdit* field : fields_)
        field->setMaxLength(std::numeric_limits<int>::max());

    XOButton = named(new QPushButton(QStringLiteral("Calc Crossover"), client_), "XOButton");
    XOButton->setGeometry(176, 160, 89, 33);
    XOButton->setAutoDefault(false);

    ProgressBar1 = named(new QProgressBar(client_), "ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setFocusPolicy(Qt::NoFocus);
    ProgressBar1->setGeometry(0, ClientHeight - ProgressBarHeight, ClientWidth, ProgressBarHeight);

    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(2000);

    // The focus chain Qt falls back on; focusNextPrevChild keeps Tab to the selected radios.
    QWidget* chain[] = {XOButton,
                        fg1Edit,
                        fg2Edit,
                        fg3Edit,
                        fg4Edit,
                        FilterOrder,
                        Radio44,
                        Radio48,
                        RadioButton1,
                        RadioButton2,
                        Minimumphasecheckbox};
    for (std::size_t i = 1; i < std::size(chain); ++i)
        setTabOrder(chain[i - 1], chain[i]);

    connect(XOButton, &QPushButton::clicked, this, &TForm1::XOButtonClick);
    connect(RadioButton1, &QRadioButton::clicked, this, &TForm1::RadioButton2Click);
    connect(RadioButton2, &QRadioButton::clicked, this, &TForm1::RadioButton2Click);
    // Arrow keys move the selection inside the group without a click; DoublePrecision must
    // follow those changes too.
    connect(RadioButton2, &QRadioButton::toggled, this, &TForm1::RadioButton2Click);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
}

void TForm1::CreateDesignControls() {
    // Tips for the original controls too: a new user meets them first.
    GroupBox1->setToolTip(QStringLiteral("Sample rate of the coefficient files; more rates in "
                                         "the design panel"));
    Radio44->setToolTip(QStringLiteral("44100 Hz: files tagged \"44\""));
    Radio48->setToolTip(QStringLiteral("48000 Hz: files tagged \"48\""));
    GroupBox2->setToolTip(QStringLiteral("Bits per tap of the coefficient files"));
    RadioButton1->setToolTip(QStringLiteral("32-bit floats (\".pcm\" or 32-bit WAV)"));
    RadioButton2->setToolTip(QStringLiteral("64-bit floats (\".dbl\" or 64-bit WAV)"));
    GroupBox3->setToolTip(QStringLiteral("Minimum phase: no latency, bands of different phase. "
                                         "Linear phase: a delay of half the taps, bands in "
                                         "phase"));
    Minimumphasecheckbox->setToolTip(GroupBox3->toolTip());
    FilterOrder->setToolTip(QStringLiteral("Filter order, 1 to 50: the higher, the steeper the "
                                           "slopes (Linkwitz-Riley: the order of each "
                                           "Butterworth half)"));
    Label3->setToolTip(FilterOrder->toolTip());
    const QString fieldTip = QStringLiteral(
        "Crossover frequency %1 in Hz, lowest first. The fields from the first empty or unusable "
        "one on take no part: one to four frequencies make two to five ways. Enter calculates.");
    for (int i = 0; i < 4; ++i)
        fields_[static_cast<std::size_t>(i)]->setToolTip(fieldTip.arg(i + 1));
    Label1->setToolTip(fg1Edit->toolTip());
    Label2->setToolTip(fg4Edit->toolTip());
    XOButton->setToolTip(QStringLiteral("Designs every band and writes its left and right "
                                        "coefficient files into the project directory"));
    ProgressBar1->setToolTip(QStringLiteral("Steps every 2 seconds while a run lasts"));

    // The unit of the fields, as a heading over them between the two upper groups (in the
    // original labels' words).
    UnitLabel = new QLabel(QStringLiteral("XO in Hz"), client_);
    UnitLabel->setObjectName(QStringLiteral("UnitLabel"));
    UnitLabel->setToolTip(QStringLiteral("The four fields hold crossover frequencies in Hz"));
    const int unitLeft = std::max(fg1Edit->x(), GroupBox1->geometry().right() + 1 + Margin / 2);
    const int unitHeight = UnitLabel->sizeHint().height();
    UnitLabel->setGeometry(unitLeft, fg1Edit->y() - unitHeight - 1,
                           std::min(UnitLabel->sizeHint().width(),
                                    GroupBox2->geometry().left() - Margin / 2 - unitLeft),
                           unitHeight);

    for (std::size_t i = 0; i < 4; ++i) {
        QLineEdit* field = fields_[i];
        auto* label = new QLabel(client_);
        label->setObjectName(QStringLiteral("Boundary%1").arg(i + 1));
        label->setToolTip(QStringLiteral("The two bands this frequency separates"));
        label->setGeometry(BoundaryLeft, field->y(),
                           GroupBox2->geometry().right() + 1 - BoundaryLeft, field->height());
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setForegroundRole(QPalette::PlaceholderText);
        BoundaryLabels[i] = label;
        connect(field, &QLineEdit::textChanged, this, &TForm1::FieldsChanged);
        field->installEventFilter(this);
    }

    StatusLine = new QLabel(client_);
    StatusLine->setObjectName(QStringLiteral("StatusLine"));
    StatusLine->setWordWrap(true);
    StatusLine->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    StatusLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    StatusLine->setToolTip(QStringLiteral("What the last run did"));

    DesignPanel1 = new tarn::DesignPanel(client_);
    DesignPanel1->setObjectName(QStringLiteral("DesignPanel1"));
    rateGroup_ = new QButtonGroup(this);
    rateGroup_->addButton(Radio44);
    rateGroup_->addButton(Radio48);
    for (QRadioButton* radio : DesignPanel1->RateButtons())
        rateGroup_->addButton(radio);
    connect(rateGroup_, &QButtonGroup::buttonToggled, this, [this] { UpdateLatency(); });
    connect(Minimumphasecheckbox, &QCheckBox::toggled, this, [this] { UpdateLatency(); });
    for (QWidget* field : DesignPanel1->EnterFields())
        field->installEventFilter(this);

    // The tab chain Qt falls back on, beyond the original controls.
    QWidget* previous = Minimumphasecheckbox;
    for (QWidget* stop : DesignPanel1->TabStops()) {
        setTabOrder(previous, stop);
        previous = stop;
    }

    FieldsChanged();
    UpdateLatency();
}

void TForm1::SettleSize() {
    // The size at which everything shows: the original area, the panel with all five band
    // rows beside it, and the status line under the button. The window never gets smaller;
    // what it grows by goes to the panel.
    DesignPanel1->ShowBands(5);
    const QSize panel = DesignPanel1->sizeHint();
    FieldsChanged();
    const QSize minimum(
        PanelLeft + panel.width() + Margin,
        std::max(Margin + panel.height() + Margin, StatusTop + StatusMinHeight + Margin) +
            ProgressBarHeight);
    client_->setMinimumSize(minimum);
    resize(minimum.width(), minimum.height() + MainMenu1->sizeHint().height());
    Relayout();
}

void TForm1::Relayout() {
    const int width = client_->width();
    const int height = client_->height();
    ProgressBar1->setGeometry(0, height - ProgressBarHeight, width, ProgressBarHeight);
    DesignPanel1->setGeometry(PanelLeft, Margin, width - PanelLeft - Margin,
                              height - ProgressBarHeight - 2 * Margin);
    StatusLine->setGeometry(Margin, StatusTop, PanelLeft - 2 * Margin,
                            height - ProgressBarHeight - Margin - StatusTop);
}

std::vector<QWidget*> TForm1::TabChain() const {
    // The selected radio of the rate group is its tab stop, wherever it lies.
    QWidget* rate = Radio44;
    for (QAbstractButton* b : rateGroup_->buttons())
        if (b->isChecked()) rate = b;
    std::vector<QWidget*> chain{XOButton,
                                fg1Edit,
                                fg2Edit,
                                fg3Edit,
                                fg4Edit,
                                FilterOrder,
                                rate,
                                RadioButton1->isChecked() ? RadioButton1 : RadioButton2,
                                Minimumphasecheckbox};
    for (QWidget* stop : DesignPanel1->TabStops())
        chain.push_back(stop);
    return chain;
}

QWidget* TForm1::DialogParent() {
    // Before the window is first shown (an error in FormCreate) a box of its own is centred
    // on the screen rather than on an invisible window.
    return isVisible() ? this : nullptr;
}

// ---------------------------------------------------------------------------------------
// Handlers

void TForm1::FormCreate() {
    // The defaults come first and hold also when the start-up load fails, so that the window
    // and DoublePrecision agree in every case; a stored design then replaces them.
    ProgressBar1->setMaximum(100);
    Radio44->setChecked(true);
    RadioButton2->setChecked(true);
    tarn::DoublePrecision = true;
    tarn::RunHandler([this] {
        if (appDir_.empty())
            tarn::StartupLoad();
        else
            tarn::StartupLoad(appDir_);
    });
    FillRecentMenu();
}

void TForm1::XOButtonClick() {
    // A second press while a run pumps messages finds the driver busy and does nothing.
    const bool starting = !tarn::CalculationRunning();
    std::string latency;
    const std::string project = tarn::ProjectPath;
    if (starting) {
        filesWritten_ = 0;
        // The count the run reads is the count the field shows.
        DesignPanel1->SettleTaps();
        latency = tarn::LatencyText(MinimumPhaseOption(), TapsChoice(), CurrentRate());
    }
    bool completed = false;
    const bool ok = tarn::RunHandler([&completed] { completed = tarn::XOButtonClick(); });
    if (starting) {
        ShowBusy(false);
        if (ok && completed)
            StatusLine->setText(
                QString::fromStdString(tarn::RunSummary(filesWritten_, project, latency)));
        else if (!ok)
            StatusLine->setText(QStringLiteral("The run stopped with an error."));
    }
    // The response view follows every run that wrote all its files.
    if (ok && completed)
        ResponseWindow1->RunCompleted(tarn::ProjectPath, tarn::RateTag, tarn::DoublePrecision);
    if (closePending_ && !tarn::CalculationRunning()) {
        closePending_ = false;
        close();
    }
}

void TForm1::ProjectClick() {
    // ProjectPath must not change under a running calculation.
    if (tarn::CalculationRunning()) return;
    const std::string previous = tarn::ProjectPath;
    const bool ok = tarn::RunHandler([] { tarn::ProjectClick(); });
    if (tarn::ProjectPath == previous) return;
    // A "Tarn.ini" that could not take the directory cannot take the list either.
    if (ok) tarn::RunHandler([&previous] { tarn::RememberProjects(tarn::ProjectPath, previous); });
    ProjectChanged();
}

void TForm1::OpenProject1Click() {
    const std::string previous = tarn::ProjectPath;
    tarn::RunHandler([] { tarn::OpenProjectClick(); });
    if (tarn::ProjectPath != previous) ProjectChanged();
}

void TForm1::OpenRecentProject(const std::string& dir) {
    const std::string previous = tarn::ProjectPath;
    if (!tarn::RunHandler([&dir] { tarn::OpenProject(dir); }) &&
        !QFileInfo(QString::fromStdString(dir)).isDir()) {
        // A project that has gone is offered no more.
        tarn::RunHandler([&dir] { tarn::ForgetProject(dir); });
        FillRecentMenu();
    }
    if (tarn::ProjectPath != previous) ProjectChanged();
}

void TForm1::ProjectChanged() {
    FillRecentMenu();
    StatusLine->clear();
    // The response view shows the new project's set, not the one it last read.
    if (ResponseWindow1->isVisible()) ResponseWindow1->Refresh();
}

std::vector<std::string> TForm1::RecentMenuEntries() const {
    std::vector<std::string> entries;
    for (const std::string& dir : tarn::RecentProjects())
        if (dir != tarn::ProjectPath) entries.push_back(dir);
    return entries;
}

void TForm1::FillRecentMenu() {
    // The action that was chosen may be on its way through this call: gone later, not now.
    for (QAction* action : recentActions_) {
        File1->removeAction(action);
        action->deleteLater();
    }
    recentActions_.clear();
    std::vector<std::string> entries;
    // An unreadable "Tarn.ini" lists nothing; the menu is no place for an error box.
    try {
        entries = RecentMenuEntries();
    } catch (const std::exception&) {
    }
    if (entries.empty()) return;
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    File1->insertAction(N1, separator);
    recentActions_.push_back(separator);
    int number = 0;
    for (const std::string& dir : entries) {
        QString text = QString::fromStdString(dir);
        text.replace(u'&', QStringLiteral("&&"));
        auto* action = new QAction(QStringLiteral("&%1 %2").arg(++number).arg(text), this);
        action->setToolTip(QStringLiteral("Opens this project and shows its stored design"));
        connect(action, &QAction::triggered, this, [this, dir] { OpenRecentProject(dir); });
        File1->insertAction(N1, action);
        recentActions_.push_back(action);
    }
}

void TForm1::About1Click() {
    const QString text =
        QStringLiteral("Tarn %1\n\n"
                       "Designs the FIR filters of a multi-way loudspeaker crossover and writes "
                       "them as coefficient files for convolution engines.\n\n"
                       "Licence: %2\n\n"
                       "Libraries:\n"
                       "Qt %3, Widgets (LGPL-3.0) and Charts (GPL-3.0)\n"
                       "%4 (LGPL-2.1-or-later)\n"
                       "CLI11 (BSD-3-Clause), for tarn-cli's options")
            .arg(QStringLiteral(TARN_VERSION), QStringLiteral(TARN_LICENCE),
                 QString::fromLatin1(qVersion()), QString::fromStdString(tarn::SndfileVersion()));
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("About Tarn"), text, QMessageBox::Ok,
                    DialogParent());
    box.setTextFormat(Qt::PlainText);
    box.setIconPixmap(tarn::ProgramIcon().pixmap(64, 64));
    box.exec();
}

void TForm1::ExportEngine1Click() {
    // The set must not change under the export.
    if (tarn::CalculationRunning()) return;
    tarn::ExportDialog dialog(DialogParent());
    if (dialog.exec() != QDialog::Accepted) return;
    tarn::ProjectExportOptions options = dialog.Options();
    options.busyWait = BusyProjectWait();
    const std::string project = tarn::ProjectPath;
    std::vector<std::string> written;
    if (!tarn::RunHandler([&] { written = tarn::ExportProject(project, options); })) return;
    std::string text = "Written into " + project + ":";
    for (const std::string& name : written)
        text += "\n" + name;
    ShowMessage(text);
}

void TForm1::RadioButton2Click() {
    tarn::DoublePrecision = RadioButton2->isChecked();
}

void TForm1::Timer1Timer() {
    if (ProgressBar1->value() < ProgressBar1->maximum())
        ProgressBar1->setValue(ProgressBar1->value() + 1);
}

void TForm1::Exit1Click() {
    close();
}

void TForm1::Response1Click() {
    ResponseWindow1->show();
    ResponseWindow1->raise();
    ResponseWindow1->activateWindow();
}

void TForm1::closeEvent(QCloseEvent* event) {
    // The run lives on this thread below the current event; the window must outlast it.
    if (tarn::CalculationRunning()) {
        closePending_ = true;
        StatusLine->setText(QStringLiteral("Closing once the run has ended..."));
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void TForm1::showEvent(QShowEvent* event) {
    // Centred once, at the first show: only then does the platform know the frame's size.
    if (!shownBefore_ && !event->spontaneous()) {
        shownBefore_ = true;
        tarn::CentreOnScreen(this);
    }
    QMainWindow::showEvent(event);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize) Relayout();
    // Enter in a field presses "Calc Crossover" (the filter order keeps its beep). A spin box
    // takes its text first, so the run reads what the field shows.
    if (event->type() == QEvent::KeyPress && watched != client_) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (auto* spin = qobject_cast<QAbstractSpinBox*>(watched)) spin->interpretText();
            if (XOButton->isEnabled()) XOButton->click();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TForm1::focusNextPrevChild(bool next) {
    const auto chain = TabChain();
    const int count = static_cast<int>(chain.size());
    QWidget* focus = QApplication::focusWidget();
    int index = -1;
    for (int i = 0; i < count; ++i) {
        if (focus && (chain[i] == focus || chain[i]->isAncestorOf(focus))) index = i;
    }
    if (index < 0) index = next ? -1 : count;
    for (int step = 0; step < count; ++step) {
        index = ((next ? index + 1 : index - 1) + count) % count;
        QWidget* target = chain[index];
        if (target->isVisible() && target->isEnabled()) {
            target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return QMainWindow::focusNextPrevChild(next);
}

// ---------------------------------------------------------------------------------------
// Window operations

void TForm1::ProcessMessages() {
    QCoreApplication::processEvents();
}

void TForm1::ShowMessage(const std::string& text) {
    tarn::ShowPlainBox(QMessageBox::NoIcon, text, DialogParent());
}

void TForm1::ShowError(const std::string& text) {
    tarn::ShowPlainBox(QMessageBox::Critical, text, DialogParent());
}

int TForm1::GetCursor() {
    return cursorDepth_;
}

void TForm1::SetBusyCursor() {
    // The busy cursor marks the run's computing: the window shows it as long.
    if (!busy_) {
        busyDepth_ = cursorDepth_;
        ShowBusy(true);
    }
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    ++cursorDepth_;
}

void TForm1::SetCursor(int saved) {
    while (cursorDepth_ > std::max(saved, 0)) {
        QGuiApplication::restoreOverrideCursor();
        --cursorDepth_;
    }
    if (busy_ && cursorDepth_ <= busyDepth_) ShowBusy(false);
}

void TForm1::ShowBusy(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy) {
        buttonHadFocus_ = XOButton->hasFocus();
        XOButton->setText(QStringLiteral("Calculating..."));
        XOButton->setEnabled(false);
        StatusLine->setText(QStringLiteral("Calculating into %1 ...")
                                .arg(QString::fromStdString(tarn::ProjectPath)));
    } else {
        XOButton->setText(QStringLiteral("Calc Crossover"));
        XOButton->setEnabled(true);
        if (buttonHadFocus_) XOButton->setFocus();
        StatusLine->clear();
    }
}

bool TForm1::MinimumPhaseOption() {
    return Minimumphasecheckbox->isChecked();
}

bool TForm1::Radio44Checked() {
    return Radio44->isChecked();
}

bool TForm1::Radio48Checked() {
    return Radio48->isChecked();
}

std::string TForm1::FieldText(int field) {
    return fields_.at(field - 1)->text().toStdString();
}

void TForm1::SetFieldText(int field, const std::string& text) {
    fields_.at(field - 1)->setText(tarn::FromUtf8(text));
}

int TForm1::FilterOrderValue() {
    return FilterOrder->value();
}

void TForm1::SetFilterOrderValue(int value) {
    FilterOrder->setValue(value);
}

void TForm1::SetCaption(const std::string& caption) {
    // Qt reads "[*]" in a title as the place of the modified mark and drops it; doubled, it
    // stands for itself, so a directory named "[*]" shows as it is.
    setWindowTitle(
        tarn::FromUtf8(caption).replace(QStringLiteral("[*]"), QStringLiteral("[*][*]")));
}

void TForm1::SetTimerEnabled(bool enabled) {
    // Enabling a running timer must not restart its 2-second period.
    if (!enabled)
        Timer1->stop();
    else if (!Timer1->isActive())
        Timer1->start();
}

void TForm1::SetProgress(int position) {
    ProgressBar1->setValue(std::clamp(position, ProgressBar1->minimum(), ProgressBar1->maximum()));
}

void TForm1::FileWritten(const std::string& /*path*/) {
    ++filesWritten_;
}

int TForm1::CurrentRate() {
    return RateChoice().value_or(Radio48->isChecked() ? 48000 : 44100);
}

std::optional<int> TForm1::RateChoice() {
    return DesignPanel1->SelectedRate();
}

tarn::FileFormat TForm1::FormatChoice() {
    return DesignPanel1->Format();
}

tarn::Alignment TForm1::AlignmentChoice() {
    return DesignPanel1->ChosenAlignment();
}

int TForm1::TapsChoice() {
    return DesignPanel1->Taps();
}

tarn::BandTrim TForm1::TrimChoice(std::string_view word) {
    return DesignPanel1->Trim(word);
}

void TForm1::ShowDesign(const tarn::ProjectSettings& design) {
    if (design.sampleRate == 48000)
        Radio48->setChecked(true);
    else if (design.sampleRate == 44100 || !DesignPanel1->SelectRate(design.sampleRate))
        Radio44->setChecked(true);
    Minimumphasecheckbox->setChecked(design.minimumPhase);
    (design.precision == 32 ? RadioButton1 : RadioButton2)->setChecked(true);
    tarn::DoublePrecision = RadioButton2->isChecked();
    DesignPanel1->SetFormat(design.format);
    DesignPanel1->SetAlignment(design.alignment);
    DesignPanel1->SetTaps(design.taps);
    DesignPanel1->SetTrims(design.trims);
    UpdateLatency();
}

void TForm1::ShowWarning(const std::string& text) {
    tarn::ShowPlainBox(QMessageBox::Warning, text, DialogParent());
}

void TForm1::FieldsChanged() {
    std::array<std::string, 4> texts;
    for (std::size_t i = 0; i < 4; ++i)
        texts[i] = fields_[i]->text().toStdString();
    const int ways = tarn::WaysOfFields(texts);
    for (std::size_t i = 0; i < 4; ++i) {
        const std::string boundary = tarn::FieldBoundary(ways, static_cast<int>(i) + 1);
        // A text in a field that takes no part is pointed out: a run will empty it.
        BoundaryLabels[i]->setText(boundary.empty() && !texts[i].empty()
                                       ? QStringLiteral("(not used)")
                                       : QString::fromStdString(boundary));
    }
    DesignPanel1->ShowBands(ways);
}

void TForm1::UpdateLatency() {
    DesignPanel1->SetLatencyBasis(MinimumPhaseOption(), CurrentRate());
}

std::optional<std::string> TForm1::ChooseDirectory(const std::string& start) {
    QString startDir = tarn::FromUtf8(start);
    if (startDir.isEmpty() || !QFileInfo(startDir).isDir()) startDir = QDir::currentPath();
    tarn::SelectDirectoryDialog dialog(startDir, DialogParent());
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.ChosenPath().toStdString();
}
