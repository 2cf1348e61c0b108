// The designer window itself: its controls and their places, the status line, the format list,
// the grouped field list, the add menu, deleting a field and closing.

#include "ui/LabelForm/LabelForm.h"

#include "core/LabelGeom/LabelGeom.h"
#include "core/LabelGeom/LabelPlace.h"
#include "platform/Environment.h"
#include "ui/Common/Controls.h"
#include "ui/Common/Fonts.h"
#include "ui/Common/MessageBox.h"
#include "ui/Icons/Icons.h"
#include "ui/LabelForm/LabelSend.h"
#include "ui/UiText/UiText.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

namespace Plumeria {

namespace {

constexpr int ClientWidth = 1100;
constexpr int ClientHeight = 700;
// Below this the top row of buttons and the property panel would be cut off.
constexpr int MinClientWidth = 960;
constexpr int MinClientHeight = 570;
constexpr int HeaderRow = -2;

// The six groups in which lists and menus show the fields.
struct TFieldGroup
{
    const char* Caption;
    TDigiFieldKind Kinds[2];
    int KindCount;
};
constexpr TFieldGroup FieldGroups[] = {
    {"Строки", {TDigiFieldKind::dfLine}, 1},
    {"Блоки", {TDigiFieldKind::dfBlock}, 1},
    {"Штрихкоды", {TDigiFieldKind::dfEan, TDigiFieldKind::dfMultiBar}, 2},
    {"Рамки", {TDigiFieldKind::dfBevel}, 1},
    {"Картинки", {TDigiFieldKind::dfPicture, TDigiFieldKind::dfLogo}, 2},
    {"Надписи", {TDigiFieldKind::dfText}, 1},
};

bool InGroup(const TFieldGroup& Group, TDigiFieldKind Kind)
{
    for (int I = 0; I < Group.KindCount; ++I)
        if (Group.Kinds[I] == Kind)
            return true;
    return false;
}

QPushButton* TopButton(QWidget* Panel, const QString& Caption, const char* Name, int Left,
                       int Width, int Image)
{
    QPushButton* Button = PlainButton(Panel, Name, Caption, Image);
    Button->setGeometry(Left, 8, Width, 28);
    return Button;
}

} // namespace

QFont LabelFont(int PixelSize)
{
    QFont Font = InterfaceFont();
    Font.setPixelSize(PixelSize);
    return Font;
}

TfrmLabel::TfrmLabel(QWidget* Parent) : QDialog(Parent)
{
    CreateControls();
    FormCreate();
}

TfrmLabel::~TfrmLabel() = default;

void TfrmLabel::Execute(TLoaderSettings* Settings)
{
    FSettings = Settings;
    exec();
}

void TfrmLabel::CreateControls()
{
    setObjectName(QStringLiteral("frmLabel"));
    setWindowTitle(QStringLiteral("Макет этикетки"));
    setFont(LabelFont(12));
    setSizeGripEnabled(true);

    pnlTop = Named(new QWidget(this), "pnlTop");
    pnlTop->setFixedHeight(44);
    pnlBottom = Named(new QWidget(this), "pnlBottom");
    pnlBottom->setFixedHeight(48);
    pnlLeft = Named(new QWidget(this), "pnlLeft");
    pnlLeft->setFixedWidth(220);
    pnlRight = Named(new QWidget(this), "pnlRight");
    pnlRight->setFixedWidth(250);
    pnlCanvas = Named(new QWidget(this), "pnlCanvas");
    pnlCanvas->setAutoFillBackground(true);
    QPalette White = pnlCanvas->palette();
    White.setColor(QPalette::Window, Qt::white);
    pnlCanvas->setPalette(White);

    CreateTopPanel(pnlTop);
    CreateBottomPanel(pnlBottom);

    lstFields = Named(new QListWidget(pnlLeft), "lstFields");
    auto* LeftLayout = new QVBoxLayout(pnlLeft);
    LeftLayout->setContentsMargins(0, 0, 0, 0);
    LeftLayout->addWidget(lstFields);

    box = Named(new TLabelBox(*this, pnlCanvas), "box");
    auto* CanvasLayout = new QVBoxLayout(pnlCanvas);
    CanvasLayout->setContentsMargins(0, 0, 0, 0);
    CanvasLayout->addWidget(box);

    CreatePropertyPanel(pnlRight);

    auto* Middle = new QHBoxLayout();
    Middle->setContentsMargins(0, 0, 0, 0);
    Middle->setSpacing(0);
    Middle->addWidget(pnlLeft);
    Middle->addWidget(pnlCanvas, 1);
    Middle->addWidget(pnlRight);
    auto* Main = new QVBoxLayout(this);
    Main->setContentsMargins(0, 0, 0, 0);
    Main->setSpacing(0);
    Main->addWidget(pnlTop);
    Main->addLayout(Middle, 1);
    Main->addWidget(pnlBottom);

    FAddMenu = Named(new QMenu(this), "FAddMenu");

    connect(btnOpen, &QPushButton::clicked, this, &TfrmLabel::OpenClick);
    connect(btnNew, &QPushButton::clicked, this, &TfrmLabel::NewClick);
    connect(btnSave, &QPushButton::clicked, this, &TfrmLabel::DoSave);
    connect(btnAdd, &QPushButton::clicked, this, &TfrmLabel::AddClick);
    connect(btnDelete, &QPushButton::clicked, this, &TfrmLabel::DeleteClick);
    connect(btnUpload, &QPushButton::clicked, this, &TfrmLabel::UploadClick);
    connect(cmbFormat, &QComboBox::currentIndexChanged, this, &TfrmLabel::FormatChange);
    connect(lstFields, &QListWidget::itemSelectionChanged, this, &TfrmLabel::FieldsClick);

    // Key preview: the window sees every key before the focused control.
    for (QWidget* Child : findChildren<QWidget*>())
        Child->installEventFilter(this);

    resize(ClientWidth, ClientHeight);
    setMinimumSize(MinClientWidth, MinClientHeight);
    if (const QScreen* Screen = QGuiApplication::primaryScreen()) {
        QRect Frame(QPoint(0, 0), size());
        Frame.moveCenter(Screen->availableGeometry().center());
        move(Frame.topLeft());
    }
}

void TfrmLabel::CreateTopPanel(QWidget* Panel)
{
    btnOpen = TopButton(Panel, QStringLiteral("Открыть"), "btnOpen", 8, 110, siOpen);
    btnNew = TopButton(Panel, QStringLiteral("Новая"), "btnNew", 124, 110, siNew);
    btnSave = TopButton(Panel, UiSave(), "btnSave", 240, 120, siSave);
    lblFormat = Named(new QLabel(UiLayout(), Panel), "lblFormat");
    lblFormat->setGeometry(368, 14, 46, 18);
    cmbFormat = Named(new QComboBox(Panel), "cmbFormat");
    cmbFormat->setGeometry(416, 10, 130, 25);
    cmbFormat->view()->setMinimumWidth(160);
    btnAdd = TopButton(Panel, UiAdd(), "btnAdd", 554, 120, siAdd);
    btnDelete = TopButton(Panel, UiDelete(), "btnDelete", 680, 120, siDelete);
    btnUpload = TopButton(Panel, QStringLiteral("В весы"), "btnUpload", 808, 140, siUpload);
}

void TfrmLabel::CreateBottomPanel(QWidget* Panel)
{
    lblStatus = Named(new QLabel(Panel), "lblStatus");
    lblHint = Named(new QLabel(QStringLiteral("Пунктир отделяет нижнюю полосу 10 мм. Изменения "
                                              "записывает в файл «Сохранить», на весы этикетку "
                                              "отправляет «В весы»."),
                               Panel),
                    "lblHint");
    QPalette Grey = lblHint->palette();
    Grey.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    lblHint->setPalette(Grey);
    // The status line holds a whole path; it takes the panel's width and never wraps.
    auto* Layout = new QVBoxLayout(Panel);
    Layout->setContentsMargins(12, 4, 12, 6);
    Layout->setSpacing(2);
    lblStatus->setFixedHeight(18);
    lblHint->setFixedHeight(18);
    Layout->addWidget(lblStatus);
    Layout->addWidget(lblHint);
}

void TfrmLabel::FormCreate()
{
    FSelected = -1;
    FFormat = 0;
    FMargin = 16;
    FWidthDots = 432;
    FHeightDots = 296;
    FScale = 1.0;
    FDoc.reset();
    RefreshAll();
}

void TfrmLabel::SetStatus(const QString& Text)
{
    lblStatus->setText(Text);
}

void TfrmLabel::ReadLabelSize()
{
    FWidthDots = 432;
    FHeightDots = 296;
    if (!FDoc)
        return;
    int Width = 0;
    int Height = 0;
    FDoc->ReadSize(FFormat, Width, Height);
    if (Width >= 40 && Width <= 2000)
        FWidthDots = Width;
    if (Height >= 40 && Height <= 2000)
        FHeightDots = Height;
}

int TfrmLabel::FirstFormatWithId(unsigned Id) const
{
    int Found = -1;
    for (int I = 0; I < FDoc->FormatCount(); ++I)
        if (FDoc->FormatId(I) == Id)
            Found = I;
    return Found;
}

void TfrmLabel::FillFormats()
{
    FLoading = true;
    cmbFormat->clear();
    if (FDoc) {
        for (int I = 0; I < FDoc->FormatCount(); ++I) {
            int Width = 0;
            int Height = 0;
            FDoc->ReadSize(I, Width, Height);
            cmbFormat->addItem(QStringLiteral("%1   %2 x %3")
                                   .arg(FDoc->FormatId(I))
                                   .arg(Width / 8)
                                   .arg(Height / 8));
        }
        FFormat = std::max(FirstFormatWithId(1), 0);
    }
    if (cmbFormat->count() > 0)
        cmbFormat->setCurrentIndex(FFormat);
    FLoading = false;
}

void TfrmLabel::RefreshAll()
{
    ReadLabelSize();
    if (FDoc) {
        QString Status = NativePathText(FDoc->FileName()) + QStringLiteral("  %1 %2   %3 x %4 mm")
                                                                .arg(UiLayout())
                                                                .arg(FDoc->FormatId(FFormat))
                                                                .arg(FWidthDots / 8)
                                                                .arg(FHeightDots / 8);
        if (FDoc->Dirty())
            Status += QStringLiteral(" *");
        SetStatus(Status);
    } else {
        SetStatus(QStringLiteral("Откройте папку с f34.dat"));
    }
    const bool Open = FDoc != nullptr;
    btnSave->setEnabled(Open);
    btnAdd->setEnabled(Open);
    cmbFormat->setEnabled(Open);
    btnNew->setEnabled(true);
    btnDelete->setEnabled(Open && FSelected >= 0);
    FillFields();
    ShowProperties();
    box->update();
}

void TfrmLabel::FillFields()
{
    const QSignalBlocker Quiet(lstFields);
    lstFields->setUpdatesEnabled(false);
    lstFields->clear();
    if (FDoc) {
        for (const TFieldGroup& Group : FieldGroups) {
            bool HeaderAdded = false;
            for (int Slot = 0; Slot < SlotCount(); ++Slot) {
                if (!InGroup(Group, GetSlot(Slot).Kind) || !FDoc->Occupied(FFormat, Slot))
                    continue;
                if (!HeaderAdded) {
                    auto* Header = new QListWidgetItem(QString::fromUtf8(Group.Caption));
                    Header->setData(Qt::UserRole, HeaderRow);
                    QFont Bold = lstFields->font();
                    Bold.setBold(true);
                    Header->setFont(Bold);
                    lstFields->addItem(Header);
                    HeaderAdded = true;
                }
                auto* Row = new QListWidgetItem(
                    QStringLiteral("   ") + QString::fromStdString(FieldCaption(GetSlot(Slot))));
                Row->setData(Qt::UserRole, Slot);
                lstFields->addItem(Row);
                if (Slot == FSelected)
                    Row->setSelected(true);
            }
        }
    }
    lstFields->setUpdatesEnabled(true);
}

void TfrmLabel::FieldsClick()
{
    const QList<QListWidgetItem*> Chosen = lstFields->selectedItems();
    if (Chosen.isEmpty()) {
        FSelected = -1;
    } else if (Chosen.front()->data(Qt::UserRole).toInt() == HeaderRow) {
        // A group caption is no field: the previous selection stays.
        const QSignalBlocker Quiet(lstFields);
        lstFields->clearSelection();
        for (int I = 0; I < lstFields->count(); ++I)
            if (lstFields->item(I)->data(Qt::UserRole).toInt() == FSelected)
                lstFields->item(I)->setSelected(true);
        return;
    } else {
        FSelected = Chosen.front()->data(Qt::UserRole).toInt();
    }
    ShowProperties();
    btnDelete->setEnabled(FSelected >= 0);
    box->update();
}

void TfrmLabel::FormatChange()
{
    if (FLoading || !FDoc || cmbFormat->currentIndex() < 0)
        return;
    FFormat = cmbFormat->currentIndex();
    FSelected = -1;
    RefreshAll();
}

void TfrmLabel::AddClick()
{
    if (!FDoc)
        return;
    FAddMenu->clear();
    for (const TFieldGroup& Group : FieldGroups) {
        QMenu* Sub = nullptr;
        for (int Slot = 0; Slot < SlotCount(); ++Slot) {
            if (!InGroup(Group, GetSlot(Slot).Kind) || FDoc->Occupied(FFormat, Slot))
                continue;
            if (!Sub)
                Sub = FAddMenu->addMenu(QString::fromUtf8(Group.Caption));
            QAction* Item = Sub->addAction(QString::fromStdString(FieldCaption(GetSlot(Slot))));
            Item->setData(Slot);
            connect(Item, &QAction::triggered, this, [this, Slot] { AddItemClick(Slot); });
        }
    }
    if (!FAddMenu->isEmpty())
        FAddMenu->popup(btnAdd->mapToGlobal(QPoint(0, btnAdd->height())));
}

void TfrmLabel::AddItemClick(int SlotIndex)
{
    if (!FDoc)
        return;
    const int Number = GetSlot(SlotIndex).Number;
    PlaceFree(*FDoc, FFormat, SlotIndex, FWidthDots, FHeightDots, (Number % 5) * 48 + 32,
              (Number / 5) * 40 + 32);
    FSelected = SlotIndex;
    RefreshAll();
}

void TfrmLabel::DeleteClick()
{
    if (!FDoc || FSelected < 0)
        return;
    FDoc->ClearSlot(FFormat, FSelected);
    FSelected = -1;
    RefreshAll();
}

void TfrmLabel::reject()
{
    // Esc, the close button and closing the window all come here: a typed value is taken over
    // first, and one that cannot be taken is not dropped without asking.
    if (QLineEdit* Refused = ApplyPendingEdits(true)) {
        const auto Answer = ShowMessageBox(
            this,
            QStringLiteral("Значение «%1» не принято. Закрыть окно без него?")
                .arg(Refused->text().trimmed()),
            windowTitle(), TMessageIcon::miQuestion, QMessageBox::Yes | QMessageBox::No);
        if (Answer != QMessageBox::Yes) {
            Refused->setFocus();
            return;
        }
    }
    if (ConfirmSave())
        QDialog::reject();
}

bool TfrmLabel::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Event->type() == QEvent::KeyPress) {
        const auto* Key = static_cast<QKeyEvent*>(Event);
        if (FormKeyDown(Watched, Key->key(), Key->modifiers()))
            return true;
    }
    return QDialog::eventFilter(Watched, Event);
}

void TfrmLabel::keyPressEvent(QKeyEvent* Event)
{
    if (!FormKeyDown(this, Event->key(), Event->modifiers()))
        QDialog::keyPressEvent(Event);
}

void TfrmLabel::resizeEvent(QResizeEvent* Event)
{
    QDialog::resizeEvent(Event);
    box->update();
}

} // namespace Plumeria
