// The main window's controls: their names, captions, images, fonts, places and anchors, the
// scale list's columns and rows with each scale's delivery, the line of the file being sent, the
// journal pane and the notification menu.

#include "ui/Main/MainWindow.h"

#include "core/Journal/Journal.h"
#include "core/Settings/Settings.h"
#include "core/Types/Types.h"
#include "platform/TrayClick.h"
#include "ui/Common/Controls.h"
#include "ui/Common/DeliveryText.h"
#include "ui/Common/Fonts.h"
#include "ui/Common/GridLines.h"
#include "ui/Icons/Icons.h"
#include "ui/UiText/UiText.h"

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTreeWidget>

#include <algorithm>
#include <exception>

namespace Plumeria {

namespace {

// The window is designed for a client area of this size; anchored controls follow its changes.
constexpr int DesignWidth = 900;
constexpr int DesignHeight = 520;
constexpr int RecentItemHeight = 15;
constexpr int JournalTailLines = 200;

constexpr TListColumn ScaleColumns[] = {
    {"Имя", 160},       {"Тип", 120},   {"Адрес", 180},
    {"Модель", 110},    {"Маска", 140}, {"Последняя отправка", 200},
    {"Результат", 200},
};
constexpr int LastDeliveryColumn = 5;
constexpr int ResultColumn = 6;
/// The progress line keeps this much room to the scale list's caption.
constexpr int ProgressGap = 24;

// A button of the bottom row: its designed box and the gap to the button before it.
struct TButtonPlace
{
    int Left;
    int Width;
};
constexpr int ButtonTop = 480;
constexpr int ButtonHeight = 27;
constexpr TButtonPlace ButtonPlaces[] = {{16, 130}, {154, 110}, {272, 120}, {400, 170}, {582, 130}};

QString Q(const std::string& Utf8)
{
    return QString::fromStdString(Utf8);
}
QString Q(std::string_view Utf8)
{
    return QString::fromUtf8(Utf8.data(), static_cast<qsizetype>(Utf8.size()));
}

} // namespace

void TfrmMain::CreateControls()
{
    setObjectName(QStringLiteral("frmMain"));
    const auto Make = [this](auto* Control, const char* Name) {
        Control->setObjectName(QString::fromLatin1(Name));
        return Control;
    };
    lblFiles = Make(new QLabel(UiRecentFiles(), this), "lblFiles");
    lbFiles = Make(new QListWidget(this), "lbFiles");
    lblScales = Make(new QLabel(UiScales(), this), "lblScales");
    lblProgress = Make(new QLabel(this), "lblProgress");
    lvScales = Make(new QTreeWidget(this), "lvScales");
    lblLog = Make(new QLabel(UiJournal(), this), "lblLog");
    memLog = Make(new QPlainTextEdit(this), "memLog");
    btnGeneral = Make(new QPushButton(UiGeneral(), this), "btnGeneral");
    btnScales = Make(new QPushButton(UiScales(), this), "btnScales");
    btnRefresh = Make(new QPushButton(UiRefresh(), this), "btnRefresh");
    btnOpenLog = Make(new QPushButton(UiOpenJournal(), this), "btnOpenLog");
    btnHelp = Make(new QPushButton(UiHelp(), this), "btnHelp");

    SetButtonImage(btnGeneral, siGear);
    SetButtonImage(btnScales, siScales);
    SetButtonImage(btnRefresh, siRefresh);
    SetButtonImage(btnOpenLog, siJournal);
    SetButtonImage(btnHelp, siQuestion);
    for (QPushButton* Button : {btnGeneral, btnScales, btnRefresh, btnOpenLog, btnHelp})
        Button->setAutoDefault(false);

    lblProgress->setTextFormat(Qt::PlainText);
    lblProgress->hide();
    lbFiles->setUniformItemSizes(true);
    lbFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    memLog->setReadOnly(true);
    memLog->setTabChangesFocus(true);
    memLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memLog->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    ApplyFonts();

    setTabOrder(lbFiles, lvScales);
    setTabOrder(lvScales, memLog);
    setTabOrder(memLog, btnGeneral);
    setTabOrder(btnGeneral, btnRefresh);
    setTabOrder(btnRefresh, btnOpenLog);
    setTabOrder(btnOpenLog, btnScales);
    setTabOrder(btnScales, btnHelp);

    connect(btnGeneral, &QPushButton::clicked, this, &TfrmMain::ShowGeneralDialog);
    connect(btnScales, &QPushButton::clicked, this, &TfrmMain::ShowScalesWindow);
    connect(btnRefresh, &QPushButton::clicked, this, &TfrmMain::RefreshView);
    connect(btnOpenLog, &QPushButton::clicked, this, &TfrmMain::btnOpenLogClick);
    connect(btnHelp, &QPushButton::clicked, this, &TfrmMain::btnHelpClick);

    // The window starts hidden and centred, its client area at the designed size.
    resize(DesignWidth, DesignHeight);
    setMinimumSize(DesignWidth - 156, DesignHeight - 100);
    if (const QScreen* Screen = QGuiApplication::primaryScreen()) {
        QRect Frame(QPoint(0, 0), size());
        Frame.moveCenter(Screen->availableGeometry().center());
        move(Frame.topLeft());
    }
    LayOut();
}

void TfrmMain::ApplyFonts()
{
    setFont(InterfaceFont());
    memLog->setFont(FixedWidthFont());
}

void TfrmMain::LayOut()
{
    // Anchors: what grows with the window grows by the difference to the designed size.
    const int DW = width() - DesignWidth;
    const int DH = height() - DesignHeight;
    const auto PlaceLabel = [](QLabel* Label, int Left, int Top) {
        Label->move(Left, Top);
        Label->resize(Label->sizeHint());
    };
    PlaceLabel(lblFiles, 16, 12);
    lbFiles->setGeometry(16, 32, 728 + DW, 120);
    PlaceLabel(lblScales, 16, 160);
    const int ProgressLeft = lblScales->x() + lblScales->width() + ProgressGap;
    lblProgress->setGeometry(ProgressLeft, 160, 744 + DW - ProgressLeft,
                             lblProgress->sizeHint().height());
    lvScales->setGeometry(16, 180, 728 + DW, 120);
    PlaceLabel(lblLog, 16, 308);
    memLog->setGeometry(16, 328, 728 + DW, 140 + DH);

    // Buttons keep their designed boxes; one whose caption needs more room (a wider system
    // font) grows, and the buttons after it move on by as much.
    QPushButton* const Buttons[] = {btnGeneral, btnScales, btnRefresh, btnOpenLog, btnHelp};
    int Shift = 0;
    for (std::size_t I = 0; I < std::size(Buttons); ++I) {
        const TButtonPlace& Place = ButtonPlaces[I];
        const int Width = std::max(Place.Width, Buttons[I]->sizeHint().width());
        Buttons[I]->setGeometry(Place.Left + Shift, ButtonTop + DH, Width, ButtonHeight);
        Shift += Width - Place.Width;
    }
}

void TfrmMain::resizeEvent(QResizeEvent* Event)
{
    QWidget::resizeEvent(Event);
    LayOut();
    ShowProgress();
}

void TfrmMain::SetupScaleList()
{
    SetListColumns(lvScales, ScaleColumns);
    lvScales->header()->setStretchLastSection(false);
    lvScales->setRootIsDecorated(false);
    lvScales->setItemsExpandable(false);
    lvScales->setUniformRowHeights(true);
    lvScales->setAllColumnsShowFocus(true);
    lvScales->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvScales->setSelectionMode(QAbstractItemView::SingleSelection);
    lvScales->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvScales->setIconSize(SharedImages().ImageSize());
    ShowGridLines(lvScales);
}

void TfrmMain::FillScaleList()
{
    lvScales->setUpdatesEnabled(false);
    lvScales->clear();
    if (FSettings) {
        const QIcon Image = SharedImages().Icon(siScales);
        QList<QTreeWidgetItem*> Rows;
        for (const TScaleConfig& Scale : FSettings->Scales) {
            auto* Row = new QTreeWidgetItem(
                QStringList{ScaleListName(Scale), Q(ScaleKindName(Scale.Kind)),
                            Q(Scale.Host) + QLatin1Char(':') + QString::number(Scale.Port),
                            Q(Scale.Model), Q(Scale.FileMask)});
            Row->setIcon(0, Image);
            Rows << Row;
        }
        lvScales->addTopLevelItems(Rows);
    }
    ReadDeliveryStates();
    lvScales->setUpdatesEnabled(true);
}

void TfrmMain::ReadDeliveryStates()
{
    FStates.clear();
    if (FSettings && FEngine)
        FStates = FEngine->States(FSettings->Scales);
    ShowDeliveryColumns();
}

void TfrmMain::ShowDeliveryColumns()
{
    if (!FSettings || lvScales->topLevelItemCount() != static_cast<int>(FSettings->Scales.size()))
        return;
    const std::vector<TScaleConfig>& Scales = FSettings->Scales;
    // The settings may have changed since the states were read: a scale not read yet shows none.
    FStates.resize(Scales.size());
    for (std::size_t I = 0; I < Scales.size(); ++I) {
        QTreeWidgetItem* Row = lvScales->topLevelItem(static_cast<int>(I));
        const TScaleProgress* Sending = FindScaleProgress(FProgress, Scales[I]);
        const QString Result = Sending ? ScaleSendText(*Sending) : DeliveryResultText(FStates[I]);
        Row->setText(LastDeliveryColumn, LastDeliveryText(FStates[I]));
        Row->setText(ResultColumn, Result);
        // An error text may run past the column; the whole of it is a hover away.
        Row->setToolTip(ResultColumn, Result);
    }
    FitScaleColumns();
}

void TfrmMain::FitScaleColumns()
{
    // The delivery columns widen to their texts (the list scrolls sideways then); the designed
    // ones keep their widths.
    for (int I = LastDeliveryColumn; I <= ResultColumn; ++I) {
        const int Designed = ScaleColumns[I].Width;
        lvScales->resizeColumnToContents(I);
        lvScales->setColumnWidth(I, std::max(Designed, lvScales->columnWidth(I)));
    }
}

void TfrmMain::ShowProgress()
{
    const QString Summary = SendSummaryText(FProgress);
    if (FTray)
        FTray->setToolTip(Summary.isEmpty() ? IdleTrayTip() : Summary);
    if (Summary.isEmpty()) {
        lblProgress->clear();
        lblProgress->setToolTip({});
        lblProgress->hide();
        return;
    }
    // Each scale's count where the line has room for them, else the sums.
    QString Detailed = QStringLiteral("Отправка ") + QtText(FProgress.FileName);
    QString Lines = Detailed;
    for (std::size_t I = 0; I < FProgress.Scales.size(); ++I) {
        const TScaleProgress& Scale = FProgress.Scales[I];
        QString Name = QtText(Scale.Name);
        if (FSettings)
            for (const TScaleConfig& Config : FSettings->Scales)
                if (FindScaleProgress(FProgress, Config) == &Scale) {
                    Name = ScaleListName(Config);
                    break;
                }
        const QString Part = Name + QStringLiteral(": ") + QString::number(Scale.Sent) +
                             QLatin1Char('/') + QString::number(Scale.Total);
        Detailed += (I == 0 ? QStringLiteral(" — ") : QStringLiteral(", ")) + Part;
        Lines += QLatin1Char('\n') + Part;
    }
    const QFontMetrics Metrics = lblProgress->fontMetrics();
    const int Room = lblProgress->width();
    QString Shown = Metrics.horizontalAdvance(Detailed) <= Room ? Detailed : Summary;
    Shown = Metrics.elidedText(Shown, Qt::ElideMiddle, Room);
    lblProgress->setText(Shown);
    lblProgress->setToolTip(Lines);
    lblProgress->show();
}

void TfrmMain::ShowRecent()
{
    const int Height = std::max(RecentItemHeight, lbFiles->fontMetrics().height());
    lbFiles->clear();
    for (const QString& Line : FRecent) {
        auto* Item = new QListWidgetItem(Line, lbFiles);
        Item->setSizeHint(QSize(0, Height));
    }
}

void TfrmMain::ShowJournalTail()
{
    QString Text;
    try {
        Text = Q(LogTail(JournalTailLines));
        Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    } catch (const std::exception& Error) {
        // Shown where the journal would be; the journal itself may be what cannot be written.
        Text = QStringLiteral("Журнал не прочитан: ") + QString::fromLocal8Bit(Error.what());
    }
    memLog->setPlainText(Text);
    memLog->verticalScrollBar()->setValue(memLog->verticalScrollBar()->maximum());
}

void TfrmMain::BuildTrayMenu()
{
    const TImageList& Images = SharedImages();
    FMenu = std::make_unique<QMenu>();
    FMenu->setObjectName(QStringLiteral("FMenu"));
    FMenu->setFont(font());
    const auto Entry = [&](const QString& Caption, int Image, auto Slot) {
        QAction* Action = FMenu->addAction(Images.Icon(Image), Caption);
        connect(Action, &QAction::triggered, this, Slot);
        return Action;
    };
    Entry(UiStatus(), siInformation, &TfrmMain::ShowMainWindow);
    Entry(UiGeneral(), siGear, &TfrmMain::ShowGeneralDialog);
    Entry(UiScales(), siScales, &TfrmMain::ShowScalesWindow);
    Entry(UiHelp(), siQuestion, &TfrmMain::btnHelpClick);
    Entry(UiOpenJournal(), siJournal, &TfrmMain::btnOpenLogClick);
    FPauseItem = Entry(UiPause(), siPause, &TfrmMain::TogglePause);
    FPauseItem->setObjectName(QStringLiteral("FPauseItem"));
    Entry(UiExit(), siExitMenu, &TfrmMain::ExitApplication);

    QIcon AppIcon = QApplication::windowIcon();
    if (AppIcon.isNull())
        AppIcon = style()->standardIcon(QStyle::SP_ComputerIcon);
    setWindowIcon(AppIcon);
    FAppIcon = AppIcon;

    FTray = new QSystemTrayIcon(AppIcon, this);
    FTray->setObjectName(QStringLiteral("FTray"));
    FTray->setToolTip(UiAppTitle());
    FTray->setContextMenu(FMenu.get());
    connect(FTray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason Reason) {
                if (Reason == QSystemTrayIcon::DoubleClick ||
                    (Reason == QSystemTrayIcon::Trigger && TraySingleClickOpens()))
                    ShowMainWindow();
            });
    FTray->show();

    // Without a notification area the same menu is the window's context menu, so that pause
    // and exit stay within reach.
    if (!TrayAvailable()) {
        setContextMenuPolicy(Qt::CustomContextMenu);
        connect(this, &QWidget::customContextMenuRequested, this,
                [this](const QPoint& Where) { FMenu->popup(mapToGlobal(Where)); });
    }
}

} // namespace Plumeria
