#include "ui/LabelForm/LabelDialogs.h"

#include "ui/Common/MessageBox.h"
#include "ui/UiText/UiText.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace Plumeria {

namespace {

constexpr int MinSizeMm = 10;
constexpr int MaxSizeMm = 200;

bool ReadMillimetres(const QLineEdit* Edit, int& Value)
{
    bool Number = false;
    Value = Edit->text().trimmed().toInt(&Number);
    return Number && Value >= MinSizeMm && Value <= MaxSizeMm;
}

QPushButton* DialogButton(QDialog& Dialog, const QString& Caption, const char* Name, QPoint At,
                          bool Default)
{
    auto* Button = new QPushButton(Caption, &Dialog);
    Button->setObjectName(QString::fromLatin1(Name));
    Button->setGeometry(At.x(), At.y(), 96, 28);
    Button->setAutoDefault(false);
    Button->setDefault(Default);
    return Button;
}

} // namespace

bool AskLabelSize(QWidget* Owner, int& WidthMm, int& HeightMm)
{
    QDialog Dialog(Owner);
    Dialog.setObjectName(QStringLiteral("dlgLabelSize"));
    Dialog.setWindowTitle(QStringLiteral("Размер этикетки"));
    Dialog.setFixedSize(280, 132);
    const auto Row = [&Dialog](const QString& Caption, const char* Name, int Top, int Value) {
        auto* Label = new QLabel(Caption, &Dialog);
        Label->setGeometry(16, Top + 4, 130, 18);
        auto* Edit = new QLineEdit(QString::number(Value), &Dialog);
        Edit->setObjectName(QString::fromLatin1(Name));
        Edit->setGeometry(150, Top, 110, 24);
        return Edit;
    };
    QLineEdit* edtWidth = Row(QStringLiteral("Ширина, мм"), "edtWidth", 12, WidthMm);
    QLineEdit* edtHeight = Row(QStringLiteral("Высота, мм"), "edtHeight", 48, HeightMm);
    QPushButton* btnDone = DialogButton(Dialog, UiDone(), "btnDone", {64, 92}, true);
    QPushButton* btnCancel = DialogButton(Dialog, UiCancel(), "btnCancel", {168, 92}, false);
    QObject::connect(btnCancel, &QPushButton::clicked, &Dialog, &QDialog::reject);
    QObject::connect(btnDone, &QPushButton::clicked, &Dialog, [&] {
        int Width = 0;
        int Height = 0;
        if (ReadMillimetres(edtWidth, Width) && ReadMillimetres(edtHeight, Height)) {
            WidthMm = Width;
            HeightMm = Height;
            Dialog.accept();
            return;
        }
        ShowMessageBox(&Dialog, QStringLiteral("Укажите ширину и высоту от 10 до 200 мм"),
                       Dialog.windowTitle(), TMessageIcon::miWarning);
    });
    return Dialog.exec() == QDialog::Accepted;
}

std::optional<std::vector<int>> AskUploadScales(QWidget* Owner,
                                                const std::vector<TUploadLine>& Lines)
{
    QDialog Dialog(Owner);
    Dialog.setObjectName(QStringLiteral("dlgUploadLabel"));
    Dialog.setWindowTitle(QStringLiteral("Загрузить макет"));
    Dialog.setFixedSize(420, 320);
    auto* lstScales = new QListWidget(&Dialog);
    lstScales->setObjectName(QStringLiteral("lstScales"));
    lstScales->setGeometry(12, 12, 396, 252);
    for (const TUploadLine& Line : Lines) {
        auto* Item = new QListWidgetItem(Line.Text, lstScales);
        Item->setFlags(Item->flags() | Qt::ItemIsUserCheckable);
        Item->setCheckState(Line.Ticked ? Qt::Checked : Qt::Unchecked);
        Item->setData(Qt::UserRole, Line.ScaleIndex);
    }
    QPushButton* btnUpload =
        DialogButton(Dialog, QStringLiteral("Загрузить"), "btnUploadScales", {210, 276}, true);
    QPushButton* btnCancel = DialogButton(Dialog, UiCancel(), "btnCancel", {312, 276}, false);
    QObject::connect(btnCancel, &QPushButton::clicked, &Dialog, &QDialog::reject);
    std::vector<int> Chosen;
    QObject::connect(btnUpload, &QPushButton::clicked, &Dialog, [&] {
        Chosen.clear();
        for (int I = 0; I < lstScales->count(); ++I)
            if (lstScales->item(I)->checkState() == Qt::Checked)
                Chosen.push_back(lstScales->item(I)->data(Qt::UserRole).toInt());
        if (Chosen.empty()) {
            ShowMessageBox(&Dialog, QStringLiteral("Отметьте весы"), Dialog.windowTitle(),
                           TMessageIcon::miWarning);
            return;
        }
        Dialog.accept();
    });
    if (Dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return Chosen;
}

} // namespace Plumeria
