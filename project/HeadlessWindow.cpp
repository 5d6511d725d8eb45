#include "project/HeadlessWindow.h"

#include "crossover/Bands.h"
#include "crossover/Tarndef.h"

namespace tarn {

void HeadlessWindow::ProcessMessages() {
    ++pumpCount;
    if (onPump) onPump();
}

void HeadlessWindow::ShowMessage(const std::string& text) {
    messages.push_back(text);
    if (onMessage) onMessage(text);
}

void HeadlessWindow::ShowError(const std::string& text) {
    errors.push_back(text);
}

void HeadlessWindow::SetFields(const std::string& f1, const std::string& f2, const std::string& f3,
                               const std::string& f4) {
    fields[0] = f1;
    fields[1] = f2;
    fields[2] = f3;
    fields[3] = f4;
}

std::string HeadlessWindow::FieldText(int field) {
    return fields[field - 1];
}

void HeadlessWindow::SetFieldText(int field, const std::string& text) {
    fields[field - 1] = text;
}

void HeadlessWindow::SetFilterOrderValue(int value) {
    filterOrderText = std::to_string(SpinEditLimit(value));
}

std::optional<std::string> HeadlessWindow::ChooseDirectory(const std::string& start) {
    chooserStarts.push_back(start);
    if (chooserAnswers.empty()) return std::nullopt;
    auto answer = chooserAnswers.front();
    chooserAnswers.pop_front();
    return answer;
}

void HeadlessWindow::FileWritten(const std::string& path) {
    filesWritten.push_back(path);
}

BandTrim HeadlessWindow::TrimChoice(std::string_view word) {
    const auto it = trims.find(word);
    return it == trims.end() ? BandTrim{} : it->second;
}

void HeadlessWindow::ShowDesign(const ProjectSettings& design) {
    rate = design.sampleRate;
    radio48 = design.sampleRate == 48000;
    minimumPhase = design.minimumPhase;
    DoublePrecision = design.precision == 64;
    format = design.format;
    alignment = design.alignment;
    taps = design.taps;
    trims.clear();
    for (const auto& [name, trim] : design.trims)
        trims[std::string(BandWordOfName(name))] = trim;
}

} // namespace tarn
