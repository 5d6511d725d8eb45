// File -> Export for engine...: the modal dialog that asks which engine's configuration to
// write for the project's set, CamillaDSP's version and the device names. The export itself
// is project/ProjectExport.h's, the same as tarn-cli export's.
#pragma once

#include <QDialog>

#include "project/ProjectExport.h"

class QComboBox;
class QLineEdit;

namespace tarn {

class ExportDialog : public QDialog {
    Q_OBJECT

  public:
    explicit ExportDialog(QWidget* parent = nullptr);

    // The choices as the export takes them.
    ProjectExportOptions Options() const;

  private:
    // Only the fields the chosen engine reads can be edited.
    void EngineChanged();

    QComboBox* engine_;
    QComboBox* version_;
    QLineEdit* capture_;
    QLineEdit* playback_;
};

} // namespace tarn
