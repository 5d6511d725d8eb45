#include "app/ExportDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tarn {

using engines::Engine;

ExportDialog::ExportDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ExportDialog"));
    setWindowTitle(QStringLiteral("Export for engine"));

    auto* intro = new QLabel(
        QStringLiteral("Writes, into the project directory, a configuration that loads the "
                       "files of the last calculation. Outputs: two per band, lowest band "
                       "first, left before right. Level, delay and polarity are in the files."),
        this);
    intro->setWordWrap(true);

    // Each entry carries tarn-cli's name of its engine.
    engine_ = new QComboBox(this);
    engine_->setObjectName(QStringLiteral("engineCombo"));
    const std::pair<Engine, const char*> engines[] = {
        {Engine::CamillaDsp, "CamillaDSP"},
        {Engine::BruteFir, "BruteFIR"},
        {Engine::EqualizerApo, "Equalizer APO (WAV sets)"},
        {Engine::Convolver, "Convolver: Roon, JRiver (WAV sets)"},
    };
    for (const auto& [engine, title] : engines)
        engine_->addItem(QString::fromLatin1(title),
                         QString::fromStdString(engines::EngineName(engine)));

    version_ = new QComboBox(this);
    version_->setObjectName(QStringLiteral("versionCombo"));
    version_->addItem(QStringLiteral("4.0 and later (F64_LE)"), 4);
    version_->addItem(QStringLiteral("before 4.0 (FLOAT64LE)"), 3);

    capture_ = new QLineEdit(this);
    capture_->setObjectName(QStringLiteral("captureEdit"));
    playback_ = new QLineEdit(this);
    playback_->setObjectName(QStringLiteral("playbackEdit"));
    for (QLineEdit* edit : {capture_, playback_})
        edit->setPlaceholderText(QStringLiteral("empty: a placeholder to fill in"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Engine:"), engine_);
    form->addRow(QStringLiteral("CamillaDSP &version:"), version_);
    form->addRow(QStringLiteral("&Input device:"), capture_);
    form->addRow(QStringLiteral("&Output device:"), playback_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(engine_, &QComboBox::currentIndexChanged, this, &ExportDialog::EngineChanged);
    EngineChanged();
}

ProjectExportOptions ExportDialog::Options() const {
    ProjectExportOptions options;
    options.engine = engines::ParseEngine(engine_->currentData().toString().toStdString()).value();
    options.camillaDspVersion = version_->currentData().toInt();
    if (capture_->isEnabled()) options.captureDevice = capture_->text().trimmed().toStdString();
    if (playback_->isEnabled()) options.playbackDevice = playback_->text().trimmed().toStdString();
    return options;
}

void ExportDialog::EngineChanged() {
    const Engine engine = Options().engine;
    version_->setEnabled(engine == Engine::CamillaDsp);
    const bool devices = engine == Engine::CamillaDsp || engine == Engine::BruteFir;
    capture_->setEnabled(devices);
    playback_->setEnabled(devices);
}

} // namespace tarn
