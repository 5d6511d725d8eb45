#include "app/DesignPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRadioButton>
#include <algorithm>
#include <cmath>

#include "crossover/Bands.h"
#include "crossover/Shorten.h"
#include "crossover/Tarndef.h"
#include "project/DesignTexts.h"

namespace tarn {

namespace {

// The counts the list offers: the powers of two and 6144, the largest count of the common
// DSP boards.
constexpr int TapCounts[] = {256, 512, 1024, 2048, 4096, 6144, 8192, 16384, 32768, 65536, 131072};

constexpr double MaxDelayMm = MaxDelayMs * SpeedOfSound;

// A limit that also catches a value that is not a number (from a hand-edited file).
double Limited(double value, double low, double high, double fallback) {
    if (std::isnan(value)) return fallback;
    return std::clamp(value, low, high);
}

QLabel* Caption(const QString& text, const QString& tip, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setToolTip(tip);
    return label;
}

} // namespace

DesignPanel::DesignPanel(QWidget* parent) : QGroupBox(QStringLiteral("Design"), parent) {
    setToolTip(QStringLiteral("What the next run builds besides the settings on the left; "
                              "stored with the project and shown again when it is opened"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    int row = 0;

    // Format, beside the precision group on the left. The radios sit in a box of their own,
    // so that they exclude each other and not the rate radios.
    auto* formats = new QWidget(this);
    auto* formatLayout = new QHBoxLayout(formats);
    formatLayout->setContentsMargins(0, 0, 0, 0);
    RawRadio = new QRadioButton(QStringLiteral("raw"), formats);
    RawRadio->setToolTip(QStringLiteral(
        "Headerless little-endian floats: \".dbl\" (64 bit) or \".pcm\" (32 bit), as "
        "BruteFIR and CamillaDSP load them"));
    WavRadio = new QRadioButton(QStringLiteral("WAV"), formats);
    WavRadio->setToolTip(QStringLiteral(
        "Mono IEEE-float WAV files (32 or 64 bit, as the precision), for Equalizer APO, Roon, "
        "JRiver, HQPlayer"));
    RawRadio->setChecked(true);
    formatLayout->addWidget(RawRadio);
    formatLayout->addWidget(WavRadio);
    formatLayout->addStretch(1);
    const QString formatTip = QStringLiteral("The kind of coefficient file a run writes");
    grid->addWidget(Caption(QStringLiteral("Format"), formatTip, this), row, 0);
    grid->addWidget(formats, row++, 1);

    // The rates beyond the two on the left; the window makes all of them one group.
    auto* rates = new QWidget(this);
    auto* rateLayout = new QGridLayout(rates);
    rateLayout->setContentsMargins(0, 0, 0, 0);
    rateLayout->setHorizontalSpacing(6);
    rateLayout->setVerticalSpacing(2);
    for (const SampleRateTag& tag : SampleRateTags()) {
        const int hz = static_cast<int>(tag.rate);
        if (hz == 44100 || hz == 48000) continue;
        auto* radio = new QRadioButton(QString::number(hz), rates);
        radio->setToolTip(
            QStringLiteral("Sample rate %1 Hz: files tagged \"%2\"")
                .arg(hz)
                .arg(QString::fromUtf8(tag.tag.data(), static_cast<int>(tag.tag.size()))));
        rateButtons_.push_back(radio);
        rates_.push_back(hz);
    }
    auto* all = new QRadioButton(QStringLiteral("All rates"), rates);
    all->setToolTip(QStringLiteral("One design written for every rate from 44100 to 192000 Hz, "
                                   "each set tagged with its rate"));
    rateButtons_.push_back(all);
    rates_.push_back(AllRates);
    for (std::size_t i = 0; i < rateButtons_.size(); ++i)
        rateLayout->addWidget(rateButtons_[i], static_cast<int>(i / 3), static_cast<int>(i % 3));
    // A wider panel leaves the radios together.
    rateLayout->setColumnStretch(3, 1);
    const QString rateTip =
        QStringLiteral("Sample rates beyond 44100 and 48000 Hz (those are on the left)");
    auto* rateCaption = Caption(QStringLiteral("More rates"), rateTip, this);
    grid->addWidget(rateCaption, row, 0, Qt::AlignTop);
    grid->addWidget(rates, row++, 1);

    AlignmentBox = new QComboBox(this);
    for (const Alignment a : {Alignment::Tarn, Alignment::LinkwitzRiley}) {
        const std::string_view name = AlignmentName(a);
        AlignmentBox->addItem(QString::fromUtf8(name.data(), static_cast<int>(name.size())));
    }
    AlignmentBox->setToolTip(QStringLiteral(
        "Tarn: the original band shapes. Linkwitz-Riley: symmetric slopes, -6 dB at each "
        "crossover frequency, bands that sum flat in both phases"));
    grid->addWidget(Caption(QStringLiteral("Alignment"), AlignmentBox->toolTip(), this), row, 0);
    grid->addWidget(AlignmentBox, row++, 1, Qt::AlignLeft);

    auto* taps = new QWidget(this);
    auto* tapsLayout = new QHBoxLayout(taps);
    tapsLayout->setContentsMargins(0, 0, 0, 0);
    TapsBox = new QComboBox(taps);
    TapsBox->setEditable(true);
    TapsBox->setInsertPolicy(QComboBox::NoInsert);
    for (const int count : TapCounts)
        TapsBox->addItem(QString::number(count));
    TapsBox->lineEdit()->setValidator(new QIntValidator(1, MaxTapCount, TapsBox));
    TapsBox->setToolTip(QStringLiteral("Taps per coefficient file, %1 to %2 (any count may be "
                                       "typed). Fewer taps: less latency and less CPU, but a "
                                       "low or steep crossover may no longer fit")
                            .arg(MinTapCount)
                            .arg(MaxTapCount));
    LatencyLabel = new QLabel(taps);
    LatencyLabel->setToolTip(QStringLiteral(
        "The delay the filters add: half the taps for linear phase, none for minimum phase "
        "(a band's own delay comes on top)"));
    tapsLayout->addWidget(TapsBox);
    tapsLayout->addWidget(LatencyLabel, 1);
    grid->addWidget(Caption(QStringLiteral("Taps"), TapsBox->toolTip(), this), row, 0);
    grid->addWidget(taps, row++, 1);

    // Per band: level, delay and polarity, one row per band of the current fields.
    auto* table = new QWidget(this);
    auto* tableLayout = new QGridLayout(table);
    tableLayout->setContentsMargins(0, 4, 0, 0);
    tableLayout->setHorizontalSpacing(6);
    tableLayout->setVerticalSpacing(2);
    const QString levelTip =
        QStringLiteral(
            "Level of the band in dB, %1 to +%2 (e.g. a tweeter more sensitive than the woofer)")
            .arg(MinLevelDb)
            .arg(MaxLevelDb);
    const QString delayTip =
        QStringLiteral("Delay of the band, 0 to %1 ms, to line up a driver whose acoustic "
                       "centre lies nearer (343 m/s: 1 ms is 343 mm)")
            .arg(MaxDelayMs);
    const QString invertTip = QStringLiteral("Inverts the polarity of the band");
    tableLayout->addWidget(Caption(QStringLiteral("Band"),
                                   QStringLiteral("The bands of the current frequencies"), table),
                           0, 0);
    tableLayout->addWidget(Caption(QStringLiteral("Level, dB"), levelTip, table), 0, 1);
    auto* delayHeader = new QWidget(table);
    auto* delayHeaderLayout = new QHBoxLayout(delayHeader);
    delayHeaderLayout->setContentsMargins(0, 0, 0, 0);
    delayHeaderLayout->setSpacing(4);
    DelayUnitBox = new QComboBox(delayHeader);
    DelayUnitBox->addItems({QStringLiteral("ms"), QStringLiteral("mm")});
    DelayUnitBox->setToolTip(
        QStringLiteral("Enter delays as a time (ms) or as a distance (mm, at 343 m/s)"));
    delayHeaderLayout->addWidget(Caption(QStringLiteral("Delay,"), delayTip, delayHeader));
    delayHeaderLayout->addWidget(DelayUnitBox);
    delayHeaderLayout->addStretch(1);
    tableLayout->addWidget(delayHeader, 0, 2, 1, 2);
    tableLayout->addWidget(Caption(QStringLiteral("Invert"), invertTip, table), 0, 4);

    for (std::size_t i = 0; i < BandRows.size(); ++i) {
        BandRow& r = BandRows[i];
        r.name = new QLabel(table);
        r.level = new QDoubleSpinBox(table);
        r.level->setRange(MinLevelDb, MaxLevelDb);
        r.level->setDecimals(2);
        r.level->setSingleStep(0.5);
        r.level->setToolTip(levelTip);
        r.delay = new QDoubleSpinBox(table);
        r.delay->setToolTip(delayTip);
        r.otherUnit = new QLabel(table);
        r.otherUnit->setToolTip(QStringLiteral("The delay in the other unit"));
        r.invert = new QCheckBox(table);
        r.invert->setToolTip(invertTip);
        const int line = static_cast<int>(i) + 1;
        tableLayout->addWidget(r.name, line, 0);
        tableLayout->addWidget(r.level, line, 1);
        tableLayout->addWidget(r.delay, line, 2);
        tableLayout->addWidget(r.otherUnit, line, 3);
        tableLayout->addWidget(r.invert, line, 4, Qt::AlignHCenter);
        // Rows come and go with the number of ways; the panel keeps its size.
        for (QWidget* w : {static_cast<QWidget*>(r.name), static_cast<QWidget*>(r.level),
                           static_cast<QWidget*>(r.delay), static_cast<QWidget*>(r.otherUnit),
                           static_cast<QWidget*>(r.invert)}) {
            QSizePolicy policy = w->sizePolicy();
            policy.setRetainSizeWhenHidden(true);
            w->setSizePolicy(policy);
        }

        connect(r.level, &QDoubleSpinBox::valueChanged, this,
                [this, &r](double value) { trims_[r.band].levelDb = value; });
        connect(r.delay, &QDoubleSpinBox::valueChanged, this, [this, &r](double value) {
            trims_[r.band].delayMs = DelayInMillimetres() ? DelayMsFromMillimetres(value) : value;
            ShowOtherUnit(r);
        });
        connect(r.invert, &QCheckBox::toggled, this,
                [this, &r](bool checked) { trims_[r.band].invert = checked; });
    }
    tableLayout->setColumnStretch(5, 1);
    grid->addWidget(table, row++, 0, 1, 2);
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);

    connect(DelayUnitBox, &QComboBox::currentIndexChanged, this, [this] {
        for (BandRow& r : BandRows)
            ShowRow(r);
    });
    connect(TapsBox, &QComboBox::editTextChanged, this, [this] { UpdateLatency(); });

    ShowBands(1);
    UpdateLatency();
}

std::optional<int> DesignPanel::SelectedRate() const {
    for (std::size_t i = 0; i < rateButtons_.size(); ++i)
        if (rateButtons_[i]->isChecked()) return rates_[i];
    return std::nullopt;
}

bool DesignPanel::SelectRate(int rate) {
    for (std::size_t i = 0; i < rateButtons_.size(); ++i)
        if (rates_[i] == rate) {
            rateButtons_[i]->setChecked(true);
            return true;
        }
    return false;
}

FileFormat DesignPanel::Format() const {
    return WavRadio->isChecked() ? FileFormat::Wav : FileFormat::Raw;
}

void DesignPanel::SetFormat(FileFormat format) {
    (format == FileFormat::Wav ? WavRadio : RawRadio)->setChecked(true);
}

Alignment DesignPanel::ChosenAlignment() const {
    return AlignmentBox->currentIndex() == 1 ? Alignment::LinkwitzRiley : Alignment::Tarn;
}

void DesignPanel::SetAlignment(Alignment alignment) {
    AlignmentBox->setCurrentIndex(alignment == Alignment::LinkwitzRiley ? 1 : 0);
}

int DesignPanel::Taps() const {
    bool ok = false;
    const int typed = TapsBox->currentText().trimmed().toInt(&ok);
    if (!ok) return CoefficientCount;
    return std::clamp(typed, MinTapCount, MaxTapCount);
}

void DesignPanel::SetTaps(int taps) {
    TapsBox->setEditText(QString::number(std::clamp(taps, MinTapCount, MaxTapCount)));
}

void DesignPanel::SettleTaps() {
    const QString settled = QString::number(Taps());
    if (TapsBox->currentText() != settled) TapsBox->setEditText(settled);
}

void DesignPanel::SetLatencyBasis(bool minimumPhase, int rate) {
    minimumPhase_ = minimumPhase;
    rate_ = rate;
    UpdateLatency();
}

void DesignPanel::UpdateLatency() {
    const int taps = Taps();
    QString text = QStringLiteral("latency ") +
                   QString::fromStdString(LatencyText(minimumPhase_, taps, rate_));
    // A count the field cannot give as typed says which one a run would use.
    if (TapsBox->currentText().trimmed() != QString::number(taps))
        text += QStringLiteral(" (at %1 taps)").arg(taps);
    LatencyLabel->setText(text);
}

void DesignPanel::ShowBands(int ways) {
    const auto bands = BandsFor(ways);
    shownBands_ = static_cast<int>(bands.size());
    for (std::size_t i = 0; i < BandRows.size(); ++i) {
        BandRow& r = BandRows[i];
        const bool shown = i < bands.size();
        if (shown) {
            r.band = std::string(BandName(bands[i].word));
            r.name->setText(QString::fromStdString(r.band));
            ShowRow(r);
        }
        for (QWidget* w : {static_cast<QWidget*>(r.name), static_cast<QWidget*>(r.level),
                           static_cast<QWidget*>(r.delay), static_cast<QWidget*>(r.otherUnit),
                           static_cast<QWidget*>(r.invert)})
            w->setVisible(shown);
    }
}

BandTrim DesignPanel::Trim(std::string_view word) const {
    const auto it = trims_.find(BandName(word));
    return it == trims_.end() ? BandTrim{} : it->second;
}

void DesignPanel::SetTrims(const std::map<std::string, BandTrim, std::less<>>& byName) {
    trims_.clear();
    for (const auto& [name, trim] : byName) {
        BandTrim limited = trim;
        limited.levelDb = Limited(trim.levelDb, MinLevelDb, MaxLevelDb, 0.0);
        limited.delayMs = Limited(trim.delayMs, 0.0, MaxDelayMs, 0.0);
        trims_[name] = limited;
    }
    for (BandRow& r : BandRows)
        if (!r.band.empty()) ShowRow(r);
}

bool DesignPanel::DelayInMillimetres() const {
    return DelayUnitBox->currentIndex() == 1;
}

void DesignPanel::ShowRow(BandRow& row) {
    const BandTrim trim = Trim(BandWordOfName(row.band));
    const bool mm = DelayInMillimetres();
    for (QObject* o : {static_cast<QObject*>(row.level), static_cast<QObject*>(row.delay),
                       static_cast<QObject*>(row.invert)})
        o->blockSignals(true);
    row.level->setValue(trim.levelDb);
    row.delay->setDecimals(mm ? 1 : 3);
    row.delay->setRange(0.0, mm ? MaxDelayMm : MaxDelayMs);
    row.delay->setSingleStep(mm ? 1.0 : 0.01);
    row.delay->setValue(mm ? MillimetresFromDelayMs(trim.delayMs) : trim.delayMs);
    row.invert->setChecked(trim.invert);
    for (QObject* o : {static_cast<QObject*>(row.level), static_cast<QObject*>(row.delay),
                       static_cast<QObject*>(row.invert)})
        o->blockSignals(false);
    ShowOtherUnit(row);
}

void DesignPanel::ShowOtherUnit(BandRow& row) {
    const double ms = Trim(BandWordOfName(row.band)).delayMs;
    const QLocale locale;
    row.otherUnit->setText(DelayInMillimetres()
                               ? locale.toString(ms, 'f', 3) + QStringLiteral(" ms")
                               : locale.toString(MillimetresFromDelayMs(ms), 'f', 1) +
                                     QStringLiteral(" mm"));
}

std::vector<QWidget*> DesignPanel::TabStops() const {
    std::vector<QWidget*> stops{WavRadio->isChecked() ? WavRadio : RawRadio, AlignmentBox, TapsBox,
                                DelayUnitBox};
    for (const BandRow& r : BandRows) {
        stops.push_back(r.level);
        stops.push_back(r.delay);
        stops.push_back(r.invert);
    }
    return stops;
}

std::vector<QWidget*> DesignPanel::EnterFields() const {
    std::vector<QWidget*> fields{TapsBox->lineEdit()};
    for (const BandRow& r : BandRows) {
        fields.push_back(r.level);
        fields.push_back(r.delay);
    }
    return fields;
}

} // namespace tarn
