// The designer's file commands: open, new, save, the question about unsaved changes, and sending
// the saved label to DIGI scales.

#include "ui/LabelForm/LabelForm.h"

#include "core/Journal/Journal.h"
#include "core/LabelGeom/LabelGeom.h"
#include "core/Settings/Settings.h"
#include "platform/Environment.h"
#include "ui/Common/FolderPicker.h"
#include "ui/Common/MessageBox.h"
#include "ui/LabelForm/LabelDialogs.h"
#include "ui/LabelForm/LabelSend.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>

namespace Plumeria {

namespace {

const char* const LabelFileName = "f34.dat";
const char* const TextsFileName = "f38.dat";

QString StartFolder()
{
    return QStringLiteral("C:\\digi");
}

// The user's words for the document's error codes.
QString ErrorText(const std::string& Code)
{
    if (Code == "missing")
        return QStringLiteral("Нет файла f34.dat");
    if (Code == "hex")
        return QStringLiteral("Файл не похож на f34");
    return QString::fromStdString(LabelErrorText(Code));
}

std::filesystem::path FolderPath(const QString& Folder)
{
    return PathFromUtf8(QDir::fromNativeSeparators(Folder).toStdString());
}

QString FolderOf(const std::filesystem::path& File)
{
    return NativePathText(File.parent_path());
}

// The user's words for a file the designer could not write, by the system's reason.
QString WriteFailureText(const QString& What, const std::error_code& Reason,
                         const std::filesystem::path& File)
{
    if (Reason == std::errc::permission_denied || Reason == std::errc::operation_not_permitted ||
        Reason == std::errc::read_only_file_system)
        return What + QStringLiteral(": нет прав на запись в папку ") + FolderOf(File);
    if (Reason == std::errc::no_such_file_or_directory || Reason == std::errc::not_a_directory)
        return What + QStringLiteral(": папки ") + FolderOf(File) + QStringLiteral(" больше нет");
    if (Reason == std::errc::no_space_on_device)
        return What + QStringLiteral(": на диске нет места");
    return What + QStringLiteral(" в папку ") + FolderOf(File) +
           QStringLiteral(". Причина записана в журнал");
}

QString SaveFailureText(const std::error_code& Reason, const std::filesystem::path& File)
{
    return WriteFailureText(QStringLiteral("Не удалось сохранить макет"), Reason, File);
}

QString SaveFailureText(const std::string& Code, const std::filesystem::path& File)
{
    if (Code == "readonly")
        return QStringLiteral("Не удалось сохранить макет: файл ") + NativePathText(File) +
               QStringLiteral(" только для чтения");
    return QStringLiteral("Не удалось сохранить макет: ") + ErrorText(Code);
}

// Full path without a trailing separator, for comparing folders without regard to case.
QString ComparableFolder(const std::filesystem::path& Folder)
{
    return QDir::cleanPath(
        QFileInfo(QString::fromStdString(PathToUtf8(Folder))).absoluteFilePath());
}

// The proposal of the size dialog: the size of format 1 (or the first) in millimetres.
void ProposedSize(const TDigiLabelDoc* Doc, int FormatIndex, int& WidthMm, int& HeightMm)
{
    WidthMm = 54;
    HeightMm = 37;
    if (Doc && Doc->FormatCount() > 0) {
        int Width = 0;
        int Height = 0;
        Doc->ReadSize(FormatIndex, Width, Height);
        if (Width >= 8)
            WidthMm = Width / 8;
        if (Height >= 8)
            HeightMm = Height / 8;
    }
    if (WidthMm < 10 || WidthMm > 200)
        WidthMm = 54;
    if (HeightMm < 10 || HeightMm > 200)
        HeightMm = 37;
}

} // namespace

bool TfrmLabel::DoSave()
{
    if (!FDoc)
        return false;
    ApplyPendingEdits(true);
    std::string Code;
    try {
        if (!FDoc->Save(Code)) {
            LogError("label layout not saved: " + PathToUtf8(FDoc->FileName()) + ": " + Code);
            ShowMessageBox(this, SaveFailureText(Code, FDoc->FileName()), windowTitle(),
                           TMessageIcon::miError);
            RefreshAll();
            return false;
        }
    } catch (const std::filesystem::filesystem_error& Error) {
        LogError(std::string("label layout not saved: ") + Error.what());
        ShowMessageBox(this, SaveFailureText(Error.code(), FDoc->FileName()), windowTitle(),
                       TMessageIcon::miError);
        RefreshAll();
        return false;
    } catch (const std::exception& Error) {
        LogError(std::string("label layout not saved: ") + Error.what());
        ShowMessageBox(this, SaveFailureText(std::error_code(), FDoc->FileName()), windowTitle(),
                       TMessageIcon::miError);
        RefreshAll();
        return false;
    }
    LogInfo("label layout saved");
    RefreshAll();
    return true;
}

bool TfrmLabel::ConfirmSave()
{
    // A value typed but not yet confirmed belongs to the changes asked about.
    ApplyPendingEdits(true);
    if (!FDoc || !FDoc->Dirty())
        return true;
    const auto Answer = ShowMessageBox(this, QStringLiteral("Сохранить изменения макета?"),
                                       windowTitle(), TMessageIcon::miQuestion,
                                       QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (Answer == QMessageBox::Yes)
        return DoSave();
    return Answer == QMessageBox::No;
}

void TfrmLabel::ReplaceDocument(std::unique_ptr<TDigiLabelDoc> Doc)
{
    FDoc = std::move(Doc);
    FSelected = -1;
    FillFormats();
}

void TfrmLabel::OpenClick()
{
    if (!ConfirmSave())
        return;
    const std::optional<QString> Folder =
        PickFolder(this, QStringLiteral("Папка этикетки"), StartFolder(), false);
    if (!Folder)
        return;
    auto Doc = std::make_unique<TDigiLabelDoc>();
    std::string Code;
    bool Loaded = false;
    try {
        Loaded = Doc->Load(FolderPath(*Folder) / LabelFileName, Code);
    } catch (const std::exception& Error) {
        // A file that is there but cannot be read (no access) is reported like any unreadable
        // label; the open document stays.
        LogError(std::string("label layout not opened: ") + Error.what());
    }
    if (!Loaded) {
        SetStatus(ErrorText(Code));
        return;
    }
    ReplaceDocument(std::move(Doc));
    LogInfo("label layout opened");
    RefreshAll();
}

void TfrmLabel::NewClick()
{
    if (FDoc && !ConfirmSave())
        return;
    int WidthMm = 54;
    int HeightMm = 37;
    ProposedSize(FDoc.get(), FDoc ? std::max(FirstFormatWithId(1), 0) : 0, WidthMm, HeightMm);
    if (!AskLabelSize(this, WidthMm, HeightMm))
        return;
    const std::optional<QString> Chosen =
        PickFolder(this, QStringLiteral("Папка новой этикетки"), StartFolder(), true);
    if (!Chosen)
        return;
    const std::filesystem::path Folder = FolderPath(*Chosen);
    const std::filesystem::path OldFolder =
        FDoc ? FDoc->FileName().parent_path() : std::filesystem::path();
    if (!OldFolder.empty() &&
        ComparableFolder(OldFolder).compare(ComparableFolder(Folder), Qt::CaseInsensitive) == 0) {
        SetStatus(QStringLiteral("Это папка открытой этикетки. Выберите другую"));
        return;
    }
    std::error_code Ignored;
    if (std::filesystem::exists(Folder / LabelFileName, Ignored) &&
        ShowMessageBox(this, QStringLiteral("В папке уже есть f34.dat. Заменить?"), windowTitle(),
                       TMessageIcon::miQuestion,
                       QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;

    auto Doc = std::make_unique<TDigiLabelDoc>();
    std::string Code;
    const QString NotCreated = QStringLiteral("Не удалось создать макет");
    try {
        if (!Doc->CreateEmpty(Folder / LabelFileName, WidthMm * 8, HeightMm * 8, Code)) {
            SetStatus(NotCreated + QStringLiteral(": ") + ErrorText(Code));
            return;
        }
    } catch (const std::filesystem::filesystem_error& Error) {
        LogError(std::string("label layout not created: ") + Error.what());
        ShowMessageBox(this, WriteFailureText(NotCreated, Error.code(), Folder / LabelFileName),
                       windowTitle(), TMessageIcon::miError);
        return;
    } catch (const std::exception& Error) {
        LogError(std::string("label layout not created: ") + Error.what());
        ShowMessageBox(this,
                       WriteFailureText(NotCreated, std::error_code(), Folder / LabelFileName),
                       windowTitle(), TMessageIcon::miError);
        return;
    }
    if (!OldFolder.empty() && std::filesystem::exists(OldFolder / TextsFileName, Ignored) &&
        !std::filesystem::exists(Folder / TextsFileName, Ignored)) {
        std::error_code Failure;
        std::filesystem::copy_file(OldFolder / TextsFileName, Folder / TextsFileName,
                                   std::filesystem::copy_options::none, Failure);
        if (Failure)
            LogError("cannot copy f38.dat: " + Failure.message());
    }
    ReplaceDocument(std::move(Doc));
    LogInfo("label layout created");
    RefreshAll();
    if (!std::filesystem::exists(Folder / TextsFileName, Ignored))
        ShowMessageBox(this,
                       QStringLiteral("В папке нет f38.dat (тексты этикетки). Он нужен, чтобы "
                                      "отправить этикетку на весы: положите его рядом с f34.dat"),
                       windowTitle(), TMessageIcon::miInformation);
}

void TfrmLabel::UploadClick()
{
    if (!FDoc || FDoc->FileName().empty()) {
        SetStatus(QStringLiteral("Откройте или создайте этикетку"));
        return;
    }
    if (!ConfirmSave())
        return;
    if (FDoc->Dirty()) {
        SetStatus(QStringLiteral("Сначала сохраните макет"));
        return;
    }
    std::vector<TUploadLine> Lines;
    if (FSettings)
        for (int I = 0; I < static_cast<int>(FSettings->Scales.size()); ++I) {
            const TScaleConfig& Scale = FSettings->Scales[static_cast<std::size_t>(I)];
            if (Scale.Kind != TScaleKind::skDigi)
                continue;
            Lines.push_back({QString::fromStdString(ScaleDisplayName(Scale)) +
                                 QStringLiteral(":%1").arg(DigiScalePort(Scale)),
                             I, Scale.Enabled});
        }
    if (Lines.empty()) {
        SetStatus(QStringLiteral("Нет весов DIGI"));
        return;
    }
    // Every scale would fail on the same missing file after receiving the others.
    if (const QString Missing = MissingLabelFilesText(FDoc->FileName().parent_path());
        !Missing.isEmpty()) {
        SetStatus(Missing);
        return;
    }
    const std::optional<std::vector<int>> Chosen = AskUploadScales(this, Lines);
    if (!Chosen)
        return;

    const std::filesystem::path Folder = FDoc->FileName().parent_path();
    const int TimeoutMs = LabelTimeoutMs(FSettings);
    QString Summary;
    {
        const TWaitCursor Waiting;
        for (const int Index : *Chosen) {
            const TLabelSendOutcome Outcome =
                SendLabelToScale(FSettings->Scales[static_cast<std::size_t>(Index)],
                                 FSettings->AdapterIp, TimeoutMs, Folder);
            if (!Summary.isEmpty())
                Summary += QStringLiteral("   ");
            Summary += Outcome.Entry;
            if (Outcome.Unreadable)
                break;
        }
    }
    SetStatus(Summary);
}

} // namespace Plumeria
