// The scales window's controls and its grouped list: captions, images, places, the add menu,
// the rows with their check boxes, on-line and delivery states, the list's context menu, and the
// captions and states of the buttons that follow the selection.

#include "ui/ScalesForm/ScalesForm.h"

#include "core/Types/Types.h"
#include "ui/Common/Controls.h"
#include "ui/Common/DeliveryText.h"
#include "ui/Common/Fonts.h"
#include "ui/Common/GridLines.h"
#include "ui/Icons/Icons.h"
#include "ui/UiText/UiText.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>
#include <array>

namespace Plumeria {

namespace {

constexpr int WindowWidth = 780;
constexpr int WindowHeight = 460;
constexpr int RowRole = Qt::UserRole;
constexpr int StateColumn = 3;
constexpr int LastDeliveryColumn = 5;
constexpr int ResultColumn = 6;

constexpr TListColumn ListColumns[] = {
    {"Имя", 170},       {"Тип", 110},   {"Адрес", 170},
    {"Состояние", 120}, {"Маска", 150}, {"Последняя отправка", 200},
    {"Результат", 200},
};

QString ResendCaption()
{
    return QStringLiteral("Отправить снова");
}

QString KindName(TScaleKind Kind)
{
    return QtText(ScaleKindName(Kind));
}

QString StateText(std::int32_t State)
{
    if (State > 0)
        return QStringLiteral("В сети");
    if (State == 0)
        return QStringLiteral("Не в сети");
    return QStringLiteral("Проверка");
}

int StateImage(std::int32_t State)
{
    if (State > 0)
        return siCheckMark;
    if (State == 0)
        return siCross;
    return siScales;
}

} // namespace

void TfrmScales::CreateControls()
{
    setObjectName(QStringLiteral("frmScales"));
    setFont(InterfaceFont());

    lvScales = Named(new QTreeWidget(this), "lvScales");
    lblStatus = Named(new QLabel(this), "lblStatus");
    btnAdd = PlainButton(this, "btnAdd", UiAdd(), siAdd);
    btnEdit = PlainButton(this, "btnEdit", UiChange(), siEdit);
    btnRemove = PlainButton(this, "btnRemove", UiDelete(), siDelete);
    btnLabel = PlainButton(this, "btnLabel", UiLabel(), siUpload);
    btnDesign = PlainButton(this, "btnDesign", UiLayout(), siLabels);
    btnResend = PlainButton(this, "btnResend", ResendCaption(), siRefresh);
    btnHelp = HelpButton(this, "btnHelp", UiScales(), QStringLiteral("scales.html"));
    btnClose = PlainButton(this, "btnClose", UiClose(), siExit);
    ApplyTexts();
    SetupList();
    BuildAddMenu();
    BuildListMenu();

    lblStatus->setWordWrap(true);
    lblStatus->setTextFormat(Qt::PlainText);
    lblStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    connect(lvScales, &QTreeWidget::itemChanged, this, &TfrmScales::lvScalesItemChecked);
    connect(lvScales, &QTreeWidget::itemDoubleClicked, this, &TfrmScales::lvScalesDblClick);
    connect(lvScales, &QTreeWidget::itemSelectionChanged, this, &TfrmScales::SelectionChanged);
    connect(btnAdd, &QPushButton::clicked, this, &TfrmScales::btnAddClick);
    connect(btnEdit, &QPushButton::clicked, this, &TfrmScales::EditScale);
    connect(btnRemove, &QPushButton::clicked, this, &TfrmScales::btnRemoveClick);
    connect(btnLabel, &QPushButton::clicked, this, &TfrmScales::btnLabelClick);
    connect(btnDesign, &QPushButton::clicked, this, &TfrmScales::btnDesignClick);
    connect(btnResend, &QPushButton::clicked, this, &TfrmScales::btnResendClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);

    LayOut();
}

void TfrmScales::ApplyTexts()
{
    setWindowTitle(UiScales());
}

void TfrmScales::LayOut()
{
    setFixedSize(WindowWidth, WindowHeight);
    lvScales->setGeometry(16, 16, 748, 320);
    lblStatus->setGeometry(16, 336, 748, 36);

    // The button row keeps its designed boxes; a caption that needs more room (a wider system
    // font, a long make in the layout caption) widens its button and moves the next ones on.
    struct TPlace
    {
        QPushButton* Button;
        int Left;
        int Width;
    };
    const TPlace Row[] = {{btnAdd, 16, 150},
                          {btnEdit, 174, 120},
                          {btnRemove, 302, 110},
                          {btnLabel, 420, 120},
                          {btnDesign, 548, 216}};
    int Shift = 0;
    for (const TPlace& Place : Row) {
        const int Width = std::max(Place.Width, Place.Button->sizeHint().width());
        const int Left = Place.Left + Shift;
        // The last button may not run past the list's right edge; it takes what is left.
        const int Fitted = Place.Button == btnDesign ? std::min(Width, 764 - Left) : Width;
        Place.Button->setGeometry(Left, 376, Fitted, 27);
        Shift += Width - Place.Width;
    }
    btnResend->setGeometry(16, 420, std::max(170, btnResend->sizeHint().width()), 27);
    btnHelp->setGeometry(620, 420, 28, 27);
    btnClose->setGeometry(656, 420, 108, 27);
}

void TfrmScales::SetupList()
{
    SetListColumns(lvScales, ListColumns);
    // The rows sit one indentation step inside their group; the name column gets that step on
    // top of its own width.
    lvScales->setIndentation(14);
    FitColumns();
    lvScales->header()->setStretchLastSection(true);
    lvScales->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvScales->setSelectionMode(QAbstractItemView::SingleSelection);
    lvScales->setAllColumnsShowFocus(true);
    lvScales->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvScales->setExpandsOnDoubleClick(false);
    lvScales->setIconSize(SharedImages().ImageSize());
    ShowGridLines(lvScales);
}

void TfrmScales::FitColumns()
{
    // The designed widths, widened where a text would not fit (the list scrolls sideways then).
    for (int I = 0; I < static_cast<int>(std::size(ListColumns)); ++I) {
        const int Designed = ListColumns[I].Width + (I == 0 ? lvScales->indentation() : 0);
        lvScales->resizeColumnToContents(I);
        lvScales->setColumnWidth(I, std::max(Designed, lvScales->columnWidth(I)));
    }
}

void TfrmScales::BuildAddMenu()
{
    FAddMenu = std::make_unique<QMenu>(this); // freed by its owner before the window goes
    FAddMenu->setObjectName(QStringLiteral("FAddMenu"));
    FAddMenu->setFont(font());
    for (int Ordinal = 0; Ordinal < ScaleKindCount; ++Ordinal) {
        const auto Kind = static_cast<TScaleKind>(Ordinal);
        QAction* Entry = FAddMenu->addAction(KindName(Kind));
        Entry->setData(Ordinal);
        connect(Entry, &QAction::triggered, this, [this, Kind] { AddMenuClick(Kind); });
    }
}

void TfrmScales::BuildListMenu()
{
    FListMenu = std::make_unique<QMenu>(this); // freed by its owner before the window goes
    FListMenu->setObjectName(QStringLiteral("FListMenu"));
    FListMenu->setFont(font());
    FResendItem = FListMenu->addAction(SharedImages().Icon(siRefresh), ResendCaption());
    connect(FResendItem, &QAction::triggered, this, &TfrmScales::btnResendClick);
    lvScales->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvScales, &QWidget::customContextMenuRequested, this, [this](const QPoint& Where) {
        // The row under the pointer is the one meant, as in every list of the desktop.
        QTreeWidgetItem* Item = lvScales->itemAt(Where);
        if (!Item || Item->data(0, RowRole).toInt() < 0)
            return;
        lvScales->setCurrentItem(Item);
        FListMenu->popup(lvScales->viewport()->mapToGlobal(Where));
    });
}

void TfrmScales::FillList()
{
    FLoading = true;
    lvScales->setUpdatesEnabled(false);
    try {
        lvScales->clear();
        FItems.assign(FRows.size(), nullptr);
        std::array<bool, ScaleKindCount> Occurs{};
        for (const TScaleConfig& Row : FRows)
            Occurs[static_cast<std::size_t>(Row.Kind)] = true;
        std::array<QTreeWidgetItem*, ScaleKindCount> Groups{};
        for (int Ordinal = 0; Ordinal < ScaleKindCount; ++Ordinal) {
            if (!Occurs[static_cast<std::size_t>(Ordinal)])
                continue;
            auto* Group =
                new QTreeWidgetItem(lvScales, {KindName(static_cast<TScaleKind>(Ordinal))});
            Group->setData(0, RowRole, -(Ordinal + 1)); // group id: ordinal + 1, negated
            Group->setFlags(Qt::ItemIsEnabled);
            Group->setFirstColumnSpanned(true);
            QFont Bold = Group->font(0);
            Bold.setBold(true);
            Group->setFont(0, Bold);
            Groups[static_cast<std::size_t>(Ordinal)] = Group;
        }
        for (std::size_t I = 0; I < FRows.size(); ++I) {
            const TScaleConfig& Row = FRows[I];
            const std::int32_t State = I < FOnline.size() ? FOnline[I] : -1;
            auto* Item = new QTreeWidgetItem(
                Groups[static_cast<std::size_t>(Row.Kind)],
                {ScaleListName(Row), KindName(Row.Kind),
                 QtText(Row.Host) + QLatin1Char(':') + QString::number(Row.Port), StateText(State),
                 QtText(Row.FileMask)});
            Item->setData(0, RowRole, static_cast<int>(I));
            Item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            Item->setCheckState(0, Row.Enabled ? Qt::Checked : Qt::Unchecked);
            Item->setIcon(0, SharedImages().Icon(StateImage(State)));
            FItems[I] = Item;
        }
        lvScales->expandAll();
        ShowDelivery();
    } catch (...) {
        lvScales->setUpdatesEnabled(true);
        FLoading = false;
        throw;
    }
    lvScales->setUpdatesEnabled(true);
    SelectionChanged();
    FLoading = false;
}

void TfrmScales::ShowDelivery()
{
    FStates = FDelivery.States ? FDelivery.States(FRows) : std::vector<TScaleState>();
    FStates.resize(FRows.size());
    for (std::size_t I = 0; I < FItems.size(); ++I)
        if (FItems[I])
            FItems[I]->setText(LastDeliveryColumn, LastDeliveryText(FStates[I]));
    ShowResults();
}

void TfrmScales::ShowResults()
{
    for (std::size_t I = 0; I < FItems.size() && I < FStates.size(); ++I) {
        if (!FItems[I])
            continue;
        const TScaleProgress* Sending = FindScaleProgress(FProgress, FRows[I]);
        const QString Result = Sending ? ScaleSendText(*Sending) : DeliveryResultText(FStates[I]);
        FItems[I]->setText(ResultColumn, Result);
        // An error text may be long; the whole of it is a hover away.
        FItems[I]->setToolTip(ResultColumn, Result);
    }
    FitColumns();
}

void TfrmScales::SelectionChanged()
{
    UpdateDesignCaption();
    const bool Selected = SelectedIndex() >= 0;
    btnResend->setEnabled(Selected);
    FResendItem->setEnabled(Selected);
}

void TfrmScales::SetOnline(int Index, std::int32_t State)
{
    if (Index < 0 || static_cast<std::size_t>(Index) >= FOnline.size())
        return;
    FOnline[static_cast<std::size_t>(Index)] = State;
    if (static_cast<std::size_t>(Index) >= FItems.size() ||
        !FItems[static_cast<std::size_t>(Index)])
        return;
    QTreeWidgetItem* Item = FItems[static_cast<std::size_t>(Index)];
    Item->setIcon(0, SharedImages().Icon(StateImage(State)));
    Item->setText(StateColumn, StateText(State));
}

int TfrmScales::SelectedIndex() const
{
    const QList<QTreeWidgetItem*> Selected = lvScales->selectedItems();
    if (Selected.isEmpty())
        return -1;
    const int Row = Selected.front()->data(0, RowRole).toInt();
    return Row >= 0 && static_cast<std::size_t>(Row) < FRows.size() ? Row : -1;
}

void TfrmScales::UpdateDesignCaption()
{
    const int Row = SelectedIndex();
    btnDesign->setText(Row < 0 ? UiLayout()
                               : UiLayout() + QLatin1Char(' ') +
                                     KindName(FRows[static_cast<std::size_t>(Row)].Kind));
}

} // namespace Plumeria
