#include "ui/DigiForm/DigiForm.h"

#include "core/Digi/Digi.h"
#include "core/DigiSearch/TcpTransport.h"
#include "core/Journal/Journal.h"
#include "core/Settings/ScaleEntry.h"
#include "core/Text/Text.h"
#include "core/Types/PostingThread.h"
#include "ui/Common/Controls.h"
#include "ui/Icons/Icons.h"
#include "ui/UiText/UiText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPushButton>

#include <exception>
#include <utility>

namespace Plumeria {

namespace {

constexpr int CodePage866Item = 1;

QString PortRangeText()
{
    return QStringLiteral("Порт — число от 0 до 65535");
}

/// A typed port is empty (the host's default) or a whole number a port can be; anything else is
/// refused rather than quietly taken as 0.
bool IsPortText(std::string_view Text)
{
    const std::string_view Trimmed = TrimView(Text);
    std::int32_t Port = 0;
    return Trimmed.empty() || (TryParseInt32(Trimmed, Port) && Port >= 0 && Port <= 65535);
}

QString EntryErrorText(TScaleEntryError Error)
{
    switch (Error) {
    case TScaleEntryError::seNoHost:
        return QStringLiteral("Укажите адрес");
    case TScaleEntryError::sePortRange:
        return QStringLiteral("Порт DIGI — 2000 плюс последний октет");
    case TScaleEntryError::seMaskWithPath:
        return QStringLiteral("Маска — это имя файла, без пути");
    case TScaleEntryError::seNone:
        break;
    }
    return {};
}

/// Sets `Flag` for the lifetime of the guard.
class TFlagGuard
{
public:
    explicit TFlagGuard(bool& Flag) : FFlag(Flag) { FFlag = true; }
    ~TFlagGuard() { FFlag = false; }
    TFlagGuard(const TFlagGuard&) = delete;
    TFlagGuard& operator=(const TFlagGuard&) = delete;

private:
    bool& FFlag;
};

} // namespace

TfrmDigi::TfrmDigi(QWidget* Parent, TAdapterSource Adapters)
    : QDialog(Parent), FAdapters(std::move(Adapters))
{
    if (!FAdapters)
        FAdapters = [] { return ListAdapters(); };
    CreateControls();
}

TfrmDigi::~TfrmDigi()
{
    FCancel = true;
    // The workers give up their current probes at once; the calls they queued for this dialog
    // are dropped with it.
    FSearchThread.reset();
}

void TfrmDigi::Prepare(const TLoaderSettings* Settings, const TScaleConfig& Current, bool Editing)
{
    FSettings = Settings;
    FEditing = Editing;
    FHits.clear();
    lbFound->clear();
    FResults.clear();
    FShownRow = -1;
    {
        TFlagGuard Loading(FLoading);
        if (Editing) {
            edtHost->setText(QtText(Current.Host));
            edtPort->setText(QString::number(Current.Port));
            cmbModel->setCurrentText(QtText(Current.Model));
            cmbCode->setCurrentIndex(Current.FileCodePage == 866 ? CodePage866Item : 0);
            chkEnabled->setChecked(Current.Enabled);
            edtName->setText(QtText(Current.Name));
            edtMask->setText(QtText(EntryMask(Current.FileMask)));
            btnAdd->hide();
        } else {
            edtHost->clear();
            edtPort->clear();
            cmbModel->setCurrentText(QStringLiteral("SM-100"));
            cmbCode->setCurrentIndex(0);
            chkEnabled->setChecked(true);
            edtName->clear();
            edtMask->setText(QStringLiteral("*"));
            btnAdd->show();
        }
        SetOkButton(Editing);
        FAutoPort = DigiDefaultPort(Utf8(edtHost->text()));
    }
    lblStatus->clear();
    LayOut();
    // The address is what a scale cannot do without: the dialog opens there, not on "Готово"
    // six Tabs away.
    edtHost->setFocus(Qt::OtherFocusReason);
}

void TfrmDigi::done(int Result)
{
    FCancel = true;
    QDialog::done(Result);
}

void TfrmDigi::ShowStatus(const QString& Text)
{
    lblStatus->setText(Text);
}

void TfrmDigi::SetPortText(std::int32_t Port)
{
    TFlagGuard Loading(FLoading);
    edtPort->setText(Port > 0 ? QString::number(Port) : QString());
}

void TfrmDigi::edtHostChange()
{
    if (FLoading)
        return;
    const std::optional<std::int32_t> Port =
        AutoPortFor(Utf8(edtHost->text()), Utf8(edtPort->text()), FAutoPort);
    if (!Port)
        return;
    FAutoPort = *Port > 0 ? *Port : -1;
    SetPortText(*Port);
}

std::string TfrmDigi::CurrentMask() const
{
    return EntryMask(Utf8(edtMask->text()));
}

bool TfrmDigi::ReadConfig(TScaleConfig& Config)
{
    TScaleEntryFields Fields;
    Fields.Host = Utf8(edtHost->text());
    Fields.Port = Utf8(edtPort->text());
    Fields.Model = Utf8(cmbModel->currentText());
    Fields.CodePage866 = cmbCode->currentIndex() == CodePage866Item;
    Fields.Enabled = chkEnabled->isChecked();
    Fields.Name = Utf8(edtName->text());
    Fields.Mask = Utf8(edtMask->text());
    if (!IsPortText(Fields.Port)) {
        ShowStatus(PortRangeText());
        return false;
    }
    const TScaleEntryError Error = ReadScaleEntry(Fields, Config);
    if (Error == TScaleEntryError::seNone)
        return true;
    ShowStatus(EntryErrorText(Error));
    return false;
}

bool TfrmDigi::IsKnownHost(const std::string& Host) const
{
    return FindHost(FHits, Host) >= 0 || (FSettings && FindDigiHost(FSettings->Scales, Host) >= 0);
}

void TfrmDigi::AddHit(const TScaleConfig& Config)
{
    if (IsKnownHost(Config.Host))
        return;
    FHits.push_back(Config);
    lbFound->addItem(QtText(ScaleHitText(Config)));
}

void TfrmDigi::ShowConfig(const TScaleConfig& Config)
{
    {
        TFlagGuard Loading(FLoading);
        edtHost->setText(QtText(Config.Host));
        edtPort->setText(QString::number(Config.Port));
        // Adding: the fields become exactly the line, so nothing of the scale shown before (its
        // name above all) stays behind. Editing: the lines only offer an address for the one
        // scale being edited, whose name and model stay unless the line has its own.
        if (!FEditing || !Config.Model.empty())
            cmbModel->setCurrentText(QtText(Config.Model));
        cmbCode->setCurrentIndex(Config.FileCodePage == 866 ? CodePage866Item : 0);
        chkEnabled->setChecked(Config.Enabled);
        if (!FEditing || !Trim(Config.Name).empty())
            edtName->setText(QtText(Config.Name));
        if (!FEditing)
            edtMask->setText(QtText(EntryMask(Config.FileMask)));
    }
    FAutoPort = DigiDefaultPort(Config.Host);
}

void TfrmDigi::lbFoundClick(QListWidgetItem* Item)
{
    const int Row = lbFound->row(Item);
    if (Row < 0 || static_cast<std::size_t>(Row) >= FHits.size())
        return;
    if (!FEditing && !KeepTypedScale()) {
        // The typed scale could not be kept (the status says why): its fields stay, and so does
        // the line they belong to.
        lbFound->setCurrentRow(FShownRow);
        return;
    }
    ShowConfig(FHits[static_cast<std::size_t>(Row)]);
    FShownRow = FEditing ? -1 : Row;
}

bool TfrmDigi::KeepTypedScale()
{
    if (Trim(Utf8(edtHost->text())).empty())
        return true; // no scale in the fields: nothing to keep
    TScaleConfig Config;
    if (!ReadConfig(Config))
        return false;
    const bool Shown = FShownRow >= 0 && static_cast<std::size_t>(FShownRow) < FHits.size();
    if (Shown && FHits[static_cast<std::size_t>(FShownRow)] == Config)
        return true; // the line as it is
    return CollectTyped(Config, true);
}

bool TfrmDigi::CollectTyped(const TScaleConfig& Config, bool RefuseConfigured)
{
    const int Found = FindHost(FHits, Config.Host);
    if (Found >= 0) {
        FHits[static_cast<std::size_t>(Found)] = Config;
        lbFound->item(Found)->setText(QtText(ScaleHitText(Config)));
        return true;
    }
    if (IsKnownHost(Config.Host)) {
        if (!RefuseConfigured)
            return true; // "Готово" drops a configured scale without a word
        ShowStatus(QStringLiteral("Такие весы уже есть"));
        return false;
    }
    AddHit(Config);
    return true;
}

void TfrmDigi::btnAddClick()
{
    TScaleConfig Config;
    if (!ReadConfig(Config) || !CollectTyped(Config, true))
        return;
    {
        TFlagGuard Loading(FLoading);
        edtHost->clear();
        edtPort->clear();
    }
    FAutoPort = -1;
    FShownRow = -1;
    ShowStatus(QStringLiteral("Весы добавлены"));
}

void TfrmDigi::btnOkClick()
{
    if (FEditing) {
        TScaleConfig Config;
        if (!ReadConfig(Config))
            return;
        FResults = {Config};
        accept();
        return;
    }
    // What is typed for a host already collected replaces its line, whichever line is
    // selected; a new host is collected; a configured one is dropped without a word.
    if (!Trim(Utf8(edtHost->text())).empty()) {
        TScaleConfig Config;
        if (!ReadConfig(Config))
            return;
        CollectTyped(Config, false);
    }
    if (FHits.empty()) {
        ShowStatus(QStringLiteral("Укажите адрес или найдите весы"));
        return;
    }
    FResults = FHits;
    accept();
}

void TfrmDigi::btnSearchClick()
{
    // Running until its end call has run here, even when its thread has already finished: a
    // click in that gap stops, it never starts a second search.
    if (FSearchRunning) {
        FCancel = true;
        ShowStatus(QStringLiteral("Остановка поиска..."));
        return;
    }
    FSearchThread.reset(); // a finished one
    if (!FSettings)
        return;
    std::string Adapter;
    if (!SearchAdapter(Adapter)) {
        ShowStatus(QStringLiteral("Выберите адаптер в окне «Основные»"));
        return;
    }
    if (!IsPlainMask(CurrentMask())) {
        ShowStatus(EntryErrorText(TScaleEntryError::seMaskWithPath));
        return;
    }
    const std::int32_t TimeoutMs = ClampDigiTimeout(FSettings->ConnectTimeoutMs);
    FCancel = false;
    FFound = 0;
    FSearchRunning = true;
    btnSearch->setText(UiStop());
    SetButtonImage(btnSearch, siExit);
    ShowStatus(FChosenAdapter.empty()
                   ? QStringLiteral("Проверка порта 2000 + последний октет...")
                   : QStringLiteral("Адаптер не выбран, поиск через %1...").arg(QtText(Adapter)));
    lblStatus->setToolTip(FChosenAdapter.empty()
                              ? QString()
                              : QStringLiteral("Адаптер выбран системой: %1").arg(QtText(Adapter)));
    LogInfo("digi search adapter=" + Adapter + " timeout=" + std::to_string(TimeoutMs) +
            " port=2000+last octet" + (FChosenAdapter.empty() ? "" : " (system choice)"));
    StartSearch(Adapter, TimeoutMs);
}

bool TfrmDigi::SearchAdapter(std::string& Adapter)
{
    FChosenAdapter.clear();
    Adapter = Trim(FSettings->AdapterIp);
    if (!Adapter.empty())
        return true;
    // A first-time user need not visit "Основные": the network the system would send on is
    // searched, and the status says which one that is.
    const std::optional<TNetAdapter> Chosen = SystemChosenAdapter(FAdapters());
    if (!Chosen)
        return false;
    Adapter = Chosen->Ip;
    FChosenAdapter = Chosen->Ip;
    return true;
}

void TfrmDigi::ShowSearchStatus(const QString& Text, const QString& End)
{
    // The adapter the system chose is named wherever the one status line has room for it; the
    // line's hint always names it.
    if (!FChosenAdapter.empty()) {
        const QString Named =
            Text + QStringLiteral(" (через %1)").arg(QtText(FChosenAdapter)) + End;
        if (lblStatus->fontMetrics().horizontalAdvance(Named) <= lblStatus->width()) {
            ShowStatus(Named);
            return;
        }
    }
    ShowStatus(Text + End);
}

void TfrmDigi::StartSearch(const std::string& Adapter, std::int32_t TimeoutMs)
{
    // Everything the search reports is queued to this dialog and runs on the interface thread;
    // calls still queued when the dialog goes are dropped with it.
    TPoster Poster = [this](TPostedCall Call) {
        QMetaObject::invokeMethod(this, std::move(Call), Qt::QueuedConnection);
    };
    TDigiHitProc OnHit = PostedHitProc(Poster, [this](const TDigiHit& Hit) { SearchHit(Hit); });
    TDigiProgressProc OnProgress = PostedProgressProc(
        Poster, [this](std::int32_t Checked, std::int32_t Total, std::int32_t Found) {
            SearchProgress(Checked, Total, Found);
        });
    auto Work = [Adapter, TimeoutMs, OnHit = std::move(OnHit), OnProgress = std::move(OnProgress),
                 this] {
        ScanDigiSubnet(Adapter, TimeoutMs, OnHit, OnProgress, [this] { return FCancel.load(); });
    };
    try {
        FSearchThread = std::make_unique<TPostingThread>(
            "digi search", std::move(Work), std::move(Poster), [this] { SearchEnded(); });
    } catch (const std::exception& Error) {
        LogError(std::string("digi search failed: ") + Error.what());
        SearchEnded();
    }
}

void TfrmDigi::SearchHit(const TDigiHit& Hit)
{
    TScaleConfig Config;
    Config.Host = Hit.Host;
    Config.Port = Hit.Port;
    Config.Kind = TScaleKind::skDigi;
    Config.FileCodePage = 1251;
    Config.FileMask = CurrentMask();
    if (FEditing) {
        Config.Enabled = chkEnabled->isChecked();
        Config.Name = Trim(Utf8(edtName->text()));
        AddHit(Config);
        if (Trim(Utf8(edtHost->text())).empty())
            ShowConfig(Config);
    } else {
        Config.Enabled = false;
        Config.Model = "SM-100";
        AddHit(Config);
    }
    // Counted when it is listed, now or from before: "Найдено" never names scales the list
    // does not show (a configured scale is left out of both).
    if (FindHost(FHits, Hit.Host) >= 0)
        ++FFound;
    LogInfo("digi candidate ip=" + Hit.Host + " port=" + std::to_string(Hit.Port));
}

void TfrmDigi::SearchProgress(std::int32_t Checked, std::int32_t Total, std::int32_t)
{
    if (FCancel)
        return;
    ShowSearchStatus(QStringLiteral("Поиск %1/%2, найдено %3").arg(Checked).arg(Total).arg(FFound),
                     QString());
}

void TfrmDigi::SearchEnded()
{
    FSearchRunning = false;
    btnSearch->setText(UiSearch());
    SetButtonImage(btnSearch, siSearch);
    const QString Found = (FCancel ? QStringLiteral("Поиск остановлен. Найдено %1")
                                   : QStringLiteral("Поиск закончен. Найдено %1"))
                              .arg(FFound);
    ShowSearchStatus(Found, QStringLiteral("."));
}

} // namespace Plumeria
