#pragma once
// The DIGI scale dialog: adds DIGI scales, typed by hand or found by a search of the adapter's
// network, or edits one configured scale. The scales window prepares it, shows it modally and
// takes the records from `Results` after "Готово"/"Сохранить"; the dialog never writes the
// settings itself. The search runs on threads of its own; everything it finds reaches the
// dialog as calls queued to the interface thread, and the search counts as running until its
// end call has run there. Without a configured adapter the search goes through the adapter the
// system would choose, and says which.
//
// A found line is shown in the fields only when the user clicks it (focus moving into the list
// changes nothing). Whatever was typed for a scale is kept when another line is clicked: a host
// already listed replaces its line, a new host becomes a line of its own.

#include "core/DigiSearch/SubnetScan.h"
#include "core/Settings/Settings.h"

#include <QDialog>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace Plumeria {

class TPostingThread;

class TfrmDigi : public QDialog
{
    Q_OBJECT

public:
    /// `Adapters` (empty: ListAdapters) offers the adapter a search without a configured one uses.
    explicit TfrmDigi(QWidget* Parent = nullptr, TAdapterSource Adapters = {});
    /// Stops a running search and waits for its threads; what they still queued is dropped.
    ~TfrmDigi() override;

    /// Sets the dialog up for `Settings` (not owned, may be null): editing `Current` when
    /// `Editing`, otherwise adding new scales.
    void Prepare(const TLoaderSettings* Settings, const TScaleConfig& Current, bool Editing);
    /// The records chosen, valid after the dialog closed with OK: one when editing, one or more
    /// when adding.
    const std::vector<TScaleConfig>& Results() const { return FResults; }
    /// A search was started and its end has not yet been handled on the interface thread.
    bool Searching() const { return FSearchRunning; }

protected:
    /// Every way of closing ends here; a running search is asked to stop.
    void done(int Result) override;

private:
    // Controls (DigiView.cpp).
    void CreateControls();
    void ApplyTexts();
    void LayOut();
    void SetOkButton(bool Editing);

    // Behaviour (DigiForm.cpp).
    void edtHostChange();
    void btnSearchClick();
    void lbFoundClick(QListWidgetItem* Item);
    bool KeepTypedScale();
    bool CollectTyped(const TScaleConfig& Config, bool RefuseConfigured);
    void btnAddClick();
    void btnOkClick();
    bool IsKnownHost(const std::string& Host) const;
    void AddHit(const TScaleConfig& Config);
    void ShowConfig(const TScaleConfig& Config);
    bool ReadConfig(TScaleConfig& Config);
    std::string CurrentMask() const;
    void SetPortText(std::int32_t Port);
    bool SearchAdapter(std::string& Adapter);
    void StartSearch(const std::string& Adapter, std::int32_t TimeoutMs);
    void ShowSearchStatus(const QString& Text, const QString& End);
    void SearchHit(const TDigiHit& Hit);
    void SearchProgress(std::int32_t Checked, std::int32_t Total, std::int32_t Found);
    void SearchEnded();
    void ShowStatus(const QString& Text);

    QPushButton* btnSearch = nullptr;
    QLabel* lblStatus = nullptr;
    QPushButton* btnHelp = nullptr;
    QListWidget* lbFound = nullptr;
    QLabel* lblName = nullptr;
    QLineEdit* edtName = nullptr;
    QLabel* lblHost = nullptr;
    QLineEdit* edtHost = nullptr;
    QLabel* lblPort = nullptr;
    QLineEdit* edtPort = nullptr;
    QLabel* lblModel = nullptr;
    QComboBox* cmbModel = nullptr;
    QLabel* lblCode = nullptr;
    QComboBox* cmbCode = nullptr;
    QCheckBox* chkEnabled = nullptr;
    QLabel* lblMask = nullptr;
    QLineEdit* edtMask = nullptr;
    QPushButton* btnHelpMask = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

    const TLoaderSettings* FSettings = nullptr;
    std::vector<TScaleConfig> FHits;
    std::vector<TScaleConfig> FResults;
    bool FEditing = false;
    bool FLoading = false;
    std::unique_ptr<TPostingThread> FSearchThread;
    /// From the start of a search until its end call ran here; the button follows this only.
    bool FSearchRunning = false;
    /// The adapter the running search goes through when the system chose it, else empty.
    std::string FChosenAdapter;
    TAdapterSource FAdapters;
    /// The found line whose record the fields show (adding mode), or -1.
    int FShownRow = -1;
    /// Read by the scan's workers, written here only.
    std::atomic<bool> FCancel{false};
    /// Scales of the current search that are listed.
    std::int32_t FFound = 0;
    std::int32_t FAutoPort = -1;
};

} // namespace Plumeria
