#pragma once
// The scales window: the configured scales grouped by make, each with its check box (enabled),
// address, on-line state and file mask. It adds DIGI scales through the DIGI scale dialog, edits
// and removes them, and writes every change into the live settings at once, announcing it
// through the change event (there is no cancel); a removal is asked about first. While it is
// open one worker thread at a time probes the scales with a connect attempt each; results and
// the thread's end reach the window as queued calls that carry the probe's generation, and are
// applied only while they still describe the current list and thread. Closing the window cuts
// the attempt in progress short. Where the program delivers files, each scale's row also shows
// what it last got and how that ended, and the selected scale's missed files can be sent again
// at once.

#include "core/Delivery/DeliveryEngine.h"
#include "core/Settings/Settings.h"

#include <QDialog>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QMenu;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace Plumeria {

class TPostingThread;

/// Raised after a change was written into the settings; the main window saves and applies it.
using TSettingsChanged = std::function<void()>;

/// What the window reads of the delivery and asks of it; the main window passes its engine's.
/// Either may be empty: the columns then stay empty and the command does nothing.
struct TScalesDelivery
{
    /// The states of the given scales, one per scale, in order.
    std::function<std::vector<TScaleState>(const std::vector<TScaleConfig>&)> States;
    /// Send the scale's missed files now (host, port in use).
    std::function<void(const std::string& Host, int Port)> ResendNow;
    /// The file being sent when the window opens (later ones come through ProgressChanged).
    std::function<TSendProgress()> Progress;
};

class TfrmScales : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmScales(QWidget* Parent = nullptr);
    /// Stops the probe, cutting its current attempt short, and waits for the thread; results
    /// still queued are dropped.
    ~TfrmScales() override;

    /// Shows the scales of `Settings` (not owned, may be null) modally and returns when the
    /// window is closed; `OnChanged` (may be empty) follows every saved change.
    void Execute(TLoaderSettings* Settings, TSettingsChanged OnChanged);
    /// Execute without the modal loop: loads the rows and starts the probe.
    void Open(TLoaderSettings* Settings, TSettingsChanged OnChanged);

    /// The row of the selected item, or -1.
    int SelectedIndex() const;

    /// Before `Open` or `Execute`: where the delivery columns and the resend command go.
    void SetDelivery(TScalesDelivery Delivery);
    /// The delivery states changed: the two columns are read anew.
    void DeliveryChanged();
    /// The file being sent progressed: the result column of its scales shows their counts.
    void ProgressChanged(const TSendProgress& Progress);

protected:
    /// Every way of closing ends here; the probe is asked to stop.
    void done(int Result) override;

private:
    // Controls and the list (ScalesView.cpp).
    void CreateControls();
    void ApplyTexts();
    void LayOut();
    void SetupList();
    void FitColumns();
    void BuildAddMenu();
    void FillList();
    void SetOnline(int Index, std::int32_t State);
    void ShowDelivery();
    /// The result column from the states read last and the file being sent.
    void ShowResults();
    void UpdateDesignCaption();
    /// What depends on the selection: the layout caption and the resend command.
    void SelectionChanged();
    void BuildListMenu();

    // Behaviour (ScalesForm.cpp).
    void LoadRows();
    void SaveRows();
    void RequestProbe();
    void StartProbeThread();
    void QueueOnline(std::int32_t Gen, int Index, bool Up, const std::string& SeenHost);
    void ProbeCompleted(std::int32_t ThreadGen);
    void AddDigi();
    void EditScale();
    void AddMenuClick(TScaleKind Kind);
    void lvScalesItemChecked(QTreeWidgetItem* Item);
    void lvScalesDblClick(QTreeWidgetItem* Item);
    void btnAddClick();
    void btnRemoveClick();
    void btnResendClick();
    void ShowStatus(const QString& Text);
    /// After an add, edit or removal: rebuild, save, probe again, report.
    void RowsChanged(const QString& Status, const char* JournalText);

    // Label commands (ScalesLabel.cpp).
    void btnDesignClick();
    void btnLabelClick();

    QTreeWidget* lvScales = nullptr;
    QLabel* lblStatus = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnEdit = nullptr;
    QPushButton* btnRemove = nullptr;
    QPushButton* btnLabel = nullptr;
    QPushButton* btnDesign = nullptr;
    QPushButton* btnResend = nullptr;
    QPushButton* btnHelp = nullptr;
    QPushButton* btnClose = nullptr;

    TLoaderSettings* FSettings = nullptr;
    TSettingsChanged FOnChanged;
    std::vector<TScaleConfig> FRows;
    std::unique_ptr<QMenu> FAddMenu;
    /// The list's context menu: the resend command.
    std::unique_ptr<QMenu> FListMenu;
    QAction* FResendItem = nullptr;
    TScalesDelivery FDelivery;
    /// The delivery states of the rows as read last, parallel to FRows after ShowDelivery.
    std::vector<TScaleState> FStates;
    TSendProgress FProgress;
    std::vector<std::int32_t> FOnline;
    bool FLoading = false;
    std::unique_ptr<TPostingThread> FProbeThread;
    /// Read by the probe thread, written here only.
    std::atomic<bool> FProbeCancel{false};
    bool FProbePending = false;
    /// Read by the probe thread, written here only.
    std::atomic<std::int32_t> FProbeGen{0};
    /// The generation FProbeThread was started with: only its own end call may restart it.
    std::int32_t FProbeThreadGen = -1;
    /// List item of each row, parallel to FRows after FillList.
    std::vector<QTreeWidgetItem*> FItems;
};

} // namespace Plumeria
