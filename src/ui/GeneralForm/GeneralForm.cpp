#include "ui/GeneralForm/GeneralForm.h"

#include "core/Settings/GeneralEntry.h"
#include "core/Settings/Settings.h"
#include "core/Text/Text.h"
#include "ui/Common/Controls.h"
#include "ui/Common/FolderPicker.h"
#include "ui/Common/Fonts.h"
#include "ui/Common/MessageBox.h"
#include "ui/Icons/Icons.h"
#include "ui/UiText/UiText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include <algorithm>
#include <optional>
#include <utility>

namespace Plumeria {

namespace {

constexpr int DialogWidth = 640;
constexpr int DialogHeight = 468;
constexpr int LevelErrorsItem = 1;
constexpr int AdapterIpRole = Qt::UserRole;

/// The trimmed text as a time-out the settings accept, or nothing.
std::optional<std::int32_t> TypedTimeout(const QString& Text)
{
    std::int32_t Value = 0;
    if (!TryParseInt32(TrimView(Utf8(Text)), Value) || Value < MinConnectTimeoutMs ||
        Value > MaxConnectTimeoutMs)
        return std::nullopt;
    return Value;
}

} // namespace

TfrmGeneral::TfrmGeneral(QWidget* Parent, TAdapterSource Adapters)
    : QDialog(Parent), FAdapters(std::move(Adapters))
{
    if (!FAdapters)
        FAdapters = [] { return ListAdapters(); };
    CreateControls();
    LayOut();
}

void TfrmGeneral::CreateControls()
{
    setObjectName(QStringLiteral("frmGeneral"));
    setWindowTitle(UiGeneral());
    setFont(InterfaceFont());

    grpWork = Named(new QGroupBox(QStringLiteral("Работа"), this), "grpWork");
    chkRunWithWindows =
        Named(new QCheckBox(QStringLiteral("Автозапуск"), grpWork), "chkRunWithWindows");
    chkAutoUpdate =
        Named(new QCheckBox(QStringLiteral("Автообновления"), grpWork), "chkAutoUpdate");
    lblLog = Named(new QLabel(UiJournal(), grpWork), "lblLog");
    cmbLog = Named(new QComboBox(grpWork), "cmbLog");
    cmbLog->addItems({QStringLiteral("Максимум"), QStringLiteral("Только ошибки")});
    btnHelpWork = HelpButton(grpWork, "btnHelpWork", QStringLiteral("Автозапуск и журнал"),
                             QStringLiteral("general.html#work"));

    const QString LinkCaption = QStringLiteral("Связь с Кварта-Лаб");
    grpLink = Named(new QGroupBox(LinkCaption, this), "grpLink");
    lblLink = Named(new QLabel(QStringLiteral("Метод связи"), grpLink), "lblLink");
    cmbLink = Named(new QComboBox(grpLink), "cmbLink");
    cmbLink->addItem(QStringLiteral("не задан"));
    cmbLink->setCurrentIndex(0);
    cmbLink->setEnabled(false);
    btnHelpLink =
        HelpButton(grpLink, "btnHelpLink", LinkCaption, QStringLiteral("general.html#link"));

    grpFiles = Named(new QGroupBox(QStringLiteral("Файлы"), this), "grpFiles");
    lblWatch = Named(new QLabel(QStringLiteral("Папка файлов"), grpFiles), "lblWatch");
    edtWatch = Named(new QLineEdit(grpFiles), "edtWatch");
    btnBrowse = PlainButton(grpFiles, "btnBrowse", UiBrowse(), siOpen);
    btnHelpFiles = HelpButton(grpFiles, "btnHelpFiles", QStringLiteral("Папка и общая маска"),
                              QStringLiteral("general.html#files"));
    lblMask = Named(new QLabel(QStringLiteral("Общая маска"), grpFiles), "lblMask");
    edtMask = Named(new QLineEdit(grpFiles), "edtMask");
    lblAdapter = Named(new QLabel(QStringLiteral("Адаптер"), grpFiles), "lblAdapter");
    cmbAdapter = Named(new QComboBox(grpFiles), "cmbAdapter");
    lblTimeout = Named(new QLabel(QStringLiteral("Таймаут, мс"), grpFiles), "lblTimeout");
    edtTimeout = Named(new QLineEdit(grpFiles), "edtTimeout");
    // Digits only: a letter never gets in, so nothing typed is quietly read as another value.
    edtTimeout->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edtTimeout));
    edtTimeout->setMaxLength(6);

    btnSave = Named(new QPushButton(UiSave(), this), "btnSave");
    SetButtonImage(btnSave, siSave);
    btnSave->setDefault(true);
    btnCancel = PlainButton(this, "btnCancel", UiCancel(), siExit);

    connect(cmbLog, &QComboBox::activated, this, &TfrmGeneral::cmbLogChange);
    connect(btnBrowse, &QPushButton::clicked, this, &TfrmGeneral::btnBrowseClick);
    connect(btnSave, &QPushButton::clicked, this, &TfrmGeneral::btnSaveClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmGeneral::LayOut()
{
    setFixedSize(DialogWidth, DialogHeight);
    grpWork->setGeometry(12, 12, 616, 118);
    grpLink->setGeometry(12, 138, 616, 92);
    grpFiles->setGeometry(12, 238, 616, 168);
    for (QPushButton* Help : {btnHelpWork, btnHelpLink, btnHelpFiles})
        Help->setGeometry(564, 18, 28, 25);

    chkRunWithWindows->setGeometry(16, 28, 300, 20);
    chkAutoUpdate->setGeometry(16, 56, 300, 20);
    PlaceLabel(lblLog, 16, 89);
    cmbLog->setGeometry(110, 84, 200, 25);

    PlaceLabel(lblLink, 16, 28);
    cmbLink->setGeometry(16, 52, 420, 25);

    PlaceLabel(lblWatch, 16, 24);
    edtWatch->setGeometry(16, 44, 420, 25);
    btnBrowse->setGeometry(444, 43, std::max(110, btnBrowse->sizeHint().width()), 27);
    PlaceLabel(lblMask, 16, 78);
    edtMask->setGeometry(16, 98, 160, 25);
    PlaceLabel(lblAdapter, 188, 78);
    cmbAdapter->setGeometry(188, 98, 250, 25);
    PlaceLabel(lblTimeout, 450, 78);
    edtTimeout->setGeometry(450, 98, 80, 25);

    btnSave->setGeometry(400, 424, 108, 27);
    btnCancel->setGeometry(516, 424, 108, 27);
}

void TfrmGeneral::LoadFrom(const TLoaderSettings& Source)
{
    edtWatch->setText(QtText(Source.WatchFolder));
    edtMask->setText(QtText(Source.FileMask));
    chkAutoUpdate->setChecked(Source.AutoUpdate);
    chkRunWithWindows->setChecked(Source.RunWithWindows);
    edtTimeout->setText(QString::number(Source.ConnectTimeoutMs));
    FillAdapters(Source.AdapterIp);

    FLogLevelOnOpen = Source.LogLevel;
    cmbLog->setCurrentIndex(Source.LogLevel == TLogLevel::llErrors ? LevelErrorsItem : 0);
    SetLogLevel(Source.LogLevel);
}

void TfrmGeneral::FillAdapters(const std::string& AdapterIp)
{
    const std::string Stored = Trim(AdapterIp);
    cmbAdapter->clear();
    cmbAdapter->addItem(QStringLiteral("Выбирает система"), QString());
    bool Present = Stored.empty();
    for (const TNetAdapter& Adapter : FAdapters()) {
        cmbAdapter->addItem(QtText(AdapterItemText(Adapter)), QtText(Adapter.Ip));
        Present = Present || Adapter.Ip == Stored;
    }
    if (!Present) {
        // Kept, so that saving does not quietly change it, but marked: every connect from it
        // fails until the adapter is back or another one is chosen.
        cmbAdapter->insertItem(1, QStringLiteral("%1  (не найден)").arg(QtText(Stored)),
                               QtText(Stored));
        LogWarn("adapter " + Stored + " not found among the local adapters");
    }
    cmbAdapter->setCurrentIndex(std::max(0, cmbAdapter->findData(QtText(Stored), AdapterIpRole)));
}

void TfrmGeneral::Collect(TLoaderSettings& Dest) const
{
    Dest.WatchFolder = Trim(Utf8(edtWatch->text()));
    Dest.FileMask = Trim(Utf8(edtMask->text()));
    if (Dest.FileMask.empty())
        Dest.FileMask = DefaultWatchMask;
    Dest.AutoUpdate = chkAutoUpdate->isChecked();
    Dest.RunWithWindows = chkRunWithWindows->isChecked();
    Dest.ConnectTimeoutMs = ReadConnectTimeout(Utf8(edtTimeout->text()));
    Dest.AdapterIp = Trim(Utf8(cmbAdapter->currentData(AdapterIpRole).toString()));
    Dest.LogLevel =
        cmbLog->currentIndex() == LevelErrorsItem ? TLogLevel::llErrors : TLogLevel::llMaximum;
}

void TfrmGeneral::cmbLogChange(int Index)
{
    SetLogLevel(Index == LevelErrorsItem ? TLogLevel::llErrors : TLogLevel::llMaximum);
}

void TfrmGeneral::btnSaveClick()
{
    if (!TypedTimeout(edtTimeout->text())) {
        ShowMessageBox(this, QStringLiteral("Таймаут — число от 100 до 3000 мс"), UiGeneral(),
                       TMessageIcon::miWarning);
        edtTimeout->setFocus();
        edtTimeout->selectAll();
        return;
    }
    accept();
}

void TfrmGeneral::btnBrowseClick()
{
    const std::optional<QString> Folder =
        PickFolder(this, QStringLiteral("Папка файлов"), edtWatch->text(), true);
    if (Folder)
        edtWatch->setText(*Folder);
}

void TfrmGeneral::done(int Result)
{
    if (Result != QDialog::Accepted)
        SetLogLevel(FLogLevelOnOpen);
    QDialog::done(Result);
}

} // namespace Plumeria
