// The design panel of the main window: what a run builds beyond the original controls. The
// file format, the rates beyond 44100 and 48000, the alignment, the tap count with the
// latency it gives, and a level, delay and polarity for each band of the current fields.
//
// The panel only holds choices; the window reads them for the run (WindowOperations) and
// puts a stored design into them.
#pragma once

#include <QGroupBox>
#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crossover/BandTrim.h"
#include "project/ProjectSettings.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QRadioButton;

namespace tarn {

class DesignPanel : public QGroupBox {
    Q_OBJECT

  public:
    explicit DesignPanel(QWidget* parent = nullptr);

    // The rates here, lowest first, "All rates" last. The window joins them to one group
    // with its own 44100 and 48000.
    const std::vector<QRadioButton*>& RateButtons() const { return rateButtons_; }
    // The rate [Hz] of the radio selected here, AllRates for "All rates"; nothing when none
    // of them is selected (the window's own radios decide).
    std::optional<int> SelectedRate() const;
    // Selects the radio of rate [Hz] or AllRates; false when none here stands for it.
    bool SelectRate(int rate);

    FileFormat Format() const;
    void SetFormat(FileFormat format);
    Alignment ChosenAlignment() const;
    void SetAlignment(Alignment alignment);

    // The tap count in the field, limited to MinTapCount..MaxTapCount; a text that holds no
    // number gives the default count.
    int Taps() const;
    void SetTaps(int taps);
    // Shows in the field the count that Taps() reads, so the run and the field agree.
    void SettleTaps();
    // What the latency depends on besides the taps: the phase and the rate [Hz, AllRates].
    void SetLatencyBasis(bool minimumPhase, int rate);

    // One row per band of a crossover of ways ways (1: one row "Full").
    void ShowBands(int ways);
    int ShownBands() const { return shownBands_; }
    // The trim of a band by its word ("" for the full range), also of a band without a row.
    BandTrim Trim(std::string_view word) const;
    // Replaces every trim, by band name ("Sub".."High", "Full"); each value is limited to the
    // range its field offers.
    void SetTrims(const std::map<std::string, BandTrim, std::less<>>& byName);

    // The panel's controls in the order the Tab key visits them (hidden rows included; the
    // window skips what it cannot focus), and the fields in which Enter starts a run.
    std::vector<QWidget*> TabStops() const;
    std::vector<QWidget*> EnterFields() const;

    // Controls.
    QRadioButton* RawRadio;
    QRadioButton* WavRadio;
    QComboBox* AlignmentBox;
    QComboBox* TapsBox;
    QLabel* LatencyLabel;
    QComboBox* DelayUnitBox; // "ms" or "mm": what the delay fields show and take

    struct BandRow {
        QLabel* name;
        QDoubleSpinBox* level; // dB
        QDoubleSpinBox* delay; // in the unit of DelayUnitBox
        QLabel* otherUnit;     // the delay in the other unit
        QCheckBox* invert;
        std::string band; // the band name the row shows
    };
    std::array<BandRow, 5> BandRows;

  private:
    bool DelayInMillimetres() const;
    // Puts the band's trim into its row's fields without counting as an edit.
    void ShowRow(BandRow& row);
    void ShowOtherUnit(BandRow& row);
    void RowEdited(BandRow& row);
    void UpdateLatency();

    std::vector<QRadioButton*> rateButtons_;
    std::vector<int> rates_; // beside rateButtons_
    // The trims as entered or stored, by band name: exact, whatever the fields round to.
    std::map<std::string, BandTrim, std::less<>> trims_;
    int shownBands_ = 0;
    bool minimumPhase_ = true;
    int rate_ = 44100;
};

} // namespace tarn
