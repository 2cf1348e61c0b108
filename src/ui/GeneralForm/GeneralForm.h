#pragma once
// The general settings dialog: start with the session, automatic update, journal level, watched
// folder and general mask, network adapter and connect time-out. The main window fills it from
// its settings, shows it modally and collects it back only after "Сохранить". The journal level
// chosen here takes effect at once and is taken back when the dialog is left without saving.
//
// The adapter list begins with "Выбирает система" (no adapter stored: the system picks the
// route, a search takes its first adapter); a stored address that no adapter has any more stays
// in the list marked as missing, and is journalled once as a warning each time the dialog is
// loaded. The time-out field takes digits only; a value outside 100..3000 is refused on
// "Сохранить" with the range, and the dialog stays open with the value shown.

#include "core/DigiSearch/SubnetScan.h"
#include "core/Journal/Journal.h"

#include <QDialog>

#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace Plumeria {

class TLoaderSettings;

class TfrmGeneral : public QDialog
{
    Q_OBJECT

public:
    /// The local adapters offered in the adapter list; empty means ListAdapters.
    using TAdapterSource = Plumeria::TAdapterSource;

    explicit TfrmGeneral(QWidget* Parent = nullptr, TAdapterSource Adapters = {});

    /// Fills the controls from `Source` and applies its journal level.
    void LoadFrom(const TLoaderSettings& Source);
    /// Writes the controls into `Dest`, making every value valid.
    void Collect(TLoaderSettings& Dest) const;

protected:
    /// Every way of closing ends here: anything but OK takes the journal level back.
    void done(int Result) override;

private:
    void CreateControls();
    void LayOut();
    void FillAdapters(const std::string& AdapterIp);
    void cmbLogChange(int Index);
    void btnSaveClick();
    void btnBrowseClick();

    QGroupBox* grpWork = nullptr;
    QCheckBox* chkRunWithWindows = nullptr;
    QCheckBox* chkAutoUpdate = nullptr;
    QLabel* lblLog = nullptr;
    QComboBox* cmbLog = nullptr;
    QPushButton* btnHelpWork = nullptr;
    QGroupBox* grpLink = nullptr;
    QLabel* lblLink = nullptr;
    QComboBox* cmbLink = nullptr;
    QPushButton* btnHelpLink = nullptr;
    QGroupBox* grpFiles = nullptr;
    QLabel* lblWatch = nullptr;
    QLineEdit* edtWatch = nullptr;
    QPushButton* btnBrowse = nullptr;
    QPushButton* btnHelpFiles = nullptr;
    QLabel* lblMask = nullptr;
    QLineEdit* edtMask = nullptr;
    QLabel* lblAdapter = nullptr;
    QComboBox* cmbAdapter = nullptr;
    QLabel* lblTimeout = nullptr;
    QLineEdit* edtTimeout = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnCancel = nullptr;

    TLogLevel FLogLevelOnOpen = TLogLevel::llMaximum;
    TAdapterSource FAdapters;
};

} // namespace Plumeria
