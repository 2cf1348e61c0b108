// The property panel on the right of the designer: the selected field's caption and the
// attributes its kind has, lengths in millimetres to one decimal (the document's tenths). Every
// accepted change goes straight into the document and a value equal to the one shown writes
// nothing; input that cannot be taken is marked on its edit and explained under the rows, and
// the document stays as it was.

#include "ui/LabelForm/LabelForm.h"

#include "core/LabelGeom/LabelGeom.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>

namespace Plumeria {

namespace {

constexpr int LabelLeft = 12;
constexpr int InputLeft = 110;
constexpr int InputWidth = 120;
// Edits of lengths leave room for their unit on the right.
constexpr int LengthWidth = 96;
constexpr int UnitLeft = InputLeft + LengthWidth + 4;
constexpr int InputHeight = 25;
constexpr int MaxTenths = 4000;
constexpr int MaxThickTenths = 100;
constexpr int MaxSymbols = 32;
constexpr int MaxPictureNumber = 999;
constexpr QRgb RefusedBase = qRgb(0xFF, 0xD8, 0xD8);
// A refused text is quoted in the note up to this length, so the note keeps to two lines.
constexpr int MaxQuoted = 10;

constexpr int PrintCodes[] = {0x70, 0x30, 0x40, 0x00};
constexpr int RotationCodes[] = {0x00, 0x40, 0x80};

// Word and byte offsets inside a field block.
constexpr int AtX = 0;
constexpr int AtY = 2;
constexpr int AtFlags = 4;
constexpr int AtSize1 = 6;
constexpr int AtSize2 = 8;
constexpr int AtExtra = 10;

int IndexOf(const int* Codes, int Count, int Code)
{
    for (int I = 0; I < Count; ++I)
        if (Codes[I] == Code)
            return I;
    return -1;
}

// The edits' tags: which attribute each one takes over.
enum TEditTag : int
{
    etX = 1,
    etY,
    etWidth,
    etHeight,
    etThick,
    etSymbols,
    etNumber,
};

bool IsLength(int Tag)
{
    return Tag >= etX && Tag <= etThick;
}

// Tenths of a millimetre as millimetres with one decimal, the way they are typed: "4,0".
QString MmText(int Tenths)
{
    return QStringLiteral("%1,%2").arg(Tenths / 10).arg(Tenths % 10);
}

// Millimetres with at most one decimal (comma or point) as tenths; nothing else is a length.
bool ReadTenths(const QString& Text, int& Tenths)
{
    static const QRegularExpression Pattern(QStringLiteral("^(\\d{1,6})(?:[.,](\\d)?)?$"));
    const QRegularExpressionMatch Match = Pattern.match(Text);
    if (!Match.hasMatch())
        return false;
    Tenths = Match.captured(1).toInt() * 10 +
             (Match.captured(2).isEmpty() ? 0 : Match.captured(2).toInt());
    return true;
}

// The edit's value in the document's unit, within the range its attribute allows.
bool ReadEditValue(int Tag, const QString& Text, int& Value)
{
    const QString Trimmed = Text.trimmed();
    bool Read = false;
    if (IsLength(Tag)) {
        Read = ReadTenths(Trimmed, Value);
    } else {
        static const QRegularExpression Digits(QStringLiteral("^\\d{1,6}$"));
        Read = Digits.match(Trimmed).hasMatch();
        Value = Read ? Trimmed.toInt() : 0;
    }
    if (!Read)
        return false;
    switch (Tag) {
    case etThick:
        return Value <= MaxThickTenths;
    case etSymbols:
        return Value >= 1 && Value <= MaxSymbols;
    case etNumber:
        return Value <= MaxPictureNumber;
    default:
        return Value <= MaxTenths;
    }
}

// What the edit takes, for the note on a refused value.
QString AllowedRange(int Tag)
{
    switch (Tag) {
    case etThick:
        return QStringLiteral("от 0 до 10 мм");
    case etSymbols:
        return QStringLiteral("от 1 до 32");
    case etNumber:
        return QStringLiteral("от 0 до 999");
    default:
        return QStringLiteral("от 0 до 400 мм");
    }
}

} // namespace

void TfrmLabel::CreatePropertyPanel(QWidget* Panel)
{
    const auto Caption = [Panel](const char* Name, const QString& Text, int Row) {
        auto* Label = new QLabel(Text, Panel);
        Label->setObjectName(QString::fromLatin1(Name));
        Label->setGeometry(LabelLeft, Row, InputLeft - LabelLeft - 4, 18);
        return Label;
    };
    const auto Edit = [Panel, this](const char* Name, int Row, int Tag) {
        auto* Control = new QLineEdit(Panel);
        Control->setObjectName(QString::fromLatin1(Name));
        Control->setGeometry(InputLeft, Row - 3, IsLength(Tag) ? LengthWidth : InputWidth,
                             InputHeight);
        Control->setProperty("tag", Tag);
        if (IsLength(Tag)) {
            auto* Unit = new QLabel(QStringLiteral("мм"), Panel);
            Unit->setObjectName(QString::fromLatin1(Name) + QStringLiteral("Unit"));
            Unit->setGeometry(UnitLeft, Row, 30, 18);
            FUnits.push_back({Control, Unit});
        }
        connect(Control, &QLineEdit::editingFinished, this,
                [this, Control] { ApplyEdit(Control); });
        return Control;
    };
    const auto List = [Panel, this](const char* Name, int Row, const QStringList& Items) {
        auto* Control = new QComboBox(Panel);
        Control->setObjectName(QString::fromLatin1(Name));
        Control->setGeometry(InputLeft, Row - 3, InputWidth, InputHeight);
        Control->addItems(Items);
        connect(Control, &QComboBox::currentIndexChanged, this,
                [this, Control] { ComboChange(Control); });
        return Control;
    };

    lblName = Caption("lblName", QString(), 12);
    lblName->resize(220, 18);
    QFont Bold = lblName->font();
    Bold.setBold(true);
    lblName->setFont(Bold);
    lblX = Caption("lblX", QStringLiteral("X"), 44);
    edtX = Edit("edtX", 44, etX);
    lblY = Caption("lblY", QStringLiteral("Y"), 76);
    edtY = Edit("edtY", 76, etY);
    lblPrint = Caption("lblPrint", QStringLiteral("Печать"), 108);
    cmbPrint = List("cmbPrint", 108,
                    {QStringLiteral("Всегда"), QStringLiteral("Только вес"),
                     QStringLiteral("Только штуки"), QStringLiteral("Никогда")});
    lblRot = Caption("lblRot", QStringLiteral("Поворот"), 140);
    cmbRot =
        List("cmbRot", 140, {QStringLiteral("0"), QStringLiteral("90"), QStringLiteral("180")});
    lblW = Caption("lblW", QStringLiteral("Ширина"), 172);
    edtW = Edit("edtW", 172, etWidth);
    lblH = Caption("lblH", QStringLiteral("Высота"), 204);
    edtH = Edit("edtH", 204, etHeight);
    lblThick = Caption("lblThick", QStringLiteral("Толщина"), 236);
    edtThick = Edit("edtThick", 236, etThick);
    QStringList Fonts;
    for (int I = 1; I <= 5; ++I)
        Fonts << QStringLiteral("S%1").arg(I);
    for (int I = 1; I <= 5; ++I)
        Fonts << QStringLiteral("M%1").arg(I);
    lblFont = Caption("lblFont", QStringLiteral("Шрифт"), 268);
    cmbFont = List("cmbFont", 268, Fonts);
    lblSym = Caption("lblSym", QStringLiteral("Знаков"), 300);
    edtSym = Edit("edtSym", 300, etSymbols);
    lblNum = Caption("lblNum", QStringLiteral("Номер"), 332);
    edtNum = Edit("edtNum", 332, etNumber);

    chkDigits = new QCheckBox(QStringLiteral("Печатать цифры"), Panel);
    chkDigits->setObjectName(QStringLiteral("chkDigits"));
    chkDigits->setGeometry(LabelLeft, 364, 220, 20);
    chkTest = new QCheckBox(QStringLiteral("Печатать текст"), Panel);
    chkTest->setObjectName(QStringLiteral("chkTest"));
    chkTest->setGeometry(LabelLeft, 388, 220, 20);
    connect(chkDigits, &QCheckBox::clicked, this, [this] { CheckClick(chkDigits); });
    connect(chkTest, &QCheckBox::clicked, this, [this] { CheckClick(chkTest); });

    lblExtra = Caption("lblExtra", QString(), 416);
    lblExtra->setGeometry(LabelLeft, 416, 220, 36);
    lblExtra->setWordWrap(true);
    lblExtra->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblLogo = Caption("lblLogo", QStringLiteral("Размер Standard не меняется"), 416);
    lblLogo->setGeometry(LabelLeft, 416, 220, 48);
    lblLogo->setWordWrap(true);
    lblLogo->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // Two lines under the one-line notes of the multi-barcode and the logo, still inside the
    // panel of the smallest window.
    lblRefused = Caption("lblRefused", QString(), 440);
    lblRefused->setGeometry(LabelLeft, 440, 226, 36);
    lblRefused->setWordWrap(true);
    lblRefused->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette Red = lblRefused->palette();
    Red.setColor(QPalette::WindowText, QColor(0xC0, 0x00, 0x00));
    lblRefused->setPalette(Red);
    lblRefused->hide();
}

void TfrmLabel::MarkRefused(QLineEdit* Edit, bool Refused)
{
    QPalette Colours = Edit->palette();
    Colours.setColor(QPalette::Base,
                     Refused ? QColor(RefusedBase) : palette().color(QPalette::Base));
    Edit->setPalette(Colours);
    Edit->setProperty("refused", Refused);
    if (Refused) {
        // Every edit "edtX" has its caption "lblX".
        const auto* Row =
            pnlRight->findChild<QLabel*>(QStringLiteral("lbl") + Edit->objectName().mid(3));
        QString Typed = Edit->text().trimmed();
        if (Typed.size() > MaxQuoted)
            Typed = Typed.left(MaxQuoted - 1) + QStringLiteral("…");
        lblRefused->setText(QStringLiteral("%1: «%2» не принято, нужно число %3")
                                .arg(Row ? Row->text() : QString(), Typed,
                                     AllowedRange(Edit->property("tag").toInt())));
        lblRefused->show();
        Edit->setToolTip(lblRefused->text());
        FRefusedEdit = Edit;
    } else {
        Edit->setToolTip(QString());
        if (FRefusedEdit == Edit) {
            lblRefused->hide();
            FRefusedEdit = nullptr;
        }
    }
}

QLineEdit* TfrmLabel::ApplyPendingEdits(bool AllEdits)
{
    QLineEdit* Refused = nullptr;
    for (QLineEdit* Edit : {edtX, edtY, edtW, edtH, edtThick, edtSym, edtNum}) {
        const bool Position = Edit == edtX || Edit == edtY || Edit == edtW || Edit == edtH;
        if ((!AllEdits && !Position) || Edit->isHidden() || !Edit->isModified())
            continue;
        ApplyEdit(Edit);
        if (Edit->property("refused").toBool() && !Refused)
            Refused = Edit;
    }
    return Refused;
}

bool TfrmLabel::SelectedPresent() const
{
    return FDoc && FSelected >= 0 && FDoc->Occupied(FFormat, FSelected);
}

void TfrmLabel::ShowProperties()
{
    FLoading = true;
    lblName->clear();
    for (QWidget* Control : std::initializer_list<QWidget*>{
             lblX,   edtX,   lblY,   edtY,   lblPrint,  cmbPrint, lblRot,   cmbRot,
             lblW,   edtW,   lblH,   edtH,   lblThick,  edtThick, lblFont,  cmbFont,
             lblSym, edtSym, lblNum, edtNum, chkDigits, chkTest,  lblExtra, lblLogo})
        Control->hide();
    for (const auto& [Edit, Unit] : FUnits)
        Unit->hide();
    for (QLineEdit* Edit : {edtX, edtY, edtW, edtH, edtThick, edtSym, edtNum})
        MarkRefused(Edit, false);
    if (!SelectedPresent()) {
        FLoading = false;
        return;
    }
    const TDigiSlot Slot = GetSlot(FSelected);
    const auto Word = [this, &Slot](int At) { return FDoc->WordAt(FFormat, Slot.Offset + At); };
    const auto ShowRow = [this](QLabel* Label, QWidget* Control) {
        Label->show();
        Control->show();
        for (const auto& [Edit, Unit] : FUnits)
            if (Edit == Control)
                Unit->show();
    };
    const auto ShowValue = [](QLineEdit* Edit, int Value) {
        Edit->setText(IsLength(Edit->property("tag").toInt()) ? MmText(Value)
                                                              : QString::number(Value));
    };

    lblName->setText(QString::fromStdString(FieldCaption(Slot)));
    const TSlotBox Box = SlotBox(*FDoc, FFormat, FSelected);
    FShownX = TenthsFromDots(Box.X);
    FShownY = TenthsFromDots(Box.Y);
    ShowValue(edtX, FShownX);
    ShowValue(edtY, FShownY);
    ShowRow(lblX, edtX);
    ShowRow(lblY, edtY);

    ShowRow(lblPrint, cmbPrint);
    ShowRow(lblRot, cmbRot);
    const int Flags = Word(AtFlags);
    cmbPrint->setCurrentIndex(IndexOf(PrintCodes, 4, Flags & 0xFF));
    cmbRot->setCurrentIndex(IndexOf(RotationCodes, 3, Flags >> 8));

    switch (Slot.Kind) {
    case TDigiFieldKind::dfLine: {
        const int Font = FDoc->ByteAt(FFormat, Slot.Offset + AtSize1);
        cmbFont->setCurrentIndex(Font <= 9 ? Font : -1);
        FShownSym = FDoc->ByteAt(FFormat, Slot.Offset + 7);
        ShowValue(edtSym, FShownSym);
        ShowRow(lblFont, cmbFont);
        ShowRow(lblSym, edtSym);
        break;
    }
    case TDigiFieldKind::dfEan:
        FShownH = TenthsFromDots(Word(AtSize1));
        ShowValue(edtH, FShownH);
        ShowRow(lblH, edtH);
        chkDigits->setChecked((Word(AtExtra) & 1) == 0);
        chkTest->setChecked((Word(AtExtra) & 2) == 0);
        chkDigits->show();
        chkTest->show();
        break;
    case TDigiFieldKind::dfBevel:
        FShownW = TenthsFromDots(Word(AtSize1)) - FShownX;
        FShownH = TenthsFromDots(Word(AtSize2)) - FShownY;
        FShownThick = Word(AtExtra);
        ShowValue(edtW, FShownW);
        ShowValue(edtH, FShownH);
        ShowValue(edtThick, FShownThick);
        ShowRow(lblThick, edtThick);
        ShowRow(lblW, edtW);
        ShowRow(lblH, edtH);
        break;
    case TDigiFieldKind::dfLogo:
        lblLogo->show();
        break;
    case TDigiFieldKind::dfText:
    case TDigiFieldKind::dfBlock:
    case TDigiFieldKind::dfMultiBar:
    case TDigiFieldKind::dfPicture:
        FShownH = TenthsFromDots(Word(AtSize1));
        FShownW = TenthsFromDots(Word(AtSize2));
        ShowValue(edtW, FShownW);
        ShowValue(edtH, FShownH);
        ShowRow(lblW, edtW);
        ShowRow(lblH, edtH);
        break;
    }
    if (Slot.Kind == TDigiFieldKind::dfPicture) {
        FShownNum = Word(AtExtra);
        ShowValue(edtNum, FShownNum);
        ShowRow(lblNum, edtNum);
    } else if (Slot.Kind == TDigiFieldKind::dfMultiBar) {
        lblExtra->setText(
            QStringLiteral("Хвост ") +
            QStringLiteral("%1").arg(Word(AtExtra), 4, 16, QLatin1Char('0')).toUpper());
        lblExtra->show();
    }
    FLoading = false;
}

void TfrmLabel::ApplyEdit(QLineEdit* Edit)
{
    if (FLoading || !SelectedPresent() || !Edit)
        return;
    const int Tag = Edit->property("tag").toInt();
    int Value = 0;
    if (!ReadEditValue(Tag, Edit->text(), Value)) {
        // The typed text stays for the user to mend; the document is not touched.
        MarkRefused(Edit, true);
        return;
    }
    MarkRefused(Edit, false);
    const TDigiSlot Slot = GetSlot(FSelected);
    switch (Tag) {
    case etX:
    case etY: {
        int& Shown = Tag == etX ? FShownX : FShownY;
        if (Value != Shown) {
            ApplyPosition(Edit, Value);
            Shown = Value;
        }
        break;
    }
    case etWidth:
    case etHeight: {
        int& Shown = Tag == etWidth ? FShownW : FShownH;
        if (Value != Shown) {
            ApplySize(Edit, Value);
            Shown = Value;
        }
        break;
    }
    case etThick:
        if (Value != FShownThick && Slot.Kind == TDigiFieldKind::dfBevel) {
            FDoc->PutWord(FFormat, Slot.Offset + AtExtra, Value);
            FShownThick = Value;
        }
        break;
    case etSymbols:
        if (Value != FShownSym && Slot.Kind == TDigiFieldKind::dfLine) {
            FDoc->PutByte(FFormat, Slot.Offset + 7, Value);
            FShownSym = Value;
        }
        break;
    case etNumber:
        if (Value != FShownNum && Slot.Kind == TDigiFieldKind::dfPicture) {
            FDoc->PutWord(FFormat, Slot.Offset + AtExtra, Value);
            FShownNum = Value;
        }
        break;
    default:
        break;
    }
    Edit->setModified(false);
    box->update();
    if (FDoc->Dirty())
        RefreshAll();
}

void TfrmLabel::ApplyPosition(QLineEdit* Edit, int Value)
{
    const TDigiSlot Slot = GetSlot(FSelected);
    const int At = Edit == edtX ? AtX : AtY;
    const int Shift = Value - TenthsFromDots(FDoc->WordAt(FFormat, Slot.Offset + At));
    FDoc->PutWord(FFormat, Slot.Offset + At, DotsFromTenths(Value));
    if (Slot.Kind == TDigiFieldKind::dfBevel) {
        const int Corner = Slot.Offset + (Edit == edtX ? AtSize1 : AtSize2);
        FDoc->PutWord(FFormat, Corner,
                      DotsFromTenths(TenthsFromDots(FDoc->WordAt(FFormat, Corner)) + Shift));
    }
}

void TfrmLabel::ApplySize(QLineEdit* Edit, int Value)
{
    const TDigiSlot Slot = GetSlot(FSelected);
    const bool Width = Edit == edtW;
    switch (Slot.Kind) {
    case TDigiFieldKind::dfBevel:
        if (Width)
            FDoc->PutWord(FFormat, Slot.Offset + AtSize1, DotsFromTenths(FShownX + Value));
        else
            FDoc->PutWord(FFormat, Slot.Offset + AtSize2, DotsFromTenths(FShownY + Value));
        break;
    case TDigiFieldKind::dfEan:
        // The width of the barcode is twice its height.
        if (!Width)
            FDoc->PutWord(FFormat, Slot.Offset + AtSize1, DotsFromTenths(Value));
        break;
    case TDigiFieldKind::dfLine:
    case TDigiFieldKind::dfLogo:
        break;
    default:
        FDoc->PutWord(FFormat, Slot.Offset + (Width ? AtSize2 : AtSize1), DotsFromTenths(Value));
        break;
    }
}

void TfrmLabel::ComboChange(QComboBox* List)
{
    if (FLoading || !SelectedPresent())
        return;
    const TDigiSlot Slot = GetSlot(FSelected);
    const int Flags = FDoc->WordAt(FFormat, Slot.Offset + AtFlags);
    const int Item = List->currentIndex();
    if (List == cmbPrint || List == cmbRot) {
        if (Item < 0)
            return;
        if (List == cmbPrint)
            FDoc->PutWord(FFormat, Slot.Offset + AtFlags, (Flags & 0xFF00) | PrintCodes[Item]);
        else
            FDoc->PutWord(FFormat, Slot.Offset + AtFlags,
                          (RotationCodes[Item] << 8) | (Flags & 0x00FF));
    } else if (List == cmbFont && Slot.Kind == TDigiFieldKind::dfLine && Item >= 0) {
        FDoc->PutByte(FFormat, Slot.Offset + AtSize1, Item);
    }
    RefreshAll();
}

void TfrmLabel::CheckClick(QCheckBox* Box)
{
    if (FLoading || !SelectedPresent() || GetSlot(FSelected).Kind != TDigiFieldKind::dfEan)
        return;
    const TDigiSlot Slot = GetSlot(FSelected);
    const int Bit = Box == chkDigits ? 1 : 2;
    const int Flags = FDoc->WordAt(FFormat, Slot.Offset + AtExtra);
    FDoc->PutWord(FFormat, Slot.Offset + AtExtra, Box->isChecked() ? Flags & ~Bit : Flags | Bit);
    RefreshAll();
}

} // namespace Plumeria
