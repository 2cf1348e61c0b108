// Renders the windows, the notification menu and the shared images to PNG files, offscreen, so
// that they can be looked at without a display:
//
//   QT_QPA_PLATFORM=offscreen build/tests/ui/plumeria_ui_render OUTPUT_FOLDER

#include "LabelDesigner.h"
#include "UiSandbox.h"

#include "core/Delivery/DeliveryEngine.h"
#include "core/Delivery/DeliveryStatus.h"
#include "core/Delivery/Spool.h"
#include "core/Journal/Journal.h"
#include "core/LabelGeom/LabelGeom.h"
#include "core/Settings/Settings.h"
#include "ui/Common/MessageBox.h"
#include "ui/DigiForm/DigiForm.h"
#include "ui/GeneralForm/GeneralForm.h"
#include "ui/Icons/Icons.h"
#include "ui/Main/MainWindow.h"
#include "ui/ScalesForm/ScalesForm.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTreeWidget>

#include <fstream>

#include <cstdio>

using namespace Plumeria;

namespace {

// The 22 images at their own size and enlarged, on a light and on a dark ground.
QImage ImageSheet()
{
    constexpr int Zoom = 4;
    constexpr int Cell = 20 * Zoom + 12;
    const TImageList& List = SharedImages();
    QImage Sheet(Cell * 11, Cell * 2 * 2, QImage::Format_ARGB32);
    Sheet.fill(QColor(0xF0, 0xF0, 0xF0));
    QPainter P(&Sheet);
    P.fillRect(QRect(0, Cell * 2, Sheet.width(), Cell * 2), QColor(0x30, 0x30, 0x30));
    for (int Ground = 0; Ground < 2; ++Ground)
        for (int I = 0; I < List.Count(); ++I) {
            const int X = (I % 11) * Cell + 6;
            const int Y = Ground * Cell * 2 + (I / 11) * Cell + 6;
            P.drawImage(QRect(X, Y, 20 * Zoom, 20 * Zoom), List.Image(I));
            P.drawImage(QPoint(X + 20 * Zoom - 20, Y + 20 * Zoom - 20), List.Image(I));
        }
    P.end();
    return Sheet;
}

// Four scales of three makes, as the scales and DIGI windows show them. The scales window probes
// them while it is open, so their addresses stay on loopback.
std::vector<TScaleConfig> ShotScales()
{
    auto Off = Test::MakeScale("Касса 2", "127.0.0.7", 20304, TScaleKind::skShtrihPrint,
                               "Штрих-Принт М", "*.csv;*.txt");
    Off.Enabled = false;
    return {
        Test::MakeScale("Весы мясного отдела", "127.0.100.201", 0, TScaleKind::skDigi, "SM-100",
                        "meat*.csv"),
        Test::MakeScale("Рыба и сыры", "127.0.100.202", 2202, TScaleKind::skDigi, "SM-300",
                        "fish*.csv"),
        Test::MakeScale("Овощи", "127.0.100.15", 8111, TScaleKind::skMettlerToledo, "bPlus",
                        "*.txt"),
        Off,
    };
}

// What the shot scales last got: the first the file, the second missed two files (it was off),
// the third has a make without a protocol.
std::vector<TScaleState> ShotStates(const std::vector<TScaleConfig>& Scales)
{
    std::vector<TScaleState> States(Scales.size());
    for (std::size_t I = 0; I < Scales.size() && I < 3; ++I) {
        TScaleDelivery& Delivery = States[I].Delivery;
        Delivery.Host = Scales[I].Host;
        Delivery.Port = PortInUse(Scales[I]);
        Delivery.LastFile = I == 1 ? "сыры_и_колбасы.csv" : "prices.csv";
        Delivery.LastTime = I == 1 ? "2026-12-11 10:16:40" : "2026-12-11 10:15:02";
        Delivery.Articles = 4821;
        Delivery.LastResult = I == 0   ? TDeliveryResult::drSent
                              : I == 1 ? TDeliveryResult::drFailed
                                       : TDeliveryResult::drNotSent;
        if (I == 1) {
            Delivery.LastError = "scale did not accept the connection";
            States[I].Missing = 2;
        }
    }
    return States;
}

// The same kept in a data folder, as a run of the program leaves it.
void KeepShotStates(const std::filesystem::path& DataDir)
{
    TDeliveryStatus Status(DataDir / "delivery.ini");
    TSpool Spool(DataDir / "spool");
    std::string Error;
    for (const TScaleState& State : ShotStates(ShotScales())) {
        const TScaleDelivery& Kept = State.Delivery;
        if (Kept.Host.empty())
            continue;
        Status.Record(Kept.Host, Kept.Port, "", Kept.LastFile, Kept.LastTime, Kept.Articles,
                      Kept.LastResult, Kept.LastError);
        for (std::size_t I = 0; I < State.Missing; ++I)
            Spool.Add(Kept.Host, Kept.Port, I == 0 ? "fish.csv" : Kept.LastFile,
                      "A;1;;1,00;0;0;0;Article\r\n", Error);
    }
    Status.Save(Error);
}

// prices.csv on its way to the three enabled shot scales.
TSendProgress ShotProgress()
{
    TSendProgress Progress;
    Progress.FileName = "prices.csv";
    const std::size_t Sent[] = {1200, 0, 0};
    const std::size_t Total[] = {4821, 4821, 0};
    const std::vector<TScaleConfig> Scales = ShotScales();
    for (std::size_t I = 0; I < 3; ++I) {
        TScaleProgress& Scale = Progress.Scales.emplace_back();
        Scale.Host = Scales[I].Host;
        Scale.Port = PortInUse(Scales[I]);
        Scale.Name = ScaleDisplayName(Scales[I]);
        Scale.Sent = Sent[I];
        Scale.Total = Total[I];
    }
    return Progress;
}

enum class TShotDelivery
{
    sdNone,    ///< nothing sent yet
    sdSending, ///< a file on its way
    sdAfter    ///< the states a file left
};

// A main window with everything filled in: scales, recent files and journal lines, and the
// delivery as asked.
QImage MainWindowShot(QSize ClientSize, TShotDelivery Delivery = TShotDelivery::sdNone,
                      QString* Tooltip = nullptr)
{
    Test::TUiSandbox Box;
    TLoaderSettings Settings;
    Settings.AutoUpdate = false;
    Settings.RunWithWindows = false;
    Settings.Scales = ShotScales();
    Settings.Save();
    if (Delivery != TShotDelivery::sdNone)
        KeepShotStates(Box.DataDir());
    TfrmMain Window(Box.Options(true));
    LogInfo("file=C:\\Обмен\\prices.csv ip=192.168.100.201 name=Весы мясного отдела kind=digi "
            "cp=866 mask=* sent 412 PLU");
    LogWarn("plu=1042 name is longer than 40 characters file=C:\\Обмен\\prices.csv");
    LogError("read failed: C:\\Обмен\\сыры.csv cannot open file");
    Window.AddRecent("prices.csv | отправлено 412 PLU");
    Window.AddRecent("сыры_и_колбасы_весовые_длинное_имя_файла.csv | отклонён");
    Window.AddRecent("fish.csv | ошибка отправки");
    Window.AddRecent("остатки.txt | разобрано, не отправлено 27 PLU");
    Window.ShowMainWindow();
    Window.resize(ClientSize);
    if (Delivery == TShotDelivery::sdSending)
        Window.ProgressChanged(ShotProgress());
    QCoreApplication::processEvents();
    if (Tooltip)
        *Tooltip = Window.Tray()->toolTip();
    return Window.grab().toImage();
}

QImage TrayMenuShot(bool Paused)
{
    Test::TUiSandbox Box;
    TfrmMain Window(Box.Options(true));
    if (Paused)
        Window.TogglePause();
    QMenu* Menu = Window.TrayMenu();
    Menu->popup(QPoint(0, 0));
    QCoreApplication::processEvents();
    QImage Shot = Menu->grab().toImage();
    Menu->hide();
    return Shot;
}

// The label designer with fields of every kind, one of them turned, `Selected` chosen.
QImage LabelDesignerShot(QSize ClientSize, int Selected)
{
    Test::TUiSandbox Box;
    TfrmLabel Form;
    Test::OpenInDesigner(Form, Test::MakeLabelFolder(Box, "Этикетки/Мясной отдел"));
    TDigiLabelDoc& Doc = *Form.Document();
    // Places (dots) that keep every field on the label: above the band Y counts upwards.
    const struct
    {
        int Slot, X, Y, W, H;
    } Fields[] = {
        {7, 16, 157, 250, 51},  {13, 300, 157, 0, 0}, {38, 16, 95, 0, 0},   {1, 140, 125, 0, 0},
        {3, 140, 100, 0, 0},    {51, 230, 44, 0, 0},  {28, 300, 95, 0, 0},  {11, 16, 16, 0, 60},
        {57, 300, 16, 120, 60}, {0, 16, 230, 0, 0},   {54, 140, 226, 0, 0}, {16, 4, 2, 424, 210},
    };
    for (const auto& Field : Fields) {
        Doc.PlaceDefault(0, Field.Slot, Field.X, Field.Y);
        if (Field.H > 0)
            Doc.ResizeSlot(0, Field.Slot, Field.W, Field.H);
    }
    Doc.PutWord(0, GetSlot(16).Offset + 10, 5);
    Doc.PutWord(0, GetSlot(51).Offset + 4, 0x4070); // "Хранить: при -4" turned by 90
    Doc.PutWord(0, GetSlot(1).Offset + 4, 0x8070);  // "Цена" upside down
    Form.RefreshAll();
    auto* List = Test::Child<QListWidget>(Form, "lstFields");
    const QString Caption =
        QStringLiteral("   ") + QString::fromStdString(FieldCaption(GetSlot(Selected)));
    for (QListWidgetItem* Row : List->findItems(Caption, Qt::MatchExactly))
        Row->setSelected(true);
    Form.show();
    Form.resize(ClientSize);
    QCoreApplication::processEvents();
    QImage Shot = Form.grab().toImage();
    PresetMessageAnswer(QMessageBox::No);
    Form.close();
    return Shot;
}

// One of the designer's own dialogs, grabbed while it is open.
QImage LabelDialogShot(bool SizeDialog)
{
    Test::TUiSandbox Box;
    TLoaderSettings Settings;
    Settings.Scales = {
        Test::MakeScale("Весы мясного отдела", "127.0.100.201", 0, TScaleKind::skDigi, "", "*"),
        Test::MakeScale("Рыба и сыры", "127.0.100.202", 2202, TScaleKind::skDigi, "", "*"),
        Test::MakeScale("", "127.0.100.17", 0, TScaleKind::skDigi, "", "*"),
    };
    Settings.Scales[1].Enabled = false;
    TfrmLabel Form;
    Form.SetSettings(&Settings);
    const auto Folder = Test::MakeLabelFolder(Box, "Этикетка");
    // "В весы" asks for the scales only when both label files are there.
    std::ofstream(Folder / "f38.dat", std::ios::binary) << "00000001000AAABBCCDD";
    Test::OpenInDesigner(Form, Folder);
    QImage Shot;
    Test::WhenModal(QString::fromLatin1(SizeDialog ? "dlgLabelSize" : "dlgUploadLabel"),
                    [&Shot](QWidget& Dialog) {
                        Shot = Dialog.grab().toImage();
                        Test::Child<QPushButton>(Dialog, "btnCancel")->click();
                    });
    Test::Child<QPushButton>(Form, SizeDialog ? "btnNew" : "btnUpload")->click();
    return Shot;
}

// The DIGI dialog after two scales were collected, the second one shown in the fields; or,
// with `Status`, that text in the status line (the end of a search through the system's
// adapter).
QImage DigiDialogShot(bool Editing, const QString& Status = {})
{
    TLoaderSettings Settings;
    TfrmDigi Dialog;
    Dialog.Prepare(&Settings, ShotScales()[0], Editing);
    if (!Editing) {
        auto* Host = Dialog.findChild<QLineEdit*>(QStringLiteral("edtHost"));
        auto* Name = Dialog.findChild<QLineEdit*>(QStringLiteral("edtName"));
        auto* Add = Dialog.findChild<QPushButton*>(QStringLiteral("btnAdd"));
        Name->setText(QStringLiteral("Весы мясного отдела"));
        Host->setText(QStringLiteral("127.0.100.201"));
        Add->click();
        Name->setText(QStringLiteral("Рыба"));
        Host->setText(QStringLiteral("127.0.100.202"));
        Dialog.findChild<QLabel*>(QStringLiteral("lblStatus"))
            ->setText(Status.isEmpty() ? QStringLiteral("Выберите адаптер в окне «Основные»")
                                       : Status);
    }
    Dialog.show();
    QCoreApplication::processEvents();
    return Dialog.grab().toImage();
}

// The scales window with every state: on line, off line and still checking; with a delivery
// also what each scale last got or the file being sent, scrolled to those columns.
QImage ScalesWindowShot(TShotDelivery Shown = TShotDelivery::sdNone)
{
    const bool Delivered = Shown != TShotDelivery::sdNone;
    Test::TUiSandbox Box;
    TLoaderSettings Settings;
    Settings.Scales = ShotScales();
    // A scale without a name goes by its host.
    Settings.Scales.push_back(
        Test::MakeScale("", "127.0.100.203", 0, TScaleKind::skDigi, "SM-100", "*"));
    TfrmScales Window;
    if (Delivered)
        Window.SetDelivery({&ShotStates, {}, [Shown] {
                                return Shown == TShotDelivery::sdSending ? ShotProgress()
                                                                         : TSendProgress{};
                            }});
    Window.Open(&Settings, {});
    Window.show();
    auto* List = Window.findChild<QTreeWidget*>(QStringLiteral("lvScales"));
    // The probe of these addresses runs on its own; the shot shows the texts as they end up.
    List->topLevelItem(0)->child(0)->setText(3, QStringLiteral("В сети"));
    List->topLevelItem(0)->child(0)->setIcon(0, SharedImages().Icon(siCheckMark));
    List->topLevelItem(0)->child(1)->setText(3, QStringLiteral("Не в сети"));
    List->topLevelItem(0)->child(1)->setIcon(0, SharedImages().Icon(siCross));
    List->setCurrentItem(List->topLevelItem(1)->child(0));
    Window.findChild<QLabel*>(QStringLiteral("lblStatus"))
        ->setText(QStringLiteral("Форма для этого типа ещё не готова Mettler-Toledo"));
    if (Delivered) {
        List->setCurrentItem(List->topLevelItem(0)->child(1));
        Window.findChild<QLabel*>(QStringLiteral("lblStatus"))
            ->setText(
                QStringLiteral("Отправляется снова: Рыба и сыры  127.0.100.202, ждёт 2 файла"));
        List->scrollToItem(List->topLevelItem(0)->child(1));
        List->horizontalScrollBar()->setValue(List->horizontalScrollBar()->maximum());
    }
    QCoreApplication::processEvents();
    QImage Shot = Window.grab().toImage();
    return Shot;
}

// The general dialog with `AdapterIp` stored and, when given, `Timeout` typed.
QImage GeneralDialogShot(const std::string& AdapterIp, const QString& Timeout = {})
{
    TLoaderSettings Settings;
    Settings.WatchFolder = "C:\\Обмен\\Весы";
    Settings.AdapterIp = AdapterIp;
    const TLogLevel Level = GetLogLevel();
    TfrmGeneral Dialog(nullptr, [] {
        return std::vector<TNetAdapter>{{"192.168.100.5", "Ethernet Intel(R) I219-LM"},
                                        {"10.0.0.2", "Wi-Fi"}};
    });
    Dialog.LoadFrom(Settings);
    if (!Timeout.isEmpty())
        Dialog.findChild<QLineEdit*>(QStringLiteral("edtTimeout"))->setText(Timeout);
    Dialog.show();
    QCoreApplication::processEvents();
    QImage Shot = Dialog.grab().toImage();
    Dialog.reject();
    SetLogLevel(Level);
    return Shot;
}

bool Save(const QImage& Image, const QDir& Out, const char* Name)
{
    const QString File = Out.filePath(QString::fromLatin1(Name));
    if (!Image.save(File, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(File));
        return false;
    }
    std::printf("%s\n", qPrintable(File));
    return true;
}

} // namespace

int main(int Argc, char** Argv)
{
    QApplication App(Argc, Argv);
    const QStringList Args = QCoreApplication::arguments();
    const QDir Out(Args.size() > 1 ? Args.at(1) : QDir::currentPath());
    if (!QDir().mkpath(Out.path()))
        return 1;
    bool Ok = Save(ImageSheet(), Out, "images.png");
    Ok = Save(MainWindowShot(QSize(900, 520)), Out, "main-window.png") && Ok;
    Ok = Save(MainWindowShot(QSize(744, 420)), Out, "main-window-small.png") && Ok;
    QString Tooltip;
    Ok = Save(MainWindowShot(QSize(900, 520), TShotDelivery::sdSending, &Tooltip), Out,
              "main-window-sending.png") &&
         Ok;
    std::printf("tooltip while sending: %s\n", qPrintable(Tooltip));
    Ok = Save(MainWindowShot(QSize(744, 420), TShotDelivery::sdSending), Out,
              "main-window-sending-small.png") &&
         Ok;
    Ok = Save(MainWindowShot(QSize(900, 520), TShotDelivery::sdAfter), Out,
              "main-window-delivered.png") &&
         Ok;
    // Wide enough for every column of the scale list.
    Ok = Save(MainWindowShot(QSize(1360, 520), TShotDelivery::sdSending), Out,
              "main-window-sending-wide.png") &&
         Ok;
    Ok = Save(MainWindowShot(QSize(1360, 520), TShotDelivery::sdAfter), Out,
              "main-window-delivered-wide.png") &&
         Ok;
    Ok = Save(TrayMenuShot(false), Out, "tray-menu.png") && Ok;
    Ok = Save(TrayMenuShot(true), Out, "tray-menu-paused.png") && Ok;
    Ok = Save(LabelDesignerShot(QSize(1100, 700), 11), Out, "label-designer.png") && Ok;
    Ok = Save(LabelDesignerShot(QSize(1100, 700), 0), Out, "label-designer-line.png") && Ok;
    Ok = Save(LabelDesignerShot(QSize(960, 570), 16), Out, "label-designer-small.png") && Ok;
    Ok = Save(LabelDialogShot(true), Out, "label-size.png") && Ok;
    Ok = Save(LabelDialogShot(false), Out, "label-upload.png") && Ok;
    Ok = Save(DigiDialogShot(false), Out, "digi-dialog.png") && Ok;
    Ok = Save(DigiDialogShot(true), Out, "digi-dialog-editing.png") && Ok;
    Ok = Save(ScalesWindowShot(), Out, "scales-window.png") && Ok;
    Ok = Save(ScalesWindowShot(TShotDelivery::sdSending), Out, "scales-window-sending.png") && Ok;
    Ok = Save(ScalesWindowShot(TShotDelivery::sdAfter), Out, "scales-window-delivered.png") && Ok;
    Ok = Save(DigiDialogShot(false,
                             QStringLiteral("Поиск закончен. Найдено 3 (через 192.168.1.10).")),
              Out, "digi-dialog-system-adapter.png") &&
         Ok;
    Ok = Save(GeneralDialogShot("192.168.100.5"), Out, "general-dialog.png") && Ok;
    Ok = Save(GeneralDialogShot(""), Out, "general-dialog-system.png") && Ok;
    Ok = Save(GeneralDialogShot("192.168.100.9", QStringLiteral("30000")), Out,
              "general-dialog-missing.png") &&
         Ok;
    return Ok ? 0 : 1;
}
